#pragma once

#include "dat/DatFrame.h"
#include "dat/TimeCode.h"

#include <cstddef>
#include <cstdint>

// How a frame came off the tape, channel by channel, and the few operations that choose between
// reads of one frame: a merge of images and the re-reading of a run share them.
namespace tarnvel::recovery {

enum Channel : int { kLeft = 0, kRight = 1 };

struct FrameCondition {
    bool left = false;       // the drive interpolated the left channel
    bool right = false;      // ... the right channel
    bool unreadable = false; // no read at all: a silent stand-in flagged in both channels

    static FrameCondition of(const dat::DatFrame& frame);
    bool clean() const { return !left && !right; }
    bool bad(int channel) const { return channel == kLeft ? left : right; }
    // Better reads rank lower: 0 clean, 1 one channel flagged, 2 both flagged, 3 unreadable.
    int rank() const;
    bool operator==(const FrameCondition&) const = default;
};

// The stand-in for a frame that could not be read: silence, both channels flagged.
bool isUnreadableStandIn(const dat::DatFrame& frame);
// Makes `frame` such a stand-in (the subcode is left as it is).
void makeUnreadableStandIn(dat::DatFrame& frame);

// Sets the interpolation flags of Sub ID byte 3 to what is still bad.
void setInterpolationFlags(dat::DatFrame& frame, bool left, bool right);

// Whether the frame's channels lie in alternate 16-bit words (every frame except long play,
// whose 12-bit code mixes them), so that one channel can be taken from another read.
bool channelsSeparable(const dat::SubcodeBlock& block);
// Stereo pairs of audio in the frame (by the rate in its Main ID).
std::size_t audioPairs(const dat::SubcodeBlock& block);

// The words of one channel (the pairs of `pairs`) of two reads.
void copyChannel(dat::DatFrame& to, const dat::DatFrame& from, int channel, std::size_t pairs);
bool sameChannel(const dat::DatFrame& a, const dat::DatFrame& b, int channel, std::size_t pairs);

// Keeps in `kept` the better of two reads of one frame, channel by channel: a channel flagged in
// `kept` and clean in `again` is taken from `again` (long play, whose channels are mixed, only
// as a whole frame); the flags then say what is still bad. True when `kept` changed.
bool improveRead(dat::DatFrame& kept, const dat::DatFrame& again);

// The ABS time of a frame as a frame count, or -1 when it has none to match by: no ABS pack, a
// time that is no BCD time, or a lead-in frame (whose time counts down).
int matchableAbs(const dat::SubcodeBlock& block);

} // namespace tarnvel::recovery
