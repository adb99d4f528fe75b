// Tick conversion and tick reading against floors measured in the same run.
//
// The store: about 3,000 sample securities with 120 days each (blocks of the
// sample market's week reused for the older dates), written once under a
// temporary folder and removed at the end. MARBLOOM_BENCH_TICK_SECURITIES
// shrinks or grows it.
//
//   convert: ConvertTickRange over the five-day week (it ends with syncfs);
//   floor:   per security copy_file_range of its old data file into a new
//            file, then pread + append of its new blocks, then syncfs;
//   check:   the decode the conversion makes of every archive block before
//            it stores it, alone on one thread, against the conversion
//            (ratio_vs_convert); the conversion shares it among its workers
//            (share_of_convert: the ratio over the workers; target <= 0.1);
//   read:    ReadTickDay of every security for one day (a reader per call);
//   floor:   zlib uncompress of the same stored blocks alone;
//   history: ConvertTickRange of the week's first day into a store holding
//            240 earlier days per security (the day appended) against the
//            same day into an empty store; target ratio_vs_empty <= 1.2.
//            Each round starts from the same store (restored untimed).
// The output names the file system the store lies on.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <zlib.h>

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
#include "base/file_helpers.h"
#include "common/calendar.h"
#include "undo/journal_file_system.h"
#include "common/market.h"
#include "samplegen.h"
#include "tickdata/tick_engine.h"
#include "tickdata/tick_formats.h"
#include "tickdata/tick_pair.h"
#include "tickdata/tick_reader.h"

namespace {

using namespace marbloom;
using Clock = std::chrono::steady_clock;

constexpr int kFirstDay = 20240108, kLastDay = 20240112, kHistoryDays = 120;

void Fail(const std::string& what) {
  std::fprintf(stderr, "tick bench: %s\n", what.c_str());
  std::exit(1);
}

struct Security {
  int market;
  std::string code;
  std::string stem;
  std::vector<const TickArchiveItem*> newBlocks;  // one per archive day it occurs in
  std::vector<int> newArchive;                    // index of that archive
};

struct Store {
  std::string root;
  DataLayout layout;
  std::vector<TickArchive> archives;
  std::vector<Security> securities;
  int64_t outputBytes = 0;  // data bytes the conversion writes
  double floorSeconds = 0, inflateSeconds = 0, convertSeconds = 0;
};

std::string g_root;
void RemoveRoot() {
  if (!g_root.empty()) std::filesystem::remove_all(g_root);
}

void SyncTree(const std::string& root) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::syncfs(fd) != 0) Fail("syncfs failed");
  ::close(fd);
}

std::vector<int> HistoryDates(int days = kHistoryDays) {
  std::vector<int> dates;
  for (int d = AddDays(kFirstDay, -1, 0); static_cast<int>(dates.size()) < days; d = AddDays(d, -1, 0))
    if (DayOfWeek(d) != 0 && DayOfWeek(d) != 6) dates.insert(dates.begin(), d);
  return dates;
}

std::vector<uint8_t> ReadBlock(const TickArchive& archive, const TickArchiveItem& item) {
  std::vector<uint8_t> block(static_cast<std::size_t>(item.dataLength));
  if (!archive.file.ReadAll(block.data(), block.size(), item.blockOffset)) Fail("archive read");
  return block;
}

// 120 (or `days`) days of old blocks per security, cycled from its blocks of the week.
void WriteOldPair(const Store& store, const Security& s, const std::string& dir, int days = kHistoryDays) {
  std::vector<uint8_t> index(sizeof(TickIndexHeader)), data;
  const std::vector<int> dates = HistoryDates(days);
  for (std::size_t k = 0; k < dates.size(); ++k) {
    const std::size_t pick = k % s.newBlocks.size();
    const TickArchiveItem& item = *s.newBlocks[pick];
    const std::vector<uint8_t> block = ReadBlock(store.archives[static_cast<std::size_t>(s.newArchive[pick])], item);
    TickIndexEntry e{dates[k], item.unpackedLength, item.dataLength, item.refPrice, item.priceDecimals, item.spare};
    const auto* p = reinterpret_cast<const uint8_t*>(&e);
    index.insert(index.end(), p, p + sizeof e);
    data.insert(data.end(), block.begin(), block.end());
  }
  TickIndexHeader h{2, dates.front(), dates.back(), static_cast<int32_t>(dates.size())};
  std::memcpy(index.data(), &h, sizeof h);
  FileSystem& files = RealFileSystem();
  File vid = files.Open(dir + s.stem + ".vid", OpenMode::kWrite);
  File vtc = files.Open(dir + s.stem + ".vtc", OpenMode::kWrite);
  if (!vid.Write(index.data(), index.size(), 0) || !vtc.Write(data.data(), data.size(), 0))
    Fail("cannot write the store");
}

Store& TheStore() {
  static Store store = [] {
    Store st;
    char pattern[] = "/tmp/marbloom-tick-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
    st.root = g_root = std::string(pattern) + "/";
    std::atexit(RemoveRoot);
    st.layout = DataLayout(st.root, st.root + "vipdoc/");
    st.layout = st.layout.WithReporter(BenchReports(st.layout.LogDir()));
    for (const std::string& dir : {st.layout.TickStoreDir(), st.layout.TickArchiveDir(), st.layout.LogDir(),
                                   st.root + "base/", st.root + "floor/"})
      std::filesystem::create_directories(dir);
    sample::SampleOptions options = sample::SampleOptions::FullMarket(5);
    const char* env = std::getenv("MARBLOOM_BENCH_TICK_SECURITIES");
    options.securities = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : sample::kQuickSecurities;
    for (int d = kFirstDay; d <= kLastDay; d = NextTradingDay(d)) {
      if (!sample::WriteTickArchive(d, options, st.layout.TickArchiveDir())) Fail("sample archive");
      TickArchiveLoad load = LoadTickArchive(st.layout, d);
      if (!load.archive) Fail("sample archive does not load");
      st.archives.push_back(std::move(*load.archive));
    }
    std::map<std::string, std::size_t> byStem;
    for (std::size_t j = 0; j < st.archives.size(); ++j)
      for (const TickArchiveItem& item : st.archives[j].directory) {
        const std::string stem = SecurityStem(item.market, item.code);
        auto [it, added] = byStem.try_emplace(stem, st.securities.size());
        if (added) st.securities.push_back(Security{item.market, item.code, stem, {}, {}});
        st.securities[it->second].newBlocks.push_back(&item);
        st.securities[it->second].newArchive.push_back(static_cast<int>(j));
      }
    for (const Security& s : st.securities) {
      WriteOldPair(st, s, st.root + "base/");
      std::filesystem::copy_file(st.root + "base/" + s.stem + ".vid", st.layout.TickIndexFile(s.stem));
      std::filesystem::copy_file(st.root + "base/" + s.stem + ".vtc", st.layout.TickDataFile(s.stem));
      st.outputBytes += static_cast<int64_t>(std::filesystem::file_size(st.layout.TickDataFile(s.stem)));
      for (const TickArchiveItem* item : s.newBlocks) st.outputBytes += item->dataLength;
    }
    SyncTree(st.root);
    return st;
  }();
  return store;
}

void FloorOnce(Store& st) {
  std::vector<uint8_t> buffer;
  for (const Security& s : st.securities) {
    FileSystem& files = RealFileSystem();
    const File in = files.Open(st.root + "base/" + s.stem + ".vtc", OpenMode::kRead);
    File out = files.Open(st.root + "floor/" + s.stem + ".vtc", OpenMode::kWrite);
    const int64_t oldLength = in.Length();
    if (!files.Copy(in, 0, out, 0, oldLength)) Fail("copy_file_range");
    int64_t at = oldLength;
    for (std::size_t k = 0; k < s.newBlocks.size(); ++k) {
      const TickArchiveItem& item = *s.newBlocks[k];
      buffer.resize(static_cast<std::size_t>(item.dataLength));
      if (!st.archives[static_cast<std::size_t>(s.newArchive[k])].file.ReadAll(buffer.data(), buffer.size(),
                                                                               item.blockOffset) ||
          !out.Write(buffer.data(), buffer.size(), at))
        Fail("floor write");
      at += item.dataLength;
    }
  }
  SyncTree(st.root);
}

void BM_CopyFloor(benchmark::State& state) {
  Store& st = TheStore();
  FloorOnce(st);  // the floor files exist from here on, as the store's do
  const auto start = Clock::now();
  for (auto _ : state) FloorOnce(st);
  st.floorSeconds = std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * st.outputBytes);
  state.counters["securities"] = static_cast<double>(st.securities.size());
}

void BM_ConvertTickRange(benchmark::State& state) {
  Store& st = TheStore();
  TickEngine engine(st.layout);
  // From here on each day replaces itself.
  if (!engine.ConvertTickRange(kFirstDay, kLastDay).done()) Fail("conversion failed");
  const auto start = Clock::now();
  for (auto _ : state)
    if (!engine.ConvertTickRange(kFirstDay, kLastDay).done()) Fail("conversion failed");
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * st.outputBytes);
  if (st.floorSeconds > 0) state.counters["ratio_vs_floor"] = seconds / st.floorSeconds;
  st.convertSeconds = seconds;
}

// Every block of the week's archives read and decoded as the conversion checks it.
void BM_DecodeCheck(benchmark::State& state) {
  Store& st = TheStore();
  GrowBuffer<uint8_t> block;
  GrowBuffer<TickRecord> ticks;
  TickBlockUnpacker unpacker;
  const auto start = Clock::now();
  for (auto _ : state)
    for (const TickArchive& archive : st.archives)
      for (const TickArchiveItem& item : archive.directory) {
        const TickIndexEntry entry{archive.date, item.unpackedLength, item.dataLength, item.refPrice,
                                   item.priceDecimals, item.spare};
        std::size_t count = 0;
        if (!ReadArchiveBlock(archive, item, &block) || !DecodeStoredBlock(block.data(), entry, false, unpacker, ticks, &count))
          Fail("a block does not decode");
      }
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
  if (st.convertSeconds <= 0) return;
  state.counters["ratio_vs_convert"] = seconds / st.convertSeconds;
  state.counters["share_of_convert"] = seconds / st.convertSeconds / TickEngine(st.layout).Workers();
}

struct Blocks {
  std::vector<std::vector<uint8_t>> stored;
  std::vector<int32_t> unpacked;
  int64_t ticks = 0;
};

Blocks& DayBlocks() {
  static Blocks blocks = [] {
    Store& st = TheStore();
    Blocks b;
    for (const TickArchiveItem& item : st.archives[0].directory) {
      b.stored.push_back(ReadBlock(st.archives[0], item));
      b.unpacked.push_back(item.unpackedLength);
      if (auto day = ReadTickDay(st.layout, item.market, item.code, kFirstDay))
        b.ticks += static_cast<int64_t>(day->ticks.size());
    }
    return b;
  }();
  return blocks;
}

void BM_InflateFloor(benchmark::State& state) {
  Blocks& b = DayBlocks();
  std::vector<uint8_t> out;
  const auto start = Clock::now();
  for (auto _ : state) {
    for (std::size_t i = 0; i < b.stored.size(); ++i) {
      out.resize(static_cast<std::size_t>(b.unpacked[i]) * 2);
      uLongf size = static_cast<uLongf>(out.size());
      benchmark::DoNotOptimize(uncompress(out.data(), &size, b.stored[i].data(), static_cast<uLong>(b.stored[i].size())));
    }
  }
  TheStore().inflateSeconds =
      std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
  state.counters["ticks_per_s"] = benchmark::Counter(static_cast<double>(b.ticks * state.iterations()),
                                                     benchmark::Counter::kIsRate);
}

void BM_ReadTickDay(benchmark::State& state) {
  Store& st = TheStore();
  Blocks& b = DayBlocks();
  const auto start = Clock::now();
  for (auto _ : state)
    for (const TickArchiveItem& item : st.archives[0].directory)
      benchmark::DoNotOptimize(ReadTickDay(st.layout, item.market, item.code, kFirstDay));
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
  state.counters["ticks_per_s"] = benchmark::Counter(static_cast<double>(b.ticks * state.iterations()),
                                                     benchmark::Counter::kIsRate);
  if (st.inflateSeconds > 0) state.counters["ratio_vs_inflate"] = seconds / st.inflateSeconds;
}

// The same with the undo journal on, one journalled run per conversion.
void BM_ConvertTickRangeJournalled(benchmark::State& state) {
  Store& st = TheStore();
  const auto start = Clock::now();
  for (auto _ : state) {
    JournalFileSystem journal(RealFileSystem(), st.layout, "bench", "");
    TickEngine engine(st.layout.WithFiles(journal));
    if (!engine.ConvertTickRange(kFirstDay, kLastDay).done()) Fail("conversion failed");
  }
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * st.outputBytes);
  if (st.floorSeconds > 0) state.counters["ratio_vs_floor"] = seconds / st.floorSeconds;
}

// Two trees beside the store, each with the first day's archive: one whose
// store holds 240 days per security, one with an empty store.
struct HistoryTrees {
  DataLayout full, empty;
  std::string base;  // the 240-day pairs as written
  double emptySeconds = 0;
};

HistoryTrees& TheHistoryTrees() {
  static HistoryTrees trees = [] {
    Store& st = TheStore();
    HistoryTrees t;
    t.full = DataLayout(st.root + "full/", st.root + "full/vipdoc/");
    t.empty = DataLayout(st.root + "empty/", st.root + "empty/vipdoc/");
    t.base = st.root + "base240/";
    std::filesystem::create_directories(t.base);
    for (const DataLayout* l : {&t.full, &t.empty}) {
      for (const std::string& dir : {l->TickStoreDir(), l->TickArchiveDir(), l->LogDir()})
        std::filesystem::create_directories(dir);
      std::filesystem::create_hard_link(st.layout.TickArchiveFile(kFirstDay), l->TickArchiveFile(kFirstDay));
    }
    for (const Security& s : st.securities) {
      WriteOldPair(st, s, t.base, 240);
      std::filesystem::copy_file(t.base + s.stem + ".vid", t.full.TickIndexFile(s.stem));
      std::filesystem::copy_file(t.base + s.stem + ".vtc", t.full.TickDataFile(s.stem));
    }
    SyncTree(st.root);
    struct statfs fs{};
    ::statfs(st.root.c_str(), &fs);
    std::printf("tick bench: store on %s (statfs type 0x%lx)\n", st.root.c_str(),
                static_cast<unsigned long>(fs.f_type));
    return t;
  }();
  return trees;
}

void BM_DayIntoEmptyStore(benchmark::State& state) {
  HistoryTrees& t = TheHistoryTrees();
  TickEngine engine(t.empty);
  double seconds = 0;
  for (auto _ : state) {
    std::filesystem::remove_all(t.empty.TickStoreDir());
    std::filesystem::create_directories(t.empty.TickStoreDir());
    SyncTree(t.empty.HistoryDir());
    const auto start = Clock::now();
    if (!engine.ConvertTickRange(kFirstDay, kFirstDay).done()) Fail("conversion failed");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  t.emptySeconds = seconds / static_cast<double>(state.iterations());
}

void BM_DayInto240DayStore(benchmark::State& state) {
  HistoryTrees& t = TheHistoryTrees();
  Store& st = TheStore();
  TickEngine engine(t.full);
  double seconds = 0;
  for (auto _ : state) {
    for (const Security& s : st.securities) {
      std::filesystem::copy_file(t.base + s.stem + ".vid", t.full.TickIndexFile(s.stem),
                                 std::filesystem::copy_options::overwrite_existing);
      std::filesystem::resize_file(t.full.TickDataFile(s.stem), std::filesystem::file_size(t.base + s.stem + ".vtc"));
    }
    SyncTree(t.full.HistoryDir());
    const auto start = Clock::now();
    if (!engine.ConvertTickRange(kFirstDay, kFirstDay).done()) Fail("conversion failed");
    const double round = std::chrono::duration<double>(Clock::now() - start).count();
    seconds += round;
    state.SetIterationTime(round);
  }
  if (t.emptySeconds > 0) state.counters["ratio_vs_empty"] = seconds / static_cast<double>(state.iterations()) / t.emptySeconds;
  state.counters["workers"] = engine.Workers();
}

BENCHMARK(BM_CopyFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ConvertTickRange)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_DecodeCheck)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_ConvertTickRangeJournalled)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_InflateFloor)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_ReadTickDay)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_DayIntoEmptyStore)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
BENCHMARK(BM_DayInto240DayStore)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
