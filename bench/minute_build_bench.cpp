// Minute-line building from the tick store, against the floor of inflating
// the same stored tick blocks with zlib and putting the bytes of the minute
// files on disk, measured in the same run.
//
// The store (default 3,000 securities x 120 sample tick days with realistic
// day lengths) is written once under a temporary folder and removed at the
// end. MARBLOOM_BENCH_MINUTE_SECURITIES, MARBLOOM_BENCH_MINUTE_DAYS and
// MARBLOOM_BENCH_MINUTE_QUICK=1 (short days) shrink it for quick runs.
//
//   whole store: BuildMinuteLines(0, 0), every security's days into fresh files;
//   range again: BuildMinuteLines over the last five days, which the files
//                already hold as the whole-store run wrote them;
//   range new:   the same five days after each file was cut back before them
//                (untimed), so that they are appended as new days;
//   at retention: the steady state of a tree at full retention: each file
//                holds all days but the newest (untimed), the retention is
//                that many days, and the newest day pushes out the oldest, so
//                that every file is replaced whole;
//   floor:       uncompress() of each stored block the run reads, then the
//                bytes the run must change put on disk: one write of each
//                security's two minute files and syncfs, as the build ends
//                with one: every day for the whole store, the five new days
//                for range new (an append), the kept days at retention (the
//                copy of the kept bytes a replacement makes), or nothing when
//                the files already hold the range's days (range again: its
//                ratio is ratio_inflate_only).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_reports.h"
#include "base/run_log.h"
#include "undo/journal_file_system.h"
#include "common/calendar.h"
#include "common/market.h"
#include "base/file_system.h"
#include "samplegen.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_formats.h"

namespace {

using namespace marbloom;
using Clock = std::chrono::steady_clock;

int EnvInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "minute bench: %s\n", what.c_str());
  std::exit(1);
}

struct StoredBlock {
  int dayIndex;
  int32_t unpackedLength;
  std::size_t ticks;
  std::vector<uint8_t> bytes;
};

struct Store {
  std::string root;
  DataLayout layout;
  MinuteOptions options;
  std::vector<int> dates;
  std::vector<int> daysPerSecurity;  // tick days, so minute days, of each security
  std::vector<StoredBlock> blocks;  // every block of every security
  std::size_t securities = 0;
};

// One security's pair, built in memory day by day.
struct Pair {
  std::vector<uint8_t> index, data;
  int first = 0, last = 0, count = 0;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    Fail("cannot write " + path);
  ::close(fd);
}

void AddDay(Pair& pair, const sample::SampleTickDay& day, int date, const std::vector<uint8_t>& stored) {
  TickIndexEntry entry{date, day.unpackedLength, static_cast<int32_t>(stored.size()), day.refPrice,
                       day.priceDecimals, day.spare};
  const auto* raw = reinterpret_cast<const uint8_t*>(&entry);
  pair.index.insert(pair.index.end(), raw, raw + sizeof entry);
  pair.data.insert(pair.data.end(), stored.begin(), stored.end());
  if (pair.count++ == 0) pair.first = date;
  pair.last = date;
}

std::string g_createdRoot;

Store& TheStore() {
  static Store store = [] {
    Store s;
    char pattern[] = "/tmp/marbloom-minute-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
    s.root = std::string(pattern) + "/";
    g_createdRoot = s.root;
    sample::SampleOptions options = sample::SampleOptions::FullMarket(5);
    options.securities = EnvInt("MARBLOOM_BENCH_MINUTE_SECURITIES", sample::kQuickSecurities);
    options.fullTickDays = EnvInt("MARBLOOM_BENCH_MINUTE_QUICK", 0) == 0;
    const int days = EnvInt("MARBLOOM_BENCH_MINUTE_DAYS", 120);
    for (int date = 20230102; static_cast<int>(s.dates.size()) < days; date = NextTradingDay(date))
      s.dates.push_back(date);
    std::map<std::string, Pair> pairs;
    for (std::size_t d = 0; d < s.dates.size(); ++d) {
      for (const sample::SampleTickDay& day : sample::TickDays(s.dates[d], options)) {
        std::vector<uint8_t> stored =
            sample::StoreTickBlock(sample::EncodeTickBlock(day.ticks, day.reserved), !day.storedUncompressed);
        AddDay(pairs[SecurityStem(day.market, day.code)], day, s.dates[d], stored);
        s.blocks.push_back({static_cast<int>(d), day.unpackedLength, day.ticks.size(), std::move(stored)});
      }
    }
    s.layout = DataLayout(s.root, s.root + "vipdoc/");
    std::filesystem::create_directories(s.layout.TickStoreDir());
    for (int market = 0; market < kMarketCount; ++market) {
      std::filesystem::create_directories(s.layout.OneMinuteDir(market));
      std::filesystem::create_directories(s.layout.FiveMinuteDir(market));
    }
    for (auto& [stem, pair] : pairs) {
      TickIndexHeader header{2, pair.first, pair.last, pair.count};
      const auto* raw = reinterpret_cast<const uint8_t*>(&header);
      pair.index.insert(pair.index.begin(), raw, raw + sizeof header);
      WriteFile(s.layout.TickIndexFile(stem), pair.index);
      WriteFile(s.layout.TickDataFile(stem), pair.data);
      s.daysPerSecurity.push_back(std::min(pair.count, MinuteEngine::kMaxBuiltDays));
    }
    s.securities = pairs.size();
    std::filesystem::create_directories(s.root + "floor/");
    std::filesystem::create_directories(s.layout.LogDir());
    s.layout = s.layout.WithReporter(BenchReports(s.layout.LogDir()));
    s.options.oneMinuteDays = 240;
    s.options.fiveMinuteDays = 500;
    s.options.tckv4 = 0;
    return s;
  }();
  return store;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Inflates every block of the days from `firstDay` on; returns the ticks they hold.
std::size_t InflateFloor(const Store& store, int firstDay, std::size_t* blocks) {
  static std::vector<uint8_t> out;
  std::size_t ticks = 0;
  *blocks = 0;
  for (const StoredBlock& b : store.blocks) {
    if (b.dayIndex < firstDay) continue;
    out.resize(2 * static_cast<std::size_t>(b.unpackedLength));
    uLongf length = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &length, b.bytes.data(), static_cast<uLong>(b.bytes.size())) != Z_OK)
      std::memcpy(out.data(), b.bytes.data(), std::min(out.size(), b.bytes.size()));
    benchmark::DoNotOptimize(out.data());
    ticks += b.ticks;
    ++*blocks;
  }
  return ticks;
}

// Writes each security's two minute files' worth of bytes (at most
// `maxDays` days), one write a file, and flushes them to disk.
void WriteFloor(const Store& store, int maxDays) {
  static const std::vector<uint8_t> bytes(MinuteEngine::kWorkBufferBytes, 0x5A);
  for (std::size_t i = 0; i < store.daysPerSecurity.size(); ++i) {
    const std::size_t days = static_cast<std::size_t>(std::min(store.daysPerSecurity[i], maxDays));
    for (std::size_t dayBytes : {kOneMinuteBlockBytes, kFiveMinuteBlockBytes}) {
      const std::string path = store.root + "floor/" + std::to_string(i) + "." + std::to_string(dayBytes);
      File file = RealFileSystem().Open(path, OpenMode::kWrite);
      if (!file.Write(bytes.data(), days * dayBytes, 0)) Fail("floor write");
    }
  }
  if (!RealFileSystem().SyncFileSystem(store.root)) Fail("syncfs failed");
}

void Report(benchmark::State& state, double runSeconds, double inflateSeconds, double floorSeconds, std::size_t ticks,
            std::size_t blocks) {
  state.counters["ticks_per_s"] = static_cast<double>(ticks) / runSeconds;
  state.counters["us_per_security_day"] = runSeconds * 1e6 / static_cast<double>(blocks);
  state.counters["floor_us_per_security_day"] = floorSeconds * 1e6 / static_cast<double>(blocks);
  state.counters["ratio"] = runSeconds / floorSeconds;
  state.counters["ratio_inflate_only"] = runSeconds / inflateSeconds;
  state.counters["security_days"] = static_cast<double>(blocks);
}

// Cuts every minute file back by its newest `days` day blocks and flushes the
// tree, so that a run finds those days new.
void CutMinuteFiles(const Store& store, int days) {
  for (int market = 0; market < kMarketCount; ++market) {
    for (const auto& [dir, block] : {std::pair{store.layout.OneMinuteDir(market), kOneMinuteBlockBytes},
                                     std::pair{store.layout.FiveMinuteDir(market), kFiveMinuteBlockBytes}}) {
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::uintmax_t size = entry.file_size();
        const std::uintmax_t cut = static_cast<std::uintmax_t>(days) * block;
        std::filesystem::resize_file(entry.path(), size > cut ? size - cut : 0);
      }
    }
  }
  if (!RealFileSystem().SyncFileSystem(store.root)) Fail("syncfs failed");
}

// cutDays > 0: the range's days are new to the files (cut back before each
// run) and the floor writes them whole; 0: the files hold them already and
// the floor writes nothing.
void RunAgainstFloor(benchmark::State& state, int firstDayIndex, int first, int last, int cutDays) {
  Store& store = TheStore();
  double inflateSeconds = 0, floorSeconds = 0, runSeconds = 0, journalSeconds = 0;
  std::size_t ticks = 0, blocks = 0;
  const bool whole = first == 0 && last == 0;
  for (auto _ : state) {
    if (cutDays > 0) CutMinuteFiles(store, cutDays);
    Clock::time_point start = Clock::now();
    ticks = InflateFloor(store, firstDayIndex, &blocks);
    inflateSeconds = Seconds(start);
    if (whole || cutDays > 0) WriteFloor(store, whole ? MinuteEngine::kMaxBuiltDays : cutDays);
    floorSeconds = Seconds(start);
    MinuteEngine engine(store.layout, store.options);
    start = Clock::now();
    if (!engine.BuildMinuteLines(first, last).done()) Fail("minute build did not run");
    runSeconds = Seconds(start);
    state.SetIterationTime(runSeconds);
    // Again with the undo journal on.
    if (cutDays > 0) CutMinuteFiles(store, cutDays);
    JournalFileSystem journal(RealFileSystem(), store.layout, "bench", "");
    MinuteEngine journalled(store.layout.WithFiles(journal), store.options);
    start = Clock::now();
    if (!journalled.BuildMinuteLines(first, last).done()) Fail("journalled minute build did not run");
    journalSeconds = Seconds(start);
  }
  Report(state, runSeconds, inflateSeconds, floorSeconds, ticks, blocks);
  state.counters["ratio_journal"] = journalSeconds / floorSeconds;
  state.counters["securities"] = static_cast<double>(store.securities);
}

void BM_MinuteWholeStore(benchmark::State& state) { RunAgainstFloor(state, 0, 0, 0, 0); }

// The last five days; `cutDays` as RunAgainstFloor takes it.
void RunLastFiveDays(benchmark::State& state, int cutDays) {
  Store& store = TheStore();
  const int n = static_cast<int>(store.dates.size());
  const int firstIndex = n > 5 ? n - 5 : 0;
  RunAgainstFloor(state, firstIndex, store.dates[static_cast<std::size_t>(firstIndex)], store.dates.back(),
                  cutDays);
}

void BM_MinuteRangeFiveDays(benchmark::State& state) { RunLastFiveDays(state, 0); }
void BM_MinuteRangeFiveNewDays(benchmark::State& state) { RunLastFiveDays(state, 5); }

void BM_MinuteAtRetentionNewDay(benchmark::State& state) {
  Store& store = TheStore();
  const int kept = static_cast<int>(store.dates.size()) - 1;
  MinuteOptions full = store.options;
  full.oneMinuteDays = full.fiveMinuteDays = kept;
  double inflateSeconds = 0, floorSeconds = 0, runSeconds = 0;
  std::size_t ticks = 0, blocks = 0;
  for (auto _ : state) {
    if (!MinuteEngine(store.layout, store.options).BuildMinuteLines(0, 0).done()) Fail("minute build did not run");
    CutMinuteFiles(store, 1);
    Clock::time_point start = Clock::now();
    ticks = InflateFloor(store, kept, &blocks);
    inflateSeconds = Seconds(start);
    WriteFloor(store, kept);
    floorSeconds = Seconds(start);
    MinuteEngine engine(store.layout, full);
    start = Clock::now();
    if (!engine.BuildMinuteLines(store.dates.back(), store.dates.back()).done()) Fail("minute build did not run");
    runSeconds = Seconds(start);
    state.SetIterationTime(runSeconds);
  }
  Report(state, runSeconds, inflateSeconds, floorSeconds, ticks, blocks);
  state.counters["securities"] = static_cast<double>(store.securities);
}

BENCHMARK(BM_MinuteWholeStore)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinuteRangeFiveDays)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinuteRangeFiveNewDays)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinuteAtRetentionNewDay)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!g_createdRoot.empty()) std::filesystem::remove_all(g_createdRoot);
  return 0;
}
