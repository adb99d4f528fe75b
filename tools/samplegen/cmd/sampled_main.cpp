// marbloom-sampled: the sample archive server.
//   marbloom-sampled [--port P] [--seed S] [--securities N] [--full]
//                    [--cache DIR] [--static DIR] [--hold DIR] [--sign KEY] [--version]
// Runs until SIGINT or SIGTERM.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <pthread.h>

#include "base/version.h"
#include "sample_server.h"

int main(int argc, char** argv) {
  using namespace marbloom::sample;
  CLI::App app{"Serves the sample market's archives over HTTP on the loopback interface."};
  app.set_version_flag("--version", std::string("marbloom-sampled ") + marbloom::ProgramVersion());
  app.footer(
      "Examples:\n"
      "  marbloom-sampled --cache ~/.cache/marbloom-sampled/\n"
      "  marbloom-sampled --port 8651 --full\n"
      "  marbloom-sampled --static /srv/archives/");
  ServerOptions options;
  bool full = false;
  app.add_option("--port", options.port, "port (default 8650)")->check(CLI::Range(1, 65535));
  app.add_option("--seed", options.sample.seed, "seed of the market (default 1)");
  app.add_option("--securities", options.sample.securities, "about this many securities")->check(CLI::Range(1, 30000));
  app.add_flag("--full", full, "the full market: 16,000 securities and realistic tick days");
  app.add_option("--cache", options.cacheDir, "folder of generated archives (default sampled-cache/)");
  app.add_option("--static", options.staticDir, "serve this folder of archives instead")->check(CLI::ExistingDirectory);
  app.add_option("--hold", options.holdDir, "answer a request for NAME only once this folder holds no NAME.hold")
      ->check(CLI::ExistingDirectory);
  std::string sign;
  app.add_option("--sign", sign, "minisign secret key (unencrypted): serve signed SHA256SUMS manifests "
                                 "of the generated archives")->check(CLI::ExistingFile);
  CLI11_PARSE(app, argc, argv);
  if (!sign.empty()) {
    std::string error;
    options.signing = ReadSigningKey(sign, &error);
    if (!options.signing) return std::fprintf(stderr, "marbloom-sampled: %s\n", error.c_str()), 2;
  }
  if (full) {
    options.sample.fullTickDays = true;
    if (app.count("--securities") == 0) options.sample.securities = kFullMarketSecurities;
  }

  // The signals are taken by sigwait below; every server thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SampleServer server(options);
  if (!server.Start()) {
    std::fprintf(stderr, "marbloom-sampled: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  std::fprintf(stderr, "marbloom-sampled: serving %s on http://%s:%d/ (user %s)\n",
               options.staticDir.empty() ? "the sample market" : options.staticDir.c_str(), options.host.c_str(),
               server.port(), kServerUser);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  std::fprintf(stderr, "marbloom-sampled: stopping on signal %d\n", signal);
  server.Stop();
  return 0;
}
