#include "app/LevelMeter.h"

#include "app/AppMessages.h"

#include <algorithm>
#include <numeric>

namespace tarnvel::app {

namespace {
// Silence as the meter starts: no hold marker, no average bar, no margin until audio
// arrives. (Starting the holds at 0 dB would show a full-scale marker and a red "0.0"
// margin before anything was heard.)
constexpr int kSilentRms = -1303;
} // namespace

int meterPosition(int level, int usableWidth, int leftMargin)
{
    const int above = std::clamp(level + kScaleSpan, 0, kScaleSpan);
    return above * usableWidth / kScaleSpan + leftMargin;
}

std::string marginText(int maximumHold)
{
    const int margin = -maximumHold;
    if (margin >= 900)
        return {};
    if (margin < 100)
        return std::to_string(margin / 10) + "." + std::to_string(margin % 10);
    return std::to_string(margin / 10);
}

std::vector<MeterTick> levelMeterScale(int usableWidth, int leftMargin)
{
    std::vector<MeterTick> ticks;
    for (int db = -60; db <= 0; db += 5) {
        MeterTick t;
        t.x = meterPosition(db * 10, usableWidth, leftMargin);
        t.isLong = db % 10 == 0;
        if (t.isLong)
            t.label = db == 0 ? std::string(tr(msg::kMeterZeroDb)) : std::to_string(db);
        ticks.push_back(std::move(t));
    }
    return ticks;
}

LevelMeter::LevelMeter()
{
    peakHold_.fill(kNoMaximumHold);
    for (auto& h : history_)
        h.fill(kSilentRms);
    average_.fill(kSilentRms);
    peak_.fill(-903);
}

void LevelMeter::update(const LevelValues& levels)
{
    // The hold counter and the history slot advance once per update, with the left channel.
    if (++holdCounter_ >= kPeakHoldUpdates) {
        holdCounter_ = 0;
        peakHold_ = {levels.peakL, levels.peakR};
    }
    slot_ = (slot_ + 1) % kRmsHistoryLength;
    updateChannel(0, levels.peakL, levels.rmsL);
    updateChannel(1, levels.peakR, levels.rmsR);
}

void LevelMeter::updateChannel(int ch, int peak, int rms)
{
    auto& history = history_[ch];
    history[slot_] = rms;
    average_[ch] = std::accumulate(history.begin(), history.end(), 0) / kRmsHistoryLength;
    peak_[ch] = peak;
    if (peak > peakHold_[ch]) {
        peakHold_[ch] = peak;
        holdCounter_ = 0;
    }
    if (peakHold_[ch] > maximumHold_) {
        maximumHold_ = peakHold_[ch];
        marginText_ = app::marginText(maximumHold_);
        marginRed_ = maximumHold_ == 0;
    }
}

void LevelMeter::resetMargin(bool engineRunning)
{
    maximumHold_ = kNoMaximumHold;
    if (!engineRunning) {
        marginText_.clear();
        marginRed_ = false;
    }
}

MeterBar LevelMeter::bar(int channel, int usableWidth, int leftMargin) const
{
    const int ch = channel == 0 ? 0 : 1;
    MeterBar b;
    b.left = leftMargin;
    b.right = leftMargin + usableWidth;
    b.showAverage = average_[ch] > -kScaleSpan;
    b.averageX = meterPosition(average_[ch], usableWidth, leftMargin);
    b.peakX = meterPosition(peak_[ch], usableWidth, leftMargin);
    b.showHold = peakHold_[ch] > -kScaleSpan;
    b.holdX = meterPosition(peakHold_[ch], usableWidth, leftMargin);
    return b;
}

} // namespace tarnvel::app
