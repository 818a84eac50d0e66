#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "formats/StringPrintf.h"
#include "recovery/ImageMerge.h"
#include "recovery/RecoveryMessages.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <unistd.h>

// Merging images of a damaged tape: passes over it and copies of it, into one image with the
// best read of every frame, and a report of where each part came from.
namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

struct MergeCli {
    std::vector<std::string> images;
    std::string output;
};

std::string localTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// The image naming rule of the program: a trailing ".TVI" (any case) is dropped, ".TVI" added.
std::string imageBase(const std::string& name)
{
    if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".TVI") == 0)
        return name.substr(0, name.size() - 4);
    return name;
}

std::string phaseText(const recovery::MergeProgress& p)
{
    switch (p.phase) {
    case recovery::MergeProgress::Phase::Comparing:
        return stringPrintf(tr(recovery::kMsgProgressComparing), p.image.c_str());
    case recovery::MergeProgress::Phase::Indexing:
        return stringPrintf(tr(recovery::kMsgProgressIndexing), p.image.c_str());
    case recovery::MergeProgress::Phase::Aligning:
        return stringPrintf(tr(recovery::kMsgProgressAligning), p.image.c_str());
    case recovery::MergeProgress::Phase::Merging:
        break;
    }
    return tr(recovery::kMsgProgressMerging);
}

int merge(const CliContext& ctx, const MergeCli& opt)
{
    if (opt.images.size() < 2)
        return std::cerr << tr(recovery::kMsgMergeNeedsTwo) << "\n", 2;
    const std::string base = imageBase(opt.output);
    const std::string output = base + ".TVI";
    const std::string report = base + ".log";
    if (!mayReplace(ctx, output) || !mayReplace(ctx, report))
        return 1;
    InterruptScope scope;
    StagedFile staged(output);
    if (!staged.ok())
        return std::cerr << staged.errorText() << "\n", 1;

    recovery::MergeOptions o;
    o.images = opt.images;
    o.output = staged.path();
    o.stop = &interruptFlag();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    std::string lastPhase;
    o.progress = [&](const recovery::MergeProgress& p) {
        const std::string phase = phaseText(p);
        if (terminal) {
            std::cerr << "\r" << phase
                      << stringPrintf(" %3u%%", static_cast<unsigned>(
                                                    p.total > 0 ? p.done * 100ull / p.total : 100))
                      << "\033[K" << std::flush;
        } else if (phase != lastPhase) {
            std::cerr << phase << "\n";
        }
        lastPhase = phase;
    };
    recovery::MergeResult result;
    std::string error;
    recovery::MergeReportHeader header;
    header.program = "Tarnvel 0.1.0";
    header.started = localTime();
    const bool ok = recovery::mergeImages(o, result, error);
    if (terminal && !lastPhase.empty())
        std::cerr << "\n";
    if (result.interrupted)
        return reportInterrupted({}); // the staged image goes with `staged`
    if (!ok)
        return std::cerr << error << "\n", 1;
    if (!staged.commit())
        return 1;
    header.ended = localTime();
    header.output = output;
    {
        std::ofstream log(report, std::ios::binary | std::ios::trunc);
        log << recovery::mergeReportText(header, result);
        log.close();
        if (!log)
            return std::cerr << stringPrintf("Unable to write the report %s (%s)", report.c_str(),
                                             std::strerror(errno))
                             << "\n",
                   1;
    }
    std::cout << stringPrintf("%s: %u frames; %u had errors in the reference, %u recovered, %zu "
                              "still bad, %zu conflicts; report %s",
                              output.c_str(), result.frames, result.badBefore, result.recovered,
                              result.stillBad.size(), result.conflicts.size(), report.c_str())
              << "\n";
    return 0;
}

} // namespace

void addMergeCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<MergeCli>();
    auto* m = app.add_subcommand(
        "merge", "Merge images of one tape (passes, or copies on other tapes) into one image with "
                 "the best read of every frame, channel by channel, and a report OUT.log");
    m->add_option("IMAGES", opt->images,
                  "The images; the first is the reference for subcode, IDs and ABS times")
        ->required();
    m->add_option("-o,--output", opt->output, "The merged image (.TVI is added)")->required();
    m->callback([&ctx, opt] { ctx.exitCode = merge(ctx, *opt); });
}

} // namespace tarnvel::cli
