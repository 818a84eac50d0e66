#pragma once

#include <atomic>

// Auto ID: a START ID placed by itself when sound begins after a stretch of silence. The
// silence is counted in level-meter updates (about fifty a second), not in frames.
namespace tarnvel::record {

// The value lists of the ID area's combo boxes; a stored setting not in a list selects the
// list's first item.
int autoIdLevelItem(int storedLevel);   // -36, -42, -48, -54, -60, -66
int autoIdSecondsItem(int storedTime);  // 1..8
int muteSecondsItem(int storedSeconds); // 1..8

class AutoIdDetector {
public:
    // Updates per second before any was measured, and whenever the measurement reads 0 (a run
    // has just started).
    static constexpr int kNominalUpdatesPerSecond = 50;

    // Window thread: the controls.
    void setChecked(bool checked) { checked_ = checked; }
    bool checked() const { return checked_; }
    void setLevel(int dB) { threshold_ = dB * 10; }
    int threshold() const { return threshold_; }
    void setSeconds(int seconds);
    // The display path's measured refresh rate (0 right after a run starts).
    void setUpdatesPerSecond(int n);
    int requiredCount() const { return required_; }

    // Window thread: at start-up, at a recording's start, after a record mute and on the
    // check box: the silence count restarts and the detector arms when checked.
    void refreshArming();
    bool armed() const { return armed_.load(std::memory_order_acquire); }

    // Window thread, one level-meter update while the step applies: the larger of the two
    // peaks in tenths of a dB. True when a START ID is to be placed now (the detector
    // disarms itself).
    bool step(int peakLeft, int peakRight);

    // Producer thread: a written frame carried an ID; a new ID needs a full silence time.
    void restartSilence() { silent_.store(0, std::memory_order_release); }
    int silentCount() const { return silent_.load(std::memory_order_acquire); }

private:
    void recompute();

    bool checked_ = false;
    int threshold_ = -420;
    int seconds_ = 2;
    int updatesPerSecond_ = kNominalUpdatesPerSecond;
    int required_ = 2 * kNominalUpdatesPerSecond;
    std::atomic<int> silent_{0};
    std::atomic<bool> armed_{false};
};

} // namespace tarnvel::record
