#pragma once

#include "dat/DatDrive.h"
#include "dat/DatFrame.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Re-reading of damaged stretches while a run plays to a file. Frames come from the drive in
// tape order; a frame the drive interpolated or could not read starts a bad stretch. Once the
// stretch is over (clean frames follow it) or long, the tape is located back a little before
// it by ABS time and the stretch read again, up to a number of passes, keeping for every frame
// its best read channel by channel; then the tape is located to where the first reading
// stopped and the frames go on to the play path, each once. A frame that stays unreadable
// becomes a silent frame flagged in both channels, with its ABS time.
namespace tarnvel::engine {

class Rereader final : public dat::FrameFeed {
public:
    // The note a frame carries to the play path (DatDrive::takenNote).
    static constexpr std::uint8_t kNoteReread = 1;    // it was bad and was read again
    static constexpr std::uint8_t kNoteRecovered = 2; // ... and is clean now
    // Clean frames after a bad one that end its stretch, the longest stretch (about 10 s), and
    // how far before a stretch the re-reading starts.
    static constexpr int kSettleFrames = 25;
    static constexpr int kMaxStretchFrames = 333;
    static constexpr int kLeadFrames = 5;

    // `stopping`: true once the run is asked to stop (a re-read then ends at once).
    Rereader(dat::DatDrive& drive, int d, int passes, std::function<bool()> stopping);

    bool next(dat::DatFrame& frame, std::uint8_t& note) override;
    // The tape was moved elsewhere (a search past a SKIP ID): what was read is dropped, and
    // reading starts afresh where the tape now stands.
    void forget();

    // "Re-reading 00h12m03s10 (pass 2 of 3)" while a stretch is read again, else empty. Any
    // thread.
    std::string status() const;
    // Frames that were bad when first read, and of them the ones that came back clean. Any
    // thread.
    std::uint32_t framesReread() const { return reread_.load(std::memory_order_relaxed); }
    std::uint32_t framesRecovered() const { return recovered_.load(std::memory_order_relaxed); }

private:
    enum class Raw { Frame, Unreadable, Failed };
    struct Held {
        dat::DatFrame frame;
        bool bad = false; // bad when first read
    };

    Raw readRaw(dat::DatFrame& frame);
    // A read for the stretch: frames before `skipBelow_` (the drive gave again what it had
    // given) are passed over; an unreadable frame becomes its stand-in.
    Raw readNext(dat::DatFrame& frame);
    bool locateTo(int absFrames);
    void standIn(dat::DatFrame& frame, int absFrames) const;
    // Reads the stretch again, locates back to where reading left off, and hands its frames on.
    void finishStretch(int resumeAbs);
    void setStatus(std::string text);

    dat::DatDrive& drive_;
    const int d_;
    const int passes_;
    std::function<bool()> stopping_;

    struct Ready {
        dat::DatFrame frame;
        std::uint8_t note = 0;
    };
    std::deque<Ready> ready_;
    std::vector<Held> stretch_;
    int stretchAbs_ = -1; // ABS time (frames) of the stretch's first frame
    int lastBad_ = -1;    // index of its last bad frame
    int lastAbs_ = -1;    // ABS time of the frame read last, -1 when unknown
    dat::SubcodeBlock lastSubcode_{};
    int skipBelow_ = -1;
    int unreadableRun_ = 0;
    bool carry_ = false; // a frame read after the stretch, taken up once it is done
    dat::DatFrame carried_{};

    std::atomic<std::uint32_t> reread_{0};
    std::atomic<std::uint32_t> recovered_{0};
    mutable std::mutex statusMutex_;
    std::string status_;
};

} // namespace tarnvel::engine
