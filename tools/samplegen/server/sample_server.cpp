// The sample archive server on cpp-httplib.
#include "sample_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "common/calendar.h"
#include "download/manifest_verify.h"

namespace marbloom::sample {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// "<prefix>YYYYMMDD.zip" → the date, else 0.
int DateOfArchivePath(const std::string& path, const std::string& prefix) {
  if (path.compare(0, prefix.size(), prefix) != 0) return 0;
  return DataLayout::DateOfDayArchive(std::string_view(path).substr(prefix.size()));
}

// A relative path without empty, "." or ".." parts and without backslashes.
bool IsSafeRelative(const std::string& path) {
  if (path.empty() || path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

using Clock = std::chrono::steady_clock;

// A connection's socket as the request reader and response writer use it,
// each wait bounded by the server's timeouts.
class SocketStream final : public httplib::Stream {
 public:
  SocketStream(int fd, int readMs, int writeMs) : fd_(fd), readMs_(readMs), writeMs_(writeMs) {}
  bool is_readable() const override { return Wait(POLLIN, readMs_); }
  bool is_writable() const override { return Wait(POLLOUT, writeMs_); }
  ssize_t read(char* data, std::size_t size) override { return is_readable() ? ::recv(fd_, data, size, 0) : -1; }
  using httplib::Stream::write;
  ssize_t write(const char* data, std::size_t size) override {
    return is_writable() ? ::send(fd_, data, size, MSG_NOSIGNAL) : -1;
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(::getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(::getsockname, ip, port); }
  socket_t socket() const override { return fd_; }

 private:
  bool Wait(short events, int ms) const {
    pollfd p{fd_, events, 0};
    int n;
    while ((n = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {}
    return n > 0 && (p.revents & (events | POLLHUP)) != 0;
  }
  void Address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    char text[INET_ADDRSTRLEN] = "";
    if (get(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(a.sin_port);
  }
  int fd_, readMs_, writeMs_;
};

enum class Head { kWaiting, kComplete, kGone };

// Whether the request head (up to its blank line) has arrived, without taking it.
Head PeekHead(int fd) {
  char buffer[16384];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return Head::kGone;
  if (n < 0) return Head::kWaiting;
  const std::string_view text(buffer, static_cast<std::size_t>(n));
  const bool complete = text.find("\r\n\r\n") != text.npos || text.find("\n\n") != text.npos;
  return complete || n == sizeof buffer ? Head::kComplete : Head::kWaiting;  // a head too long fails at once
}

// Serves one request per connection, and gives a worker only to a connection
// whose request head is complete: until then it waits in a waiting room that
// one thread polls, and is dropped when its head has not arrived in full by
// the deadline. Clients that trickle their heads hold no worker, however many
// they are, and cannot keep the ready ones waiting.
class GatedServer : public httplib::Server {
 public:
  GatedServer(int workers, int headDeadlineSeconds) : headDeadline_(headDeadlineSeconds) {
    new_task_queue = [this, workers] {
      auto* pool = new httplib::ThreadPool(static_cast<std::size_t>(workers));
      pool_.store(pool);
      return pool;
    };
  }
  ~GatedServer() override { CloseRoom(); }

  void OpenRoom() { room_ = std::thread([this] { WatchRoom(); }); }
  // Drops every waiting connection; before stop(), so that nothing is
  // handed to the workers as they end.
  void CloseRoom() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    if (room_.joinable()) room_.join();
  }

 private:
  struct Waiting {
    int fd;
    Clock::time_point deadline;
  };

  // Runs on a worker for each accepted connection.
  bool process_and_close_socket(socket_t fd) override {
    const Head head = PeekHead(fd);
    if (head == Head::kComplete) return Serve(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (head == Head::kGone || closed_) return ::close(fd), false;
    waiting_.push_back({fd, Clock::now() + headDeadline_});
    return true;
  }

  bool Serve(int fd) {
    SocketStream stream(fd, static_cast<int>(read_timeout_sec_ * 1000), static_cast<int>(write_timeout_sec_ * 1000));
    bool closed = false;
    const bool served = process_request(stream, true, closed, nullptr);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    return served;
  }

  void WatchRoom() {
    for (;;) {
      std::vector<Waiting> waiting;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) break;
        waiting.swap(waiting_);
      }
      std::vector<pollfd> fds;
      for (const Waiting& w : waiting) fds.push_back({w.fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), 20);  // also how soon new arrivals are looked at
      std::vector<Waiting> still;
      for (const Waiting& w : waiting) {
        const Head head = PeekHead(w.fd);
        if (head == Head::kComplete) {
          const int fd = w.fd;
          pool_.load()->enqueue([this, fd] { Serve(fd); });
        } else if (head == Head::kGone || Clock::now() >= w.deadline) {
          ::close(w.fd);
        } else {
          still.push_back(w);
        }
      }
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.insert(waiting_.end(), still.begin(), still.end());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Waiting& w : waiting_) ::close(w.fd);
    waiting_.clear();
  }

  const std::chrono::seconds headDeadline_;
  std::atomic<httplib::TaskQueue*> pool_{nullptr};
  std::mutex mutex_;
  std::vector<Waiting> waiting_;
  bool closed_ = false;
  std::thread room_;
};

}  // namespace

struct SampleServer::Impl {
  explicit Impl(ServerOptions o)
      : options(std::move(o)), http(std::max(1, options.workers), options.headDeadlineSeconds) {}
  ServerOptions options;
  GatedServer http;
  std::thread thread;
  std::mutex generateMutex;
  std::mutex logMutex;
  std::atomic<bool> stopping{false};
  int boundPort = -1;

  std::string CacheRoot() const {
    const SampleOptions& s = options.sample;
    return WithSlash(options.cacheDir) + "seed" + std::to_string(s.seed) + "-" + std::to_string(s.securities) +
           (s.fullTickDays ? "-full/" : "/");
  }

  int Today() const { return options.today ? options.today() : LocalDateOf(std::time(nullptr)); }

  // The cached file, generated first when missing.
  Resolved Cached(const std::string& file, const std::function<bool(std::string*)>& generate) {
    Resolved r;
    if (IsRegularFile(file)) return {200, file, {}};
    std::lock_guard<std::mutex> lock(generateMutex);
    if (IsRegularFile(file)) return {200, file, {}};
    std::string error;
    if (!generate(&error)) return {500, {}, error};
    return {200, file, {}};
  }

  // A manifest or its signature of a folder of generated archives, signed
  // again when an archive is newer than the manifest.
  Resolved Manifest(const std::string& dir, const std::string& name) {
    std::lock_guard<std::mutex> lock(generateMutex);
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path sums = dir + kManifestName;
    bool stale = !IsRegularFile(sums.string()) || !IsRegularFile(dir + kManifestSignatureName);
    for (const auto& entry : fs::directory_iterator(dir, ec))
      stale = stale || (entry.path().extension() == ".zip" && entry.last_write_time() > fs::last_write_time(sums, ec));
    std::string error;
    if (stale && !SignFolder(dir, *options.signing, &error)) return {500, {}, error};
    return {200, dir + name, {}};
  }

  Resolved ResolveGenerated(const std::string& path) {
    const std::string root = CacheRoot();
    const SampleOptions sample = options.sample;
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    if (options.signing && (name == kManifestName || name == kManifestSignatureName)) {
      if (folder == "/") Cached(root + kConfigArchiveName, [&](std::string* e) { return WriteConfigArchive(root, e); });
      if (folder == "/" || folder == std::string("/") + kDailyArchivePath || folder == std::string("/") + kTickArchivePath)
        return Manifest(root + folder.substr(1), name);
      return {};
    }
    if (path == std::string("/") + kConfigArchiveName) {
      return Cached(root + kConfigArchiveName, [&](std::string* e) { return WriteConfigArchive(root, e); });
    }
    const std::string dailyPrefix = std::string("/") + kDailyArchivePath;
    const std::string tickPrefix = std::string("/") + kTickArchivePath;
    if (const int date = DateOfArchivePath(path, dailyPrefix); date != 0) {
      if (!IsServedDate(date, Today())) return {};
      const std::string dir = root + kDailyArchivePath;
      return Cached(dir + DayArchiveName(date),
                    [&](std::string* e) { return WriteDailyArchiveZip(date, sample, dir, e); });
    }
    if (const int date = DateOfArchivePath(path, tickPrefix); date != 0) {
      if (!IsServedDate(date, Today())) return {};
      const std::string dir = root + kTickArchivePath;
      return Cached(dir + DayArchiveName(date),
                    [&](std::string* e) { return WriteTickArchiveZip(date, sample, dir, e); });
    }
    return {};
  }

  Resolved ResolveStatic(const std::string& path) {
    if (path.size() < 2 || path[0] != '/' || !IsSafeRelative(path.substr(1))) return {};
    const std::string file = WithSlash(options.staticDir) + path.substr(1);
    if (!IsRegularFile(file)) return {};
    return {200, file, {}};
  }

  bool Authorized(const httplib::Request& req) const {
    static const std::string expected =
        httplib::make_basic_authentication_header(kServerUser, kServerPassword).second;
    return req.get_header_value("Authorization") == expected;
  }

  void SendFile(const std::string& file, httplib::Response& res) {
    auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!*in || ec) {
      res.status = 500;
      res.set_content("cannot read " + file + "\n", "text/plain");
      return;
    }
    res.status = 200;
    res.set_content_provider(static_cast<std::size_t>(size), "application/zip",
                             [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               char buffer[65536];
                               in->seekg(static_cast<std::streamoff>(offset));
                               const std::size_t want = std::min(length, sizeof buffer);
                               in->read(buffer, static_cast<std::streamsize>(want));
                               const auto got = static_cast<std::size_t>(in->gcount());
                               if (got == 0) return false;
                               return sink.write(buffer, got);
                             });
  }

  // Waits while the request's hold file is there, or until the server stops.
  void WaitAtGate(const std::string& path) {
    if (options.holdDir.empty()) return;
    const std::string hold = WithSlash(options.holdDir) + path.substr(path.rfind('/') + 1) + ".hold";
    std::error_code ec;
    while (!stopping && fs::exists(hold, ec)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  void Handle(const httplib::Request& req, httplib::Response& res) {
    WaitAtGate(req.path);
    if (!Authorized(req)) {
      res.status = 401;
      res.set_header("WWW-Authenticate", "Basic realm=\"marbloom sample market\"");
      res.set_content("credentials required\n", "text/plain");
      return;
    }
    const Resolved r = options.staticDir.empty() ? ResolveGenerated(req.path) : ResolveStatic(req.path);
    if (r.status == 200) return SendFile(r.file, res);
    res.status = r.status;
    res.set_content(r.status == 404 ? "not found\n" : r.message + "\n", "text/plain");
  }

  void Log(const httplib::Request& req, const httplib::Response& res) {
    if (!options.log) return;
    std::string length = res.get_header_value("Content-Length");
    if (length.empty()) length = std::to_string(res.body.size());
    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(options.log, "%s %s %s %d %s\n", req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(),
                 res.status, length.c_str());
    std::fflush(options.log);
  }
};

SampleServer::SampleServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  impl_->http.set_read_timeout(impl_->options.readTimeoutSeconds, 0);
  impl_->http.set_write_timeout(impl_->options.writeTimeoutSeconds, 0);
  impl_->http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { impl_->Handle(req, res); });
  impl_->http.set_logger([this](const httplib::Request& req, const httplib::Response& res) { impl_->Log(req, res); });
}

SampleServer::~SampleServer() { Stop(); }

bool SampleServer::Start() {
  Impl& i = *impl_;
  if (i.options.port == 0) {
    i.boundPort = i.http.bind_to_any_port(i.options.host.c_str());
  } else {
    i.boundPort = i.http.bind_to_port(i.options.host.c_str(), i.options.port) ? i.options.port : -1;
  }
  if (i.boundPort <= 0) return false;
  i.http.OpenRoom();
  i.thread = std::thread([&i] { i.http.listen_after_bind(); });
  return true;
}

void SampleServer::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->stopping = true;
  impl_->http.CloseRoom();
  impl_->http.stop();
  impl_->thread.join();
}

int SampleServer::port() const { return impl_->boundPort; }

Resolved SampleServer::Resolve(const std::string& path) {
  return impl_->options.staticDir.empty() ? impl_->ResolveGenerated(path) : impl_->ResolveStatic(path);
}

}  // namespace marbloom::sample
