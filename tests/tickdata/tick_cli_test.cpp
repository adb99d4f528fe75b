// marbloom-cli tick commands, run as a program against a scratch tree.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "tick_test_support.h"

namespace marbloom::test {
namespace {

class TickCli : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = BuiltProgram("src/cli/marbloom-cli");
    if (!std::filesystem::exists(program_)) GTEST_SKIP() << "marbloom-cli is not built";
    history_ = temp_.path() + "hist/";
    ASSERT_EQ(Cli("settings set VIPDOC=" + history_).exitCode, 0);
    Settings().historyDir = history_;
  }
  void TearDown() override { Settings() = AppSettings{}; }
  CommandResult Cli(const std::string& args) {
    return RunCommand(program_ + " -C " + temp_.path() + " " + args + " 2>/dev/null");
  }
  TempDir temp_;
  std::string program_, history_;
};

TEST_F(TickCli, RefusesBadRangesWithThePageMessages) {
  auto reversed = Cli("tick convert --from 20240110 --to 20240109");
  EXPECT_EQ(reversed.exitCode, 2);
  EXPECT_EQ(reversed.out, "日期区间不合法!\n");
  EXPECT_EQ(Cli("tick delete --from 2024-01-01 --to 2024-02-01").exitCode, 0);
  auto tooLong = Cli("tick delete --from 2024-01-01 --to 2024-02-02");
  EXPECT_EQ(tooLong.exitCode, 2);
  EXPECT_EQ(tooLong.out, "日期区间太长!\n");
  EXPECT_EQ(Cli("tick convert --from 20240230 --to 20240301").exitCode, 2);
}

TEST_F(TickCli, ConvertShowCheckDelete) {
  WriteArchive(20240108, {{0, "000001", MakeDay(20240108, 1, 3)}});
  auto convert = Cli("tick convert --from 20240108 --to 20240108");
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_EQ(convert.out, "分笔数据转档完成!\n");

  auto show = Cli("tick show SZ000001 --date 2024-01-08");
  EXPECT_EQ(show.exitCode, 0);
  // SampleTicks(3, 1): prices 998, 999, 1000 in cents, volumes 100..102.
  EXPECT_EQ(show.out.substr(0, show.out.find("sz000001")),
            "time\tprice\tvolume\textra\tkind\n09:30:00\t99800\t100\t1\t0\n"
            "09:30:03\t99900\t101\t2\t1\n09:30:06\t100000\t102\t3\t2\n");
  EXPECT_EQ(Cli("tick show sz000001 --date 20240109").exitCode, 1);
  EXPECT_EQ(Cli("tick show sz00001 --date 20240108").out, "代码格式不规范!\n");

  auto check = Cli("tick check");
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "共有0支股票分笔文件出错!\n");
  WriteFileBytes(TickDataPath("sz000001"), {1, 2, 3});
  auto damaged = Cli("tick check");
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_EQ(damaged.out, "共有1支股票分笔文件出错!\n");

  WriteArchive(20240108, {{0, "000001", MakeDay(20240108, 1, 3)}});
  EXPECT_EQ(Cli("tick convert --from 20240108 --to 20240108").exitCode, 0);
  auto remove = Cli("tick delete --from 20240108 --to 20240108");
  EXPECT_EQ(remove.out, "删除分笔数据完成!\n");
  EXPECT_FALSE(PathExists(TickIndexPath("sz000001")));
}

}  // namespace
}  // namespace marbloom::test
