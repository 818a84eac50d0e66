#include "app/WaveDisplay.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

namespace tarnvel::app {
namespace {

TEST(WaveDisplayTest, GridOfOneFrameAt48kHz)
{
    const TimeScale t = computeTimeScale(1440, 48000, 1, 600);
    EXPECT_EQ(t.span, 3002);
    EXPECT_EQ(t.step, 500);
    ASSERT_EQ(t.lines.size(), 6u);
    const char* labels[] = {"5", "10", "15", "20", "25", "30"};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(t.lines[k].label, labels[k]);
        EXPECT_EQ(t.lines[k].pos, static_cast<int>(500 * (k + 1) * 600 / 3002));
    }
    EXPECT_EQ(t.unit.label, "ms");
    EXPECT_EQ(t.unit.pos, 600);
}

TEST(WaveDisplayTest, GridStepFollowsTheSpan)
{
    // At 100000 Hz and magnification 1 the span is pairs + 1.
    const std::pair<int, int> cases[] = {
        {1000, 100},    {1001, 200},     {1999, 200},     {2000, 500},
        {4999, 500},    {5000, 1000},    {9999, 1000},    {10000, 2000},
        {19999, 2000},  {20000, 5000},   {49999, 5000},   {50000, 10000},
        {99999, 10000}, {100000, 20000}, {199999, 20000}, {200000, 50000},
    };
    for (const auto& [span, step] : cases) {
        const TimeScale t = computeTimeScale(span - 1, 100000, 1, 500);
        EXPECT_EQ(t.span, span);
        EXPECT_EQ(t.step, step) << span;
        for (const ScaleLine& l : t.lines)
            EXPECT_LT(l.pos, 500);
    }
    EXPECT_EQ(computeTimeScale(1440, 48000, 2, 600).span, 1501);
    EXPECT_EQ(computeTimeScale(100, 1, 1, 500).lines.size(), 21u); // at most 21 lines
    EXPECT_TRUE(computeTimeScale(1440, 0, 1, 500).lines.empty());
}

// The scale follows the blocks shown, whatever rate the display was laid out for: a
// recording from files shows each file's frames at the file's rate.
TEST(WaveDisplayTest, TimeScaleTakesTheRateOfTheBlockShown)
{
    WaveDisplay display;
    display.configure(1000, 200, 1440, 48000, {});
    const struct {
        int pairs;
        int rate;
        int span;
        const char* lastLabel;
    } blocks[] = {
        {1323, 44100, 3002, "30"}, // one 44.1 kHz frame: 30 ms, not 27.5
        {1440, 96000, 1501, "14"}, // a 96 kHz frame: 15 ms, not 30
        {1440, 0, 1501, "14"},     // a block of unknown rate keeps the last
        {1440, 48000, 3002, "30"},
    };
    DisplaySamples block;
    for (const auto& b : blocks) {
        block.pairs = b.pairs;
        block.sampleRate = b.rate;
        ASSERT_TRUE(display.refresh(block, false));
        EXPECT_EQ(display.timeScale().span, b.span) << b.pairs << " at " << b.rate;
        EXPECT_EQ(display.timeScale().lines.back().label, b.lastLabel) << b.rate;
        EXPECT_EQ(display.picture().left.back().x, display.layout().stripWidth - 1);
    }
}

TEST(WaveDisplayTest, LayoutFromTheClientSize)
{
    const WaveLayout l = computeWaveLayout(1000, 200);
    EXPECT_TRUE(l.drawable);
    EXPECT_EQ(l.stripWidth, 644);
    EXPECT_EQ(l.stripHeight, 79); // 78 made odd
    EXPECT_EQ(l.secondStripTop, 112);
    EXPECT_EQ(l.xyLeft, 710);
    EXPECT_EQ(l.xySize, 198); // limited by the height
    EXPECT_EQ(computeWaveLayout(1000, 600).xySize, 275);
    EXPECT_EQ(computeWaveLayout(50, 200).stripWidth, 1);
    EXPECT_EQ(computeWaveLayout(1000, 48).stripHeight, 3);
    EXPECT_EQ(computeWaveLayout(1000, 30).stripHeight, 1);

    const WaveLayout tiny = computeWaveLayout(1000, 9);
    EXPECT_FALSE(tiny.drawable);
    WaveDisplay display;
    display.configure(1000, 9, 1440, 48000, {});
    DisplaySamples block;
    block.pairs = 1440;
    EXPECT_FALSE(display.refresh(block, true));
    EXPECT_TRUE(display.picture().left.empty());
    EXPECT_TRUE(display.picture().xy.empty());
}

TEST(WaveDisplayTest, AmplitudeLabels)
{
    const AmplitudeScale s = computeAmplitudeScale(79, 10, 0);
    EXPECT_EQ(s.upper.label, "3000");
    EXPECT_EQ(s.lower.label, "-3000");
    EXPECT_EQ(s.zero.label, "Lch  0");
    EXPECT_EQ(s.zero.pos, 39);
    EXPECT_EQ(s.upper.pos, 39 - 35);
    EXPECT_EQ(s.lower.pos, 39 + 35);
    EXPECT_EQ(computeAmplitudeScale(79, 3, 1).zero.label, "Rch  0");
    EXPECT_EQ(computeAmplitudeScale(79, 3, 1).upper.label, "10000");
    EXPECT_EQ(computeAmplitudeScale(79, 1, 1).lower.label, "-30000");
}

TEST(WaveDisplayTest, SilenceDrawsFlatLinesAndOneDot)
{
    WaveDisplay display;
    display.configure(1000, 200, 1440, 48000, {});
    DisplaySamples block;
    block.pairs = 1440;
    ASSERT_TRUE(display.refresh(block, true));
    const WavePicture& p = display.picture();
    const int zero = display.amplitudeScale(0).zero.pos;
    ASSERT_FALSE(p.left.empty());
    for (const auto* line : {&p.left, &p.right}) {
        EXPECT_TRUE(
            std::all_of(line->begin(), line->end(), [&](const Point& pt) { return pt.y == zero; }));
        EXPECT_EQ(line->front().x, 0);
        EXPECT_EQ(line->back().x, display.layout().stripWidth - 1);
    }
    ASSERT_EQ(p.xy.size(), 1000u);
    const int half = display.layout().xySize / 2;
    EXPECT_TRUE(std::all_of(p.xy.begin(), p.xy.end(), [&](const Point& pt) {
        return pt == Point{half, half};
    }));
}

TEST(WaveDisplayTest, ColumnMapAndEnvelope)
{
    WaveColumnMap map;
    map.build(644, 1440, 1);
    EXPECT_EQ(map.samplesShown(), 1440);
    EXPECT_EQ(map.column(0), 0);
    EXPECT_EQ(map.column(1439), 643);
    int total = 0;
    for (int x = 0; x < 644; ++x) {
        EXPECT_GE(map.runLength(x), x == 643 ? 1 : 2); // the last sample ends the strip alone
        total += map.runLength(x);
    }
    EXPECT_EQ(total, 1440);

    // Nine samples on column 0, one on column 1.
    map.build(2, 10, 1);
    const std::int16_t s[] = {0, 1000, -1000, 500, 20000, -20000, 300, 100, 50, 7};
    std::vector<Point> out;
    waveformPoints(s, 10, map, 101, 1, out);
    const auto y = [](int v) { return waveY(v, 101, 1); };
    const std::vector<Point> expected = {
        {0, y(0)}, {0, y(20000)}, {0, y(-20000)}, {0, y(50)}, {1, y(7)},
    };
    EXPECT_EQ(out, expected);
    EXPECT_EQ(y(0), 50);
    EXPECT_LT(y(20000), y(-20000));

    // Short runs keep every sample; one sample per block gives one point.
    map.build(100, 10, 1);
    waveformPoints(s, 10, map, 101, 1, out);
    EXPECT_EQ(out.size(), 10u);
    map.build(100, 1, 1);
    waveformPoints(s, 1, map, 101, 1, out);
    EXPECT_EQ(out, (std::vector<Point>{{0, 50}}));
    map.build(100, 0, 1);
    waveformPoints(s, 10, map, 101, 1, out);
    EXPECT_TRUE(out.empty());
}

TEST(WaveDisplayTest, TriggerAlignsBothChannelsWhileRunningWithMagnification)
{
    DisplaySamples block;
    block.pairs = 1440;
    block.left[99] = -20;
    block.left[100] = 5;
    block.left[101] = 30;
    block.right[100] = 30000;
    EXPECT_EQ(findTrigger(block.left.data(), block.pairs), 100);

    WaveDisplay display;
    display.configure(1000, 200, 1440, 48000, {2, 1, 1, false});
    ASSERT_TRUE(display.refresh(block, true));
    const int h = display.layout().stripHeight;
    EXPECT_EQ(display.picture().right.front().y, waveY(30000, h, 1));
    ASSERT_TRUE(display.refresh(block, false)); // idle: no trigger
    EXPECT_EQ(display.picture().right.front().y, waveY(0, h, 1));
    display.configure(1000, 200, 1440, 48000, {1, 1, 1, false});
    ASSERT_TRUE(display.refresh(block, true)); // magnification 1: no trigger
    EXPECT_EQ(display.picture().right.front().y, waveY(0, h, 1));

    // Outside the first 461 samples, or not rising through both thresholds: none.
    DisplaySamples late;
    late.left[460] = -20;
    late.left[461] = 5;
    late.left[462] = 30;
    EXPECT_EQ(findTrigger(late.left.data(), 1440), 0);
    const std::int16_t shallow[] = {0, -10, 0, 30, 40};
    EXPECT_EQ(findTrigger(shallow, 5), 0);
    const std::int16_t edge[] = {-11, 0, 11};
    EXPECT_EQ(findTrigger(edge, 3), 1);
    EXPECT_EQ(findTrigger(edge, 2), 0);
}

TEST(WaveDisplayTest, XyPointsOfBothTypes)
{
    const std::int16_t l[] = {16384, 16384, -16384, 0};
    const std::int16_t r[] = {0, 16384, 16384, 0};
    std::vector<Point> out;
    xyPoints(l, r, 4, 200, 1, 1, out);
    EXPECT_EQ(out, (std::vector<Point>{{100, 50}, {150, 50}, {150, 150}, {100, 100}}));
    xyPoints(l, r, 4, 200, 0, 1, out);
    EXPECT_EQ(out, (std::vector<Point>{{75, 175}, {100, 150}, {150, 200}, {100, 200}}));
    xyPoints(l, r, 3, 200, 1, 1, out);
    EXPECT_EQ(out.size(), 1u); // 3 × ((3 - 1) / 3) + 1

    const std::pair<int, int> counts[] = {{0, 0},       {1, 1},       {2, 1},       {4, 4},
                                          {1000, 1000}, {1001, 1000}, {1003, 1003}, {20000, 16381}};
    for (const auto& [pairs, points] : counts)
        EXPECT_EQ(bezierPointCount(pairs), points) << pairs;
    EXPECT_EQ(xyPairCount(1440, 0), 1000);
    EXPECT_EQ(xyPairCount(1440, 256), 259);
    EXPECT_EQ(xyPairCount(960, 2000), 960);
}

} // namespace
} // namespace tarnvel::app
