#include "cli/cli_progress.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/cli_common.h"

namespace marbloom::cli {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);
constexpr int kDefaultColumns = 80;
// Quiet shows this many of a failed operation's last run-log lines.
constexpr std::size_t kCauseLines = 20;

ProgressDisplay* g_display = nullptr;

// One character of `text` at `pos` (advanced past it), or nullopt for a byte
// that does not begin a well-formed UTF-8 sequence (advanced by one).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  int extra = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    extra = 1;
  else if (lead >= 0xE0 && lead <= 0xEF)
    extra = 2;
  else if (lead >= 0xF0 && lead <= 0xF4)
    extra = 3;
  else
    return std::nullopt;
  if (pos + extra > text.size()) return std::nullopt;
  char32_t c = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    const auto next = static_cast<unsigned char>(text[pos + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  pos += extra;
  return c;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

struct Range {
  char32_t first, last;
};

constexpr Range kZeroWidth[] = {{0x0300, 0x036F}, {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F},
                                {0xFE20, 0xFE2F}};
constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF}, {0x3400, 0x4DBF},
                           {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
                           {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
                           {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};

template <std::size_t N>
bool InRanges(char32_t c, const Range (&ranges)[N]) {
  return std::any_of(std::begin(ranges), std::end(ranges),
                     [c](const Range& r) { return c >= r.first && c <= r.last; });
}

int CharWidth(char32_t c) {
  if (InRanges(c, kZeroWidth)) return 0;
  return InRanges(c, kWide) ? 2 : 1;
}

// Walks the printable form of `text`: each character with its bytes (a '?'
// for what must not reach a terminal) and its width.
template <class Visit>
void ForEachPrintable(std::string_view text, Visit visit) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    const std::optional<char32_t> c = NextCodePoint(text, pos);
    if (!c || IsControl(*c)) {
      if (!visit(std::string_view("?"), 1)) return;
    } else if (!visit(text.substr(start, pos - start), CharWidth(*c))) {
      return;
    }
  }
}

}  // namespace

ProgressMode ProgressModeFor(bool quiet, int fd) {
  if (quiet) return ProgressMode::kQuiet;
  return ::isatty(fd) ? ProgressMode::kTerminal : ProgressMode::kLines;
}

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  ForEachPrintable(utf8, [&](std::string_view, int w) {
    width += w;
    return true;
  });
  return width;
}

std::string PrintableText(std::string_view utf8) {
  std::string out;
  ForEachPrintable(utf8, [&](std::string_view bytes, int) {
    out.append(bytes);
    return true;
  });
  return out;
}

std::string FitToColumns(std::string_view utf8, int columns) {
  std::string out;
  int used = 0;
  ForEachPrintable(utf8, [&](std::string_view bytes, int w) {
    if (used + w > columns) return false;
    out.append(bytes);
    used += w;
    return true;
  });
  return out;
}

std::string ProgressLine(double fraction, std::string_view status, int columns) {
  const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
  std::string line;
  if (columns >= 40) {
    const int cells = std::min(20, columns / 4);
    const int filled = percent * cells / 100;
    line = "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "] ";
  }
  if (columns >= 12) {
    char number[8];
    std::snprintf(number, sizeof number, "%3d%% ", percent);
    line += number;
  }
  const int room = std::max(0, columns - static_cast<int>(line.size()));
  return line + FitToColumns(status, room);
}

// ------------------------------------------------------------ display

ProgressDisplay::ProgressDisplay(ProgressMode mode, int fd, const StatusBoard& board)
    : mode_(mode), fd_(fd), board_(board) {
  if (g_display == nullptr) g_display = this;
  if (mode_ == ProgressMode::kTerminal) ticker_ = std::thread([this] { Tick(); });
}

ProgressDisplay::~ProgressDisplay() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ClearLocked();
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  if (g_display == this) g_display = nullptr;
}

void ProgressDisplay::Status(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = line;
  if (mode_ == ProgressMode::kTerminal) {
    dirty_ = true;
    wake_.notify_all();
  } else if (mode_ == ProgressMode::kLines && active_ && line != printed_) {
    WriteLocked(PrintableText(line) + "\n");
    printed_ = line;
  }
}

void ProgressDisplay::Begin() {
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = true;
  status_.clear();
  printed_.clear();
  dirty_ = true;
  wake_.notify_all();
}

void ProgressDisplay::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = false;
  ClearLocked();
}

void ProgressDisplay::Error(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  WriteLocked(PrintableText(text) + "\n");
  dirty_ = true;
  wake_.notify_all();
}

void ProgressDisplay::Note(std::string_view text) {
  if (mode_ != ProgressMode::kQuiet) Error(text);
}

void ProgressDisplay::Logged(const std::string& message) {
  if (mode_ != ProgressMode::kQuiet) return;
  std::lock_guard<std::mutex> lock(mutex_);
  logged_.push_back(message);
  if (logged_.size() > kCauseLines) {
    logged_.pop_front();
    ++dropped_;
  }
}

void ProgressDisplay::ShowCause() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (dropped_ > 0) WriteLocked("(前" + std::to_string(dropped_) + "行见运行日志)\n");
  for (const std::string& line : logged_) WriteLocked(PrintableText(line) + "\n");
  logged_.clear();
  dropped_ = 0;
}

void ProgressDisplay::Abandon(std::string_view text) {
  std::string line(mode_ == ProgressMode::kTerminal ? 1 : 0, '\n');
  line.append(PrintableText(text)).push_back('\n');
  const ssize_t written = ::write(fd_, line.data(), line.size());
  static_cast<void>(written);
}

bool ProgressDisplay::LastLineOnStdoutIs(std::string_view line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ != ProgressMode::kLines || printed_ != line) return false;
  struct stat ours{}, out{};
  return ::fstat(fd_, &ours) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 && ours.st_dev == out.st_dev &&
         ours.st_ino == out.st_ino;
}

// Redraws at most once per period, at once when the status changed.
void ProgressDisplay::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kTickPeriod, [this] { return stopping_ || dirty_; });
    if (stopping_) break;
    dirty_ = false;
    if (active_) DrawLocked();
    wake_.wait_for(lock, kTickPeriod, [this] { return stopping_; });
  }
}

void ProgressDisplay::DrawLocked() {
  const std::string line = ProgressLine(board_.ProgressFraction(), status_, Columns() - 1);
  if (line == printed_) return;
  WriteLocked("\r" + line + "\x1b[K");
  printed_ = line;
}

void ProgressDisplay::ClearLocked() {
  if (mode_ != ProgressMode::kTerminal || printed_.empty()) return;
  WriteLocked("\r\x1b[K");
  printed_.clear();
}

void ProgressDisplay::WriteLocked(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

int ProgressDisplay::Columns() const {
  winsize size{};
  if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultColumns;
}

void BeginProgress() {
  Reports().Progress(0);
  if (g_display) g_display->Begin();
}

void EndProgress() {
  if (g_display) g_display->End();
  Reports().Progress(0);
}

void ShowError(std::string_view text) {
  if (g_display) {
    g_display->Error(text);
  } else {
    std::fprintf(stderr, "%s\n", PrintableText(text).c_str());
  }
}

void ShowNote(std::string_view text) {
  if (g_display) g_display->Note(text);
}

void ShowFailureCause() {
  if (g_display) g_display->ShowCause();
}

bool ProgressShowed(std::string_view line) { return g_display && g_display->LastLineOnStdoutIs(line); }

}  // namespace marbloom::cli
