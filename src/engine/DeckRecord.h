#pragma once

#include "engine/Deck.h"
#include "engine/WriteThread.h"
#include "record/AutoId.h"
#include "record/PeerSource.h"
#include "record/RecordSources.h"
#include "record/Recorder.h"
#include "record/TapeIdWriter.h"
#include "sound/SoundOwner.h"
#include "sound/WaveRecorder.h"

#include <atomic>
#include <memory>
#include <string>

// The deck's recording state: the recorder with its sources and sound input, the ID writer
// and Auto ID. Only the deck's own files see it.
namespace tarnvel::engine {

// Where a recording's audio comes from.
enum class RecordKind { None, Input, WaveDirect, WaveSound, Image, Peer };

// The tape writer's ring as the recorder's frame sink.
class WriteRingSink final : public record::FrameSink {
public:
    explicit WriteRingSink(WriteThread& writer) : writer_(writer) {}
    int putFrame(const dat::DatFrame& frame) override { return writer_.putFrame(frame); }

private:
    WriteThread& writer_;
};

// The owner the sound devices see while they serve a recording: the deck's hand-offs, with
// the controls of a recording (the device's "other" control is PlayButton, and the sound
// input has no pause control of its own).
class RecordSoundOwner final : public sound::SoundOwner {
public:
    RecordSoundOwner(Deck& deck, UiThread& ui, DeckView& view) : deck_(deck), ui_(ui), view_(view)
    {
    }
    void invoke(const std::function<void()>& fn) override { ui_.invoke(fn); }
    void post(sound::SoundEvent event) override;
    void pumpFor(int ms) override;
    void setControlEnabled(sound::SoundControl control, bool enabled) override;
    bool controlEnabled(sound::SoundControl control) const override;
    void setPauseDown(bool down) override;
    // The run ends through the deck's end handling.
    std::function<void()> runEnded;
    // The sound output plays the list (its pause is the deck's PauseButton).
    bool output = false;

private:
    Deck& deck_;
    UiThread& ui_;
    DeckView& view_;
    bool playEnabled_ = false;
};

// The replies of a peer run go to whoever asked for it.
class ForwardReplies final : public record::PeerReplies {
public:
    void reply(link::PeerState state) override
    {
        if (record::PeerReplies* t = target.load())
            t->reply(state);
    }
    std::atomic<record::PeerReplies*> target{nullptr};
};

// Recording state of the deck, and the deck's side of the lead-in and ID writing.
struct DeckRecording : private record::TapeOpHost {
    DeckRecording(Deck& deck, UiThread& ui, DeckView& view, WriteThread& writer,
                  std::atomic<bool>& stopRequested, const app::Settings& settings);

    std::atomic<RecordKind> kind{RecordKind::None};
    bool loopRun = false;        // the sub thread's record loop runs the source
    bool imageFromStart = false; // the image brings its own lead-in: recorded from the start
    bool wholeFramePeer = false;
    std::string sourceName;       // RecSourceName
    int pendingPreSilenceSec = 0; // before the first file of a list
    bool imageHere = false;
    std::string imagePath;
    bool withSound = false;
    std::atomic<int> delayCount{0}; // the record loop's extra 20 ms pauses
    std::atomic<bool> idChanged{false};
    bool lastFailed = false;
    std::uint64_t ends = 0;
    bool playerReconfigured = false;

    // The ID area's controls.
    int muteSeconds = 4;
    int writeIdItem = 0; // 0 START, 1 SKIP, 2 END
    std::string writeIdText = "99";
    bool autoIdEnabled = true; // AutoID_CheckBox usable (off during image and peer runs)
    bool readyShown = false;

    WriteRingSink sink;
    RecordSoundOwner owner;
    std::unique_ptr<record::Recorder> recorder;
    record::WaveListSource waveList;
    record::ImageSource image;
    ForwardReplies peerReplies;
    std::unique_ptr<record::PeerSource> peer;   // blocks handed over through Deck::peerBlock
    record::RecordSource* peerSource = nullptr; // the run's blocks: `peer` or the link's
    std::unique_ptr<sound::WaveRecorder> input;
    std::unique_ptr<record::TapeIdWriter> idWriter;
    record::AutoIdDetector autoId;
    std::array<std::uint8_t, 2 * dat::kAudioBytes * 2> displayBytes{};

    record::TapeOpHost& host() { return *this; }
    record::TapeIdWriter& idWriterFor(Deck& deck);
    // Write or erase an ID while idle (kind 0 erases); true when done.
    bool idEdit(int idKind, int pNo);

private:
    // TapeOpHost, window thread.
    void status(const MessagePair& text) override;
    void clearError() override;
    bool ask(const std::string& text, bool okCancel) override;
    void message(const std::string& text) override;
    void driveError() override;
    void recordIndicator(bool on) override;
    void frameDone() override;
    void pause(int ms) override;
    bool rewind() override;
    bool locate(const dat::TimeCode& abs) override;

    Deck& deck_;
    DeckView& view_;
    friend class Deck;
};

} // namespace tarnvel::engine
