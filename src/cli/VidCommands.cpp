#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "cli/DeckSession.h"
#include "dat/DatMessages.h"
#include "dat/LocateTarget.h"
#include "dat/TapeTracker.h"
#include "engine/Deck.h"
#include "formats/StringPrintf.h"
#include "formats/VirtualIdFile.h"
#include "record/IdListModel.h"
#include "sound/NullAudioBackend.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <filesystem>
#include <iostream>

// Virtual ID editing on a virtual ID file (.TVV): IDs added at an ABS time, erased,
// renumbered, and copied from the IDs of the tape in the drive.
namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

struct VidOptions {
    std::string file;
    std::string kind;
    std::optional<int> pno;
    std::string at;
    std::string shift = "0";
};

// A virtual ID list without a drive: the file's rows in a tracker of their own. Lines of the
// file that are not rows (comments, rows the reader refused) are written back as they were.
struct VidList {
    StderrSink sink;
    dat::RecSubcodeState rec;
    std::atomic<bool> virtualMode{true};
    dat::TapeTracker tracker{rec, virtualMode};
    record::IdListModel model{tracker, sink, [](const std::string&) { return false; }};
    std::vector<std::string> kept;

    // The file when it exists (a new list otherwise).
    bool load(const std::string& path)
    {
        if (!std::filesystem::exists(path))
            return true;
        const formats::VirtualIdLoad r =
            formats::readVirtualIdFile(path, tracker, sink, nullptr, &kept);
        model.rebuild(record::IdListModel::List::Virtual);
        return r == formats::VirtualIdLoad::Loaded;
    }
    bool save(const std::string& path)
    {
        model.rebuild(record::IdListModel::List::Virtual);
        if (model.rowCount(record::IdListModel::List::Virtual) == 0) {
            std::cerr << "The virtual ID list is empty: no file written.\n";
            return false;
        }
        return formats::writeVirtualIdFile(path, model.rows(record::IdListModel::List::Virtual),
                                           sink, kept);
    }
    void print()
    {
        for (const auto& row : model.rows(record::IdListModel::List::Virtual))
            std::cout << row.no << "\t" << row.id << "\t" << row.pno << "\t" << row.absTime << "\t"
                      << row.sec << "\n";
    }
};

// An ABS time of the tape: minutes and seconds up to 59, frames up to 33 (the digits are the
// BCD bytes). A time that is not one is refused, not written as a row the next load drops.
std::optional<dat::TimeCode> timeOf(const std::string& text)
{
    const auto t = dat::locateAbsText(text);
    if (!t || t->b > 0x59 || t->c > 0x59 || t->e > 0x33)
        return std::nullopt;
    return dat::TimeCode{t->a, t->b, t->c, t->e};
}

std::string idText(const dat::IdEntry& e)
{
    const std::string kind = e.pNo == dat::kPNoSkip ? "SKIP"
                             : e.pNo == dat::kPNoStartWithoutNumber
                                 ? "START -"
                                 : "START " + std::to_string(e.pNo);
    return kind + " at" + dat::timeText(e.abs);
}

int vidAdd(const VidOptions& opt)
{
    const auto abs = timeOf(opt.at);
    if (!abs)
        return failWith(stringPrintf(tr(dat::msg::kCliBadAbsTime), opt.at.c_str()), 2);
    if ((opt.kind == "start") != opt.pno.has_value())
        return failWith("vid add takes start N, skip or end.", 2);
    if (opt.kind != "start" && opt.kind != "skip" && opt.kind != "end")
        return failWith("vid add takes start N, skip or end.", 2);
    VidList v;
    if (!v.load(opt.file))
        return 1;
    const int seconds = dat::absToSeconds(*abs);
    const std::string at = dat::timeText(*abs);
    // As Write ID does in virtual ID mode: the ID replaces any at the same second, and a START
    // moves the entry that carries its number. Neither happens without a word.
    if (opt.kind != "end") {
        const int pNo = opt.kind == "start" ? *opt.pno : dat::kPNoSkip;
        const dat::IdEntry* same = v.tracker.findBySeconds(seconds, true);
        if (same != nullptr && (same->pNo != pNo || !(same->abs == *abs)))
            std::cerr << "Replaced: " << idText(*same) << ".\n";
    }
    if (opt.kind == "start") {
        const dat::IdEntry* moved = v.tracker.findByPNo(*opt.pno, true);
        if (moved != nullptr && moved->seconds != seconds)
            std::cerr << "Moved: " << idText(*moved) << " is now at" << at << ".\n";
    }
    if (opt.kind == "end" && v.tracker.table(true).hasEnd())
        std::cerr << "Moved: the END at" << dat::timeText(v.tracker.table(true).endAbs)
                  << " is now at" << at << ".\n";
    dat::IdCode code = 0;
    if (opt.kind != "end")
        v.tracker.deleteId(seconds, true, true);
    if (opt.kind == "start")
        code = v.tracker.addId(*opt.pno, true, true, seconds, *abs);
    else if (opt.kind == "skip")
        code = v.tracker.addId(dat::kPNoSkip, true, true, seconds, *abs);
    else
        code = v.tracker.setEnd(*abs, true, true, seconds);
    if (code == 0)
        return failWith("The ID could not be added (the list holds 99 IDs at most).");
    if (!v.save(opt.file))
        return 1;
    v.print();
    return 0;
}

int vidErase(const VidOptions& opt)
{
    const auto abs = timeOf(opt.at);
    if (!abs)
        return failWith(stringPrintf(tr(dat::msg::kCliBadAbsTime), opt.at.c_str()), 2);
    VidList v;
    if (!v.load(opt.file))
        return 1;
    if (v.tracker.deleteId(dat::absToSeconds(*abs), true, true) == 0)
        return failWith("ID not found.");
    if (v.tracker.table(true).count == 0 && !v.tracker.table(true).hasEnd()) {
        std::filesystem::remove(opt.file);
        return 0;
    }
    if (!v.save(opt.file))
        return 1;
    v.print();
    return 0;
}

int vidRenumber(const VidOptions& opt)
{
    VidList v;
    if (!v.load(opt.file))
        return 1;
    v.model.rebuild(record::IdListModel::List::Virtual);
    v.model.renumber();
    if (!v.save(opt.file))
        return 1;
    v.print();
    return 0;
}

// The tape's IDs are learned by playing it through to its end (to no sound device, as fast
// as the drive reads), then copied into the list.
int vidCopyFromTape(const CliContext& ctx, const VidOptions& opt)
{
    int shiftIndex = -1;
    for (int i = 0; i <= 10; ++i) {
        const std::string item = i == 0 ? "0" : i == 10 ? "1.0" : stringPrintf("0.%d", i);
        if (opt.shift == item)
            shiftIndex = i;
    }
    if (shiftIndex < 0)
        return failWith("--shift takes 0, 0.1, ..., 0.9 or 1.0 seconds.", 2);
    // The list is made from the tape: an existing file (perhaps another tape's list) is
    // replaced only when asked.
    if (!mayReplace(ctx, opt.file))
        return 1;
    int exitCode = 0;
    DeckSession s(ctx);
    sound::NullDeviceOptions nullDevice;
    nullDevice.realTime = false;
    if (!s.open(std::make_shared<sound::NullBackendProvider>(nullDevice), exitCode))
        return exitCode;
    // Caught from before the rewind, so that a Ctrl-C at any moment writes no list.
    InterruptScope interrupt;
    s.deck->setVirtualIdMode(false);
    s.deck->rewind();
    s.settle();
    const std::uint64_t ends = s.deck->playEnds();
    s.deck->play({});
    s.followPlayback(ends);
    // Stopped before the end, the tape's IDs are not all known: no list is written.
    if (interrupted())
        return reportInterrupted({});
    StderrSink sink;
    dat::TapeTracker& tracker = *s.deck->drive()->tracker(s.deck->driveIndex());
    record::IdListModel model(tracker, sink, [](const std::string&) { return false; });
    model.rebuild(record::IdListModel::List::Tape);
    if (model.rowCount(record::IdListModel::List::Tape) == 0)
        return failWith("The tape holds no IDs.");
    model.copyAllToVirtual(shiftIndex);
    if (!model.saveVirtualIdFile(opt.file))
        return 1;
    for (const auto& row : model.rows(record::IdListModel::List::Virtual))
        std::cout << row.no << "\t" << row.id << "\t" << row.pno << "\t" << row.absTime << "\t"
                  << row.sec << "\n";
    return 0;
}

CLI::App* vidCommand(CLI::App& app)
{
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        if (sub->get_name() == "vid")
            return sub;
    CLI::App* vid = app.add_subcommand("vid", "Virtual ID files (.TVV)");
    vid->require_subcommand(1);
    return vid;
}

} // namespace

void addVidCommands(CLI::App& app, CliContext& ctx)
{
    CLI::App* vid = vidCommand(app);
    auto opt = std::make_shared<VidOptions>();

    auto* add = vid->add_subcommand("add", "Add a virtual ID at an ABS time (the file is "
                                           "created when it does not exist)");
    add->add_option("FILE", opt->file, "Virtual ID file")->required();
    add->add_option("KIND", opt->kind, "start, skip or end")->required();
    add->add_option("N", opt->pno, "Program number of a START ID (1-799)")
        ->check(CLI::Range(1, 799));
    add->add_option("--at", opt->at, "ABS time HH:MM:SS:FF")->required();
    add->callback([opt, &ctx] { ctx.exitCode = vidAdd(*opt); });

    auto* erase = vid->add_subcommand("erase", "Erase the virtual ID at an ABS time's second");
    erase->add_option("FILE", opt->file, "Virtual ID file")->required();
    erase->add_option("--at", opt->at, "ABS time HH:MM:SS:FF")->required();
    erase->callback([opt, &ctx] { ctx.exitCode = vidErase(*opt); });

    auto* renumber = vid->add_subcommand("renumber", "Number the START IDs 1, 2, 3, ...");
    renumber->add_option("FILE", opt->file, "Virtual ID file")->required();
    renumber->callback([opt, &ctx] { ctx.exitCode = vidRenumber(*opt); });

    auto* copy = vid->add_subcommand("copy-from-tape",
                                     "Play the tape to learn its IDs and save them as virtual IDs");
    copy->add_option("FILE", opt->file, "Virtual ID file to write")->required();
    copy->add_option("--shift", opt->shift, "Move every ID earlier: 0, 0.1, ... 1.0 seconds");
    copy->callback([opt, &ctx] { ctx.exitCode = vidCopyFromTape(ctx, *opt); });
}

} // namespace tarnvel::cli
