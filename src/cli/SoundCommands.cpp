#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

namespace tarnvel::cli {

void addSoundCommands(CLI::App& /*app*/, CliContext& /*ctx*/) {}

} // namespace tarnvel::cli
