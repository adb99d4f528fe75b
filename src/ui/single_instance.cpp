#include "ui/single_instance.h"

#include <string>

#include "base/text_encoding.h"
#include "ui/titles.h"

#ifdef MARBLOOM_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#endif

namespace marbloom::ui {

bool IsRunningCopyTitle(std::string_view utf8Title) {
  // The title is read into a 230-byte buffer: 229 bytes of it at most.
  const std::string gbk = CutGbk(Utf8ToGbk(utf8Title), 229);
  const std::string prefix = Utf8ToGbk(kInstancePrefix);
  if (gbk.compare(0, prefix.size(), prefix) != 0) return false;
  return GbkToUtf8(gbk).find(kPropertiesMark) == std::string::npos;
}

#ifdef MARBLOOM_HAVE_X11
namespace {

// The property of the window that names its work directory.
constexpr const char* kWorkDirProperty = "_MARBLOOM_WORK_DIR";

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A window property as raw items; empty when missing.
template <class T>
std::vector<T> ReadProperty(Display* d, Window w, Atom property, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<T> items;
  if (XGetWindowProperty(d, w, property, 0, 65536, False, type, &actualType, &format, &count, &after, &data) ==
          Success &&
      data != nullptr) {
    if (actualType == type) {
      if constexpr (sizeof(T) == 1) {
        items.assign(reinterpret_cast<T*>(data), reinterpret_cast<T*>(data) + count);
      } else {
        // 32-bit items arrive as longs.
        const long* longs = reinterpret_cast<const long*>(data);
        for (unsigned long i = 0; i < count; ++i) items.push_back(static_cast<T>(longs[i]));
      }
    }
    XFree(data);
  }
  return items;
}

std::string WindowTitle(Display* d, Window w) {
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  std::vector<char> name = ReadProperty<char>(d, w, XInternAtom(d, "_NET_WM_NAME", False), utf8);
  if (!name.empty()) return std::string(name.begin(), name.end());
  XTextProperty text{};
  std::string title;
  if (XGetWMName(d, w, &text) && text.value != nullptr) {
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(d, &text, &list, &count) >= Success && count > 0 && list != nullptr)
      title = list[0];
    if (list != nullptr) XFreeStringList(list);
    XFree(text.value);
  }
  return title;
}

// The desktop's top-level windows: the window manager's client list when
// there is one, else the root's children.
std::vector<Window> TopLevelWindows(Display* d) {
  const Window root = DefaultRootWindow(d);
  std::vector<Window> clients = ReadProperty<Window>(d, root, XInternAtom(d, "_NET_CLIENT_LIST", False), XA_WINDOW);
  if (!clients.empty()) return clients;
  Window rootReturn = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(d, root, &rootReturn, &parent, &children, &count) && children != nullptr) {
    clients.assign(children, children + count);
    XFree(children);
  }
  return clients;
}

bool IsMinimised(Display* d, Window w) {
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  std::vector<long> state = ReadProperty<long>(d, w, wmState, wmState);
  if (!state.empty()) return state[0] == IconicState;
  const Atom hidden = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
  for (Atom a : ReadProperty<Atom>(d, w, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM))
    if (a == hidden) return true;
  XWindowAttributes attributes{};
  return XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsUnmapped;
}

// Asks the window manager (if any) to activate the window, and raises it
// directly for a desktop without one.
void RestoreOrRaise(Display* d, Window w) {
  if (IsMinimised(d, w)) {
    XMapRaised(d, w);
  } else {
    XRaiseWindow(d, w);
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = w;
  event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // from a pager: honoured without a timestamp
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(d);
}

}  // namespace

std::vector<DesktopWindow> ListDesktopWindows(const char* displayName) {
  std::vector<DesktopWindow> windows;
  DisplayPtr display(XOpenDisplay(displayName));
  if (!display) return windows;
  for (Window w : TopLevelWindows(display.get()))
    windows.push_back(DesktopWindow{w, WindowTitle(display.get(), w), IsMinimised(display.get(), w)});
  return windows;
}

std::optional<RunningCopy> ActivateRunningCopy() {
  DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) return std::nullopt;
  for (Window w : TopLevelWindows(display.get())) {
    if (!IsRunningCopyTitle(WindowTitle(display.get(), w))) continue;
    const std::vector<char> dir =
        ReadProperty<char>(display.get(), w, XInternAtom(display.get(), kWorkDirProperty, False),
                           XInternAtom(display.get(), "UTF8_STRING", False));
    RestoreOrRaise(display.get(), w);
    XSync(display.get(), False);
    return RunningCopy{std::string(dir.begin(), dir.end())};
  }
  return std::nullopt;
}

void MarkWorkDirectory(unsigned long window, const std::string& workDir) {
  DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) return;
  XChangeProperty(display.get(), window, XInternAtom(display.get(), kWorkDirProperty, False),
                  XInternAtom(display.get(), "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(workDir.data()), static_cast<int>(workDir.size()));
  XSync(display.get(), False);
}
#else
std::vector<DesktopWindow> ListDesktopWindows(const char*) { return {}; }
std::optional<RunningCopy> ActivateRunningCopy() { return std::nullopt; }
void MarkWorkDirectory(unsigned long, const std::string&) {}
#endif

}  // namespace marbloom::ui
