#include "sound/WaveRecorder.h"

#include "formats/WaveFileReader.h"
#include "sound/SoundTestSupport.h"
#include "support/TempDir.h"

#include <atomic>
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

// Device input whose samples count up by one per sample (any sample width), and which remembers
// how many bytes each block had.
struct CountingInput {
    std::atomic<std::uint32_t> next{0};
    std::atomic<std::size_t> lastBlockBytes{0};
    int sampleBytes = 2;
    std::uint32_t scale = 1;

    void attach(NullDeviceOptions& o)
    {
        o.inputSource = [this](std::uint8_t* data, std::size_t bytes) {
            lastBlockBytes.store(bytes);
            for (std::size_t i = 0; i + sampleBytes <= bytes; i += sampleBytes) {
                const std::uint32_t v = next.fetch_add(1, std::memory_order_relaxed) * scale;
                for (int k = 0; k < sampleBytes; ++k)
                    data[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
            }
        };
    }
};

// Collects delivered blocks on RecThread; read after stop().
struct Sink {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;
    std::uint32_t operator()(std::uint8_t* b, std::uint32_t n)
    {
        std::lock_guard lock(mutex);
        bytes.insert(bytes.end(), b, b + n);
        return n;
    }
    std::size_t size()
    {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

class WaveRecorderTest : public ::testing::Test {
protected:
    WaveRecorder::Config config(SoundDriverType type = SoundDriverType::Alsa)
    {
        WaveRecorder::Config c;
        c.backends = std::make_shared<NullBackendProvider>(options);
        c.driverType = type;
        c.messages = &messages;
        c.owner = &owner;
        c.sinkProc = std::ref(sink);
        return c;
    }

    NullDeviceOptions options;
    CountingInput input;
    Sink sink;
    CollectingMessageSink messages;
    RecordingOwner owner;
};

} // namespace

TEST_F(WaveRecorderTest, RecordsToFileAndSinkWithoutLosingASample)
{
    options.realTime = false;
    input.attach(options);
    tarnvel::test::TempDir dir;
    const std::string name = dir.file("take1.wav");
    WaveRecorder recorder(config());
    recorder.setBuffers(4, 4800);
    ASSERT_FALSE(recorder.setTarget(name, pcm(2, 48000, 16), true, 0, true, false))
        << recorder.getErrorText();
    ASSERT_TRUE(recorder.start(0, 0)) << recorder.getErrorText();
    ASSERT_TRUE(waitUntil([&] { return sink.size() >= 20 * 4800; }));
    recorder.stop();
    EXPECT_EQ(recorder.stateWord(), kStateStopped);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(recorder.overflowFrames(), 0u);

    ASSERT_EQ(sink.bytes.size() % 4800, 0u);
    for (std::size_t i = 0; i < sink.bytes.size() / 2; ++i)
        ASSERT_EQ(static_cast<std::uint16_t>(sample16(sink.bytes, i)),
                  static_cast<std::uint16_t>(i))
            << i;

    formats::WaveFileReader reader;
    ASSERT_TRUE(reader.readHeader(name)) << reader.errorText();
    EXPECT_EQ(reader.format(), pcm(2, 48000, 16));
    ASSERT_EQ(reader.dataLength(), sink.bytes.size());
    std::vector<std::uint8_t> file(sink.bytes.size());
    ASSERT_EQ(reader.readData(file.data(), file.size()), file.size());
    EXPECT_EQ(file, sink.bytes);
    EXPECT_EQ(owner.eventsSeen(),
              (std::vector<SoundEvent>{SoundEvent::RecStart, SoundEvent::RecEnd}));
}

TEST_F(WaveRecorderTest, JackRoleBitLengthsAndReduction)
{
    options.realTime = false;
    options.channelSampleType = kInt32Lsb;
    input.sampleBytes = 4;
    input.scale = 0x00010203; // distinct bytes in every position
    input.attach(options);
    {
        // 24 bits from a 32-bit device: the upper three bytes of each sample.
        WaveRecorder recorder(config(SoundDriverType::Jack));
        recorder.setBuffers(2, 3 * 2 * 256);
        ASSERT_FALSE(recorder.setTarget("", pcm(2, 48000, 24), false, 0, true, false))
            << recorder.getErrorText();
        ASSERT_TRUE(recorder.start(0, 0)) << recorder.getErrorText();
        ASSERT_TRUE(waitUntil([&] { return sink.size() >= 3 * 2 * 256 * 4; }));
        recorder.stop();
        for (std::uint32_t i = 0; i < 512; ++i) {
            const std::uint32_t w = i * input.scale;
            ASSERT_EQ(sink.bytes[3 * i], static_cast<std::uint8_t>(w >> 8)) << i;
            ASSERT_EQ(sink.bytes[3 * i + 2], static_cast<std::uint8_t>(w >> 24)) << i;
        }
    }
    {
        // 16 bits only by reduction, which must be allowed.
        WaveRecorder recorder(config(SoundDriverType::Jack));
        EXPECT_TRUE(recorder.setTarget("", pcm(2, 48000, 16), false, 0, true, false));
        EXPECT_EQ(recorder.getErrorText(), "Unsupported bit length. [16]");
        EXPECT_FALSE(recorder.start(0, 0));
        recorder.setAllowReduceBitLength(true);
        EXPECT_FALSE(recorder.setTarget("", pcm(2, 48000, 16), false, 0, true, false))
            << recorder.getErrorText();
    }
}

TEST_F(WaveRecorderTest, MonoThroughJackUsesOneChannel)
{
    options.realTime = false;
    options.channelSampleType = kInt24Lsb;
    input.sampleBytes = 3;
    input.attach(options);
    WaveRecorder recorder(config(SoundDriverType::Jack));
    recorder.setBuffers(2, 3 * 512);
    ASSERT_FALSE(recorder.setTarget("", pcm(1, 48000, 24), false, 0, true, false));
    ASSERT_TRUE(recorder.start(0, 0)) << recorder.getErrorText();
    ASSERT_TRUE(waitUntil([&] { return sink.size() >= 3 * 1024; }));
    recorder.stop();
    EXPECT_EQ(input.lastBlockBytes.load(), 3u * options.bufferFrames); // one 24-bit channel
    for (std::uint32_t i = 0; i < 1024; ++i)
        ASSERT_EQ(sink.bytes[3 * i], static_cast<std::uint8_t>(i)) << i;
}

TEST_F(WaveRecorderTest, TargetNameWithoutWavExtension)
{
    tarnvel::test::TempDir dir;
    WaveRecorder recorder(config());
    EXPECT_TRUE(
        recorder.setTarget(dir.file("take1.aif"), pcm(2, 44100, 16), false, 0, false, false));
    EXPECT_EQ(recorder.targetFileName(), dir.file("take1.WAV"));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "File extent is not 'WAV'.\n\n" + dir.file("take1.aif"));
    EXPECT_FALSE(recorder.start(0, 0)); // not ready
}

// A sink that does not keep up makes the device find no room: the run ends and says so
// instead of dropping audio without a word.
TEST_F(WaveRecorderTest, OverflowEndsTheRunWithAMessage)
{
    options.realTime = false;
    input.attach(options);
    std::atomic<bool> release{false};
    auto c = config();
    c.sinkProc = [&release](std::uint8_t*, std::uint32_t n) {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return n;
    };
    WaveRecorder recorder(c);
    recorder.setBuffers(2, 1024);
    ASSERT_FALSE(recorder.setTarget("", pcm(2, 48000, 16), false, 0, false, false));
    ASSERT_TRUE(recorder.start(0, 0));
    ASSERT_TRUE(waitUntil([&] { return recorder.overflowFrames() > 0; }));
    release.store(true);
    ASSERT_TRUE(waitForState(recorder, kStateStopped));
    recorder.stop();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Stopped! \n\nInput overflow: captured audio was lost");
}

TEST_F(WaveRecorderTest, MonitorDataLagsBehindCapture)
{
    options.realTime = true;
    input.attach(options);
    WaveRecorder recorder(config());
    recorder.setBuffers(8, 4800);
    ASSERT_FALSE(recorder.setTarget("", pcm(2, 48000, 16), false, 0, false, false));
    std::vector<std::uint8_t> data(1920, 0xEE);
    recorder.getMonitorData(data.data(), 1920);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](auto b) { return b == 0; }));
    ASSERT_TRUE(recorder.start(0, 0));
    ASSERT_TRUE(waitForState(recorder, kStateRunning));
    ASSERT_TRUE(waitUntil([&] { return recorder.capturedBytes() > 4 * 4800; }));
    recorder.getMonitorData(data.data(), 1920);
    // Consecutive counter samples, from somewhere behind the capture position.
    const auto first = static_cast<std::uint16_t>(sample16(data, 0));
    for (std::size_t i = 1; i < 960; ++i)
        ASSERT_EQ(static_cast<std::uint16_t>(sample16(data, i)),
                  static_cast<std::uint16_t>(first + i));
    recorder.stop();
}

// With the ALSA type and the monitor on, what is recorded is also played on the output device
// of the same number.
TEST_F(WaveRecorderTest, MonitorOutputPlaysWhatIsRecorded)
{
    options.realTime = true;
    input.attach(options);
    OutputCapture heard;
    heard.attach(options);
    WaveRecorder recorder(config());
    recorder.setBuffers(16, 4800);
    ASSERT_FALSE(recorder.setTarget("", pcm(2, 48000, 16), false, 1, false, true));
    ASSERT_TRUE(recorder.start(1, 0)) << recorder.getErrorText();
    ASSERT_TRUE(waitUntil([&] { return heard.snapshot().size() >= 8 * 4800; }));
    recorder.stop();
    EXPECT_TRUE(messages.messages.empty()) << messages.messages[0].text;
    // After the silence before the first block, consecutive counter samples.
    const auto out = heard.snapshot();
    std::size_t first = 0;
    while (first < out.size() / 2 && sample16(out, first) == 0)
        ++first;
    ASSERT_LT(first + 2400, out.size() / 2);
    const auto base = static_cast<std::uint16_t>(sample16(out, first));
    for (std::size_t i = 1; i < 2400; ++i)
        ASSERT_EQ(static_cast<std::uint16_t>(sample16(out, first + i)),
                  static_cast<std::uint16_t>(base + i))
            << i;
}
