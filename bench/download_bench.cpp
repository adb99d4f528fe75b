// Download throughput against the curl command, measured in the same run,
// and the whole road of one full-market day, stage by stage.
//
//   transfer: a 200 MB archive from nginx on loopback (HTTP Basic auth),
//             DownloadClient (unpacking left out) and `curl -s -o`, five
//             alternating rounds each, medians compared;
//             target ratio_vs_curl >= 0.9 (our throughput / curl's);
//             the same client verifying the archive against a manifest
//             signed by minisign, alternating with the plain one;
//             target ratio_verified >= 0.95 (verified / plain throughput);
//   road:     marbloom-sampled --full (archives cached in
//             $MARBLOOM_BENCH_SAMPLED_CACHE, default /tmp/marbloom-sampled-full/):
//             daily and tick archive download, their unpacking, daily and
//             tick conversion (minute files built from the blocks in hand,
//             as the download run does), the minute step; each stage's
//             seconds; then the same day into a fresh tree through the
//             update the timer runs (the tick archive downloading and
//             unpacking while the daily conversion runs, one flush at the
//             end), its wall time as "update"; target update < 3.5 s;
//   history:  the same road over a scaled market (1,000 securities) into an
//             empty tree and into a tree holding 60 earlier days, medians
//             per stage and their ratio, the file system named;
//   both roads run on a fresh journaled ext4 image, loop-mounted where the
//             machine allows it (else in /tmp; the output says which);
//   config:   a two-million-line configuration loaded against one plain
//             read of it; target load_vs_one_read <= 5.
// MARBLOOM_BENCH_DOWNLOAD_MB changes the archive size.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_reports.h"
#include "app/settings.h"
#include "common/calendar.h"
#include "base/run_log.h"
#include "common/shared_state.h"
#include "daily/daily_conversion.h"
#include "download/archive_unpack.h"
#include "download/catch_up.h"
#include "download/download_client.h"
#include "download/download_config.h"
#include "download/manifest_verify.h"
#include "tickdata/minute_engine.h"
#include "tickdata/tick_engine.h"

extern char** environ;

namespace {

using namespace marbloom;
using Clock = std::chrono::steady_clock;

constexpr int kRoadDay = 20220506;
constexpr int kRounds = 5;

void Fail(const std::string& what) {
  std::fprintf(stderr, "download bench: %s\n", what.c_str());
  std::exit(1);
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
    Fail("no free port");
  ::close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// A program that serves on `port` until the benchmark ends.
pid_t Spawn(const std::vector<std::string>& argv, int port) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  posix_spawn_file_actions_t quiet;  // the server's request lines stay out of the report
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  const int rc = ::posix_spawn(&pid, args[0], &quiet, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (rc != 0) Fail("cannot start " + argv[0]);
  for (int i = 0; i < 600 && !Accepts(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!Accepts(port)) Fail(argv[0] + " does not listen");
  return pid;
}

void Stop(pid_t pid) {
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string BuiltProgram(const std::string& relative) {
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path().string() + "/" + relative;
}

std::string FileSystemName(const std::string& path) {
  struct statfs fs{};
  if (::statfs(path.c_str(), &fs) != 0) return "unknown";
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(fs.f_type));
  const char* name = fs.f_type == 0xEF53 ? "ext2/3/4" : fs.f_type == 0x01021994 ? "tmpfs" : fs.f_type == 0x58465342 ? "xfs"
                     : fs.f_type == 0x9123683E ? "btrfs" : fs.f_type == 0x794C7630 ? "overlayfs" : "other";
  return std::string(name) + " (statfs type " + hex + ")";
}

// Where the benches' temporary folders go: a journaled ext4 made for the
// run, a sparse image under /tmp loop-mounted, where the machine allows it
// (root and a free loop device); else /tmp itself. A fresh file system
// keeps earlier runs' deletions from slowing the creation of files, and
// makes runs comparable. MARBLOOM_BENCH_NO_LOOP=1 keeps /tmp.
class BenchVolume {
 public:
  BenchVolume() {
    char pattern[] = "/tmp/marbloom-bench-volume-XXXXXX";
    if (std::getenv("MARBLOOM_BENCH_NO_LOOP") != nullptr || ::geteuid() != 0 || ::mkdtemp(pattern) == nullptr)
      return;
    base_ = pattern;
    const std::string image = base_ + "/ext4.img", mount = base_ + "/mnt";
    const std::string make = "truncate -s 16G " + image + " && mkfs.ext4 -q -F -O has_journal " + image +
                             " >/dev/null 2>&1 && mkdir " + mount + " && mount -o loop " + image + " " + mount +
                             " 2>/dev/null";
    if (std::system(make.c_str()) == 0) {
      dir_ = mount + "/";
      return;
    }
    std::filesystem::remove_all(base_);
    base_.clear();
  }
  ~BenchVolume() {
    if (base_.empty()) return;
    if (!dir_.empty()) std::system(("umount " + dir_ + " 2>/dev/null").c_str());
    std::filesystem::remove_all(base_);
  }
  BenchVolume(const BenchVolume&) = delete;
  BenchVolume& operator=(const BenchVolume&) = delete;

  // The folder to make temporaries in, ending in '/'.
  const std::string& dir() const { return dir_; }

 private:
  std::string base_, dir_ = "/tmp/";
};

// One volume for the process, unmounted at exit, also after a failure.
const std::string& VolumeDir() {
  static BenchVolume volume;
  return volume.dir();
}

std::string VolumeName() {
  return FileSystemName(VolumeDir()) +
         (VolumeDir() == "/tmp/" ? " in /tmp" : ", a fresh image with a journal, loop-mounted");
}

struct Workplace {
  std::string root, work, history;
  DataLayout layout;
};

// A fresh temporary folder under `parent`.
std::string MakeTempDir(const std::string& parent, const std::string& name) {
  std::string pattern = parent + name + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp failed in " + parent);
  return pattern + "/";
}

// A work directory and data tree under a fresh temporary folder of `parent`;
// the tree elsewhere when `history` is given.
Workplace MakeWorkplace(const std::string& history = "", const std::string& parent = "/tmp/") {
  Workplace w;
  w.root = MakeTempDir(parent, "marbloom-download-bench");
  w.work = w.root + "work/";
  w.history = history.empty() ? w.root + "vipdoc/" : history;
  w.layout = DataLayout(w.work, w.history);
  AppSettings& s = Settings();
  s.historyDir = w.history;
  SetWorkDirectory(w.work);
  w.layout = w.layout.WithReporter(BenchReports(w.layout.LogDir()));
  for (const std::string& dir : {w.layout.DayZipDir(), w.layout.TickZipDir(), w.layout.LogDir()})
    std::filesystem::create_directories(dir);
  for (const DataLayout::TreeFolder& f : w.layout.TreeFolders()) std::filesystem::create_directories(f.path);
  return w;
}

void BM_TransferVsCurl(benchmark::State& state) {
  const char* env = std::getenv("MARBLOOM_BENCH_DOWNLOAD_MB");
  const long long megabytes = env != nullptr && std::atoll(env) > 0 ? std::atoll(env) : 200;
  const long long bytes = megabytes << 20;
  Workplace w = MakeWorkplace();
  // A day archive: its kind's size bound admits the archive's size.
  constexpr int kDay = 20220509;
  const std::string kArchive = DataLayout::DayArchiveName(kDay);
  const std::string site = w.root + "site/", nginx = w.root + "nginx/";
  std::filesystem::create_directories(site);
  std::filesystem::create_directories(nginx);
  {
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 17);
    std::ofstream out(site + kArchive, std::ios::binary);
    for (long long m = 0; m < megabytes; ++m) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  const std::string hash = [] {
    std::FILE* p = ::popen("openssl passwd -apr1 MARLIN39", "r");
    char line[256] = {};
    if (p == nullptr || std::fgets(line, sizeof line, p) == nullptr) Fail("openssl passwd failed");
    ::pclose(p);
    return std::string(line);
  }();
  WriteText(nginx + "htpasswd", "BRIMSTONEX52:" + hash);
  const int port = FreePort();
  WriteText(nginx + "nginx.conf",
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + nginx + "pid;\nerror_log " + nginx +
                "error.log;\nevents { worker_connections 64; }\nhttp {\n access_log off;\n client_body_temp_path " +
                nginx + "body;\n proxy_temp_path " + nginx + "proxy;\n fastcgi_temp_path " + nginx +
                "fastcgi;\n uwsgi_temp_path " + nginx + "uwsgi;\n scgi_temp_path " + nginx +
                "scgi;\n sendfile on;\n server {\n  listen 127.0.0.1:" + std::to_string(port) + ";\n  root " +
                site + ";\n  auth_basic \"marbloom\";\n  auth_basic_user_file " + nginx + "htpasswd;\n }\n}\n");
  const pid_t server = Spawn({"/usr/sbin/nginx", "-p", nginx, "-c", nginx + "nginx.conf", "-e", nginx + "error.log"}, port);
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
  const std::string curl = std::string("curl -s -u ") + kDefaultServerUser + ":" + kDefaultServerPassword + " -o " +
                           w.root + "curl.zip " + base + kArchive;

  // The site's manifest, signed by a key made for the run.
  if (std::system(("cd " + site + " && sha256sum -b " + kArchive + " > SHA256SUMS && minisign -G -W -p " +
                   nginx + "key.pub -s " + nginx + "key.sec >/dev/null && minisign -S -s " + nginx +
                   "key.sec -m SHA256SUMS >/dev/null").c_str()) != 0)
    Fail("minisign failed");
  std::ifstream pub(nginx + "key.pub");
  std::string keyLine;
  std::getline(pub, keyLine);
  std::getline(pub, keyLine);
  DownloadServer verifying{base, kDefaultServerUser, kDefaultServerPassword};
  verifying.trustedKeys = {ParseMinisignKey(keyLine).value_or(MinisignKey{})};

  DownloadClient client(w.layout, DownloadServer{base, kDefaultServerUser, kDefaultServerPassword});
  DownloadClient verifier(w.layout, verifying);
  DownloadConfig config;
  config.serverPaths[static_cast<std::size_t>(ServerPathNumber(DownloadKind::kDaily))] = base;
  for (DownloadClient* c : {&client, &verifier}) {
    c->SetUnpackStep([](const std::string&, DownloadKind) { return OperationResult{}; });
    c->SetConfig(config);
  }
  const auto timed = [&](DownloadClient& c, std::vector<double>& seconds) {
    const Clock::time_point start = Clock::now();
    if (!c.StartDownload(DownloadKind::kDaily, kDay).done()) Fail("DownloadClient failed: " + BenchReporter().Board().StatusText());
    seconds.push_back(SecondsSince(start));
    if (std::filesystem::file_size(w.layout.DayZipDir() + kArchive) != static_cast<std::uintmax_t>(bytes))
      Fail("incomplete download");
  };
  std::vector<double> ours, theirs, verified;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      Clock::time_point start = Clock::now();
      if (std::system(curl.c_str()) != 0) Fail("curl failed");
      theirs.push_back(SecondsSince(start));
      timed(client, ours);
      timed(verifier, verified);
    }
  }
  Stop(server);
  std::filesystem::remove_all(w.root);
  const double oursMBps = static_cast<double>(megabytes) / Median(ours);
  const double curlMBps = static_cast<double>(megabytes) / Median(theirs);
  state.counters["ours_MBps"] = oursMBps;
  state.counters["curl_MBps"] = curlMBps;
  state.counters["ratio_vs_curl"] = oursMBps / curlMBps;
  state.counters["verified_MBps"] = static_cast<double>(megabytes) / Median(verified);
  state.counters["ratio_verified"] = Median(ours) / Median(verified);
}

struct Stage {
  const char* name;
  double seconds;
};

// One day's road into the tree of `w`, stage by stage: both downloads with
// their unpacking, daily conversion, tick conversion with the minute files
// built from the blocks in hand (as the download run does it), then the
// minute step. The downloads run once untimed first to fill the server's cache.
std::vector<Stage> RunRoad(const Workplace& w, const std::string& base, int day, int* workers) {
  DownloadClient client(w.layout, DownloadServer{base, kDefaultServerUser, kDefaultServerPassword});
  if (!LoadDownloadConfig(client).done()) Fail("no configuration");
  double unpackSeconds = 0;
  client.SetUnpackStep([&](const std::string& name, DownloadKind type) {
    const Clock::time_point start = Clock::now();
    OperationResult result = UnpackDownloadedArchive(w.layout, name, type);
    unpackSeconds = SecondsSince(start);
    return result;
  });
  client.StartDownload(DownloadKind::kDaily, day);  // fills the server's cache; not timed
  client.StartDownload(DownloadKind::kTick, day);
  std::vector<Stage> stages;
  for (DownloadKind kind : {DownloadKind::kDaily, DownloadKind::kTick}) {
    const Clock::time_point start = Clock::now();
    if (!client.StartDownload(kind, day).done()) Fail("download failed: " + BenchReporter().Board().StatusText());
    const double total = SecondsSince(start);
    stages.push_back({kind == DownloadKind::kDaily ? "download daily" : "download tick", total - unpackSeconds});
    stages.push_back({kind == DownloadKind::kDaily ? "unpack daily" : "unpack tick", unpackSeconds});
  }
  Clock::time_point start = Clock::now();
  DailyConversion(w.layout).ConvertDailyRange(day, day);
  stages.push_back({"convert daily", SecondsSince(start)});
  MinuteEngine minutes(w.layout, MinuteOptions{});
  TickEngine ticks(w.layout);
  ticks.FollowWithMinutes(&minutes);
  start = Clock::now();
  ticks.ConvertTickRange(day, day);
  stages.push_back({"convert tick and minutes", SecondsSince(start)});
  start = Clock::now();
  minutes.BuildMinuteLines(day, day);
  stages.push_back({"minute lines", SecondsSince(start)});
  if (workers != nullptr) *workers = ticks.Workers();
  return stages;
}

// The day through the update, both kinds and minute lines, into the tree of
// `w`, keeping the configuration between downloads as the command line does.
double RunUpdate(const Workplace& w, const std::string& base, int day) {
  DownloadConfigCache config;
  CatchUp update(DownloadRunSetup{w.layout, true, {base, kDefaultServerUser, kDefaultServerPassword}, true,
                                  MinuteOptions{}, &config});
  update.Reset();
  const Clock::time_point start = Clock::now();
  if (!update.Run(CatchUpRequest{.from = day, .to = day, .now = std::time(nullptr)}).done())
    Fail("update failed: " + BenchReporter().Board().StatusText());
  return SecondsSince(start);
}

void BM_FullMarketDayRoad(benchmark::State& state) {
  const char* env = std::getenv("MARBLOOM_BENCH_SAMPLED_CACHE");
  const std::string cache = env != nullptr ? env : "/tmp/marbloom-sampled-full/";
  std::filesystem::create_directories(cache);
  const int port = FreePort();
  const pid_t server = Spawn({BuiltProgram("tools/samplegen/marbloom-sampled"), "--full", "--port",
                              std::to_string(port), "--cache", cache},
                             port);
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
  std::vector<Stage> stages;
  for (auto _ : state) {
    Workplace w = MakeWorkplace("", VolumeDir());
    int workers = 0;
    stages = RunRoad(w, base, kRoadDay, &workers);
    state.counters["workers"] = workers;
    std::filesystem::remove_all(w.root);
    ::sync();  // the removal's writes stay out of the update's time
    Workplace fresh = MakeWorkplace("", VolumeDir());
    state.counters["update"] = RunUpdate(fresh, base, kRoadDay);
    std::filesystem::remove_all(fresh.root);
  }
  std::printf("full-market road on %s\n", VolumeName().c_str());
  Stop(server);
  double total = 0;
  for (const Stage& s : stages) {
    state.counters[s.name] = s.seconds;
    total += s.seconds;
  }
  state.counters["total"] = total;
}

// The same road over a scaled market, into an empty tree and into a tree
// that already holds the 60 trading days before the road's day
// (20220801).
//
// The 60-day tree is built once (untimed) by downloading and converting the
// earlier days one by one; their tick archives are removed afterwards, as
// the full market's 60 days would not fit the machine. Every file of that
// tree is then hard-linked into a snapshot folder with its length and first
// bytes. After a round the tree goes back to the snapshot: new files are
// removed, files replaced by a rename are linked again from the snapshot,
// files appended in place are cut back to their length (their first bytes
// checked). Rounds alternate between the trees; the medians per stage and
// their ratio (60-day tree / empty tree) are reported, with the file system.
// MARBLOOM_BENCH_ROAD_SECURITIES sets the market's size (default 1000).
// The road's day here lies 60 weekdays after the first day the sample
// server publishes.
constexpr int kHistoryRoadDay = 20220801, kHistoryDays = 60, kHistoryRounds = 3, kHeadBytes = 64;

struct SnapshotFile {
  std::uintmax_t size = 0;
  ino_t inode = 0;
  std::string head;
};

std::string Head(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(kHeadBytes, '\0');
  in.read(head.data(), kHeadBytes);
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

ino_t InodeOf(const std::filesystem::path& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

using Snapshot = std::map<std::string, SnapshotFile>;  // by path relative to the tree

Snapshot TakeSnapshot(const std::string& tree, const std::string& links) {
  Snapshot snapshot;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree)) {
    if (!entry.is_regular_file()) continue;
    const std::string rel = std::filesystem::relative(entry.path(), tree).string();
    snapshot[rel] = SnapshotFile{entry.file_size(), InodeOf(entry.path()), Head(entry.path())};
    std::filesystem::create_directories(std::filesystem::path(links + rel).parent_path());
    std::filesystem::create_hard_link(entry.path(), links + rel);
  }
  return snapshot;
}

// What a round changed in the tree, as its restore found it.
struct RoundChanges {
  std::size_t added = 0, replaced = 0, appended = 0;
};

RoundChanges RestoreSnapshot(const std::string& tree, const std::string& links, const Snapshot& snapshot) {
  RoundChanges changes;
  std::vector<std::filesystem::path> added;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree))
    if (entry.is_regular_file() && snapshot.count(std::filesystem::relative(entry.path(), tree).string()) == 0)
      added.push_back(entry.path());
  for (const std::filesystem::path& path : added) std::filesystem::remove(path);
  changes.added = added.size();
  for (const auto& [rel, file] : snapshot) {
    const std::filesystem::path path = tree + rel;
    if (InodeOf(links + rel) != file.inode) Fail("the snapshot of " + rel + " was replaced");
    if (InodeOf(path) != file.inode) {
      std::filesystem::remove(path);
      std::filesystem::create_hard_link(links + rel, path);
      ++changes.replaced;
    } else if (std::filesystem::file_size(path) != file.size) {
      std::filesystem::resize_file(path, file.size);
      ++changes.appended;
    }
    if (std::filesystem::file_size(path) != file.size || Head(path) != file.head)
      Fail(rel + " was changed in place, not only appended to");
  }
  return changes;
}

void SyncTree(const std::string& root) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::syncfs(fd) != 0) Fail("syncfs failed");
  ::close(fd);
}


// The `count` weekdays before `day`, oldest first (the sample market trades
// on every weekday).
std::vector<int> EarlierDays(int day, int count) {
  std::vector<int> days;
  for (int d = AddDays(day, -1, 0); static_cast<int>(days.size()) < count; d = AddDays(d, -1, 0))
    if (DayOfWeek(d) != 0 && DayOfWeek(d) != 6) days.insert(days.begin(), d);
  return days;
}

// Downloads and converts `days` into the tree of `w`, one day at a time,
// dropping each day's archives once converted.
void BuildHistory(const Workplace& w, const std::string& base, const std::vector<int>& days) {
  DownloadClient client(w.layout, DownloadServer{base, kDefaultServerUser, kDefaultServerPassword});
  if (!LoadDownloadConfig(client).done()) Fail("no configuration");
  client.SetUnpackStep(
      [&](const std::string& name, DownloadKind type) { return UnpackDownloadedArchive(w.layout, name, type); });
  for (int d : days) {
    if (!client.StartDownload(DownloadKind::kDaily, d).done() || !client.StartDownload(DownloadKind::kTick, d).done())
      Fail("history download failed: " + BenchReporter().Board().StatusText());
    if (!DailyConversion(w.layout).ConvertDailyRange(d, d).done()) Fail("history daily conversion failed");
    MinuteEngine minutes(w.layout, MinuteOptions{});
    TickEngine ticks(w.layout);
    ticks.FollowWithMinutes(&minutes);
    if (!ticks.ConvertTickRange(d, d).done()) Fail("history tick conversion failed");
    minutes.BuildMinuteLines(d, d);
    std::filesystem::remove_all(w.layout.DownDir());
    std::filesystem::remove(w.layout.TickArchiveFile(d));
    for (const std::string& dir : {w.layout.DayZipDir(), w.layout.TickZipDir()}) std::filesystem::create_directories(dir);
  }
}

// Removed at exit, also when a failure ends the bench early.
std::vector<std::string> g_leftovers;
pid_t g_server = 0;
void RemoveLeftovers() {
  if (g_server != 0) Stop(g_server);
  for (const std::string& root : g_leftovers) std::filesystem::remove_all(root);
}

void BM_ScaledDayRoadInto60DayTree(benchmark::State& state) {
  const char* env = std::getenv("MARBLOOM_BENCH_ROAD_SECURITIES");
  const int securities = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 1000;
  const std::string root = MakeTempDir(VolumeDir(), "marbloom-road-history");
  g_leftovers.push_back(root);
  std::atexit(RemoveLeftovers);
  const std::string cache = root + "cache/", tree = root + "vipdoc/", links = root + "snapshot/";
  std::filesystem::create_directories(cache);
  const int port = FreePort();
  const pid_t server = Spawn({BuiltProgram("tools/samplegen/marbloom-sampled"), "--full", "--securities",
                              std::to_string(securities), "--port", std::to_string(port), "--cache", cache},
                             port);
  g_server = server;
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

  Workplace builder = MakeWorkplace(tree, VolumeDir());
  g_leftovers.push_back(builder.root);
  for (const DataLayout::TreeFolder& f : builder.layout.TreeFolders()) std::filesystem::create_directories(f.path);
  const std::vector<int> days = EarlierDays(kHistoryRoadDay, kHistoryDays);
  BuildHistory(builder, base, days);
  std::filesystem::remove_all(builder.root);
  const Snapshot snapshot = TakeSnapshot(tree, links);
  std::uintmax_t treeBytes = 0;
  for (const auto& [rel, file] : snapshot) treeBytes += file.size;

  std::map<std::string, std::vector<double>> empty, full;
  std::vector<std::string> order;
  int workers = 0;
  RoundChanges changes;
  for (auto _ : state) {
    for (int round = 0; round < kHistoryRounds; ++round) {
      Workplace fresh = MakeWorkplace("", VolumeDir());
      SyncTree(fresh.root);
      for (const Stage& s : RunRoad(fresh, base, kHistoryRoadDay, &workers)) empty[s.name].push_back(s.seconds);
      std::filesystem::remove_all(fresh.root);

      RestoreSnapshot(tree, links, snapshot);
      Workplace held = MakeWorkplace(tree, VolumeDir());
      SyncTree(tree);
      order.clear();
      for (const Stage& s : RunRoad(held, base, kHistoryRoadDay, &workers)) {
        full[s.name].push_back(s.seconds);
        order.push_back(s.name);
      }
      std::filesystem::remove_all(held.root);
    }
  }
  changes = RestoreSnapshot(tree, links, snapshot);
  Stop(server);
  g_server = 0;
  const std::string fs = VolumeName();
  std::filesystem::remove_all(root);

  std::printf("road into a 60-day tree: %d securities, %zu earlier days, tree %.0f MB, on %s\n", securities,
              days.size(), static_cast<double>(treeBytes) / 1e6, fs.c_str());
  std::printf("  a round into it added %zu files, replaced %zu and appended to %zu\n", changes.added,
              changes.replaced, changes.appended);
  std::printf("  %-26s %10s %10s %8s\n", "stage (median s)", "empty", "60 days", "ratio");
  double emptyTotal = 0, fullTotal = 0;
  for (const std::string& name : order) {
    const double e = Median(empty[name]), f = Median(full[name]);
    emptyTotal += e;
    fullTotal += f;
    std::printf("  %-26s %10.3f %10.3f %8.2f\n", name.c_str(), e, f, e > 0 ? f / e : 0.0);
    state.counters["empty: " + name] = e;
    state.counters["60 days: " + name] = f;
    state.counters["ratio: " + name] = e > 0 ? f / e : 0.0;
  }
  std::printf("  %-26s %10.3f %10.3f %8.2f\n", "total", emptyTotal, fullTotal, fullTotal / emptyTotal);
  state.counters["ratio: total"] = fullTotal / emptyTotal;
  state.counters["securities"] = securities;
  state.counters["history days"] = static_cast<double>(days.size());
  state.counters["workers"] = workers;
}

// A configuration of two million lines, its paths at the end: loading it
// against one plain line-by-line read of the same file, measured in the
// same run; target load_vs_one_read <= 5 (the file is parsed once, not once
// per key).
void BM_HugeConfigLoad(benchmark::State& state) {
  Workplace w = MakeWorkplace();
  std::string text = "[DOWN]\r\nDOWNNUM=30\r\n";
  for (int i = 0; i < 2000000; ++i) {
    text += 'X';
    text += std::to_string(i);
    text += "=filler\r\n";
  }
  for (int i = 1; i <= 30; ++i) text += "PATH" + std::to_string(100 + i).substr(1) + "=d/\r\n";
  WriteText(w.layout.DownloadConfigFile(), text);
  double load = 0, read = 0;
  DownloadConfig config;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    std::ifstream in(w.layout.DownloadConfigFile(), std::ios::binary);
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    benchmark::DoNotOptimize(lines);
    read = SecondsSince(start);
    start = Clock::now();
    config = ReadDownloadConfig(w.layout, "http://127.0.0.1/");
    load = SecondsSince(start);
  }
  if (config.ServerPath(29) != "http://127.0.0.1/d/") Fail("the configuration did not load");
  std::filesystem::remove_all(w.root);
  state.counters["load_s"] = load;
  state.counters["load_vs_one_read"] = load / read;
}

BENCHMARK(BM_HugeConfigLoad)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_TransferVsCurl)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_FullMarketDayRoad)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ScaledDayRoadInto60DayTree)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
