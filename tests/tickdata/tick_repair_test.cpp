// The repair of a tick pair damaged at one offset: what it keeps is read back
// and compared with the days that were there, so that no readable day is
// lost to it.
#include <gtest/gtest.h>

#include <cstring>

#include "tick_test_support.h"
#include "tickdata/tick_repair.h"

namespace marbloom::test {
namespace {

const std::vector<StoredDay> kDays = {MakeDay(20240102, 1), MakeDay(20240103, 2), MakeDay(20240104, 3)};
constexpr std::size_t kEntry = 16;  // the first index entry; each next one 22 bytes on

Bytes Le32(int32_t value) {
  Bytes bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

struct TickDamage {
  const char* name;
  bool index;          // the index file, else the data file
  std::size_t offset;  // where `bytes` go; past the end they grow the file
  Bytes bytes;
  std::size_t cut;     // bytes cut from the end of the file first
  bool deep;           // the repair decodes every block
  std::vector<std::pair<std::size_t, int32_t>> kept;  // each day kept: its place in kDays and its date after
};

class TickRepairTest : public ::testing::TestWithParam<TickDamage> {
 protected:
  TestTree tree;
  DataLayout layout = tree.layout();
  TickRepair engine{layout};
};

TEST_P(TickRepairTest, KeepsEveryReadableDayOfTheDamagedPair) {
  WritePair(layout, "sz000001", kDays);
  const TickDamage& damage = GetParam();
  const std::string path = damage.index ? layout.TickIndexFile("sz000001") : layout.TickDataFile("sz000001");
  Bytes bytes = ReadFileBytes(path);
  bytes.resize(bytes.size() - damage.cut);
  bytes.resize(std::max(bytes.size(), damage.offset + damage.bytes.size()));
  std::copy(damage.bytes.begin(), damage.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(damage.offset));
  WriteFileBytes(path, bytes);

  EXPECT_EQ(engine.RepairTickFiles(damage.deep).outcome, Outcome::kDone);
  std::vector<StoredDay> expected;
  for (const auto& [day, date] : damage.kept) {
    expected.push_back(kDays[day]);
    expected.back().date = date;
  }
  EXPECT_EQ(ReadFileBytes(layout.TickIndexFile("sz000001")), IndexBytes(expected));
  EXPECT_EQ(ReadFileBytes(layout.TickDataFile("sz000001")), DataBytes(expected));
}

const std::size_t kFirstBlock = kDays[0].stored.size();
const std::vector<std::pair<std::size_t, int32_t>> kAllDays = {{0, 20240102}, {1, 20240103}, {2, 20240104}};

INSTANTIATE_TEST_SUITE_P(
    Offsets, TickRepairTest,
    ::testing::Values(
        TickDamage{"HeaderCount", true, 12, Le32(7), 0, false, kAllDays},
        TickDamage{"EntryDatedZero", true, kEntry + 22, Le32(0), 0, false, {{0, 20240102}, {2, 20240104}}},
        TickDamage{"EntryOutOfOrder", true, kEntry + 44, Le32(20240101), 0, false,
                   {{2, 20240101}, {0, 20240102}, {1, 20240103}}},
        TickDamage{"DataShortByOneByte", false, 0, {}, 1, false, {{0, 20240102}, {1, 20240103}}},
        TickDamage{"UncommittedTail", false, DataBytes(kDays).size(), Bytes(900, 3), 0, false, kAllDays},
        TickDamage{"BlockThatDoesNotInflate", false, kFirstBlock + 2, Bytes(8, 0xFF), 0, true,
                   {{0, 20240102}, {2, 20240104}}}),
    [](const ::testing::TestParamInfo<TickDamage>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marbloom::test
