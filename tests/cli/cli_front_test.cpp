// The pieces every command shares: the dates people type, the progress line
// on a terminal, the cancel request, a help with an example everywhere, and the
// guards of the data tree in front of every command that touches it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/cli_progress.h"
#include "cli/cli_signals.h"
#include "cli/cli_test_support.h"
#include "common/tree_lock.h"
#include "daily/daily_record.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

using cli::DisplayWidth;
using cli::FitToColumns;
using cli::ProgressLine;

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

// Every command, down to the leaves, ends its help with an example.
TEST(CliHelp, EveryCommandShowsAnExample) {
  CLI::App app;
  cli::Context context;
  cli::SetUpCommands(app, context);
  std::vector<const CLI::App*> pending{&app};
  for (std::size_t k = 0; k < pending.size(); ++k) {
    EXPECT_TRUE(k == 0 || pending[k]->get_footer().find("Example:\n  marbloom-cli ") != std::string::npos)
        << pending[k]->get_name();
    for (const CLI::App* sub : pending[k]->get_subcommands([](const CLI::App* c) { return !c->get_name().empty(); }))
      pending.push_back(sub);
  }
  EXPECT_GT(pending.size(), 20u);
}

// ------------------------------------------------------------ the data tree's guards

// A tree to guard: daily files of one day and sources of the next, a tick store
// of one day with its minute lines and the archive of the next, and another
// tree ("SRC" in a command) to merge from.
class CliGuardedTree : public CliTree {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CliTree::SetUp());
    sample::SampleOptions options = sample::SampleOptions::Quick(11);
    options.securities = 30;
    for (int date : {20220505, 20220506})
      ASSERT_TRUE(sample::WriteDailySources(date, options, Layout().DailySourceDir()));
    for (int date : {20240108, 20240109})
      ASSERT_TRUE(sample::WriteTickArchive(date, options, Layout().TickArchiveDir()));
    const DailyRecord old{20220504, 1, 1, 1, 1, 1.0f, 1, 0, 1};
    std::filesystem::create_directories(other_ + "sz/lday/");
    WriteFileBytes(other_ + "sz/lday/sz000002.day", std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(&old),
                                                                          reinterpret_cast<const uint8_t*>(&old + 1)));
  }
  std::string Args(std::string args) const {
    if (const std::size_t at = args.find("SRC"); at != std::string::npos) args.replace(at, 3, other_);
    return args;
  }
  const std::string other_ = temp_.path() + "other/";
};

struct GuardedCommand {
  const char* name;
  const char* args;
  int exitCode;  // while another process writes the tree
  bool otherTree = false;  // the tree merged from is the one being written
};

// Another process holds the tree: writing commands are refused at once with
// exit 5, naming the tree, and change nothing; reading commands still run.
class CliWriterLock : public CliGuardedTree, public ::testing::WithParamInterface<GuardedCommand> {};

TEST_P(CliWriterLock, WritersAreRefusedAndReadersRun) {
  ASSERT_EQ(Cli("daily convert --from 20220505 --to 20220505").exitCode, 0);
  ASSERT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  ASSERT_EQ(Cli("minutes build --all").exitCode, 0);
  TreeWriteLock lock(GetParam().otherTree ? DataLayout(std::string(), other_) : Layout());
  ASSERT_TRUE(lock.held());
  const auto before = FilesBelow(history_), otherBefore = FilesBelow(other_);
  const CommandResult r = Cli(Args(GetParam().args));
  EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.out;
  if (GetParam().exitCode == 5) {
    EXPECT_NE(r.out.find("正被另一个操作写入"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(GetParam().otherTree ? other_ : history_), std::string::npos) << r.out;
  }
  EXPECT_TRUE(FilesBelow(history_) == before);
  EXPECT_TRUE(FilesBelow(other_) == otherBefore);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, CliWriterLock, ::testing::Values(
    GuardedCommand{"dailyConvert", "daily convert --from 20220506 --to 20220506", 5},
    GuardedCommand{"dailyDelete", "daily delete --from 20220505 --to 20220505 --codes sz??????", 5},
    GuardedCommand{"dailyScale", "daily scale --from 20220505 --to 20220505 --codes sz?????? --close 2", 5},
    GuardedCommand{"dailyMerge", "daily merge SRC", 5},
    GuardedCommand{"dailyMergeFromATreeBeingWritten", "daily merge SRC", 5, true},
    GuardedCommand{"dailyEdit", "daily edit sz000001 --date 20220505 --open 1 --high 1 --low 1 --close 1 --volume 1 "
                                "--amount 1", 5},
    GuardedCommand{"tickConvert", "tick convert --from 20240108 --to 20240109", 5},
    GuardedCommand{"tickDelete", "tick delete --from 20240108 --to 20240108", 5},
    GuardedCommand{"minutesBuildAll", "minutes build --all", 5},
    GuardedCommand{"minutesDelete", "minutes delete --from 20240108 --to 20240108", 5},
    GuardedCommand{"minutesScale", "minutes scale --codes \"????????\" --from 20240108 --to 20240108 --close 2", 5},
    GuardedCommand{"undoLimits", "undo limits --keep-runs 1", 5},
    GuardedCommand{"dailyCheck", "daily check", 0},
    GuardedCommand{"dailyExtract", "daily extract sz000001 --date 20220505", 1},  // no such record
    GuardedCommand{"tickCheck", "tick check", 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A history directory that cannot be created leaves the data tree not ready:
// every command stops with its page's guard message and exit 4 (the tick
// page's logged too) and moves nothing from another tree. One command per
// place the guard is taken: the daily and minute pages guard all their
// commands in one binding, the tick page in its ranged runner, its check and
// the show commands in their own.
TEST_F(CliGuardedTree, EveryCommandStopsWhenTheTreeIsNotReady) {
  BlockHistoryDir(temp_.path());
  const std::string dailyGuard = "数据初始化错误或目录不可写, 请在'参数设置'中设置正确的路径!";
  const std::string tickGuard = "数据初始化错误或目录不可写,请在[参数设置]中设置正确的路径!";
  for (const char* args : {"daily merge SRC", "daily show sz000001", "tick convert --from 20240108 --to 20240108",
                           "tick check", "tick show sz000001 --date 20240108", "minutes build --all",
                           "minutes show sz000001"}) {
    const CommandResult r = Cli(Args(args));
    EXPECT_EQ(r.exitCode, 4) << args;
    EXPECT_EQ(r.out, (args[0] == 'd' ? dailyGuard : tickGuard) + "\n") << args;
  }
  EXPECT_TRUE(PathExists(other_ + "sz/lday/sz000002.day"));
  EXPECT_NE(ReadRunLog().find(tickGuard), std::string::npos);
}

}  // namespace
}  // namespace marbloom::test
