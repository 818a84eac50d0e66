#include "app/DisplaySamples.h"
#include "dat/DatMessages.h"
#include "dat/SubcodeDump.h"
#include "engine/Deck.h"
#include "engine/EngineMessages.h"
#include "formats/StringPrintf.h"
#include "sound/WavePlayer.h"

// Playback from the Play button to the end of the run: start (with the one-frame step), the
// run on the sound output or the file loop, pause and stop, and the end handling with its
// restarts after a format change or a SKIP ID.
namespace tarnvel::engine {

using formats::stringPrintf;

void Deck::play(Modifiers modifiers)
{
    startPlayback(modifiers, false, PlayStart::Fresh);
}

void Deck::playToFile(Modifiers modifiers)
{
    startPlayback(modifiers, true, PlayStart::Fresh);
}

bool Deck::startPlayback(Modifiers modifiers, bool toFile, PlayStart start)
{
    if (d_ < 0 || !pipeline_)
        return false;
    // A restart comes from the end handling of its run; a new run only from idle.
    if (start == PlayStart::Fresh) {
        if (!idle() || !state_.tapeChecked.load())
            return false;
        if (modifiers.shift) {
            oneFrameStep(modifiers);
            return false;
        }
    }
    if (!enter(Activity::Starting))
        return false;
    // The run goes on in its output (the next file): after a format change, and after a skip
    // while playing to files. A skip without files starts afresh.
    const bool restart =
        start == PlayStart::FormatChange || (start == PlayStart::Skip && playToFile_);
    stopTimer();
    drive_->setVirtualIdMode(d_, virtualIdMode());
    pipeline_->prepareStart(restart ? start : PlayStart::Fresh);
    // A restart is asked for only while no Stop has come; one that comes during it stays.
    if (start == PlayStart::Fresh)
        state_.stopRequested = false;
    lastRunFailed_ = false;
    setTransportEnabled(false);

    if (restart) {
        const bool peer = fileController_ != nullptr && fileController_->output() != nullptr &&
                          fileController_->output()->peer();
        if (playToFile_ && !peer && !fileController_->restart()) {
            lastRunFailed_ = true;
            failedStart(start);
            return false;
        }
        // The run's status text again: nothing shown during the end handling stays.
        view_.setText(Control::RunningStatusStaticText,
                      playToFile_ ? fileController_->runningText() : tr(msg::kPlay));
    } else {
        view_.setText(Control::RunningStatusStaticText, tr(msg::kPlay));
        pipeline_->setEndIdMode(0);
        pipeline_->buildOutputFormat();
        if (!settings_.DisplayDate && settings_.CountRunTime && state_.tapeChecked.load()) {
            pipeline_->runCount = 0;
            timeTexts_.run = tr(msg::kTimeZero);
            view_.showTime(timeTexts_);
        }
        dat::TimeCode mem2{0, 0, 0, 0};
        if (mem2StopChecked_)
            mem2 = edits_.memTime(2);
        pipeline_->setMem2(mem2);
    }

    if (toFile && start == PlayStart::Fresh) {
        if (fileController_ == nullptr || !fileController_->setUp(modifiers)) {
            failedStart(start);
            return false;
        }
        playToFile_ = true;
        pipeline_->setOutput(fileController_->output());
        pipeline_->setFramesWritten(0);
    }

    if (!restart) {
        pipeline_->errorsLeft = 0;
        pipeline_->errorsRight = 0;
        pipeline_->errorsAbs = 0;
        pipeline_->errorFrameTotal = 0;
        pipeline_->clearErrorList();
        shownErrors_.fill(~0u);
        showErrorCounts();
    }

    bool fileLoop = false;
    if (playToFile_) {
        if (!restart)
            view_.setText(Control::RunningStatusStaticText, fileController_->runningText());
        PlayOutput* out = fileController_->output();
        if (out != nullptr && out->peer() && !fileController_->waitForPeer()) {
            fileController_->abandon();
            playToFile_ = false;
            pipeline_->setOutput(nullptr);
            failedStart(start);
            return false;
        }
        fileLoop = fileController_->fileOnly() || (out != nullptr && out->image());
    }
    if (fileLoop) {
        // PlayState is set before the loop is issued; the loop never sets it, so a Stop from
        // here on is not overwritten.
        playPath_ = PlayPath::FileLoop;
        loopParked_ = false;
        state_.playState = kStateRunning;
        subThread_->issue(SubCommand::PlayLoop);
        view_.notify(DeckEvent::FilePlayActive, 1);
    } else {
        if (!startSound()) {
            view_.showMessage(stringPrintf(tr(msg::kMessageWithDetail), tr(msg::kUnableToPlay),
                                           player_->getErrorText().c_str()),
                              MessageIcon::Warning);
            pipeline_->resetTapeFormat();
            if (playToFile_) {
                fileController_->abandon();
                playToFile_ = false;
                pipeline_->setOutput(nullptr);
            }
            lastRunFailed_ = true;
            failedStart(start);
            return false;
        }
        view_.notify(DeckEvent::PlayActive, 1);
    }
    enter(Activity::Playing);
    view_.notify(DeckEvent::DeckBusy, 1);
    refreshCount_ = 0;
    startTimer(1000);
    // A Stop while the run was being set up (its dialog, positioning or the device) ends it
    // now, through the usual end.
    if (state_.stopRequested.load())
        stopPlayback();
    return true;
}

bool Deck::startSound()
{
    const formats::WaveFormat f = pipeline_->outputFormat();
    const int count =
        f.samplesPerSec <= 48000 ? settings_.PlayBufFrames / 2 : settings_.PlayBufFrames;
    player_->setBuffers(count, 2 * pipeline_->outputFrameBytes());
    formats::WaveFormat source = f;
    if (player_->setSource({}, source))
        return false;
    playPath_ = PlayPath::Sound;
    if (!player_->start(settings_.PlayDeviceNum, settings_.ASIO_PlayChNum)) {
        playPath_ = PlayPath::None;
        return false;
    }
    return true;
}

void Deck::failedStart(PlayStart start)
{
    setTransportEnabled(false);
    if (start != PlayStart::Fresh) {
        // The end handling that asked for the restart finishes the run.
        enter(Activity::Ending);
        return;
    }
    enter(Activity::Idle);
    startTimer(200);
}

void Deck::oneFrameStep(Modifiers modifiers)
{
    if (!enter(Activity::Transport))
        return;
    stopTimer();
    drive_->setVirtualIdMode(d_, virtualIdMode());
    pipeline_->prepareStart(PlayStart::Fresh);
    state_.stopRequested = false;
    lastRunFailed_ = false;
    pipeline_->setSingleStep(true);
    // The output format follows the tape format last seen (a long-play tape decodes its
    // frames); a frame of another format is held and the step taken again in its format.
    pipeline_->buildOutputFormat();
    std::array<std::uint8_t, 2 * dat::kAudioBytes> buffer{};
    std::uint32_t n = pipeline_->playStep(buffer.data(), pipeline_->frameAudioBytes());
    if (n == 0 && pipeline_->heldFrame()) {
        pipeline_->buildOutputFormat();
        n = pipeline_->playStep(buffer.data(), pipeline_->frameAudioBytes());
    }
    // A long-play frame holds two output blocks: the step plays the whole frame.
    if (n != 0 && pipeline_->tapeFormat().longPlay) {
        const std::uint32_t second = pipeline_->playStep(buffer.data() + n, n);
        n += second;
    }
    showCounters();
    const dat::DatFrame& frame = pipeline_->currentFrame();
    if (modifiers.ctrl)
        view_.showSubcodeWindow(2, dat::buildSubcodeDump(frame), true);
    else
        view_.showSubcodeWindow(2, dat::buildSubcodeDump(frame), false);
    if (n == 0) {
        showPlayStop();
        enter(Activity::Idle);
        startTimer(200);
        return;
    }
    // The frame is heard once as 16-bit samples and shown on the meters.
    formats::WaveFormat f = formats::WaveFormat::make(
        formats::kWaveFormatPcm, 2, static_cast<std::uint32_t>(pipeline_->tapeFormat().rate), 16);
    if (!player_->setSource({}, f))
        player_->playOneShot(settings_.PlayDeviceNum, buffer.data(), n);
    if (app::computeDisplaySamples(buffer.data(), n, 16, false, n, displaySamples_)) {
        displaySamples_.sampleRate = pipeline_->tapeFormat().rate;
        DisplayRefresh r;
        r.samples = &displaySamples_;
        r.drawWaveform = true;
        view_.showDisplays(r);
    }
    enter(Activity::Idle);
    startTimer(200);
}

void Deck::pause()
{
    const Activity a = activity();
    if (a != Activity::Playing && a != Activity::Recording && a != Activity::Paused)
        return;
    if (recording()) {
        recordPause();
        return;
    }
    const bool pausing = a == Activity::Playing;
    if (!pausing) {
        // The tables are prepared while the run still waits (the loop reads them at once);
        // the file loop has parked first, after its last frame.
        while (playPath_.load() == PlayPath::FileLoop &&
               !loopParked_.load(std::memory_order_acquire) &&
               state_.playState.load() == kStatePaused && !subThread_->idle())
            pumpFor(1);
        if (activity() != Activity::Paused)
            return;
        drive_->setVirtualIdMode(d_, virtualIdMode());
    }
    bool paused = pausing;
    if (playPath_.load() == PlayPath::FileLoop) {
        state_.playState = pausing ? kStatePaused : kStateRunning;
    } else {
        player_->togglePause();
        paused = state_.playState.load() == kStatePaused;
    }
    setPauseDown(paused);
    enter(paused ? Activity::Paused : Activity::Playing);
    refreshCount_ = 0;
    if (paused)
        disarmTimer();
    else
        startTimer(1000);
    view_.notify(DeckEvent::DeckBusy, paused ? 0 : 1);
}

void Deck::stop()
{
    switch (activity()) {
    case Activity::Starting:
    case Activity::Ending:
        // Taken when the start or the end goes on: the run ends instead of starting or
        // restarting. A wait for the other instance wakes up.
        state_.stopRequested = true;
        if (recording())
            wakeRecordWaits();
        else if (fileController_ != nullptr && playToFile_)
            fileController_->stopRequested();
        return;
    case Activity::Playing:
    case Activity::Recording:
    case Activity::Paused:
        if (recording())
            recordStop();
        else
            stopPlayback();
        return;
    case Activity::Idle:
    case Activity::Polling:
    case Activity::Transport:
    case Activity::WritingIds:
        return;
    }
}

void Deck::stopPlayback()
{
    state_.stopRequested = true;
    if (fileController_ != nullptr && playToFile_)
        fileController_->stopRequested();
    switch (playPath_.load()) {
    case PlayPath::FileLoop:
        state_.playState = kStateStopped;
        break;
    case PlayPath::Sound:
        player_->stop();
        break;
    case PlayPath::None:
        break;
    }
}

void Deck::escape()
{
    if (stopEnabled_)
        stop();
    else
        abortQuery();
}

void Deck::showPlayStop()
{
    const char* limit = tr(msg::kErrorLimit);
    switch (pipeline_->stopReason()) {
    case PlayStop::ErrorLimitLeft:
        view_.setText(Control::ErrorStatusStaticText,
                      stringPrintf(tr(msg::kErrorLimitLeft), limit));
        lastRunFailed_ = true;
        break;
    case PlayStop::ErrorLimitRight:
        view_.setText(Control::ErrorStatusStaticText,
                      stringPrintf(tr(msg::kErrorLimitRight), limit));
        lastRunFailed_ = true;
        break;
    case PlayStop::ErrorLimitAbs:
        view_.setText(Control::ErrorStatusStaticText, stringPrintf(tr(msg::kErrorLimitAbs), limit));
        lastRunFailed_ = true;
        break;
    case PlayStop::Mem2:
        view_.setText(Control::ErrorStatusStaticText, tr(msg::kMem2Stop));
        break;
    case PlayStop::EndOfTape:
    case PlayStop::UnknownFormat:
    case PlayStop::ReadError: {
        const DriveFailure& f = pipeline_->driveFailure();
        keptErrorDetail_ = drive_->logText();
        if (pipeline_->stopReason() == PlayStop::EndOfTape) {
            view_.setText(Control::ErrorStatusStaticText, tr(msg::kEndOfTape));
            view_.setText(Control::RunningStatusStaticText, tr(msg::kStopped));
        } else {
            const bool unknown = pipeline_->stopReason() == PlayStop::UnknownFormat;
            if (unknown)
                state_.leadInNeeded = true;
            view_.setText(
                Control::ErrorStatusStaticText,
                stringPrintf(tr(dat::msg::kDriveErrorLine), f.commandName.data(),
                             f.statusText.data(),
                             unknown ? tr(dat::msg::kUnknownFormat) : f.senseSummary.data()));
            view_.setText(Control::RunningStatusStaticText, tr(msg::kStoppedOrError));
            lastRunFailed_ = true;
        }
        view_.beep();
        pauseWithEvents(options_.errorPauseMs);
        break;
    }
    case PlayStop::WriteFailed:
        lastRunFailed_ = true;
        break;
    case PlayStop::None:
    case PlayStop::EndId:
    case PlayStop::Held:
    case PlayStop::Skip:
        break;
    }
}

void Deck::playEnd()
{
    // Posted once by the run's loop or sound output when it has ended.
    const Activity a = activity();
    if (a != Activity::Playing && a != Activity::Paused)
        return;
    enter(Activity::Ending);
    const PlayPath path = playPath_.exchange(PlayPath::None);
    // The file loop posts this just before it returns: let it finish.
    while (!subThread_->idle())
        pumpFor(5);
    // A device that failed mid-run has shown "Stopped! ..." already.
    if (path == PlayPath::Sound && !player_->getErrorText().empty())
        lastRunFailed_ = true;
    pauseWithEvents(100);

    if (pipeline_->heldFrame() && !state_.stopRequested.load() && !lastRunFailed_) {
        pipeline_->buildOutputFormat();
        pauseWithEvents(100);
        if (!state_.stopRequested.load() && startPlayback({}, playToFile_, PlayStart::FormatChange))
            return;
    } else if (pipeline_->skipPending() && !state_.stopRequested.load()) {
        view_.clearDisplays();
        pauseWithEvents(100);
        dat::IdEntry entry;
        const bool virtualIds = virtualIdMode();
        const int n = drive_->nextPrevPNo(d_, false, virtualIds, &entry);
        const bool found = n > 0 && programSearch(n, virtualIds ? &entry : nullptr);
        if (found && !state_.stopRequested.load()) {
            stopTimer();
            drive_->setVirtualIdMode(d_, virtualIds);
            if (startPlayback({}, playToFile_, PlayStart::Skip))
                return;
        }
    }

    showPlayStop();
    if (playToFile_) {
        fileController_->finish();
        playToFile_ = false;
        pipeline_->setOutput(nullptr);
    }
    returnToIdle();
    view_.notify(DeckEvent::PlayActive, 0);
    ++playEnds_;
}

void Deck::returnToIdle()
{
    view_.notify(DeckEvent::DeckBusy, 0);
    setTransportEnabled(false);
    setPauseDown(false);
    view_.setEnabled(Control::PauseButton, false);
    view_.setEnabled(Control::StopButton, false);
    stopEnabled_ = false;
    view_.setVisible(Control::AutoIdReadyMark, false);
    view_.setStatusColours(StatusColours::Normal);
    enter(Activity::Idle);
    startTimer(200);
}

} // namespace tarnvel::engine
