#include "cli/CliContext.h"
#include "cli/CliSupport.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace {

// The exit status of a command line that cannot be carried out as given.
constexpr int kExitUsage = 2;

// A required name that begins with "-" is read as an option ("verify -x.log" reports the name
// as missing): say how to give it.
void hintAtDoubleDash(CLI::App& app, const CLI::ParseError& error)
{
    if (error.get_name() != "RequiredError")
        return;
    for (CLI::App* level = &app; level != nullptr;) {
        for (const std::string& word : level->remaining())
            if (word.size() > 1 && word[0] == '-' && word[1] != '-') {
                std::cerr << "A name that begins with \"-\" goes after \"--\", for example: -- "
                          << word << "\n";
                return;
            }
        const auto subs = level->get_subcommands();
        level = subs.empty() ? nullptr : subs.front();
    }
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tarnvel::cli;
    lineBufferedWhenPiped();
    CLI::App app{"tarnvel-cli: a DAT deck on an audio-capable DDS tape drive"};
    app.require_subcommand(1);
    app.set_version_flag("--version", TARNVEL_VERSION);
    // Global options may follow the subcommand: `tarnvel-cli play --set KEY=VALUE`,
    // `tarnvel-cli image make-sample X.TVI --yes`.
    app.fallthrough();
    CliContext ctx;
    app.add_option("--drive", ctx.driveSpec,
                   "Drive to use: /dev/sgN, /dev/nstN, sim:CASSETTE, image:FILE.TVI (a read-only "
                   "drive over a tape image) or replay:LOG (default: first audio drive)");
    app.add_flag("--log", ctx.log, "Write the SCSI command log TVDAT.LOG");
    app.add_flag("--log-full", ctx.logFull,
                 "Write TVDAT.LOG with the whole command exchange (data in hex, for a replay)");
    app.add_flag("--fast-replay", ctx.fastReplay,
                 "A replay:FILE drive answers at once instead of taking the recorded times");
    app.add_flag("--realtime", ctx.realtime, "Run simulated drives at deck speed");
    app.add_flag("-y,--yes", ctx.assumeYes,
                 "Answer Yes to every question; replace existing output files");
    app.add_option(
           "--instance", ctx.instance,
           "Act as instance 1 (\"Tarnvel\") or 2 (\"Tarnvel:2\"): its settings file and link")
        ->check(between(1, 2));
    app.add_option("--ini", ctx.iniPath,
                   "Settings file of this run (default: the program's TV.INI)");
    app.add_option("--set", ctx.overrides, "KEY=VALUE: one setting for this run only (repeatable)")
        ->allow_extra_args(false);

    addImageCommands(app, ctx);
    addDriveCommands(app, ctx);
    addSimCommands(app, ctx);
    addFormatCommands(app, ctx);
    addSettingsCommands(app, ctx);
    addSoundCommands(app, ctx);
    addDeckCommands(app, ctx);
    addArchiveCommands(app, ctx);
    addRecordCommands(app, ctx);
    addMergeCommands(app, ctx);
    addVidCommands(app, ctx);
    addDriveCheckCommands(app, ctx);
    addQcCommands(app, ctx);
    addShelfCommands(app, ctx);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = reportParseError(app, e);
        if (code == 0)
            return 0; // --help
        hintAtDoubleDash(app, e);
        // One status for every mistake in the command line, whatever the parser calls it.
        return kExitUsage;
    }
    if (ctx.replayDiffered->load() && ctx.exitCode == 0)
        ctx.exitCode = 1;
    return ctx.exitCode;
}
