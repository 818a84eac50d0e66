#pragma once

#include "app/Settings.h"
#include "app/TimeDisplay.h"
#include "dat/DatDrive.h"
#include "engine/DeckView.h"
#include "engine/DisplayThread.h"
#include "engine/EngineState.h"
#include "engine/Playback.h"
#include "engine/PositionMeter.h"
#include "engine/RecordRequest.h"
#include "engine/SearchEdits.h"
#include "engine/SubThread.h"
#include "engine/UiThread.h"
#include "engine/WriteThread.h"
#include "sound/SoundOwner.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace tarnvel::sound {
class AudioBackendProvider;
class WavePlayer;
} // namespace tarnvel::sound
namespace tarnvel::record {
class PeerReplies;
class RecordSource;
} // namespace tarnvel::record

// The deck: the main window without its widgets. It owns the drive object, the engine state
// and threads, the sound output and the playback pipeline; it takes every user action as a
// call and shows every change through its DeckView. Every public function is called on the
// window thread (the UiThread) unless it says otherwise.
namespace tarnvel::engine {

// How playback to a file or the other instance is set up and finished (the play-to-file
// dialog and its files). The deck calls it on the window thread.
class PlayToFileController {
public:
    virtual ~PlayToFileController() = default;
    // Runs the dialog and the file set-up; false ends the start (cancelled or failed).
    virtual bool setUp(Modifiers modifiers) = 0;
    // The output the frames go to (valid between a successful setUp and finish).
    virtual PlayOutput* output() = 0;
    // Playback runs without sound (the file loop on the sub thread).
    virtual bool fileOnly() const = 0;
    // The running status text (" [Play] >> Wave", ...).
    virtual std::string runningText() const = 0;
    // A restart after a format change: opens the next file. False stops playback.
    virtual bool restart() = 0;
    // The Stop button: a send waiting for the other instance wakes up.
    virtual void stopRequested() {}
    // A peer start waits for the other instance; false when it refused.
    virtual bool waitForPeer() { return true; }
    // End of playback: close the files (or send the end block); clears the output.
    virtual void finish() = 0;
    // Playback did not start after setUp: close and clean up without a cue entry.
    virtual void abandon() = 0;
};

struct DeckOptions {
    int instance = 1;
    // Creates the drive object with its devices scanned; null with `error` on failure (the
    // back-end's own text). Called once, during construction.
    std::function<std::unique_ptr<dat::DatDrive>(std::string& error)> openDrive;
    // The drive was named by the user (a device node or a simulated cassette): it is used
    // whatever the instance number. Empty: the instance's drive among those found.
    std::string drivePath;
    bool explicitDrive = false;
    // The audio library (null: the system's).
    std::shared_ptr<sound::AudioBackendProvider> audio;
    // The settings file was new at start-up (the help is offered at first activation).
    bool newSettingsFile = false;
    // Where the command log goes when `DatLog` is set.
    std::string logFile = "TVDAT.LOG";
    // Saves the settings at destruction (null: not saved).
    std::function<void()> saveSettings;
    // The pause between the position polls of a motion wait (null: the real 30 ms).
    std::function<void(int ms)> motionSleep;
    // Sleeps of the window-thread pauses that pump events (the 2-second error pause).
    int errorPauseMs = 2000;
    // The command line: a tape that is ready when the deck starts (past a power-on attention)
    // is taken where it stands, so a run continues where the last one left it; the arrival
    // sequence would load it, which rewinds. A tape that comes in later arrives as usual.
    bool keepTapePlace = false;
    // Recording and ID writing: the settling pauses around runs and ID writes (300 ms), the
    // pause after an ID span or lead-in is written (500 ms), and the pause after each lead-in
    // frame (5 ms).
    int recordSettleMs = 300;
    int recordAfterWriteMs = 500;
    int leadInFrameSleepMs = 5;
};

struct DeckRecording;

class Deck : private sound::SoundOwner {
public:
    Deck(UiThread& ui, DeckView& view, app::Settings& settings, DeckOptions options);
    ~Deck() override;
    Deck(const Deck&) = delete;
    Deck& operator=(const Deck&) = delete;

    // Start-up and shutdown.
    void firstActivation();
    // The close request: true when the program may close (stops a run first).
    bool closeRequest(Modifiers modifiers);
    const std::string& startupError() const { return startupError_; }
    bool hasDrive() const { return d_ >= 0; }

    // Transport and playback.
    void play(Modifiers modifiers);
    void playToFile(Modifiers modifiers);
    void stop();
    void pause();
    // Escape: Stop while the Stop button is usable, else offers to abort the drive command.
    void escape();
    void eject();
    void rewind();
    void fastForward();
    // Search by the selected page of the search edits (Enter, the Search button).
    bool searchStart(Modifiers modifiers);
    bool prevPNo(Modifiers modifiers);
    bool nextPNo(Modifiers modifiers);
    // Program-number search for n (1..799); `entry` is the virtual ID to use in virtual ID mode.
    bool searchProgram(int n, Modifiers modifiers, const dat::IdEntry* entry = nullptr);
    bool searchAbs(const dat::TimeCode& abs, Modifiers modifiers);
    // Copies the current ABS time into the Mem1 (1) or Mem2 (2) edits.
    void timeCapture(int mem);
    void setMem2StopChecked(bool checked);
    void setVirtualIdMode(bool on);
    bool virtualIdMode() const;

    // Position meter.
    void positionMeterDoubleClick(int x, int y, int width);
    void positionMeterPage(bool up);
    void setTapeLength(int minutes);
    // The ID tables were edited (the ID list window): the meter marks them again.
    void idTablesChanged() { showMeter(); }
    const PositionMeter& positionMeter() const { return meter_; }

    // Double-clicks on the displays.
    void errorCountDoubleClick(Control counter);
    void timeDisplayDoubleClick(int y, app::MouseButton button, bool shift);
    void errorStatusDoubleClick(bool shift);

    // The settings record changed (the setup dialog): the engine takes the new values.
    void settingsChanged();
    SearchEdits& searchEdits() { return edits_; }

    // State for views and tests.
    const EngineState& state() const { return state_; }
    Activity activity() const { return state_.activity.load(); }
    // Nothing runs: a run, a transport command or an ID write may start.
    bool idle() const { return activity() == Activity::Idle; }
    bool tapeChecked() const { return state_.tapeChecked.load(); }
    // The deck shows its transport as usable (idle with a checked tape).
    bool transportEnabled() const { return transportEnabled_; }
    dat::DatDrive* drive() { return drive_.get(); }
    int driveIndex() const { return d_; }
    PlaybackPipeline& pipeline() { return *pipeline_; }
    // The sound output (the setup dialog lists its devices and switches its driver type).
    sound::WavePlayer& player() { return *player_; }
    const app::Settings& settings() const { return settings_; }
    const std::string& programTitle() const { return title_; }
    // Runs the polling timer's tick now (tests and the command line drive it themselves).
    void pollNow();
    // Starts or stops the periodic polling.
    void startTimer(int ms);
    void stopTimer();
    // The last playback ended with an error (a read error, a limit, a device failure).
    bool lastRunFailed() const { return lastRunFailed_; }
    // Playback runs that have ended (the command line waits for the next one).
    std::uint64_t playEnds() const { return playEnds_; }
    // The texts of the last position shown.
    const TimeTexts& timeTexts() const { return timeTexts_; }

    // Motions a run needs before it starts (an image from the beginning of the tape, a
    // recording at its place): shows `label`, sends the command with the immediate bit and
    // waits for the tape to stop. False after a drive error, which is reported.
    bool positionToAbs(const dat::TimeCode& abs, const std::string& label);
    bool rewindForRun(const std::string& label);
    UiThread& ui() { return ui_; }
    // Playback thread: the display thread pauses around a file switch (counted).
    void suspendDisplay();
    void resumeDisplay();
    DeckView& view() { return view_; }

    // Playback to files or the other instance (set by the play-to-file feature).
    void setPlayToFileController(PlayToFileController* controller) { fileController_ = controller; }
    // The lead-in offer after "Unknown Format 30 01" (the deck's own unless replaced).
    void setLeadInOffer(std::function<void()> offer) { leadInOffer_ = std::move(offer); }

    // Recording (DeckRecord*.cpp).
    // RecButton: the sound input, starting in record-pause; with Shift only the lead-in.
    void record(Modifiers modifiers);
    // RecFromFileButton, after the record-from-file dialog's OK.
    void recordFromFile(const RecordFromFileRequest& request);
    // MuteButton and MuteTimeComboBox.
    void mute();
    void setMuteTime(int seconds);
    // The Auto ID controls.
    void setAutoIdChecked(bool checked);
    void setAutoIdLevel(int dB);
    void setAutoIdTime(int seconds);
    // WriteID_ComboBox (0 START, 1 SKIP, 2 END) and WriteID_Edit.
    void setWriteIdKind(int item);
    void setWriteIdText(const std::string& text);
    // WriteID_Button and EraseID_Button: during a recording the ID goes on the next frame;
    // while idle the tape (or in virtual ID mode the virtual list) is changed. True when done.
    bool writeIdButton();
    bool eraseIdButton();
    // WriteLeadIn; false when declined or failed.
    bool writeLeadIn(bool newTape, bool quiet);
    // The other instance: its start request (reply 1 and the run's later replies go to
    // `replies`, which must outlive the run), and its blocks: handed over with peerBlock (any
    // thread), or read from `blocks` (a source over the instance link; it announces each
    // block's format, and wake() ends its wait).
    bool peerStartRequest(bool wholeFrames, record::PeerReplies& replies,
                          record::RecordSource* blocks = nullptr);
    bool peerBlock(const std::uint8_t* data, std::size_t size);
    bool recording() const;
    RecordProgress recordProgress() const;
    // Recording runs that have ended, and whether the last one ended on an error.
    std::uint64_t recordEnds() const;
    bool lastRecordFailed() const;

private:
    // SoundOwner (the sound output's owner is the main window).
    void invoke(const std::function<void()>& fn) override;
    void post(sound::SoundEvent event) override;
    void pumpFor(int ms) override;
    void setControlEnabled(sound::SoundControl control, bool enabled) override;
    bool controlEnabled(sound::SoundControl control) const override;
    void setPauseDown(bool down) override;

    // Construction and the sub thread's commands.
    void construct();
    void executeSubCommand(SubCommand command);
    bool runSubCommand(SubCommand command, int pumpMs);
    void statusPoll();
    void motionWait();
    void playLoop();
    int displayTurn();
    void timerTick();
    // The one place the activity changes; false (and nothing changed) for a transition the
    // deck does not make.
    bool enter(Activity next);

    // Controls and displays.
    void setTransportEnabled(bool enabled);
    void showPosition(const dat::TapePosition& pos, bool fromFrame);
    void resetTimeDisplay();
    void showCounters();
    void showFormat();
    void showErrorCounts();
    void showMeter();
    // The meter's copy of the position and the ID table; only where no engine thread parses
    // frames (a hand-off from that thread, or the deck idle).
    void refreshMeterCopy();
    void applyPlaySettings();

    // Transport (`kind`: Transport, or WritingIds for the tape ID operations).
    bool beginTransport(const MessagePair& label, Activity kind = Activity::Transport);
    void endTransport();
    bool waitForMotion(std::uint8_t status);
    void reportDriveError(const char* text = nullptr);
    void pauseWithEvents(int ms);
    bool locateAndWait(int kind, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t e);
    bool finishSearch(bool ok);
    bool programSearch(int n, const dat::IdEntry* entry);
    bool stepProgram(bool previous, Modifiers modifiers);
    bool abortQuery();

    // Playback. `start` says whether this is a run's first start or one of its restarts
    // (from the end handling); true when the run is playing.
    bool startPlayback(Modifiers modifiers, bool toFile, PlayStart start);
    void oneFrameStep(Modifiers modifiers);
    bool startSound();
    void stopPlayback();
    void playEnd();
    void showPlayStop();
    void returnToIdle();
    void failedStart(PlayStart start);
    void disarmTimer();

    UiThread& ui_;
    DeckView& view_;
    app::Settings& settings_;
    DeckOptions options_;
    std::string title_;
    std::string startupError_;
    std::unique_ptr<dat::DatDrive> drive_;
    int d_ = -1;
    bool activated_ = false;

    EngineState state_;
    PlaySettings playSettings_;
    std::unique_ptr<PlaybackPipeline> pipeline_;
    std::unique_ptr<sound::WavePlayer> player_;
    std::unique_ptr<SubThread> subThread_;
    std::unique_ptr<WriteThread> writeThread_;
    std::unique_ptr<DisplayThread> displayThread_;
    int driveCheckParameter_ = 0;
    bool driveCheckResult_ = false;

    // Polling timer.
    UiThread::TimerId timerId_ = 0;
    bool timerArmed_ = false;
    bool timerScheduled_ = false;
    std::uint8_t previousStatus_ = 0xFF;
    bool adoptReadyTape_ = false; // keepTapePlace, until the first settled status

    // Controls and displays.
    bool transportEnabled_ = false;
    bool pauseDown_ = false;
    bool stopEnabled_ = false;
    bool recEnabled_ = false;
    bool mem2StopChecked_ = false;
    TimeTexts timeTexts_;
    app::ProgramNumberDisplay programDisplay_;
    std::array<std::uint32_t, 3> shownErrors_{~0u, ~0u, ~0u};
    TapeFormat shownFormat_{0, 0, false, false, -1};
    std::string keptErrorDetail_; // the log text of the last failure
    SearchEdits edits_;
    PositionMeter meter_;
    bool playAfterSearch_ = false;
    std::string searchBox_; // the meter's "Search to" box during a meter search
    int meterPositionSeconds_ = 0;
    dat::IdTable meterIds_;
    int closeAttempts_ = 0;

    // Playback: what carries the run (the display thread reads it), and whether its frames
    // also go to the play-to-file output (from its set-up to its finish).
    enum class PlayPath { None, Sound, FileLoop };
    std::atomic<PlayPath> playPath_{PlayPath::None};
    // The file loop waits in a pause (set by the loop; the window reads it before it touches
    // what the loop reads).
    std::atomic<bool> loopParked_{false};
    bool playToFile_ = false;
    bool lastRunFailed_ = false;
    std::uint64_t playEnds_ = 0;
    PlayToFileController* fileController_ = nullptr;
    std::function<void()> leadInOffer_;
    dat::DatFrame stepFrame_;

    // Recording.
    void startRecording(bool continuation);
    void failedRecordStart(bool continuation);
    void recordEnd();
    void recordLoop();
    void recordPause();
    void recordStop();
    void wakeRecordWaits();
    void enterRecordPause();
    int recordDisplayTurn();
    void showRecordCounters();
    bool askVirtualIdQuestion();
    void offerLeadIn();
    void shutdownRecording();
    friend struct DeckRecording;
    friend class RecordSoundOwner;
    std::unique_ptr<DeckRecording> rec_;

    // Display thread.
    std::array<std::uint8_t, 2 * dat::kAudioBytes * 2> displayBytes_{};
    app::DisplaySamples displaySamples_;
    int refreshCount_ = 0;
    int refreshesPerSecond_ = 0;
    std::int64_t refreshSecond_ = 0;
};

} // namespace tarnvel::engine
