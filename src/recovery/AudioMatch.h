#pragma once

#include "dat/DatFrame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Finding where a copy's audio is the reference's, sample for sample. A digital copy made on
// another deck holds the same samples, but its frames are cut elsewhere, its tape starts
// elsewhere and it may pause or skip; so the audio of each image is taken as one stream of
// stereo pairs, windows of that stream are hashed, and windows chosen by their content
// (anchors) are looked up: the same audio gives the same anchors wherever its frames begin.
// Memory grows with the anchors only (one in about kAnchorSpacing pairs: 16 bytes for every
// 1.4 frames of the reference at 48 kHz), never with the audio.
namespace tarnvel::recovery {

// Positions in an image's audio: the pairs of its frames one after another, each frame by the
// rate its Main ID codes. Kept as runs of frames with the same number of pairs.
class PairIndex {
public:
    // Frames are added in the image's order.
    void addFrame(std::uint32_t pairs);
    std::uint32_t frames() const { return frames_; }
    std::uint64_t totalPairs() const { return total_; }
    // The first pair of a frame (frames() gives totalPairs()).
    std::uint64_t pairOf(std::uint32_t frame) const;
    // The frame that holds `pair` and the pair's place in it; false beyond the end.
    bool locate(std::uint64_t pair, std::uint32_t& frame, std::uint32_t& offset) const;

private:
    struct Run {
        std::uint32_t firstFrame;
        std::uint64_t firstPair;
        std::uint32_t pairs;
    };
    std::vector<Run> runs_;
    std::uint32_t frames_ = 0;
    std::uint64_t total_ = 0;
};

struct Anchor {
    std::uint64_t key = 0;  // the window's hash
    std::uint64_t pair = 0; // the window's first pair
};

// Hashes every window of kWindow pairs that lies in frames read clean in both channels and
// whose audio changes enough (digital silence and near-silence would match anywhere); a window
// whose hash falls in one of kAnchorSpacing becomes an anchor.
class AnchorScanner {
public:
    static constexpr std::size_t kWindow = 64;
    static constexpr std::uint64_t kAnchorSpacing = 2048;

    // One frame's pairs, starting at `firstPair` of the stream. `usable` false (a flagged
    // channel, long play, a stand-in for an unreadable frame) ends the window there. Anchors
    // found are appended to `out`.
    void feed(const dat::DatFrame& frame, std::size_t pairs, std::uint64_t firstPair, bool usable,
              std::vector<Anchor>& out);
    void reset()
    {
        filled_ = head_ = changes_ = 0;
        hash_ = 0;
    }

private:
    std::uint32_t values_[kWindow] = {};
    std::uint8_t changed_[kWindow] = {};
    std::size_t filled_ = 0; // pairs in the window so far (up to kWindow)
    std::size_t head_ = 0;   // slot of the oldest pair
    std::size_t changes_ = 0;
    std::uint32_t last_ = 0;
    std::uint64_t hash_ = 0;
};

// Where a copy's audio is the reference's: reference pairs [refFirst, refEnd) are the copy's
// pairs from refFirst + offset on.
struct AudioStretch {
    std::uint64_t refFirst = 0;
    std::uint64_t refEnd = 0;
    std::int64_t offset = 0;
    std::uint32_t anchors = 0;
};

// Turns the anchors a copy shares with the reference into stretches of one offset each. An
// offset counts once two anchors in a row agree on it, so a single chance match (a hash shared
// by unrelated audio, or a repeated passage) starts no stretch; a passage the reference holds
// more than kMaxRepeats times is no evidence at all.
class StretchFinder {
public:
    static constexpr std::size_t kMaxRepeats = 8;

    // The reference's anchors (sorted here).
    explicit StretchFinder(std::vector<Anchor> reference);
    bool referenceHasAnchors() const { return !reference_.empty(); }
    // The copy's anchors, in the copy's order.
    void copyAnchor(const Anchor& anchor);
    // The stretches found, by reference position; stretches of one offset that touch are one.
    std::vector<AudioStretch> finish();

private:
    struct Candidate {
        std::int64_t offset;
        std::uint64_t refPair;
    };
    std::vector<Anchor> reference_;
    std::vector<AudioStretch> found_;
    bool haveCurrent_ = false;
    AudioStretch current_;
    bool haveTentative_ = false;
    AudioStretch tentative_;
    std::vector<Candidate> candidates_;
};

} // namespace tarnvel::recovery
