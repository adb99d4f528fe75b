#pragma once
// Progress of the running operation on standard error. On a terminal one line
// is redrawn in place (bar, percent, status) by a small ticker thread; on a
// pipe or file each status line is written once as it changes; quiet shows
// nothing but errors. Standard output is left to results.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "common/shared_state.h"

namespace marbloom::cli {

enum class ProgressMode { kTerminal, kLines, kQuiet };

// kQuiet when asked, kTerminal when `fd` is a terminal, else kLines.
ProgressMode ProgressModeFor(bool quiet, int fd);

// Columns a terminal gives the UTF-8 text: East Asian wide characters take
// two, combining marks none, everything else one (an invalid byte as one).
int DisplayWidth(std::string_view utf8);

// The text with control characters and invalid UTF-8 bytes shown as '?', so
// that it stays one line and cannot steer a terminal.
std::string PrintableText(std::string_view utf8);

// PrintableText cut to at most `columns` columns, never inside a character.
std::string FitToColumns(std::string_view utf8, int columns);

// "[#####     ]  50% status" fitted to `columns`; the bar narrows on small
// terminals and goes when there is no room for it.
std::string ProgressLine(double fraction, std::string_view status, int columns);

class ProgressDisplay {
 public:
  // Writes to `fd` what `board` shows; the one display of the program
  // registers itself for BeginProgress / EndProgress / ShowError / ShowNote.
  ProgressDisplay(ProgressMode mode, int fd, const StatusBoard& board);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // The status observer: every status change of the engines.
  void Status(const std::string& line);
  // An operation starts or ends; only while one runs is progress shown.
  void Begin();
  void End();
  // A line that is shown in every mode (errors) or unless quiet (notes).
  void Error(std::string_view text);
  void Note(std::string_view text);
  // A run-log line of the operation: quiet keeps the last ones, to tell the
  // cause of a failure, which nothing else would show.
  void Logged(const std::string& message);
  // Quiet: the kept lines on a line each (the earlier ones counted), then
  // forgets them.
  void ShowCause();
  // For a program that ends at once: `text` on a line of its own, written
  // without the lock, so it can be used while another thread writes.
  void Abandon(std::string_view text);
  // The line-per-status display last wrote `line` into the file that
  // standard output also writes to (`2>&1` into one log).
  bool LastLineOnStdoutIs(std::string_view line);

 private:
  void Tick();
  void DrawLocked();
  void ClearLocked();
  void WriteLocked(std::string_view bytes);
  int Columns() const;

  const ProgressMode mode_;
  const int fd_;
  const StatusBoard& board_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool active_ = false;
  bool dirty_ = false;
  bool stopping_ = false;
  std::string status_;   // the latest status line
  std::string printed_;  // kLines: the last line written; kTerminal: the line on screen
  std::deque<std::string> logged_;  // kQuiet: the last run-log lines
  std::size_t dropped_ = 0;         // and how many came before them
  std::thread ticker_;
};

// Act on the registered display; nothing happens without one.
void BeginProgress();
void EndProgress();
void ShowError(std::string_view text);
void ShowNote(std::string_view text);
// Quiet: the run-log lines that tell why the operation failed.
void ShowFailureCause();
// The final status line `line` need not be printed again: the display has
// just written it to the same file.
bool ProgressShowed(std::string_view line);

}  // namespace marbloom::cli
