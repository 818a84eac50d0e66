#pragma once

#include "dat/DatDrive.h"
#include "dat/DatFrame.h"
#include "dat/TimeCode.h"
#include "record/RecordFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

// The recording pipeline's core: one frame under construction, filled from the source's audio
// (or taken whole from an image or another tape), given the recorder's subcode and queued for
// the tape writer. One producer thread per run calls recordBlock / recordFrame / loopTurn;
// the window thread starts runs and sets the pending ID, the mute counter and the pause.
namespace tarnvel::record {

// Where finished frames go: the tape writer's ring.
class FrameSink {
public:
    static constexpr int kFine = 0;
    static constexpr int kWriteFailed = 1;
    static constexpr int kEndOfTape = -1;

    virtual ~FrameSink() = default;
    // Producer thread: copies the frame into the ring, waiting while it is full unless the
    // writer has failed; returns the writer's state (kFine, kWriteFailed, kEndOfTape).
    virtual int putFrame(const dat::DatFrame& frame) = 0;
};

// The format and ID a source announces with a block (the other instance's tape).
struct BlockFormat {
    int rate = 48000;
    int bits = 16; // 12 long play, 16, 24 (one raw frame of a pair per block)
    bool emphasis = false;
    int copyBits = 0;
    std::uint32_t idChange = 0; // 0 none, 999 SKIP, any other code a START
};

// A source the per-frame step reads itself: a WAV list read directly, an image, the other
// instance. Called on the producer thread only.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // Whole frames with their subcode (image, frame-for-frame copy of another tape).
    virtual bool wholeFrames() const = 0;
    // Audio: fills up to `bytes` bytes of source audio; whole frames: one 5822-byte frame.
    // Returns the bytes delivered; 0 when the source has ended or failed.
    virtual std::uint32_t read(std::uint8_t* buffer, std::uint32_t bytes) = 0;
    // The announced format of the block just read, for sources that announce one.
    virtual const BlockFormat* blockFormat() const { return nullptr; }
    // Why the source stopped delivering, when it failed (empty at its normal end).
    virtual const std::string& failure() const = 0;
    // Any thread: a read that waits (for the other instance's next block) looks at the stop
    // flag again.
    virtual void wake() {}
};

// Why a run's producer stopped.
enum class RecordStop {
    None,
    SourceEnd,    // the source is exhausted (a WAV list then goes on with its next file)
    SourceFailed, // the source could not be read (see RecordSource::failure)
    EndIdDone,    // the END ID run has been written
    WriteFailed,  // a tape write failed
    EndOfTape,    // volume overflow
    Mem2,         // the Mem2 time was reached
    Stopped,      // the Stop button
};

// Pending ID kinds (PendingIdKind).
inline constexpr int kPendingNone = 0;
inline constexpr int kPendingStart = 0x40;
inline constexpr int kPendingSkip = 0x20;
inline constexpr int kPendingEnd = 1;

// Bit 31 of the mute counter marks a pre-silence, which ends without pausing.
inline constexpr std::uint32_t kPreSilenceFlag = 0x80000000u;

struct RecordSetup {
    RecordFormat format;
    // Null: the blocks are pushed (sound input, WAV list with sound output).
    RecordSource* source = nullptr;
    // The sound input: audio that arrives while paused is dropped (a file source is held
    // instead, so nothing of it is lost).
    bool liveInput = false;
    // The sub thread's record loop drives the run: the date pack is left as it is.
    bool recordLoop = false;
    bool writeDate = false;
    // All zero: no Mem2 stop.
    dat::TimeCode mem2{0, 0, 0, 0};
};

class Recorder {
public:
    // `stopRequested` is the engine's StopRequested flag; counters may be shared with the
    // time display (null: the recorder's own).
    Recorder(dat::DatDrive& drive, int d, FrameSink& sink, std::atomic<bool>& stopRequested,
             std::atomic<std::int64_t>* runCount = nullptr,
             std::atomic<std::int64_t>* pgmCount = nullptr);

    // Window thread, no run active. A run's first start: the format and source, then
    // InitRecSubcode with `startAbs` (nullopt keeps the ABS time the last frame left) and no
    // ID. A continuation (the next file of a list) calls it again with nullopt.
    void begin(const RecordSetup& setup, std::optional<dat::TimeCode> startAbs);
    // The ABS time the next frame would carry (FindAbsPack of the frame under construction).
    dat::TimeCode nextAbs() const;
    const RecordFormat& format() const { return format_; }

    // Producer thread. RecordBlock: source audio cut into frames (24-bit audio split into
    // frame pairs); returns `bytes`, or 0 when the run stops.
    std::uint32_t recordBlock(std::uint8_t* buffer, std::uint32_t bytes);
    // Producer thread. RecordFrame: one frame's worth of audio (at most the frame's audio
    // bytes; one half in long play), or a frame read from the source; 0 when the run stops.
    std::uint32_t recordFrame(std::uint8_t* buffer, std::uint32_t bytes);
    // Producer thread: one turn of the record loop on the run's source; 0 when it stops.
    std::uint32_t loopTurn();
    // After the producer has stopped: a long-play frame still waiting for its second half
    // goes out with a silent one.
    void flushHalfFrame();

    // Any thread.
    RecordStop stopCause() const { return stop_.load(std::memory_order_acquire); }
    // Ends the run for `why` (the first reason stays); every reason but the source's end
    // sets StopRequested.
    void requestStop(RecordStop why);
    // Pending ID: set by Write ID and Auto ID, placed on the next frame written.
    void setPendingId(int kind, int pNo);
    void clearPendingId() { pending_.store(0, std::memory_order_release); }
    int pendingKind() const;
    int pendingPNo() const;
    // The mute counter: the Mute button arms it only while it is 0 (returns false otherwise).
    bool startMute(std::uint32_t frames);
    // The pre-silence before a list: frames of silence that hold the first ID back; nothing
    // for 0 frames.
    void setPreSilence(int frames);
    std::uint32_t muteFramesLeft() const { return mute_.load(std::memory_order_acquire); }
    void clearMute() { mute_.store(0, std::memory_order_release); }
    // The Pause button of the sound input (audio is dropped while down).
    void setPauseDown(bool down) { pauseDown_.store(down, std::memory_order_release); }
    bool pauseDown() const { return pauseDown_.load(std::memory_order_acquire); }
    // The number WriteID_Edit shows: a START announced by the other instance takes it, and
    // the next START the number after it (the producer counts on at once, so STARTs that come
    // faster than the window looks are numbered apart).
    void setWriteIdNumber(int pNo) { writeIdNumber_.store(pNo, std::memory_order_release); }
    int writeIdNumber() const { return writeIdNumber_.load(std::memory_order_acquire); }
    // The window has seen START n - 1 on the tape: n, unless the producer is already past it.
    void followWriteIdNumber(int pNo);

    // Producer-thread hooks (set before a run starts): a written frame carried an ID (the
    // Auto ID silence count restarts); a record mute ended (the deck goes into record-pause).
    std::function<void()> onIdFrame;
    std::function<void()> onMuteEnd;
    // Producer thread: a written frame changed an ID table (its IdChange).
    std::function<void(std::uint32_t idChange)> onIdChange;

    // Frames queued in this run, and the Main ID bytes of the last one (the format display).
    std::uint32_t framesQueued() const { return frames_.load(std::memory_order_acquire); }
    std::uint16_t lastMainId() const { return mainId_.load(std::memory_order_acquire); }
    std::int64_t runCount() const { return runCount_->load(std::memory_order_relaxed); }
    std::int64_t pgmCount() const { return pgmCount_->load(std::memory_order_relaxed); }
    void resetRunCount() { runCount_->store(0, std::memory_order_relaxed); }
    // The frame under construction (tests, and the window thread between runs).
    const dat::DatFrame& frame() const { return frame_; }

private:
    std::uint32_t stopWith(RecordStop why);
    std::uint32_t splitExtended(const std::uint8_t* buffer, std::uint32_t bytes);
    void applyBlockFormat(const BlockFormat& b);
    int takeWriteIdNumber();
    void countFrame();
    void muteOrPlaceId();
    std::uint32_t writeStep(std::uint32_t n);
    bool queueFrame(int& writerState);

    dat::DatDrive& drive_;
    int d_;
    FrameSink& sink_;
    std::atomic<bool>& stopRequested_;
    std::atomic<std::int64_t> ownRun_{0};
    std::atomic<std::int64_t> ownPgm_{0};
    std::atomic<std::int64_t>* runCount_;
    std::atomic<std::int64_t>* pgmCount_;

    // Window thread between runs, then the producer.
    RecordFormat format_;
    RecordSource* source_ = nullptr;
    bool wholeFrames_ = false;
    bool liveInput_ = false;
    bool recordLoop_ = false;
    bool writeDate_ = false;
    dat::TimeCode mem2_{0, 0, 0, 0};
    int lpPhase_ = 0; // 0 normal; 1 first half next; -1 second half next
    dat::DatFrame frame_;
    std::array<std::uint8_t, dat::kAudioBytes> upper_{};
    std::array<std::uint8_t, dat::kAudioBytes> lower_{};
    std::array<std::uint8_t, 2 * dat::kAudioBytes> block_{};

    std::atomic<RecordStop> stop_{RecordStop::None};
    std::atomic<std::uint32_t> pending_{0}; // kind << 16 | program number
    std::atomic<std::uint32_t> mute_{0};
    std::atomic<bool> pauseDown_{false};
    std::atomic<int> writeIdNumber_{0};
    std::atomic<std::uint32_t> frames_{0};
    std::atomic<std::uint16_t> mainId_{0};
};

} // namespace tarnvel::record
