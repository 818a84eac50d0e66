#include "cli/CliContext.h"
#include "common/MessageSink.h"
#include "sound/DeviceCatalog.h"
#include "sound/FormatTable.h"
#include "sound/NullAudioBackend.h"
#include "sound/SoundMessages.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <map>
#include <thread>

namespace tarnvel::cli {

namespace {

using sound::SoundDriverType;

std::atomic<bool> gInterrupted{false};

class StderrSink : public MessageSink {
public:
    void showMessage(const std::string& text, MessageIcon, const std::string&) override
    {
        std::cerr << "\n" << text << "\n";
    }
};

// Shows the time label of a run as a progress line.
class ProgressOwner : public sound::SoundOwner {
public:
    void setTimeText(const std::string& text) override { std::cerr << "\r" << text << std::flush; }
};

struct SoundOptions {
    std::string driver = "alsa";
    int device = 0;
    int firstChannel = 0;
    bool record = false;
    bool query = false;
    std::string file;
    double seconds = 0;
    unsigned rate = 48000;
    int bits = 16;
    int channels = 2;
    bool allowReduce = false;
    std::string jackClient = "tarnvel";
    bool noConnect = false;
};

void addDriverOption(CLI::App* cmd, SoundOptions& opt)
{
    cmd->add_option("--driver", opt.driver,
                    "Driver type: alsa, pulse or jack; null for the device without hardware")
        ->check(CLI::IsMember({"alsa", "pulse", "jack", "null"}));
    cmd->add_option("--jack-client", opt.jackClient, "JACK: client name (default tarnvel)");
    cmd->add_flag("--no-connect", opt.noConnect,
                  "JACK: leave the ports unconnected (connect them with the JACK tools)");
}

SoundDriverType askedType(const SoundOptions& opt)
{
    static const std::map<std::string, SoundDriverType> types = {{"alsa", SoundDriverType::Alsa},
                                                                 {"pulse", SoundDriverType::Pulse},
                                                                 {"jack", SoundDriverType::Jack},
                                                                 {"null", SoundDriverType::Alsa}};
    return types.at(opt.driver);
}

// Settings of the device objects from the options; the null driver stands in for every type.
template <typename Config>
Config deviceConfig(const SoundOptions& opt, MessageSink& sink, sound::SoundOwner* owner)
{
    Config c;
    c.driverType = askedType(opt);
    c.messages = &sink;
    c.owner = owner;
    c.clientName = opt.jackClient;
    c.connectPorts = !opt.noConnect;
    if (opt.driver == "null")
        c.backends = std::make_shared<sound::NullBackendProvider>();
    return c;
}

// The device objects fall back to ALSA when the configured type is unavailable at creation; on
// the command line the type asked for is the one to report on.
template <typename Device> bool useAskedType(Device& device, const SoundOptions& opt)
{
    const SoundDriverType asked = askedType(opt);
    return device.driverType() == asked || !device.setDriverType(asked);
}

template <typename Device> int unavailable(const Device& device)
{
    std::cerr << tr(sound::msg::kUnableToLoadSelectedDriver) << "\n\n"
              << device.getErrorText() << "\n";
    return 1;
}

template <typename Device>
void printDevices(Device& device, const SoundOptions& opt, const char* heading)
{
    const bool usable = useAskedType(device, opt);
    std::cout << heading << " (" << sound::driverTypeName(askedType(opt)) << "):\n";
    if (!usable || device.getDeviceCount() == 0) {
        std::cout << "  " << tr(sound::msg::kNoDevice) << "  (" << device.getErrorText() << ")\n";
        return;
    }
    const int last = device.driverType() == SoundDriverType::Jack ? device.getDeviceCount() - 1
                                                                  : device.getDeviceCount();
    for (int i = 0; i <= last && i < sound::DeviceCatalog::kMaxNames; ++i)
        std::cout << "  " << i << "  " << device.getDeviceName(i) << "\n";
}

int devices(const SoundOptions& opt)
{
    StderrSink sink;
    sound::WavePlayer player(deviceConfig<sound::WavePlayer::Config>(opt, sink, nullptr));
    sound::WaveRecorder recorder(deviceConfig<sound::WaveRecorder::Config>(opt, sink, nullptr));
    printDevices(player, opt, "Playback devices");
    printDevices(recorder, opt, "Record devices");
    const bool any = (player.driverType() == askedType(opt) && player.getDeviceCount() > 0) ||
                     (recorder.driverType() == askedType(opt) && recorder.getDeviceCount() > 0);
    return any ? 0 : 1;
}

template <typename Device>
int printFormats(Device& device, const SoundOptions& opt, const char* caption)
{
    const sound::FormatTable table = device.probeFormats(opt.device, opt.query);
    std::cout << caption << tr(sound::msg::kFormatListCaption) << ": "
              << device.getDeviceName(opt.device) << "\n";
    for (const auto& row : sound::formatListGrid(table)) {
        for (const auto& cell : row)
            std::cout << cell;
        std::cout << "\n";
    }
    std::cout << tr(sound::msg::kFormatListLegend) << "\n";
    if (opt.record && device.driverType() == SoundDriverType::Jack)
        std::cout << tr(sound::msg::kFormatListLegendReduced) << "\n";
    return table.allDash() ? 1 : 0;
}

int formats(const SoundOptions& opt)
{
    StderrSink sink;
    if (opt.record) {
        auto c = deviceConfig<sound::WaveRecorder::Config>(opt, sink, nullptr);
        c.allowReduceBitLength = opt.allowReduce;
        sound::WaveRecorder recorder(c);
        if (!useAskedType(recorder, opt))
            return unavailable(recorder);
        return printFormats(recorder, opt, tr(sound::msg::kFormatListRecord));
    }
    sound::WavePlayer player(deviceConfig<sound::WavePlayer::Config>(opt, sink, nullptr));
    if (!useAskedType(player, opt))
        return unavailable(player);
    return printFormats(player, opt, tr(sound::msg::kFormatListPlayback));
}

void onInterrupt(int)
{
    gInterrupted.store(true);
}

int playWav(const SoundOptions& opt)
{
    StderrSink sink;
    ProgressOwner owner;
    sound::WavePlayer player(deviceConfig<sound::WavePlayer::Config>(opt, sink, &owner));
    if (!useAskedType(player, opt))
        return unavailable(player);
    formats::WaveFormat format;
    if (player.setSource(opt.file, format)) {
        std::cerr << player.getErrorText() << "\n";
        return 1;
    }
    if (!player.start(opt.device, opt.firstChannel)) {
        if (!player.getErrorText().empty())
            std::cerr << player.getErrorText() << "\n";
        if (!player.errorDetail().empty())
            std::cerr << "(" << player.errorDetail() << ")\n";
        return player.getErrorText().empty() ? 0 : 1;
    }
    std::signal(SIGINT, onInterrupt);
    while (player.stateWord() != sound::kStateStopped) {
        if (gInterrupted.load())
            player.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    player.stop();
    std::cerr << "\n";
    return player.getErrorText().empty() ? 0 : 1;
}

int recordWav(const SoundOptions& opt)
{
    StderrSink sink;
    ProgressOwner owner;
    auto c = deviceConfig<sound::WaveRecorder::Config>(opt, sink, &owner);
    c.allowReduceBitLength = opt.allowReduce;
    sound::WaveRecorder recorder(c);
    if (!useAskedType(recorder, opt))
        return unavailable(recorder);
    const bool isFloat = opt.bits == -32;
    const auto format =
        formats::WaveFormat::make(isFloat ? formats::kWaveFormatIeeeFloat : formats::kWaveFormatPcm,
                                  static_cast<std::uint16_t>(opt.channels), opt.rate,
                                  static_cast<std::uint16_t>(isFloat ? 32 : opt.bits));
    if (recorder.setTarget(opt.file, format, false, opt.device, true, false)) {
        if (!recorder.getErrorText().empty())
            std::cerr << recorder.getErrorText() << "\n";
        return 1;
    }
    if (!recorder.start(opt.device, opt.firstChannel)) {
        std::cerr << recorder.getErrorText() << "\n";
        return 1;
    }
    std::signal(SIGINT, onInterrupt);
    const auto wanted = static_cast<std::uint64_t>(opt.seconds * format.avgBytesPerSec);
    while (recorder.stateWord() != sound::kStateStopped && !gInterrupted.load() &&
           recorder.deliveredBytes() < wanted)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    recorder.stop();
    std::cerr << "\n";
    return recorder.getErrorText().empty() ? 0 : 1;
}

} // namespace

void addSoundCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<SoundOptions>();

    auto* dev = app.add_subcommand("devices", "List the sound devices as the settings number them");
    addDriverOption(dev, *opt);
    dev->callback([opt, &ctx] { ctx.exitCode = devices(*opt); });

    auto* fmt = app.add_subcommand("formats", "Show which sample formats a sound device accepts");
    addDriverOption(fmt, *opt);
    fmt->add_option("--device", opt->device, "Device number")->required();
    fmt->add_flag("--record", opt->record, "The record device (default: playback)");
    fmt->add_flag("--query", opt->query, "Ask the device's capabilities instead of opening it");
    fmt->add_flag("--allow-reduce", opt->allowReduce,
                  "JACK record: accept 24/32-bit devices for 16-bit recording");
    fmt->callback([opt, &ctx] { ctx.exitCode = formats(*opt); });

    auto* play = app.add_subcommand("play-wav", "Play a WAV file through the sound output");
    addDriverOption(play, *opt);
    play->add_option("FILE", opt->file, "WAV file")->required();
    play->add_option("--device", opt->device, "Device number (default 0)");
    play->add_option("--first-channel", opt->firstChannel, "JACK: first output channel");
    play->callback([opt, &ctx] { ctx.exitCode = playWav(*opt); });

    auto* rec = app.add_subcommand("record-wav", "Record a WAV file from the sound input");
    addDriverOption(rec, *opt);
    rec->add_option("FILE", opt->file, "WAV file to write (name ending in .WAV)")->required();
    rec->add_option("--seconds", opt->seconds, "Length of the recording")->required();
    rec->add_option("--device", opt->device, "Device number (default 0)");
    rec->add_option("--first-channel", opt->firstChannel, "JACK: first input channel");
    rec->add_option("--rate", opt->rate, "Sample rate (default 48000)");
    rec->add_option("--bits", opt->bits, "8, 16, 24, 32, or -32 for float (default 16)")
        ->check(CLI::IsMember({8, 16, 24, 32, -32}));
    rec->add_option("--channels", opt->channels, "1 or 2 (default 2)")
        ->check(CLI::IsMember({1, 2}));
    rec->add_flag("--allow-reduce", opt->allowReduce,
                  "JACK: record 16 bits from a 24/32-bit device");
    rec->callback([opt, &ctx] { ctx.exitCode = recordWav(*opt); });
}

} // namespace tarnvel::cli
