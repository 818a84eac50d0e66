#include "app/TimeDisplay.h"
#include "cli/CliContext.h"
#include "cli/CliSupport.h"
#include "dat/DatMessages.h"
#include "dat/LocateTarget.h"
#include "dat/MotionWait.h"
#include "dat/StatusPoll.h"
#include "dat/SubcodeDump.h"
#include "formats/StringPrintf.h"
#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"
#include "sim/DriveSelect.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <optional>

namespace tarnvel::cli {

namespace {

using formats::stringPrintf;
namespace msg = dat::msg;

// The command line polls faster than the idle loop's second so that a run starts quickly.
constexpr int kSettlePolls = 100;
constexpr int kSettleIntervalMs = 200;

struct DriveOptions {
    int count = 1;
    bool dump = false;
    bool ids = false;
    std::optional<int> pno;
    std::string abs;
};

sim::DriveRequest requestOf(const CliContext& ctx)
{
    return driveRequestOf(ctx);
}

int fail(const std::string& text)
{
    std::cerr << text << "\n";
    return 1;
}

// A command line that cannot be carried out as given.
int usage(const std::string& text)
{
    std::cerr << text << "\n";
    return 2;
}

// " %s %s %s": command name, status name, and the caller's text or the sense summary.
int driveError(const dat::DatDrive& drive, const char* text = nullptr)
{
    return fail(stringPrintf(tr(msg::kDriveErrorLine), drive.lastCommandName(), drive.statusText(),
                             text != nullptr ? text : drive.senseSummary()));
}

void printPosition(const dat::TapePosition* p)
{
    if (p == nullptr) {
        std::cout << tr(msg::kCliNoPosition) << "\n";
        return;
    }
    std::cout << stringPrintf(tr(msg::kCliPositionLine), static_cast<unsigned>(p->pNoDigits),
                              p->absIndex, dat::timeText(p->programTime).c_str(),
                              app::absText(*p).c_str(), dat::timeText(p->runningTime).c_str())
              << "\n";
}

void printStatus(const dat::StatusPollResult& r)
{
    std::cout << r.statusText << "\n";
    if (!r.detailText.empty())
        std::cout << r.detailText << "\n";
}

// A drive identified, in audio mode, with its tape loaded and ready.
struct Deck {
    sim::SelectedDrive selected;
    std::unique_ptr<dat::StatusPoller> poller;
    dat::StatusPollResult lastPoll;
    dat::DatDrive& drive() { return *selected.drive; }
    int d() const { return selected.index; }
};

// The end of every run that selected drives: those switched to audio mode go back to data
// mode, and a drive that refuses is an error.
int restoreDataMode(dat::DatDrive& drive, int exitCode)
{
    while (!drive.restoreDataMode()) {
        std::cerr << tr(msg::kDataModeNotRestored) << "\n";
        driveError(drive);
        if (exitCode == 0)
            exitCode = 1;
    }
    return exitCode;
}

// Opens the drive of the global options and runs `body` on it, then ends the run. With
// `needTape`, the tape must end up ready first.
int onDeck(const CliContext& ctx, bool needTape, const std::function<int(Deck&)>& body)
{
    Deck deck;
    deck.selected = sim::selectDrive(requestOf(ctx));
    if (!deck.selected.drive) {
        fail(deck.selected.error);
        // No tape device at all: the simulated drive is how to try the program.
        if (ctx.driveSpec.empty() && deck.selected.error == tr(msg::kTapeDriveNotFound))
            std::cerr << tr(msg::kCliNoDriveHint) << "\n";
        return 1;
    }
    warnIfLogOff(ctx, deck.drive());
    deck.poller = std::make_unique<dat::StatusPoller>(deck.drive(), deck.d());
    // Each run continues where the last one left the tape, as one deck would; only a tape that
    // comes in during the run is loaded and has its first frame read.
    if (deck.poller->adoptReadyTape()) {
        deck.lastPoll.status = dat::kUnitReady;
        deck.lastPoll.statusText = dat::unitStatusText(dat::kUnitReady);
    } else {
        deck.lastPoll = dat::pollUntilSettled(*deck.poller, kSettlePolls, kSettleIntervalMs);
    }
    int exitCode = 0;
    if (needTape && !deck.poller->tapeChecked()) {
        std::cerr << tr(msg::kTapeNotReady) << "\n";
        printStatus(deck.lastPoll);
        exitCode = 1;
    } else {
        exitCode = body(deck);
    }
    return restoreDataMode(deck.drive(), exitCode);
}

int drives(const CliContext& ctx)
{
    std::string error;
    std::unique_ptr<dat::DatDrive> drive = sim::openDriveObject(requestOf(ctx), error);
    if (!drive)
        return fail(error);
    warnIfLogOff(ctx, *drive);
    if (drive->deviceCount() == 0) {
        std::cerr << tr(msg::kTapeDriveNotFound) << "\n";
        if (ctx.driveSpec.empty())
            std::cerr << tr(msg::kCliNoDriveHint) << "\n";
        return 1;
    }
    // Every tape device found, with its state: audio mode or not, or why it cannot be used.
    for (int d = 0; d < drive->deviceCount(); ++d) {
        const scsi::ScsiDeviceEntry e = drive->getDevice(d);
        const bool audio = drive->deviceProblem(d).empty() && drive->identify(d);
        const std::string problem = drive->deviceProblem(d);
        std::string where = drive->devicePath(d);
        if (!drive->commandPath(d).empty())
            where += " (" + drive->commandPath(d) + ")";
        std::cout << stringPrintf(tr(scsi::msg::kDeviceLine), e.hostAdapter, e.target,
                                  e.vendor.data(), e.product.data(), e.revision.data())
                  << (problem.empty() ? tr(audio ? msg::kCliAudioMode : msg::kCliNoAudioMode)
                                      : "  " + problem)
                  << (where.empty() || !problem.empty() ? "" : "  " + where) << "\n";
    }
    return restoreDataMode(*drive, 0);
}

int status(const CliContext& ctx)
{
    return onDeck(ctx, false, [](Deck& deck) {
        printStatus(deck.lastPoll);
        if (deck.lastPoll.status == dat::kUnitReady && deck.poller->tapeChecked())
            printPosition(deck.lastPoll.arrived
                              ? deck.drive().getPosition(deck.d())
                              : deck.drive().readPositionAndParse(deck.d(), false));
        return 0;
    });
}

// Runs a motion command with the immediate bit, waits for the tape to stop, prints where.
template <typename Command> int motion(const CliContext& ctx, bool needTape, Command command)
{
    return onDeck(ctx, needTape, [&](Deck& deck) {
        dat::DatDrive& drive = deck.drive();
        if (command(drive, deck.d()) != scsi::kSsComp)
            return driveError(drive);
        const dat::TapePosition* p = dat::waitForMotionEnd(drive, deck.d());
        printPosition(p);
        return 0;
    });
}

int eject(const CliContext& ctx)
{
    return onDeck(ctx, true, [](Deck& deck) {
        if (deck.drive().loadUnload(deck.d(), false, true) != scsi::kSsComp)
            return driveError(deck.drive());
        deck.poller->forgetTape();
        printStatus(dat::pollUntilSettled(*deck.poller, kSettlePolls, kSettleIntervalMs));
        return 0;
    });
}

int rewind(const CliContext& ctx)
{
    return onDeck(ctx, true, [](Deck& deck) {
        dat::DatDrive& drive = deck.drive();
        if (drive.rewind(deck.d(), true) != scsi::kSsComp)
            return driveError(drive);
        const dat::TapePosition* p = dat::waitForMotionEnd(drive, deck.d());
        if (drive.modelIsSdt9000(deck.d())) {
            // That model knows no position after a rewind until it has read a frame.
            dat::DatFrame frame;
            p = drive.readFrameAhead(deck.d(), frame);
        }
        printPosition(p);
        return 0;
    });
}

int locate(const CliContext& ctx, const DriveOptions& opt)
{
    std::optional<dat::LocateTarget> target;
    if (opt.pno && opt.abs.empty()) {
        target = dat::locateProgramNumber(*opt.pno);
    } else if (!opt.pno && !opt.abs.empty()) {
        target = dat::locateAbsText(opt.abs);
        if (!target)
            return usage(stringPrintf(tr(msg::kCliBadAbsTime), opt.abs.c_str()));
    } else {
        return usage(tr(msg::kCliLocateWhat));
    }
    return onDeck(ctx, true, [&](Deck& deck) {
        dat::DatDrive& drive = deck.drive();
        if (dat::locateTo(drive, deck.d(), *target, true) != scsi::kSsComp)
            return driveError(drive);
        const dat::TapePosition* p = dat::waitForMotionEnd(drive, deck.d());
        if (p == nullptr)
            return driveError(drive);
        printPosition(p);
        // A search for a number the tape does not hold stops elsewhere (at the end).
        if (!dat::searchFound(*target, *p))
            return fail(stringPrintf(tr(msg::kCliPnoNotFound), *opt.pno));
        return 0;
    });
}

int position(const CliContext& ctx)
{
    return onDeck(ctx, true, [](Deck& deck) {
        const dat::TapePosition* p = deck.drive().readPositionAndParse(deck.d(), false);
        if (p == nullptr)
            return driveError(deck.drive());
        printPosition(p);
        return 0;
    });
}

void printIds(const dat::IdTable& table)
{
    std::cout << tr(msg::kCliIdsHeader) << "\n";
    int row = 0;
    for (const dat::IdEntry& e : table.used()) {
        const std::string pno = e.pNo == dat::kPNoSkip                 ? ""
                                : e.pNo == dat::kPNoStartWithoutNumber ? "-"
                                                                       : std::to_string(e.pNo);
        std::cout << stringPrintf(tr(msg::kCliIdLine), ++row,
                                  e.pNo == dat::kPNoSkip ? " SKIP" : " START", pno.c_str(),
                                  dat::timeText(e.abs).c_str(), e.seconds)
                  << "\n";
    }
    if (table.hasEnd())
        std::cout << stringPrintf(tr(msg::kCliIdLine), ++row, " END", "",
                                  dat::timeText(table.endAbs).c_str(), table.endSeconds)
                  << "\n";
}

int read(const CliContext& ctx, const DriveOptions& opt)
{
    return onDeck(ctx, true, [&](Deck& deck) {
        dat::DatDrive& drive = deck.drive();
        app::ProgramNumberDisplay numbers;
        dat::DatFrame frame;
        int result = 0;
        for (int i = 0; i < opt.count; ++i) {
            const dat::TapePosition* p = drive.readFrameAhead(deck.d(), frame);
            if (p == nullptr) {
                // The play path names the end of the recorded area and an unrecorded tape.
                const char* text = nullptr;
                if (drive.senseKey() == 0x08 && drive.senseAsc() == 0x00 &&
                    drive.senseAscq() == 0x05)
                    text = tr(msg::kEndOfData);
                else if (drive.senseKey() == 0x08 && drive.senseAsc() == 0x30 &&
                         drive.senseAscq() == 0x01)
                    text = tr(msg::kUnknownFormat);
                result = driveError(drive, text);
                break;
            }
            const app::ProgramIdView view = numbers.update(*p, true);
            std::cout << stringPrintf(tr(msg::kCliFrameLine), app::absText(*p).c_str(),
                                      view.numberText.c_str(),
                                      view.idVisible ? view.idText.c_str() : "")
                      << "\n";
            if (opt.dump)
                std::cout << dat::buildSubcodeDump(frame) << "\n";
        }
        if (opt.ids)
            printIds(*drive.getTable(deck.d(), false));
        return result;
    });
}

} // namespace

void addDriveCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<DriveOptions>();

    app.add_subcommand("drives", "List the tape drives found and whether they switch to audio mode")
        ->callback([&ctx] { ctx.exitCode = drives(ctx); });
    app.add_subcommand("status", "Read the drive's unit status (a new tape is loaded)")
        ->callback([&ctx] { ctx.exitCode = status(ctx); });
    app.add_subcommand("load", "Load the tape and show where it stands")->callback([&ctx] {
        ctx.exitCode = motion(ctx, false, [](dat::DatDrive& drive, int d) {
            return drive.loadUnload(d, true, true);
        });
    });
    app.add_subcommand("eject", "Eject the tape")->callback([&ctx] { ctx.exitCode = eject(ctx); });
    app.add_subcommand("rewind", "Rewind the tape")->callback([&ctx] {
        ctx.exitCode = rewind(ctx);
    });

    CLI::App* locateCmd = app.add_subcommand("locate", "Search by program number or ABS time");
    locateCmd->add_option("--pno", opt->pno, "Program number (1-799)")->check(between(1, 799));
    locateCmd->add_option("--abs", opt->abs, "ABS time HH:MM:SS:FF")->check(absTime());
    locateCmd->callback([&ctx, opt] { ctx.exitCode = locate(ctx, *opt); });

    app.add_subcommand("position", "Read the tape position")->callback([&ctx] {
        ctx.exitCode = position(ctx);
    });

    CLI::App* readCmd = app.add_subcommand("read", "Read frames through the read-ahead ring");
    readCmd->add_option("--count", opt->count, "Frames to read")->check(atLeast(1));
    readCmd->add_flag("--dump", opt->dump, "Show each frame's subcode dump");
    readCmd->add_flag("--ids", opt->ids, "Show the ID table learned");
    readCmd->callback([&ctx, opt] { ctx.exitCode = read(ctx, *opt); });
}

} // namespace tarnvel::cli
