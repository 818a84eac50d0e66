#include "dat/TimeCode.h"

#include <gtest/gtest.h>

namespace tarnvel::dat {
namespace {

TimeCode tc(std::uint8_t h, std::uint8_t m, std::uint8_t s, std::uint8_t f)
{
    return {h, m, s, f};
}

TEST(TimeCode, FramesToAbsFollowsThe33_33_34Pattern)
{
    struct Case {
        long long frames;
        TimeCode expected;
    } cases[] = {
        {0, tc(0, 0, 0, 0)},      {32, tc(0, 0, 0, 0x32)}, {33, tc(0, 0, 1, 0)},
        {65, tc(0, 0, 1, 0x32)},  {66, tc(0, 0, 2, 0)},    {99, tc(0, 0, 2, 0x33)},
        {100, tc(0, 0, 3, 0)},    {6000, tc(0, 3, 0, 0)},  {119999, tc(0, 0x59, 0x59, 0x33)},
        {120000, tc(1, 0, 0, 0)}, {-5, tc(0, 0, 0, 0)},    {12000000, tc(0, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(framesToAbs(c.frames), c.expected) << c.frames;
        if (c.frames >= 0 && c.frames < 12000000) {
            EXPECT_EQ(absToFrames(c.expected), c.frames) << c.frames;
        }
    }
}

TEST(TimeCode, NextAndPrevFrameAreInverseOverADay)
{
    // Walk 100 hours' worth of frames both ways and compare with the arithmetic.
    TimeCode t = tc(0, 0, 0, 0);
    for (int i = 0; i < 400000; ++i) {
        const TimeCode n = nextFrame(t);
        ASSERT_EQ(n, framesToAbs(i + 1)) << i;
        ASSERT_EQ(prevFrame(n), t) << i;
        t = n;
    }
}

TEST(TimeCode, StepEdgeCases)
{
    EXPECT_EQ(nextFrame(tc(0, 0, 2, 0x33)), tc(0, 0, 3, 0));
    EXPECT_EQ(nextFrame(tc(0, 0, 1, 0x32)), tc(0, 0, 2, 0));
    EXPECT_EQ(nextFrame(tc(0, 0, 1, 0x09)), tc(0, 0, 1, 0x10));
    EXPECT_EQ(nextFrame(tc(0, 0x59, 0x59, 0x33)), tc(1, 0, 0, 0));
    EXPECT_EQ(nextFrame(tc(0x99, 0x59, 0x59, 0x33)), tc(0, 0, 0, 0));
    EXPECT_EQ(prevFrame(tc(0, 0, 3, 0)), tc(0, 0, 2, 0x33));
    EXPECT_EQ(prevFrame(tc(0, 0, 2, 0)), tc(0, 0, 1, 0x32));
    EXPECT_EQ(prevFrame(tc(0, 0, 1, 0x10)), tc(0, 0, 1, 0x09));
    EXPECT_EQ(prevFrame(tc(1, 0, 0, 0)), tc(0, 0x59, 0x59, 0x33));
    EXPECT_EQ(prevFrame(tc(0, 0, 0, 0)), tc(0x99, 0x59, 0x59, 0x33));
    // Garbage in gives defined garbage out, never a crash.
    (void)nextFrame(kNoValue);
    (void)prevFrame(kNoValue);
}

TEST(TimeCode, Conversions)
{
    EXPECT_EQ(bcdToInt(0x59), 59);
    EXPECT_EQ(intToBcd(59), 0x59);
    EXPECT_EQ(bcd16ToInt(0x0799), 799);
    EXPECT_EQ(bcd16ToInt(0x1234), 1234);
    EXPECT_EQ(absToSeconds(tc(1, 2, 3, 4)), 3723);
    EXPECT_EQ(absToSeconds(kNoValue), 0);
    EXPECT_EQ(absToSeconds(tc(1, 0xAA, 3, 0)), 3603);
    EXPECT_EQ(absToFrames(tc(0, 0, 2, 0x33)), 99);
    // Without the 0x9A rule: 0xAA counts as 110.
    EXPECT_EQ(absToFrames(tc(0, 0, 0, 0xAA)), 110);
}

TEST(TimeCode, TimeText)
{
    EXPECT_EQ(timeText(tc(1, 0x23, 0x45, 0x12)), " 01h23m45s12");
    EXPECT_EQ(timeText(kNoValue), " --h--m--s--");
    EXPECT_EQ(timeText(tc(0, 0, 0, 0x99)), " 00h00m00s99");
}

} // namespace
} // namespace tarnvel::dat
