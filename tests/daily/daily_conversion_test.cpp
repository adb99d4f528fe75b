// Daily conversion: the record rules, source pairs, messages, range, cancel.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <thread>

#include "common/dir_walk.h"
#include "daily/daily_conversion.h"
#include "daily/daily_conversion_rules.h"
#include "daily_test_util.h"
#include "undo/journal_file_system.h"

namespace marbloom::test {
namespace {

// ------------------------------------------------------------ record rules

struct RuleCase {
  const char* name;
  int market;
  SourceEntry entry;
  std::optional<DailyRecord> expected;  // date is filled in by the test
};

SourceEntry With(SourceEntry e, void (*change)(SourceEntry&)) {
  change(e);
  return e;
}

DailyRecord Expect(int32_t open, int32_t high, int32_t low, int32_t close, uint32_t volume, uint16_t w28,
                   uint16_t w30) {
  DailyRecord r{};
  r.open = open;
  r.high = high;
  r.low = low;
  r.close = close;
  r.volume = volume;
  r.word28 = w28;
  r.word30 = w30;
  return r;
}

class DailyRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(DailyRuleTest, QuoteBecomesExpectedRecord) {
  const RuleCase& c = GetParam();
  CodeListRecord entry{};
  std::memcpy(entry.code, c.entry.code.data(), c.entry.code.size());
  entry.lotSize = c.entry.lot;
  entry.priceDecimals = c.entry.decimals;
  entry.securityType = c.entry.type;
  std::optional<DailyRecord> got = MakeDailyRecord(c.market, c.entry.code, entry, c.entry.quote, 20220505);
  ASSERT_EQ(got.has_value(), c.expected.has_value());
  if (!got) return;
  const DailyRecord& e = *c.expected;
  EXPECT_EQ(got->date, 20220505u);
  EXPECT_EQ(got->open, e.open);
  EXPECT_EQ(got->high, e.high);
  EXPECT_EQ(got->low, e.low);
  EXPECT_EQ(got->close, e.close);
  EXPECT_EQ(got->volume, e.volume);
  EXPECT_EQ(got->word28, e.word28);
  EXPECT_EQ(got->word30, e.word30);
  EXPECT_EQ(got->amount, static_cast<float>(c.entry.quote.amount));
}

constexpr uint16_t kOrdinary = 1;         // multiplier 1, marker 0
constexpr uint16_t kLot100 = 0xC364;      // multiplier 100, marker 195
constexpr uint16_t kLot200 = 0xC3C8;

INSTANTIATE_TEST_SUITE_P(
    Rules, DailyRuleTest,
    ::testing::Values(
        RuleCase{"CloseOnlyFundTakesCloseEverywhere", 0,
                 With(Stock("160001", 1.234, 0), [](SourceEntry& e) {
                   e.type = 12;
                   e.decimals = 3;
                   e.quote.open = e.quote.high = e.quote.low = 0;
                 }),
                 Expect(1234, 1234, 1234, 1234, 0, 0, kOrdinary)},
        RuleCase{"FilledFundHighAndLowEncloseClose", 1,
                 With(Stock("510050", 2.5), [](SourceEntry& e) {
                   e.type = 62;
                   e.decimals = 3;
                   e.quote.high = 2.4;
                   e.quote.low = 2.6;
                 }),
                 Expect(2500, 2500, 2500, 2500, 1000, 0, kOrdinary)},
        RuleCase{"FundWithoutCloseYieldsNothing", 0,
                 With(Stock("160001", 0), [](SourceEntry& e) { e.type = 12; }), std::nullopt},
        RuleCase{"SuspendedStockWithVolumeYieldsNothing", 0,
                 With(Stock("000001", 10), [](SourceEntry& e) { e.quote.open = 0; }), std::nullopt},
        RuleCase{"CloseJustBelowSinglePrecisionEpsilonYieldsNothing", 0, Stock("000001", 0.00009), std::nullopt},
        RuleCase{"RoundingAddendIs0503", 0, Stock("000001", 10.005), Expect(1001, 1001, 1001, 1001, 1000, 0, kOrdinary)},
        RuleCase{"JustUnderHalfRoundsDown", 0, Stock("000001", 10.004),
                 Expect(1000, 1000, 1000, 1000, 1000, 0, kOrdinary)},
        RuleCase{"TenUnitSecurityDividesVolume", 0,
                 With(Stock("101234", 100.5, 12345), [](SourceEntry& e) { e.decimals = 4; }),
                 Expect(1005000, 1005000, 1005000, 1005000, 1234, 0, kOrdinary)},
        RuleCase{"HugeVolumeUsesLotForm", 1, Stock("600000", 10, 5000000000LL),
                 Expect(1000, 1000, 1000, 1000, 50000000, 0, kLot100)},
        RuleCase{"VolumeAtTheThresholdKeepsOrdinaryForm", 1, Stock("600000", 10, 4290000000LL),
                 Expect(1000, 1000, 1000, 1000, 4290000000u, 0, kOrdinary)},
        RuleCase{"LotFormKeepsRemainder", 1,
                 With(Stock("600000", 10, 5000000123LL), [](SourceEntry& e) { e.lot = 200; }),
                 Expect(1000, 1000, 1000, 1000, 25000000, 123, kLot200)},
        RuleCase{"LotSizeOneKeepsOrdinaryFormWrapped", 1,
                 With(Stock("600000", 10, 5000000000LL), [](SourceEntry& e) { e.lot = 1; }),
                 Expect(1000, 1000, 1000, 1000, 705032704u, 0, kOrdinary)},
        RuleCase{"LotSizeZeroKeepsOrdinaryForm", 1,
                 With(Stock("600000", 10, 5000000000LL), [](SourceEntry& e) { e.lot = 0; }),
                 Expect(1000, 1000, 1000, 1000, 705032704u, 0, kOrdinary)},
        RuleCase{"IndexKeepsLow32VolumeAndCounts", 0,
                 With(Stock("399001", 12000.12, 5000000000LL), [](SourceEntry& e) {
                   e.type = 1;
                   e.lot = 1;
                   e.quote.advancing = 1500;
                   e.quote.declining = 700;
                 }),
                 Expect(1200012, 1200012, 1200012, 1200012, 705032704u, 1500, 700)},
        RuleCase{"NoTradeWithAuxiliaryQuantityTakesClose", 0,
                 With(Stock("000001", 10, 0), [](SourceEntry& e) {
                   e.quote.status = 1;
                   e.quote.open = e.quote.high = e.quote.low = 0;
                   e.quote.auxiliary[3] = 1;
                 }),
                 Expect(1000, 1000, 1000, 1000, 0, 0, kOrdinary)},
        RuleCase{"NoTradeWithoutAuxiliaryQuantityYieldsNothing", 0,
                 With(Stock("000001", 10, 0), [](SourceEntry& e) {
                   e.quote.status = 1;
                   e.quote.low = 0;
                 }),
                 std::nullopt},
        RuleCase{"HugePriceSaturates", 0, Stock("000001", 1e12),
                 Expect(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 1000, 0, kOrdinary)},
        RuleCase{"UnknownDecimalsScaleBy100", 0,
                 With(Stock("000001", 1.5), [](SourceEntry& e) { e.decimals = 9; }),
                 Expect(150, 150, 150, 150, 1000, 0, kOrdinary)}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

TEST(DailyCodeListCode, OnlySixDigitsTerminatedInTheFieldMakeACode) {
  CodeListRecord entry{};
  std::memcpy(entry.code, "000001", 6);
  EXPECT_EQ(CodeListCode(entry), "000001");
  std::memcpy(entry.code, "../../x", 7);
  EXPECT_FALSE(CodeListCode(entry));
  std::memset(entry.code, '1', sizeof entry.code);  // no terminator
  EXPECT_FALSE(CodeListCode(entry));
  std::memset(entry.code, 0, sizeof entry.code);
  std::memcpy(entry.code, "00001", 5);
  EXPECT_FALSE(CodeListCode(entry));
}

// ----------------------------------------------------------- whole days

class DailyConvertTest : public DailyTreeTest {
 protected:
  DailyConversion engine{layout};
};

TEST_F(DailyConvertTest, PairOfTwoRecordsConvertsBothWithStatusAndProgress) {
  WriteSourcePair(0, 20220505, {Stock("000001", 10.5), Stock("000002", 20.25)});
  EXPECT_EQ(engine.ConvertDailyDay(20220505), DailyDayEnd::kConverted);
  EXPECT_EQ(Dates(DailyFilePath(0, "000001")), (std::vector<uint32_t>{20220505}));
  EXPECT_EQ(Records(ReadFileBytes(DailyFilePath(0, "000002")))[0].close, 2025);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 0.5 / 3);  // the second record of the first of three markets
  const std::string log = LogText();
  EXPECT_NE(log.find("正在转换深圳20220505日四代日线数据..."), std::string::npos);
  EXPECT_NE(log.find("找不到文件" + SourceName(1, 20220505, "cod")), std::string::npos);
  EXPECT_EQ(test::StatusText(), "找不到文件" + SourceName(2, 20220505, "cod"));
}

// Over a range the progress moves once from 0 to 1, never back at a new
// market or day.
TEST_F(DailyConvertTest, RangeProgressNeverGoesBack) {
  for (int date : {20220505, 20220506})
    for (int market = 0; market < kMarketCount; ++market)
      WriteSourcePair(market, date, {Stock("600000", 10), Stock("600004", 10)});
  std::vector<double> seen;
  test::OnStatus([&](const std::string&) { seen.push_back(test::ProgressFraction()); });
  EXPECT_EQ(engine.ConvertDailyRange(20220505, 20220506).outcome, Outcome::kDone);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << ::testing::PrintToString(seen);
  EXPECT_DOUBLE_EQ(test::ProgressFraction(), 11.0 / 12);  // the last pair's second record
}

TEST_F(DailyConvertTest, MissingQuoteFileIsReportedWithColon) {
  WriteSourcePair(0, 20220505, {Stock("000001", 10)});
  std::filesystem::remove(SourceName(0, 20220505, "md1"));
  EXPECT_EQ(engine.ConvertDailyDay(20220505), DailyDayEnd::kConverted);
  EXPECT_NE(LogText().find("找不到文件:" + SourceName(0, 20220505, "md1")), std::string::npos);
}

TEST_F(DailyConvertTest, MalformedPairEndsTheDayBeforeLaterMarkets) {
  for (std::size_t quoteLength : {1000u, 1536u}) {
    WriteSourcePair(0, 20220505, {Stock("000001", 10), Stock("000002", 10)});
    std::vector<uint8_t> quotes = ReadFileBytes(SourceName(0, 20220505, "md1"));
    quotes.resize(quoteLength);
    WriteFileBytes(SourceName(0, 20220505, "md1"), quotes);
    WriteSourcePair(1, 20220505, {Stock("600000", 10)});
    test::ShowStatus("before");
    EXPECT_EQ(engine.ConvertDailyDay(20220505), DailyDayEnd::kMalformed);
    EXPECT_EQ(test::StatusText(), "before");
    EXPECT_NE(LogText().find(SourceName(0, 20220505, "cod") + "或者" + SourceName(0, 20220505, "md1") +
                             "数据格式异常!"),
              std::string::npos);
    EXPECT_FALSE(PathExists(DailyFilePath(1, "600000")));
    EXPECT_FALSE(PathExists(DailyFilePath(0, "000001")));
  }
}

TEST_F(DailyConvertTest, CodeListOfPartialRecordIsMalformed) {
  WriteSourcePair(0, 20220505, {Stock("000001", 10), Stock("000002", 10)});
  std::vector<uint8_t> codes = ReadFileBytes(SourceName(0, 20220505, "cod"));
  codes.pop_back();
  WriteFileBytes(SourceName(0, 20220505, "cod"), codes);
  EXPECT_EQ(engine.ConvertDailyDay(20220505), DailyDayEnd::kMalformed);
}

TEST_F(DailyConvertTest, UnsafeCodesAreSkippedAndLoggedOncePerPair) {
  WriteSourcePair(0, 20220505, {Stock("../../x", 10), Stock("000001", 10), Stock("12", 10)});
  EXPECT_EQ(engine.ConvertDailyDay(20220505), DailyDayEnd::kConverted);
  EXPECT_TRUE(PathExists(DailyFilePath(0, "000001")));
  EXPECT_EQ(CountOccurrences(LogText(), "不规范的证券代码"), 1);
  EXPECT_FALSE(PathExists(tree.historyDir() + "x.day"));
}

TEST_F(DailyConvertTest, ReversedRangeDoesNothing) {
  test::ShowStatus("unchanged");
  EXPECT_EQ(engine.ConvertDailyRange(20220506, 20220505).outcome, Outcome::kInvalid);
  EXPECT_EQ(test::StatusText(), "unchanged");
  EXPECT_EQ(LogText(), "");
}

TEST_F(DailyConvertTest, RangeTriesSaturdayFirstThenSkipsToMonday) {
  WriteEveryMarket(layout, 20220509);
  WriteSourcePair(0, 20220509, {Stock("000001", 10)});
  EXPECT_EQ(engine.ConvertDailyRange(20220507, 20220509).outcome, Outcome::kDone);
  EXPECT_EQ(test::StatusText(), "日线转档完成!");
  const std::string log = LogText();
  EXPECT_NE(log.find("找不到文件" + SourceName(0, 20220507, "cod")), std::string::npos);
  EXPECT_EQ(log.find(SourceName(0, 20220508, "cod")), std::string::npos);
  EXPECT_EQ(Dates(DailyFilePath(0, "000001")), (std::vector<uint32_t>{20220509}));
}

TEST_F(DailyConvertTest, ConvertingTwiceGivesTheSameBytes) {
  WriteEveryMarket(layout, 20220505);
  WriteEveryMarket(layout, 20220506);
  WriteSourcePair(0, 20220505, {Stock("000001", 10), Stock("000002", 11)});
  WriteSourcePair(0, 20220506, {Stock("000001", 12), Stock("000002", 13)});
  ASSERT_EQ(engine.ConvertDailyRange(20220505, 20220506).outcome, Outcome::kDone);
  const std::vector<uint8_t> once = ReadFileBytes(DailyFilePath(0, "000002"));
  ASSERT_EQ(engine.ConvertDailyRange(20220505, 20220506).outcome, Outcome::kDone);
  EXPECT_EQ(ReadFileBytes(DailyFilePath(0, "000002")), once);
  EXPECT_EQ(once.size(), 64u);
}

// Journalled, each market's files of a day, made ones too, are kept with one
// sync of the manifest before the first of them changes; files kept once
// need no more.
TEST_F(DailyConvertTest, AJournalledRunSyncsItsManifestOnceBeforeTheDaysFilesChange) {
  for (int date : {20220505, 20220506}) {
    WriteEveryMarket(layout, date);
    WriteSourcePair(0, date, {Stock("000001", 10), Stock("000002", 11), Stock("000004", 12)});
  }
  for (const char* code : {"000001", "000002", "000004"}) WriteDaily(0, code, {Rec(20220504)});
  JournalFileSystem journal(faults, layout, "daily convert", "");
  DailyConversion journalled(layout.WithFiles(journal));
  ASSERT_EQ(journalled.ConvertDailyRange(20220505, 20220506).outcome, Outcome::kDone);
  const std::vector<std::string>& changes = faults.Changes();
  const std::string sync = "sync " + JournalRunFile(layout, 1);
  const auto write = std::find(changes.begin(), changes.end(), "write " + DailyFilePath(0, "000001"));
  ASSERT_TRUE(write != changes.begin() && write != changes.end());
  EXPECT_EQ(std::count(changes.begin(), changes.end(), sync), 4);  // the header, then each market's first day
  EXPECT_EQ(*(write - 1), sync);
}

TEST_F(DailyConvertTest, CancelDuringShanghaiKeepsShenzhenAndLeavesBeijingUntouched) {
  WriteSourcePair(0, 20220505, {Stock("000001", 10), Stock("000002", 10)});
  WriteSourcePair(1, 20220505, {Stock("600000", 10), Stock("600004", 10)});
  WriteSourcePair(2, 20220505, {Stock("830001", 10)});
  test::OnStatus([this](const std::string& line) {
    if (line.find("上海") != std::string::npos) engine.Cancel();
  });
  EXPECT_EQ(engine.ConvertDailyRange(20220505, 20220506).outcome, Outcome::kCancelled);
  EXPECT_EQ(test::StatusText(), "日线转档被取消!");
  EXPECT_TRUE(PathExists(DailyFilePath(0, "000002")));
  EXPECT_TRUE(PathExists(DailyFilePath(1, "600000")));
  EXPECT_FALSE(PathExists(DailyFilePath(1, "600004")));
  EXPECT_FALSE(PathExists(DailyFilePath(2, "830001")));
  EXPECT_EQ(CountOccurrences(LogText(), "本次转档日线操作被取消!"), 1);
}

TEST(DailyConvertThreaded, CancelFromAnotherThreadStopsBetweenSecurities) {
  TestTree tree;
  std::vector<SourceEntry> entries;
  for (int k = 0; k < 400; ++k) {
    char code[8];
    std::snprintf(code, sizeof code, "%06d", k + 1);
    entries.push_back(Stock(code, 10 + k));
  }
  WriteEveryMarket(tree.layout(), 20220505);
  WriteSourcePair(tree.layout(), 0, 20220505, entries);
  DailyConversion engine(tree.layout());
  Outcome result = Outcome::kInvalid;
  std::thread worker([&] { result = engine.ConvertDailyRange(20220505, 20220505).outcome; });
  engine.Cancel();
  worker.join();
  EXPECT_TRUE(result == Outcome::kDone || result == Outcome::kCancelled);
  // Whatever was stored is whole.
  for (const WalkEntry& e : ListCountedFiles(RealFileSystem(), tree.layout().DailyDir(0), "*.day")) EXPECT_EQ(e.size, 32);
}

}  // namespace
}  // namespace marbloom::test
