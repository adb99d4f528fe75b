// download config | download daily | download tick: the download page's run
// from the command line; update: the catch-up a scheduled after-close run
// starts, which needs no dates.
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "app/settings.h"
#include "base/text_encoding.h"
#include "cli/cli_common.h"
#include "cli/cli_signals.h"
#include "common/calendar.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "download/archive_store.h"
#include "download/archive_unpack.h"
#include "download/catch_up.h"
#include "download/download_config.h"
#include "download/download_run.h"

namespace marbloom::cli {
namespace {

struct RunArgs {
  std::string from, to;
  bool noConvert = false;
};

int LoadConfig() {
  if (int code = RequireDataTree(kDataGuardMessage)) return code;
  DownloadClient client(CurrentLayout(), CurrentDownloadServer());
  OperationResult loaded;
  {
    RunningOperation running([&client] { client.Cancel(); });
    loaded = LoadDownloadConfig(client);
  }
  // A cancelled fetch ends with the client's cancel message.
  if (loaded.outcome == Outcome::kCancelled) return Finish(kExitCancelled);
  if (!loaded.done()) {
    Reports().ReportF("%s", kConfigFailedMessage);
    return Finish(kExitFailed);
  }
  // Server text, shown without credentials and without control characters.
  for (int i = 0; i < kServerTableEntries; ++i)
    if (std::string path = client.config().ServerPath(i); !path.empty())
      std::printf("PATH%02d=%s\n", i + 1, PrintableText(RedactedUrl(path)).c_str());
  // With mirrors or verification, the servers in the order they are tried.
  const DownloadServer& server = client.server();
  if (!server.mirrors.empty() || !server.trustedKeys.empty()) {
    std::printf("SERVER1=%s\n", PrintableText(RedactedUrl(server.baseUrl)).c_str());
    for (std::size_t i = 0; i < server.mirrors.size(); ++i)
      std::printf("SERVER%zu=%s\n", i + 2, PrintableText(RedactedUrl(server.mirrors[i])).c_str());
    std::printf("VERIFY=%s\n", server.trustedKeys.empty() ? "off" : "minisign");
  }
  return Finish(kExitDone);
}

int Download(DownloadKind kind, const RunArgs& args) {
  if (int code = RequireDataTree(kDataGuardMessage)) return code;
  DownloadRun run(CurrentDownloadSetup());
  run.Reset();
  const DownloadRequest request{kind, LocalNoonOf(ParseDate(args.from).value_or(0)),
                                LocalNoonOf(ParseDate(args.to).value_or(0)), !args.noConvert};
  // Ctrl-C ends the whole command: no conversion after the downloads, and
  // no minute build after a cancelled tick conversion.
  RunningOperation running([&run] { run.CancelAll(); });
  return FinishWith(run.Run(request));
}

struct UpdateArgs {
  bool daily = false, tick = false, dryRun = false;
  std::string from, to;
};

int Update(const UpdateArgs& args) {
  // A dry run only reads: start-up has left the tree as it was, and a tree
  // that is missing reads as one without data.
  if (!args.dryRun)
    if (int code = RequireDataTree(kDataGuardMessage)) return code;
  CatchUpRequest request;
  request.daily = args.daily || !args.tick;
  request.tick = args.tick || !args.daily;
  request.from = ParseDate(args.from).value_or(0);
  request.to = ParseDate(args.to).value_or(0);
  request.now = std::time(nullptr);
  if (request.from != 0 && request.to != 0 && request.from > request.to)
    return UsageFailure(kDateRangeInvalidMessage);
  if (args.dryRun) {
    for (const DownloadKind kind : {DownloadKind::kDaily, DownloadKind::kTick})
      if (kind == DownloadKind::kDaily ? request.daily : request.tick)
        for (const std::string& line : DescribePlan(PlanCatchUp(CurrentLayout(), kind, request), request.now))
          std::printf("%s\n", PrintableText(line).c_str());
    Reports().Status("试运行, 未做任何改动.");
    return Finish(kExitDone);
  }
  CatchUp update(CurrentDownloadSetup());
  update.Reset();
  RunningOperation running([&update] { update.CancelAll(); });
  const OperationResult result = update.Run(request);
  // A run that brought the tree up to date no longer needs the oldest archives (KEEPDAYS).
  if (result.outcome == Outcome::kDone || result.outcome == Outcome::kNothingToDo)
    PruneArchives(CurrentLayout(), Settings().keepDays, MarketTimeAt(request.now).date);
  return FinishWith(result);
}

void AddUpdate(CLI::App& app, Context& context) {
  auto args = std::make_shared<UpdateArgs>();
  CLI::App* command = app.add_subcommand(
      "update", "download and convert every day after the last complete one, up to the latest the server has");
  command->add_flag("--daily", args->daily, "daily data (both kinds when neither --daily nor --tick is given)");
  command->add_flag("--tick", args->tick, "tick data, with minute lines when TRANSMIN is set");
  AddDateOption(command, "--from", args->from, "first day instead of the day after the last complete day");
  AddDateOption(command, "--to", args->to, "last day instead of the latest day the server can have");
  command->add_flag("--dry-run", args->dryRun, "print the days each kind would fetch, and why, and change nothing");
  WithExample(command, "marbloom-cli --quiet update");
  command->footer(
      "The last day of each kind that is completely in the tree is recorded in update.ini in the work directory\n"
      "and checked against the tree. The latest day is today from 17:30 China time on a weekday, else the\n"
      "weekday before; days are fetched in runs of at most 31 days. A day the server lacks (a 404) before one it\n"
      "has is a holiday; the two newest weekdays up to the latest day, when it lacks them, are not published yet\n"
      "(exit 0, fetched by the next run). An older day it lacks with none after it, and any other failure, stop\n"
      "that kind at that day with exit 1; the next run resumes there. Without update.ini the newest day that\n"
      "every index security holds is fetched again. --dry-run creates and writes nothing. After a run that ends\n"
      "done, day archives older than KEEPDAYS weekdays (when set) leave the download area.\n\n" +
      command->get_footer());
  command->callback([&context, args] {
    context.changesNothing = args->dryRun;
    context.action = [args] { return Update(*args); };
  });
}

void AddRun(CLI::App* download, Context& context, const char* name, DownloadKind kind, const char* help,
            const char* example) {
  auto args = std::make_shared<RunArgs>();
  CLI::App* command = download->add_subcommand(name, help);
  AddDateOption(command, "--from", args->from, "first date")->required();
  AddDateOption(command, "--to", args->to, "last date, at most 31 days after the first")->required();
  command->add_flag("--no-convert", args->noConvert, "download and unpack only");
  WithExample(command, example);
  command->callback([&context, args, kind] {
    context.action = [args, kind] { return Download(kind, *args); };
  });
}

}  // namespace

void RegisterDownloadCommands(CLI::App& app, Context& context) {
  CLI::App* download = app.add_subcommand(
      "download", "download day archives from the server and convert them (a day's data is there after 17:30)");
  download->require_subcommand(1);
  WithExample(download, "marbloom-cli --quiet download daily --from today --to today");

  CLI::App* config = download->add_subcommand("config", "fetch the download configuration, print its server paths");
  WithExample(config, "marbloom-cli download config");
  config->callback([&context] { context.action = LoadConfig; });

  AddUpdate(app, context);
  AddRun(download, context, "daily", DownloadKind::kDaily,
         "download the daily data of each weekday, then convert it into daily lines; exits 1 when no day "
         "could be obtained (a holiday, or not on the server yet)",
         "marbloom-cli download daily --from 2022-05-09 --to 2022-05-13");
  AddRun(download, context, "tick", DownloadKind::kTick,
         "download the tick data of each weekday, then convert it (and build minute lines when TRANSMIN is "
         "set); exits 1 when no day could be obtained",
         "marbloom-cli download tick --from yesterday --to today --no-convert");
}

}  // namespace marbloom::cli
