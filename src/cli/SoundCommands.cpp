#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliMessages.h"
#include "cli/CliSupport.h"
#include "formats/FormatMessages.h"
#include "formats/StringPrintf.h"
#include "sound/DeviceCatalog.h"
#include "sound/FormatTable.h"
#include "sound/NullAudioBackend.h"
#include "sound/SoundMessages.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <thread>

namespace tarnvel::cli {

namespace {

using formats::stringPrintf;
using sound::SoundDriverType;

// Messages start on a line of their own, after the progress line.
class SoundSink : public StderrSink {
public:
    SoundSink() : StderrSink(true) {}
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
        ->check(oneOf({"alsa", "pulse", "jack", "null"}));
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
    std::cout << heading << " ("
              << (opt.driver == "null" ? "null" : sound::driverTypeName(askedType(opt))) << "):\n";
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
    SoundSink sink;
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
    const int last = device.driverType() == SoundDriverType::Jack ? device.getDeviceCount() - 1
                                                                  : device.getDeviceCount();
    if (opt.device > last) {
        std::cerr << stringPrintf("There is no %s device %d (tarnvel-cli devices lists them).",
                                  opt.record ? "record" : "playback", opt.device)
                  << "\n";
        return 1;
    }
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
    if (!table.allDash())
        return 0;
    std::cerr << "The device takes none of these formats.\n";
    return 1;
}

int formats(const SoundOptions& opt)
{
    SoundSink sink;
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

int playWav(const SoundOptions& opt)
{
    SoundSink sink;
    ProgressOwner owner;
    sound::WavePlayer player(deviceConfig<sound::WavePlayer::Config>(opt, sink, &owner));
    if (!useAskedType(player, opt))
        return unavailable(player);
    InterruptScope scope;
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
    while (player.stateWord() != sound::kStateStopped) {
        if (interrupted())
            player.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    player.stop();
    std::cerr << "\n";
    return player.getErrorText().empty() ? 0 : 1;
}

int recordWav(const SoundOptions& opt, const CliContext& ctx)
{
    if (!formats::WaveFileWriter::hasWavExtension(opt.file)) {
        std::cerr << tr(formats::msg::kExtentNotWav) << "\n\n" << printable(opt.file) << "\n";
        return 1;
    }
    if (!mayReplace(ctx, opt.file))
        return 1;
    SoundSink sink;
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
    InterruptScope scope;
    // Recorded beside the target and moved over it once audio has been written: a device that
    // fails to start, or a run that ends before any audio, leaves an existing file as it was.
    StagedFile staged(opt.file, &formats::WaveFileWriter::splitFileName);
    if (!staged.ok()) {
        std::cerr << staged.errorText() << "\n";
        return 1;
    }
    if (recorder.setTarget(staged.path(), format, false, opt.device, true, false)) {
        if (!recorder.getErrorText().empty())
            std::cerr << recorder.getErrorText() << "\n";
        return 1;
    }
    if (interrupted())
        return reportInterrupted({});
    if (!recorder.start(opt.device, opt.firstChannel)) {
        std::cerr << recorder.getErrorText() << "\n";
        return 1;
    }
    // Limited so that the product stays within 64 bits however long the run asked for.
    const auto wanted =
        static_cast<std::uint64_t>(std::min(opt.seconds * format.avgBytesPerSec, 1.8e19));
    while (recorder.stateWord() != sound::kStateStopped && !interrupted() &&
           recorder.deliveredBytes() < wanted)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    recorder.stop();
    std::cerr << "\n";
    const formats::WaveFileWriter& writer = recorder.writer();
    const bool audioWritten =
        writer.splitCount() > 0 || writer.bytesWritten() > writer.headerBytes();
    if (audioWritten &&
        !staged.commit(std::min(writer.splitCount(), formats::WaveFileWriter::kMaxSplits)))
        return 1;
    return recorder.getErrorText().empty() ? 0 : 1;
}

// The audio library's own diagnostics of the run, in one line.
int withLibraryDiagnostics(int exitCode)
{
    const sound::LibraryDiagnostics d = sound::takeLibraryDiagnostics();
    if (d.count == 1)
        std::cerr << stringPrintf(tr(msg::kLibraryDiagnostic), printable(d.first).c_str()) << "\n";
    else if (d.count > 1)
        std::cerr << stringPrintf(tr(msg::kLibraryDiagnostics), printable(d.first).c_str(),
                                  d.count - 1)
                  << "\n";
    return exitCode;
}

} // namespace

void addSoundCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<SoundOptions>();

    auto* dev = app.add_subcommand("devices", "List the sound devices as the settings number them");
    addDriverOption(dev, *opt);
    dev->callback([opt, &ctx] { ctx.exitCode = withLibraryDiagnostics(devices(*opt)); });

    auto* fmt = app.add_subcommand("formats", "Show which sample formats a sound device accepts");
    addDriverOption(fmt, *opt);
    fmt->add_option("--device", opt->device, "Device number")->required()->check(atLeast(0));
    fmt->add_flag("--record", opt->record, "The record device (default: playback)");
    fmt->add_flag("--query", opt->query, "Ask the device's capabilities instead of opening it");
    fmt->add_flag("--allow-reduce", opt->allowReduce,
                  "JACK record: accept 24/32-bit devices for 16-bit recording");
    fmt->callback([opt, &ctx] { ctx.exitCode = withLibraryDiagnostics(formats(*opt)); });

    auto* play = app.add_subcommand("play-wav", "Play a WAV file through the sound output");
    addDriverOption(play, *opt);
    play->add_option("FILE", opt->file, "WAV file")->required();
    play->add_option("--device", opt->device, "Device number (default 0)")->check(atLeast(0));
    play->add_option("--first-channel", opt->firstChannel, "JACK: first output channel")
        ->check(atLeast(0));
    play->callback([opt, &ctx] { ctx.exitCode = withLibraryDiagnostics(playWav(*opt)); });

    auto* rec = app.add_subcommand("record-wav", "Record a WAV file from the sound input");
    addDriverOption(rec, *opt);
    rec->add_option("FILE", opt->file, "WAV file to write (name ending in .WAV)")->required();
    rec->add_option("--seconds", opt->seconds, "Length of the recording")
        ->required()
        ->check(positiveNumber());
    rec->add_option("--device", opt->device, "Device number (default 0)")->check(atLeast(0));
    rec->add_option("--first-channel", opt->firstChannel, "JACK: first input channel")
        ->check(atLeast(0));
    rec->add_option("--rate", opt->rate, "Sample rate (default 48000)")
        ->check(atLeast(1, 0xFFFFFFFF));
    rec->add_option("--bits", opt->bits, "8, 16, 24, 32, or -32 for float (default 16)")
        ->check(oneOf({"8", "16", "24", "32", "-32"}));
    rec->add_option("--channels", opt->channels, "1 or 2 (default 2)")->check(oneOf({"1", "2"}));
    rec->add_flag("--allow-reduce", opt->allowReduce,
                  "JACK: record 16 bits from a 24/32-bit device");
    rec->callback([opt, &ctx] { ctx.exitCode = withLibraryDiagnostics(recordWav(*opt, ctx)); });
}

} // namespace tarnvel::cli
