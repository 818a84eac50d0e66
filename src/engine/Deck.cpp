#include "engine/Deck.h"

#include "app/AppMessages.h"
#include "app/ProgramIdentity.h"
#include "dat/DatMessages.h"
#include "dat/MotionWait.h"
#include "dat/UnitStatus.h"
#include "engine/DeckRecord.h"
#include "engine/EngineMessages.h"
#include "formats/StringPrintf.h"
#include "scsi/AbortDialog.h"
#include "scsi/ScsiStatus.h"
#include "sound/WavePlayer.h"

#include <chrono>
#include <thread>

namespace tarnvel::engine {

using formats::stringPrintf;

namespace {

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

constexpr Control kTransportControls[] = {
    Control::EjectButton,    Control::REW_Button,        Control::FF_Button,
    Control::PrevPNoButton,  Control::NextPNoButton,     Control::SearchStartButton,
    Control::Mem2StopLabel,  Control::Mem2StopCheckBox,  Control::PlayToFileButton,
    Control::PlayButton,     Control::RecFromFileButton, Control::RecButton,
    Control::WriteID_Button, Control::EraseID_Button,
};
constexpr Control kMem2Edits[] = {Control::SearchH2Edit, Control::SearchM2Edit,
                                  Control::SearchS2Edit, Control::SearchF2Edit};

} // namespace

std::string_view controlName(Control c)
{
    static constexpr std::string_view kNames[] = {
        "EjectButton",
        "REW_Button",
        "FF_Button",
        "PrevPNoButton",
        "NextPNoButton",
        "SearchStartButton",
        "Mem2StopLabel",
        "Mem2StopCheckBox",
        "SearchH2Edit",
        "SearchM2Edit",
        "SearchS2Edit",
        "SearchF2Edit",
        "PlayToFileButton",
        "PlayButton",
        "RecFromFileButton",
        "RecButton",
        "WriteID_Button",
        "EraseID_Button",
        "PauseButton",
        "StopButton",
        "MuteButton",
        "AutoID_CheckBox",
        "AutoIdReadyMark",
        "PM_PageUpSpeedButton",
        "PM_PageDownSpeedButton",
        "RunningStatusStaticText",
        "ErrorStatusStaticText",
        "ErrorLchStaticText",
        "ErrorRchStaticText",
        "AbsTimeErrorStaticText",
        "FormatStaticText",
        "EmphStaticText",
        "CopyStatusStaticText",
        "ProgNumStaticText",
        "IDStaticText",
        "DeviceStaticText",
        "WriteID_Edit",
        "ID_GroupBox",
        "TapeLengthComboBox",
    };
    static_assert(std::size(kNames) == static_cast<std::size_t>(Control::Count_));
    const auto i = static_cast<std::size_t>(c);
    return i < std::size(kNames) ? kNames[i] : std::string_view{"?"};
}

Deck::Deck(UiThread& ui, DeckView& view, app::Settings& settings, DeckOptions options)
    : ui_(ui), view_(view), settings_(settings), options_(std::move(options)),
      title_(app::programTitle(options_.instance)), adoptReadyTape_(options_.keepTapePlace)
{
    construct();
}

void Deck::construct()
{
    applyPlaySettings();
    mem2StopChecked_ = settings_.EnableMem2Stop;
    meter_.setTapeLength(settings_.TapeLength);

    // The engine's threads first: the drive check of the first activation runs on one.
    subThread_ = std::make_unique<SubThread>([this](SubCommand c) { executeSubCommand(c); });
    writeThread_ = std::make_unique<WriteThread>([this](const dat::DatFrame& frame) {
        if (drive_->writeFrame(d_, frame.data(), dat::kFrameBytes) == scsi::kSsComp)
            return WriteResult::Written;
        return drive_->senseKey() == 0x0D ? WriteResult::EndOfTape : WriteResult::Failed;
    });
    displayThread_ = std::make_unique<DisplayThread>([this] { return displayTurn(); });
    rec_ = std::make_unique<DeckRecording>(*this, ui_, view_, *writeThread_, state_.stopRequested,
                                           settings_);
    leadInOffer_ = [this] { offerLeadIn(); };

    sound::WavePlayer::Config pc;
    pc.owner = this;
    pc.stateWord = &state_.playState;
    pc.messages = &view_;
    pc.driverType = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType);
    pc.threadPriority = 3 + settings_.PlayThreadPriority;
    pc.useExtensible = settings_.Use_WF_EXTENSIBLE;
    pc.backends = options_.audio;
    pc.sourceProc = [this](std::uint8_t* buffer, std::uint32_t bytes) {
        return pipeline_->frameSource(buffer, bytes);
    };
    // The counters follow every buffer the sound output fills (it runs this on our thread).
    pc.progressProc = [this] { showCounters(); };
    pc.sourceHoldProc = [this](bool release) {
        if (release)
            displayThread_->release();
        else
            displayThread_->hold([this](int ms) { pumpFor(ms); });
    };
    player_ = std::make_unique<sound::WavePlayer>(pc);

    std::string error;
    if (options_.openDrive)
        drive_ = options_.openDrive(error);
    if (!drive_) {
        startupError_ = error.empty() ? tr(app::msg::kDatObjectFailed)
                                      : std::string(tr(app::msg::kScsiError)) + error;
        return;
    }
    view_.setText(Control::RunningStatusStaticText,
                  tr(drive_->isSpti() ? app::msg::kSptiMode : app::msg::kAspiMode));
    if (drive_->deviceCount() == 0)
        startupError_ = tr(app::msg::kTapeDriveNotFound);
}

Deck::~Deck()
{
    timerArmed_ = false;
    if (timerScheduled_)
        ui_.cancel(timerId_);
    timerScheduled_ = false;
    shutdownRecording();
    if (player_)
        player_->stop();
    player_.reset();
    // A thread may be waiting for this thread: keep serving it until each has stopped.
    displayThread_->hold([this](int ms) { pumpFor(ms); });
    displayThread_->terminate();
    while (!subThread_->idle())
        pumpFor(5);
    subThread_->terminate();
    writeThread_->terminate();
    // A run that ended while the threads were stopped has asked for the timer again.
    if (timerScheduled_)
        ui_.cancel(timerId_);
    timerScheduled_ = false;
    if (options_.saveSettings)
        options_.saveSettings();
    if (drive_) {
        // Leave the drives as ordinary backup software expects them; a drive that refuses is
        // skipped (each call goes on with the drives after it).
        for (int i = 0; i <= dat::DatDrive::kMaxDrives && !drive_->restoreDataMode(); ++i) {
        }
        drive_->setLogFile(nullptr);
    }
}

void Deck::applyPlaySettings()
{
    const app::Settings& s = settings_;
    playSettings_.enableSkipPlay = s.EnableSkipPlay;
    playSettings_.enableErrorMute = s.EnableErrorMute;
    playSettings_.resetErrorAtId = s.ResetErrorAtID;
    playSettings_.writeAbsTimeErrorFrameToFile = s.WriteAbsTimeErrorFrameToFile;
    playSettings_.errorStopCounter = static_cast<std::uint32_t>(s.ErrorStopCounter);
    playSettings_.absTimeErrorStopCounter = static_cast<std::uint32_t>(s.AbsTimeErrorStopCounter);
    playSettings_.mem2StopChecked = mem2StopChecked_;
    playSettings_.countPgmTime = s.CountPgmTime;
    playSettings_.countRunTime = s.CountRunTime;
    playSettings_.countRealTime = s.CountRealTime;
    playSettings_.extendedFormatMode = s.ExtendedFormatMode != 0;
    playSettings_.extendedFormatBitLen = s.ExtendedFormatBitLen;
    playSettings_.enableDeEmphasis = s.EnableDeEmphasis;
    playSettings_.ditherType = s.DitherType;
}

void Deck::settingsChanged()
{
    applyPlaySettings();
}

// --- Start-up and shutdown -----------------------------------------------------------------

void Deck::firstActivation()
{
    if (activated_)
        return;
    activated_ = true;
    if (settings_.DatLog && drive_) {
        view_.showMessage(tr(app::msg::kCreateDatLog), MessageIcon::Information);
        drive_->setLogFile(options_.logFile.c_str());
    }
    if (startupError_.empty()) {
        view_.setText(Control::RunningStatusStaticText, tr(app::msg::kWait));
        const int count = drive_->deviceCount();
        // The second instance takes the second drive, unless the user named one.
        const int first = (options_.instance == 2 && !options_.explicitDrive && count >= 1) ? 1 : 0;
        for (int i = first; i < count && d_ < 0; ++i) {
            if (!options_.drivePath.empty() && drive_->devicePath(i) != options_.drivePath)
                continue;
            driveCheckParameter_ = i;
            driveCheckResult_ = false;
            runSubCommand(SubCommand::DriveCheck, 5);
            if (driveCheckResult_)
                d_ = i;
        }
        if (d_ >= 0) {
            const scsi::ScsiDeviceEntry e = drive_->getDevice(d_);
            view_.setText(Control::DeviceStaticText,
                          app::deviceLineText(e.hostAdapter, e.target, e.vendorText(),
                                              e.productText(), e.revisionText()));
            pipeline_ = std::make_unique<PlaybackPipeline>(*drive_, d_, playSettings_);
        } else {
            view_.setText(Control::RunningStatusStaticText, "");
            startupError_ = app::audioDriveNotFoundText(options_.instance);
        }
    }
    if (!startupError_.empty()) {
        view_.showMessage(startupError_, MessageIcon::Warning);
        view_.setText(Control::RunningStatusStaticText, "");
    }
    if (options_.newSettingsFile) {
        view_.showMessage(tr(app::msg::kReferToHelp), MessageIcon::Information);
        view_.openHelp({});
    }
    if (d_ >= 0)
        startTimer(1000);
}

bool Deck::closeRequest(Modifiers /*modifiers*/)
{
    switch (activity()) {
    case Activity::Playing:
    case Activity::Recording:
    case Activity::Paused:
        // A run ends through its end handling, which runs while this waits.
        stop();
        while (activity() != Activity::Idle)
            pumpFor(10);
        break;
    case Activity::Starting:
    case Activity::Ending:
    case Activity::Transport:
    case Activity::WritingIds: {
        // The window thread is inside that work (this request came while it served events):
        // it cannot be waited for here. Closing anyway asks a start or an end to stop.
        ++closeAttempts_;
        const Answer a = view_.ask(app::unableToCloseText(closeAttempts_), Buttons::Ok);
        if (!a.shift)
            return false;
        stop();
        break;
    }
    case Activity::Idle:
    case Activity::Polling:
        break;
    }
    return abortQuery();
}

bool Deck::abortQuery()
{
    if (!drive_)
        return true;
    scsi::AbortDialogView dialog;
    dialog.ask = [this](const std::string& q) { return view_.ask(q, Buttons::YesNo).yes; };
    dialog.wait = [this](int ms) { pumpFor(ms); };
    dialog.tell = [this](const std::string& t) { view_.showMessage(t, MessageIcon::Warning); };
    return scsi::runAbortDialog(*drive_, dialog);
}

bool Deck::enter(Activity next)
{
    const Activity from = activity();
    bool allowed = false;
    switch (from) {
    case Activity::Idle:
        allowed = next == Activity::Polling || next == Activity::Transport ||
                  next == Activity::WritingIds || next == Activity::Starting;
        break;
    case Activity::Polling:
    case Activity::WritingIds:
        allowed = next == Activity::Idle;
        break;
    case Activity::Transport:
        allowed = next == Activity::Idle;
        break;
    case Activity::Starting:
        // A first start that fails goes back to idle; a restart that fails, to the end
        // handling that asked for it.
        allowed = next == Activity::Playing || next == Activity::Recording ||
                  next == Activity::Paused || next == Activity::Idle || next == Activity::Ending;
        break;
    case Activity::Playing:
    case Activity::Recording:
        allowed = next == Activity::Paused || next == Activity::Ending;
        break;
    case Activity::Paused:
        allowed =
            next == Activity::Playing || next == Activity::Recording || next == Activity::Ending;
        break;
    case Activity::Ending:
        // Restarts (format change, skip, the next file of a list) start again from here.
        allowed = next == Activity::Idle || next == Activity::Starting;
        break;
    }
    if (!allowed)
        return false;
    state_.activity = next;
    state_.running = next == Activity::Playing || next == Activity::Recording;
    state_.paused = next == Activity::Paused;
    return true;
}

// --- SoundOwner ------------------------------------------------------------------------------

void Deck::invoke(const std::function<void()>& fn)
{
    ui_.invoke(fn);
}

void Deck::post(sound::SoundEvent event)
{
    if (event == sound::SoundEvent::PlayEnd)
        ui_.post([this] { playEnd(); });
}

void Deck::pumpFor(int ms)
{
    if (ui_.onUiThread())
        ui_.pumpFor(ms);
    else
        sleepMs(ms);
}

void Deck::setControlEnabled(sound::SoundControl control, bool enabled)
{
    switch (control) {
    case sound::SoundControl::Stop:
        stopEnabled_ = enabled;
        view_.setEnabled(Control::StopButton, enabled);
        break;
    case sound::SoundControl::Pause:
        view_.setEnabled(Control::PauseButton, enabled);
        break;
    case sound::SoundControl::Other:
        recEnabled_ = enabled;
        view_.setEnabled(Control::RecButton, enabled);
        break;
    case sound::SoundControl::Start:
        break;
    }
}

bool Deck::controlEnabled(sound::SoundControl control) const
{
    return control == sound::SoundControl::Other ? recEnabled_ : false;
}

void Deck::setPauseDown(bool down)
{
    pauseDown_ = down;
    view_.setDown(Control::PauseButton, down);
}

// --- The sub thread ------------------------------------------------------------------------

bool Deck::runSubCommand(SubCommand command, int pumpMs)
{
    if (!subThread_->issue(command))
        return false;
    while (!subThread_->idle())
        pumpFor(pumpMs);
    return true;
}

void Deck::executeSubCommand(SubCommand command)
{
    switch (command) {
    case SubCommand::DriveCheck:
        driveCheckResult_ = drive_->identify(driveCheckParameter_);
        break;
    case SubCommand::StatusPoll:
        statusPoll();
        break;
    case SubCommand::MotionWait:
        motionWait();
        break;
    case SubCommand::PlayLoop:
        playLoop();
        break;
    case SubCommand::RecordLoop:
        recordLoop();
        break;
    case SubCommand::None:
        break;
    }
}

void Deck::statusPoll()
{
    const dat::UnitStatus status = drive_->datTestUnitReady(d_);
    state_.lastUnitStatus = status;
    // A busy drive is moving or settling: its tape and tables stay as they are.
    if (status != dat::kUnitReady && status != dat::kUnitBusy)
        state_.tapeChecked = false;
    const std::string text = dat::unitStatusText(status);
    const std::string detail = dat::unitStatusDetail(status, drive_->senseSummary());

    if (adoptReadyTape_ && status != dat::kUnitReset) {
        adoptReadyTape_ = false;
        if (status == dat::kUnitReady && !state_.tapeChecked.load()) {
            ui_.invoke([this] {
                state_.tapeChecked = true;
                drive_->resetDrive(d_);
                if (const dat::TapePosition* p = drive_->readPositionAndParse(d_, false))
                    showPosition(*p, false);
            });
        }
    }
    bool arrival = false;
    if (status == dat::kUnitReady && !state_.tapeChecked.load()) {
        arrival = true;
        ui_.invoke([this] {
            recEnabled_ = false;
            view_.setEnabled(Control::RecButton, false);
        });
        const bool ok = drive_->tapeArrival(d_, [this] {
            ui_.invoke([this] {
                view_.setText(Control::RunningStatusStaticText, tr(dat::msg::kLoading));
            });
        });
        pipeline_->pgmCount = 0;
        pipeline_->runCount = 0;
        if (ok) {
            ui_.invoke([this] {
                state_.tapeChecked = true;
                drive_->resetDrive(d_);
                if (const dat::TapePosition* p = drive_->readFrameParsed(d_, stepFrame_))
                    showPosition(*p, true);
                else if (drive_->senseKey() == 8 && drive_->senseAsc() == 0x30 &&
                         drive_->senseAscq() == 0x01)
                    state_.leadInNeeded = true; // a never recorded tape
            });
        }
    }

    ui_.invoke([&] {
        if (status != previousStatus_)
            view_.setText(Control::ErrorStatusStaticText, "");
        previousStatus_ = status;
        if (arrival)
            return;
        const bool checked = state_.tapeChecked.load();
        view_.setStatusColours(StatusColours::Normal);
        view_.setText(Control::RunningStatusStaticText, text);
        if (!detail.empty())
            view_.setText(Control::ErrorStatusStaticText, detail);
        if (checked && status != dat::kUnitBusy) {
            setTransportEnabled(true);
        } else {
            setTransportEnabled(false);
            // Recording can be set up without a tape (it waits for one), never while the drive
            // is busy.
            recEnabled_ = (checked && status != dat::kUnitBusy) || status == dat::kUnitTapeNone;
            view_.setEnabled(Control::RecButton, recEnabled_);
            if (!checked) {
                resetTimeDisplay();
                drive_->resetDrive(d_);
            }
        }
    });
}

void Deck::motionWait()
{
    dat::MotionWaitHooks hooks;
    hooks.sleep = options_.motionSleep;
    hooks.show = [this](const dat::TapePosition& p) {
        ui_.invoke([this, &p] { showPosition(p, false); });
    };
    dat::waitForMotionEnd(*drive_, d_, hooks);
}

void Deck::playLoop()
{
    // The deck set PlayState before it issued the loop: a Stop that came since stays.
    ui_.invoke([this] {
        stopEnabled_ = true;
        view_.setEnabled(Control::StopButton, true);
        view_.setEnabled(Control::PauseButton, true);
    });
    // The loop turns as fast as the drive gives frames; the counters follow a few times a
    // second (a window-thread hand-off per frame would cost more than the copy).
    auto lastShown = std::chrono::steady_clock::now();
    for (;;) {
        const int ps = state_.playState.load();
        if (ps == kStateStopped)
            break;
        if (ps == kStatePaused) {
            loopParked_.store(true, std::memory_order_release);
            sleepMs(5);
            continue;
        }
        loopParked_.store(false, std::memory_order_relaxed);
        if (pipeline_->fileTurn() == 0)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown >= std::chrono::milliseconds(50)) {
            lastShown = now;
            ui_.invoke([this] { showCounters(); });
        }
    }
    ui_.invoke([this] {
        showCounters();
        stopEnabled_ = false;
        view_.setEnabled(Control::StopButton, false);
        setPauseDown(false);
        view_.setEnabled(Control::PauseButton, false);
        state_.playState = kStateStopped;
    });
    ui_.post([this] { playEnd(); });
}

int Deck::displayTurn()
{
    if (rec_->kind.load() != RecordKind::None)
        return recordDisplayTurn();
    const int interval = state_.displayIntervalMs.load();
    const int ps = state_.playState.load();
    if (ps == kStatePaused)
        return 50;
    const bool fetch = ps == kStateRunning && playPath_.load() == PlayPath::Sound;
    const bool refreshOnly = state_.recState.load() == kStatePaused || ps == kStateStarting;
    if (!fetch && !refreshOnly)
        return interval;
    if (fetch) {
        const int bits = pipeline_->containerBits();
        const std::size_t bytes =
            std::min(app::displayBytesPerFrame(pipeline_->frameAudioBytes(), std::abs(bits)),
                     displayBytes_.size());
        player_->getMonitorData(displayBytes_.data(), static_cast<std::uint32_t>(bytes));
        app::computeDisplaySamples(displayBytes_.data(), bytes, std::abs(bits), bits < 0,
                                   pipeline_->frameAudioBytes(), displaySamples_);
        displaySamples_.sampleRate = static_cast<int>(pipeline_->outputFormat().samplesPerSec);
    }
    ui_.invoke([this] {
        const auto second = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        if (second != refreshSecond_) {
            refreshesPerSecond_ = refreshCount_;
            refreshCount_ = 0;
            refreshSecond_ = second;
        }
        ++refreshCount_;
        DisplayRefresh r;
        r.samples = &displaySamples_;
        r.drawWaveform = (refreshCount_ & 1) == 0;
        r.refreshesPerSecond = refreshesPerSecond_;
        view_.showDisplays(r);
    });
    return interval;
}

// --- The polling timer -----------------------------------------------------------------------

void Deck::startTimer(int ms)
{
    timerArmed_ = true;
    if (timerScheduled_)
        ui_.cancel(timerId_);
    timerScheduled_ = true;
    timerId_ = ui_.callAfter(ms, [this] {
        timerScheduled_ = false;
        timerTick();
    });
}

void Deck::disarmTimer()
{
    timerArmed_ = false;
    if (timerScheduled_)
        ui_.cancel(timerId_);
    timerScheduled_ = false;
}

void Deck::stopTimer()
{
    disarmTimer();
    // A poll or motion wait in progress finishes first (the loops are stopped by their owner).
    while (subThread_->command() == SubCommand::StatusPoll ||
           subThread_->command() == SubCommand::MotionWait)
        pumpFor(5);
    view_.setText(Control::ErrorStatusStaticText, "");
}

void Deck::pollNow()
{
    if (timerScheduled_)
        ui_.cancel(timerId_);
    timerScheduled_ = false;
    timerTick();
}

void Deck::timerTick()
{
    // Only an idle deck is polled: a run, its start and its end, and the window thread's own
    // drive work all keep the drive to themselves.
    if (d_ >= 0 && subThread_->idle() && enter(Activity::Polling)) {
        runSubCommand(SubCommand::StatusPoll, 50);
        enter(Activity::Idle);
        // A read that met a never recorded tape (here or in the last playback).
        if (state_.leadInNeeded.exchange(false) && leadInOffer_)
            leadInOffer_();
    }
    if (timerArmed_ && !timerScheduled_) {
        timerScheduled_ = true;
        timerId_ = ui_.callAfter(1000, [this] {
            timerScheduled_ = false;
            timerTick();
        });
    }
}

// --- Controls and displays -----------------------------------------------------------------

void Deck::setTransportEnabled(bool enabled)
{
    transportEnabled_ = enabled;
    for (Control c : kTransportControls) {
        if (c == Control::RecButton)
            recEnabled_ = enabled;
        view_.setEnabled(c, enabled);
    }
    for (Control c : kMem2Edits)
        view_.setEnabled(c, enabled && mem2StopChecked_);
    if (enabled) {
        view_.setEnabled(Control::AutoID_CheckBox, true);
    } else {
        view_.setEnabled(Control::MuteButton, false);
        view_.setVisible(Control::PM_PageUpSpeedButton, false);
        view_.setVisible(Control::PM_PageDownSpeedButton, false);
        meter_.resetPage();
    }
    showMeter();
}

void Deck::resetTimeDisplay()
{
    programDisplay_.reset();
    showPosition(dat::TapePosition{}, false);
}

void Deck::showPosition(const dat::TapePosition& pos, bool fromFrame)
{
    app::TimeCounters counters;
    counters.pgmCounting = settings_.CountPgmTime;
    counters.runCounting = settings_.CountRunTime;
    if (pipeline_) {
        counters.pgmCount = pipeline_->pgmCount.load();
        counters.runCount = pipeline_->runCount.load();
    }
    const bool checked = state_.tapeChecked.load();
    TimeTexts t;
    t.abs = app::absText(pos);
    t.pgm = app::pgmText(pos, counters, settings_.DisplayDate, checked);
    t.run = app::runText(pos, counters, settings_.DisplayDate, checked);
    if (t.abs != timeTexts_.abs || t.pgm != timeTexts_.pgm || t.run != timeTexts_.run) {
        timeTexts_ = t;
        view_.showTime(timeTexts_);
    }
    const app::ProgramIdView v = programDisplay_.update(pos, fromFrame);
    view_.setText(Control::ProgNumStaticText, v.numberText);
    view_.setText(Control::IDStaticText, v.idText);
    view_.setVisible(Control::IDStaticText, v.idVisible);
    if (v.writeIdNext) {
        int next = *v.writeIdNext;
        if (rec_->recorder && recording()) {
            // A copy from the other instance numbers its STARTs as they come, ahead of what
            // is shown here: the display never takes its number back.
            rec_->recorder->followWriteIdNumber(next);
            next = rec_->recorder->writeIdNumber();
        } else if (rec_->recorder) {
            rec_->recorder->setWriteIdNumber(next);
        }
        rec_->writeIdText = std::to_string(next);
        view_.setText(Control::WriteID_Edit, rec_->writeIdText);
    }
    meter_.follow(dat::isLeadInDigits(static_cast<std::uint16_t>(pos.pNoDigits)) ? 0
                                                                                 : pos.absSeconds);
    refreshMeterCopy();
    showMeter();
}

void Deck::refreshMeterCopy()
{
    if (!drive_ || d_ < 0)
        return;
    const dat::TapePosition* p = drive_->getPosition(d_);
    meterPositionSeconds_ =
        dat::isLeadInDigits(static_cast<std::uint16_t>(p->pNoDigits)) ? 0 : p->absSeconds;
    meterIds_ = *drive_->getTable(d_, virtualIdMode());
}

void Deck::showMeter()
{
    PositionMeterView m;
    m.startSeconds = meter_.start();
    m.endSeconds = meter_.end();
    m.page = meter_.page();
    m.autoLength = meter_.autoLength();
    m.virtualIdMode = virtualIdMode();
    m.searchBoxShown = !searchBox_.empty();
    m.searchBoxText = searchBox_;
    // The setter of the tape length may come during playback, when the play thread parses.
    if (idle())
        refreshMeterCopy();
    m.positionSeconds = meterPositionSeconds_;
    m.ids = meterIds_;
    view_.showPositionMeter(m);
}

void Deck::showErrorCounts()
{
    const std::array<std::uint32_t, 3> counts{
        pipeline_->errorsLeft.load(), pipeline_->errorsRight.load(), pipeline_->errorsAbs.load()};
    constexpr Control fields[3] = {Control::ErrorLchStaticText, Control::ErrorRchStaticText,
                                   Control::AbsTimeErrorStaticText};
    for (int i = 0; i < 3; ++i) {
        if (counts[i] != shownErrors_[i]) {
            shownErrors_[i] = counts[i];
            view_.setText(fields[i], std::to_string(counts[i]));
        }
    }
}

void Deck::showFormat()
{
    const TapeFormat& f = pipeline_->tapeFormat();
    if (f == shownFormat_)
        return;
    shownFormat_ = f;
    view_.setText(Control::FormatStaticText, stringPrintf(tr(msg::kFormatText), f.rate, f.bits));
    view_.setVisible(Control::EmphStaticText, f.emphasis);
    view_.setText(Control::CopyStatusStaticText, tr(msg::kCopyTexts[f.copyBits & 3]));
}

void Deck::showCounters()
{
    if (!pipeline_)
        return;
    showPosition(*drive_->getPosition(d_), true);
    showErrorCounts();
    showFormat();
}

void Deck::errorCountDoubleClick(Control counter)
{
    if (!pipeline_)
        return;
    std::atomic<std::uint32_t>* count =
        counter == Control::ErrorLchStaticText       ? &pipeline_->errorsLeft
        : counter == Control::ErrorRchStaticText     ? &pipeline_->errorsRight
        : counter == Control::AbsTimeErrorStaticText ? &pipeline_->errorsAbs
                                                     : nullptr;
    if (count == nullptr)
        return;
    count->store(0);
    shownErrors_.fill(~0u);
    showErrorCounts();
}

void Deck::timeDisplayDoubleClick(int y, app::MouseButton button, bool shift)
{
    if (!pipeline_)
        return;
    app::TimeCounters counters;
    counters.pgmCounting = settings_.CountPgmTime;
    counters.runCounting = settings_.CountRunTime;
    counters.pgmCount = pipeline_->pgmCount.load();
    counters.runCount = pipeline_->runCount.load();
    const bool idleChecked = idle() && tapeChecked();
    const app::CounterResetResult r = app::resetCounterByDoubleClick(
        counters, y, button, shift, idleChecked, *drive_->getPosition(d_));
    pipeline_->pgmCount = counters.pgmCount;
    pipeline_->runCount = counters.runCount;
    if (r.newText) {
        if (r.line == app::TimeLine::Pgm)
            timeTexts_.pgm = *r.newText;
        else if (r.line == app::TimeLine::Run)
            timeTexts_.run = *r.newText;
        view_.showTime(timeTexts_);
    }
}

void Deck::errorStatusDoubleClick(bool shift)
{
    const std::string caption = stringPrintf(tr(msg::kScsiStatusCaption), title_.c_str());
    if (shift && drive_)
        view_.showMessage(drive_->logText(), MessageIcon::Information, caption);
    else if (!keptErrorDetail_.empty())
        view_.showMessage(keptErrorDetail_, MessageIcon::Information, caption);
}

void Deck::suspendDisplay()
{
    displayThread_->suspend([this](int ms) { pumpFor(ms); });
}

void Deck::resumeDisplay()
{
    displayThread_->resume();
}

void Deck::pauseWithEvents(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until)
        pumpFor(std::min(ms, 20));
}

} // namespace tarnvel::engine
