// Daily conversion and check over a full-market tree, against floors measured
// in the same run on the same files.
//
// The tree (default 16,000 securities x 2,500 records, about 1.3 GB) is
// written once with plain writes under a temporary folder and removed at the
// end. MARBLOOM_BENCH_DAILY_SECURITIES and MARBLOOM_BENCH_DAILY_RECORDS
// shrink it for quick runs.
//
//   convert: five days converted, ending with the conversion's own syncfs of
//            the tree (three rounds, one week each, the fastest counts);
//            ratio_journal: the same weeks again with the undo journal on;
//   floor:   per file and day open + read the file + write 32 bytes at its
//            end + close, then syncfs;
//   command line: the same weeks converted the way marbloom-cli runs them:
//            started up on a work directory, inside a JournalledRun, through
//            CurrentLayout() (the journal, the writer lock, the final syncfs);
//            against its own floor, measured in the same five rounds, also
//            in thread CPU time (cpu_ratio);
//   check:   CheckDailyFiles over the tree; floor: open + read + close of
//            every daily file (five rounds, alternating which goes first).
//            Both are also timed in thread CPU time: on a warm cache the
//            check is pure CPU work, and CPU time keeps the load of other
//            programs on a shared machine out of the ratio.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_reports.h"
#include "app/settings.h"
#include "app/startup.h"
#include "base/profile_file.h"
#include "base/run_log.h"
#include "common/calendar.h"
#include "undo/journal_file_system.h"
#include "common/data_layout.h"
#include "common/market.h"
#include "common/shared_state.h"
#include "daily/daily_check.h"
#include "daily/daily_conversion.h"
#include "samplegen.h"

namespace {

using namespace marbloom;
using Clock = std::chrono::steady_clock;

// Each round converts its own week; floor and work alternate and the fastest
// round of each counts, which keeps other load on the machine out of the ratio.
constexpr int kRounds = 3, kDays = 5;
constexpr int kWeekStart[kRounds] = {20220502, 20220509, 20220516};

int EnvInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

struct Tree {
  std::string root, history;
  DataLayout layout;
  std::vector<std::string> files;
  std::size_t securityDays[kRounds] = {};  // records each week's conversion stores
};

void Fail(const std::string& what) {
  std::fprintf(stderr, "daily bench: %s\n", what.c_str());
  std::exit(1);
}

void SyncTree(const std::string& root) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::syncfs(fd) != 0) Fail("syncfs failed");
  ::close(fd);
}

// History of `records` trading days ending before the converted week.
std::vector<DailyRecord> History(int records) {
  std::vector<int> dates;
  for (int date = 20220429; static_cast<int>(dates.size()) < records; date = AddDays(date, -1, 0))
    if (DayOfWeek(date) != 0 && DayOfWeek(date) != 6) dates.push_back(date);
  std::vector<DailyRecord> out(dates.size());
  for (std::size_t i = 0; i < dates.size(); ++i) {
    DailyRecord& r = out[dates.size() - 1 - i];
    r = DailyRecord{};
    r.date = static_cast<uint32_t>(dates[i]);
    r.open = r.high = r.low = r.close = 1000 + static_cast<int32_t>(i % 97);
    r.volume = 12345;
    r.amount = 1e6f;
    r.word30 = 1;
  }
  return out;
}

void WriteFile(const std::string& path, const void* data, std::size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) Fail("cannot write " + path);
  ::close(fd);
}

std::string g_createdRoot;  // removed at exit

Tree& TheTree() {
  static Tree tree = [] {
    Tree t;
    char pattern[] = "/tmp/marbloom-daily-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
    t.root = std::string(pattern) + "/";
    g_createdRoot = t.root;
    t.history = t.root + "vipdoc/";
    t.layout = DataLayout(t.root, t.history);
    sample::SampleOptions options = sample::SampleOptions::FullMarket(3);
    options.securities = EnvInt("MARBLOOM_BENCH_DAILY_SECURITIES", sample::kFullMarketSecurities);
    const std::vector<DailyRecord> history = History(EnvInt("MARBLOOM_BENCH_DAILY_RECORDS", 2500));
    for (int market = 0; market < kMarketCount; ++market) {
      std::filesystem::create_directories(t.layout.DailyDir(market));
      for (const sample::SampleSecurity& s : sample::MarketUniverse(kWeekStart[0], market, options)) {
        t.files.push_back(t.layout.DailyFile(market, s.code));
        WriteFile(t.files.back(), history.data(), history.size() * sizeof(DailyRecord));
      }
    }
    for (int round = 0; round < kRounds; ++round)
      for (int date = kWeekStart[round]; date < kWeekStart[round] + kDays; ++date) {
        if (!sample::WriteDailySources(date, options, t.layout.DailySourceDir())) Fail("sample sources");
        for (int market = 0; market < kMarketCount; ++market)
          t.securityDays[round] += sample::MarketQuotes(date, market, options).size();
      }
    std::filesystem::create_directories(t.layout.LogDir());
    t.layout = t.layout.WithReporter(BenchReports(t.layout.LogDir()));
    SyncTree(t.root);
    return t;
  }();
  return tree;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double ThreadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Wall and thread CPU seconds of one call.
struct Timing {
  double wall, cpu;
};
template <typename Work>
Timing Time(Work&& work) {
  const Clock::time_point start = Clock::now();
  const double cpuStart = ThreadCpuSeconds();
  work();
  return {Seconds(start), ThreadCpuSeconds() - cpuStart};
}

std::vector<uint8_t> g_buffer;

// Opens, reads whole, optionally writes 32 bytes at the end, closes.
void TouchFile(const std::string& path, bool append) {
  int fd = ::open(path.c_str(), append ? O_RDWR | O_CLOEXEC : O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + path);
  struct stat st;
  ::fstat(fd, &st);
  g_buffer.resize(static_cast<std::size_t>(st.st_size) + 32);
  if (::pread(fd, g_buffer.data(), static_cast<std::size_t>(st.st_size), 0) != st.st_size) Fail("short read");
  if (append && ::pwrite(fd, g_buffer.data() + st.st_size - 32, 32, st.st_size) != 32) Fail("short write");
  ::close(fd);
}

std::vector<uintmax_t> Lengths(const Tree& tree) {
  std::vector<uintmax_t> lengths;
  for (const std::string& path : tree.files) lengths.push_back(std::filesystem::file_size(path));
  return lengths;
}

// Puts every daily file back to the length it had before a week was added.
void CutBack(const Tree& tree, const std::vector<uintmax_t>& lengths) {
  for (std::size_t i = 0; i < tree.files.size(); ++i) std::filesystem::resize_file(tree.files[i], lengths[i]);
  SyncTree(tree.root);
}

// Microseconds per file and day of the floor: five passes of open + read +
// append 32 bytes + close over every file, then syncfs. The floor's copies of
// each last record would stop the dates rising, and the conversion would
// refuse the files: they go again, untimed.
// Wall and thread CPU time, both per file and day.
Timing FloorUs(const Tree& tree) {
  const std::vector<uintmax_t> lengths = Lengths(tree);
  const Timing t = Time([&] {
    for (int day = 0; day < kDays; ++day)
      for (const std::string& path : tree.files) TouchFile(path, true);
    SyncTree(tree.root);
  });
  const double fileDays = static_cast<double>(tree.files.size()) * kDays;
  CutBack(tree, lengths);
  return {t.wall * 1e6 / fileDays, t.cpu * 1e6 / fileDays};
}

void BM_DailyConvertFiveDays(benchmark::State& state) {
  Tree& tree = TheTree();
  double floorUs = 1e300, convertUs = 1e300, journalUs = 1e300, total = 0;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      floorUs = std::min(floorUs, FloorUs(tree).wall);

      const std::vector<uintmax_t> lengths = Lengths(tree);
      DailyConversion engine(tree.layout);
      Clock::time_point start = Clock::now();
      if (!engine.ConvertDailyRange(kWeekStart[round], kWeekStart[round] + kDays - 1).done()) Fail("conversion");
      const double seconds = Seconds(start);
      total += seconds;
      convertUs = std::min(convertUs, seconds * 1e6 / static_cast<double>(tree.securityDays[round]));

      // The same week again, untimed back to where it began, with the undo journal on.
      CutBack(tree, lengths);
      JournalFileSystem journal(RealFileSystem(), tree.layout, "bench", "");
      DailyConversion journalled(tree.layout.WithFiles(journal));
      start = Clock::now();
      if (!journalled.ConvertDailyRange(kWeekStart[round], kWeekStart[round] + kDays - 1).done())
        Fail("journalled conversion");
      journalUs = std::min(journalUs, Seconds(start) * 1e6 / static_cast<double>(tree.securityDays[round]));
      CutBack(tree, lengths);
      std::filesystem::remove_all(tree.layout.UndoDir());
    }
    state.SetIterationTime(total);
  }
  state.counters["us_per_security_day"] = convertUs;
  state.counters["floor_us_per_security_day"] = floorUs;
  state.counters["ratio"] = convertUs / floorUs;
  state.counters["ratio_journal"] = journalUs / floorUs;
  state.counters["securities"] = static_cast<double>(tree.files.size());
}

// The work directory's settings name the tree, and the program's start-up
// takes them, as marbloom-cli's main does before any command.
void StartLikeTheCommandLine(const Tree& tree) {
  if (!ProfileWriteString(RealFileSystem(), tree.root + "marbloom.ini", "PATH", "VIPDOC", tree.history) ||
      !EnterWorkDirectory(tree.root, RealFileSystem()) || !StartUp(RealFileSystem(), true) || DataTreeReady == 0)
    Fail("start-up on the bench tree");
}

// What `marbloom-cli daily convert` runs: the engine on CurrentLayout()
// inside the JournalledRun of the command, its end (the journal's manifest
// closed and pruned) included.
void ConvertLikeTheCommandLine(int first, int last) {
  JournalledRun run("daily convert", "bench");
  DailyConversion engine(CurrentLayout());
  if (!engine.ConvertDailyRange(first, last).done() || !run.Problem().empty()) Fail("command-line conversion");
}

// Five rounds, the weeks taken in turn (each round starts from the same
// files), as the syncfs that ends floor and conversion alike varies most
// with the other load of the machine. Also timed in thread CPU time.
void BM_DailyConvertCommandLine(benchmark::State& state) {
  constexpr int kCommandRounds = 5;
  Tree& tree = TheTree();
  StartLikeTheCommandLine(tree);
  Timing floor{1e300, 1e300}, convert{1e300, 1e300};
  double total = 0;
  for (auto _ : state) {
    for (int round = 0; round < kCommandRounds; ++round) {
      const int week = round % kRounds;
      const double days = static_cast<double>(tree.securityDays[week]);
      const Timing f = FloorUs(tree);
      const std::vector<uintmax_t> lengths = Lengths(tree);
      const Timing t = Time([&] { ConvertLikeTheCommandLine(kWeekStart[week], kWeekStart[week] + kDays - 1); });
      total += t.wall;
      floor = {std::min(floor.wall, f.wall), std::min(floor.cpu, f.cpu)};
      convert = {std::min(convert.wall, t.wall * 1e6 / days), std::min(convert.cpu, t.cpu * 1e6 / days)};
      CutBack(tree, lengths);
      std::filesystem::remove_all(tree.layout.UndoDir());
    }
    state.SetIterationTime(total);
  }
  state.counters["us_per_security_day"] = convert.wall;
  state.counters["floor_us_per_security_day"] = floor.wall;
  state.counters["ratio"] = convert.wall / floor.wall;
  state.counters["cpu_ratio"] = convert.cpu / floor.cpu;
  state.counters["securities"] = static_cast<double>(tree.files.size());
}

void BM_DailyCheckTree(benchmark::State& state) {
  constexpr int kCheckRounds = 5;
  Tree& tree = TheTree();
  Timing floor{1e300, 1e300}, check{1e300, 1e300};
  double total = 0;
  int bad = 0;
  for (auto _ : state) {
    for (int round = 0; round < kCheckRounds; ++round) {
      auto readAll = [&] {
        for (const std::string& path : tree.files) TouchFile(path, false);
      };
      auto checkAll = [&] {
        DailyCheck engine(tree.layout);
        bad = engine.CheckDailyFiles().failedItems;
      };
      Timing f{}, c{};
      if (round % 2 == 0) {
        f = Time(readAll);
        c = Time(checkAll);
      } else {
        c = Time(checkAll);
        f = Time(readAll);
      }
      total += c.wall;
      floor = {std::min(floor.wall, f.wall), std::min(floor.cpu, f.cpu)};
      check = {std::min(check.wall, c.wall), std::min(check.cpu, c.cpu)};
    }
    state.SetIterationTime(total);
  }
  const double files = static_cast<double>(tree.files.size());
  state.counters["files_per_s"] = files / check.wall;
  state.counters["floor_files_per_s"] = files / floor.wall;
  state.counters["ratio"] = check.wall / floor.wall;
  state.counters["cpu_ratio"] = check.cpu / floor.cpu;
  state.counters["bad_files"] = bad;
}

BENCHMARK(BM_DailyCheckTree)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DailyConvertFiveDays)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DailyConvertCommandLine)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!g_createdRoot.empty()) std::filesystem::remove_all(g_createdRoot);
  return 0;
}
