#pragma once
// The minute engine: builds 1-minute and 5-minute line files from the tick
// store, and deletes or rescales date ranges in them. Reports through the
// status text, the progress fraction and the run log.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/security_walk.h"
#include "tickdata/minute_bar.h"
#include "tickdata/minute_day_builder.h"
#include "tickdata/minute_files.h"
#include "tickdata/tick_reader.h"

namespace marbloom {

// What the minute engine takes from the settings besides the layout.
struct MinuteOptions {
  int oneMinuteDays = 120;   // MINDAYS after clamping: 1-minute days a file keeps
  int fiveMinuteDays = 500;  // 5-minute days a file keeps
  int tckv4 = 1;             // TCKV4: four decimals for the ten-unit group
};

// Multipliers of a batch modify, in the order of the page's fields.
struct MinuteFactors {
  float open = 1.0f;
  float high = 1.0f;
  float low = 1.0f;
  float close = 1.0f;
  float volume = 1.0f;
  float amount = 1.0f;
};

class MinuteEngine : public OperationEngine {
 public:
  struct TickSecurity {
    int16_t market = 0;
    char code[7] = {};
    int32_t present = 1;
  };
  // Reads one tick day of a security; without one the engine reads the tick
  // store. A source is called from the engine's own thread only (one worker).
  using TickDaySource = std::function<std::optional<TickDay>(int market, std::string_view code, int date)>;

  static constexpr std::size_t kWorkBufferBytes = 3840000;
  static constexpr int kWorkBufferBars = static_cast<int>(kWorkBufferBytes / sizeof(MinuteBar));
  static constexpr int kMaxBuiltDays = kWorkBufferBars / kOneMinuteBarsPerDay;  // 500

  MinuteEngine(DataLayout layout, MinuteOptions options, TickDaySource source = {});

  // first = last = 0: every security's last 500 tick days replace its minute
  // files. Otherwise the days within first..last are merged into them. The
  // securities are shared among Workers() threads. Nothing to do when the
  // tick store lists no security.
  OperationResult BuildMinuteLines(int first, int last);

  // A stored block a tick conversion holds, with its index entry and its
  // ticks, which the conversion decoded before it stored the block.
  struct HeldBlock {
    TickIndexEntry entry;
    const uint8_t* bytes;
    const TickRecord* ticks;
    std::size_t count;
  };
  // For a tick conversion that minute lines follow: makes room for `workers`
  // workers, each used by one thread at a time.
  void PrepareWorkers(int workers);
  // Builds one security's minute files now, on worker `worker`, for the next
  // BuildMinuteLines(first, last): the days of `held` from those blocks (the
  // ones just committed to the security's pair), the other days from the
  // tick store. The returned report goes to KeepBuiltAhead.
  ItemReport BuildAhead(int market, const char* code, int first, int last, const std::vector<HeldBlock>& held,
                        int worker);
  // Called on the engine's thread: the next BuildMinuteLines takes the
  // security as built, delivering `report` in its turn, when it lists it.
  void KeepBuiltAhead(int market, const char* code, ItemReport report);

  // Lists the tick store's index files; false when nothing is listed.
  bool ListTickSecurities();
  const std::vector<TickSecurity>& TickSecurities() const { return securities_; }

  OperationResult DeleteOneMinuteRange(int first, int last);
  OperationResult DeleteFiveMinuteRange(int first, int last);
  // The page's minute delete: the 1-minute range delete, then the 5-minute
  // one; the result is the worse of the two, with the last message.
  OperationResult DeleteMinuteRange(int first, int last);
  OperationResult ModifyMinuteRange(int first, int last, const MinuteFactors& factors, std::string_view pattern);

  // Per-file steps of the maintenance. A missing file is left alone; one
  // whose length is not a non-zero multiple of 32 is reported and left alone.
  // Drops the bars dated first..last; a file left without bars is deleted.
  void DeleteMinuteBars(MinuteKind kind, int market, std::string_view code, int first, int last);
  // Scales prices, volume and amount of the bars dated first..last.
  void ModifyMinuteBars(MinuteKind kind, int market, std::string_view code, int first, int last,
                        const MinuteFactors& factors);

 private:
  struct WorkBuffer {
    WorkBuffer() : bars(std::make_unique_for_overwrite<MinuteBar[]>(kWorkBufferBars)) {}
    std::unique_ptr<MinuteBar[]> bars;
    int days = 0;
  };
  // What a worker of the build keeps from security to security.
  struct Worker {
    Worker(const DataLayout& layout, int i) : index(i), reader(layout) {}
    int index;                  // picks the worker's temporaries
    TickSecurityReader reader;  // the security being built, its pair judged once
    WorkBuffer built;           // days built from ticks, then a file's held days while merging
    WorkBuffer fresh;           // the new 1-minute days, then the derived 5-minute days
    WorkBuffer copy;            // the 1-minute days while 5-minute bars are derived
    const std::vector<HeldBlock>* held = nullptr;  // blocks in hand, read before the store
    GrowBuffer<TickRecord> ticks;
  };
  struct LoadedBars;

  // One security: its chosen tick days built, then both files written.
  void BuildSecurity(const TickSecurity& security, int first, int last, Worker& worker, ItemReport& report) const;
  // Builds the chosen tick days of one security into the worker's built
  // days. A pair whose index cannot be read is reported and builds nothing;
  // a day whose block does not read or decode is reported and skipped.
  int BuildSecurityDays(const TickSecurity& security, int first, int last, Worker& worker,
                        ItemReport& report) const;
  bool BuildOneDay(const TickSecurity& security, int date, const MinuteScales& scales, Worker& worker,
                   MinuteBar* bars) const;
  // Brings the file up to date with the worker's fresh days (of the kind's
  // bar length): nothing when it already ends with them byte for byte; an
  // append when they are all newer than its newest day and its retention
  // has room for them; else a merge that replaces the file. False when the
  // file could not be brought up to date.
  bool WriteMinuteFile(MinuteKind kind, const TickSecurity& security, int first, int last, Worker& worker,
                       ItemReport& report) const;
  OperationResult DeleteRange(MinuteKind kind, int first, int last);
  WalkEnd ModifyPass(MinuteKind kind, int first, int last, const MinuteFactors& factors, std::string_view pattern);
  bool LoadBars(MinuteKind kind, int market, std::string_view code, LoadedBars& loaded);
  bool ReplaceBars(MinuteKind kind, int market, std::string_view code, const std::vector<MinuteBar>& bars);
  void FileFailed(const char* format, MinuteKind kind, int market, std::string_view code);

  DataLayout layout_;
  MinuteOptions options_;
  TickDaySource source_;
  std::vector<TickSecurity> securities_;
  std::vector<std::unique_ptr<Worker>> workers_;  // made by the first build, kept for the next
  std::map<std::string, ItemReport> builtAhead_;  // by stem, for the next build
  bool wrote_ = false;  // the running operation changed the tree
};

}  // namespace marbloom
