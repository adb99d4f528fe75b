// The sample market: determinism, the universe, the daily files' records and
// the tick archive, each checked against the in-memory model.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "common/little_endian.h"
#include "common/security_class.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "tickdata/tick_formats.h"

namespace marbloom::sample {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kDay = 20220505;

SampleOptions Small(uint64_t seed = 7) { return SampleOptions{seed, 600, false}; }

TEST(SampleMarketDeterminism, SameSeedAndDateGiveTheSameBytes) {
  test::TempDir a, b;
  ASSERT_TRUE(WriteDailySources(kDay, Small(), a.path()));
  ASSERT_TRUE(WriteTickArchive(kDay, Small(), a.path()));
  ASSERT_TRUE(WriteDailySources(kDay, Small(), b.path()));
  ASSERT_TRUE(WriteTickArchive(kDay, Small(), b.path()));
  const char* names[] = {"sz220505.cod", "sz220505.md1", "sh220505.cod", "sh220505.md1",
                         "bj220505.cod", "bj220505.md1", "20220505.htc"};
  for (const char* name : names) {
    const Bytes first = test::ReadFileBytes(a.path() + name);
    EXPECT_FALSE(first.empty()) << name;
    EXPECT_EQ(first, test::ReadFileBytes(b.path() + name)) << name;
  }
  EXPECT_NE(QuoteFileBytes(kDay, 0, Small(7)), QuoteFileBytes(kDay, 0, Small(8)));
  EXPECT_NE(QuoteFileBytes(kDay, 0, Small()), QuoteFileBytes(20220506, 0, Small()));
}

TEST(SampleMarketUniverse, CoversEveryTypeGroupWithConsistentDecimals) {
  std::set<int> types;
  for (const SampleSecurity& s : SecurityUniverse(kDay, Small())) {
    types.insert(s.type);
    EXPECT_EQ(s.type, ClassifySecurity(s.market, s.code)) << s.code;
    EXPECT_EQ(s.code.size(), 6u);
    const int unit = VolumeUnit(s.market, s.code);
    if (IsIndexType(s.type)) {
      EXPECT_EQ(s.lotSize, 1);
      EXPECT_EQ(s.priceDecimals, 2);
    } else if (unit == 10) {
      EXPECT_EQ(s.lotSize, 10) << s.code;
      EXPECT_GE(s.priceDecimals, 3) << s.code;
    }
  }
  const int expected[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 14, 15, 16, 17, 49, 51, 52, 53,
                          54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 99, 101, 110, 111, 112, 117, 119};
  for (int t : expected) EXPECT_TRUE(types.count(t)) << "type " << t;
}

TEST(SampleMarketUniverse, StableFromDayToDayWithFewChanges) {
  const SampleOptions options{3, 3000, false};
  auto codes = [&](int date) {
    std::set<std::string> out;
    for (const SampleSecurity& s : SecurityUniverse(date, options)) out.insert(std::to_string(s.market) + s.code);
    return out;
  };
  const auto early = codes(20220505), next = codes(20220506), late = codes(20240105);
  EXPECT_LE(std::max(early.size(), next.size()) - std::min(early.size(), next.size()), 3u);
  std::vector<std::string> listed, delisted;
  std::set_difference(late.begin(), late.end(), early.begin(), early.end(), std::back_inserter(listed));
  std::set_difference(early.begin(), early.end(), late.begin(), late.end(), std::back_inserter(delisted));
  EXPECT_FALSE(listed.empty());
  EXPECT_FALSE(delisted.empty());
  EXPECT_LT(listed.size() + delisted.size(), early.size() / 20);
}

TEST(SampleDailyFiles, RecordsCarryTheModelsFields) {
  for (int market = 0; market < 3; ++market) {
    const auto list = MarketUniverse(kDay, market, Small());
    const auto quotes = MarketQuotes(kDay, market, Small());
    const Bytes cod = CodeListBytes(kDay, market, Small());
    const Bytes md1 = QuoteFileBytes(kDay, market, Small());
    ASSERT_EQ(list.size(), quotes.size());
    ASSERT_EQ(cod.size(), list.size() * kCodeListRecordSize);
    ASSERT_EQ(md1.size(), list.size() * kQuoteRecordSize);
    for (std::size_t k = 0; k < list.size(); ++k) {
      const uint8_t* c = &cod[k * kCodeListRecordSize];
      const uint8_t* q = &md1[k * kQuoteRecordSize];
      EXPECT_STREQ(reinterpret_cast<const char*>(c), list[k].code.c_str());
      EXPECT_EQ(LoadLE<int16_t>(c + 34), list[k].lotSize);
      EXPECT_EQ(c[39], list[k].priceDecimals);
      EXPECT_EQ(static_cast<int8_t>(c[85]), list[k].type);
      EXPECT_EQ(quotes[k].code, list[k].code);
      EXPECT_EQ(LoadLE<int32_t>(q + 0), quotes[k].status);
      EXPECT_EQ(LoadLE<double>(q + 12), quotes[k].open);
      EXPECT_EQ(LoadLE<double>(q + 36), quotes[k].close);
      EXPECT_EQ(LoadLE<int64_t>(q + 56), quotes[k].volume);
      EXPECT_EQ(LoadLE<double>(q + 72), quotes[k].amount);
      EXPECT_EQ(LoadLE<uint16_t>(q + 152), quotes[k].advancing);
      EXPECT_EQ(LoadLE<uint16_t>(q + 232), quotes[k].declining);
      const bool auxZero = std::all_of(q + 322, q + 330, [](uint8_t b) { return b == 0; });
      EXPECT_EQ(auxZero, quotes[k].auxiliaryZero);
    }
    EXPECT_EQ(CodeListFileName(kDay, market), std::string(market == 0 ? "sz" : market == 1 ? "sh" : "bj") + "220505.cod");
  }
}

TEST(SampleDailyFiles, ProducesTheAwkwardCases) {
  const SampleOptions options{5, 3000, false};
  int suspended = 0, closeOnlyFund = 0, lotForm = 0, indexCounts = 0, noTradeWithAux = 0;
  for (int market = 0; market < 3; ++market) {
    const auto list = MarketUniverse(kDay, market, options);
    const auto quotes = MarketQuotes(kDay, market, options);
    for (std::size_t k = 0; k < list.size(); ++k) {
      const SampleQuote& q = quotes[k];
      EXPECT_GT(q.close, 0) << q.code;
      const int type = list[k].type;
      const bool zeroPrices = q.open == 0 && q.high == 0 && q.low == 0;
      if (zeroPrices && q.status == 0 && (type == 12 || type == 60 || type == 62)) ++closeOnlyFund;
      else if (zeroPrices && q.status == 0) ++suspended;
      if (zeroPrices && q.status != 0 && q.volume == 0 && !q.auxiliaryZero) ++noTradeWithAux;
      if (!IsIndexType(type) && list[k].lotSize != 1 && q.volume > 4290000000LL) ++lotForm;
      if (IsIndexType(type) && (q.advancing || q.declining)) ++indexCounts;
      if (!zeroPrices) {
        EXPECT_LE(q.low, std::min(q.open, q.close)) << q.code;
        EXPECT_GE(q.high, std::max(q.open, q.close)) << q.code;
      }
    }
  }
  EXPECT_GT(suspended, 10);
  EXPECT_GT(closeOnlyFund, 10);
  EXPECT_GT(lotForm, 5);
  EXPECT_GT(indexCounts, 50);
  EXPECT_GT(noTradeWithAux, 0);
}

// The tick archive read back entry by entry.
struct ArchiveEntry {
  TickArchiveEntry entry;
  Bytes stored;
};

std::vector<ArchiveEntry> ParseArchive(const Bytes& htc) {
  std::vector<ArchiveEntry> out;
  const int32_t count = LoadLE<int32_t>(&htc[12]);
  std::size_t pos = kTickArchiveHeaderSize;
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_LE(pos + sizeof(TickArchiveEntry), htc.size());
    if (pos + sizeof(TickArchiveEntry) > htc.size()) break;
    ArchiveEntry e;
    std::memcpy(&e.entry, &htc[pos], sizeof e.entry);
    pos += sizeof e.entry;
    EXPECT_LE(pos + static_cast<std::size_t>(e.entry.dataLength), htc.size());
    if (pos + static_cast<std::size_t>(e.entry.dataLength) > htc.size()) break;
    e.stored.assign(htc.begin() + static_cast<long>(pos), htc.begin() + static_cast<long>(pos) + e.entry.dataLength);
    pos += static_cast<std::size_t>(e.entry.dataLength);
    out.push_back(std::move(e));
  }
  EXPECT_EQ(pos, htc.size());
  return out;
}

TEST(SampleTickArchive, EntriesMatchTheModelsTickDays) {
  const Bytes htc = TickArchiveBytes(kDay, Small());
  const std::vector<SampleTickDay> days = TickDays(kDay, Small());
  const std::vector<ArchiveEntry> entries = ParseArchive(htc);
  ASSERT_EQ(entries.size(), days.size());
  ASSERT_FALSE(days.empty());
  int plain = 0;
  for (std::size_t i = 0; i < days.size(); ++i) {
    const TickArchiveEntry& e = entries[i].entry;
    const SampleTickDay& d = days[i];
    EXPECT_EQ(+e.market, d.market);
    EXPECT_EQ(std::string(e.code, 6), d.code);
    EXPECT_EQ(+e.date, kDay);
    EXPECT_EQ(+e.unpackedLength, d.unpackedLength);
    EXPECT_EQ(static_cast<double>(e.refPrice), d.refPrice);
    EXPECT_EQ(+e.priceDecimals, +d.priceDecimals);
    EXPECT_EQ(+e.spare, +d.spare);
    const Bytes block = EncodeTickBlock(d.ticks, d.reserved);
    ASSERT_EQ(static_cast<std::size_t>(d.unpackedLength), block.size());
    Bytes inflated(block.size() * 2);
    uLongf size = static_cast<uLongf>(inflated.size());
    const int rc = uncompress(inflated.data(), &size, entries[i].stored.data(), static_cast<uLong>(entries[i].stored.size()));
    EXPECT_EQ(rc != Z_OK, d.storedUncompressed) << d.code;
    if (rc == Z_OK) {
      inflated.resize(size);
      EXPECT_EQ(inflated, block) << d.code;
    } else {
      EXPECT_EQ(entries[i].stored, block) << d.code;
      ++plain;
    }
    const auto one = TickDayOf(kDay, d.market, d.code, Small());
    if (i % 97 == 0) {
      ASSERT_TRUE(one.has_value());
      EXPECT_EQ(one->ticks.size(), d.ticks.size());
    }
  }
  EXPECT_GT(plain, 0);
}

TEST(SampleTickArchive, TickDaysProduceTheAwkwardCases) {
  const std::vector<SampleTickDay> days = TickDays(kDay, SampleOptions{11, 3000, false});
  int auction = 0, lunch = 0, atClose = 0, afterClose = 0, falling = 0, bigVolume = 0;
  std::set<int> kinds;
  for (const SampleTickDay& d : days) {
    ASSERT_FALSE(d.ticks.empty());
    if (d.ticks.front().seconds < 34200) ++auction;
    for (std::size_t i = 0; i < d.ticks.size(); ++i) {
      const SampleTick& t = d.ticks[i];
      kinds.insert(t.kind);
      if (t.seconds >= 41400 && t.seconds < 46800) ++lunch;
      if (t.seconds == 54000) ++atClose;
      if (t.seconds > 54000) ++afterClose;
      if (t.volume >= (int64_t{1} << 30)) ++bigVolume;
      if (i > 0) {
        EXPECT_GE(t.seconds, d.ticks[i - 1].seconds);
        if (t.price < d.ticks[i - 1].price) ++falling;
      }
    }
  }
  EXPECT_EQ(kinds, (std::set<int>{0, 1, 2}));
  EXPECT_GT(auction, 100);
  EXPECT_GT(lunch, 10);
  EXPECT_GT(atClose, 100);
  EXPECT_GT(afterClose, 10);
  EXPECT_GT(falling, 1000);
  EXPECT_GT(bigVolume, 0);
}

TEST(SampleTickArchive, OnlyTradedSecuritiesHaveADay) {
  const auto quotes = MarketQuotes(kDay, 0, Small());
  for (const SampleQuote& q : quotes) {
    const bool traded = q.open > 0;
    EXPECT_EQ(TickDayOf(kDay, 0, q.code, Small()).has_value(), traded) << q.code;
  }
  EXPECT_FALSE(TickDayOf(kDay, 0, "999999", Small()).has_value());
}

}  // namespace
}  // namespace marbloom::sample
