#pragma once

#include "dat/DatDrive.h"

#include <functional>

// Waiting for tape motion to end after a wind, locate or load issued with the immediate bit:
// the drive answers at once and the position is polled until it stops changing.
namespace tarnvel::dat {

struct MotionWaitHooks {
    // Sleeps between polls (tests make them instant).
    std::function<void(int milliseconds)> sleep;
    // Called with every position read, for the displays.
    std::function<void(const TapePosition&)> show;
};

// Start phase: up to 198 polls, 30 ms apart, until the ABS time changes (the motion has
// begun). Settle phase: until 99 successive polls see the same ABS time (198 when there is
// no ABS time; 99 in the lead-in); a failed poll counts as unchanged, so a drive that stops
// answering cannot hold the wait forever. An SDT-9000 is then polled until it is ready. The
// last position read, or null when no poll succeeded.
const TapePosition* waitForMotionEnd(DatDrive& drive, int d, const MotionWaitHooks& hooks = {});

} // namespace tarnvel::dat
