#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "dat/SubcodeDump.h"
#include "formats/ImageMessages.h"
#include "formats/ImageReader.h"
#include "formats/SampleImage.h"
#include "formats/StringPrintf.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

namespace tarnvel::cli {

namespace {

struct ImageOptions {
    std::string file;
    std::uint32_t frame = 0;
    std::uint32_t count = 1;
    std::uint32_t frames = 1000;
};

// After "Invalid format.": an image left by a crash says how its header and data disagree
// and how to repair it.
void explainInvalidImage(const std::string& file)
{
    const formats::ImageDiagnosis d = formats::diagnoseImage(file);
    if (!d.structureRead || d.consistent)
        return;
    std::cerr << formats::imageDiagnosisText(d) << ".\n"
              << formats::stringPrintf(tr(formats::kMsgImageRepairHint), file.c_str()) << "\n";
}

int imageInfo(const ImageOptions& opt)
{
    StderrSink sink;
    formats::ImageReader reader(sink);
    if (!reader.open(opt.file, true)) {
        // Probing shows no message box; say why here.
        const std::string reason = reader.errorText().empty()
                                       ? std::string(tr(formats::kMsgImageOpenOrFormat))
                                       : reader.errorText();
        std::cerr << reason << "\n\n" << opt.file << "\n";
        if (reader.errorText() == tr(formats::kMsgImageInvalidFormat))
            explainInvalidImage(opt.file);
        return 1;
    }
    std::cout << printable(formats::imagePropertyText(reader), true) << "\n";
    return 0;
}

int imageRepair(const ImageOptions& opt)
{
    StderrSink sink;
    formats::ImageDiagnosis found;
    switch (formats::repairImage(opt.file, sink, &found)) {
    case formats::ImageRepair::Repaired:
        std::cout << formats::stringPrintf(tr(formats::kMsgImageRepaired),
                                           static_cast<unsigned long long>(found.wholeFrames),
                                           found.headerFrames,
                                           static_cast<unsigned long long>(found.partialBytes))
                  << "\n";
        return 0;
    case formats::ImageRepair::NothingToRepair:
        std::cout << tr(formats::kMsgImageNothingToRepair) << "\n";
        return 0;
    case formats::ImageRepair::Failed:
        break;
    }
    return 1;
}

int imageDump(const ImageOptions& opt)
{
    StderrSink sink;
    formats::ImageReader reader(sink);
    if (!reader.open(opt.file, false)) {
        if (reader.errorText() == tr(formats::kMsgImageInvalidFormat))
            explainInvalidImage(opt.file);
        return 1;
    }
    if (opt.frame >= reader.frameCount()) {
        char text[160];
        std::snprintf(text, sizeof text, tr(formats::kMsgImageFrameOutOfRange), opt.frame,
                      reader.frameCount());
        std::cerr << text << "\n";
        return 1;
    }
    const std::uint64_t end =
        std::min<std::uint64_t>(std::uint64_t{opt.frame} + opt.count, reader.frameCount());
    dat::DatFrame frame;
    for (std::uint64_t i = opt.frame; i < end; ++i) {
        if (!reader.readFrameAt(static_cast<std::uint32_t>(i), frame)) {
            std::cerr << tr(formats::kMsgImageReadFailed) << "\n\n" << opt.file << "\n";
            return 1;
        }
        if (i != opt.frame)
            std::cout << "\n";
        std::cout << dat::buildSubcodeDump(frame);
    }
    return 0;
}

} // namespace

void addImageCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<ImageOptions>();
    CLI::App* image = app.add_subcommand("image", "Tape image files (.TVI)");
    image->require_subcommand(1);

    CLI::App* info = image->add_subcommand(
        "info", "Show an image's frame count, duration, first and last ABS time, error frames "
                "and comment");
    info->add_option("FILE", opt->file, "Image file")->required();
    info->callback([opt, &ctx] { ctx.exitCode = imageInfo(*opt); });

    CLI::App* dump = image->add_subcommand("dump", "Print the subcode and data dump of frames");
    dump->add_option("FILE", opt->file, "Image file")->required();
    dump->add_option("--frame", opt->frame, "First frame, counted from 0 (default 0)")
        ->check(atLeast(0, 0xFFFFFFFF));
    dump->add_option("--count", opt->count, "Number of frames (default 1)")
        ->check(atLeast(1, 0xFFFFFFFF));
    dump->callback([opt, &ctx] { ctx.exitCode = imageDump(*opt); });

    CLI::App* repair = image->add_subcommand(
        "repair", "Rewrite the header of an image left by a crash from the whole frames it "
                  "holds, dropping a partial last frame");
    repair->add_option("FILE", opt->file, "Image file")->required();
    repair->callback([opt, &ctx] { ctx.exitCode = imageRepair(*opt); });

    CLI::App* sample =
        image->add_subcommand("make-sample", "Write a demo image: two programs of test tones");
    sample->add_option("FILE", opt->file, "Image file to create")->required();
    sample->add_option("--frames", opt->frames, "Number of frames (default 1000)")
        ->check(between(1, 737000));
    sample->callback([opt, &ctx] {
        if (!mayReplace(ctx, opt->file)) {
            ctx.exitCode = 1;
            return;
        }
        InterruptScope scope;
        StderrSink sink;
        const bool written =
            formats::writeSampleImage(opt->file, opt->frames, sink, &interruptFlag());
        ctx.exitCode = interrupted() ? reportInterrupted(opt->file) : written ? 0 : 1;
    });
}

} // namespace tarnvel::cli
