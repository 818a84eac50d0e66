#pragma once

#include "dat/DatDrive.h"
#include "dat/DatFrame.h"
#include "engine/DeEmphasis.h"
#include "formats/WaveFormat.h"

#include <array>
#include <atomic>
#include <cstdint>

// The playback pipeline: the frame source that the sound output (or the file loop) pulls
// audio from, and the per-frame step that reads, checks, counts and converts every frame.
namespace tarnvel::engine {

class PlaybackPipeline;

// Where the played frames go besides the sound device: WAV files, an image file or the other
// instance. Called on the playback thread; nothing here may block for long.
class PlayOutput {
public:
    virtual ~PlayOutput() = default;
    // Whole frames with subcode are written (an image file or image duplication to a peer).
    virtual bool image() const = 0;
    virtual bool peer() const = 0;
    // One whole frame (image output). False stops playback.
    virtual bool writeFrame(const dat::DatFrame& frame, std::uint32_t idChange) = 0;
    // Output samples of one frame (or one assembled 24-bit block) with the frame's
    // `IdChange`. False stops playback.
    virtual bool writeAudio(const std::uint8_t* data, std::uint32_t bytes,
                            std::uint32_t idChange) = 0;
    // Division at IDs: called for every audio frame after de-emphasis; false stops playback.
    virtual bool divide(PlaybackPipeline& /*pipeline*/, const dat::TapePosition& /*position*/)
    {
        return true;
    }
    // The tape format changed (the ID pre-read length follows the format).
    virtual void formatChanged(const PlaybackPipeline& /*pipeline*/) {}
    // Every frame counted as an error (a non-zero error byte, an ABS time error or both), as
    // it is read: for per-file counts and a complete error list.
    virtual void errorFrame(const dat::TimeCode& /*abs*/, std::uint8_t /*errorByte*/,
                            bool /*absError*/)
    {
    }
};

// Settings the playback thread reads while it runs. The window thread stores them whenever
// the settings change (the setup dialog changes them while playing).
struct PlaySettings {
    std::atomic<bool> enableSkipPlay{false};
    std::atomic<bool> enableErrorMute{true};
    std::atomic<bool> resetErrorAtId{true};
    std::atomic<bool> writeAbsTimeErrorFrameToFile{false};
    std::atomic<std::uint32_t> errorStopCounter{100};        // compared unsigned: -1 never stops
    std::atomic<std::uint32_t> absTimeErrorStopCounter{100}; // the same
    std::atomic<bool> mem2StopChecked{false};
    std::atomic<bool> countPgmTime{false};
    std::atomic<bool> countRunTime{false};
    std::atomic<bool> countRealTime{false};
    std::atomic<bool> extendedFormatMode{false};
    std::atomic<int> extendedFormatBitLen{24};
    std::atomic<bool> enableDeEmphasis{false};
    std::atomic<int> ditherType{2};
};

// The format a frame's Main ID stands for.
struct TapeFormat {
    int rate = 48000;
    int bits = 16; // 16, 12 (long play) or 24 (extended format pairs)
    bool longPlay = false;
    bool emphasis = false;
    int copyBits = 0;
    bool operator==(const TapeFormat&) const = default;
};

// Decodes the two Main ID bytes; `extendedFormatMode` reads the high-rate bit as 24-bit pairs.
TapeFormat decodeMainId(std::uint8_t mainId0, std::uint8_t mainId1, bool extendedFormatMode);
// Audio bytes of one frame at a rate (rates above 48 kHz are halved first).
std::uint32_t frameAudioBytesOf(int rate);

// How a start of the pipeline relates to the run before it.
enum class PlayStart {
    Fresh,        // a new run
    FormatChange, // a restart with the held frame that changed the format
    Skip,         // a restart after the search past a SKIP ID (the files go on)
};

// Why the last run of PlayStep returned 0.
enum class PlayStop {
    None,
    EndOfTape,     // blank check 00/05: the end of the recorded area
    UnknownFormat, // blank check 30/01: a never recorded tape
    ReadError,
    ErrorLimitLeft,
    ErrorLimitRight,
    ErrorLimitAbs,
    Mem2,
    EndId,
    WriteFailed, // the output refused a frame (its owner has the reason)
    Held,        // format change: restart with the held frame
    Skip,        // SKIP ID with skip play: search the next program
};

// One error frame of the current output file.
struct ErrorFrame {
    dat::TimeCode abs;
    std::uint8_t errorByte = 0;
};

// The failed read that ended playback, copied when it happened (the drive's buffers are
// overwritten by the next command).
struct DriveFailure {
    std::array<char, 32> commandName{};
    std::array<char, 32> statusText{};
    std::array<char, 32> senseSummary{};
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

class PlaybackPipeline {
public:
    static constexpr int kErrorListSize = 100;
    static constexpr std::uint32_t kMaxBlockBytes = 2 * dat::kAudioBytes * 2; // 24-bit pair, 32-bit

    PlaybackPipeline(dat::DatDrive& drive, int d, const PlaySettings& settings);

    // Start of a run: clears the flags. After a format change the held frame and the
    // long-play phase just rebuilt stay; after a skip the half of a long-play frame read
    // before the jump is dropped.
    void prepareStart(PlayStart start);
    void prepareStart(bool restart)
    {
        prepareStart(restart ? PlayStart::FormatChange : PlayStart::Fresh);
    }
    // Builds the output format from the tape format and the settings, prepares de-emphasis.
    void buildOutputFormat();
    // Back to 48 kHz 16-bit after a failed start.
    void resetTapeFormat();

    // Playback thread. Fills `buffer` with `bytes` bytes of output samples; 0 means stop.
    std::uint32_t frameSource(std::uint8_t* buffer, std::uint32_t bytes);
    // Playback thread. One frame step into `buffer` (`bytes` = the frame's output bytes);
    // 0 means stop (see stopReason()).
    std::uint32_t playStep(std::uint8_t* buffer, std::uint32_t bytes);
    // The file loop's turn: one frame step and a counter update for images and peers, else
    // two frames' worth of output through the frame source. 0 means stop.
    std::uint32_t fileTurn();

    void setOutput(PlayOutput* output) { output_ = output; }
    PlayOutput* output() const { return output_; }

    // Fields read by the deck (window thread, between frames or after the run).
    PlayStop stopReason() const { return stop_; }
    const DriveFailure& driveFailure() const { return failure_; }
    const TapeFormat& tapeFormat() const { return format_; }
    // True when the audio of the current format leaves de-emphasised: the setting is on, the
    // frames are emphasised, they are not 24-bit pairs and the rate has a filter.
    bool deEmphasising() const
    {
        return settings_.enableDeEmphasis.load(std::memory_order_relaxed) && format_.emphasis &&
               format_.bits < 24 && deEmphasis_.hasCoefficients();
    }
    std::uint32_t frameAudioBytes() const { return frameAudioBytes_; }
    const formats::WaveFormat& outputFormat() const { return outputFormat_; }
    int containerBits() const { return containerBits_; }
    // One frame in the output format.
    std::uint32_t outputFrameBytes() const;
    bool heldFrame() const { return heldFrame_; }
    bool skipPending() const { return skipPending_; }
    void setSingleStep(bool on) { singleStep_ = on; }
    bool singleStep() const { return singleStep_; }
    void setEndIdMode(int mode) { endIdMode_ = mode; }
    int endIdMode() const { return endIdMode_; }
    std::uint32_t frameCounter() const { return frameCounter_; }
    std::uint32_t framesWritten() const { return framesWritten_; }
    void setFramesWritten(std::uint32_t n) { framesWritten_ = n; }
    const dat::DatFrame& currentFrame() const { return frame_; }
    void setMem2(const dat::TimeCode& t) { mem2_ = t; }
    const dat::TimeCode& mem2() const { return mem2_; }

    // Error counts; any thread (the window resets them by double-click).
    std::atomic<std::uint32_t> errorsLeft{0};
    std::atomic<std::uint32_t> errorsRight{0};
    std::atomic<std::uint32_t> errorsAbs{0};
    std::atomic<std::uint32_t> errorFrameTotal{0};
    // Time counts in frames (the window resets them by double-click).
    std::atomic<std::int64_t> pgmCount{0};
    std::atomic<std::int64_t> runCount{0};

    // The first 100 error frames of the current output file (playback thread, or the window
    // thread when no run is active).
    int errorListCount() const { return errorCount_; }
    const ErrorFrame& errorListEntry(int i) const { return errorList_[i]; }
    void clearErrorList() { errorCount_ = 0; }

private:
    std::uint32_t readStep();
    void failRead();
    void countFrame(bool halfLengthFrame);
    void applyMute(std::uint8_t* samples, std::uint32_t bytes, bool left, bool right) const;
    std::uint32_t writeOut(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t idChange);
    std::uint32_t extendedSource(std::uint8_t* buffer, std::uint32_t bytes);

    dat::DatDrive& drive_;
    int d_;
    const PlaySettings& settings_;
    PlayOutput* output_ = nullptr;

    TapeFormat format_;
    std::uint32_t frameAudioBytes_ = dat::kAudioBytes;
    int lpPhase_ = 0; // 0 normal; 1 long play; -1/-2 second half pending (-2: not written)
    bool heldFrame_ = false;
    bool heldWriteMark_ = true;
    bool skipPending_ = false;
    bool singleStep_ = false;
    int endIdMode_ = 0;
    bool writeThisFrame_ = true;
    bool pairSync_ = false;
    bool muteLeft_ = false; // long play: mute the decoded second half as well
    bool muteRight_ = false;
    std::uint32_t frameCounter_ = 0;
    std::uint32_t framesWritten_ = 0;
    dat::TimeCode mem2_{0, 0, 0, 0};
    formats::WaveFormat outputFormat_;
    int containerBits_ = 16;
    PlayStop stop_ = PlayStop::None;
    DriveFailure failure_;
    int errorCount_ = 0;
    std::array<ErrorFrame, kErrorListSize> errorList_{};

    dat::DatFrame frame_;
    DeEmphasis deEmphasis_;
    // 24-bit pairs: the upper-word frame (A) and the low-byte frame (B).
    std::array<std::uint8_t, dat::kAudioBytes> pairA_{};
    std::array<std::uint8_t, dat::kAudioBytes> pairB_{};
    std::array<std::uint8_t, kMaxBlockBytes> fileTurnBuffer_{};
};

} // namespace tarnvel::engine
