#include "cli/ArchiveRun.h"
#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "cli/DeckSession.h"
#include "dat/StatusPoll.h"
#include "formats/StringPrintf.h"
#include "shelf/Shelf.h"
#include "sim/DriveSelect.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <thread>
#include <unistd.h>

// A shelf of tapes archived one after another, by any number of processes and machines that
// share the shelf's folder: the queue itself is core code (shelf/); here the prompts, the drive
// and the archive run.
namespace tarnvel::cli {

namespace {

namespace fs = std::filesystem;
using formats::stringPrintf;

struct ShelfRunOptions {
    std::string folder;
    std::string cassettes;
    std::vector<std::string> redo;
};

// Passes everything written to std::cerr through and keeps its last line: the reason a tape's
// archive gave for failing, in its own words.
class StderrTail : public std::streambuf {
public:
    StderrTail() : target_(std::cerr.rdbuf()) { std::cerr.rdbuf(this); }
    ~StderrTail() override { std::cerr.rdbuf(target_); }
    StderrTail(const StderrTail&) = delete;
    StderrTail& operator=(const StderrTail&) = delete;
    // The lines written, joined with "; " (the drive's error, then the archive's conclusion).
    std::string lines() const
    {
        std::string all = text_;
        if (!current_.empty())
            all += (all.empty() ? "" : "; ") + current_;
        return all;
    }

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        note(static_cast<char>(c));
        return target_->sputc(static_cast<char>(c));
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        for (std::streamsize i = 0; i < n; ++i)
            note(s[i]);
        return target_->sputn(s, n);
    }
    int sync() override { return target_->pubsync(); }

private:
    void note(char c)
    {
        if (c == '\n' || c == '\r') {
            const auto b = current_.find_first_not_of(' ');
            if (b != std::string::npos && text_.size() < 1000)
                text_ += (text_.empty() ? "" : "; ") + current_.substr(b);
            current_.clear();
        } else if (current_.size() < 400) {
            current_ += c;
        }
    }
    std::streambuf* target_;
    std::string current_;
    std::string text_;
};

std::string elapsedText(std::chrono::steady_clock::time_point since)
{
    const auto s =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - since)
            .count();
    return stringPrintf("%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                        static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
}

// Back to data mode at the end of a drive's use, as every drive command does.
void restoreDataMode(dat::DatDrive& drive)
{
    for (int i = 0; i < 3 && !drive.restoreDataMode(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Asks for the tape and waits until the drive reports a new one, ready and read. A tape that
// is in the drive already is ejected first: it is not known to be the one asked for. False
// when interrupted or when the drive cannot be used (said why).
bool waitForNewTape(const CliContext& ctx, const std::string& label, std::string& reason)
{
    sim::SelectedDrive selected = sim::selectDrive(driveRequestOf(ctx));
    if (!selected.drive) {
        reason = selected.error;
        return false;
    }
    dat::DatDrive& drive = *selected.drive;
    dat::StatusPoller poller(drive, selected.index);
    // Settled first: a tape still loading is in the drive as much as a ready one.
    const dat::StatusPollResult before = dat::pollUntilSettled(poller, 100, 200);
    if (poller.tapeChecked() || before.status == dat::kUnitReady) {
        std::cout << "The drive holds a tape: ejecting it.\n";
        drive.loadUnload(selected.index, false, true);
        poller.forgetTape();
        dat::pollUntilSettled(poller, 100, 200);
    }
    std::cout << "Insert tape " << label << " and close the drive (Ctrl-C ends the shelf.)"
              << std::endl;
    bool ready = false;
    while (!interrupted()) {
        const dat::StatusPollResult r = poller.poll();
        if (r.status == dat::kUnitReady && poller.tapeChecked()) {
            ready = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    restoreDataMode(drive);
    return ready;
}

void ejectTape(const CliContext& ctx)
{
    sim::SelectedDrive selected = sim::selectDrive(driveRequestOf(ctx));
    if (!selected.drive)
        return;
    selected.drive->loadUnload(selected.index, false, true);
    restoreDataMode(*selected.drive);
}

// One claimed tape: fed, archived, verified, ejected.
shelf::TapeOutcome archiveTape(const CliContext& ctx, const shelf::Shelf& shelf,
                               const shelf::Shelf::Claim& claim, const ShelfRunOptions& opt,
                               std::chrono::steady_clock::time_point started)
{
    shelf::TapeOutcome outcome;
    const std::string& label = claim.tape.label;
    CliContext tapeCtx = ctx;
    if (!opt.cassettes.empty()) {
        const std::string cassette = opt.cassettes + "/" + label + ".tvs";
        std::error_code ec;
        if (!fs::is_regular_file(cassette, ec)) {
            outcome.reason = "no cassette file " + cassette;
            return outcome;
        }
        tapeCtx.driveSpec = "sim:" + cassette;
        std::cout << "Loading the cassette " << printable(cassette) << std::endl;
    } else if (!waitForNewTape(ctx, label, outcome.reason)) {
        return outcome;
    }
    const std::string folder = shelf.outputFolder(label);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        outcome.reason = "cannot make the folder " + folder + ": " + ec.message();
        return outcome;
    }
    ArchiveOptions a;
    a.base = folder + "/" + label;
    a.label = label;
    a.noDivide = claim.tape.options.noDivide;
    a.preRead = claim.tape.options.preRead;
    a.bwf = claim.tape.options.bwf;
    a.noQc = claim.tape.options.noQc;
    a.retries = claim.tape.options.retries;
    a.flac = claim.tape.options.flac;
    const int count = static_cast<int>(shelf.tapes().size());
    a.liveLead = [&claim, count, started, &label] {
        return stringPrintf("  tape %d of %d %s  %s", claim.number, count, label.c_str(),
                            elapsedText(started).c_str());
    };
    ArchiveFigures figures;
    {
        StderrTail tail;
        const int rc = archive(tapeCtx, a, &figures);
        if (interrupted())
            return outcome;
        if (rc != 0) {
            outcome.reason = tail.lines().empty()
                                 ? stringPrintf("the archive ended with exit status %d", rc)
                                 : tail.lines();
            return outcome;
        }
        if (verify(figures.report) != 0) {
            outcome.reason = "the archive does not verify against its report " + figures.report;
            return outcome;
        }
    }
    outcome.done = true;
    outcome.programs = figures.files;
    outcome.seconds = figures.seconds;
    outcome.errorFrames = figures.errorFrames;
    outcome.errorsLeft = figures.errorsLeft;
    outcome.errorsRight = figures.errorsRight;
    outcome.errorsAbs = figures.errorsAbs;
    if (opt.cassettes.empty())
        ejectTape(ctx);
    return outcome;
}

std::string absolute(const std::string& path)
{
    std::error_code ec;
    return fs::absolute(path, ec).lexically_normal().string();
}

int shelfRun(const CliContext& ctx, const ShelfRunOptions& opt)
{
    std::string error;
    shelf::Shelf shelf(absolute(opt.folder));
    if (!shelf.open(error))
        return failWith(printable(error));
    ShelfRunOptions o = opt;
    if (!o.cassettes.empty()) {
        o.cassettes = absolute(o.cassettes);
        std::error_code ec;
        if (!fs::is_directory(o.cassettes, ec))
            return failWith(printable(o.cassettes) + ": not a folder of cassette files");
    }
    for (const std::string& label : opt.redo)
        if (!shelf.redo(label, error))
            return failWith(printable(error));
    // Ctrl-C stops the archive as the Stop button does (the file being written is closed
    // whole); the tape is then put back for the next run.
    InterruptScope interrupt;
    const auto started = std::chrono::steady_clock::now();
    int done = 0, failed = 0;
    while (!interrupted()) {
        shelf::Shelf::Claim claim;
        const shelf::Shelf::Next next = shelf.claimNext(claim, error);
        if (next == shelf::Shelf::Next::Failed)
            return failWith(printable(error));
        if (next == shelf::Shelf::Next::NoneLeft)
            break;
        std::cout << stringPrintf("Tape %d of %zu: %s", claim.number, shelf.tapes().size(),
                                  claim.tape.label.c_str())
                  << (claim.tape.optionText.empty() ? "" : " (" + claim.tape.optionText + ")")
                  << "  elapsed " << elapsedText(started) << std::endl;
        for (const std::string& note : claim.notes)
            std::cout << "  " << note << "\n";
        shelf::TapeOutcome outcome;
        {
            shelf::ClaimRenewer renewer(claim.file, claim.info);
            outcome = archiveTape(ctx, shelf, claim, o, started);
        }
        if (interrupted()) {
            if (!shelf.release(claim, "interrupted", error))
                std::cerr << printable(error) << "\n";
            std::cerr << "Tape " << claim.tape.label
                      << " interrupted: the next run archives it again (its files so far are "
                         "kept aside then).\n";
            break;
        }
        if (!shelf.finish(claim, outcome, error)) {
            std::cerr << printable(error) << "\n";
            ++failed;
            continue;
        }
        if (outcome.done) {
            ++done;
            std::cout << stringPrintf("Tape %s done: %d files, %02lldh%02lldm%02llds, %llu error "
                                      "frames",
                                      claim.tape.label.c_str(), outcome.programs,
                                      static_cast<long long>(outcome.seconds / 3600),
                                      static_cast<long long>(outcome.seconds / 60 % 60),
                                      static_cast<long long>(outcome.seconds % 60),
                                      static_cast<unsigned long long>(outcome.errorFrames))
                      << std::endl;
        } else {
            ++failed;
            std::cout << "Tape " << claim.tape.label << " failed: " << printable(outcome.reason)
                      << std::endl;
        }
    }
    shelf::ShelfState state;
    if (shelf.readState(state, error))
        std::cout << "This run: " << done << " done, " << failed
                  << " failed. Shelf: " << shelf::statusLines(state).back() << "\n";
    if (interrupted())
        return interruptExitCode();
    return failed > 0 ? 1 : 0;
}

int shelfStatus(const std::string& folder, bool json)
{
    std::string error;
    shelf::Shelf shelf(absolute(folder));
    shelf::ShelfState state;
    if (!shelf.open(error) || !shelf.readState(state, error))
        return failWith(printable(error));
    if (json) {
        std::cout << shelf::statusJson(state);
    } else {
        for (const std::string& line : shelf::statusLines(state))
            std::cout << printable(line) << "\n";
    }
    const shelf::ShelfTotals t = shelf::totalsOf(state);
    return t.done == t.tapes ? 0 : 1;
}

} // namespace

void addShelfCommands(CLI::App& app, CliContext& ctx)
{
    CLI::App* shelfApp = app.add_subcommand(
        "shelf", "Archive a collection: the tapes listed in SHELF/shelf.txt, one after another, "
                 "by any number of drives and machines sharing the folder");
    shelfApp->require_subcommand(1);

    auto run = std::make_shared<ShelfRunOptions>();
    CLI::App* runCmd = shelfApp->add_subcommand(
        "run", "Archive the shelf's next tapes into SHELF/LABEL/, each verified, until none is "
               "left");
    runCmd->add_option("SHELF", run->folder, "The shelf's folder (holding shelf.txt)")->required();
    runCmd->add_option("--cassettes", run->cassettes,
                       "Use the simulated drive with the cassette DIR/LABEL.tvs for each tape");
    runCmd->add_option("--redo", run->redo, "Archive this tape again, even when done (repeatable)")
        ->allow_extra_args(false);
    runCmd->callback([&ctx, run] { ctx.exitCode = shelfRun(ctx, *run); });

    auto folder = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* statusCmd = shelfApp->add_subcommand(
        "status", "A line a tape and the total; exit status 0 only when every tape is done");
    statusCmd->add_option("SHELF", *folder, "The shelf's folder")->required();
    statusCmd->add_flag("--json", *json, "The same as JSON");
    statusCmd->callback([&ctx, folder, json] { ctx.exitCode = shelfStatus(*folder, *json); });
}

} // namespace tarnvel::cli
