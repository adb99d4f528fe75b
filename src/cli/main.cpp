// marbloom-cli: the engines of the window program, driven from the command line.
#include <unistd.h>

#include <cstdio>

#include "base/message_sink.h"
#include "app/startup.h"
#include "cli/cli_common.h"
#include "common/shared_state.h"

int main(int argc, char** argv) {
  using namespace marbloom;
  CLI::App app{"marbloom-cli: maintain the history-data tree of the quote client"};
  app.require_subcommand(1);
  cli::Context context;
  app.add_option("-C", context.workDir, "work directory (default: the current directory)");
  cli::RegisterSettingsCommands(app, context);
  cli::RegisterDailyCommands(app, context);
  cli::RegisterTickCommands(app, context);
  cli::RegisterMinuteCommands(app, context);
  cli::RegisterArchiveCommands(app, context);
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
  if (!StartUp()) return cli::kExitFailed;
  SetStatusObserver([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
  SetMessageSink([](const std::string& text, const std::string&) { SetStatusText(text); });
  if (!context.action) return cli::kExitUsage;
  return context.action();
}
