// A week of the sample market converted into a fresh tree, checked against
// values computed here from the sample's own quotes.
#include <gtest/gtest.h>

#include <map>

#include "common/dir_walk.h"
#include "common/security_class.h"
#include "daily/daily_check.h"
#include "daily/daily_conversion.h"
#include "daily/daily_store.h"
#include "daily_test_util.h"
#include "samplegen.h"

namespace marbloom::test {
namespace {

constexpr int kMonday = 20220502, kFriday = 20220506;

sample::SampleOptions Options() {
  sample::SampleOptions options = sample::SampleOptions::Quick(11);
  options.securities = 900;
  return options;
}

// The expected record of one quote, written out from the rules without the
// engine's helpers.
std::optional<DailyRecord> Expected(const sample::SampleSecurity& s, sample::SampleQuote q, int date) {
  const double eps = static_cast<double>(0.00009f);
  if (s.type == 12 || s.type == 60 || s.type == 62) {
    if (q.close <= eps) return std::nullopt;
    if (q.open <= eps) q.open = q.close;
    if (q.high <= eps) q.high = q.close;
    if (q.low <= eps) q.low = q.close;
    q.high = std::max(q.high, q.close);
    q.low = std::min(q.low, q.close);
  }
  const bool missing = q.open < eps || q.high < eps || q.low < eps;
  const bool index = s.type == 1 || s.type == 51 || s.type == 101;
  if ((q.status == 0 && missing) || q.close < eps) return std::nullopt;
  if (!index && q.volume == 0 && missing && q.auxiliaryZero) return std::nullopt;
  const double m = s.priceDecimals == 2 ? 100 : s.priceDecimals == 3 ? 1000 : s.priceDecimals == 4 ? 10000 : 100;
  auto price = [&](double p) { return static_cast<int32_t>(p * m + 0.503000020980835); };
  DailyRecord r{};
  r.date = static_cast<uint32_t>(date);
  r.close = price(q.close);
  r.open = price(q.open) ? price(q.open) : r.close;
  r.high = price(q.high) ? price(q.high) : r.close;
  r.low = price(q.low) ? price(q.low) : r.close;
  r.amount = static_cast<float>(q.amount);
  if (index) {
    r.volume = static_cast<uint32_t>(q.volume & 0xFFFFFFFF);
    r.word28 = q.advancing;
    r.word30 = q.declining;
  } else {
    const int64_t shares = q.volume / DailyVolumeDivisor(s.market, s.code);
    const bool lots = s.lotSize != 1 && q.volume > 4290000000LL;
    r.volume = static_cast<uint32_t>((lots ? shares / s.lotSize : shares) & 0xFFFFFFFF);
    r.word28 = lots ? static_cast<uint16_t>(shares % s.lotSize) : 0;
    r.word30 = lots ? static_cast<uint16_t>((s.lotSize & 0xFF) | 0xC300) : 1;
  }
  return r;
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const DataLayout& layout) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (int market = 0; market < 3; ++market)
    for (const WalkEntry& e : ListCountedFiles(layout.Files(), layout.DailyDir(market), "*"))
      files[e.name] = ReadFileBytes(layout.DailyDir(market) + e.name);
  return files;
}

class DailyEndToEndTest : public DailyTreeTest {
 protected:
  void SetUp() override {
    for (int date = kMonday; date <= kFriday; ++date)
      ASSERT_TRUE(sample::WriteDailySources(date, Options(), layout.DailySourceDir()));
  }
  DailyConversion engine{layout};
};

TEST_F(DailyEndToEndTest, WeekConvertsIntoSoundFilesWithIndependentlyComputedRecords) {
  ASSERT_EQ(engine.ConvertDailyRange(kMonday, kFriday).outcome, Outcome::kDone);
  EXPECT_EQ(DailyCheck(layout).CheckDailyFiles().failedItems, 0);
  int lotForms = 0, indexes = 0, filled = 0, compared = 0;
  for (int market = 0; market < 3; ++market) {
    const auto securities = sample::MarketUniverse(kFriday, market, Options());
    const auto quotes = sample::MarketQuotes(kFriday, market, Options());
    ASSERT_EQ(securities.size(), quotes.size());
    for (std::size_t k = 0; k < securities.size(); ++k) {
      const auto& s = securities[k];
      std::optional<DailyRecord> expected = Expected(s, quotes[k], kFriday);
      DailyRecord got{};
      const bool found = PathExists(DailyFilePath(market, s.code)) &&
                         DailyStore(layout, engine).ReadDailyRecord(market, s.code, kFriday, &got);
      ASSERT_EQ(found, expected.has_value()) << kMarketPrefix[market] << s.code;
      if (!found) continue;
      ASSERT_EQ(Bytes({got}), Bytes({*expected})) << kMarketPrefix[market] << s.code;
      ++compared;
      lotForms += (got.word30 >> 8) == 0xC3;
      indexes += s.type == 1 || s.type == 51 || s.type == 101;
      filled += (s.type == 12 || s.type == 60 || s.type == 62) && quotes[k].open == 0;
    }
  }
  EXPECT_GT(compared, 500);
  EXPECT_GT(lotForms, 0);
  EXPECT_GT(indexes, 0);
  EXPECT_GT(filled, 0);
}

TEST_F(DailyEndToEndTest, ConvertingTwiceLeavesTheTreeByteForByteTheSame) {
  ASSERT_EQ(engine.ConvertDailyRange(kMonday, kFriday).outcome, Outcome::kDone);
  const auto once = Snapshot(layout);
  ASSERT_GT(once.size(), 500u);
  ASSERT_EQ(engine.ConvertDailyRange(kMonday, kFriday).outcome, Outcome::kDone);
  EXPECT_TRUE(Snapshot(layout) == once);
}

TEST_F(DailyEndToEndTest, CancelInShanghaiKeepsShenzhenWholeAndBeijingUntouched) {
  test::OnStatus([this](const std::string& line) {
    if (line.find("正在转换上海") != std::string::npos) engine.Cancel();
  });
  ASSERT_EQ(engine.ConvertDailyRange(kMonday, kFriday).outcome, Outcome::kCancelled);
  const auto files = Snapshot(layout);
  int sz = 0, sh = 0, bj = 0;
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(bytes.size(), 32u) << name;
    (name[1] == 'z' ? sz : name[1] == 'h' ? sh : bj) += 1;
  }
  int szExpected = 0;
  const auto securities = sample::MarketUniverse(kMonday, 0, Options());
  const auto quotes = sample::MarketQuotes(kMonday, 0, Options());
  for (std::size_t k = 0; k < securities.size(); ++k) szExpected += Expected(securities[k], quotes[k], kMonday) ? 1 : 0;
  EXPECT_EQ(sz, szExpected);
  EXPECT_EQ(sh, 1);
  EXPECT_EQ(bj, 0);
}

}  // namespace
}  // namespace marbloom::test
