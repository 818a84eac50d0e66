#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
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
};

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

} // namespace tarnvel::cli
