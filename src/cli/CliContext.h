#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tarnvel::sim {
struct DriveRequest;
}

namespace tarnvel::cli {

// Global options and the exit code every subcommand sets.
struct CliContext {
    std::string driveSpec;  // sim::DriveSpec ("/dev/sgN", "sim:CASSETTE", "image:FILE.TVI", ...)
    bool log = false;       // write TVDAT.LOG
    bool realtime = false;  // simulated drives play at deck speed instead of as fast as possible
    bool assumeYes = false; // answer Yes/OK to every question, replace files
    int instance = 1;       // which of the two instances this process acts as
    std::string iniPath;    // settings file of this run instead of the instance's own
    std::vector<std::string> overrides; // KEY=VALUE settings for this run only
    int exitCode = 0;

    // TVDAT.LOG with the whole command exchange (--log-full).
    bool logFull = false;
    // A replayed drive answers at once instead of taking the recorded times (--fast-replay).
    bool fastReplay = false;
    // Set when a replayed drive met a command that differs from its recording (the run then
    // ends with a non-zero exit code).
    std::shared_ptr<std::atomic<bool>> replayDiffered = std::make_shared<std::atomic<bool>>(false);
};

// The drive of the global options: spec, speed, the command log (TVDAT.LOG with --log or
// --log-full), replay speed; a replay that differs says so on stderr and sets replayDiffered.
// CliDriveRequest.cpp.
sim::DriveRequest driveRequestOf(const CliContext& ctx);

// Each subsystem registers its subcommands in its own file.
void addImageCommands(CLI::App& app, CliContext& ctx);    // ImageCommands.cpp
void addDriveCommands(CLI::App& app, CliContext& ctx);    // DriveCommands.cpp
void addSimCommands(CLI::App& app, CliContext& ctx);      // SimCommands.cpp
void addFormatCommands(CLI::App& app, CliContext& ctx);   // FormatCommands.cpp
void addSettingsCommands(CLI::App& app, CliContext& ctx); // SettingsCommands.cpp
void addSoundCommands(CLI::App& app, CliContext& ctx);    // SoundCommands.cpp
void addDeckCommands(CLI::App& app, CliContext& ctx);     // DeckCommands.cpp
// After addImageCommands: it adds `image create`.
void addArchiveCommands(CLI::App& app, CliContext& ctx); // ArchiveCommands.cpp
void addRecordCommands(CLI::App& app, CliContext& ctx);  // RecordCommands.cpp
void addMergeCommands(CLI::App& app, CliContext& ctx);   // MergeCommands.cpp
// Adds to the "vid" command of FormatCommands.cpp: register after it.
void addVidCommands(CLI::App& app, CliContext& ctx); // VidCommands.cpp
// DriveCheckCommands.cpp
void addDriveCheckCommands(CLI::App& app, CliContext& ctx);
void addQcCommands(CLI::App& app, CliContext& ctx);    // QcCommands.cpp
void addShelfCommands(CLI::App& app, CliContext& ctx); // ShelfCommands.cpp

} // namespace tarnvel::cli
