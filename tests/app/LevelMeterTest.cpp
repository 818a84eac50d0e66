#include "app/LevelMeter.h"

#include "app/DisplaySamples.h"
#include "common/ByteOrder.h"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace tarnvel::app {
namespace {

// Interleaved stereo frame of `pairs` pairs, every sample written by `put`.
template <class Put> std::vector<std::uint8_t> frame(int pairs, int bytesPerSample, Put put)
{
    std::vector<std::uint8_t> data(static_cast<std::size_t>(pairs) * 2 * bytesPerSample);
    for (int i = 0; i < pairs * 2; ++i)
        put(&data[static_cast<std::size_t>(i) * bytesPerSample], i);
    return data;
}

std::vector<std::uint8_t> frame16(int pairs, std::int16_t left, std::int16_t right)
{
    return frame(pairs, 2, [&](std::uint8_t* p, int i) {
        writeLe16(p, static_cast<std::uint16_t>(i % 2 == 0 ? left : right));
    });
}

TEST(DisplaySamplesTest, SilenceAndFullScale)
{
    DisplaySamples out;
    auto silence = frame16(1440, 0, 0);
    ASSERT_TRUE(computeDisplaySamples(silence.data(), silence.size(), 16, false, 5760, out));
    EXPECT_EQ(out.pairs, 1440);
    EXPECT_EQ(out.levels, (LevelValues{-903, -903, -1303, -1303}));

    auto full = frame16(1440, 0, 0);
    writeLe16(&full[4 * 100], 0x8000);     // left -32768
    writeLe16(&full[4 * 200 + 2], 0x7FFF); // right 32767
    ASSERT_TRUE(computeDisplaySamples(full.data(), full.size(), 16, false, 5760, out));
    EXPECT_EQ(out.levels.peakL, 0);
    EXPECT_EQ(out.levels.peakR, 0);
    EXPECT_EQ(out.left[100], -32768);
    EXPECT_EQ(out.right[200], 32767);

    EXPECT_EQ(peakLevel(1), -903);
    EXPECT_EQ(peakLevel(0), -903);
    EXPECT_EQ(peakLevel(32768), 0);
    EXPECT_EQ(rmsLevel(0.0, 1440), -1303);
    EXPECT_EQ(rmsLevel(0.0, 0), -1303);
    // A constant half-scale signal: 200 × log10(16384 / 32767) = -60.2 → -60.
    EXPECT_EQ(rmsLevel(16384.0 * 16384.0 * 1440, 1440), -60);
}

TEST(DisplaySamplesTest, WiderSamplesBecomeSixteenBits)
{
    struct Case {
        const char* what;
        int bits;
        bool isFloat;
        std::uint32_t pattern; // the little-endian sample's value
        std::int16_t expected;
    };
    const auto f = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    const Case cases[] = {
        {"24-bit", 24, false, 0x123456, 0x1234},
        {"24-bit negative", 24, false, 0x800001, -32768},
        {"32-bit", 32, false, 0x12345678, 0x1234},
        {"32-bit negative", 32, false, 0xFFFF0000, -1},
        {"float half", 32, true, f(0.5f), 16384},
        {"float -1", 32, true, f(-1.0f), -32768},
        {"float below one", 32, true, f(0.99999f), 32767},
        {"float toward zero", 32, true, f(-0.00002f), 0},
        {"float overshoot", 32, true, f(1.5f), 32767},
        {"float undershoot", 32, true, f(-3.0f), -32768},
        {"float NaN", 32, true, f(std::numeric_limits<float>::quiet_NaN()), 0},
    };
    for (const Case& c : cases) {
        const int bytes = c.bits / 8;
        const auto data = frame(1323, bytes, [&](std::uint8_t* p, int) {
            for (int b = 0; b < bytes; ++b)
                p[b] = static_cast<std::uint8_t>(c.pattern >> (8 * b));
        });
        DisplaySamples out;
        ASSERT_EQ(data.size(), displayBytesPerFrame(5292, c.bits));
        ASSERT_TRUE(computeDisplaySamples(data.data(), data.size(), c.bits, c.isFloat, 5292, out))
            << c.what;
        EXPECT_EQ(out.pairs, 1323) << c.what;
        EXPECT_EQ(out.left[0], c.expected) << c.what;
        EXPECT_EQ(out.right[1322], c.expected) << c.what;
    }
}

TEST(DisplaySamplesTest, ShortOrUnknownInputIsSafe)
{
    DisplaySamples out;
    const auto data = frame16(10, 1000, -1000);
    ASSERT_TRUE(computeDisplaySamples(data.data(), data.size(), 16, false, 5760, out));
    EXPECT_EQ(out.pairs, 10); // only what the buffer holds
    ASSERT_TRUE(computeDisplaySamples(data.data(), data.size(), 16, false, 99999, out));
    EXPECT_EQ(out.pairs, 10);
    ASSERT_TRUE(computeDisplaySamples(nullptr, 100, 16, false, 5760, out));
    EXPECT_EQ(out.pairs, 0);
    EXPECT_EQ(out.levels, LevelValues{});
    out.pairs = 7;
    EXPECT_FALSE(computeDisplaySamples(data.data(), data.size(), 8, false, 5760, out));
    EXPECT_FALSE(computeDisplaySamples(data.data(), data.size(), 16, true, 5760, out));
    EXPECT_EQ(out.pairs, 7); // untouched
}

TEST(LevelMeterTest, SilenceLeavesBarsAndMarginEmpty)
{
    LevelMeter meter;
    for (int i = 0; i < 200; ++i) {
        meter.update(LevelValues{-903, -903, -1303, -1303});
        for (int ch = 0; ch < 2; ++ch) {
            const MeterBar b = meter.bar(ch, 300, 10);
            ASSERT_FALSE(b.showAverage) << i;
            ASSERT_FALSE(b.showHold) << i;
            ASSERT_EQ(b.peakX, 10);
        }
        ASSERT_EQ(meter.marginText(), "") << i;
        ASSERT_FALSE(meter.marginRed());
    }
}

TEST(LevelMeterTest, FullScaleShowsZeroMarginInRedUntilReset)
{
    LevelMeter meter;
    meter.update(LevelValues{-200, 0, -300, -250});
    EXPECT_EQ(meter.marginText(), "0.0");
    EXPECT_TRUE(meter.marginRed());
    const MeterBar right = meter.bar(1, 300, 10);
    EXPECT_EQ(right.peakX, 310);
    EXPECT_EQ(right.holdX, 310);
    EXPECT_TRUE(right.showHold);

    // Quieter audio does not bring the margin back; the hold markers are renewed.
    for (int i = 0; i < 200; ++i)
        meter.update(LevelValues{-400, -400, -500, -500});
    EXPECT_EQ(meter.marginText(), "0.0");
    EXPECT_EQ(meter.peakHold(1), -400);

    // Reset while running: the next update shows the new maximum.
    meter.resetMargin(true);
    EXPECT_EQ(meter.marginText(), "0.0");
    meter.update(LevelValues{-400, -350, -500, -500});
    EXPECT_EQ(meter.marginText(), "35");
    EXPECT_FALSE(meter.marginRed());

    // Reset while idle clears the field at once.
    meter.resetMargin(false);
    EXPECT_EQ(meter.marginText(), "");
    EXPECT_EQ(meter.maximumHold(), kNoMaximumHold);
}

TEST(LevelMeterTest, MarginTexts)
{
    const std::pair<int, const char*> cases[] = {
        {-35, "3.5"}, {-120, "12"}, {0, "0.0"}, {-99, "9.9"},
        {-100, "10"}, {-899, "89"}, {-900, ""}, {kNoMaximumHold, ""},
    };
    for (const auto& [hold, text] : cases)
        EXPECT_EQ(marginText(hold), text) << hold;
}

TEST(LevelMeterTest, PeakHoldIsRenewedAfterEightyUpdates)
{
    LevelMeter meter;
    meter.update(LevelValues{-100, -100, -200, -200}); // takes the hold, counter back to 0
    for (int i = 1; i < kPeakHoldUpdates; ++i)
        meter.update(LevelValues{-300, -300, -400, -400});
    EXPECT_EQ(meter.peakHold(0), -100);
    meter.update(LevelValues{-300, -320, -400, -400});
    EXPECT_EQ(meter.peakHold(0), -300);
    EXPECT_EQ(meter.peakHold(1), -320);
    EXPECT_EQ(meter.marginText(), "10"); // the maximum hold stays
}

TEST(LevelMeterTest, AverageOfTheLastSixRmsLevels)
{
    LevelMeter meter;
    meter.update(LevelValues{-50, -50, -100, -100});
    EXPECT_EQ(meter.average(0), (-100 + 5 * -1303) / 6);
    for (int i = 0; i < 5; ++i)
        meter.update(LevelValues{-50, -50, -100, -160});
    EXPECT_EQ(meter.average(0), -100);
    EXPECT_EQ(meter.average(1), (-100 + 5 * -160) / 6);
    const MeterBar b = meter.bar(0, 600, 4);
    EXPECT_TRUE(b.showAverage);
    EXPECT_EQ(b.averageX, 500 + 4);
    EXPECT_EQ(b.left, 4);
    EXPECT_EQ(b.right, 604);
}

TEST(LevelMeterTest, PositionsAndScale)
{
    EXPECT_EQ(meterPosition(-600, 300, 10), 10);
    EXPECT_EQ(meterPosition(-700, 300, 10), 10);
    EXPECT_EQ(meterPosition(-300, 300, 10), 160);
    EXPECT_EQ(meterPosition(0, 300, 10), 310);
    EXPECT_EQ(meterPosition(-1, 7, 0), 6); // integer division

    const auto ticks = levelMeterScale(240, 20);
    ASSERT_EQ(ticks.size(), 13u);
    const char* labels[] = {"-60", "-50", "-40", "-30", "-20", "-10", "0dB"};
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(ticks[i].x, static_cast<int>(20 + i * 20));
        EXPECT_EQ(ticks[i].isLong, i % 2 == 0);
        EXPECT_EQ(ticks[i].label, i % 2 == 0 ? labels[i / 2] : "");
    }
}

} // namespace
} // namespace tarnvel::app
