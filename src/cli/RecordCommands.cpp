#include "app/InstanceLock.h"
#include "app/ProgramIdentity.h"
#include "cli/CliContext.h"
#include "cli/CliDeckView.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "cli/DeckSession.h"
#include "dat/DatMessages.h"
#include "dat/LocateTarget.h"
#include "engine/Deck.h"
#include "formats/StringPrintf.h"
#include "link/PeerLink.h"
#include "record/AutoId.h"
#include "record/LinkPeerSource.h"
#include "record/RecFileList.h"
#include "record/RecordFormat.h"
#include "sound/AudioBackend.h"
#include "sound/NullAudioBackend.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

// Recording from the command line: WAV lists and cue lists, images, the sound input; the
// lead-in; START, SKIP and END IDs written or erased where the tape stands.
namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

struct RecordOptions {
    // A WAV list.
    std::string cue;
    std::vector<std::string> wavs;
    bool endId = false;
    std::optional<int> preSilence;
    std::optional<int> silence;
    int pnoStart = 1;
    bool withSound = false;
    // An image.
    std::string image;
    bool here = false;
    // The sound input.
    bool input = false;
    std::optional<int> device;
    std::string driver;
    std::optional<int> rate;
    std::optional<int> bits;
    std::string autoId;
    std::optional<int> seconds;
    std::string wavCopy;
    // Where to record (a search first); otherwise where the tape stands.
    std::string at;
};

struct IdOptions {
    std::string kind;
    std::optional<int> pno;
    std::string at;
};

// The audio library for a run: the system's, or the null device when asked for (as fast as
// the recording takes it). A recording never falls back to the null device on its own: it
// would record silence.
std::shared_ptr<sound::AudioBackendProvider> audioFor(const std::string& driver, bool input,
                                                      int& driverType, int& exitCode)
{
    // The null device's input runs in real time, so that --seconds means seconds.
    driverType = driverTypeOf(driver);
    if (driverType == -2) {
        exitCode = failWith(
            stringPrintf("--driver must be alsa, pulse, jack or null, not \"%s\".", driver.c_str()),
            2);
        return nullptr;
    }
    sound::NullDeviceOptions nullDevice;
    nullDevice.realTime = input;
    if (driverType == -1)
        return std::make_shared<sound::NullBackendProvider>(nullDevice);
    auto system = sound::systemAudioBackends();
    if (!hasDevice(*system, driverType, input)) {
        exitCode = failWith(input ? "No sound input device (--driver null records silence)."
                                  : "No sound output device (--driver null plays to none).");
        return nullptr;
    }
    return system;
}

// As archive's line: the file, the frames and the speed against real time (a frame is 30 ms
// of tape), then the write ring's fill.
std::string progressText(const engine::RecordProgress& p, double wallSeconds)
{
    std::string name = p.sourceName;
    if (name.empty())
        name = "input";
    else if (name[0] != ' ')
        name = std::filesystem::path(name).filename().string();
    const double speed = wallSeconds > 0 ? p.frames * 0.03 / wallSeconds : 0.0;
    return stringPrintf("  %s  %u frames  x%.1f  ring %u/%u", name.c_str(), p.frames, speed,
                        p.ringFill, p.ringSlots);
}

// A tape that still has no ABS time where it stands was never recorded (its lead-in was
// declined, or a run writing it was killed): with --yes the lead-in is written now, whenever
// the command finds none, not only when the tape arrives. Without it nothing can be recorded.
bool withoutLeadIn(const CliContext& ctx, DeckSession& s)
{
    const auto noAbsTime = [&s] {
        return s.deck->drive()->getPosition(s.deck->driveIndex())->absTime.hours > 9;
    };
    if (!noAbsTime())
        return false;
    if (ctx.assumeYes && s.deck->writeLeadIn(true, false)) {
        s.settle();
        if (!noAbsTime())
            return false;
    }
    std::cerr << "Unable to record: the tape has no lead-in (--yes writes it).\n";
    return true;
}

// Follows a recording until it ends, with the progress line; Ctrl-C is the Stop button and
// `stopAfter` frames stop it too.
int followRecording(DeckSession& s, std::uint64_t endsBefore,
                    std::optional<std::uint32_t> stopAfter)
{
    // The caller holds the InterruptScope: serve follows several recordings under one.
    const auto started = std::chrono::steady_clock::now();
    std::string last;
    s.view->setLiveExtra([&] {
        const engine::RecordProgress p = s.deck->recordProgress();
        if (p.active)
            last = progressText(
                p,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        return last;
    });
    s.view->setLive(true);
    bool stopped = false;
    while (s.deck->recordEnds() == endsBefore) {
        s.loop.pumpFor(50);
        const engine::RecordProgress p = s.deck->recordProgress();
        if (!p.active)
            continue;
        s.view->live();
        // Counted as handed to the writer: the frames waiting in its ring are written too.
        if (interrupted() || (!stopped && stopAfter && p.queued >= *stopAfter)) {
            stopped = true;
            s.deck->stop();
        }
    }
    s.view->setLive(false);
    s.view->setLiveExtra({});
    s.view->finish();
    std::cout << stringPrintf("%u frames recorded", s.deck->recordProgress().frames) << "\n";
    return s.deck->lastRecordFailed() ? 1 : 0;
}

// The exit code of an ID or lead-in write, which runs to its end under Ctrl-C.
int tapeOperationEnd(bool ok)
{
    if (!interrupted())
        return ok ? 0 : 1;
    if (ok)
        std::cerr << "Interrupted: the writing on tape was completed first.\n";
    return interruptExitCode();
}

// Searches `at` first when given; the deck then stands there.
bool searchFirst(DeckSession& s, const std::string& at, int& exitCode)
{
    if (at.empty())
        return true;
    const auto target = dat::locateAbsText(at);
    if (!target) {
        exitCode = failWith(stringPrintf(tr(dat::msg::kCliBadAbsTime), at.c_str()), 2);
        return false;
    }
    if (!s.deck->searchAbs({target->a, target->b, target->c, target->e}, {})) {
        exitCode = 1;
        return false;
    }
    s.settle();
    return true;
}

// Starts a recording from files and follows it. Ctrl-C stops it as the Stop button does; the
// exit status then says that the files were not recorded to their end.
int runFileRecording(DeckSession& s, const engine::RecordFromFileRequest& request)
{
    InterruptScope interrupt;
    const std::uint64_t ends = s.deck->recordEnds();
    s.deck->recordFromFile(request);
    if (!s.deck->recording())
        return 1; // the start failed and said why
    const int result = followRecording(s, ends, std::nullopt);
    if (!interrupted())
        return result;
    std::cerr << "Interrupted: the recording was stopped before its end.\n";
    return interruptExitCode();
}

int recordList(const CliContext& ctx, const RecordOptions& opt)
{
    StderrSink sink;
    record::RecFileList list(sink);
    record::RecFileSettings settings;
    settings.postSilenceSec = opt.silence.value_or(0);
    settings.preSilenceSec = opt.preSilence.value_or(0);
    settings.recAutoEndId = opt.endId;
    settings.recFromFileOnly = !opt.withSound;
    list.show(settings);
    list.setPNoStart(opt.pnoStart);
    if (!opt.cue.empty()) {
        list.loadCueFile(opt.cue);
        if (!list.cueLoadComplete())
            return 1; // the missing entries were named
        if (opt.preSilence)
            list.setPreSilenceText(std::to_string(*opt.preSilence));
    } else {
        std::vector<std::string> paths;
        for (const std::string& file : opt.wavs)
            paths.push_back(std::filesystem::absolute(file).lexically_normal().string());
        if (list.registerFiles(paths) != static_cast<int>(paths.size()))
            return 1; // the refusal was shown
    }
    // The dialog's OK step (Auto ID stays as the settings have it: the question is not asked).
    const std::optional<record::RecFileDecision> decision = list.ok(false, false);
    if (!decision)
        return 1;
    int exitCode = 0;
    int driverType = -1;
    std::shared_ptr<sound::AudioBackendProvider> audio =
        opt.withSound ? audioFor(opt.driver, false, driverType, exitCode)
                      : std::make_shared<sound::NullBackendProvider>();
    if (!audio)
        return exitCode;
    DeckSession s(ctx);
    s.offerLeadIn = true;
    if (!s.open(audio, exitCode, [&](app::Settings& set) {
            set.PlayRecDriverType = std::max(driverType, 0);
            if (opt.device)
                set.PlayDeviceNum = *opt.device;
        }))
        return exitCode;
    if (!searchFirst(s, opt.at, exitCode) || withoutLeadIn(ctx, s))
        return exitCode != 0 ? exitCode : 1;
    return runFileRecording(s, engine::fileRequest(*decision, list));
}

int recordImage(const CliContext& ctx, const RecordOptions& opt)
{
    int exitCode = 0;
    DeckSession s(ctx);
    // Recorded from the beginning, the image gets its lead-in from the recording itself.
    s.offerLeadIn = opt.here;
    if (!s.open(std::make_shared<sound::NullBackendProvider>(), exitCode))
        return exitCode;
    if (opt.here && (!searchFirst(s, opt.at, exitCode) || withoutLeadIn(ctx, s)))
        return exitCode != 0 ? exitCode : 1;
    // The dialog's OK step: with --here (OK with Shift) it asks first; --yes answers.
    StderrSink sink;
    record::RecFileList list(sink, [&s](const std::string& question) {
        return s.view->ask(question, engine::Buttons::OkCancel, MessageIcon::Warning, {}).yes;
    });
    list.setMode(record::RecFileMode::Image);
    list.setImageName(std::filesystem::absolute(opt.image).lexically_normal().string());
    const std::optional<record::RecFileDecision> decision = list.ok(false, opt.here);
    if (!decision)
        return 1;
    return runFileRecording(s, engine::fileRequest(*decision, list));
}

int recordInput(const CliContext& ctx, const RecordOptions& opt)
{
    int level = 0;
    int seconds = 0;
    if (!opt.autoId.empty()) {
        char comma = 0;
        std::istringstream in(opt.autoId);
        if (!(in >> level >> comma >> seconds) || comma != ',' || !in.eof())
            return failWith("--auto-id takes LEVEL,SECONDS, for example -42,2.", 2);
        // The Auto ID lists' values only: anything else would be replaced by another value.
        if (record::autoIdLevelItem(level) != level ||
            record::autoIdSecondsItem(seconds) != seconds)
            return failWith("--auto-id LEVEL must be -36, -42, -48, -54, -60 or -66 (dB) and "
                            "SECONDS 1 to 8.",
                            2);
    }
    // Long play is 12 bits at 32000 Hz only; at another rate the recording would silently be
    // something else.
    if (opt.bits == 12 && opt.rate != 32000)
        return failWith("--bits 12 (long play) needs --rate 32000.", 2);
    if (!opt.wavCopy.empty() && !mayReplace(ctx, opt.wavCopy))
        return 1;
    int exitCode = 0;
    int driverType = 0;
    auto audio = audioFor(opt.driver, true, driverType, exitCode);
    if (!audio)
        return exitCode;
    if (opt.device && !deviceNumberExists(*audio, driverType, true, *opt.device))
        return 1;
    DeckSession s(ctx);
    s.offerLeadIn = true;
    if (!s.open(audio, exitCode, [&](app::Settings& set) {
            set.PlayRecDriverType = std::max(driverType, 0);
            if (opt.device)
                set.RecDeviceNum = *opt.device;
            if (opt.rate)
                set.RecSamplingFreq = *opt.rate;
            if (opt.bits)
                set.RecBitLen = *opt.bits;
            set.CreateWaveFileOnRec = !opt.wavCopy.empty();
        }))
        return exitCode;
    // The same for a settings file that holds the pair.
    if (s.settings.RecBitLen == 12 && s.settings.RecSamplingFreq != 32000)
        return failWith(stringPrintf("RecBitLen 12 (long play) needs RecSamplingFreq 32000, "
                                     "not %d.",
                                     s.settings.RecSamplingFreq),
                        2);
    if (!searchFirst(s, opt.at, exitCode) || withoutLeadIn(ctx, s))
        return exitCode != 0 ? exitCode : 1;
    if (!opt.wavCopy.empty())
        s.view->setSaveFileAnswer(
            std::filesystem::absolute(opt.wavCopy).lexically_normal().string());
    s.deck->setAutoIdChecked(!opt.autoId.empty());
    if (!opt.autoId.empty()) {
        s.deck->setAutoIdLevel(level);
        s.deck->setAutoIdTime(seconds);
    }
    InterruptScope interrupt;
    const std::uint64_t ends = s.deck->recordEnds();
    s.deck->record({});
    if (!s.deck->recording())
        return 1;
    // The Rec button leaves the deck in record-pause: the command line records at once.
    s.deck->pause();
    std::optional<std::uint32_t> stopAfter;
    if (opt.seconds)
        stopAfter = static_cast<std::uint32_t>(
            record::framesForSeconds(*opt.seconds, record::formatFromSettings(s.settings)));
    return followRecording(s, ends, stopAfter);
}

int record(const CliContext& ctx, const RecordOptions& opt)
{
    const int sources = (!opt.cue.empty() ? 1 : 0) + (!opt.wavs.empty() ? 1 : 0) +
                        (!opt.image.empty() ? 1 : 0) + (opt.input ? 1 : 0);
    if (sources != 1)
        return failWith("Give one source: --cue, --wav, --image or --input.", 2);
    if (!opt.at.empty() && !opt.image.empty() && !opt.here)
        return failWith("--at with --image needs --here (an image is otherwise recorded from "
                        "the beginning of the tape).",
                        2);
    if (!opt.image.empty())
        return recordImage(ctx, opt);
    if (opt.input)
        return recordInput(ctx, opt);
    return recordList(ctx, opt);
}

int idCommand(const CliContext& ctx, const IdOptions& opt, bool erase)
{
    int item = 0;
    if (!erase) {
        if (opt.kind == "start")
            item = 0;
        else if (opt.kind == "skip")
            item = 1;
        else if (opt.kind == "end")
            item = 2;
        else
            return failWith("write-id takes start [N], skip or end.", 2);
        if (item != 0 && opt.pno)
            return failWith("Only a START ID takes a program number.", 2);
    }
    int exitCode = 0;
    DeckSession s(ctx);
    if (!s.open(std::make_shared<sound::NullBackendProvider>(), exitCode))
        return exitCode;
    if (!searchFirst(s, opt.at, exitCode))
        return exitCode;
    // A span half rewritten would stay on tape as noise: Ctrl-C waits for the end of it.
    InterruptScope interrupt;
    bool ok = false;
    if (erase) {
        ok = s.deck->eraseIdButton();
    } else {
        s.deck->setWriteIdKind(item);
        // Without a number a START continues the numbering of the tape where it stands.
        const dat::TapeTracker* tracker = s.deck->drive()->tracker(s.deck->driveIndex());
        s.deck->setWriteIdText(std::to_string(opt.pno.value_or(tracker->nextStartNumber())));
        ok = s.deck->writeIdButton();
    }
    s.view->setEcho(false);
    s.settle();
    s.view->finish();
    return tapeOperationEnd(ok);
}

// The receiving instance of a copy between two drives: it listens on its socket and records
// what the other instance plays into it (copy-to-peer there), until Ctrl-C or, with `once`,
// until the first copy asked for has ended (or could not start).
int serve(const CliContext& ctx, bool once, int pnoStart)
{
    int exitCode = 0;
    DeckSession s(ctx);
    s.offerLeadIn = true;
    if (!s.open(std::make_shared<sound::NullBackendProvider>(), exitCode))
        return exitCode;
    // The START IDs of an audio copy are numbered from here on, as WriteID_Edit numbers them.
    s.deck->setWriteIdText(std::to_string(pnoStart));
    const std::string title = app::programTitle(ctx.instance);
    std::unique_ptr<link::PeerServer> server;
    std::unique_ptr<record::LinkReplies> replies;
    std::unique_ptr<record::LinkPeerSource> blocks;
    // Start requests taken on the window thread, and whether the last one could not start.
    int requests = 0;
    bool startFailed = false;
    std::uint64_t endsBefore = 0; // recordEnds() when the last copy was asked for
    link::PeerServer::Handler h;
    h.post = [&s](std::function<void()> fn) { s.loop.post(std::move(fn)); };
    h.startRequested = [&](bool wholeFrames) {
        blocks->begin(wholeFrames);
        ++requests;
        endsBefore = s.deck->recordEnds();
        s.view->clearLastMessage();
        startFailed = !s.deck->peerStartRequest(wholeFrames, *replies, blocks.get());
    };
    // A fault during a copy ends the recording, which says why itself.
    h.failed = [&s](const std::string& why) {
        if (!s.deck->recording())
            std::cerr << why << "\n";
    };
    server = std::make_unique<link::PeerServer>(h);
    replies = std::make_unique<record::LinkReplies>(*server);
    // The sender names the reason a copy could not start.
    replies->reason = [&] {
        const dat::TapePosition* p = s.deck->drive()->getPosition(s.deck->driveIndex());
        if (p->absTime.hours > 9)
            return title + ": the tape has no lead-in, or no ABS time where it stands (serve "
                           "--yes writes the lead-in of a new tape).";
        std::string text = s.view->lastMessage();
        for (std::size_t at; (at = text.find("\n\n")) != std::string::npos;)
            text.replace(at, 2, " ");
        return text.empty() ? title + " is not ready to record." : title + ": " + text;
    };
    blocks = std::make_unique<record::LinkPeerSource>(*server, s.deck->state().stopRequested);
    std::string error;
    const std::string folder = app::runtimeFolderPath();
    if (!app::prepareRuntimeFolder(folder, error) || !server->listen(folder, title, error))
        return failWith(error);
    const std::string waiting =
        stringPrintf("%s waits for the other instance (Ctrl-C ends).", title.c_str());
    std::cout << waiting << "\n";
    InterruptScope interrupt;
    int result = 0;
    int handled = 0;
    while (!interrupted()) {
        s.loop.pumpFor(50);
        if (requests == handled)
            continue;
        // A copy was asked for: it may have started and even ended during the pump.
        handled = requests;
        if (startFailed) {
            result = 1;
        } else {
            result = followRecording(s, endsBefore, std::nullopt);
            if (result == 0 && s.deck->recordProgress().frames == 0) {
                std::cerr << "The copy brought no frames: nothing was recorded.\n";
                result = 1;
            }
        }
        if (once || interrupted())
            break;
        std::cout << waiting << "\n";
    }
    server->close();
    return result;
}

int leadIn(const CliContext& ctx)
{
    int exitCode = 0;
    DeckSession s(ctx);
    if (!s.open(std::make_shared<sound::NullBackendProvider>(), exitCode))
        return exitCode;
    const dat::TapePosition* p = s.deck->drive()->getPosition(s.deck->driveIndex());
    const bool newTape = p->absTime.hours > 9;
    InterruptScope interrupt;
    const bool ok = s.deck->writeLeadIn(newTape, false);
    s.view->setEcho(false);
    s.settle();
    s.view->finish();
    return tapeOperationEnd(ok);
}

} // namespace

void addRecordCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<RecordOptions>();
    auto* r = app.add_subcommand(
        "record", "Record a WAV list, a cue list, an image or the sound input onto the tape "
                  "where it stands (Ctrl-C stops)");
    r->add_option("--cue", opt->cue, "Cue list (.TVC) of WAV files to record");
    r->add_option("--wav", opt->wavs, "WAV files to record, in order")->expected(1, -1);
    r->add_flag("--end-id", opt->endId, "End the list with an END ID");
    r->add_option("--pre-silence", opt->preSilence, "Seconds of silence before the first file")
        ->check(CLI::Range(0, 99));
    r->add_option("--silence", opt->silence, "Seconds of silence after each file (--wav)")
        ->check(CLI::Range(0, 999));
    r->add_option("--pno-start", opt->pnoStart,
                  "Program number of the first file (--wav; 0: no START IDs; default 1)")
        ->check(CLI::Range(0, 799));
    r->add_flag("--with-sound", opt->withSound, "Play the files through the sound output too");
    r->add_option("--image", opt->image, "Tape image (.TVI) to record");
    r->add_flag("--here", opt->here,
                "Record the image where the tape stands (no rewind and no lead-in)");
    r->add_flag("--input", opt->input, "Record the sound input");
    r->add_option("--device", opt->device, "Sound device number");
    r->add_option("--driver", opt->driver, "alsa, pulse, jack or null");
    r->add_option("--rate", opt->rate, "Sampling rate of the input")
        ->check(CLI::IsMember({32000, 44100, 48000, 88200, 96000}));
    r->add_option("--bits", opt->bits, "Bit length: 12 (long play, with --rate 32000), 16 or 24")
        ->check(CLI::IsMember({12, 16, 24}));
    r->add_option("--auto-id", opt->autoId,
                  "Auto ID: LEVEL,SECONDS; LEVEL -36, -42, -48, -54, -60 or -66 (dB), SECONDS 1-8 "
                  "(for example -42,2)");
    r->add_option("--seconds", opt->seconds, "Stop after this many seconds")
        ->check(CLI::Range(1, 86400));
    r->add_option("--wav-copy", opt->wavCopy,
                  "Also write the input to this WAV file (replaced only with --yes)");
    r->add_option("--at", opt->at,
                  "Search this ABS time first (HH:MM:SS:FF; with --image only with --here)");
    r->callback([&ctx, opt] { ctx.exitCode = record(ctx, *opt); });

    auto once = std::make_shared<bool>(false);
    auto servePno = std::make_shared<int>(1);
    auto* sv = app.add_subcommand("serve", "Record what the other instance plays into this one "
                                           "(copy-to-peer there); Ctrl-C ends");
    sv->add_flag("--once", *once, "End after the first copy");
    sv->add_option("--pno-start", *servePno,
                   "Program number of the first START ID of an audio copy (default 1)")
        ->check(CLI::Range(1, 799));
    sv->callback([&ctx, once, servePno] { ctx.exitCode = serve(ctx, *once, *servePno); });

    auto* l = app.add_subcommand("lead-in", "Write the lead-in at the beginning of the tape "
                                            "(asks; --yes answers)");
    l->callback([&ctx] { ctx.exitCode = leadIn(ctx); });

    auto idOpt = std::make_shared<IdOptions>();
    auto* w = app.add_subcommand("write-id", "Write a START, SKIP or END ID where the tape "
                                             "stands (asks; --yes answers)");
    w->add_option("KIND", idOpt->kind, "start, skip or end")->required();
    w->add_option("N", idOpt->pno,
                  "Program number of a START ID (1-799; default: the one after the program "
                  "where the tape stands, 1 on a tape without IDs)")
        ->check(CLI::Range(1, 799));
    w->add_option("--at", idOpt->at, "Search this ABS time first (HH:MM:SS:FF)");
    w->callback([&ctx, idOpt] { ctx.exitCode = idCommand(ctx, *idOpt, false); });

    auto eraseOpt = std::make_shared<IdOptions>();
    auto* e = app.add_subcommand("erase-id", "Erase the ID the tape stands in (asks; --yes "
                                             "answers)");
    e->add_option("--at", eraseOpt->at, "Search this ABS time first (HH:MM:SS:FF)");
    e->callback([&ctx, eraseOpt] { ctx.exitCode = idCommand(ctx, *eraseOpt, true); });
}

} // namespace tarnvel::cli
