#include "cli/CliContext.h"
#include "sim/DriveSelect.h"

#include <iostream>

namespace tarnvel::cli {

sim::DriveRequest driveRequestOf(const CliContext& ctx)
{
    sim::DriveRequest r;
    r.spec = ctx.driveSpec;
    r.realtime = ctx.realtime;
    if (ctx.log || ctx.logFull)
        r.logFile = "TVDAT.LOG";
    r.fullLog = ctx.logFull;
    r.fastReplay = ctx.fastReplay;
    // Said at once, where the run stops making sense; the exit code follows at the end.
    r.replayDiffers = [flag = ctx.replayDiffered](const std::string& message) {
        std::cerr << message << "\n";
        flag->store(true);
    };
    return r;
}

} // namespace tarnvel::cli
