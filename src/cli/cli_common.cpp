#include "cli/cli_common.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "app/settings.h"
#include "base/run_log.h"
#include "base/version.h"
#include "cli/cli_progress.h"
#include "cli/cli_signals.h"
#include "common/calendar.h"
#include "common/shared_state.h"

namespace marbloom::cli {
namespace {

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  done\n"
    "  1  the operation reported a failure, a check found bad files, or there was nothing to work on\n"
    "     (a conversion whose range had no downloaded file at all)\n"
    "  2  usage error, or an input refused by its check (dates, code pattern, settings)\n"
    "  3  cancelled by Ctrl-C or SIGTERM (the operation stops at its next item; a second one ends at once)\n"
    "  4  the data tree is not ready (see 'settings show')\n"
    "  5  another operation holds the data tree's writer lock; try again later\n"
    "Progress goes to stderr, results and the final status line to stdout.\n"
    "\n"
    "Examples:\n"
    "  marbloom-cli settings show\n"
    "  marbloom-cli settings set TRANSMIN=1\n"
    "  marbloom-cli update --dry-run\n"
    "  marbloom-cli --quiet update\n"
    "  marbloom-cli -C /srv/quotes/work daily show sz000001 --from 20220502 --to 20220513 --csv\n"
    "  marbloom-cli undo list";

constexpr const char* kExitCodesBrief =
    "Exit codes: 0 done, 1 failed or nothing to work on, 2 refused, 3 cancelled, 4 data tree not ready, "
    "5 data tree busy (marbloom-cli --help tells more).";


}  // namespace

void SetUpCommands(CLI::App& app, Context& context) {
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(kExitCodes);
  app.set_version_flag("--version", std::string("marbloom-cli ") + ProgramVersion());
  app.add_option("-C", context.workDir,
                 "work directory (default: the current directory when it holds marbloom.ini, otherwise "
                 "$XDG_DATA_HOME/marbloom, that is ~/.local/share/marbloom, created on first use with the "
                 "history directory data/vipdoc/ inside it)")
      ->type_name("DIR");
  app.add_flag("-q,--quiet", context.quiet, "print only errors and the final status line, no progress");
  app.add_flag("--no-undo", context.noUndo,
               "do not keep what the command changes in the undo journal (for a disk without room for it); the "
               "run cannot be undone");
  RegisterSettingsCommands(app, context);
  RegisterDailyCommands(app, context);
  RegisterTickCommands(app, context);
  RegisterMinuteCommands(app, context);
  RegisterArchiveCommands(app, context);
  RegisterDownloadCommands(app, context);
  RegisterUndoCommands(app, context);
}

std::string CommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command = &app; !command->get_subcommands().empty();) {
    command = command->get_subcommands().front();
    names += (names.empty() ? "" : " ") + command->get_name();
  }
  return names;
}

std::string ArgumentText(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) text += (i > 1 ? " " : "") + std::string(argv[i]);
  return text;
}

CLI::App* WithExample(CLI::App* command, const std::string& example) {
  command->footer("Example:\n  " + example + "\n\n" + kExitCodesBrief);
  return command;
}


CLI::Validator DateValidator() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        auto date = ParseDate(value);
        if (!date) return "not a date: '" + value + "'; give " + kDateForms;
        value = std::to_string(*date);
        return std::string();
      },
      "DATE");
}

CLI::Option* AddDateOption(CLI::App* command, const std::string& name, std::string& date, const std::string& help) {
  return command->add_option(name, date, help + " (" + kDateForms + ")")->transform(DateValidator());
}

RunningOperation::RunningOperation(OperationEngine& engine)
    : RunningOperation([&engine] { engine.Cancel(); }) {}

RunningOperation::RunningOperation(std::function<void()> cancel) {
  ProcessCancel().SetTarget(std::move(cancel));
  BeginProgress();
}

RunningOperation::~RunningOperation() {
  EndProgress();
  ProcessCancel().SetTarget({});
}

FrontReporter& Reports() {
  static StatusBoard board;
  static FrontReporter reporter(board, RunLogFile());
  return reporter;
}

int UsageFailure(const std::string& message) {
  Reports().Status(message);
  return Finish(kExitUsage);
}

int RequireDataTree(const char* guardMessage) {
  if (DataTreeReady) return kExitDone;
  Reports().Status(guardMessage);
  return Finish(kExitNotReady);
}

int RequireTickDataTree() {
  if (!DataTreeReady) Reports().Log(kTickDataGuardMessage);
  return RequireDataTree(kTickDataGuardMessage);
}

namespace {

// The final status line on standard output, unless the progress display has
// just written it into the same file; after a failure, quiet first tells its
// cause on standard error.
void PrintFinalLine(const std::string& line, bool failed) {
  EndProgress();
  if (failed) ShowFailureCause();
  if (!ProgressShowed(line)) std::printf("%s\n", PrintableText(line).c_str());
  std::fflush(stdout);
}

}  // namespace

int Finish(int code) {
  PrintFinalLine(Reports().Board().StatusText(), code == kExitFailed);
  return code;
}

int ExitCodeOf(const OperationResult& result) {
  switch (result.outcome) {
    case Outcome::kDone: return kExitDone;
    case Outcome::kCancelled: return kExitCancelled;
    case Outcome::kBusy: return kExitBusy;
    case Outcome::kInvalid: return kExitUsage;
    case Outcome::kNothingToDo:
    case Outcome::kFailed: break;
  }
  return kExitFailed;
}

int FinishWith(const OperationResult& result) {
  PrintFinalLine(result.message, ExitCodeOf(result) == kExitFailed);
  return ExitCodeOf(result);
}

}  // namespace marbloom::cli
