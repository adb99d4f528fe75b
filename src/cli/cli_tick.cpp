// Commands of this subsystem arrive with its engine.
#include "cli/cli_common.h"

namespace marbloom::cli {

void RegisterTickCommands(CLI::App& /*app*/, Context& /*context*/) {}

}  // namespace marbloom::cli
