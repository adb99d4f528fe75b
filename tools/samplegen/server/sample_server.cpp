// The sample archive server on cpp-httplib.
#include "sample_server.h"

#include <httplib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "common/calendar.h"

namespace marbloom::sample {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// "<prefix>YYYYMMDD.zip" → the date, else 0.
int DateOfArchivePath(const std::string& path, const std::string& prefix) {
  if (path.size() != prefix.size() + 12 || path.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string name = path.substr(prefix.size());
  if (name.compare(8, 4, ".zip") != 0) return 0;
  for (int i = 0; i < 8; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
  }
  return std::stoi(name.substr(0, 8));
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

}  // namespace

struct SampleServer::Impl {
  ServerOptions options;
  httplib::Server http;
  std::thread thread;
  std::mutex generateMutex;
  std::mutex logMutex;
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

  Resolved ResolveGenerated(const std::string& path) {
    const std::string root = CacheRoot();
    const SampleOptions sample = options.sample;
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

  void Handle(const httplib::Request& req, httplib::Response& res) {
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

SampleServer::SampleServer(ServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  const auto workers = static_cast<std::size_t>(std::max(1, impl_->options.workers));
  impl_->http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  impl_->http.set_read_timeout(impl_->options.readTimeoutSeconds, 0);
  impl_->http.set_write_timeout(impl_->options.writeTimeoutSeconds, 0);
  impl_->http.set_keep_alive_timeout(impl_->options.readTimeoutSeconds);
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
  i.thread = std::thread([&i] { i.http.listen_after_bind(); });
  return true;
}

void SampleServer::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->http.stop();
  impl_->thread.join();
}

int SampleServer::port() const { return impl_->boundPort; }

Resolved SampleServer::Resolve(const std::string& path) {
  return impl_->options.staticDir.empty() ? impl_->ResolveGenerated(path) : impl_->ResolveStatic(path);
}

}  // namespace marbloom::sample
