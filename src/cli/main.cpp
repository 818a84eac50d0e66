#include "cli/CliContext.h"
#include "cli/CliSupport.h"

#include <CLI/CLI.hpp>

int main(int argc, char** argv)
{
    using namespace tarnvel::cli;
    lineBufferedWhenPiped();
    CLI::App app{"tarnvel-cli: a DAT deck on an audio-capable DDS tape drive"};
    app.require_subcommand(1);
    // Global options may follow the subcommand: `tarnvel-cli play --set KEY=VALUE`,
    // `tarnvel-cli image make-sample X.TVI --yes`.
    app.fallthrough();
    CliContext ctx;
    app.add_option("--drive", ctx.driveSpec,
                   "Drive to use: /dev/sgN, /dev/nstN, sim:CASSETTE or image:FILE.TVI (a read-only "
                   "drive over a tape image; default: first audio drive)");
    app.add_flag("--log", ctx.log, "Write the SCSI command log TVDAT.LOG");
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return reportParseError(app, e);
    }
    return ctx.exitCode;
}
