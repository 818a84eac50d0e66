#include "cli/CliContext.h"
#include "cli/CliDeckView.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "cli/DeckSession.h"
#include "dat/DatMessages.h"
#include "dat/LocateTarget.h"
#include "engine/Deck.h"
#include "formats/StringPrintf.h"
#include "sound/AudioBackend.h"
#include "sound/NullAudioBackend.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>

// The deck from a terminal: playback and the transport buttons, run through the same deck
// the windows use.
namespace tarnvel::cli {

namespace {

using engine::Modifiers;
using formats::stringPrintf;

struct PlayOptions {
    std::string device;
    std::string driver;
    std::optional<int> fromPno;
    std::string fromAbs;
    bool step = false;
    bool fast = false;
    bool dump = false;
};

struct SearchOptions {
    std::optional<int> pno;
    std::string abs;
    bool play = false;
};

int fail(const std::string& text, int code = 1)
{
    return failWith(text, code);
}

std::shared_ptr<sound::AudioBackendProvider> audioFor(const PlayOptions& opt, int& driverType,
                                                      int& exitCode)
{
    driverType = driverTypeOf(opt.driver);
    if (driverType == -2) {
        exitCode = fail(stringPrintf("--driver must be alsa, pulse, jack or null, not \"%s\".",
                                     opt.driver.c_str()),
                        2);
        return nullptr;
    }
    sound::NullDeviceOptions nullDevice;
    nullDevice.realTime = !opt.fast;
    if (driverType == -1 || opt.device == "null" || opt.fast)
        return std::make_shared<sound::NullBackendProvider>(nullDevice);
    auto system = sound::systemAudioBackends();
    if (!hasDevice(*system, driverType, false)) {
        std::cerr << "No sound output device: playing to the null device.\n";
        return std::make_shared<sound::NullBackendProvider>(nullDevice);
    }
    return system;
}

int play(const CliContext& ctx, const PlayOptions& opt)
{
    // The options are checked before anything is said about the devices.
    std::optional<int> deviceNumber;
    if (!opt.device.empty() && opt.device != "null") {
        const std::size_t digits = opt.device.find_first_not_of("0123456789");
        if (digits != std::string::npos || opt.device.size() > 9)
            return fail("--device must be a device number or null.", 2);
        deviceNumber = std::stoi(opt.device);
    }
    int exitCode = 0;
    int driverType = 0;
    auto audio = audioFor(opt, driverType, exitCode);
    if (!audio)
        return exitCode;
    DeckSession s(ctx);
    if (!s.open(audio, exitCode, [&](app::Settings& settings) {
            settings.PlayRecDriverType = std::max(driverType, 0);
            if (deviceNumber)
                settings.PlayDeviceNum = *deviceNumber;
        }))
        return exitCode;
    if (opt.fromPno && !s.deck->searchProgram(*opt.fromPno, {}))
        return fail(stringPrintf(tr(dat::msg::kCliPnoNotFound), *opt.fromPno));
    if (!opt.fromAbs.empty()) {
        const auto target = dat::locateAbsText(opt.fromAbs);
        if (!target)
            return fail(stringPrintf(tr(dat::msg::kCliBadAbsTime), opt.fromAbs.c_str()), 2);
        if (!s.deck->searchAbs({target->a, target->b, target->c, target->e}, {}))
            return 1;
    }
    if (opt.fromPno || !opt.fromAbs.empty())
        s.settle();
    if (opt.step) {
        s.deck->play({true, opt.dump});
        if (opt.dump)
            std::cout << s.view->subcodeDump();
        s.view->finish();
        return s.deck->lastRunFailed() ? 1 : 0;
    }
    // Caught from before the start: a Ctrl-C as the run starts stops it like any other.
    InterruptScope interrupt;
    const std::uint64_t ends = s.deck->playEnds();
    s.deck->play({});
    if (!s.deck->state().running.load() && s.deck->playEnds() == ends)
        return 1; // the start failed and said why
    return s.followPlayback(ends);
}

// The transport buttons: each prints its label, the status the deck ends with and the
// position. `action` returns false when the deck refused or the search failed; a search gives
// in `notFound` what to say when it fails (after the drive's error line, if any).
int transport(const CliContext& ctx,
              const std::function<bool(engine::Deck&, std::string& notFound)>& action,
              bool playAfter = false)
{
    int exitCode = 0;
    DeckSession s(ctx);
    if (!s.open(std::make_shared<sound::NullBackendProvider>(), exitCode))
        return exitCode;
    const std::uint64_t ends = s.deck->playEnds();
    std::string notFound;
    const bool done = action(*s.deck, notFound);
    // A drive error shows in the error line at once (later polls may clear it).
    const bool ok = done && s.view->errorText().empty();
    if (!done && !notFound.empty())
        std::cerr << notFound << "\n";
    if (ok && playAfter && s.deck->state().running.load())
        return s.followPlayback(ends);
    s.view->setEcho(false);
    s.settle();
    s.view->finish();
    return ok ? 0 : 1;
}

int search(const CliContext& ctx, const SearchOptions& opt)
{
    if (opt.pno.has_value() == !opt.abs.empty())
        return fail(tr(dat::msg::kCliLocateWhat), 2);
    std::optional<dat::LocateTarget> target;
    if (!opt.abs.empty()) {
        target = dat::locateAbsText(opt.abs);
        if (!target)
            return fail(stringPrintf(tr(dat::msg::kCliBadAbsTime), opt.abs.c_str()), 2);
    }
    const Modifiers m{opt.play, false};
    return transport(
        ctx,
        [&](engine::Deck& deck, std::string& notFound) {
            if (opt.pno) {
                notFound = stringPrintf(tr(dat::msg::kCliPnoNotFound), *opt.pno);
                return deck.searchProgram(*opt.pno, m);
            }
            notFound = tr(dat::msg::kCliAbsNotFound);
            return deck.searchAbs({target->a, target->b, target->c, target->e}, m);
        },
        opt.play);
}

} // namespace

void addDeckCommands(CLI::App& app, CliContext& ctx)
{
    auto playOpt = std::make_shared<PlayOptions>();
    auto* p = app.add_subcommand("play", "Play the tape from where it stands through the sound "
                                         "output until it ends (Ctrl-C stops)");
    p->add_option("--device", playOpt->device, "Output device number, or null");
    p->add_option("--driver", playOpt->driver, "alsa, pulse, jack or null");
    auto* fromPno = p->add_option("--from-pno", playOpt->fromPno, "Search this program first")
                        ->check(between(1, 799));
    p->add_option("--from-abs", playOpt->fromAbs, "Search this ABS time first (HH:MM:SS:FF)")
        ->check(absTime())
        ->excludes(fromPno);
    p->add_flag("--step", playOpt->step, "Play one frame only (the Shift+Play step)");
    p->add_flag("--dump", playOpt->dump, "With --step: print the frame's subcode dump");
    p->add_flag("--fast", playOpt->fast,
                "As fast as the drive gives frames, to the null device (a test run)");
    p->callback([&ctx, playOpt] { ctx.exitCode = play(ctx, *playOpt); });

    auto searchOpt = std::make_shared<SearchOptions>();
    auto* s = app.add_subcommand("search", "Search a program number or an ABS time");
    auto* pno =
        s->add_option("--pno", searchOpt->pno, "Program number (1-799)")->check(between(1, 799));
    s->add_option("--abs", searchOpt->abs, "ABS time HH:MM:SS:FF")->check(absTime())->excludes(pno);
    s->add_flag("--play", searchOpt->play, "Play when the search succeeds (Shift)");
    s->callback([&ctx, searchOpt] { ctx.exitCode = search(ctx, *searchOpt); });

    auto* ff = app.add_subcommand("ff", "Fast forward to the end of the recording");
    ff->callback([&ctx] {
        ctx.exitCode = transport(ctx, [](engine::Deck& d, std::string&) {
            d.fastForward();
            return true;
        });
    });
    auto* rew = app.add_subcommand("rew", "Rewind to the beginning of the tape");
    rew->callback([&ctx] {
        ctx.exitCode = transport(ctx, [](engine::Deck& d, std::string&) {
            d.rewind();
            return true;
        });
    });
    for (const bool previous : {false, true}) {
        auto play = std::make_shared<bool>(false);
        auto* step = app.add_subcommand(previous ? "prev" : "next",
                                        previous ? "Search the previous program number"
                                                 : "Search the next program number");
        step->add_flag("--play", *play, "Play when the search succeeds (Shift)");
        step->callback([&ctx, play, previous] {
            ctx.exitCode = transport(
                ctx,
                [&](engine::Deck& d, std::string& notFound) {
                    // The number the step looks for, to name it when the tape does not hold it.
                    const int wanted = d.drive()->nextPrevPNo(d.driveIndex(), previous,
                                                              d.virtualIdMode(), nullptr);
                    notFound = wanted > 0 ? stringPrintf(tr(dat::msg::kCliPnoNotFound), wanted)
                               : previous ? std::string(tr(dat::msg::kCliNoProgramBefore))
                                          : std::string(tr(dat::msg::kCliNoProgramAfter));
                    const Modifiers m{*play, false};
                    return previous ? d.prevPNo(m) : d.nextPNo(m);
                },
                *play);
        });
    }
}

} // namespace tarnvel::cli
