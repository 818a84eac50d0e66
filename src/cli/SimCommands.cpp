#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

namespace tarnvel::cli {

void addSimCommands(CLI::App& /*app*/, CliContext& /*ctx*/) {}

} // namespace tarnvel::cli
