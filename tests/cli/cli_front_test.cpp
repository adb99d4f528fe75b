// The pieces every command shares: the dates people type, the progress line
// on a terminal, the cancel request, and a help with an example everywhere.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/cli_progress.h"
#include "cli/cli_signals.h"
#include "support/temp_dir.h"

namespace marbloom::test {
namespace {

using cli::DisplayWidth;
using cli::FitToColumns;
using cli::ParseDate;
using cli::ProgressLine;

struct DateCase {
  const char* text;
  int today;
  std::optional<int> date;
};

TEST(CliDates, AcceptsTheFourFormsAndNothingElse) {
  const std::vector<DateCase> cases = {
      {"20220505", 20240301, 20220505},   {"2022-05-05", 20240301, 20220505}, {"today", 20240301, 20240301},
      {"Today", 20240301, 20240301},      {"yesterday", 20240301, 20240229}, {"yesterday", 20240101, 20231231},
      {"20240229", 0, 20240229},          {"20230229", 0, std::nullopt},     {"2022-02-30", 0, std::nullopt},
      {"2022-5-5", 0, std::nullopt},      {"2022/05/05", 0, std::nullopt},   {"202205051", 0, std::nullopt},
      {"2022050", 0, std::nullopt},       {"2022-05-5x", 0, std::nullopt},   {"", 0, std::nullopt},
      {"tomorrow", 20240301, std::nullopt}, {"+2022050", 0, std::nullopt},   {"20221301", 0, std::nullopt},
  };
  for (const DateCase& c : cases) EXPECT_EQ(ParseDate(c.text, c.today), c.date) << c.text;
}

// Run as a program: a bad date names its option and the forms; today is
// taken, and a range without any downloaded file exits 1.
TEST(CliDates, TheCommandLineNamesTheOptionOfABadDate) {
  TempDir temp;
  const std::string cli = BuiltProgram("src/cli/marbloom-cli") + " -C " + temp.path() + " ";
  ASSERT_EQ(RunCommand(cli + "settings set VIPDOC=" + temp.path() + "hist/").exitCode, 0);
  for (const char* args : {"daily convert --from 20220505 --to 2022-02-30", "daily extract sz000001 --date 5/5"}) {
    const CommandResult r = RunCommand(cli + args + " 2>&1");
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.out.find(std::string(args).find("--to") != std::string::npos ? "--to: " : "--date: "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(cli::kDateForms), std::string::npos) << r.out;
  }
  const CommandResult none = RunCommand(cli + "daily convert --from yesterday --to today 2>/dev/null");
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.out, "日线转档完成!\n");
  // Progress and results in one log: the final line is there once.
  const std::string log = RunCommand(cli + "daily convert --from yesterday --to today 2>&1").out;
  EXPECT_EQ(log.find("日线转档完成!"), log.rfind("日线转档完成!")) << log;
  EXPECT_NE(log.find("日线转档完成!"), std::string::npos) << log;
}

struct WidthCase {
  const char* text;
  int width;
  int fitTo;
  const char* fitted;
};

TEST(CliProgressText, CountsColumnsAndCutsBetweenCharacters) {
  const std::vector<WidthCase> cases = {
      {"abc", 3, 2, "ab"},
      {"日线转档", 8, 5, "日线"},         // two columns each; the third would end at 6
      {"ab日", 4, 3, "ab"},
      {"完成，", 6, 6, "完成，"},         // full-width comma
      {"e\xcc\x81x", 2, 1, "e\xcc\x81"},  // combining accent takes no column
      {"\x1b[2J", 4, 9, "?[2J"},          // a control character is shown, never sent
      {"a\nb\tc", 5, 9, "a?b?c"},
      {"\xff\xe6\x97", 3, 2, "??"},       // invalid and truncated UTF-8: one '?' per byte
      {"\xed\xa0\x80", 3, 9, "???"},      // an encoded surrogate is not a character
      {"\xc0\xaf", 2, 9, "??"},           // nor is an overlong form
      {"\xf0\x9f\x98\x80!", 3, 2, "\xf0\x9f\x98\x80"},
  };
  for (const WidthCase& c : cases) {
    EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
    EXPECT_EQ(FitToColumns(c.text, c.fitTo), c.fitted) << c.text;
  }
}

struct LineCase {
  double fraction;
  const char* status;
  int columns;
  const char* line;
};

TEST(CliProgressText, BarPercentAndStatusFitTheTerminal) {
  const std::vector<LineCase> cases = {
      {0.5, "abc", 100, "[##########----------]  50% abc"},
      {0.999, "abc", 100, "[###################-]  99% abc"},
      {1.7, "", 100, "[####################] 100% "},
      {-1, "x", 100, "[--------------------]   0% x"},
      {0.25, "正在转换深圳20220505日四代日线数据...", 40,
       "[##--------]  25% 正在转换深圳20220505日"},  // 18 + 22 columns
      {0.25, "日线转档完成!", 20, " 25% 日线转档完成!"},
      {0.25, "日线转档完成!", 11, "日线转档完"},  // no room for the numbers
      {0.25, "abc", 0, ""},
  };
  for (const LineCase& c : cases) {
    const std::string line = ProgressLine(c.fraction, c.status, c.columns);
    EXPECT_EQ(line, c.line) << c.columns;
    EXPECT_LE(DisplayWidth(line), c.columns);
  }
}

TEST(CliCancelRequest, ReachesTheOperationRunningNowOrTheNextOne) {
  cli::CancelRegistry registry;
  int first = 0, second = 0;
  registry.SetTarget([&] { ++first; });
  EXPECT_FALSE(registry.Requested());
  registry.SetTarget({});
  registry.Request();  // between two operations
  EXPECT_EQ(first, 0);
  EXPECT_TRUE(registry.Requested());
  registry.SetTarget([&] { ++second; });
  EXPECT_EQ(second, 1);
  registry.Request();
  EXPECT_EQ(second, 2);
}

// Subcommands, not the option groups CLI11 keeps among them.
std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
}

void ExpectExamples(const CLI::App& command, const std::string& path) {
  EXPECT_NE(command.get_footer().find("Example:\n  marbloom-cli "), std::string::npos) << path;
  for (const CLI::App* sub : Commands(command)) ExpectExamples(*sub, path + " " + sub->get_name());
}

TEST(CliHelp, EveryCommandShowsAnExample) {
  CLI::App app;
  cli::Context context;
  cli::SetUpCommands(app, context);
  EXPECT_NE(app.get_footer().find("Exit codes:"), std::string::npos);
  ASSERT_FALSE(Commands(app).empty());
  for (const CLI::App* command : Commands(app)) ExpectExamples(*command, command->get_name());
}

}  // namespace
}  // namespace marbloom::test
