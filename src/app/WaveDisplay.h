#pragma once

#include "app/DisplaySamples.h"

#include <cstdint>
#include <string>
#include <vector>

// Geometry of the waveform strips and the X-Y (Lissajous) plot: layout from the client
// size, the column map, the time and amplitude scales, and the point lists to draw. The
// output is plain data (pixel points, grid lines, labels) for any drawing code.
namespace tarnvel::app {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

// Largest number of points drawn as one line or curve.
inline constexpr int kMaxDrawPoints = 16383;
// Samples searched for the trigger point.
inline constexpr int kTriggerSearch = 461;

// Rectangles in the coordinates of the whole display area. Strip and plot points are in
// the coordinates of their own rectangle (0,0 at its top left).
struct WaveLayout {
    bool drawable = false; // false when the area is less than 10 pixels high
    int stripLeft = 0;
    int stripWidth = 1;
    int stripHeight = 1; // always odd: the zero line is the middle row
    int firstStripTop = 0;
    int secondStripTop = 0;
    int xyLeft = 0;
    int xyTop = 0;
    int xySize = 1;
};
WaveLayout computeWaveLayout(int clientWidth, int availableHeight);

// Which strip column each shown sample of a block goes to.
class WaveColumnMap {
public:
    // N = pairsPerBlock / xMag samples spread over the strip width.
    void build(int stripWidth, int pairsPerBlock, int xMag);
    int samplesShown() const { return static_cast<int>(column_.size()); }
    int column(int i) const { return column_[static_cast<std::size_t>(i)]; }
    // Number of consecutive samples that fall on column `x` (0 for a column none reaches).
    int runLength(int x) const { return runLength_[static_cast<std::size_t>(x)]; }
    int stripWidth() const { return static_cast<int>(runLength_.size()); }

private:
    std::vector<int> column_;
    std::vector<int> runLength_;
};

struct ScaleLine {
    int pos = 0; // x for the time grid, y for the amplitude lines (strip coordinates)
    std::string label;
};

// The time grid: span in units of 10 µs, the step between lines, the labelled lines (in
// milliseconds) and the unit label placed at the strip's right end.
struct TimeScale {
    int span = 0;
    int step = 0;
    std::vector<ScaleLine> lines;
    ScaleLine unit;
};
TimeScale computeTimeScale(int pairsPerBlock, int sampleRate, int xMag, int stripWidth);

// The zero line at the middle with "Lch  0" or "Rch  0", and the lines of ±30000 / yMag.
struct AmplitudeScale {
    ScaleLine zero;
    ScaleLine upper;
    ScaleLine lower;
};
AmplitudeScale computeAmplitudeScale(int stripHeight, int yMag, int channel);

// First i in 1..460 (within the block) where the left channel crosses zero upwards:
// s[i-1] < -10, s[i-1] < s[i] < s[i+1], s[i+1] > 10. 0 when there is none.
int findTrigger(const std::int16_t* left, int count);

// y of a sample in a strip: -(s × height + a) / (2a) + height / 2, a = 32768 / yMag.
int waveY(int sample, int stripHeight, int yMag);

// The polyline of one channel: per column run the first 4 samples as they are, longer runs
// reduced to an envelope (first, minimum, maximum, last). `out` is cleared first and keeps
// its capacity; at most kMaxDrawPoints points.
void waveformPoints(const std::int16_t* samples, int count, const WaveColumnMap& map,
                    int stripHeight, int yMag, std::vector<Point>& out);

// Pairs the X-Y plot takes: 1000, or knownBlockPairs + 3 when the device block is known
// (knownBlockPairs > 0), never more than the block holds.
int xyPairCount(int pairsInBlock, int knownBlockPairs);
// Points drawn of P pairs: 3 × ((P - 1) / 3) + 1, P limited to kMaxDrawPoints (a cubic
// Bezier curve needs 3n + 1 points).
int bezierPointCount(int pairs);

// X-Y points: type 1 plots L up and R across around the centre; type 0 turns the plot by
// 45 degrees (mid (L+R)/2 up from the bottom edge, side (R-L)/2 across). `out` is cleared
// and holds bezierPointCount(pairs) points.
void xyPoints(const std::int16_t* left, const std::int16_t* right, int pairs, int size,
              int xyDispType, int yMag, std::vector<Point>& out);

// Display settings the picture depends on.
struct WaveDisplaySettings {
    int xMag = 1;        // `WaveXDispMagRate`
    int yMag = 3;        // `WaveYDispMagRate`
    int xyDispType = 1;  // `XY_DispType`
    bool bezier = false; // `LissajousBezier`
};

// Everything one refresh draws.
struct WavePicture {
    std::vector<Point> left;  // polyline in the upper strip
    std::vector<Point> right; // polyline in the lower strip
    std::vector<Point> xy;    // Bezier control points or polyline in the plot
    bool xyAsBezier = false;
};

// The display's state between refreshes: layout, column map and scales, recomputed on
// resize or when a setting changes, and when a block of another size or rate arrives; point
// buffers reused from refresh to refresh.
class WaveDisplay {
public:
    void configure(int clientWidth, int availableHeight, int pairsPerBlock, int sampleRate,
                   const WaveDisplaySettings& settings);
    // The block size and rate the column map and the time scale were made for.
    int pairsPerBlock() const { return pairsPerBlock_; }
    int sampleRate() const { return sampleRate_; }

    const WaveLayout& layout() const { return layout_; }
    const TimeScale& timeScale() const { return timeScale_; }
    AmplitudeScale amplitudeScale(int channel) const;

    // Points of one block. `running` is true while playback or recording runs (the trigger
    // is used only then, and only with an X magnification above 1). A block of another size
    // or rate than the last remakes the column map and the time scale first. Returns false,
    // drawing nothing, when the area is too small or the block is empty.
    bool refresh(const DisplaySamples& block, bool running, int knownBlockPairs = 0);
    const WavePicture& picture() const { return picture_; }

private:
    void buildScales();

    WaveDisplaySettings settings_;
    int pairsPerBlock_ = static_cast<int>(kMaxDisplayPairs);
    int sampleRate_ = 48000;
    WaveLayout layout_;
    WaveColumnMap map_;
    TimeScale timeScale_;
    WavePicture picture_;
};

} // namespace tarnvel::app
