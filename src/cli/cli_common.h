#pragma once
// Shared pieces of marbloom-cli: the command context, exit codes, argument
// parsing and the way an operation's status is shown.
#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>

#include "common/date_range.h"
#include "common/operation_engine.h"
#include "common/operation_result.h"
#include "common/shared_state.h"

namespace marbloom::cli {

enum ExitCode : int {
  kExitDone = 0,
  kExitFailed = 1,      // a failure, bad files found, or nothing to work on
  kExitUsage = 2,       // usage or validation error (the page's message)
  kExitCancelled = 3,   // cancelled (Ctrl-C, SIGTERM), also when ended at once
  kExitNotReady = 4,    // the data tree is not ready
  kExitBusy = 5,        // another operation holds the data tree's writer lock
};

// What a parsed command line asks for; the action runs after start-up.
struct Context {
  std::string workDir;                 // -C; empty: chosen by EnterWorkDirectory
  bool quiet = false;                  // --quiet: errors and the final status only
  std::function<int()> action;         // set by the chosen subcommand
  std::string operation;               // what the undo journal calls the run; empty: the command's names
  bool changesNothing = false;         // start-up neither creates nor probes the data tree (a dry run)
  std::string sourceTree;              // the other tree a merge moves files out of, for the journal
  bool noUndo = false;                 // --no-undo: the run is not journalled
};

// The command line's one reporter: the status line and progress onto its
// board, which the progress display shows and the final line prints; the
// run log once main has found the work directory.
FrontReporter& Reports();

// The whole command tree: the global options, the exit codes and every
// subsystem's commands.
void SetUpCommands(CLI::App& app, Context& context);

// The names of the chosen command and its subcommands ("daily delete").
std::string CommandNames(const CLI::App& app);
// The command line after the program's name, as one text.
std::string ArgumentText(int argc, char** argv);

// Ends the command's help with its example, a whole command line.
CLI::App* WithExample(CLI::App* command, const std::string& example);

// The date forms a user may type, as the help and the refusal name them.
inline constexpr const char* kDateForms = "YYYYMMDD, YYYY-MM-DD, today or yesterday";


// A CLI11 validator for the date forms; it turns the value into YYYYMMDD, so
// an option added with ->transform() holds the date fixed at parse time.
CLI::Validator DateValidator();

// A date option in any of the forms, held as YYYYMMDD text.
CLI::Option* AddDateOption(CLI::App* command, const std::string& name, std::string& date, const std::string& help);

// While alive, the operation runs: Ctrl-C and SIGTERM call its cancel (an
// engine's Cancel, or what the command gives; nothing when empty) and the
// progress display shows its status. Ends the display before the command
// prints its results.
class RunningOperation {
 public:
  explicit RunningOperation(OperationEngine& engine);
  explicit RunningOperation(std::function<void()> cancel = {});
  ~RunningOperation();
  RunningOperation(const RunningOperation&) = delete;
  RunningOperation& operator=(const RunningOperation&) = delete;
};

// Prints a validation message as the final status and returns kExitUsage.
int UsageFailure(const std::string& message);

// The data guard of the pages: returns kExitNotReady after printing the
// message when the tree is not ready, else kExitDone.
int RequireDataTree(const char* guardMessage);
// The tick page's guard, which also writes its message to the run log.
int RequireTickDataTree();

// Ends the progress display, prints the final status line on stdout and
// returns `code`.
int Finish(int code);

// The exit code of an operation's result: done 0, failed or nothing to do 1,
// invalid input 2, cancelled 3, busy 5.
int ExitCodeOf(const OperationResult& result);
// Ends the progress display, prints the result's message as the final status
// line on stdout and returns its exit code.
int FinishWith(const OperationResult& result);

// Each subsystem adds its commands.
void RegisterSettingsCommands(CLI::App& app, Context& context);
void RegisterDailyCommands(CLI::App& app, Context& context);
void RegisterTickCommands(CLI::App& app, Context& context);
void RegisterMinuteCommands(CLI::App& app, Context& context);
void RegisterArchiveCommands(CLI::App& app, Context& context);
void RegisterDownloadCommands(CLI::App& app, Context& context);
void RegisterUndoCommands(CLI::App& app, Context& context);

}  // namespace marbloom::cli
