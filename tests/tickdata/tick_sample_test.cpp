// The sample market's tick archives converted into the store and read back.
#include <gtest/gtest.h>

#include "common/security_class.h"
#include "samplegen.h"
#include "support/temp_dir.h"
#include "tickdata/tick_codec.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_reader.h"

namespace marbloom::test {
namespace {

TEST(TickSampleMarket, ConvertedDaysReadBackAsGenerated) {
  TestTree tree;
  const DataLayout layout = tree.layout();
  sample::SampleOptions options = sample::SampleOptions::Quick(7);
  options.securities = 300;
  constexpr int kDays[] = {20240108, 20240109};
  for (int date : kDays) ASSERT_TRUE(sample::WriteTickArchive(date, options, layout.TickArchiveDir()));
  TickEngine engine(layout);
  ASSERT_TRUE(engine.ConvertTickRange(kDays[0], kDays[1]).done());
  int checked = 0;
  for (int date : kDays) {
    for (const sample::SampleTickDay& day : sample::TickDays(date, options)) {
      auto read = ReadTickDay(layout, day.market, day.code, date);
      ASSERT_TRUE(read) << day.market << day.code << " " << date;
      ASSERT_EQ(read->ticks.size(), day.ticks.size());
      EXPECT_EQ(read->refPrice, day.refPrice);
      const bool running = TypeIn(ClassifySecurity(day.market, day.code), TypeSet::kRunningExtra);
      for (std::size_t i = 0; i < day.ticks.size(); ++i) {
        const sample::SampleTick& t = day.ticks[i];
        const TickRecord& r = read->ticks[i];
        ASSERT_EQ(r.minute * 60 + r.second, t.seconds);
        ASSERT_EQ(r.price, RescaleTickPrice(static_cast<int32_t>(t.price), day.priceDecimals));
        ASSERT_EQ(r.volume, static_cast<int32_t>(static_cast<uint32_t>(t.volume)));
        ASSERT_EQ(r.extra, running ? static_cast<int32_t>(static_cast<uint32_t>(t.runningValue)) : t.plainValue);
        ASSERT_EQ(r.kind, t.kind);
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 400);
  const OperationResult check = engine.CheckTickFiles();
  EXPECT_TRUE(check.done());
  EXPECT_EQ(check.failedItems, 0);
}

}  // namespace
}  // namespace marbloom::test
