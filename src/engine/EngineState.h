#pragma once

#include "sound/SoundDevice.h"

#include <atomic>
#include <cstdint>

// The state every engine thread shares. Each field has one writer at a time (the window
// thread requests, the loop that owns the run acknowledges); they are atomics so that the
// readers on other threads see a value, not a data race.
namespace tarnvel::engine {

using sound::kStatePaused;
using sound::kStateRunning;
using sound::kStateStarting;
using sound::kStateStopped;

struct EngineState {
    std::atomic<int> playState{kStateStopped}; // 0 idle, 1 playing, 2 paused, 3 starting
    std::atomic<int> recState{kStateStopped};
    std::atomic<bool> paused{false};
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> tapeChecked{false};
    std::atomic<std::uint8_t> lastUnitStatus{0};
    std::atomic<bool> leadInNeeded{false};
    std::atomic<bool> pollBusy{false};
    std::atomic<int> displayIntervalMs{20};
};

} // namespace tarnvel::engine
