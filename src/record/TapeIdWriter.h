#pragma once

#include "common/Message.h"
#include "dat/DatDrive.h"
#include "dat/DatFrame.h"
#include "dat/TimeCode.h"

#include <optional>
#include <string>
#include <vector>

// Changing IDs on a recorded tape, and preparing a new one, while the deck is idle: the
// lead-in, and START, SKIP and END IDs written or erased where the tape stands. A drive cannot
// rewrite one frame's subcode in place, so a span of frames around the ID is read back, its
// subcode rebuilt and the span written again over itself.
namespace tarnvel::record {

// What the operations need from the deck, on the window thread.
class TapeOpHost {
public:
    virtual ~TapeOpHost() = default;
    virtual void status(const MessagePair& text) = 0; // the running status line
    virtual void clearError() = 0;                    // the error status line
    // A warning question: Yes/No, or OK/Cancel. True for Yes/OK.
    virtual bool ask(const std::string& text, bool okCancel) = 0;
    virtual void message(const std::string& text) = 0; // a warning box
    // The drive error report of the last drive command.
    virtual void driveError() = 0;
    virtual void recordIndicator(bool on) = 0;
    // After each frame read or written: the displays follow and pending events run.
    virtual void frameDone() = 0;
    // Waits, serving events.
    virtual void pause(int ms) = 0;
    // Tape motion to its end: false after the failure was shown.
    virtual bool rewind() = 0;
    virtual bool locate(const dat::TimeCode& abs) = 0;
};

// What an ID edit in virtual ID mode changed, for the ID list and the displays.
struct VirtualIdEdit {
    bool changed = false;
    int second = 0;                     // where the list selects (0 after an erase)
    std::optional<int> nextWriteNumber; // WriteID_Edit after a START was added
};

class TapeIdWriter {
public:
    static constexpr int kLeadInFrames = 108; // the lead-in ID run
    static constexpr int kLeadInTail = 134;   // silence after it when the user asked
    static constexpr int kSpanStart = 374;
    static constexpr int kSpanSkip = 66;
    static constexpr int kSpanEnd = 330;
    static constexpr int kSpanEraseSkip = 110;
    static constexpr int kSpanLead = 33; // frames of the span before the ID's frame

    TapeIdWriter(dat::DatDrive& drive, int d, TapeOpHost& host);

    // The pause after each lead-in frame (5 ms) and the settling waits (300 and 500 ms).
    void setTiming(int frameSleepMs, int settleMs, int afterWriteMs);

    // WriteLeadIn: 108 lead-in frames from the beginning of the tape, and 134 silent frames
    // after them unless `quiet` (an image recording follows). Asks first unless quiet.
    bool writeLeadIn(bool newTape, bool quiet);

    // WriteEraseId at the current position: kind 0 erases the ID the position belongs to;
    // 0x40 START (program number 1-799), 0x20 SKIP, 1 END write one. In virtual ID mode only
    // the virtual ID list changes (`edit` says how). True when the tape (or list) changed.
    bool writeEraseId(int kind, int pNo, VirtualIdEdit& edit);

private:
    bool fail(const MessagePair& reason);
    bool editVirtualId(int kind, int pNo, VirtualIdEdit& edit);
    // Rebuilds the Sub IDs of the span read: the new ID (kind 0: none) starts at the frame
    // whose ABS time is `target` and runs until its length or the next other ID; the rest of
    // the run that stood there loses its ID. Every frame keeps its own Main ID, packs and ABS
    // time, and every other ID stays. False when no frame of the span is at `target` (or, to
    // erase, carries an ID there).
    bool rebuildSpan(int count, const dat::TimeCode& target, int kind, int pNo);

    dat::DatDrive& drive_;
    int d_;
    TapeOpHost& host_;
    int frameSleepMs_ = 5;
    int settleMs_ = 300;
    int afterWriteMs_ = 500;
    std::vector<dat::DatFrame> work_; // IdWorkBuffer: allocated at the first ID edit
};

} // namespace tarnvel::record
