#pragma once
// The run log: one text file per local day in a folder, "YYYYMMDD.log", each
// line "HH:MM:SS", three blanks and the message. It is written for people
// (nothing reads it back), so it is UTF-8 with '\n' line ends, readable in a
// terminal, an editor or the system journal. Failures to write are swallowed:
// the lines that report a failed file call must not fail with it.
#include <ctime>
#include <string>
#include <string_view>

namespace marbloom {

class RunLogFile {
 public:
  // Writes nowhere.
  RunLogFile() = default;
  // `directory` ends in '/'; it is never created here.
  explicit RunLogFile(std::string directory) : directory_(std::move(directory)) {}

  const std::string& Directory() const { return directory_; }
  // The day file a line written at `when` goes to.
  std::string DayFile(std::time_t when) const;
  // Appends one line; a message is cut to 255 bytes in the status buffer's
  // GBK measure, never inside a character.
  void Write(std::string_view message, std::time_t when) const;

 private:
  std::string directory_;
};

}  // namespace marbloom
