// marbloom-cli: the engines of the window program, driven from the command line.
#include <unistd.h>

#include <string>

#include "app/settings.h"
#include "app/startup.h"
#include "base/message_sink.h"
#include "cli/cli_common.h"
#include "cli/cli_progress.h"
#include "cli/cli_signals.h"
#include "common/shared_state.h"

namespace {

constexpr const char* kCancelNote =
    "cancelling: the operation stops after its current item (Ctrl-C again ends at once)";
constexpr const char* kEndedNote = "ended at once";
constexpr const char* kNoUndoNote = " (--no-undo runs it without keeping anything to undo it)";

}  // namespace

int main(int argc, char** argv) {
  using namespace marbloom;
  CLI::App app{"marbloom-cli: maintain the history-data tree of the quote client"};
  cli::Context context;
  cli::SetUpCommands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? cli::kExitDone : cli::kExitUsage;
  }
  // Before any thread starts, so that only the watcher ever takes the signals.
  cli::BlockCancelSignals();
  cli::ProgressDisplay display(cli::ProgressModeFor(context.quiet, STDERR_FILENO), STDERR_FILENO,
                              cli::Reports().Board());
  cli::SignalWatcher signals(
      [&display](int count) {
        if (count == 1) return display.Note(kCancelNote);
        display.Abandon(kEndedNote);
      },
      cli::kExitCancelled);

  std::string startFailure;
  SetMessageSink([&startFailure](const std::string& text, const std::string&) { startFailure = text; });
  // A work directory named by -C that cannot be entered is a usage error.
  if (!EnterWorkDirectory(context.workDir, RealFileSystem()))
    return cli::FinishWith(
        OperationResult{context.workDir.empty() ? Outcome::kFailed : Outcome::kInvalid, startFailure, 0});
  FrontReporter& reporter = cli::Reports();
  reporter.SetLogFile(RunLogFile(CurrentLayout().LogDir()));
  SetFrontReporter(&reporter);
  if (!StartUp(RealFileSystem(), !context.changesNothing))
    return cli::FinishWith(OperationResult{Outcome::kFailed, startFailure, 0});
  if (!context.action) return cli::kExitUsage;
  reporter.SetStatusObserver([&display](const std::string& line) { display.Status(line); });
  reporter.SetLogObserver([&display](const std::string& message) { display.Logged(message); });
  SetMessageSink([](const std::string& text, const std::string&) { cli::ShowError(text); });
  // Every command runs inside one journalled run: a command that changes
  // the tree can be undone, one that only reads leaves nothing behind. A run
  // whose journal could not be written says so and fails.
  const int code = [&] {
    if (context.noUndo) return context.action();
    JournalledRun run(context.operation.empty() ? cli::CommandNames(app) : context.operation,
                      cli::ArgumentText(argc, argv), context.sourceTree);
    const int code = context.action();
    if (const std::string problem = run.Problem(); !problem.empty())
      cli::ShowError(run.Refused() ? problem + kNoUndoNote : problem);
    return run.Refused() && code == cli::kExitDone ? cli::kExitFailed : code;
  }();
  SetFrontReporter(nullptr);
  reporter.SetStatusObserver({});
  reporter.SetLogObserver({});
  SetMessageSink({});
  return code;
}
