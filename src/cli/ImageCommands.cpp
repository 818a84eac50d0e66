#include "cli/CliContext.h"

#include <CLI/CLI.hpp>

namespace tarnvel::cli {

void addImageCommands(CLI::App& /*app*/, CliContext& /*ctx*/) {}

} // namespace tarnvel::cli
