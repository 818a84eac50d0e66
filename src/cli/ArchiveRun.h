#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The archive run of `tarnvel-cli archive`, for the commands that archive tapes one after
// another (the shelf). ArchiveCommands.cpp.
namespace tarnvel::cli {

struct CliContext;

struct ArchiveOptions {
    std::string base;
    bool noDivide = false;
    std::optional<int> preRead;
    bool withSound = false;
    bool fromHere = false;
    bool bwf = false;
    bool noReport = false;
    bool noQc = false;
    std::string label;
    int retries = 0; // re-reading passes over a bad stretch (0: none)
    bool flac = false;
    int flacLevel = 5; // libFLAC's default
    // Put before the live line's own text (which tape of a shelf, ...); called on the main
    // thread while the run goes on.
    std::function<std::string()> liveLead;
};

// What an archive run wrote, for a caller that records it.
struct ArchiveFigures {
    int files = 0;
    std::int64_t seconds = 0;
    std::uint64_t errorFrames = 0;
    std::uint64_t errorsLeft = 0, errorsRight = 0, errorsAbs = 0;
    std::string report; // BASE.log, when written
};

// The whole archive of the tape in the drive of `ctx` into opt.base: files, cue list, report,
// quality-control page. Returns the exit code (0: archived; 128 + signal: interrupted).
int archive(const CliContext& ctx, const ArchiveOptions& opt, ArchiveFigures* figures = nullptr);

// Checks an archive against its report, a line a file. 0 when everything is intact.
int verify(const std::string& report);

} // namespace tarnvel::cli
