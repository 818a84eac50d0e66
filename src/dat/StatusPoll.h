#pragma once

#include "dat/DatDrive.h"
#include "dat/DatFrame.h"
#include "dat/UnitStatus.h"

#include <functional>
#include <string>

// One status poll of the idle loop: read the unit status and, when a tape has just become
// ready, run the tape arrival sequence and read its first frame. The views (main window,
// command line) show what it reports.
namespace tarnvel::dat {

struct StatusPollResult {
    UnitStatus status = kUnitUndefined;
    std::string statusText; // " Ready", " No Tape", ... ("" for 0xF0)
    std::string detailText; // "%02X %s" for codes outside the table, else empty
    bool arrived = false;   // this poll ran the tape arrival sequence
    // After a successful arrival: the position of the tape's first frame (null when that
    // frame could not be read).
    const TapePosition* position = nullptr;
};

class StatusPoller {
public:
    StatusPoller(DatDrive& drive, int d) : drive_(drive), d_(d) {}

    // Thread: the one that issues the drive's commands. `showLoading` is called when the
    // arrival sequence starts loading.
    StatusPollResult poll(const std::function<void()>& showLoading = {});

    // A tape became ready and its first frame has been read since the last non-ready status.
    bool tapeChecked() const { return tapeChecked_; }
    // Forget the checked tape (an eject, a failed operation): the next ready poll runs the
    // arrival sequence again.
    void forgetTape() { tapeChecked_ = false; }
    // For a program run that continues where the last run left the tape: reads the unit status
    // (past the attention of a drive that was powered on or reset) and, when a tape is ready
    // already, counts it as checked without the arrival sequence, whose load would rewind it.
    // False otherwise; the arrival sequence then runs as usual when the tape becomes ready.
    bool adoptReadyTape();
    const DatFrame& firstFrame() const { return frame_; }

private:
    DatDrive& drive_;
    int d_;
    bool tapeChecked_ = false;
    DatFrame frame_;
};

// True for the states a drive passes through on its own (unit attention, becoming ready):
// a caller that wants a settled answer polls again.
bool isTransientStatus(UnitStatus status);

} // namespace tarnvel::dat

namespace tarnvel::dat {

// Polls until the status settles (not transient) or `maxPolls` polls were made, `intervalMs`
// apart: what a caller that needs the tape does first. Returns the last poll's result; its
// `position` is that of the poll that ran the arrival sequence, if one did.
StatusPollResult pollUntilSettled(StatusPoller& poller, int maxPolls, int intervalMs,
                                  const std::function<void(int)>& sleep = {});

} // namespace tarnvel::dat
