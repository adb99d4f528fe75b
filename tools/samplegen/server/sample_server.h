#pragma once
// The sample archive server: serves "downit.zip" at its root and each day's
// daily and tick archives under the paths that "downit5.cfg" names,
// generating a day on its first request and keeping it in a cache folder.
// Every request needs the HTTP Basic credentials of the download client.
// A static mode serves an existing folder of archives instead.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sample_sign.h"
#include "samplegen.h"

namespace marbloom::sample {

// Workers that serve requests at once. A connection takes one only once its
// request head is complete, so clients that trickle their heads cannot starve
// the rest, however many connect.
inline constexpr int kServerWorkers = 64;

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = kDefaultServerPort;  // 0: any free port
  int workers = kServerWorkers;
  int headDeadlineSeconds = 10;   // for the whole request head; a slower client is dropped
  int readTimeoutSeconds = 5;     // for each read of a request
  int writeTimeoutSeconds = 15;   // for each write of a reply
  SampleOptions sample;
  std::string cacheDir = "sampled-cache/";  // generated archives
  std::string staticDir;                    // non-empty: serve this folder instead
  // Non-empty: a request for .../NAME is answered only once no file
  // NAME.hold is left in this folder (a test opens the gate by removing it).
  std::string holdDir;
  std::function<int()> today;               // YYYYMMDD; empty: the local date
  // With a key, each folder of generated archives also serves SHA256SUMS of
  // the archives generated so far and its signature, made again whenever
  // the folder gained an archive since.
  std::optional<SigningKey> signing;
  std::FILE* log = stdout;                  // one line per request
};

// What a request path resolves to.
struct Resolved {
  int status = 404;       // 200, 404 or 500
  std::string file;       // with 200: the file to send
  std::string message;    // with 500: what went wrong
};

class SampleServer {
 public:
  explicit SampleServer(ServerOptions options);
  ~SampleServer();
  SampleServer(const SampleServer&) = delete;
  SampleServer& operator=(const SampleServer&) = delete;

  // Binds and starts serving on a thread of its own; false when the port
  // cannot be bound.
  bool Start();
  // Stops serving and joins the thread; safe to call more than once.
  void Stop();
  // The bound port (after Start).
  int port() const;

  // The file behind a request path, generating it when needed.
  Resolved Resolve(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace marbloom::sample
