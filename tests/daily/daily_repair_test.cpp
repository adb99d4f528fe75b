// The repair of a daily file damaged at one offset: what it keeps is read
// back and compared with the records that were there, so that no usable
// record is lost to it.
#include <gtest/gtest.h>

#include "daily/daily_repair.h"
#include "daily_test_util.h"

namespace marbloom::test {
namespace {

std::vector<uint8_t> Le32(uint32_t value) {
  std::vector<uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

struct DailyDamage {
  const char* name;
  std::size_t offset;
  std::vector<uint8_t> bytes;     // written over the file at `offset`; past its end they grow it
  std::vector<std::size_t> kept;  // the damaged file's records the repair keeps, in their new order
};

class DailyRepairTest : public DailyTreeTest, public ::testing::WithParamInterface<DailyDamage> {
 protected:
  DailyRepair engine{layout};
};

TEST_P(DailyRepairTest, KeepsEveryUsableRecordOfTheDamagedFile) {
  const std::string path = DailyFilePath(0, "000001");
  WriteDaily(0, "000001", {Rec(20220502, 1), Rec(20220503, 2), Rec(20220504, 3), Rec(20220505, 4), Rec(20220506, 5)});
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  const DailyDamage& damage = GetParam();
  bytes.resize(std::max(bytes.size(), damage.offset + damage.bytes.size()));
  std::copy(damage.bytes.begin(), damage.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(damage.offset));
  WriteFileBytes(path, bytes);
  const std::vector<DailyRecord> damaged = Records(bytes);

  EXPECT_EQ(engine.RepairDailyFiles().outcome, Outcome::kDone);
  std::vector<DailyRecord> expected;
  for (std::size_t k : damage.kept) expected.push_back(damaged[k]);
  EXPECT_EQ(ReadFileBytes(path), Bytes(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, DailyRepairTest,
    ::testing::Values(DailyDamage{"FirstDateZero", 0, Le32(0), {1, 2, 3, 4}},
                      DailyDamage{"DateAfterToday", 32, Le32(20991231), {0, 2, 3, 4}},
                      DailyDamage{"NoCalendarDate", 64, Le32(20221345), {0, 1, 3, 4}},
                      DailyDamage{"DateOutOfOrder", 96, Le32(20220501), {3, 0, 1, 2, 4}},
                      DailyDamage{"DateTwice", 128, Le32(20220505), {0, 1, 2, 4}},
                      DailyDamage{"PartialRecordAtTheEnd", 160, {7, 7, 7, 7, 7}, {0, 1, 2, 3, 4}},
                      DailyDamage{"PriceOfASoundFile", 4, Le32(0), {0, 1, 2, 3, 4}}),
    [](const ::testing::TestParamInfo<DailyDamage>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
