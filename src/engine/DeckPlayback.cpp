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
    startPlayback(modifiers, false);
}

void Deck::playToFile(Modifiers modifiers)
{
    playToFileRequest_ = true;
    startPlayback(modifiers, false);
}

void Deck::startPlayback(Modifiers modifiers, bool restart)
{
    if (d_ < 0 || !pipeline_)
        return;
    if (!restart && (!idle() || !state_.tapeChecked.load())) {
        playToFileRequest_ = false;
        return;
    }
    const bool toFile = playToFileRequest_;
    playToFileRequest_ = false;
    stopTimer();
    drive_->setVirtualIdMode(d_, virtualIdMode());
    pipeline_->prepareStart(restart);
    state_.stopRequested = false;
    lastRunFailed_ = false;

    if (modifiers.shift && !restart) {
        oneFrameStep(modifiers);
        return;
    }
    setTransportEnabled(false);

    if (restart && fileOutputActive_) {
        const bool peer = fileController_->output() != nullptr && fileController_->output()->peer();
        if (!peer && !fileController_->restart()) {
            lastRunFailed_ = true;
            failedStart();
            return;
        }
    } else if (!restart) {
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

    if (toFile) {
        if (fileController_ == nullptr || !fileController_->setUp(modifiers)) {
            failedStart();
            return;
        }
        fileOutputActive_ = true;
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
    if (fileOutputActive_) {
        if (!restart)
            view_.setText(Control::RunningStatusStaticText, fileController_->runningText());
        PlayOutput* out = fileController_->output();
        if (out != nullptr && out->peer() && !fileController_->waitForPeer()) {
            fileController_->abandon();
            fileOutputActive_ = false;
            pipeline_->setOutput(nullptr);
            failedStart();
            return;
        }
        fileLoop = fileController_->fileOnly() || (out != nullptr && out->image());
    }
    if (fileLoop) {
        fileOnlyRun_ = true;
        state_.playState = kStateRunning;
        subThread_->issue(SubCommand::PlayLoop);
        view_.notify(DeckEvent::FilePlayActive, 1);
    } else {
        if (!startSound()) {
            view_.showMessage(stringPrintf(tr(msg::kMessageWithDetail), tr(msg::kUnableToPlay),
                                           player_->getErrorText().c_str()),
                              MessageIcon::Warning);
            pipeline_->resetTapeFormat();
            if (fileOutputActive_) {
                fileController_->abandon();
                fileOutputActive_ = false;
                pipeline_->setOutput(nullptr);
            }
            lastRunFailed_ = true;
            failedStart();
            return;
        }
        view_.notify(DeckEvent::PlayActive, 1);
    }
    state_.paused = false;
    state_.running = true;
    view_.notify(DeckEvent::DeckBusy, 1);
    refreshCount_ = 0;
    startTimer(1000);
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
    soundRun_ = true;
    if (!player_->start(settings_.PlayDeviceNum, settings_.ASIO_PlayChNum)) {
        soundRun_ = false;
        return false;
    }
    return true;
}

void Deck::failedStart()
{
    setTransportEnabled(false);
    startTimer(200);
}

void Deck::oneFrameStep(Modifiers modifiers)
{
    pipeline_->setSingleStep(true);
    std::array<std::uint8_t, dat::kAudioBytes> buffer{};
    std::uint32_t n = pipeline_->playStep(buffer.data(), pipeline_->frameAudioBytes());
    if (n == 0 && pipeline_->heldFrame()) {
        pipeline_->buildOutputFormat();
        n = pipeline_->playStep(buffer.data(), pipeline_->frameAudioBytes());
    }
    showCounters();
    const dat::DatFrame& frame = pipeline_->currentFrame();
    if (modifiers.ctrl)
        view_.showSubcodeWindow(2, dat::buildSubcodeDump(frame), true);
    else
        view_.showSubcodeWindow(2, dat::buildSubcodeDump(frame), false);
    if (n == 0) {
        showPlayStop();
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
    startTimer(200);
}

void Deck::pause()
{
    if (recording()) {
        recordPause();
        return;
    }
    const int ps = state_.playState.load();
    if (ps != kStateRunning && ps != kStatePaused)
        return;
    if (fileOnlyRun_) {
        const bool pausing = ps == kStateRunning;
        state_.playState = pausing ? kStatePaused : kStateRunning;
        state_.paused = pausing;
        setPauseDown(pausing);
    } else if (soundRun_) {
        player_->togglePause();
        state_.paused = state_.playState.load() == kStatePaused;
        setPauseDown(state_.paused.load());
    }
    refreshCount_ = 0;
    const bool paused = state_.paused.load();
    if (paused) {
        timerArmed_ = false;
        if (timerScheduled_)
            ui_.cancel(timerId_);
        timerScheduled_ = false;
    } else {
        startTimer(1000);
    }
    state_.running = !paused;
    view_.notify(DeckEvent::DeckBusy, paused ? 0 : 1);
    if (!paused)
        drive_->setVirtualIdMode(d_, virtualIdMode());
}

void Deck::stop()
{
    if (recording()) {
        recordStop();
        return;
    }
    state_.stopRequested = true;
    if (fileController_ != nullptr && fileOutputActive_)
        fileController_->stopRequested();
    if (fileOnlyRun_) {
        state_.playState = kStateStopped;
    } else if (soundRun_) {
        player_->stop();
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
    const bool soundRun = soundRun_;
    soundRun_ = false;
    fileOnlyRun_ = false;
    state_.running = false;
    // The file loop posts this just before it returns: let it finish.
    while (!subThread_->idle())
        pumpFor(5);
    // A device that failed mid-run has shown "Stopped! ..." already.
    if (soundRun && !player_->getErrorText().empty())
        lastRunFailed_ = true;
    pauseWithEvents(100);

    if (pipeline_->heldFrame() && !state_.stopRequested.load() && !lastRunFailed_) {
        pipeline_->buildOutputFormat();
        pauseWithEvents(100);
        startPlayback({}, true);
        if (state_.running.load())
            return;
    } else if (pipeline_->skipPending() && !state_.stopRequested.load()) {
        view_.clearDisplays();
        pauseWithEvents(100);
        dat::IdEntry entry;
        const bool virtualIds = virtualIdMode();
        const int n = drive_->nextPrevPNo(d_, false, virtualIds, &entry);
        transportBusy_ = true;
        const bool found = n > 0 && programSearch(n, virtualIds ? &entry : nullptr);
        transportBusy_ = false;
        if (found) {
            stopTimer();
            drive_->setVirtualIdMode(d_, virtualIds);
            startPlayback({}, fileOutputActive_);
            if (state_.running.load())
                return;
        }
    }

    showPlayStop();
    if (fileOutputActive_) {
        fileController_->finish();
        fileOutputActive_ = false;
        pipeline_->setOutput(nullptr);
    }
    returnToIdle();
    view_.notify(DeckEvent::PlayActive, 0);
    ++playEnds_;
}

void Deck::returnToIdle()
{
    state_.running = false;
    state_.paused = false;
    view_.notify(DeckEvent::DeckBusy, 0);
    setTransportEnabled(false);
    setPauseDown(false);
    view_.setEnabled(Control::PauseButton, false);
    view_.setEnabled(Control::StopButton, false);
    stopEnabled_ = false;
    view_.setVisible(Control::AutoIdReadyMark, false);
    view_.setStatusColours(StatusColours::Normal);
    startTimer(200);
}

} // namespace tarnvel::engine
