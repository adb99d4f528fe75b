// Download throughput against the curl command, measured in the same run,
// and the whole road of one full-market day, stage by stage.
//
//   transfer: a 200 MB archive from nginx on loopback (HTTP Basic auth),
//             DownloadClient (unpacking left out) and `curl -s -o`, five
//             alternating rounds each, medians compared;
//             target ratio_vs_curl >= 0.9 (our throughput / curl's);
//   road:     marbloom-sampled --full (archives cached in
//             $MARBLOOM_BENCH_SAMPLED_CACHE, default /tmp/marbloom-sampled-full/):
//             daily and tick archive download, their unpacking, daily and
//             tick conversion (minute files built from the blocks in hand,
//             as the download run does), the minute step; each stage's
//             seconds; target for the stages after the downloads < 3.5 s;
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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "base/run_log.h"
#include "common/shared_state.h"
#include "daily/daily_engine.h"
#include "download/archive_unpack.h"
#include "download/download_client.h"
#include "download/download_config.h"
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

struct Workplace {
  std::string root, work, history;
  DataLayout layout;
};

// A work directory and data tree under a fresh temporary folder.
Workplace MakeWorkplace() {
  char pattern[] = "/tmp/marbloom-download-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
  Workplace w;
  w.root = std::string(pattern) + "/";
  w.work = w.root + "work/";
  w.history = w.root + "vipdoc/";
  w.layout = DataLayout(w.work, w.history);
  AppSettings& s = Settings();
  s.historyDir = w.history;
  SetWorkDirectory(w.work);
  SetRunLogDirectory(w.layout.LogDir());
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
  const std::string site = w.root + "site/", nginx = w.root + "nginx/";
  std::filesystem::create_directories(site);
  std::filesystem::create_directories(nginx);
  {
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 17);
    std::ofstream out(site + DataLayout::kConfigArchiveName, std::ios::binary);
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
                           w.root + "curl.zip " + base + DataLayout::kConfigArchiveName;

  DownloadClient client(w.layout, DownloadServer{base, kDefaultServerUser, kDefaultServerPassword});
  client.SetUnpackStep([](const std::string&, int) { return OperationResult{}; });
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      Clock::time_point start = Clock::now();
      if (std::system(curl.c_str()) != 0) Fail("curl failed");
      theirs.push_back(SecondsSince(start));
      start = Clock::now();
      if (!client.StartDownload(kDownloadConfig, 0).done()) Fail("DownloadClient failed: " + StatusText());
      ours.push_back(SecondsSince(start));
      if (std::filesystem::file_size(w.layout.DownDir() + DataLayout::kConfigArchiveName) != static_cast<std::uintmax_t>(bytes))
        Fail("incomplete download");
    }
  }
  Stop(server);
  std::filesystem::remove_all(w.root);
  const double oursMBps = static_cast<double>(megabytes) / Median(ours);
  const double curlMBps = static_cast<double>(megabytes) / Median(theirs);
  state.counters["ours_MBps"] = oursMBps;
  state.counters["curl_MBps"] = curlMBps;
  state.counters["ratio_vs_curl"] = oursMBps / curlMBps;
}

struct Stage {
  const char* name;
  double seconds;
};

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
    Workplace w = MakeWorkplace();
    DownloadClient client(w.layout, DownloadServer{base, kDefaultServerUser, kDefaultServerPassword});
    if (!LoadDownloadConfig(client).done()) Fail("no configuration");
    double unpackSeconds = 0;
    client.SetUnpackStep([&](const std::string& name, int type) {
      const Clock::time_point start = Clock::now();
      OperationResult result = UnpackDownloadedArchive(w.layout, name, type);
      unpackSeconds = SecondsSince(start);
      return result;
    });
    client.StartDownload(kDownloadDaily, kRoadDay);  // fills the server's cache; not timed
    client.StartDownload(kDownloadTick, kRoadDay);
    stages.clear();
    for (int kind : {kDownloadDaily, kDownloadTick}) {
      const Clock::time_point start = Clock::now();
      if (!client.StartDownload(kind, kRoadDay).done()) Fail("download failed: " + StatusText());
      const double total = SecondsSince(start);
      stages.push_back({kind == kDownloadDaily ? "download daily" : "download tick", total - unpackSeconds});
      stages.push_back({kind == kDownloadDaily ? "unpack daily" : "unpack tick", unpackSeconds});
    }
    Clock::time_point start = Clock::now();
    DailyEngine(w.layout).ConvertDailyRange(kRoadDay, kRoadDay);
    stages.push_back({"convert daily", SecondsSince(start)});
    // As the download run does it: the minute files built during the tick
    // conversion from the blocks in hand, then reported by the minute step.
    MinuteEngine minutes(w.layout, MinuteOptions{});
    TickEngine ticks(w.layout);
    ticks.FollowWithMinutes(&minutes);
    start = Clock::now();
    ticks.ConvertTickRange(kRoadDay, kRoadDay);
    stages.push_back({"convert tick and minutes", SecondsSince(start)});
    start = Clock::now();
    minutes.BuildMinuteLines(kRoadDay, kRoadDay);
    stages.push_back({"minute lines", SecondsSince(start)});
    state.counters["workers"] = ticks.Workers();
    std::filesystem::remove_all(w.root);
  }
  Stop(server);
  double total = 0;
  for (const Stage& s : stages) {
    state.counters[s.name] = s.seconds;
    total += s.seconds;
  }
  state.counters["total"] = total;
}

// A configuration of two million lines, its paths at the end: loading it
// against one plain line-by-line read of the same file, measured in the
// same run; target load_vs_one_read <= 5 (the file is parsed once, not once
// per key).
void BM_HugeConfigLoad(benchmark::State& state) {
  Workplace w = MakeWorkplace();
  std::string text = "[DOWN]\r\nDOWNNUM=30\r\n";
  for (int i = 0; i < 2000000; ++i) text += "X" + std::to_string(i) + "=filler\r\n";
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

}  // namespace

BENCHMARK_MAIN();
