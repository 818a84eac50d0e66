#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "dat/RecSubcode.h"
#include "dat/TapeTracker.h"
#include "formats/WaveFileInfo.h"
#include "formats/WaveFileReader.h"
#include "record/IdListModel.h"
#include "record/RecFileList.h"
#include "record/RecordListMessages.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <filesystem>
#include <iostream>

namespace tarnvel::cli {

namespace {

struct FormatOptions {
    std::vector<std::string> files;
    std::string out;
    int pnoStart = 1;
    int silence = 0;
    int preSilence = 0;
    bool longPlay = false;
    std::string emph = "off";
    std::string copy = "Permit";
};

int wavInfo(const FormatOptions& opt)
{
    int failures = 0;
    for (const std::string& file : opt.files) {
        formats::WaveFileReader reader;
        if (!reader.readHeader(file)) {
            std::cout << file << "\t" << reader.errorText() << "\n";
            ++failures;
            continue;
        }
        // The fields as the header gives them, and why they cannot be played when they can't.
        const std::string unplayable = formats::unplayableReason(reader.format());
        std::cout << file << "\t" << formats::waveFormatText(reader.format()) << "\t"
                  << reader.dataLength() << "\t"
                  << formats::waveLengthText(reader.dataLength(), reader.format())
                  << (unplayable.empty() ? "" : "\t" + unplayable) << "\n";
        if (!unplayable.empty())
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

void printRecFileList(const record::RecFileList& list)
{
    for (int r = 1; r <= list.count(); ++r) {
        const auto& row = list.row(r);
        for (int c = 0; c < record::RecFileList::kColumns; ++c)
            std::cout << (c ? "\t" : "") << printable(row[static_cast<std::size_t>(c)]);
        std::cout << "\n";
    }
    std::cout << tr(record::msg::kTotalRecTime) << " " << list.totalRecTime() << "\n";
}

int cueShow(const FormatOptions& opt)
{
    StderrSink sink;
    record::RecFileList list(sink);
    list.show({});
    list.loadCueFile(opt.files.front());
    if (list.count() > 0)
        printRecFileList(list);
    // A file that could not be registered, or a refused line, leaves entries out.
    return list.cueLoadComplete() ? 0 : 1;
}

int cueMake(const FormatOptions& opt, const CliContext& ctx)
{
    if (!mayReplace(ctx, opt.out))
        return 1;
    // The file is written in one go after the WAV files are read: an interruption before stops
    // without writing, one during the save lets it complete.
    InterruptScope scope;
    StderrSink sink;
    record::RecFileList list(sink);
    record::RecFileSettings settings;
    settings.preSilenceSec = opt.preSilence;
    settings.postSilenceSec = opt.silence;
    settings.longPlayMode = opt.longPlay;
    settings.emphasis = opt.emph == "on";
    settings.copyBits = record::RecFileList::copyBitsOf(opt.copy);
    list.show(settings);
    list.setPNoStart(opt.pnoStart);
    // The list keeps full paths, as the dialog's file chooser gives them.
    std::vector<std::string> paths;
    for (const std::string& file : opt.files)
        paths.push_back(std::filesystem::absolute(file).lexically_normal().string());
    if (list.registerFiles(paths) != static_cast<int>(paths.size())) {
        std::cerr << tr(record::msg::kCueNotWritten) << "\n";
        return 1;
    }
    if (interrupted())
        return reportInterrupted({});
    if (!list.saveCueFile(opt.out))
        return 1;
    printRecFileList(list);
    return 0;
}

int vidShow(const FormatOptions& opt)
{
    StderrSink sink;
    dat::RecSubcodeState rec;
    std::atomic<bool> virtualMode{false};
    dat::TapeTracker tracker(rec, virtualMode);
    record::IdListModel model(tracker, sink, [](const std::string&) { return false; });
    std::vector<std::string> notes;
    const bool loaded = model.loadVirtualIdFile(opt.files.front(), &notes);
    for (const auto& row : model.rows(record::IdListModel::List::Virtual))
        std::cout << row.no << "\t" << row.id << "\t" << row.pno << "\t" << row.absTime << "\t"
                  << row.sec << "\n";
    // Rows refused or replaced were named on stderr; the list is not the file as written.
    return loaded && notes.empty() ? 0 : 1;
}

} // namespace

void addFormatCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<FormatOptions>();

    CLI::App* wav = app.add_subcommand("wav", "WAV files");
    wav->require_subcommand(1);
    CLI::App* info = wav->add_subcommand(
        "info", "Show each file's format, data length and duration, or why it cannot be read");
    info->add_option("FILE", opt->files, "WAV files")->required();
    info->callback([opt, &ctx] { ctx.exitCode = wavInfo(*opt); });

    CLI::App* cue = app.add_subcommand("cue", "Cue files (.TVC) of the record-from-file list");
    cue->require_subcommand(1);
    CLI::App* show = cue->add_subcommand(
        "show", "Load a cue file into the record-from-file list and print its rows and total");
    show->add_option("FILE", opt->files, "Cue file")->required()->expected(1);
    show->callback([opt, &ctx] { ctx.exitCode = cueShow(*opt); });

    CLI::App* make = cue->add_subcommand(
        "make", "Register WAV files as the record-from-file list does and save the cue file");
    make->add_option("OUT", opt->out, "Cue file to write")->required();
    make->add_option("WAV", opt->files, "WAV files, in recording order")->required();
    make->add_option("--pno-start", opt->pnoStart,
                     "Program number of the first file (0: no START IDs; default 1)")
        ->check(between(0, 799));
    make->add_option("--silence", opt->silence, "Seconds of silence after each file (0-999)")
        ->check(between(0, 999));
    make->add_option("--pre-silence", opt->preSilence, "Seconds of silence before the first file")
        ->check(between(0, 99));
    make->add_flag("--lp", opt->longPlay, "Long play for 32000 Hz 16-bit files");
    make->add_option("--emph", opt->emph, "Emphasis: on or off")->check(oneOf({"on", "off"}));
    make->add_option("--copy", opt->copy, "Copy bits: Permit, Prohibit or Once")
        ->check(oneOf({"Permit", "Prohibit", "Once"}));
    make->callback([opt, &ctx] { ctx.exitCode = cueMake(*opt, ctx); });

    CLI::App* vid = app.add_subcommand("vid", "Virtual ID files (.TVV)");
    vid->require_subcommand(1);
    CLI::App* vshow = vid->add_subcommand("show", "Load a virtual ID file and print its rows");
    vshow->add_option("FILE", opt->files, "Virtual ID file")->required()->expected(1);
    vshow->callback([opt, &ctx] { ctx.exitCode = vidShow(*opt); });
}

} // namespace tarnvel::cli
