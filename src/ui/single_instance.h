#pragma once
// The single-instance rule: a top-level window of the desktop whose title
// begins with the program's 26-byte GBK prefix, and does not hold "属性",
// is a running copy. The first one found is restored (when minimised) or
// raised, and the new copy ends. Works through Xlib; without X11 the rule
// is skipped.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marbloom::ui {

// The title test on a UTF-8 title, as read from the window (at most 229
// GBK bytes of it count).
bool IsRunningCopyTitle(std::string_view utf8Title);

struct DesktopWindow {
  unsigned long id = 0;  // the X window
  std::string title;     // UTF-8
  bool minimised = false;
};

// The desktop's top-level windows on the named X display (null: DISPLAY):
// the window manager's client list, or the root's children without one.
// Empty without X11 or without a display.
std::vector<DesktopWindow> ListDesktopWindows(const char* displayName = nullptr);

// A running copy found on the desktop: the work directory it marked on its
// window (empty for a copy that marks none).
struct RunningCopy {
  std::string workDir;
};

// Looks for a running copy on the X display named by DISPLAY; restores or
// raises the first one found. Nothing when none was found, without X11 or
// without a display.
std::optional<RunningCopy> ActivateRunningCopy();

// Marks the window (an X window of the display named by DISPLAY) with the
// work directory it runs on, for a later start to tell.
void MarkWorkDirectory(unsigned long window, const std::string& workDir);

}  // namespace marbloom::ui
