#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

namespace tarnvel::cli {

void addDriveCommands(CLI::App& /*app*/, CliContext& /*ctx*/) {}

} // namespace tarnvel::cli
