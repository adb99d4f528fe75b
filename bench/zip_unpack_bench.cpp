// Unpacking a full-market tick archive: our extraction against Info-ZIP
// `unzip -o -q` on the same archive in the same run, each into a fresh folder.
// Both sides end with one sync of the folder's file system (ours does it
// itself, unzip is followed by `sync -f`), so that each has its data on disk.
// Reported: both times per run and ratio = ours / unzip (target <= 1.0).
// The same again with the undo journal on, unpacking over the previous run's
// file inside a tree, as a repeated day's download does.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "undo/journal_file_system.h"
#include "download/archive_unpack.h"
#include "samplegen.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDate = 20220505;

struct Fixture {
  std::string root, archive, entry;
  std::uintmax_t archiveBytes = 0, entryBytes = 0;
};

const Fixture& TheFixture() {
  static Fixture f = [] {
    Fixture x;
    std::string pattern = (fs::temp_directory_path() / "zip-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    x.root = pattern + "/";
    std::string error;
    if (!marbloom::sample::WriteTickArchiveZip(kDate, marbloom::sample::SampleOptions::FullMarket(), x.root,
                                               &error)) {
      std::fprintf(stderr, "sample archive: %s\n", error.c_str());
      std::abort();
    }
    x.archive = x.root + marbloom::sample::DayArchiveName(kDate);
    x.entry = std::to_string(kDate) + ".htc";
    x.archiveBytes = fs::file_size(x.archive);
    return x;
  }();
  return f;
}

std::vector<char> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double RunOurs(const Fixture& f, const std::string& dir, marbloom::FileSystem& files = marbloom::RealFileSystem()) {
  auto start = Clock::now();
  if (!marbloom::ExtractArchive(files, f.archive, dir).done()) std::abort();
  return Seconds(start);
}

// Unpacks into `tree`/newdatetick/ over what lies there, through a journal
// of its own run.
double RunJournalled(const Fixture& f, const std::string& tree) {
  const marbloom::DataLayout layout(f.root, tree);
  marbloom::JournalFileSystem journal(marbloom::RealFileSystem(), layout, "bench", "unpack");
  return RunOurs(f, tree + "newdatetick/", journal);
}

double RunUnzip(const Fixture& f, const std::string& dir) {
  std::string command = "unzip -o -q '" + f.archive + "' -d '" + dir + "' && sync -f '" + dir + "'";
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::abort();
  return Seconds(start);
}

void BM_UnpackFullMarketTickArchive(benchmark::State& state) {
  const Fixture& f = TheFixture();
  std::string ours = f.root + "ours/", theirs = f.root + "unzip/";
  double oursTotal = 0, unzipTotal = 0;
  int runs = 0;
  for (auto _ : state) {
    fs::remove_all(ours);
    fs::remove_all(theirs);
    fs::create_directories(theirs);
    // Alternate the order so that neither side always finds a warmer cache.
    double a = 0, b = 0;
    if (runs % 2 == 0) {
      a = RunOurs(f, ours);
      b = RunUnzip(f, theirs);
    } else {
      b = RunUnzip(f, theirs);
      a = RunOurs(f, ours);
    }
    state.SetIterationTime(a);
    oursTotal += a;
    unzipTotal += b;
    ++runs;
  }
  if (Slurp(ours + f.entry) != Slurp(theirs + f.entry)) state.SkipWithError("extracted bytes differ from unzip's");
  state.counters["archive_MB"] = static_cast<double>(f.archiveBytes) / 1e6;
  state.counters["entry_MB"] = static_cast<double>(fs::file_size(ours + f.entry)) / 1e6;
  state.counters["ours_s"] = oursTotal / runs;
  state.counters["unzip_s"] = unzipTotal / runs;
  state.counters["ratio"] = oursTotal / unzipTotal;
  fs::remove_all(ours);
  fs::remove_all(theirs);
}

// The unzip side stays as above; ours writes through the journal over the
// previous run's file, which the journal keeps by a hard link.
void BM_UnpackJournalled(benchmark::State& state) {
  const Fixture& f = TheFixture();
  const std::string tree = f.root + "tree/", theirs = f.root + "unzip/";
  fs::create_directories(tree + "newdatetick/");
  RunOurs(f, tree + "newdatetick/");
  double oursTotal = 0, unzipTotal = 0;
  for (auto _ : state) {
    fs::remove_all(theirs);
    fs::create_directories(theirs);
    const double a = RunJournalled(f, tree);
    unzipTotal += RunUnzip(f, theirs);
    state.SetIterationTime(a);
    oursTotal += a;
  }
  state.counters["ratio_journal_on"] = oursTotal / unzipTotal;
  fs::remove_all(tree);
  fs::remove_all(theirs);
}

BENCHMARK(BM_UnpackFullMarketTickArchive)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackJournalled)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(TheFixture().root);
  return 0;
}
