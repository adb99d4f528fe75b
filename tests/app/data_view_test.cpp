// The data reader's real values: sample days converted into a tree and read
// back against the generator's own quotes and ticks, hand-made daily files
// for the volume forms, flags, ranges and damage, and the CSV of each kind.
#include "app/data_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "base/text_encoding.h"
#include "common/security_class.h"
#include "daily/daily_conversion.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "tickdata/minute_bar.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_engine.h"

namespace marbloom::test {
namespace {

const std::vector<int> kDays{20240311, 20240312, 20240313};
const sample::SampleOptions kSample = sample::SampleOptions::Quick();

std::string Fixed(int decimals, double value) { return FormatText("%.*f", decimals, value); }

int64_t PowerOf10(int n) { return n <= 0 ? 1 : 10 * PowerOf10(n - 1); }

// The generator's quote of a security on a day (each market's day generated once).
const sample::SampleQuote& QuoteOf(int date, int market, const std::string& code) {
  static std::map<std::pair<int, int>, std::vector<sample::SampleQuote>> days;
  auto& quotes = days[{date, market}];
  if (quotes.empty()) quotes = sample::MarketQuotes(date, market, kSample);
  return *std::find_if(quotes.begin(), quotes.end(), [&](auto& q) { return q.code == code; });
}

std::string Cell(const DataView& v, std::size_t row, ViewColumn column) { return CellText(v, v.rows.at(row), column); }

// One tree with three sample days converted into daily, tick and minute files.
class SampleTreeTest : public ::testing::Test {
 protected:
  // Built once for every suite of this fixture; removed when the program ends.
  static void SetUpTestSuite() {
    if (tree_) return;
    tree_ = new TestTree;
    static std::unique_ptr<TestTree> owner(tree_);
    for (int day : kDays) ASSERT_TRUE(sample::WriteDayIntoTree(day, kSample, tree_->layout()));
    DailyConversion(tree_->layout()).ConvertDailyRange(kDays.front(), kDays.back());
    TickEngine(tree_->layout()).ConvertTickRange(kDays.front(), kDays.back());
    MinuteEngine(tree_->layout(), MinuteOptions{}).BuildMinuteLines(kDays.front(), kDays.back());
  }

  static DataView Read(const sample::SampleSecurity& s, ViewKind kind, int tckv4, int first = 0, int last = 0) {
    return ReadDataView(tree_->layout(), ViewRequest{s.market, s.code, kind, first, last, tckv4});
  }
  // Up to `count` securities of these types that exist on the first day.
  static std::vector<sample::SampleSecurity> OfTypes(const std::vector<int>& types, std::size_t count) {
    std::vector<sample::SampleSecurity> found;
    for (const sample::SampleSecurity& s : sample::SecurityUniverse(kDays.front(), kSample))
      if (std::count(types.begin(), types.end(), s.type) && found.size() < count) found.push_back(s);
    return found;
  }

  static TestTree* tree_;
};
TestTree* SampleTreeTest::tree_ = nullptr;

struct ScaleCase {
  const char* name;
  std::vector<int> types;
  int tckv4;
  int decimals;   // shown
  double factor;  // shown value / real value
};

class DailyScales : public SampleTreeTest, public ::testing::WithParamInterface<ScaleCase> {};

// The quote's prices as the conversion keeps them: the fill rule of
// close-only funds, and open/high/low that round to 0 take the close.
std::array<double, 4> StoredPrices(const sample::SampleQuote& q, int type, int decimals) {
  double o = q.open, h = q.high, l = q.low, c = q.close;
  if (type == 12 || type == 60 || type == 62) {
    for (double* p : {&o, &h, &l})
      if (*p <= 0.00009) *p = c;
    h = std::max(h, c), l = std::min(l, c);
  }
  for (double* p : {&o, &h, &l})
    if (std::trunc(*p * std::pow(10, decimals) + 0.503) == 0) *p = c;
  return {o, h, l, c};
}

TEST_P(DailyScales, RealValuesAreTheQuotes) {
  const ScaleCase& c = GetParam();
  int compared = 0;
  for (const sample::SampleSecurity& s : OfTypes(c.types, 8)) {
    const DataView view = Read(s, ViewKind::kDaily, c.tckv4);
    ASSERT_EQ(view.decimals, c.decimals) << s.code;
    for (std::size_t i = 0; i < view.rows.size(); ++i) {
      const int date = static_cast<int>(view.rows[i].date);
      const sample::SampleQuote* q = &QuoteOf(date, s.market, s.code);
      SCOPED_TRACE(s.code + " " + std::to_string(date));
      const auto prices = StoredPrices(*q, s.type, s.priceDecimals);
      const ViewColumn columns[] = {ViewColumn::kOpen, ViewColumn::kHigh, ViewColumn::kLow, ViewColumn::kClose};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(Cell(view, i, columns[k]), Fixed(c.decimals, prices[k] * c.factor));
      EXPECT_EQ(Cell(view, i, ViewColumn::kAmount), Fixed(2, static_cast<float>(q->amount)));
      if (view.index) {
        EXPECT_EQ(view.rows[i].volume, static_cast<uint32_t>(q->volume));
        EXPECT_EQ(view.rows[i].advancing, q->advancing);
        EXPECT_EQ(view.rows[i].declining, q->declining);
      } else {
        const int64_t whole = q->volume / DailyVolumeDivisor(s.market, s.code);
        const bool lotForm = s.lotSize != 1 && q->volume > 4290000000LL;
        EXPECT_EQ(view.rows[i].volume, lotForm ? whole : static_cast<uint32_t>(whole));
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(Classes, DailyScales,
                         ::testing::Values(ScaleCase{"share", {2, 3, 16, 52, 65}, 0, 2, 1},
                                           ScaleCase{"threeDecimals", {5, 11, 14, 54}, 0, 3, 1},
                                           ScaleCase{"bondWithTckv4", {7, 8, 9, 55, 56, 57, 64}, 1, 4, 1},
                                           ScaleCase{"bondWithoutTckv4", {8, 56}, 0, 3, 10},
                                           ScaleCase{"index", {1, 51}, 0, 2, 1},
                                           ScaleCase{"fundFillRule", {12, 60, 62}, 0, 3, 1},
                                           ScaleCase{"repoLotForm", {10, 58}, 0, 3, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TickCase {
  const char* name;
  std::vector<int> types;
};

class TickScales : public SampleTreeTest, public ::testing::WithParamInterface<TickCase> {};

// Ticks against the generated ticks; minute bars end the day at the last tick.
TEST_P(TickScales, TicksAndBarsAreTheSampleTicks) {
  int compared = 0;
  for (const sample::SampleSecurity& s : OfTypes(GetParam().types, 3)) {
    const auto day = sample::TickDayOf(kDays[1], s.market, s.code, kSample);
    if (!day) continue;
    SCOPED_TRACE(s.code);
    const DataView ticks = Read(s, ViewKind::kTicks, 1, kDays[1], kDays[1]);
    ASSERT_EQ(ticks.rows.size(), day->ticks.size());
    const double unit = std::pow(10, day->priceDecimals);
    const int decimals = PriceDecimals(s.market, s.code, 1);
    // The last tick's price as a bar stores it (a bar keeps `decimals` places) and shows it.
    const int64_t last = day->ticks.back().price;
    const int tickDecimals = day->priceDecimals;
    const int64_t stored = decimals >= tickDecimals ? last * PowerOf10(decimals - tickDecimals)
                                                    : last / PowerOf10(tickDecimals - decimals);
    const std::string lastClose = Fixed(decimals, static_cast<double>(stored) / PowerOf10(decimals));
    for (std::size_t i = 0; i < day->ticks.size(); ++i) {
      const sample::SampleTick& t = day->ticks[i];
      EXPECT_EQ(Cell(ticks, i, ViewColumn::kPrice), Fixed(ticks.decimals, t.price / unit));
      EXPECT_EQ(ticks.rows[i].time, t.seconds);
      EXPECT_EQ(ticks.rows[i].volume, static_cast<uint32_t>(t.volume));
      EXPECT_EQ(ticks.rows[i].tickKind, t.kind);
    }
    for (ViewKind kind : {ViewKind::kOneMinute, ViewKind::kFiveMinute}) {
      const DataView bars = Read(s, kind, 1, kDays[1], kDays[1]);
      ASSERT_EQ(bars.rows.size(), kind == ViewKind::kOneMinute ? 240u : 48u);
      EXPECT_EQ(Cell(bars, bars.rows.size() - 1, ViewColumn::kClose), lastClose);
      EXPECT_EQ(Cell(bars, 0, ViewColumn::kDate), "2024-03-12");
      const std::string csv = DataViewCsv(bars);
      EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), bars.rows.size() + 1);
    }
    const auto stems = SecuritiesWithData(tree_->layout(), ViewKind::kOneMinute);
    EXPECT_TRUE(std::binary_search(stems.begin(), stems.end(), SecurityStem(s.market, s.code)));
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

// A sink takes the rows the view keeps, every one of them, tick prices in
// 0.0001 units.
TEST_F(SampleTreeTest, ASinkTakesTheKeptRows) {
  struct Taken : ViewRowSink {
    void Start(const DataView&, std::size_t) override {}
    void Take(std::span<const ViewRow> run) override { rows.insert(rows.end(), run.begin(), run.end()); }
    std::vector<ViewRow> rows;
  };
  const sample::SampleSecurity s = OfTypes({2, 52}, 1).at(0);
  for (ViewKind kind : {ViewKind::kDaily, ViewKind::kOneMinute, ViewKind::kFiveMinute, ViewKind::kTicks}) {
    const DataView kept = Read(s, kind, 1);
    Taken taken;
    const DataView sunk = ReadDataView(tree_->layout(), ViewRequest{s.market, s.code, kind, 0, 0, 1}, taken);
    EXPECT_EQ(sunk.message, kept.message);
    ASSERT_EQ(taken.rows.size(), kept.rows.size());
    const int64_t scale = PowerOf10(sunk.decimals - kept.decimals);
    for (std::size_t i = 0; i < kept.rows.size(); ++i) {
      EXPECT_EQ(taken.rows[i].date, kept.rows[i].date) << i;
      EXPECT_EQ(taken.rows[i].close, kept.rows[i].close * scale) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, TickScales,
                         ::testing::Values(TickCase{"share", {2, 52}}, TickCase{"threeDecimals", {5, 14, 62}},
                                           TickCase{"bond", {8, 56}}, TickCase{"index", {1, 51}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------- hand-made files

DailyRecord Record(uint32_t date, uint32_t volume = 1000, uint16_t word28 = 0, uint16_t word30 = 1) {
  return DailyRecord{date, 1000, 1050, 990, 1020, 345.5f, volume, word28, word30};
}

struct Shown {
  uint32_t date;
  RowFlag flag;
  int64_t volume;
};

struct FileCase {
  const char* name;
  const char* code;  // sz
  std::vector<DailyRecord> records;
  std::size_t strayBytes;  // after the records
  int first, last;
  std::vector<Shown> rows;
  bool ok;
  const char* message;   // part of the message
  const char* csv = "";  // how its CSV begins
};

class DailyFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(DailyFiles, RowsFlagsAndVolumes) {
  const FileCase& c = GetParam();
  TestTree tree;
  if (!c.records.empty() || c.strayBytes > 0) {
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(c.records.data()),
                               reinterpret_cast<const uint8_t*>(c.records.data() + c.records.size()));
    bytes.resize(bytes.size() + c.strayBytes, 0);
    WriteFileBytes(tree.layout().DailyFile(0, c.code), bytes);
  }
  const DataView view = ReadDataView(tree.layout(), ViewRequest{0, c.code, ViewKind::kDaily, c.first, c.last, 0});
  EXPECT_EQ(view.ok, c.ok);
  EXPECT_NE(view.message.find(c.message), std::string::npos) << view.message;
  ASSERT_EQ(view.rows.size(), c.rows.size());
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    EXPECT_EQ(view.rows[i].date, c.rows[i].date) << i;
    EXPECT_EQ(view.rows[i].flag, c.rows[i].flag) << i;
    EXPECT_EQ(view.rows[i].volume, c.rows[i].volume) << i;
  }
  const std::string csv = DataViewCsv(view);
  EXPECT_EQ(csv.substr(0, std::strlen(c.csv)), c.csv);
  EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), view.rows.size() + 1);
}

constexpr RowFlag kOk = RowFlag::kNone, kZero = RowFlag::kZeroDate, kDisorder = RowFlag::kDateNotRising;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, DailyFiles, ::testing::Values(
    // Lot form: lots x lot size + remainder, the lot size from its low 8 bits (0x64 = 100, 0xF4 = 500).
    FileCase{"lotForms", "000001", {Record(20240311, 50000000, 7, 0xC364), Record(20240312, 3000, 300, 0xC3F4),
        Record(20240313, 3000, 0, 1), Record(20240314, 4000, 0, 0), Record(20240315, 3, 0, 0xC3D0),  // 2000
        Record(20240318, 3, 9, 0xC388),  // 5000
        // Outside the lot sizes markets use: the smallest multiple of ten above the remainder, else the bits.
        Record(20240319, 3, 4, 0xC332), Record(20240320, 2, 150, 0xC364), Record(20240321, 2, 0, 0xC307)}, 0, 0, 0,
        {{20240311, kOk, 5000000007}, {20240312, kOk, 1500300}, {20240313, kOk, 3000}, {20240314, kOk, 4000},
        {20240315, kOk, 6000}, {20240318, kOk, 15009}, {20240319, kOk, 154}, {20240320, kOk, 2910},
        {20240321, kOk, 14}},
        true, "共9条", "date,open,high,low,close,volume,amount,flag\n"
        "2024-03-11,10.00,10.50,9.90,10.20,5000000007,345.50,\n"},
    FileCase{"indexCounts", "399001", {Record(20240311, 77, 1200, 0xC3F4)}, 0, 0, 0, {{20240311, kOk, 77}},
        true, "sz399001日线共1条", "date,open,high,low,close,volume,amount,advancing,declining,flag\n"
        "2024-03-11,10.00,10.50,9.90,10.20,77,345.50,1200,50164,\n"},
    FileCase{"flags", "000001", {Record(0), Record(20240311), Record(20240312), Record(20240312), Record(0),
        Record(20240310)}, 0, 0, 0, {{0, kZero, 1000}, {20240311, kOk, 1000}, {20240312, kOk, 1000},
        {20240312, kDisorder, 1000}, {0, kZero, 1000}, {20240310, kOk, 1000}}, true, "其中3条日期异常",
        "date,open,high,low,close,volume,amount,flag\n0,10.00,10.50,9.90,10.20,1000,345.50,日期为0\n"},
    FileCase{"rangeKeepsZeroDatesInside", "000001", {Record(20240311), Record(20240312), Record(0),
        Record(20240313), Record(0), Record(20240314)}, 0, 20240312, 20240313,
        {{20240312, kOk, 1000}, {0, kZero, 1000}, {20240313, kOk, 1000}, {0, kZero, 1000}}, true, "共4条"},
    FileCase{"impossibleDateAsStoredAndFlagged", "000001", {Record(20230229), Record(20231399)}, 0, 0, 0,
        {{20230229, RowFlag::kNotADate, 1000}, {20231399, RowFlag::kNotADate, 1000}}, true, "其中2条日期异常",
        "date,open,high,low,close,volume,amount,flag\n20230229,"},
    FileCase{"nothingInRange", "000001", {Record(20240311)}, 0, 20240401, 20240430, {}, false, "没有日线数据"},
    FileCase{"strayBytes", "000001", {Record(20240311)}, 1, 0, 0, {{20240311, kOk, 1000}}, false,
        "sz000001日线文件长度异常"},
    FileCase{"shorterThanARecord", "000001", {}, 31, 0, 0, {}, false, "文件无数据"},
    FileCase{"missing", "000001", {}, 0, 0, 0, {}, false, "找不到文件"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A minute file longer than a piece of the read, without a whole day: every
// bar, in file order.
TEST(MinuteFile, EveryBarOfALongFileIsRead) {
  TestTree tree;
  std::vector<MinuteBar> bars(2500);
  for (std::size_t i = 0; i < bars.size(); ++i)
    bars[i] = MinuteBar{PackMinuteDate(20240311), 571, 1, 2, 1, static_cast<int32_t>(i), 0, 1, 0};
  WriteFileBytes(tree.layout().OneMinuteFile(0, "000001"),
                 std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(bars.data()),
                                      reinterpret_cast<const uint8_t*>(bars.data() + bars.size())));
  const DataView view = ReadDataView(tree.layout(), ViewRequest{0, "000001", ViewKind::kOneMinute, 0, 0, 0});
  ASSERT_EQ(view.rows.size(), bars.size());
  for (std::size_t i = 0; i < bars.size(); ++i) ASSERT_EQ(view.rows[i].close, bars[i].close) << i;
}

}  // namespace
}  // namespace marbloom::test
