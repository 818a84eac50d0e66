#include "engine/DeEmphasis.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace tarnvel::engine {
namespace {

// Reference filter, written as the textbook direct form: per pair, per channel, the sum over
// the 30 newest inputs of that channel from the oldest tap (k = 29) to the newest (k = 0), in
// double; plus dither, plus 0.5, floor, clip.
constexpr double kCoefficients[3][30] = {
    {
        // 32000 Hz
        0.467431653169,  0.286408275349,  0.089377645795,  0.089786105264,  0.017372172543,
        0.033895564403,  -0.002161371196, 0.015823656163,  -0.006129283644, 0.009174902991,
        -0.005901362246, 0.006142457801,  -0.004768752229, 0.00436941905,   -0.003605433784,
        0.003131769373,  -0.002609127515, 0.002194516304,  -0.001803730665, 0.001470959979,
        -0.001174831561, 0.000920835114,  -0.000702490521, 0.00051903966,   -0.00036736398,
        0.000245453148,  -0.000150875303, 0.00008137172,   -0.00003460864,  0.000008263294,
    },
    {
        // 44100 Hz
        0.430132127431,  0.238504246459,  0.100627862125,  0.097286489387,  0.037556990838,
        0.043325862441,  0.011370702241,  0.020527061822,  0.001370229762,  0.010604945114,
        -0.001903132278, 0.00607353844,   -0.002565138877, 0.003806806338,  -0.002310550162,
        0.002519222412,  -0.001804149665, 0.001689703022,  -0.001291659791, 0.001107762743,
        -0.000855129948, 0.000686075181,  -0.00051521305,  0.000384768951,  -0.000270372342,
        0.000181533224,  -0.000111219615, 0.000060117306,  -0.00002553094,  0.000006101984,
    },
    {
        // 48000 Hz
        0.421712238735,  0.225809353091,  0.101114143351, 0.09790868383,   0.041836811148,
        0.045796342935,  0.015027254334,  0.022309030844, 0.003725862292,  0.011516428772,
        -0.000542754605, 0.006421343913,  -0.00181121246, 0.003871852345,  -0.001893034308,
        0.002472096077,  -0.001567847109, 0.001615483195, -0.001154801371, 0.001041874922,
        -0.000775731946, 0.000639173644,  -0.00047093481, 0.000356600434,  -0.000248114454,
        0.000167777063,  -0.000102272478, 0.000055481504, -0.000023501713, 0.00000562727,
    },
};

class ReferenceFilter {
public:
    explicit ReferenceFilter(int rate)
    {
        const int set = rate == 32000 ? 0 : rate == 44100 ? 1 : 2;
        std::copy(std::begin(kCoefficients[set]), std::end(kCoefficients[set]), c_);
    }
    std::uint32_t draw()
    {
        seed_ = seed_ * 22695477u + 1u;
        return (seed_ >> 16) & 0x7FFF;
    }
    // Filters one pair; newest input first in each channel's history.
    void pair(std::int16_t& left, std::int16_t& right, int dither)
    {
        double d = 0.0;
        if (dither == 1) {
            d = draw() / 32767.0 - 0.5;
        } else if (dither == 2) {
            const double r1 = draw();
            const double r2 = draw();
            d = (r1 - r2) / 32767.0 * 0.5;
        }
        std::int16_t* samples[2] = {&left, &right};
        for (int ch = 0; ch < 2; ++ch) {
            auto& h = history_[ch];
            std::copy_backward(h, h + 29, h + 30);
            h[0] = *samples[ch];
            double sum = 0.0;
            for (int k = 29; k >= 0; --k)
                sum += c_[k] * h[k];
            const double y = std::floor(sum + d + 0.5);
            *samples[ch] = static_cast<std::int16_t>(std::clamp(y, -32768.0, 32767.0));
        }
    }

private:
    double c_[30] = {};
    double history_[2][30] = {};
    std::uint32_t seed_ = 1;
};

// About 0.4 s of stereo: noise over the whole range, a loud sine, steady full-scale runs of
// both signs, silence, and sharp full-scale steps.
std::vector<std::int16_t> testSignal()
{
    std::vector<std::int16_t> s;
    std::uint32_t x = 2463534242u;
    const auto noise = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return static_cast<std::int16_t>(x);
    };
    for (int i = 0; i < 3000; ++i)
        s.push_back(noise());
    for (int i = 0; i < 3000; ++i)
        s.push_back(static_cast<std::int16_t>(std::lround(30000.0 * std::sin(i * 0.0123))));
    s.insert(s.end(), 400, 32767);
    s.insert(s.end(), 400, -32768);
    s.insert(s.end(), 400, 0);
    for (int i = 0; i < 12000; ++i)
        s.push_back(i % 60 < 30 ? (i % 7 == 0 ? noise() : 32767) : -32768);
    return s;
}

std::vector<std::uint8_t> toBytes(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> b(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        writeLe16(&b[2 * i], static_cast<std::uint16_t>(samples[i]));
    return b;
}

// Filters `bytes` in pieces of the given sizes, cycling through them.
void processInPieces(DeEmphasis& f, std::vector<std::uint8_t>& bytes,
                     const std::vector<std::uint32_t>& pieces, int dither)
{
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const auto n = std::min<std::size_t>(pieces[i % pieces.size()], bytes.size() - at);
        f.process(bytes.data() + at, static_cast<std::uint32_t>(n), dither);
        at += n;
    }
}

// The first sample where `bytes` differs from `expected`, or -1.
long firstDifference(const std::vector<std::uint8_t>& bytes,
                     const std::vector<std::int16_t>& expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (static_cast<std::int16_t>(readLe16(&bytes[2 * i])) != expected[i])
            return static_cast<long>(i);
    return -1;
}

TEST(DeEmphasisTest, MatchesTheReferenceFilter)
{
    struct Case {
        int rate;
        int dither;
    };
    const Case cases[] = {{48000, 0}, {44100, 0}, {32000, 0}, {48000, 1},
                          {48000, 2}, {44100, 2}, {32000, 1}, {48000, 7}};
    const std::vector<std::int16_t> input = testSignal();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, dither " << c.dither);
        ReferenceFilter ref(c.rate);
        std::vector<std::int16_t> expected = input;
        for (std::size_t i = 0; i + 1 < expected.size(); i += 2)
            ref.pair(expected[i], expected[i + 1], c.dither);

        DeEmphasis f;
        f.prepare(c.rate);
        ASSERT_TRUE(f.hasCoefficients());
        // Pieces shorter than the history, odd sizes and frames of every rate: the history
        // runs on from call to call.
        std::vector<std::uint8_t> bytes = toBytes(input);
        processInPieces(f, bytes, {5760, 4, 116, 120, 3840, 5292, 8, 1000}, c.dither);
        EXPECT_EQ(firstDifference(bytes, expected), -1);

        // Preparing again starts over: empty history, generator seeded anew; a block larger
        // than a frame gives the same result.
        f.prepare(c.rate);
        bytes = toBytes(input);
        processInPieces(f, bytes, {11520}, c.dither);
        EXPECT_EQ(firstDifference(bytes, expected), -1);
    }
}

TEST(DeEmphasisTest, ReferenceGenerator)
{
    ReferenceFilter ref(48000);
    std::vector<std::uint32_t> draws;
    for (int i = 0; i < 6; ++i)
        draws.push_back(ref.draw());
    EXPECT_EQ(draws, (std::vector<std::uint32_t>{346, 130, 10982, 1090, 11656, 7117}));
}

TEST(DeEmphasisTest, FullScaleClipsInsteadOfWrapping)
{
    // Inputs of full scale with the sign of each tap push the sum above full scale (the
    // absolute coefficients add up to more than 1); the result is clipped.
    for (const int rate : {32000, 44100, 48000}) {
        const int set = rate == 32000 ? 0 : rate == 44100 ? 1 : 2;
        for (const int sign : {1, -1}) {
            std::vector<std::int16_t> input;
            for (int k = 29; k >= 0; --k) {
                const bool up = (kCoefficients[set][k] > 0) == (sign > 0);
                input.push_back(up ? 32767 : -32768);
                input.push_back(up ? 32767 : -32768);
            }
            DeEmphasis f;
            f.prepare(rate);
            std::vector<std::uint8_t> bytes = toBytes(input);
            f.process(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 2);
            const auto last = static_cast<std::int16_t>(readLe16(&bytes[bytes.size() - 2]));
            EXPECT_EQ(last, sign > 0 ? 32767 : -32768) << rate << " Hz";
        }
    }
}

TEST(DeEmphasisTest, RatesWithoutCoefficientsLeaveSamplesAlone)
{
    const std::vector<std::uint8_t> input = toBytes(testSignal());
    for (const int rate : {96000, 88200, 64000, 0}) {
        DeEmphasis f;
        f.prepare(48000);
        f.prepare(rate);
        EXPECT_FALSE(f.hasCoefficients()) << rate;
        std::vector<std::uint8_t> bytes = input;
        processInPieces(f, bytes, {5760}, 2);
        EXPECT_EQ(bytes, input) << rate;
    }
}

} // namespace
} // namespace tarnvel::engine
