#pragma once

#include "dat/TapePosition.h"
#include "engine/Deck.h"
#include "engine/PlayToFileForm.h"
#include "formats/AudioFileWriter.h"
#include "formats/FlacFileWriter.h"
#include "formats/ImageWriter.h"
#include "formats/WaveFileWriter.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Playback to WAV files with their cue list, to a tape image, or to the other instance: the
// set-up when playback starts, the division at IDs while it runs, and the closing at its end.
namespace tarnvel::engine {

// The sending side of the link to the other instance (the link implements it).
class PeerSender {
public:
    virtual ~PeerSender() = default;
    // The other instance's name as status texts show it ("Tarnvel:2").
    virtual std::string peerName() const = 0;
    // Window thread: asks the other instance to record (`wholeFrames` for duplication by
    // image) and waits for its first answer; false when it refused or is gone.
    virtual bool requestRecording(bool wholeFrames) = 0;
    // Window thread: waits while the other instance prepares; true once it has started.
    virtual bool waitUntilStarted() = 0;
    // Playback thread: one block (audio of a frame, or a whole frame); false stops playback.
    virtual bool send(const std::uint8_t* data, std::uint32_t bytes, const TapeFormat& format,
                      bool emphasised, std::uint32_t idChange) = 0;
    // Any thread: the Stop button; a send that waits wakes up and fails.
    virtual void cancel() = 0;
    // Window thread: the end-of-stream block (with a bounded wait).
    virtual void finish() = 0;
    // Why the other instance could not be reached or refused to record, when it said so.
    virtual std::string refusal() const { return {}; }
};

// One WAV or FLAC file written, for the summary, the archive report and its JSON.
struct WrittenFile {
    std::string name;               // the file, or the first of a split series
    std::vector<std::string> parts; // every file of the series, the first included
    std::string programText;        // as the cue entry shows it ("01", "BB", "--")
    // The date of the file's own program: its first frame that carries a date pack (for a
    // pre-read file, from the START ID on). The name's date is that of its first own frame.
    std::array<std::uint8_t, dat::kPackBytes> datePack = dat::TapePosition::kNoDatePack;
    std::string formatText; // "48000 / 16 (16)"
    bool emphasis = false;  // the audio in the file is still emphasised
    std::string copyText;
    std::string startAbs;       // the ABS time text where it starts
    std::string endAbs;         // the ABS time text of its last frame
    formats::WaveFormat format; // the samples in the file
    int tapeRate = 48000;       // as the tape holds them
    int tapeBits = 16;          // 12 for long play
    bool tapeEmphasis = false;  // the tape is emphasised (the file may have been de-emphasised)
    std::uint8_t copyBits = 0;
    std::uint32_t frames = 0;
    int seconds = 0;
    std::uint32_t errorsLeft = 0, errorsRight = 0, errorsAbs = 0;
    struct ErrorAt {
        dat::TimeCode abs;
        std::uint8_t errorByte;
    };
    std::vector<ErrorAt> errorFrames; // every error frame, not only the first 100
    // With re-reading: frames bad when first read, and of them the ones read clean again.
    std::uint32_t framesReread = 0, framesRecovered = 0;
};

class Rereader;

class PlayToFile final : public PlayToFileController, public PlayOutput {
public:
    PlayToFile(Deck& deck, app::Settings& settings);
    ~PlayToFile() override;

    // The dialog (window thread): fills the request, false for Cancel. Without one, the
    // request given to setRequest is used as it is (the command line).
    void setDialog(std::function<bool(Modifiers, PlayToFileRequest&)> dialog)
    {
        dialog_ = std::move(dialog);
    }
    void setRequest(const PlayToFileRequest& request) { request_ = request; }
    const PlayToFileRequest& request() const { return request_; }
    void setPeer(PeerSender* peer) { peer_ = peer; }
    // Writes WAV files as Broadcast Wave (a "bext" chunk); off by default.
    void setBroadcastWave(bool on) { bwf_ = on; }
    // Writes FLAC files (BASE01.flac, ...) at a compression level 0-8 instead of WAV files.
    void setFlac(bool on, int level = formats::FlacFileWriter::kDefaultLevel)
    {
        flac_ = on;
        flacLevel_ = level;
    }
    bool flac() const { return flac_; }
    // The tape's label, for the files' descriptions (Broadcast Wave, FLAC comments).
    void setLabel(const std::string& label) { label_ = label; }
    // "Tarnvel 0.1.0".
    static std::string programName();
    // Why FLAC output cannot be made with these settings (float samples), or empty.
    static std::string flacRefusal(const app::Settings& settings);
    // Tests: smaller split and image sizes.
    void setImageLimits(const formats::ImageWriter::Limits& limits) { imageLimits_ = limits; }

    // What the last run wrote (window thread, after the run).
    const std::vector<WrittenFile>& writtenFiles() const { return written_; }
    const std::string& cueName() const { return cueName_; }
    const std::string& imageFileName() const { return imageName_; }
    // A write failed during the run (the message was shown).
    bool writeFailed() const { return writeFailed_; }
    // The last message of the run's writers on one line ("Unable to write file.  (No space
    // left on device) /x/take02.WAV"); empty when there was none.
    std::string lastMessage() const;
    // WAV output met frames that look like 24-bit pairs read as 16-bit audio at a high rate
    // (ExtendedFormatMode off).
    bool extendedPairsSeen() const { return extendedPairs_.load(std::memory_order_relaxed); }
    // The file being written and its frames so far (any thread; for progress lines).
    std::string currentFile() const;
    std::uint32_t framesInFile() const { return framesInFile_.load(std::memory_order_relaxed); }
    std::uint32_t imageFrames() const { return imageFrames_.load(std::memory_order_relaxed); }
    // Seconds of tape audio handed to the output so far in this run (any thread).
    double audioSeconds() const { return audioMicros_.load(std::memory_order_relaxed) / 1e6; }
    // With re-reading (any thread): "Re-reading 00h12m03s10 (pass 2 of 3)" while a stretch is
    // read again (else empty), and the run's frames re-read and recovered so far.
    std::string rereadStatus() const;
    std::uint32_t framesReread() const;
    std::uint32_t framesRecovered() const;

    // PlayToFileController (window thread).
    bool setUp(Modifiers modifiers) override;
    PlayOutput* output() override { return active_ ? this : nullptr; }
    bool fileOnly() const override;
    std::string runningText() const override;
    bool restart() override;
    bool waitForPeer() override;
    void stopRequested() override;
    void finish() override;
    void abandon() override;

    // PlayOutput (playback thread).
    bool image() const override;
    bool peer() const override;
    bool writeFrame(const dat::DatFrame& frame, std::uint32_t idChange) override;
    bool writeAudio(const std::uint8_t* data, std::uint32_t bytes, std::uint32_t idChange) override;
    bool divide(PlaybackPipeline& pipeline, const dat::TapePosition& position) override;
    void formatChanged(const PlaybackPipeline& pipeline) override;
    void errorFrame(const dat::TimeCode& abs, std::uint8_t errorByte, bool absError) override;

    // Frames of ID pre-reading for a time in tenths of a second and a tape format.
    static int preReadFrames(int tenths, const TapeFormat& format);
    // Seconds of a file of `frames` frames (half-length frames count half).
    static int fileSeconds(std::uint32_t frames, const TapeFormat& format);

private:
    bool setUpWave();
    bool setUpImage();
    bool setUpPeer();
    bool usableOutput(const std::string& name);
    bool askOverwrite(const std::string& name);
    using DatePack = std::array<std::uint8_t, dat::kPackBytes>;
    std::string waveName(int number, int sub, const DatePack& date) const;
    bool openWave(const std::string& name, const dat::TapePosition& pos, int preReadNumber,
                  const DatePack& date);
    // The first file opens with the run's first frame: its number and date are that frame's,
    // whatever the tape did before the run.
    bool openFirst(const dat::TapePosition& pos);
    // Opens the file of fileNumber_ at the first sub-number from subNumber_ on that this run
    // has not used. `ownFrom`: frames before the file's own program starts (pre-reading).
    bool openNext(const dat::TapePosition& pos, int preReadNumber, const DatePack& date,
                  int ownFrom);
    // Closes the current WAV file and writes its cue entry (a file of one frame or less is
    // deleted and not listed). False when the cue entry could not be written.
    bool closeWave();
    bool switchFile(int number, bool preRead, bool formatRestart, const dat::TapePosition& pos);
    // A frame of the current file's own program: the first with a date dates the file.
    void ownFrame(const dat::TapePosition& pos);
    void watchForExtendedPairs(const std::uint8_t* data, std::uint32_t bytes);
    bool writeCue(const std::string& text);
    void closeCue();
    void message(const std::string& text);
    bool ask(const std::string& text);
    void failWrite();
    void failPeer();
    void refusedByPeer();
    void commitPendingError();
    void startRereading();
    void endRereading();

    Deck& deck_;
    app::Settings& settings_;
    std::function<bool(Modifiers, PlayToFileRequest&)> dialog_;
    PlayToFileRequest request_;
    PeerSender* peer_ = nullptr;
    bool bwf_ = false;
    bool flac_ = false;
    int flacLevel_ = formats::FlacFileWriter::kDefaultLevel;
    std::string label_;
    std::string driveText_; // the drive's product and firmware, for the coding history
    formats::ImageWriter::Limits imageLimits_;

    class Sink;
    // Stop pressed during a copy to the other instance (any thread sets it).
    std::atomic<bool> peerCancelled_{false};
    std::unique_ptr<Sink> sink_; // messages of the writers, shown on the window thread
    bool active_ = false;
    bool writeFailed_ = false;

    // WAV output.
    std::unique_ptr<formats::AudioFileWriter> wave_; // a WAV or a FLAC writer
    // What the file's own metadata says of it (bext, FLAC comments), as far as known.
    void describe();
    std::string base_;
    std::string cueName_;
    std::string cueTemporary_; // the list until its first entry is written
    std::FILE* cue_ = nullptr;
    int cueEntries_ = 0;
    bool cueCreated_ = false;
    int fileNumber_ = 0;
    int subNumber_ = 0;
    bool firstPending_ = false; // the first file waits for the first frame
    int framesUntilOwn_ = 0;    // pre-read frames of the program before the file's own
    // Program and sub-number of every file this run has on disk: a number that comes back
    // never names one of them again.
    std::set<std::pair<int, int>> usedNames_;
    std::atomic<bool> extendedPairs_{false};
    bool lastFrameLowByte_ = false;
    int alternations_ = 0;
    std::atomic<std::uint32_t> framesInFile_{0};
    mutable std::mutex nameMutex_; // the current file's name, read by progress lines
    std::string currentName_;
    int holdOff_ = 0;
    int preRead_ = 0;
    WrittenFile current_;
    struct PendingError {
        dat::TimeCode abs{};
        std::uint8_t errorByte = 0;
        bool absError = false;
        std::uint32_t frame = 0; // the pipeline's frame counter when it was read
    } pending_;
    bool hasPending_ = false;
    std::vector<WrittenFile> written_;

    // Re-reading of bad stretches; kept after the run for its counts.
    std::unique_ptr<Rereader> rereader_;

    // Image output.
    std::unique_ptr<formats::ImageWriter> imageWriter_;
    std::string imageName_;
    std::atomic<std::uint32_t> imageFrames_{0};
    std::atomic<std::uint64_t> audioMicros_{0};
};

} // namespace tarnvel::engine
