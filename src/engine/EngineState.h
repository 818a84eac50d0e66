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

// What the deck is doing. Only Deck::enter changes it (on the window thread, from the
// transitions that function allows); every control, the polling timer and the restarts of a
// run consult it. The window-thread states (Polling, Transport, WritingIds, Starting,
// Ending) serve events while they wait, so anything that arrives then meets a deck that is
// not idle and is refused (Stop in Starting or Ending is taken as a request that cancels the
// start or the restart).
enum class Activity : int {
    Idle,       // nothing runs; the polling timer polls
    Polling,    // the timer's status poll runs on the sub thread
    Transport,  // eject, wind, search or a one-frame step
    WritingIds, // a lead-in, or an ID written or erased on tape
    Starting,   // a play or record run is being set up (dialog, files, positioning, device)
    Playing,
    Recording,
    Paused, // a play or record run, paused
    Ending, // a run's end handling, with its restarts and the next file of a list
};

struct EngineState {
    std::atomic<Activity> activity{Activity::Idle};
    std::atomic<int> playState{kStateStopped}; // 0 idle, 1 playing, 2 paused, 3 starting
    std::atomic<int> recState{kStateStopped};
    // Views of the activity for the displays: a run is playing or recording, or paused.
    // Written by Deck::enter only.
    std::atomic<bool> paused{false};
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> tapeChecked{false};
    std::atomic<std::uint8_t> lastUnitStatus{0};
    std::atomic<bool> leadInNeeded{false};
    std::atomic<int> displayIntervalMs{20};
};

} // namespace tarnvel::engine
