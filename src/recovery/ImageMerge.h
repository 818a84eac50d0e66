#pragma once

#include "dat/TimeCode.h"
#include "recovery/AudioMatch.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Merging tape images: passes over one tape and digital copies of it on other tapes, frame by
// frame and channel by channel, into one image that keeps the reference's frames (the first
// image: its subcode, IDs and ABS times) with the best audio any image holds for them.
//
// A pass over the same tape is matched by ABS time: it is taken for one when the frames it
// shares by ABS time with the reference hold the same audio. Anything else is matched by its
// audio (AudioMatch.h): a copy's samples replace a reference channel only where every sample
// that channel needs lies in a stretch of one offset and in copy frames read clean in it.
// Per channel a clean read wins; where none is clean the best read is kept (one flagged
// channel before two, two before a stand-in for an unreadable frame) and the frame stays
// flagged. Two clean reads that differ are reported.
//
// Everything streams: images are read frame by frame, so the memory stays the same whatever
// their length (the anchors of a copy's alignment aside).
namespace tarnvel::recovery {

struct MergeProgress {
    enum class Phase { Comparing, Indexing, Aligning, Merging };
    Phase phase = Phase::Merging;
    std::string image; // the image the phase reads
    std::uint32_t done = 0;
    std::uint32_t total = 0;
};

struct MergeOptions {
    std::vector<std::string> images; // the reference first
    std::string output;              // the image to write (created anew)
    // Read between frames: once set the merge ends, leaving the output closed but incomplete.
    const std::atomic<bool>* stop = nullptr;
    std::function<void(const MergeProgress&)> progress;
};

enum class SourceMatch { Reference, AbsTime, Audio };

struct MergeSource {
    std::string image;
    SourceMatch match = SourceMatch::Reference;
    std::uint32_t frames = 0;
    // Audio: where its audio is the reference's (reference pairs, offset in pairs), with the
    // ABS times of the first and last frame each end lies in.
    struct Stretch {
        AudioStretch pairs;
        dat::TimeCode refFrom = dat::kNoValue, refTo = dat::kNoValue;
        dat::TimeCode copyFrom = dat::kNoValue, copyTo = dat::kNoValue;
    };
    std::vector<Stretch> stretches;
    std::uint32_t channelsGiven = 0; // reference channels recovered from this image
};

// Where a frame's channel comes from: an image (index into MergeResult::sources), and whether
// it is still bad (then from the image whose read was the best bad one).
struct ChannelUse {
    int source = 0;
    bool bad = false;
    bool operator==(const ChannelUse&) const = default;
};

// Consecutive reference frames whose channels come from the same places.
struct MergeStretch {
    std::uint32_t firstFrame = 0;
    std::uint32_t frames = 0;
    dat::TimeCode firstAbs = dat::kNoValue;
    dat::TimeCode lastAbs = dat::kNoValue;
    ChannelUse left, right;
};

struct StillBadFrame {
    std::uint32_t frame = 0;
    dat::TimeCode abs = dat::kNoValue;
    bool left = false, right = false;
};

// A channel two images both read clean, with different samples.
struct CleanConflict {
    std::uint32_t frame = 0;
    dat::TimeCode abs = dat::kNoValue;
    int channel = 0;
    int kept = 0;  // the image whose samples went into the output
    int other = 0; // the image that differs
};

struct MergeResult {
    std::vector<MergeSource> sources; // in the order given, the reference first
    std::uint32_t frames = 0;         // frames written
    std::uint32_t badBefore = 0;      // reference frames with a flagged channel
    std::uint32_t recovered = 0;      // of those, clean now
    std::uint32_t channelsRecovered = 0;
    std::vector<MergeStretch> stretches;
    std::vector<StillBadFrame> stillBad;
    std::vector<CleanConflict> conflicts;
    bool interrupted = false;
};

// False with `error` set when an image cannot be read, the output cannot be written, an image
// holds a different recording (nothing is written then), or the stop flag ended the merge
// (`result.interrupted`; the output is closed with what was written).
bool mergeImages(const MergeOptions& options, MergeResult& result, std::string& error);

// The report of a merge: the images and how each was matched (a copy with its offsets), the
// stretches of the reference by where their channels came from, every frame still bad, every
// conflict, and the totals.
struct MergeReportHeader {
    std::string program; // "Tarnvel 0.1.0"
    std::string started, ended;
    std::string output;
};
std::string mergeReportText(const MergeReportHeader& header, const MergeResult& result);

} // namespace tarnvel::recovery
