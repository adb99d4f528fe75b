#pragma once
// The tick engine: merges daily tick archives into the tick store, deletes
// date ranges from it and checks it. Reports through the status line, the
// progress fraction and the run log.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "common/operation_engine.h"
#include "tickdata/tick_reader.h"

namespace marbloom {

inline constexpr int kMaxLoadedTickArchives = 31;

class TickEngine : public OperationEngine {
 public:
  // Merges the archives of the trading days first..last into every listed
  // security's pair. Always 0; the outcome is in the status line and the log.
  int ConvertTickRange(int first, int last);

  // 1 done, -3 cancelled, 0 when the store holds no index file.
  int DeleteTickRange(int first, int last);
  // Rewrites one pair without the days first..last; a pair that is not
  // usable is left as it is.
  void DeleteTickDays(std::string_view stem, int first, int last);

  // Number of damaged pairs (each logged with its reason).
  int CheckTickFiles();
  // 1 good, 0 damaged (the reason already reported).
  int CheckTickFile(std::string_view stem);

  // A security of the conversion's list: where it sits in each loaded archive
  // (1-based; 0 when absent).
  struct ListedSecurity {
    int16_t market = 0;
    char code[7] = {};
    std::array<int32_t, kMaxLoadedTickArchives> position{};
  };

 private:
  std::vector<ListedSecurity> ListSecurities(const std::vector<TickArchive>& archives) const;
  void MergeSecurity(const ListedSecurity& security, const std::vector<TickArchive>& archives, int first);
  bool ReserveBlockBuffer(int32_t length);

  TickReader reader_;
  std::unique_ptr<uint8_t[]> blockBuffer_;  // reused for every archive block
  int32_t blockCapacity_ = 0;
};

}  // namespace marbloom
