#include "base/reporter.h"

#include <cstdarg>

#include "base/text_encoding.h"

namespace marbloom {
namespace {

// The status buffer holds 260 bytes of GBK text, terminator included.
constexpr std::size_t kStatusBytes = 259;

class Silent final : public Reporter {
 public:
  void Progress(double) override {}
  void ShowStatus(const std::string&) override {}
  void WriteLog(const std::string&, std::time_t) override {}
};

}  // namespace

void Reporter::Status(std::string_view utf8) { ShowStatus(FitUtf8ToGbkBytes(utf8, kStatusBytes)); }

void Reporter::StatusF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatTextV(format, args);
  va_end(args);
  Status(text);
}

void Reporter::Log(std::string_view utf8) { WriteLog(std::string(utf8), Now()); }

void Reporter::LogF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatTextV(format, args);
  va_end(args);
  Log(text);
}

void Reporter::ReportF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatTextV(format, args);
  va_end(args);
  Status(text);
  Log(text);
}

Reporter& SilentReporter() {
  static Silent silent;
  return silent;
}

}  // namespace marbloom
