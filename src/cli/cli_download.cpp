// download config | download daily | download tick: the download page's run
// from the command line, as a scheduled after-close update runs it.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "app/settings.h"
#include "cli/cli_common.h"
#include "common/shared_state.h"
#include "download/archive_unpack.h"
#include "download/download_config.h"
#include "download/download_run.h"

namespace marbloom::cli {
namespace {

struct RunArgs {
  std::string from, to;
  bool noConvert = false;
};

// Local noon of a date, as a date picker holds it.
std::time_t TimeOfDate(int date) {
  std::tm t{};
  t.tm_year = date / 10000 - 1900;
  t.tm_mon = date / 100 % 100 - 1;
  t.tm_mday = date % 100;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// While it lives, SIGINT and SIGTERM cancel the run instead of ending the
// process, so no archive or data file is left half written.
class CancelOnSignal {
 public:
  explicit CancelOnSignal(DownloadRun& run) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    watcher_ = std::thread([this, &run] {
      const timespec slice{0, 200 * 1000 * 1000};
      while (!stop_.load())
        if (sigtimedwait(&signals_, nullptr, &slice) > 0) run.Cancel();
    });
  }
  ~CancelOnSignal() {
    stop_.store(true);
    watcher_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }

 private:
  sigset_t signals_{}, previous_{};
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

int LoadConfig() {
  if (int code = RequireDataTree(kDataGuardMessage)) return code;
  DownloadClient client(CurrentLayout(), Settings().downloadBase);
  if (!LoadDownloadConfig(client)) {
    ReportF("%s", kConfigFailedMessage);
    return Finish(kExitFailed);
  }
  for (int i = 0; i < kServerTableEntries; ++i)
    if (std::string path = ServerPath(i); !path.empty()) std::printf("PATH%02d=%s\n", i + 1, path.c_str());
  return Finish(kExitDone);
}

int Download(int kind, const RunArgs& args) {
  if (int code = RequireDataTree(kDataGuardMessage)) return code;
  const AppSettings& settings = Settings();
  DownloadRun run(CurrentLayout(), settings.downloadBase, settings.minutesAfterTick != 0, CurrentMinuteOptions());
  run.Reset();
  const DownloadRequest request{kind, TimeOfDate(ParseDate(args.from).value_or(0)),
                                TimeOfDate(ParseDate(args.to).value_or(0)), !args.noConvert};
  CancelOnSignal cancelOnSignal(run);
  return FinishWith(run.Run(request));
}

void AddRun(CLI::App* download, Context& context, const char* name, int kind, const char* help,
            const char* example) {
  auto args = std::make_shared<RunArgs>();
  CLI::App* command = download->add_subcommand(name, help);
  command->add_option("--from", args->from, "first date")->required()->check(DateValidator());
  command->add_option("--to", args->to, "last date (at most 31 days after the first)")
      ->required()->check(DateValidator());
  command->add_flag("--no-convert", args->noConvert, "download and unpack only");
  command->footer(example);
  command->callback([&context, args, kind] {
    context.action = [args, kind] { return Download(kind, *args); };
  });
}

}  // namespace

void RegisterDownloadCommands(CLI::App& app, Context& context) {
  CLI::App* download = app.add_subcommand("download", "download day archives from the server and convert them");
  download->require_subcommand(1);
  download->footer("Example: marbloom-cli download daily --from 2022-05-09 --to 2022-05-13");

  CLI::App* config = download->add_subcommand("config", "fetch the download configuration, print its server paths");
  config->footer("Example: marbloom-cli download config");
  config->callback([&context] { context.action = LoadConfig; });

  AddRun(download, context, "daily", kDownloadDaily,
         "download the daily data of each weekday, then convert it into daily lines",
         "Example: marbloom-cli download daily --from 2022-05-09 --to 2022-05-13");
  AddRun(download, context, "tick", kDownloadTick,
         "download the tick data of each weekday, then convert it (and build minute lines when TRANSMIN is set)",
         "Example: marbloom-cli download tick --from 20220509 --to 20220513 --no-convert");
}

}  // namespace marbloom::cli
