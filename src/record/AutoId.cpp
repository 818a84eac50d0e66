#include "record/AutoId.h"

#include <algorithm>

namespace tarnvel::record {

int autoIdLevelItem(int storedLevel)
{
    for (int level : {-36, -42, -48, -54, -60, -66})
        if (storedLevel == level)
            return level;
    return -36;
}

int autoIdSecondsItem(int storedTime)
{
    return storedTime >= 1 && storedTime <= 8 ? storedTime : 1;
}

int muteSecondsItem(int storedSeconds)
{
    return storedSeconds >= 1 && storedSeconds <= 8 ? storedSeconds : 1;
}

void AutoIdDetector::setSeconds(int seconds)
{
    seconds_ = seconds;
    recompute();
}

void AutoIdDetector::setUpdatesPerSecond(int n)
{
    updatesPerSecond_ = n;
    recompute();
}

void AutoIdDetector::recompute()
{
    // A rate of 0 would make any silence long enough at once.
    const int rate = updatesPerSecond_ > 0 ? updatesPerSecond_ : kNominalUpdatesPerSecond;
    required_ = seconds_ * rate;
}

void AutoIdDetector::refreshArming()
{
    silent_.store(0, std::memory_order_release);
    armed_.store(checked_, std::memory_order_release);
}

bool AutoIdDetector::step(int peakLeft, int peakRight)
{
    const int peak = std::max(peakLeft, peakRight);
    if (peak >= threshold_) {
        silent_.store(0, std::memory_order_release);
        return armed_.exchange(false, std::memory_order_acq_rel);
    }
    if (!armed_.load(std::memory_order_acquire)) {
        if (silent_.load(std::memory_order_acquire) >= required_)
            armed_.store(true, std::memory_order_release);
        else
            silent_.fetch_add(1, std::memory_order_acq_rel);
    }
    return false;
}

} // namespace tarnvel::record
