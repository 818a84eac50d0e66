#pragma once

#include "app/DisplaySamples.h"

#include <array>
#include <string>
#include <vector>

namespace tarnvel::app {

// The meter shows 60 dB: levels from -600 to 0 tenths of a decibel.
inline constexpr int kScaleSpan = 600;
// Maximum hold meaning "no peak since the margin was reset".
inline constexpr int kNoMaximumHold = -1000;
// Updates after which the peak hold markers are renewed from the current block.
inline constexpr int kPeakHoldUpdates = 80;
inline constexpr int kRmsHistoryLength = 6;
inline constexpr int kHoldMarkerWidth = 4;
// The margin field's red (low byte red) when a peak reached full scale.
inline constexpr std::int32_t kMarginRedColour = 0x000000FF;

// Pixel column of a level: (level + 600) × usable width / 600 + left margin, levels below
// the scale at the left margin.
int meterPosition(int level, int usableWidth, int leftMargin);

// The margin text for a maximum hold (tenths of a dB): empty when the margin is 90 dB or
// more, "d.d" below 10 dB, whole decibels otherwise ("3.5" for -35, "12" for -120).
std::string marginText(int maximumHold);

// What to paint for one channel, left to right: the average bar up to averageX (only when
// showAverage), the peak bar up to peakX, the background up to right, a line at peakX and,
// when showHold, a marker kHoldMarkerWidth pixels wide at holdX.
struct MeterBar {
    int left = 0;
    int right = 0;
    int averageX = 0;
    bool showAverage = false;
    int peakX = 0;
    int holdX = 0;
    bool showHold = false;
};

// A scale tick every 5 dB; the long ones every 10 dB carry a label ("-60" ... "-10", "0dB").
struct MeterTick {
    int x = 0;
    bool isLong = false;
    std::string label;
};
std::vector<MeterTick> levelMeterScale(int usableWidth, int leftMargin);

// The two-channel meter's state: short RMS average, peak hold markers and the margin. Used
// on the window thread; owned by the main window for its whole life.
class LevelMeter {
public:
    LevelMeter();

    // One meter update with the latest block's levels (left channel, then right), run at
    // every refresh of the meter.
    void update(const LevelValues& levels);
    // Reset of the margin: the maximum hold is forgotten; the text is cleared at once only
    // when the engine is idle (while running the next update refreshes it).
    void resetMargin(bool engineRunning);

    // Channel 0 is the left (upper) bar, 1 the right (lower) bar.
    MeterBar bar(int channel, int usableWidth, int leftMargin) const;
    int average(int channel) const { return average_[channel]; }
    int peak(int channel) const { return peak_[channel]; }
    int peakHold(int channel) const { return peakHold_[channel]; }
    int maximumHold() const { return maximumHold_; }
    const std::string& marginText() const { return marginText_; }
    // True when the margin field shows red (a peak at full scale).
    bool marginRed() const { return marginRed_; }

private:
    void updateChannel(int ch, int peak, int rms);

    int holdCounter_ = 0;
    int slot_ = 0;
    std::array<int, 2> peakHold_{};
    std::array<std::array<int, kRmsHistoryLength>, 2> history_{};
    std::array<int, 2> average_{};
    std::array<int, 2> peak_{};
    int maximumHold_ = kNoMaximumHold;
    std::string marginText_;
    bool marginRed_ = false;
};

} // namespace tarnvel::app
