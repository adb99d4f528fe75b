// Commands of this subsystem arrive with its engine.
#include "cli/cli_common.h"

namespace marbloom::cli {

void RegisterArchiveCommands(CLI::App& /*app*/, Context& /*context*/) {}

}  // namespace marbloom::cli
