// marbloom-cli daily convert | delete | scale | check | merge | extract | edit,
// run as a program on small trees, and the daily page's checks in front of them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/cli_test_support.h"
#include "common/shared_state.h"
#include "daily/daily_closing.h"
#include "daily/daily_merge.h"
#include "daily/daily_record.h"
#include "samplegen.h"
#include "support/fault_file_system.h"

namespace marbloom::test {
namespace {

const char* const kRangeInvalid = "日期区间不合法!\n";
const char* const kRangeTooLong = "日期区间太长!\n";
const char* const kCodeFormat = "代码格式不规范!\n";
const char* const kPatternLength = "代码长度错误，请按mmcccccc格式，mm为市场，cccccc为代码!\n";

DailyRecord Day(uint32_t date, int32_t close) {
  DailyRecord r{};
  r.date = date;
  r.open = close - 10;
  r.high = close + 20;
  r.low = close - 20;
  r.close = close;
  r.amount = 250000.0f;
  r.volume = 3000;
  r.word30 = 1;
  return r;
}

std::vector<uint8_t> Bytes(const std::vector<DailyRecord>& records) {
  std::vector<uint8_t> out(records.size() * sizeof(DailyRecord));
  if (!out.empty()) std::memcpy(out.data(), records.data(), out.size());
  return out;
}

void WriteFileIn(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  WriteFileBytes(path, bytes);
}

std::vector<DailyRecord> Records(const std::vector<uint8_t>& bytes) {
  std::vector<DailyRecord> out(bytes.size() / sizeof(DailyRecord));
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(DailyRecord));
  return out;
}

class CliDaily : public CliTree {
 protected:
  static sample::SampleOptions Market(int securities = 30) {
    sample::SampleOptions options = sample::SampleOptions::Quick(11);
    options.securities = securities;
    return options;
  }
  // Quote sources of the sample market for `date`.
  void WriteSources(int date, int securities = 30) {
    ASSERT_TRUE(sample::WriteDailySources(date, Market(securities), Layout().DailySourceDir()));
  }
  std::string DailyPath(const std::string& stem) const {
    return history_ + stem.substr(0, 2) + "/lday/" + stem + ".day";
  }
  void WriteDaily(const std::string& stem, const std::vector<DailyRecord>& records) {
    WriteFileBytes(DailyPath(stem), Bytes(records));
  }
  std::vector<DailyRecord> ReadDaily(const std::string& stem) { return Records(ReadFileBytes(DailyPath(stem))); }
};

// ------------------------------------------------------------ happy paths

TEST_F(CliDaily, ConvertedSampleWeekChecksSoundAndRepeatsByteForByte) {
  for (int date = 20220509; date <= 20220513; ++date) WriteSources(date, 60);
  auto convert = Cli("daily convert --from 2022-05-09 --to 20220513");
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_EQ(convert.out, "日线转档完成!\n");

  const sample::SampleQuote quote = sample::MarketQuotes(20220511, 0, Market(60)).front();
  const std::vector<DailyRecord> records = ReadDaily("sz" + quote.code);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[2].date, 20220511u);

  auto check = Cli("daily check");
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "共有0支股票日线文件出错，细节参看日志!\n");

  // Again over the longest range taken, 31 days apart.
  const std::vector<uint8_t> before = ReadFileBytes(DailyPath("sz" + quote.code));
  ASSERT_EQ(Cli("daily convert --from 20220501 --to 20220601").exitCode, 0);
  EXPECT_EQ(ReadFileBytes(DailyPath("sz" + quote.code)), before);
}

TEST_F(CliDaily, DeleteRemovesTheRangeFromSelectedFilesOnly) {
  WriteDaily("sz000001", {Day(20220505, 1000), Day(20220506, 1010), Day(20220509, 1020)});
  WriteDaily("sh600000", {Day(20220505, 900), Day(20220506, 910)});
  auto r = Cli("daily delete --from 20220506 --to 20220506 --codes ' sz000001 '");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "删除日线完成!\n");
  const std::vector<DailyRecord> left = ReadDaily("sz000001");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].date, 20220505u);
  EXPECT_EQ(left[1].date, 20220509u);
  EXPECT_EQ(ReadDaily("sh600000").size(), 2u);

  auto none = Cli("daily delete --from 20220506 --to 20220506 --codes bj??????");
  EXPECT_EQ(none.exitCode, 1);  // nothing to do
  EXPECT_EQ(none.out, "路径不存在或无日线数据!\n");
}

TEST_F(CliDaily, ScaleMultipliesTheRangeWithTheRoundingAddend) {
  WriteDaily("sz000001", {Day(20220505, 1001), Day(20220506, 1001)});
  auto r = Cli("daily scale --from 20220506 --to 20220506 --codes sz?????? --close 0.5 --volume 1.1");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "修改个股多日日线数据处理完毕!\n");
  const std::vector<DailyRecord> records = ReadDaily("sz000001");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].close, 1001);
  EXPECT_EQ(records[1].close, 501);     // 500.5 + 0.503
  EXPECT_EQ(records[1].open, 991);      // factor 1 keeps it
  EXPECT_EQ(records[1].volume, 3300u);  // 3000 x 1.1
}

TEST_F(CliDaily, CheckExitsOneWithTheCountAndLogsEachBadFile) {
  WriteDaily("sz000001", {Day(20220505, 1000), Day(20220506, 1000), Day(20220506, 1000)});
  WriteFileBytes(DailyPath("sh600000"), std::vector<uint8_t>(33, 1));
  WriteDaily("bj430047", {Day(20220505, 1000)});
  auto r = Cli("daily check");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "共有2支股票日线文件出错，细节参看日志!\n");
  const std::string log = ReadRunLog();
  EXPECT_NE(log.find("深圳000001,20220506后的日线日期为20220506,顺序紊乱!"), std::string::npos) << log;
  EXPECT_NE(log.find("sh600000日线文件长度异常!"), std::string::npos) << log;
}

TEST_F(CliDaily, MergeBringsSourceRecordsInAndMovesMissingFiles) {
  const std::string source = temp_.path() + "other/";
  WriteFileIn(source + "sz/lday/sz000001.day", Bytes({Day(20220504, 1), Day(20220506, 2)}));
  WriteFileIn(source + "sh/lday/sh600000.day", Bytes({Day(20220504, 3)}));
  WriteDaily("sz000001", {Day(20220505, 4), Day(20220506, 5)});
  // The folder as typed, without the trailing separator the folder picker adds.
  auto r = Cli("daily merge " + temp_.path() + "other");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "个股日线合并处理完毕!\n");
  const std::vector<DailyRecord> merged = ReadDaily("sz000001");
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(merged[0].close, 1);
  EXPECT_EQ(merged[1].close, 4);
  EXPECT_EQ(merged[2].close, 2);  // the source wins on equal dates
  EXPECT_EQ(ReadDaily("sh600000").size(), 1u);
  EXPECT_FALSE(PathExists(source + "sh/lday/sh600000.day"));
}

TEST_F(CliDaily, ExtractPrintsTheStoredFieldsAndEditWritesThemBack) {
  DailyRecord index = Day(20220505, 300000);
  index.volume = 3000000000u;
  index.word28 = 812;
  index.word30 = 1490;
  WriteDaily("sz399001", {index});
  auto x = Cli("daily extract SZ399001 --date 2022-05-05");
  EXPECT_EQ(x.exitCode, 0);
  EXPECT_EQ(x.out,
            "开盘价: 299990\n最高价: 300020\n最低价: 299980\n收盘价: 300000\n"
            "成交量: 3000000000\n成交金额: 250000\n上涨家数: 812\n下跌家数: 1490\n个股日线提取成功!\n");

  auto e = Cli("daily edit ' bj430047 ' --date 20220506 --open 12.7 --high 13 --low -3.9 --close 12 "
               "--volume 100 --amount 1.5 --advancing 70000");
  EXPECT_EQ(e.exitCode, 0);
  EXPECT_EQ(e.out, "个股日线修改处理完毕!\n");
  const std::vector<DailyRecord> written = ReadDaily("bj430047");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].date, 20220506u);
  EXPECT_EQ(written[0].open, 12);
  EXPECT_EQ(written[0].low, -3);
  EXPECT_EQ(written[0].amount, 1.5f);
  EXPECT_EQ(written[0].word28, 0);  // not an index: the last four bytes stay 0
  EXPECT_EQ(written[0].word30, 0);
}

// ------------------------------------------------------------ the page's checks

struct Refusal {
  const char* args;
  int exitCode;
  const char* out;
};

class CliDailyRefusal : public CliDaily, public ::testing::WithParamInterface<Refusal> {};

TEST_P(CliDailyRefusal, RefusesWithThePageMessageAndTouchesNothing) {
  WriteDaily("sz000001", {Day(20220505, 1000), Day(20220506, 1010)});
  const std::vector<uint8_t> before = ReadFileBytes(DailyPath("sz000001"));
  auto r = Cli(GetParam().args);
  EXPECT_EQ(r.exitCode, GetParam().exitCode);
  EXPECT_EQ(r.out, GetParam().out);
  EXPECT_EQ(ReadFileBytes(DailyPath("sz000001")), before);
}

INSTANTIATE_TEST_SUITE_P(
    DailyPage, CliDailyRefusal,
    ::testing::Values(
        Refusal{"daily convert --from 20220506 --to 20220505", 2, kRangeInvalid},
        Refusal{"daily convert --from 20220501 --to 20220602", 2, kRangeTooLong},
        Refusal{"daily delete --from 20220506 --to 20220505 --codes sz000001", 2, kRangeInvalid},
        Refusal{"daily delete --from 20220505 --to 20220506 --codes sz00000", 2, kCodeFormat},
        // Dates are checked before the code here.
        Refusal{"daily delete --from 20220506 --to 20220505 --codes sz00000", 2, kRangeInvalid},
        Refusal{"daily scale --from 20220505 --to 20220506 --codes sz0000001 --close 2", 2, kPatternLength},
        // The code is checked before the dates here.
        Refusal{"daily scale --from 20220506 --to 20220505 --codes sz00000 --close 2", 2, kPatternLength},
        Refusal{"daily scale --from 20220506 --to 20220505 --codes sz000001 --close 2", 2, kRangeInvalid},
        Refusal{"daily merge '  '", 2, "请先选择用于补充的vipdoc源!\n"},
        Refusal{"daily extract bj430047 --date 20220505", 2, kCodeFormat},
        Refusal{"daily extract sz00000a --date 20220505", 2, kCodeFormat},
        Refusal{"daily extract ' sz000001' --date 20220505", 2, kCodeFormat},  // not trimmed
        Refusal{"daily extract sz000001 --date 20220504", 1, "无指定个股日线!\n"},
        Refusal{"daily edit sz00000? --date 20220505 --open 1 --high 1 --low 1 --close 1 --volume 1 --amount 1",
                2, kCodeFormat},
        Refusal{"daily edit hk000001 --date 20220505 --open 1 --high 1 --low 1 --close 1 --volume 1 --amount 1",
                2, kCodeFormat},
        Refusal{"daily edit sz000001 --date 20991231 --open 1 --high 1 --low 1 --close 1 --volume 1 --amount 1",
                2, "日期无效或晚于今天, 不能写入日线!\n"}));

// ------------------------------------------------------------ failed files

// A damaged quote file of sz skips sh and bj of that day, and the run fails.
TEST_F(CliDaily, ConvertOfADamagedSourceFileExitsOne) {
  WriteSources(20220505);
  const DataLayout layout = Layout();
  std::vector<uint8_t> quotes = ReadFileBytes(layout.QuoteFile(0, 20220505));
  quotes.pop_back();
  WriteFileBytes(layout.QuoteFile(0, 20220505), quotes);
  auto r = Cli("daily convert --from 20220505 --to 20220505");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.find("完成!"), std::string::npos) << r.out;
  EXPECT_FALSE(PathExists(layout.DailyFile(1, sample::MarketQuotes(20220505, 1, Market()).front().code)));
  EXPECT_NE(ReadRunLog().find("数据格式异常!"), std::string::npos);
}

// Five files of one page each (128 records ending 20220511) on a full disk,
// merged with one older record each: nothing may be lost, and the run fails.
// The disk is the fault seam's: the merge runs in this process as the command
// runs it, its result shown as the command shows it.
TEST_F(CliDaily, MergeOnAFullDiskKeepsEveryRecordAndExitsOne) {
  ASSERT_EQ(Cli("daily check").exitCode, 1);  // creates the tree; nothing in it yet
  const std::string other = temp_.path() + "other/";
  std::vector<DailyRecord> page;
  for (uint32_t k = 0; k < 128; ++k) page.push_back(Day(20220511 - 127 + k, 1000));
  for (const char* code : {"000001", "000002", "000003", "000004", "000005"}) {
    WriteDaily(std::string("sz") + code, page);
    WriteFileIn(other + "sz/lday/sz" + code + ".day", Bytes({Day(20220101, 1)}));
  }
  const auto before = FilesBelow(history_ + "sz/lday/");
  FaultFileSystem disk;
  disk.NoSpaceAfter(0);
  const OperationResult r = CloseDailyOperation(
      SilentReporter(), DailyClosing::kMerge, DailyMerge(Layout().WithFiles(disk)).MergeDailyFiles(DataLayout(std::string(), other)));
  EXPECT_EQ(cli::ExitCodeOf(r), 1);
  EXPECT_TRUE(r.message.find("完毕") == std::string::npos && r.message.find("完成!") == std::string::npos) << r.message;
  EXPECT_TRUE(FilesBelow(history_ + "sz/lday/") == before);
}

// show: real values as a table (records the check would report marked) or
// as CSV alone on stdout; missing files, empty ranges and bad ranges refused.
TEST_F(CliDaily, ShowPrintsRealValuesAsATableOrCsv) {
  WriteDaily("sz000001", {Day(20240108, 1000), Day(20240109, 1010), Day(20240109, 1020)});
  const struct {
    std::string args, out;
    int exitCode;
  } cases[] = {
      {"daily show sz000001 --csv",
       "date,open,high,low,close,volume,amount,flag\n2024-01-08,9.90,10.20,9.80,10.00,3000,250000.00,\n"
       "2024-01-09,10.00,10.30,9.90,10.10,3000,250000.00,\n2024-01-09,10.10,10.40,10.00,10.20,3000,250000.00,"
       "日期顺序紊乱\n",
       0},
      {"daily show SZ000001 --from 2024-01-09 --to 20240109",
       "      date   open   high    low  close  volume     amount  flag\n"
       "2024-01-09  10.00  10.30   9.90  10.10    3000  250000.00\n"
       "2024-01-09  10.10  10.40  10.00  10.20    3000  250000.00  日期顺序紊乱\n"
       "sz000001日线共2条,其中1条日期异常\n",
       0},
      {"daily show sz000002", "找不到文件" + DailyPath("sz000002") + "\n", 1},
      {"daily show sz000001 --from 20240201", "sz000001在所选日期内没有日线数据!\n", 1},
      {"daily show sz000001 --from 20240110 --to 20240109", kRangeInvalid, 2},
      {"daily show sz00001", kCodeFormat, 2},
  };
  for (const auto& c : cases) {
    const CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
}

}  // namespace
}  // namespace marbloom::test
