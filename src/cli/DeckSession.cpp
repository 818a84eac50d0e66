#include "cli/DeckSession.h"

#include "app/AppMessages.h"
#include "app/SettingsFile.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "dat/DatMessages.h"
#include "dat/StatusPoll.h"
#include "formats/StringPrintf.h"
#include "sim/DriveSelect.h"
#include "sound/AudioBackend.h"
#include "sound/DeviceCatalog.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <unistd.h>
#include <vector>

namespace tarnvel::cli {

using formats::stringPrintf;

namespace {

constexpr char kLogFileName[] = "TVDAT.LOG";
// How long a command waits for the tape to arrive and become ready.
constexpr int kTapeWaitPolls = 300;
constexpr int kTapeWaitPollMs = 100;

} // namespace

int failWith(const std::string& text, int code)
{
    std::cerr << text << "\n";
    return code;
}

int driverTypeOf(const std::string& name)
{
    if (name.empty() || name == "alsa")
        return 0;
    if (name == "pulse")
        return 1;
    if (name == "jack")
        return 2;
    if (name == "null")
        return -1;
    return -2;
}

bool hasDevice(sound::AudioBackendProvider& provider, int driverType, bool input)
{
    std::unique_ptr<sound::AudioBackend> backend =
        provider.create(static_cast<sound::SoundDriverType>(driverType));
    std::vector<sound::AudioDeviceInfo> devices;
    std::string error;
    if (!backend || !backend->listDevices(devices, error))
        return false;
    for (const auto& d : devices)
        if ((input ? d.inputChannels : d.outputChannels) > 0)
            return true;
    return false;
}

bool deviceNumberExists(sound::AudioBackendProvider& provider, int driverType, bool input,
                        int number)
{
    const auto type = static_cast<sound::SoundDriverType>(std::max(driverType, 0));
    std::unique_ptr<sound::AudioBackend> backend = provider.create(type);
    sound::DeviceCatalog catalog;
    if (backend)
        catalog.refresh(*backend, type,
                        input ? sound::StreamDirection::Input : sound::StreamDirection::Output);
    if (catalog.entry(number) != nullptr)
        return true;
    std::cerr << stringPrintf("There is no %s device %d (tarnvel-cli devices lists them).",
                              input ? "record" : "playback", number)
              << "\n";
    return false;
}

bool loadRunSettings(const CliContext& ctx, app::Settings& settings, int& exitCode)
{
    app::SettingsLocation loc = app::locateSettings(ctx.instance);
    if (!ctx.iniPath.empty()) {
        std::error_code ec;
        loc.iniPath = std::filesystem::absolute(ctx.iniPath, ec).string();
    }
    app::SettingsFile file(loc);
    CollectingMessageSink sink;
    settings = file.load(sink);
    for (const auto& m : sink.messages)
        std::cerr << printable(m.text, true) << "\n";
    // A file that exists but could not be read (not a regular file, unreadable, too large)
    // was reported above; a run must not go on with the defaults in its place.
    if (file.loadFailed()) {
        exitCode = 1;
        return false;
    }
    // The defaults stand in only for the instance's own file before its first save: a file
    // named on the command line must exist.
    if (!ctx.iniPath.empty() && file.newFile()) {
        std::cerr << tr(app::msg::kCliSettingsMissing) << "\n\n" << printable(ctx.iniPath) << "\n";
        exitCode = 1;
        return false;
    }
    for (const std::string& item : ctx.overrides) {
        const auto eq = item.find('=');
        std::string error;
        if (eq == std::string::npos) {
            exitCode = failWith(stringPrintf("--set %s: give KEY=VALUE.", item.c_str()), 2);
            return false;
        }
        if (!app::overrideSetting(settings, item.substr(0, eq), item.substr(eq + 1), loc.programDir,
                                  error)) {
            exitCode = failWith(error, 2);
            return false;
        }
    }
    return true;
}

DeckSession::~DeckSession()
{
    deck.reset();
    view.reset();
}

bool DeckSession::open(std::shared_ptr<sound::AudioBackendProvider> audio, int& exitCode,
                       const std::function<void(app::Settings&)>& adjust)
{
    if (!loadRunSettings(ctx_, settings, exitCode))
        return false;
    if (adjust)
        adjust(settings);
    settings.DatLog = ctx_.log || ctx_.logFull;
    view = std::make_unique<CliDeckView>(ctx_.assumeYes, ::isatty(STDOUT_FILENO) == 1);
    engine::DeckOptions o;
    o.instance = ctx_.instance;
    sim::DriveRequest request = driveRequestOf(ctx_);
    request.logFile.clear(); // the deck opens it at its first activation
    // Opened here, so that a drive that cannot be served (a cassette held elsewhere, a device
    // that does not exist) is reported with its reason alone.
    std::string error;
    auto opened =
        std::make_shared<std::unique_ptr<dat::DatDrive>>(sim::openDriveObject(request, error));
    if (!*opened) {
        exitCode = failWith(error);
        return false;
    }
    o.openDrive = [opened](std::string&) { return std::move(*opened); };
    o.explicitDrive = !ctx_.driveSpec.empty();
    if (!sim::isSimulatedSpec(ctx_.driveSpec))
        o.drivePath = ctx_.driveSpec;
    o.audio = std::move(audio);
    o.logFile = kLogFileName;
    o.errorPauseMs = 0;     // the error is printed; nobody needs time to read a window
    o.keepTapePlace = true; // each run continues where the last one left the tape
    deck = std::make_unique<engine::Deck>(loop, *view, settings, o);
    if (!offerLeadIn)
        deck->setLeadInOffer([] {});
    deck->firstActivation();
    if (deck->drive() != nullptr)
        warnIfLogOff(ctx_, *deck->drive());
    if (!deck->startupError().empty()) {
        if (ctx_.driveSpec.empty() && deck->drive() != nullptr && deck->drive()->deviceCount() == 0)
            std::cerr << tr(dat::msg::kCliNoDriveHint) << "\n";
        exitCode = 1;
        return false;
    }
    return waitForTape(exitCode);
}

bool DeckSession::waitForTape(int& exitCode)
{
    for (int i = 0; i < kTapeWaitPolls; ++i) {
        if (deck->idle())
            deck->pollNow();
        if (deck->transportEnabled()) {
            view->setEcho(true);
            return true;
        }
        const auto status = static_cast<dat::UnitStatus>(deck->state().lastUnitStatus.load());
        if (i > 0 && !deck->tapeChecked() && !dat::isTransientStatus(status) &&
            status != dat::kUnitReady)
            break;
        // A replayed drive that stopped answering from its recording will not become ready.
        if (ctx_.replayDiffered->load())
            break;
        loop.pumpFor(kTapeWaitPollMs);
    }
    exitCode = failWith(tr(dat::msg::kTapeNotReady));
    return false;
}

void DeckSession::settle()
{
    for (int i = 0; i < 50 && !deck->transportEnabled() && deck->tapeChecked(); ++i) {
        loop.pumpFor(20);
        if (deck->idle())
            deck->pollNow();
    }
}

int DeckSession::followPlayback(std::uint64_t endsBefore)
{
    InterruptScope interrupt;
    view->setLive(true);
    bool stopped = false;
    while (deck->playEnds() == endsBefore) {
        loop.pumpFor(50);
        view->live();
        if (interrupted() && !stopped) {
            stopped = true;
            deck->stop();
        }
    }
    view->setLive(false);
    view->finish();
    return deck->lastRunFailed() ? 1 : 0;
}

} // namespace tarnvel::cli
