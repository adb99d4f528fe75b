#pragma once
// The tick engine: merges daily tick archives into the tick store, deletes
// date ranges from it and checks it, on the tree a layout names. Reports
// through the status line, the progress fraction and the run log, and
// returns each operation's result.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/security_walk.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_codec.h"
#include "tickdata/tick_reader.h"

namespace marbloom {

inline constexpr int kMaxLoadedTickArchives = 31;

class TickEngine : public OperationEngine {
 public:
  explicit TickEngine(DataLayout layout);

  // Merges the archives of the trading days first..last into every listed
  // security's pair, the securities shared among Workers() threads. Each
  // block is decoded before it is stored. Archives that are there but do not
  // load, damaged pairs, blocks that do not read or decode (not stored; an
  // old day of their date stays) and pairs that cannot be written are logged
  // and fail the run.
  OperationResult ConvertTickRange(int first, int last);
  // Minute lines follow the next conversions: each security whose pair was
  // written has its minute files built by `minutes` right away, from the
  // blocks in hand, for minutes->BuildMinuteLines(first, last) to take. Null
  // stops it. `minutes` must outlive the conversions.
  void FollowWithMinutes(MinuteEngine* minutes) { minutes_ = minutes; }

  // Deletes the days first..last from every pair.
  OperationResult DeleteTickRange(int first, int last);
  // Rewrites one pair without the days first..last; false when the pair is
  // damaged (left as it is) or could not be written.
  bool DeleteTickDays(std::string_view stem, int first, int last);

  // Checks every pair; failedItems is the number of damaged pairs (each
  // logged with its reason) and the message the page's count line. `deep`
  // also inflates and decodes every block of each good pair.
  OperationResult CheckTickFiles(bool deep = false);
  // True for a good pair; false when damaged, the reason reported.
  bool CheckTickFile(std::string_view stem);
  // True when every block of the security's pair inflates and decodes; each
  // day that does not is reported.
  bool CheckTickBlocks(int market, std::string_view code);

  // The end of a pair's rewrite, shared with the repair: the failure is
  // reported into `report` (WriteFailed is always false).
  static bool WriteFailed(std::string_view stem, ItemReport& report);
  static bool Replace(TickPairWriter& writer, std::string_view stem, TickPairWriter::WhenEmpty whenEmpty,
                      ItemReport& report);

  // A security of the conversion's list: where it sits in each loaded archive
  // (1-based; 0 when absent).
  struct ListedSecurity {
    int16_t market = 0;
    char code[7] = {};
    std::array<int32_t, kMaxLoadedTickArchives> position{};
  };

 private:
  // What a worker of the conversion keeps from security to security.
  struct Worker {
    explicit Worker(int i) : index(i) {}
    int index;     // picks the worker's temporaries
    TickPair old;  // the pair being written
    std::array<GrowBuffer<uint8_t>, kMaxLoadedTickArchives> blocks;     // one per archive, reused
    std::array<GrowBuffer<TickRecord>, kMaxLoadedTickArchives> ticks;  // their ticks, decoded
    TickBlockUnpacker unpacker;
    std::vector<MinuteEngine::HeldBlock> held;  // the blocks written
  };

  std::vector<TickArchive> LoadArchives(int first, int last);
  std::vector<ListedSecurity> ListSecurities(const std::vector<TickArchive>& archives);
  // True when the pair was written with the days in worker.held.
  bool MergeSecurity(const ListedSecurity& security, const std::vector<TickArchive>& archives, int first,
                     Worker& worker, ItemReport& report) const;
  static bool OldPairUsable(const TickPair& pair, std::string_view stem, ItemReport& report);
  bool DeleteDays(std::string_view stem, int first, int last, ItemReport& report);
  void Deliver(ItemReport& report);
  // Names the files securities [from, to) of `list` are about to change
  // (FileSystem::BeforeChanges): the data files only grow unless a pair is
  // rewritten, the indexes are replaced, and so may the minute files be.
  void BeforeMerging(const std::vector<ListedSecurity>& list, std::size_t from, std::size_t to) const;

  DataLayout layout_;
  TickPair old_;               // the pair the range delete or the check looks at
  TickSecurityReader reader_;  // the pair whose blocks the deep check decodes
  bool wrote_ = false;         // the running operation changed the tree
  MinuteEngine* minutes_ = nullptr;
};

}  // namespace marbloom
