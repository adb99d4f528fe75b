// marbloom-cli: the engines of the window program, driven from the command line.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/startup.h"
#include "base/message_sink.h"
#include "cli/cli_common.h"
#include "common/shared_state.h"

namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 done; 1 failed (a file failed, a check found bad files, nothing to do); 2 usage error or "
    "input refused; 3 cancelled; 4 data tree not ready; 5 data tree busy (another writing operation holds it).";

}  // namespace

int main(int argc, char** argv) {
  using namespace marbloom;
  CLI::App app{"marbloom-cli: maintain the history-data tree of the quote client"};
  app.require_subcommand(1);
  app.footer(kExitCodes);
  cli::Context context;
  app.add_option("-C", context.workDir, "work directory (default: the current directory)");
  cli::RegisterSettingsCommands(app, context);
  cli::RegisterDailyCommands(app, context);
  cli::RegisterTickCommands(app, context);
  cli::RegisterMinuteCommands(app, context);
  cli::RegisterArchiveCommands(app, context);
  cli::RegisterDownloadCommands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? cli::kExitDone : cli::kExitUsage;
  }
  if (!context.workDir.empty() && ::chdir(context.workDir.c_str()) != 0) {
    std::fprintf(stderr, "cannot enter work directory %s\n", context.workDir.c_str());
    return cli::kExitUsage;
  }
  std::string startFailure;
  SetMessageSink([&startFailure](const std::string& text, const std::string&) { startFailure = text; });
  if (!StartUp()) return cli::FinishWith(OperationResult{Outcome::kFailed, startFailure, 0});
  SetStatusObserver([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
  SetMessageSink([](const std::string& text, const std::string&) { SetStatusText(text); });
  if (!context.action) return cli::kExitUsage;
  return context.action();
}
