// End-to-end runs through real sound servers that the tests start themselves: a PulseAudio
// null sink (played into, captured from its monitor, also through ALSA's default device routed
// to the server) and a JACK dummy server (ports routed from the player to the recorder).
#include "formats/WaveFileWriter.h"
#include "sound/SoundServers.h"
#include "sound/SoundTestSupport.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"
#include "support/TempDir.h"

#include <cmath>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <iostream>

using namespace tarnvel;
using namespace tarnvel::sound;
using namespace tarnvel::sound::test;
using formats::WaveFormat;
using tarnvel::test::JackServer;
using tarnvel::test::PulseServer;

namespace {

const WaveFormat kCd48 = WaveFormat::make(formats::kWaveFormatPcm, 2, 48000, 16);

struct Sink {
    std::mutex mutex;
    std::vector<std::int16_t> samples;
    std::uint32_t operator()(std::uint8_t* b, std::uint32_t n)
    {
        std::lock_guard lock(mutex);
        for (std::uint32_t i = 0; i + 1 < n; i += 2)
            samples.push_back(static_cast<std::int16_t>(b[i] | (b[i + 1] << 8)));
        return n;
    }
    std::size_t size()
    {
        std::lock_guard lock(mutex);
        return samples.size();
    }
};

// Level (RMS) and frequency (rising zero crossings) of the left channel where it carries sound.
// A server that is starved of CPU plays silence until the data arrives, so the sound may come
// in stretches; it must still add up to what was played, with the level and frequency played.
struct Analysis {
    std::string gaps;            // silent stretches inside the sound (frame+length)
    std::size_t soundFrames = 0; // frames of sound, gaps left out
    double rms = 0;              // over the middle of the longest stretch
    double frequency = 0;
};

Analysis analyse(const std::vector<std::int16_t>& stereo, std::uint32_t rate)
{
    Analysis a;
    const std::size_t frames = stereo.size() / 2;
    // Stretches of sound: ten quiet frames in a row end one (a 1 kHz sine is never that quiet).
    std::vector<std::pair<std::size_t, std::size_t>> stretches; // [from, to)
    std::size_t from = 0, quiet = 0;
    bool inSound = false;
    for (std::size_t f = 0; f < frames; ++f) {
        const bool loud = std::abs(stereo[2 * f]) > 1000;
        if (loud) {
            if (!inSound) {
                if (!stretches.empty())
                    a.gaps += " " + std::to_string(stretches.back().second) + "+" +
                              std::to_string(f - stretches.back().second);
                inSound = true;
                from = f;
            }
            quiet = 0;
        } else if (inSound && ++quiet >= 10) {
            inSound = false;
            stretches.emplace_back(from, f + 1 - quiet);
        }
    }
    if (inSound)
        stretches.emplace_back(from, frames);
    if (stretches.empty())
        return a;
    auto longest = stretches.front();
    for (const auto& st : stretches) {
        a.soundFrames += st.second - st.first;
        if (st.second - st.first > longest.second - longest.first)
            longest = st;
    }
    const std::size_t length = longest.second - longest.first;
    const std::size_t lo = longest.first + length / 10;
    const std::size_t hi = longest.second - length / 10;
    double sum = 0;
    int crossings = 0;
    std::size_t firstCrossing = 0, lastCrossing = 0;
    for (std::size_t f = lo; f + 1 < hi; ++f) {
        const double v = stereo[2 * f];
        sum += v * v;
        if (stereo[2 * f] < 0 && stereo[2 * (f + 1)] >= 0) {
            if (crossings == 0)
                firstCrossing = f;
            lastCrossing = f;
            ++crossings;
        }
    }
    if (hi > lo + 1)
        a.rms = std::sqrt(sum / static_cast<double>(hi - lo - 1));
    if (crossings > 1)
        a.frequency = (crossings - 1) * static_cast<double>(rate) /
                      static_cast<double>(lastCrossing - firstCrossing);
    return a;
}

// One second of a 1 kHz sine at half scale in both channels, then nothing.
struct SineSource {
    std::uint32_t frame = 0;
    std::uint32_t frames = 48000;
    std::uint32_t operator()(std::uint8_t* b, std::uint32_t n)
    {
        std::uint32_t i = 0;
        for (; i + 4 <= n && frame < frames; i += 4, ++frame) {
            const auto v = static_cast<std::int16_t>(
                std::lround(16384.0 * std::sin(2.0 * M_PI * 1000.0 * frame / 48000.0)));
            b[i] = b[i + 2] = static_cast<std::uint8_t>(v);
            b[i + 1] = b[i + 3] = static_cast<std::uint8_t>(v >> 8);
        }
        return i;
    }
};

bool startOrSkip(const char* program)
{
    return tarnvel::test::programAvailable(program) || tarnvel::test::runningOnCi();
}

class PulseRoundTrip : public ::testing::TestWithParam<SoundDriverType> {
protected:
    void SetUp() override
    {
        if (!startOrSkip("pulseaudio"))
            GTEST_SKIP() << "pulseaudio is not installed";
        std::string why;
        ASSERT_TRUE(server.start(why)) << why;
    }
    PulseServer server;
};

} // namespace

// Plays a sine into the null sink and captures the sink's monitor at the same time: what comes
// back has the level and the frequency that were played.
TEST_P(PulseRoundTrip, CapturedAudioIsWhatWasPlayed)
{
    const SoundDriverType type = GetParam();
    // A run in which a device reported dropped samples (a starved machine) says so and is
    // tried again; the verdict comes from a run the devices report clean.
    for (int attempt = 1;; ++attempt) {
        CollectingMessageSink messages;
        Sink sink;
        WaveRecorder::Config rc;
        rc.driverType = type;
        rc.messages = &messages;
        rc.sinkProc = std::ref(sink);
        WaveRecorder recorder(rc);
        ASSERT_EQ(recorder.driverType(), type) << recorder.getErrorText();
        ASSERT_GE(recorder.getDeviceCount(), 1);
        // The server may hand over a few hundred milliseconds at once (after a stream drains),
        // and a loaded machine (or a sanitizer build) may keep RecThread waiting for as long.
        recorder.setBuffers(32, 19200);
        ASSERT_FALSE(recorder.setTarget("", kCd48, false, 0, true, false))
            << recorder.getErrorText();

        SineSource sine;
        WavePlayer::Config pc;
        pc.driverType = type;
        pc.messages = &messages;
        pc.sourceProc = std::ref(sine);
        WavePlayer player(pc);
        ASSERT_EQ(player.driverType(), type) << player.getErrorText();
        if (type == SoundDriverType::Pulse) {
            bool listed = false;
            for (int i = 0; i <= player.getDeviceCount(); ++i)
                listed = listed || player.getDeviceName(i) == "Null Output";
            EXPECT_TRUE(listed);
        }
        WaveFormat f = kCd48;
        player.setBuffers(8, 4800);
        ASSERT_FALSE(player.setSource("", f));

        ASSERT_TRUE(recorder.start(0, 0))
            << recorder.getErrorText() << " " << recorder.errorDetail();
        ASSERT_TRUE(waitForState(recorder, kStateRunning));
        ASSERT_TRUE(player.start(0, 0)) << player.getErrorText() << " " << player.errorDetail();
        ASSERT_TRUE(waitForState(player, kStateStopped));
        player.stop();
        const std::size_t target = sink.size() + 2 * 48000 / 2; // half a second more
        waitUntil([&] { return sink.size() >= target || recorder.stateWord() == kStateStopped; });
        recorder.stop();

        const bool starved = player.deviceUnderruns() > 0 || recorder.deviceOverruns() > 0;
        if (starved && attempt < 3) {
            std::cerr << "attempt " << attempt << ": the devices dropped samples (underruns "
                      << player.deviceUnderruns() << ", overruns " << recorder.deviceOverruns()
                      << "); trying again\n";
            continue;
        }
        for (const auto& m : messages.messages) // dropped input may be reported, failures not
            EXPECT_EQ(m.text.rfind("Stopped!", 0), std::string::npos)
                << m.text << " (captured " << recorder.capturedBytes() << " bytes, "
                << recorder.overflowFrames() << " frames without room)";
        ASSERT_GE(sink.size(), target);

        const Analysis a = analyse(sink.samples, 48000);
        EXPECT_EQ(player.underruns(), 0u); // our side always had the next samples ready
        // Dropped periods (reported by the device) shorten the sound; level and frequency
        // must hold all the same.
        if (!starved) {
            EXPECT_NEAR(static_cast<double>(a.soundFrames), 48000.0, 480.0) << "gaps:" << a.gaps;
        } else {
            EXPECT_GE(a.soundFrames, 24000u) << "gaps:" << a.gaps;
        }
        const double expectRms = 16384.0 / std::sqrt(2.0);
        EXPECT_NEAR(20 * std::log10(a.rms / expectRms), 0.0, 0.5) << "rms " << a.rms;
        EXPECT_NEAR(a.frequency, 1000.0, 5.0);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseRoundTrip,
                         ::testing::Values(SoundDriverType::Pulse, SoundDriverType::Alsa),
                         [](const auto& param) {
                             return param.param == SoundDriverType::Pulse
                                        ? std::string("PulseAudio")
                                        : std::string("AlsaDefault");
                         });

namespace {

class JackRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!startOrSkip("jackd"))
            GTEST_SKIP() << "jackd is not installed";
        std::string why;
        ASSERT_TRUE(server.start(why)) << why;
    }
    JackServer server;
};

// Frame k carries p(k) on the left and its complement on the right; p is a permutation of the
// 16-bit values, so any captured sample tells where in the sequence it came from.
std::int16_t pattern(std::uint32_t k)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(k * 7919u + 1));
}

struct PatternSource {
    std::uint32_t frame = 0;
    std::uint32_t operator()(std::uint8_t* b, std::uint32_t n)
    {
        for (std::uint32_t i = 0; i + 4 <= n; i += 4, ++frame) {
            const std::int16_t l = pattern(frame);
            const auto r = static_cast<std::int16_t>(~l);
            b[i] = static_cast<std::uint8_t>(l);
            b[i + 1] = static_cast<std::uint8_t>(l >> 8);
            b[i + 2] = static_cast<std::uint8_t>(r);
            b[i + 3] = static_cast<std::uint8_t>(r >> 8);
        }
        return n;
    }
};

} // namespace

// The command line plays a WAV file as one JACK client that does not connect itself, the
// recorder runs here as another; the test routes the player's outputs to the recorder's inputs
// and checks every sample that came through. (Two processes, as in real use; in one process the
// server's hand-off of port buffers between clients would be invisible to the thread checker.)
TEST_F(JackRoundTrip, RoutedOutputArrivesSampleForSample)
{
    tarnvel::test::TempDir dir;
    const std::string wav = dir.file("pattern.wav");
    {
        CollectingMessageSink writerMessages;
        formats::WaveFileWriter writer(writerMessages);
        writer.setFileName(wav);
        writer.setFormat(kCd48);
        ASSERT_TRUE(writer.create());
        PatternSource source;
        std::vector<std::uint8_t> block(4 * 4800);
        for (int i = 0; i < 40; ++i) { // 4 seconds
            source(block.data(), static_cast<std::uint32_t>(block.size()));
            ASSERT_EQ(writer.write(block.data(), block.size()), block.size());
        }
        ASSERT_TRUE(writer.finish(false));
    }
    // A run in which the server reported late cycles (a starved machine) is tried again.
    for (int attempt = 1;; ++attempt) {
        CollectingMessageSink messages;
        Sink sink;
        WaveRecorder::Config rc;
        rc.driverType = SoundDriverType::Jack;
        rc.messages = &messages;
        rc.sinkProc = std::ref(sink);
        rc.connectPorts = false;
        rc.clientName = "tvrec";
        rc.allowReduceBitLength = true; // JACK carries 24 bits: 16-bit recording reduces
        WaveRecorder recorder(rc);
        ASSERT_EQ(recorder.driverType(), SoundDriverType::Jack) << recorder.getErrorText();
        recorder.setBuffers(32, 9600);
        ASSERT_FALSE(recorder.setTarget("", kCd48, false, 0, true, false))
            << recorder.getErrorText();
        ASSERT_TRUE(recorder.start(0, 0))
            << recorder.getErrorText() << " " << recorder.errorDetail();
        ASSERT_TRUE(waitForState(recorder, kStateRunning)) << recorder.getErrorText();

        tarnvel::test::ChildProcess cli;
        ASSERT_TRUE(cli.start({TARNVEL_CLI, "play-wav", wav, "--driver", "jack", "--jack-client",
                               "tvplay", "--no-connect"},
                              {}, dir.file("cli.log")));
        ASSERT_TRUE(waitUntil([&] {
            return server.connections().find("tvplay:outport 1") != std::string::npos ||
                   !cli.running();
        }));
        ASSERT_TRUE(server.connect("tvplay:outport 0", "tvrec:inport 0")) << server.connections();
        ASSERT_TRUE(server.connect("tvplay:outport 1", "tvrec:inport 1")) << server.connections();
        const std::size_t connectedAt = sink.size();
        ASSERT_TRUE(waitUntil([&] {
            return sink.size() >= connectedAt + 2 * 72000 || recorder.stateWord() == kStateStopped;
        }));
        cli.stop();
        recorder.stop();
        const bool late = recorder.deviceOverruns() > 0;
        for (const auto& m : messages.messages) // late cycles may be reported, failures not
            EXPECT_EQ(m.text.rfind("Stopped!", 0), std::string::npos) << m.text;

        std::vector<std::uint32_t> where(65536);
        for (std::uint32_t k = 0; k < 65536; ++k)
            where[static_cast<std::uint16_t>(pattern(k))] = k;
        const auto& s = sink.samples;
        // From the first frame with both channels (the ports are connected one after the other).
        std::size_t start = 0;
        while (2 * start + 1 < s.size() && (s[2 * start] == 0 || s[2 * start + 1] == 0))
            ++start;
        ASSERT_LT(2 * start + 2 * 48000, s.size()) << "less than a second came through";
        const std::uint32_t k0 = where[static_cast<std::uint16_t>(s[2 * start])];
        // Every frame that came through is the next frame of the sequence; a break is allowed
        // only where the server reported late cycles (it drops those cycles for every client).
        std::size_t matched = 0, breaks = 0;
        std::uint32_t k = k0;
        for (std::size_t f2 = start; 2 * f2 + 1 < s.size() && matched < 48000; ++f2) {
            const std::int16_t l = s[2 * f2];
            if (l == pattern(k) && s[2 * f2 + 1] == static_cast<std::int16_t>(~l)) {
                ++matched;
                ++k;
                continue;
            }
            if (l == 0 && s[2 * f2 + 1] == 0)
                continue; // a dropped cycle gives silence
            ++breaks;
            // Dropped cycles only move the sequence forward, by less than half a second.
            const auto jump = static_cast<std::uint16_t>(where[static_cast<std::uint16_t>(l)] - k);
            ASSERT_LT(jump, 24000u) << "frame " << f2 - start;
            k += jump;
            ASSERT_EQ(s[2 * f2 + 1], static_cast<std::int16_t>(~l)) << "frame " << f2 - start;
            ++matched;
            ++k;
        }
        if (breaks > 0 && !late) {
            ADD_FAILURE() << breaks << " breaks in the sequence without late cycles";
        }
        if (matched < 48000 && attempt < 3) {
            std::cerr << "attempt " << attempt << ": only " << matched << " frames came through "
                      << "(late cycles: " << late << "); trying again\n";
            continue;
        }
        EXPECT_EQ(matched, 48000u) << "late cycles reported: " << late;
        if (late && breaks > 0)
            std::cerr << "the server dropped cycles; " << breaks << " breaks, all in sequence\n";
        break;
    }
}

// A stream from the last output channel uses that one channel and connects to the second port;
// a mono recording uses one input port. The server's rate and period reach the driver
// information, and the callbacks keep the stream moving.
TEST_F(JackRoundTrip, FirstChannelChannelCountAndRate)
{
    CollectingMessageSink messages;
    WavePlayer::Config pc;
    pc.driverType = SoundDriverType::Jack;
    pc.messages = &messages;
    pc.clientName = "tvone";
    pc.sourceProc = [](std::uint8_t* b, std::uint32_t n) {
        std::memset(b, 0, n);
        return n;
    };
    WavePlayer player(pc);
    ASSERT_EQ(player.getDeviceCount(), 1) << player.getErrorText();
    EXPECT_EQ(player.getDeviceName(0), "system");
    std::string info;
    ASSERT_TRUE(player.driverInfoText(0, 0, info)) << player.getErrorText();
    EXPECT_NE(info.find("Sample Rate:\t 48000\n"), std::string::npos) << info;
    EXPECT_NE(info.find("preferred:\t 256\n"), std::string::npos) << info;

    WaveFormat f = kCd48;
    player.setBuffers(8, 4800);
    ASSERT_FALSE(player.setSource("", f));
    ASSERT_TRUE(player.start(0, 1)) << player.getErrorText() << " " << player.errorDetail();

    Sink sink;
    WaveRecorder::Config rc;
    rc.driverType = SoundDriverType::Jack;
    rc.messages = &messages;
    rc.clientName = "tvmono";
    rc.connectPorts = false;
    rc.sinkProc = std::ref(sink);
    // Listing the server's ports opens a short-lived client of its own; on a slow (sanitizer)
    // build the server can refuse it once while the player's client is still settling.
    auto recorderPtr = std::make_unique<WaveRecorder>(rc);
    for (int attempt = 0; attempt < 20 && recorderPtr->getDeviceCount() == 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        recorderPtr = std::make_unique<WaveRecorder>(rc);
    }
    WaveRecorder& recorder = *recorderPtr;
    ASSERT_FALSE(recorder.setTarget("", WaveFormat::make(formats::kWaveFormatPcm, 1, 48000, 24),
                                    false, 0, true, false))
        << recorder.getErrorText();
    ASSERT_TRUE(recorder.start(0, 0)) << recorder.getErrorText();

    ASSERT_TRUE(waitForState(player, kStateRunning));
    ASSERT_TRUE(waitUntil([&] { return player.playedBytes() >= 48000u * 4 / 2; }));
    ASSERT_TRUE(waitUntil([&] { return sink.size() >= 48000u * 3 / 2 / 4; }))
        << recorder.stateWord() << " " << recorder.getErrorText() << " " << recorder.errorDetail()
        << " captured " << recorder.capturedBytes();
    const std::string ports = server.connections();
    player.stop();
    recorder.stop();
    EXPECT_NE(ports.find("tvone:outport 0\n   system:playback_2\n"), std::string::npos) << ports;
    EXPECT_EQ(ports.find("tvone:outport 1"), std::string::npos) << ports;
    EXPECT_NE(ports.find("tvmono:inport 0"), std::string::npos) << ports;
    EXPECT_EQ(ports.find("tvmono:inport 1"), std::string::npos) << ports;
    for (const auto& m : messages.messages) // late cycles may be reported, failures not
        EXPECT_EQ(m.text.rfind("Stopped!", 0), std::string::npos) << m.text;
}
