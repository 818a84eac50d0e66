#include "sound/WavePlayer.h"

#include "formats/WaveFileWriter.h"
#include "sound/SoundMessages.h"
#include "sound/SoundTestSupport.h"
#include "support/TempDir.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>

using namespace tarnvel;
using namespace tarnvel::sound;
using namespace tarnvel::sound::test;
using formats::WaveFormat;

namespace {

WaveFormat pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits)
{
    return WaveFormat::make(formats::kWaveFormatPcm, channels, rate, bits);
}

// A source that hands out a fixed byte sequence, then nothing.
struct SequenceSource {
    std::vector<std::uint8_t> data;
    std::size_t at = 0;
    int calls = 0;
    std::uint32_t operator()(std::uint8_t* buffer, std::uint32_t bytes)
    {
        ++calls;
        const std::size_t n = std::min<std::size_t>(bytes, data.size() - at);
        std::memcpy(buffer, data.data() + at, n);
        at += n;
        return static_cast<std::uint32_t>(n);
    }
};

std::vector<std::uint8_t> countingBytes(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return v;
}

class WavePlayerTest : public ::testing::Test {
protected:
    WavePlayer::Config config(SoundDriverType type = SoundDriverType::Alsa)
    {
        WavePlayer::Config c;
        c.backends = std::make_shared<NullBackendProvider>(options);
        c.driverType = type;
        c.messages = &messages;
        c.owner = &owner;
        return c;
    }
    NullDeviceOptions fast()
    {
        NullDeviceOptions o;
        o.realTime = false;
        capture.attach(o);
        return o;
    }

    NullDeviceOptions options;
    OutputCapture capture;
    CollectingMessageSink messages;
    RecordingOwner owner;
};

} // namespace

TEST_F(WavePlayerTest, BufferSizing)
{
    WavePlayer player(config());
    player.setBuffers(1, 400);
    EXPECT_EQ(player.bufferCount(), 2);
    player.setBuffers(100, 400);
    EXPECT_EQ(player.bufferCount(), 64);
    EXPECT_EQ(player.bufferBytes(), 400u);

    // Fixed sizes survive SetSource; default sizing happens only when none were set.
    WaveFormat f = pcm(2, 44100, 16);
    ASSERT_FALSE(player.setSource("", f));
    EXPECT_EQ(player.bufferCount(), 64);

    WavePlayer fresh(config());
    ASSERT_FALSE(fresh.setSource("", f));
    EXPECT_EQ(fresh.bufferCount(), 32);
    EXPECT_EQ(fresh.bufferBytes(), 1378u * 4);

    // A rate below the divisor still gives buffers of one frame, and the sizing ends.
    WaveFormat slow = pcm(1, 8, 8);
    ASSERT_FALSE(fresh.setSource("", slow));
    EXPECT_EQ(fresh.bufferBytes(), 1u);
    EXPECT_GE(fresh.bufferCount(), 32);
}

TEST_F(WavePlayerTest, EmptySourceEndsWithoutStartingTheDevice)
{
    options = fast();
    auto c = config();
    int holds = 0;
    c.sourceProc = [](std::uint8_t*, std::uint32_t) { return 0u; };
    c.sourceHoldProc = [&holds](bool) { ++holds; };
    WavePlayer player(c);
    WaveFormat f = pcm(2, 48000, 16);
    ASSERT_FALSE(player.setSource("", f));
    ASSERT_TRUE(player.start(0, 0));
    ASSERT_TRUE(waitForState(player, kStateStopped));
    player.stop();
    EXPECT_EQ(capture.blocks, 0);
    EXPECT_EQ(holds, 0);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(owner.eventsSeen(),
              (std::vector<SoundEvent>{SoundEvent::PlayStart, SoundEvent::PlayEnd}));
}

// Every format reaches the device complete and in order; the rest is silence in the device's
// terms (an 8-bit buffer is padded with 128, which must not come out as full negative scale).
TEST_F(WavePlayerTest, PlaysEverySampleThenSilence)
{
    struct Case {
        WaveFormat format;
        int deviceBytes; // per sample
    };
    const Case cases[] = {
        {pcm(1, 22050, 8), 2},
        {pcm(2, 48000, 16), 2},
        {pcm(2, 44100, 24), 3},
        {pcm(1, 96000, 32), 4},
        {WaveFormat::make(formats::kWaveFormatIeeeFloat, 2, 48000, 32), 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format.bitsPerSample << " bits " << c.format.channels
                                        << " ch, float " << c.format.isFloat());
        OutputCapture out;
        NullDeviceOptions o;
        o.realTime = false;
        out.attach(o);
        options = o;
        auto cfg = config();
        SequenceSource source;
        // 2.5 buffers' worth, so the last one is short.
        const std::size_t bytes =
            c.format.avgBytesPerSec / 32 * 5 / 2 / c.format.blockAlign * c.format.blockAlign;
        source.data = countingBytes(bytes);
        if (c.format.isFloat()) {
            for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
                const float v = static_cast<float>(i % 1000) / 1000.0f - 0.5f;
                std::memcpy(source.data.data() + i, &v, 4);
            }
        }
        cfg.sourceProc = std::ref(source);
        WavePlayer player(cfg);
        WaveFormat f = c.format;
        player.setBuffers(4, c.format.avgBytesPerSec / 32);
        ASSERT_FALSE(player.setSource("", f));
        ASSERT_TRUE(player.start(0, 0)) << player.getErrorText();
        ASSERT_TRUE(waitForState(player, kStateStopped));
        player.stop();
        EXPECT_TRUE(messages.messages.empty());

        const std::vector<std::uint8_t> got = out.snapshot();
        const std::size_t samples = bytes / (c.format.bitsPerSample / 8);
        std::vector<std::uint8_t> expect(samples * c.deviceBytes);
        const int bits = c.format.isFloat() ? -32 : c.format.bitsPerSample;
        const int type = nativeSampleTypeFor(c.format);
        ASSERT_TRUE(convertToDevice(source.data.data(), bits, c.format.channels, expect.data(),
                                    type, c.format.channels, bytes / c.format.blockAlign));
        ASSERT_GE(got.size(), expect.size());
        EXPECT_TRUE(std::equal(expect.begin(), expect.end(), got.begin()));
        EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(expect.size()), got.end(),
                                [](std::uint8_t b) { return b == 0; }));
        EXPECT_GE(player.playedBytes(), bytes);
    }
}

TEST_F(WavePlayerTest, SourceRunningDryDuringPrefillStartsWithWhatIsQueued)
{
    options = fast();
    auto c = config();
    SequenceSource source;
    source.data = countingBytes(3 * 4800);
    c.sourceProc = std::ref(source);
    std::vector<bool> holds;
    c.sourceHoldProc = [&holds](bool release) { holds.push_back(release); };
    WavePlayer player(c);
    player.setBuffers(8, 4800);
    WaveFormat f = pcm(2, 48000, 16);
    ASSERT_FALSE(player.setSource("", f));
    ASSERT_TRUE(player.start(0, 0));
    ASSERT_TRUE(waitForState(player, kStateStopped));
    player.stop();
    const auto got = capture.snapshot();
    ASSERT_GE(got.size(), source.data.size());
    EXPECT_TRUE(std::equal(source.data.begin(), source.data.end(), got.begin()));
    EXPECT_EQ(source.calls, 4); // asked until dry, then never again
    EXPECT_EQ(holds, (std::vector<bool>{true, false}));
}

TEST_F(WavePlayerTest, JackRoleFeedsOneChannelFromTheLastFirstChannel)
{
    options = fast();
    auto c = config(SoundDriverType::Jack);
    // Stereo: left = +n, right = -n; floats at full scale both ways.
    std::vector<std::uint8_t> data;
    const float values[][2] = {{1.0f, -1.0f}, {-1.0f, 1.0f}, {0.5f, 0.25f}};
    for (const auto& frame : values)
        for (float v : frame) {
            std::uint8_t b[4];
            std::memcpy(b, &v, 4);
            data.insert(data.end(), b, b + 4);
        }
    SequenceSource source;
    source.data = data;
    c.sourceProc = std::ref(source);
    WavePlayer player(c);
    ASSERT_EQ(player.getDeviceCount(), 1);
    WaveFormat f = WaveFormat::make(formats::kWaveFormatIeeeFloat, 2, 48000, 32);
    player.setBuffers(2, 8 * 64);
    ASSERT_FALSE(player.setSource("", f));
    ASSERT_TRUE(player.start(0, 1)) << player.getErrorText(); // channel 1 is the last of two
    ASSERT_TRUE(waitForState(player, kStateStopped));
    player.stop();
    const auto got = capture.snapshot();
    ASSERT_GE(got.size(), 9u);
    // One 24-bit channel carrying the left samples.
    const std::vector<std::uint8_t> expect = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x40};
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), got.begin()));
}

TEST_F(WavePlayerTest, JackRoleRefusals)
{
    options.rates = {48000};
    options.channelSampleType = kInt16Lsb;
    auto c = config(SoundDriverType::Jack);
    c.sourceProc = [](std::uint8_t*, std::uint32_t) { return 0u; };
    WavePlayer player(c);
    struct Case {
        WaveFormat format;
        int firstChannel;
        const char* error;
    };
    const Case cases[] = {
        {pcm(2, 48000, 24), 0, "Unsupported bit length. [24]"},
        {WaveFormat::make(formats::kWaveFormatIeeeFloat, 2, 48000, 32), 0,
         "Unsupported bit length. [F32]"},
        {pcm(2, 44100, 16), 0, "Unsupported sampling freq. [44100]"},
        {pcm(2, 48000, 16), 2, "Buffer is not active"},
    };
    for (const Case& k : cases) {
        WaveFormat f = k.format;
        ASSERT_FALSE(player.setSource("", f));
        EXPECT_FALSE(player.start(0, k.firstChannel));
        EXPECT_EQ(player.getErrorText(), k.error);
    }
    EXPECT_EQ(player.stateWord(), kStateStopped);
}

TEST_F(WavePlayerTest, UnhandledSampleTypeStopsTheRunWithItsMessage)
{
    options = fast();
    options.channelSampleType = kFloat32Lsb; // float channels: the low-latency role has no path
    auto c = config(SoundDriverType::Jack);
    c.sourceProc = [](std::uint8_t* b, std::uint32_t n) {
        std::memset(b, 1, n);
        return n;
    };
    WavePlayer player(c);
    WaveFormat f = pcm(2, 48000, 16);
    ASSERT_FALSE(player.setSource("", f));
    ASSERT_TRUE(player.start(0, 0)) << player.getErrorText();
    ASSERT_TRUE(waitForState(player, kStateStopped));
    player.stop();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Stopped! \n\nJACK Error: Unsupported sample type 19");
    EXPECT_EQ(player.getErrorText(), "JACK Error: Unsupported sample type 19");
}

TEST_F(WavePlayerTest, PlaysAWavFileWithSilencePaddingAndFileDataProc)
{
    tarnvel::test::TempDir dir;
    const std::string name = dir.file("take1.wav");
    const std::vector<std::uint8_t> samples = countingBytes(3001);
    {
        formats::WaveFileWriter writer(messages);
        writer.setFileName(name);
        writer.setFormat(pcm(1, 44100, 8));
        ASSERT_TRUE(writer.create());
        ASSERT_EQ(writer.write(samples.data(), samples.size()), samples.size());
        ASSERT_TRUE(writer.finish(false));
    }
    options = fast();
    auto c = config();
    std::size_t seen = 0;
    c.fileDataProc = [&seen](std::uint8_t*, std::uint32_t n) {
        seen += n;
        return n;
    };
    WavePlayer player(c);
    WaveFormat f;
    ASSERT_FALSE(player.setSource(name, f));
    EXPECT_EQ(f, pcm(1, 44100, 8));
    EXPECT_EQ(player.getTotalFrames(), 3001u);
    EXPECT_EQ(owner.totalText, "00m00s");
    EXPECT_EQ(owner.formatText, "44100s/s  8bit Mono");
    player.setSilencePadding(100, 50);
    ASSERT_TRUE(player.start(0, 0)) << player.getErrorText();
    ASSERT_TRUE(waitForState(player, kStateStopped));
    player.stop();
    EXPECT_EQ(seen, 100u + 3001u + 50u);
    // The reader gives the pre-silence as a block of its own, so it fills a whole buffer.
    const std::size_t lead = player.bufferBytes();
    const auto got = capture.snapshot();
    ASSERT_GE(got.size(), 2u * (lead + 3001 + 50));
    for (std::size_t i = 0; i < lead; ++i)
        ASSERT_EQ(sample16(got, i), 0) << i;
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(sample16(got, lead + i), (samples[i] - 128) * 256) << i;
    for (std::size_t i = lead + 3001; i < got.size() / 2; ++i)
        ASSERT_EQ(sample16(got, i), 0) << i;
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(WavePlayerTest, WavFilesThatCannotBePlayed)
{
    tarnvel::test::TempDir dir;
    const std::string empty = dir.file("empty.wav");
    {
        formats::WaveFileWriter writer(messages);
        writer.setFileName(empty);
        writer.setFormat(pcm(2, 44100, 16));
        ASSERT_TRUE(writer.create());
        ASSERT_TRUE(writer.finish(false));
    }
    {
        std::FILE* text = std::fopen(dir.file("notes.wav").c_str(), "wb");
        ASSERT_NE(text, nullptr);
        std::fputs("these are not samples at all, just words", text);
        std::fclose(text);
    }
    options = fast();
    WavePlayer player(config());
    WaveFormat f;
    EXPECT_TRUE(player.setSource(dir.file("notes.wav"), f));
    EXPECT_EQ(player.getErrorText(), "Not Wave file");
    EXPECT_TRUE(player.setSource(dir.file("missing.wav"), f));
    EXPECT_EQ(player.getErrorText(), "file not found");
    // An empty data chunk: nothing to play, not an error, and the device never runs.
    ASSERT_FALSE(player.setSource(empty, f));
    EXPECT_FALSE(player.start(0, 0));
    EXPECT_EQ(player.getErrorText(), "");
    EXPECT_EQ(capture.blocks, 0);
    EXPECT_EQ(player.stateWord(), kStateStopped);
}

TEST_F(WavePlayerTest, PauseStopAndMonitorData)
{
    options.realTime = true;
    auto c = config();
    std::atomic<std::uint32_t> phase{0};
    c.sourceProc = [&phase](std::uint8_t* b, std::uint32_t n) {
        for (std::uint32_t i = 0; i + 4 <= n; i += 4) {
            const auto v = static_cast<std::int16_t>(
                10000 * std::sin(phase.fetch_add(1, std::memory_order_relaxed) * 0.05));
            b[i] = b[i + 2] = static_cast<std::uint8_t>(v);
            b[i + 1] = b[i + 3] = static_cast<std::uint8_t>(v >> 8);
        }
        return n;
    };
    owner.setControlEnabled(SoundControl::Other, true);
    WavePlayer player(c);
    player.setBuffers(4, 4800);
    WaveFormat f = pcm(2, 48000, 16);
    ASSERT_FALSE(player.setSource("", f));
    std::vector<std::uint8_t> monitor(1920, 0xEE);
    player.getMonitorData(monitor.data(), 1920);
    EXPECT_TRUE(std::all_of(monitor.begin(), monitor.end(), [](auto b) { return b == 0; }));

    ASSERT_TRUE(player.start(0, 0));
    ASSERT_TRUE(waitForState(player, kStateRunning));
    EXPECT_FALSE(owner.controlEnabled(SoundControl::Other));
    EXPECT_TRUE(owner.controlEnabled(SoundControl::Stop));
    ASSERT_TRUE(waitUntil([&] { return player.playedBytes() > 4800; }));
    player.getMonitorData(monitor.data(), 1920);
    EXPECT_TRUE(std::any_of(monitor.begin(), monitor.end(), [](auto b) { return b != 0; }));

    player.togglePause();
    EXPECT_EQ(player.stateWord(), kStatePaused);
    const std::uint64_t heldAt = player.playedBytes();
    player.getMonitorData(monitor.data(), 1920);
    EXPECT_TRUE(std::all_of(monitor.begin(), monitor.end(), [](auto b) { return b == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(player.playedBytes(), heldAt); // a paused device takes nothing from the ring
    player.togglePause();
    EXPECT_EQ(player.stateWord(), kStateRunning);
    ASSERT_TRUE(waitUntil([&] { return player.playedBytes() > heldAt; }));

    player.stop();
    EXPECT_EQ(player.stateWord(), kStateStopped);
    EXPECT_TRUE(owner.controlEnabled(SoundControl::Other)); // restored
    EXPECT_TRUE(owner.controlEnabled(SoundControl::Start));
    EXPECT_FALSE(owner.controlEnabled(SoundControl::Stop));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(owner.eventsSeen().back(), SoundEvent::PlayEnd);
}

TEST_F(WavePlayerTest, PlayOneShotOnlyWithAlsa)
{
    options = fast();
    const std::vector<std::uint8_t> frame = countingBytes(5760);
    {
        WavePlayer player(config());
        WaveFormat f = pcm(2, 48000, 16);
        ASSERT_FALSE(player.setSource("", f));
        ASSERT_TRUE(player.playOneShot(0, frame.data(), 5760)) << player.getErrorText();
        const auto got = capture.snapshot();
        ASSERT_GE(got.size(), frame.size());
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), got.begin()));
        EXPECT_FALSE(player.playOneShot(0, frame.data(), 0));
    }
    WavePlayer jack(config(SoundDriverType::Jack));
    WaveFormat f = pcm(2, 48000, 16);
    ASSERT_FALSE(jack.setSource("", f));
    EXPECT_FALSE(jack.playOneShot(0, frame.data(), 5760));
}

TEST_F(WavePlayerTest, ReconfigureAndRestore)
{
    WavePlayer player(config());
    player.setBuffers(10, 5760 * 2);
    auto preview = config();
    preview.bufferDivisor = 4;
    preview.minBufferCount = 8;
    player.reconfigure(preview, -1);
    WaveFormat f = pcm(2, 44100, 16);
    ASSERT_FALSE(player.setSource("", f));
    EXPECT_EQ(player.bufferBytes(), 11025u * 4);
    EXPECT_EQ(player.bufferCount(), 8);
    player.restoreConfiguration();
    EXPECT_EQ(player.bufferCount(), 10);
    ASSERT_FALSE(player.setSource("", f));
    EXPECT_EQ(player.bufferBytes(), 1378u * 4); // sizes by default again after a restore
}

// A provider that remembers which driver types it served.
class TypeRecordingProvider : public AudioBackendProvider {
public:
    explicit TypeRecordingProvider(NullDeviceOptions options) : inner_(std::move(options)) {}
    std::unique_ptr<AudioBackend> create(SoundDriverType type) override
    {
        types.push_back(type);
        return inner_.create(type);
    }
    std::vector<SoundDriverType> types;

private:
    NullBackendProvider inner_;
};

// A preview with another driver type, its own owner and state word: the restore brings back
// the saved type on a fresh back-end, and the preview's owner and state word are no longer
// used by anything the player does.
TEST_F(WavePlayerTest, RestoreAfterAPreviewWithAnotherDriverType)
{
    options = fast();
    auto provider = std::make_shared<TypeRecordingProvider>(options);
    WavePlayer::Config main;
    main.backends = provider;
    main.messages = &messages; // no owner, no state word: the player's own
    SequenceSource source{countingBytes(4 * 4800)};
    main.sourceProc = std::ref(source);
    WavePlayer player(main);
    ASSERT_EQ(player.driverType(), SoundDriverType::Alsa);
    EXPECT_EQ(player.getDeviceName(0), "Default device");

    RecordingOwner previewOwner;
    std::atomic<int> previewState{0};
    WavePlayer::Config preview;
    preview.owner = &previewOwner;
    preview.stateWord = &previewState;
    preview.bufferDivisor = 4;
    preview.minBufferCount = 8;
    player.reconfigure(preview, static_cast<int>(SoundDriverType::Jack));
    EXPECT_EQ(player.driverType(), SoundDriverType::Jack);
    EXPECT_EQ(player.getDeviceName(0), "Null device"); // JACK numbers devices from 0
    EXPECT_EQ(provider->types.back(), SoundDriverType::Jack);

    player.restoreConfiguration();
    EXPECT_EQ(player.driverType(), SoundDriverType::Alsa);
    EXPECT_EQ(provider->types.back(), SoundDriverType::Alsa);
    EXPECT_EQ(player.getDeviceName(0), "Default device");

    // A run of the owner's own source reaches neither the preview's owner nor its state word.
    previewState.store(42);
    const auto eventsBefore = previewOwner.eventsSeen();
    WaveFormat f = pcm(2, 48000, 16);
    ASSERT_FALSE(player.setSource("", f));
    ASSERT_TRUE(player.start(0, 0)) << player.getErrorText();
    ASSERT_TRUE(waitForState(player, kStateStopped));
    player.stop();
    EXPECT_GT(capture.blocks, 0);
    EXPECT_EQ(previewState.load(), 42);
    EXPECT_EQ(previewOwner.eventsSeen(), eventsBefore);
    EXPECT_TRUE(messages.messages.empty());
}
