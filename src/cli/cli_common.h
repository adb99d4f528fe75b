#pragma once
// Shared pieces of marbloom-cli: the command context, exit codes, argument
// parsing and the way an operation's status is shown.
#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>

#include "common/operation_result.h"

namespace marbloom::cli {

enum ExitCode : int {
  kExitDone = 0,
  kExitFailed = 1,      // the operation reported a failure, or a check found bad files
  kExitUsage = 2,       // usage or validation error (the page's message)
  kExitCancelled = 3,   // cancelled (Ctrl-C)
  kExitNotReady = 4,    // the data tree is not ready
  kExitBusy = 5,        // another operation holds the data tree's writer lock
};

// What a parsed command line asks for; the action runs after start-up.
struct Context {
  std::string workDir;                 // -C; empty: the current directory
  std::function<int()> action;         // set by the chosen subcommand
};

// YYYYMMDD or YYYY-MM-DD, a valid calendar date.
std::optional<int> ParseDate(const std::string& text);

// A CLI11 validator for dates in either form.
CLI::Validator DateValidator();

// Prints a validation message as the final status and returns kExitUsage.
int UsageFailure(const std::string& message);

// The data guard of the pages: returns kExitNotReady after printing the
// message when the tree is not ready, else kExitDone.
int RequireDataTree(const char* guardMessage);

// Prints the final status line on stdout and returns `code`.
int Finish(int code);

// The exit code of an operation's result: done 0, failed or nothing to do 1,
// invalid input 2, cancelled 3, busy 5.
int ExitCodeOf(const OperationResult& result);
// Prints the result's message as the final status line and returns its exit code.
int FinishWith(const OperationResult& result);

// Each subsystem adds its commands.
void RegisterSettingsCommands(CLI::App& app, Context& context);
void RegisterDailyCommands(CLI::App& app, Context& context);
void RegisterTickCommands(CLI::App& app, Context& context);
void RegisterMinuteCommands(CLI::App& app, Context& context);
void RegisterArchiveCommands(CLI::App& app, Context& context);
void RegisterDownloadCommands(CLI::App& app, Context& context);

}  // namespace marbloom::cli
