#include "cli/CliContext.h"
#include "cli/CliSupport.h"
#include "formats/StringPrintf.h"
#include "sim/Cassette.h"
#include "sim/CassetteTools.h"
#include "sim/DemoTape.h"
#include "sim/SimMessages.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

struct SimOptionsCli {
    std::string file;
    int minutes = 0; // 0 = not given
    std::string image;
    std::string frames;
    std::string kind;
    std::string chance; // empty: every read
    std::uint32_t seed = 0;
    std::int64_t writeFailAt = -1;
};

int fail(const std::string& error)
{
    std::cerr << error << "\n";
    return 1;
}

int simNew(const SimOptionsCli& opt)
{
    std::string error;
    if (!opt.image.empty()) {
        std::uint32_t frames = 0;
        if (!sim::createCassetteFromImage(opt.file, opt.minutes, opt.image, frames, error))
            return fail(error);
        sim::CassetteSummary summary;
        if (!sim::summarizeCassette(opt.file, summary, error))
            return fail(error);
        std::cout << stringPrintf(tr(sim::kSimCreatedFromImage), opt.file.c_str(), summary.minutes,
                                  frames, opt.image.c_str())
                  << "\n";
        return 0;
    }
    const int minutes = opt.minutes == 0 ? 60 : opt.minutes;
    auto cassette = sim::Cassette::createUnpublished(opt.file, minutes, error);
    if (!cassette || !cassette->publish(error))
        return fail(error);
    std::cout << stringPrintf(tr(sim::kSimCreated), opt.file.c_str(), minutes) << "\n";
    return 0;
}

int simDamage(const SimOptionsCli& opt)
{
    std::string error;
    std::vector<sim::Fault> faults;
    if (!opt.frames.empty() || !opt.kind.empty()) {
        sim::Fault f;
        if (!sim::parseFrameRange(opt.frames, f.first, f.last))
            return fail(stringPrintf(tr(sim::kSimBadFrameRange), opt.frames.c_str()));
        if (!sim::parseFaultKind(opt.kind, f.kind) || f.kind == sim::FaultKind::WriteFail)
            return fail(stringPrintf(tr(sim::kSimBadFaultKind), opt.kind.c_str()));
        if (!opt.chance.empty() && !sim::parseChance(opt.chance, f.chance))
            return fail(stringPrintf(tr(sim::kSimBadChance), opt.chance.c_str()));
        f.seed = opt.seed;
        faults.push_back(f);
    }
    if (opt.writeFailAt >= 0) {
        const auto at =
            static_cast<std::uint32_t>(std::min<std::int64_t>(opt.writeFailAt, 0xFFFFFFFF));
        faults.push_back({at, at, sim::FaultKind::WriteFail});
    }
    if (faults.empty())
        return fail(tr(sim::kSimDamageNothing));
    for (const sim::Fault& f : faults) {
        if (!sim::addCassetteFault(opt.file, f, error))
            return fail(error);
        std::cout << (f.intermittent()
                          ? stringPrintf(tr(sim::kSimFaultAddedIntermittent), opt.file.c_str(),
                                         f.first, f.last, sim::faultKindName(f.kind),
                                         sim::chanceText(f.chance).c_str(), f.seed)
                          : stringPrintf(tr(sim::kSimFaultAdded), opt.file.c_str(), f.first, f.last,
                                         sim::faultKindName(f.kind)))
                  << "\n";
    }
    return 0;
}

int simInfo(const SimOptionsCli& opt)
{
    std::string error;
    sim::CassetteSummary summary;
    if (!sim::summarizeCassette(opt.file, summary, error))
        return fail(error);
    for (const std::string& line : sim::cassetteInfoLines(summary))
        std::cout << line << "\n";
    return 0;
}

} // namespace

void addSimCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<SimOptionsCli>();
    CLI::App* simApp = app.add_subcommand("sim", "Cassettes for the simulated drive (sim:FILE)");
    simApp->require_subcommand(1);

    CLI::App* create =
        simApp->add_subcommand("new", "Make a cassette: empty, or from a tape image");
    create->add_option("FILE", opt->file, "Cassette file to create")->required();
    create
        ->add_option("--minutes", opt->minutes,
                     "Tape length in minutes (default 60; from an image: 60 or what it needs)")
        ->check(between(sim::Cassette::kMinMinutes, sim::Cassette::kMaxMinutes));
    create->add_option("--from-image", opt->image,
                       "Record the frames of this tape image (.TVI) from the tape's beginning");
    create->callback([opt, &ctx] { ctx.exitCode = simNew(*opt); });

    CLI::App* demo = simApp->add_subcommand(
        "demo", "Make a demo tape: lead-in, three programs of music, SKIP and END IDs");
    demo->add_option("FILE", opt->file, "Cassette file to create")->required();
    demo->callback([opt, &ctx] {
        std::string error;
        ctx.exitCode = sim::createDemoCassette(opt->file, error) ? 0 : fail(error);
        if (ctx.exitCode == 0)
            std::cout << stringPrintf(tr(sim::kSimDemoCreated), opt->file.c_str(),
                                      opt->file.c_str())
                      << "\n";
    });

    CLI::App* damage = simApp->add_subcommand("damage", "Give a cassette faults a drive will meet");
    damage->add_option("FILE", opt->file, "Cassette file")->required();
    CLI::Option* frames =
        damage->add_option("--frames", opt->frames, "Frames A-B (tape frame indices from 0)");
    CLI::Option* kind = damage->add_option(
        "--kind", opt->kind, "left, right or both (read back interpolated) or unreadable");
    // Each names the other when it is missing ("--frames requires --kind").
    frames->needs(kind);
    kind->needs(frames);
    CLI::Option* chance = damage->add_option(
        "--chance", opt->chance,
        "Each read of a frame meets the fault with this chance (above 0, at most 1; default 1)");
    chance->needs(frames);
    damage
        ->add_option("--seed", opt->seed,
                     "Seed of the chance: reads come out the same for the same seed (default 0)")
        ->check(atLeast(0, 0xFFFFFFFF))
        ->needs(chance);
    damage->add_option("--write-fail-at", opt->writeFailAt, "Frame at which every write fails")
        ->check(atLeast(0, 0xFFFFFFFF));
    damage->callback([opt, &ctx] { ctx.exitCode = simDamage(*opt); });

    CLI::App* info =
        simApp->add_subcommand("info", "Show a cassette's length, recording, IDs and faults");
    info->add_option("FILE", opt->file, "Cassette file")->required();
    info->callback([opt, &ctx] { ctx.exitCode = simInfo(*opt); });
}

} // namespace tarnvel::cli
