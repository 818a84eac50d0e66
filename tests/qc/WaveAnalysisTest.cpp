#include "qc/WaveAnalysis.h"

#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

// The figures and pictures of one file, from signals whose figures are known.
namespace tarnvel::qc {
namespace {

using test::TempDir;
using test::WavFixture;

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kRate = 48000;

double db(double linear)
{
    return 20.0 * std::log10(linear);
}

// Runs `frames` stereo frames made by `sample(frame, channel)` through an analysis, in uneven
// blocks (so that columns, windows and runs cross block edges).
WaveAnalysis& analyse(WaveAnalysis& a, std::uint64_t frames,
                      const std::function<float(std::uint64_t, int)>& sample,
                      const formats::WaveFormat& format =
                          formats::WaveFormat::make(formats::kWaveFormatPcm, 2, kRate, 16),
                      AnalysisOptions options = {})
{
    std::string error;
    EXPECT_TRUE(a.start(format, frames, options, error)) << error;
    std::vector<float> block;
    std::uint64_t at = 0;
    for (std::size_t size = 1; at < frames; size = size * 3 + 7) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size % 20000 + 1, frames - at));
        block.resize(n * format.channels);
        for (std::size_t i = 0; i < n; ++i)
            for (int c = 0; c < format.channels; ++c)
                block[i * format.channels + static_cast<std::size_t>(c)] = sample(at + i, c);
        a.add(block.data(), n);
        at += n;
    }
    a.finish();
    return a;
}

struct LevelCase {
    const char* name;
    std::function<float(std::uint64_t, int)> sample;
    std::optional<double> loudness; // LUFS
    double samplePeakDb;            // both channels
    std::optional<double> truePeakDb;
    double dcOffset; // left channel
};

TEST(WaveAnalysis, LoudnessPeaksAndOffsetOfKnownSignals)
{
    const std::vector<LevelCase> cases = {
        // A 997 Hz sine in both channels reads its level in LUFS (0 dBFS in one channel: -3.01).
        {"sine -20 dBFS",
         [](std::uint64_t n, int) {
             return static_cast<float>(0.1 * std::sin(2 * kPi * 997.0 * n / kRate));
         },
         -20.0, -20.0, -20.0, 0.0},
        // A sine at an eighth of the rate sampled 22.5 degrees off its crests: the samples stay
        // 0.69 dB below the peaks between them.
        {"inter-sample peak",
         [](std::uint64_t n, int) {
             return static_cast<float>(0.5 * std::sin(kPi / 4 * static_cast<double>(n) + kPi / 8));
         },
         std::nullopt, db(0.5 * std::cos(kPi / 8)), db(0.5), 0.0},
        // Direct current: the offset.
        {"dc", [](std::uint64_t, int) { return 0.25f; }, std::nullopt, db(0.25), std::nullopt,
         0.25},
    };
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.name);
        WaveAnalysis a;
        const AudioFigures& f = analyse(a, 10 * kRate, c.sample).figures();
        if (c.loudness) {
            EXPECT_NEAR(f.loudness, *c.loudness, 0.05);
        }
        ASSERT_EQ(f.channels.size(), 2u);
        for (const ChannelFigures& ch : f.channels) {
            EXPECT_NEAR(db(ch.samplePeak), c.samplePeakDb, 0.01);
            if (c.truePeakDb) {
                EXPECT_NEAR(db(ch.truePeak), *c.truePeakDb, 0.1);
            }
            EXPECT_GE(ch.truePeak, ch.samplePeak * 0.999);
        }
        EXPECT_NEAR(f.channels[0].dcOffset, c.dcOffset, 1e-4);
    }
}

TEST(WaveAnalysis, ClippedRunsAndDigitalSilenceAreFoundWithTheirPlaces)
{
    // 10 s of a quiet tone with zeros and full-scale runs at known places.
    struct Run {
        std::uint64_t start, length;
        int channel;
        float value;
    };
    const std::vector<Run> clips = {
        {1000, 2, 0, 1.0f},            // two samples at full scale: a peak, not a clip
        {2000, 3, 0, 32767 / 32768.f}, // the largest 16-bit value
        {3000, 5, 1, -1.0f},
        {kRate * 10 - 4, 4, 1, 1.0f}, // a run that lasts to the end
    };
    const std::vector<Run> zeros = {
        {kRate * 2, kRate * 5 / 2, -1, 0}, // 2.5 s: listed
        {kRate * 6, kRate * 3 / 2, -1, 0}, // 1.5 s: too short
        {kRate * 8, kRate, 0, 0},          // only one channel silent
    };
    const auto sample = [&](std::uint64_t n, int c) {
        for (const Run& r : clips)
            if (r.channel == c && n >= r.start && n < r.start + r.length)
                return r.value;
        for (const Run& r : zeros)
            if ((r.channel < 0 || r.channel == c) && n >= r.start && n < r.start + r.length)
                return 0.0f;
        return static_cast<float>(0.01 * std::sin(2 * kPi * 440.0 * n / kRate));
    };
    WaveAnalysis a;
    const AudioFigures& f = analyse(a, 10 * kRate, sample).figures();
    EXPECT_EQ(f.channels[0].clipRuns, 1u);
    EXPECT_EQ(f.channels[0].clippedSamples, 3u);
    EXPECT_EQ(f.channels[1].clipRuns, 2u);
    EXPECT_EQ(f.channels[1].clippedSamples, 9u);
    ASSERT_EQ(f.clipRuns.size(), 3u);
    EXPECT_EQ(f.clipRuns[0].start, 2000u);
    EXPECT_EQ(f.clipRuns[0].channel, 0);
    EXPECT_EQ(f.clipRuns[2].start, kRate * 10 - 4);
    EXPECT_EQ(f.clipRuns[2].length, 4u);
    ASSERT_EQ(f.silenceCount, 1u);
    ASSERT_EQ(f.silences.size(), 1u);
    // The tone crosses zero at the stretch's edges: it may begin a sample early.
    EXPECT_NEAR(static_cast<double>(f.silences[0].start), kRate * 2.0, 1);
    EXPECT_NEAR(static_cast<double>(f.silences[0].length), kRate * 2.5, 2);

    // Silence up to the end is listed too.
    WaveAnalysis b;
    const AudioFigures& g = analyse(b, 5 * kRate, [](std::uint64_t n, int) {
                                return n < kRate ? 0.5f : 0.0f;
                            }).figures();
    ASSERT_EQ(g.silences.size(), 1u);
    EXPECT_EQ(g.silences[0].start, kRate);
    EXPECT_EQ(g.silences[0].length, 4u * kRate);
}

TEST(WaveAnalysis, OverviewHoldsTheExtremesOfEveryColumn)
{
    struct Case {
        std::uint64_t frames;
        int columns; // expected
    };
    for (const Case c : {Case{2400, 1200}, Case{100, 100}, Case{1, 1}, Case{1201, 1200}}) {
        SCOPED_TRACE(c.frames);
        WaveAnalysis a;
        // A ramp in the left channel, its negative in the right one.
        const auto ramp = [&](std::uint64_t n, int ch) {
            const float v = static_cast<float>(n + 1) / static_cast<float>(c.frames + 1);
            return ch == 0 ? v : -v;
        };
        const WaveOverview& o = analyse(a, c.frames, ramp).overview();
        ASSERT_EQ(o.columns, c.columns);
        std::vector<float> lo(static_cast<std::size_t>(o.columns), 2.0f);
        std::vector<float> hi(static_cast<std::size_t>(o.columns), -2.0f);
        for (std::uint64_t n = 0; n < c.frames; ++n) {
            const auto col = static_cast<std::size_t>(n * o.columns / c.frames);
            lo[col] = std::min(lo[col], ramp(n, 0));
            hi[col] = std::max(hi[col], ramp(n, 0));
        }
        for (std::size_t col = 0; col < lo.size(); ++col) {
            EXPECT_EQ(o.minimum[col * 2], lo[col]) << col;
            EXPECT_EQ(o.maximum[col * 2], hi[col]) << col;
            EXPECT_EQ(o.minimum[col * 2 + 1], -hi[col]) << col;
        }
    }
}

TEST(WaveAnalysis, SpectrogramShowsATonesFrequencyAndLevel)
{
    // A 6 kHz tone (exactly bin 128 of 1024 at 48 kHz) at -6 dBFS, in a long file (several
    // windows per column) and in one shorter than a window.
    for (const std::uint64_t frames : {std::uint64_t{60} * kRate, std::uint64_t{700}}) {
        SCOPED_TRACE(frames);
        WaveAnalysis a;
        const Spectrogram& s =
            analyse(a, frames, [](std::uint64_t n, int) {
                return static_cast<float>(0.5 * std::sin(2 * kPi * 6000.0 * n / kRate));
            }).spectrogram();
        ASSERT_EQ(s.bins, 513);
        EXPECT_DOUBLE_EQ(s.binHz, 46.875);
        for (const int column : {0, s.columns / 2, s.columns - 1}) {
            const float* level = s.level.data() + static_cast<std::size_t>(column) * 513;
            const auto loudest = std::max_element(level, level + 513) - level;
            EXPECT_EQ(loudest, 128) << column;
            if (frames > 1024) {
                EXPECT_NEAR(level[128], -6.02, 0.1) << column;
            }
            EXPECT_LT(level[400], level[128] - 60) << column;
        }
    }
}

// Every sample format a file may hold reads as the same values: the left channel alternates
// +1/2 and -1/4, the right one holds a run of three at full scale.
TEST(WaveAnalysis, EverySampleFormatDecodesToTheSameFigures)
{
    struct Format {
        std::uint16_t tag, bits;
        std::function<void(std::vector<std::uint8_t>&, double)> put;
    };
    const auto le = [](std::vector<std::uint8_t>& out, std::int64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
    };
    const auto pcm = [le](int bits) {
        return [le, bits](std::vector<std::uint8_t>& out, double v) {
            const double scale = std::ldexp(1.0, bits - 1);
            const auto q =
                static_cast<std::int64_t>(std::clamp(std::round(v * scale), -scale, scale - 1));
            le(out, bits == 8 ? q + 128 : q, bits / 8);
        };
    };
    const std::vector<Format> formats = {
        {1, 8, pcm(8)},
        {1, 16, pcm(16)},
        {1, 24, pcm(24)},
        {1, 32, pcm(32)},
        {3, 32,
         [le](std::vector<std::uint8_t>& out, double v) {
             const auto f = static_cast<float>(v);
             std::uint32_t bits;
             std::memcpy(&bits, &f, sizeof bits);
             le(out, bits, 4);
         }},
    };
    TempDir dir;
    for (const Format& fmt : formats) {
        SCOPED_TRACE(std::to_string(fmt.tag) + "/" + std::to_string(fmt.bits));
        WavFixture w;
        w.tag = fmt.tag;
        w.bits = fmt.bits;
        w.rate = kRate;
        for (int n = 0; n < 1000; ++n) {
            fmt.put(w.data, n % 2 ? -0.25 : 0.5);
            fmt.put(w.data, n >= 500 && n < 503 ? 1.0 : 0.0);
        }
        w.write(dir.file("f.wav"));
        AnalysisOptions one;
        one.columns = 1;
        const FileAnalysis a = analyseWaveFiles({dir.file("f.wav")}, one);
        ASSERT_TRUE(a.ok) << a.error;
        EXPECT_EQ(a.figures.sampleFrames, 1000u);
        EXPECT_EQ(a.overview.maximum[0], 0.5f);
        EXPECT_EQ(a.overview.minimum[0], -0.25f);
        EXPECT_EQ(a.figures.channels[1].clipRuns, 1u);
        EXPECT_EQ(a.figures.channels[1].clippedSamples, 3u);
        EXPECT_EQ(a.figures.channels[0].clipRuns, 0u);
    }
}

TEST(WaveAnalysis, APartsSeriesIsOneFileAndBadFilesSayWhy)
{
    TempDir dir;
    WavFixture w;
    w.rate = kRate;
    w.withFrames(3000);
    w.write(dir.file("a.wav"));
    w.write(dir.file("a_1.wav"));
    const FileAnalysis both = analyseWaveFiles({dir.file("a.wav"), dir.file("a_1.wav")});
    ASSERT_TRUE(both.ok) << both.error;
    EXPECT_EQ(both.figures.sampleFrames, 6000u);

    WavFixture mono = w;
    mono.channels = 1;
    mono.write(dir.file("mono.wav"));
    WavFixture wide = w;
    wide.channels = 9;
    wide.write(dir.file("wide.wav"));
    WavFixture odd = w;
    odd.bits = 12;
    odd.write(dir.file("odd.wav"));
    const struct {
        std::vector<std::string> parts;
        const char* says;
    } bad[] = {
        {{dir.file("a.wav"), dir.file("mono.wav")}, "not in the format of"},
        {{dir.file("missing.wav")}, "missing.wav"},
        {{dir.file("wide.wav")}, "channels"},
        {{dir.file("odd.wav")}, "sample format"},
        {{}, "no file"},
    };
    for (const auto& b : bad) {
        const FileAnalysis a = analyseWaveFiles(b.parts);
        EXPECT_FALSE(a.ok) << b.says;
        EXPECT_NE(a.error.find(b.says), std::string::npos) << a.error;
    }
}

} // namespace
} // namespace tarnvel::qc
