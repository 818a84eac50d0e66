#include "engine/DeckRecord.h"

#include "dat/DatMessages.h"
#include "engine/EngineMessages.h"
#include "formats/StringPrintf.h"
#include "record/RecordMessages.h"
#include "scsi/ScsiStatus.h"
#include "sound/WavePlayer.h"

#include <chrono>
#include <ctime>
#include <thread>

// Recording runs: the Rec and record-from-file starts, the run on its producer thread (the
// sound input, the sound output, or the sub thread's record loop), pause, mute and stop, and
// the end of a run with its continuation to the next file of a list.
namespace tarnvel::engine {

using formats::stringPrintf;

namespace {

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool anyNoValueByte(const dat::TimeCode& t)
{
    return t.hours == 0xAA || t.minutes == 0xAA || t.seconds == 0xAA || t.frame == 0xAA;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

} // namespace

// --- The sound devices' owner during a recording ------------------------------------------

void RecordSoundOwner::post(sound::SoundEvent event)
{
    if ((event == sound::SoundEvent::RecEnd || event == sound::SoundEvent::PlayEnd) && runEnded)
        ui_.post(runEnded);
}

void RecordSoundOwner::pumpFor(int ms)
{
    if (ui_.onUiThread())
        ui_.pumpFor(ms);
    else
        sleepMs(ms);
}

void RecordSoundOwner::setControlEnabled(sound::SoundControl control, bool enabled)
{
    switch (control) {
    case sound::SoundControl::Stop:
        deck_.stopEnabled_ = enabled;
        view_.setEnabled(Control::StopButton, enabled);
        break;
    case sound::SoundControl::Pause:
        if (output) // the sound input leaves the PauseButton to the deck
            view_.setEnabled(Control::PauseButton, enabled);
        break;
    case sound::SoundControl::Other:
        playEnabled_ = enabled;
        view_.setEnabled(Control::PlayButton, enabled);
        break;
    case sound::SoundControl::Start:
        break;
    }
}

bool RecordSoundOwner::controlEnabled(sound::SoundControl control) const
{
    return control == sound::SoundControl::Other ? playEnabled_ : false;
}

void RecordSoundOwner::setPauseDown(bool down)
{
    if (output)
        deck_.setPauseDown(down);
}

// --- The deck's recording state ----------------------------------------------------------

DeckRecording::DeckRecording(Deck& deck, UiThread& ui, DeckView& view, WriteThread& writer,
                             std::atomic<bool>& stopRequested, const app::Settings& settings)
    : sink(writer), owner(deck, ui, view), image(view),
      peer(std::make_unique<record::PeerSource>(peerReplies, stopRequested)), deck_(deck),
      view_(view)
{
    muteSeconds = record::muteSecondsItem(settings.RecMuteTime);
    autoId.setChecked(settings.EnableAutoID);
    autoId.setLevel(record::autoIdLevelItem(settings.AutoID_Level));
    autoId.setSeconds(record::autoIdSecondsItem(settings.AutoID_Time));
    autoId.refreshArming();
}

bool Deck::recording() const
{
    return rec_->kind.load() != RecordKind::None;
}

std::uint64_t Deck::recordEnds() const
{
    return rec_->ends;
}

bool Deck::lastRecordFailed() const
{
    return rec_->lastFailed;
}

RecordProgress Deck::recordProgress() const
{
    RecordProgress p;
    p.active = recording();
    p.sourceName = rec_->sourceName;
    // The writer runs through the whole run (every file of a list): what it has written is
    // what the drive accepted.
    p.frames = writeThread_->takenCount();
    p.queued = writeThread_->putCount();
    p.ringFill = writeThread_->ringFill();
    p.ringSlots = WriteRing::kSlots;
    return p;
}

// --- Starting a run ----------------------------------------------------------------------

void Deck::record(Modifiers modifiers)
{
    if (d_ < 0 || !idle() || recording())
        return;
    if (modifiers.shift) {
        // Shift+Rec only offers the lead-in.
        writeLeadIn(false, false);
        return;
    }
    if (!enter(Activity::Starting))
        return;
    state_.stopRequested = false;
    rec_->kind = RecordKind::Input;
    askVirtualIdQuestion();
    startRecording(false);
}

void Deck::recordFromFile(const RecordFromFileRequest& request)
{
    if (d_ < 0 || recording() || !enter(Activity::Starting))
        return;
    state_.stopRequested = false;
    DeckRecording& r = *rec_;
    if (request.disableAutoId) {
        setAutoIdChecked(false);
        view_.setDown(Control::AutoID_CheckBox, false); // the box is unchecked
    }
    if (request.mode == RecordFromFileRequest::Mode::Image) {
        r.imagePath = request.imagePath;
        r.imageHere = request.imageHere;
        r.kind = RecordKind::Image;
    } else {
        r.waveList.setList(request.nextEntry);
        r.pendingPreSilenceSec = request.preSilenceSec;
        r.kind = request.withSound ? RecordKind::WaveSound : RecordKind::WaveDirect;
    }
    askVirtualIdQuestion();
    startRecording(false);
}

bool Deck::askVirtualIdQuestion()
{
    if (!virtualIdMode())
        return false;
    if (!view_.ask(tr(record::msg::kVirtualIdQuestion), Buttons::YesNo).yes)
        return false;
    setVirtualIdMode(false);
    view_.notify(DeckEvent::VirtualIdMode, 0);
    return true;
}

void Deck::startRecording(bool continuation)
{
    DeckRecording& r = *rec_;
    const RecordKind kind = r.kind.load();
    const bool input = kind == RecordKind::Input;
    const bool peer = kind == RecordKind::Peer;
    const bool image = kind == RecordKind::Image;
    const bool wave = kind == RecordKind::WaveDirect || kind == RecordKind::WaveSound;
    if (!r.recorder) {
        r.recorder = std::make_unique<record::Recorder>(*drive_, d_, r.sink, state_.stopRequested,
                                                        &pipeline_->runCount, &pipeline_->pgmCount);
        r.recorder->onIdFrame = [this] { rec_->autoId.restartSilence(); };
        r.recorder->onIdChange = [this](std::uint32_t) { rec_->idChanged = true; };
        r.recorder->onMuteEnd = [this] {
            // The producer stops taking audio at once; the window follows.
            switch (rec_->kind.load()) {
            case RecordKind::Input:
                rec_->recorder->setPauseDown(true);
                break;
            case RecordKind::WaveSound:
                player_->togglePause();
                break;
            default:
                state_.recState = kStatePaused;
                break;
            }
            ui_.post([this] { enterRecordPause(); });
        };
    }
    record::Recorder& recorder = *r.recorder;
    record::RecordSetup setup;

    // 1. A first start has entered Starting already; the next file of a list comes from the
    // end handling. A Stop asked for since the run began is kept: it ends the run once started.
    if (continuation) {
        enter(Activity::Starting);
    } else {
        stopTimer();
        setTransportEnabled(false);
        r.lastFailed = false;
        r.imageFromStart = false;
        r.loopRun = !input && kind != RecordKind::WaveSound;
    }
    recorder.clearMute();

    // 2. The sound input takes its format from the settings.
    if (input) {
        setup.format = record::formatFromSettings(settings_);
        recorder.clearPendingId();
        r.pendingPreSilenceSec = 0;
        recorder.resetRunCount();
        if (settings_.CountRunTime && !settings_.DisplayDate) {
            timeTexts_.run = tr(msg::kTimeZero);
            view_.showTime(timeTexts_);
        }
        if (mem2StopChecked_)
            setup.mem2 = edits_.memTime(2);
    }

    // 3. The source.
    if (!continuation && !state_.tapeChecked.load()) {
        view_.showMessage(tr(record::msg::kAbsNotFoundRecord));
        failedRecordStart(false);
        return;
    }
    if (peer) {
        r.sourceName = tr(record::msg::kPeerSourceName);
        r.autoIdEnabled = false;
        view_.setEnabled(Control::AutoID_CheckBox, false);
        pauseWithEvents(options_.recordSettleMs);
    } else if (image) {
        r.autoIdEnabled = false;
        view_.setEnabled(Control::AutoID_CheckBox, false);
        if (!r.image.open(r.imagePath)) {
            failedRecordStart(false);
            return;
        }
        r.sourceName = r.imagePath;
        if (!r.imageHere) {
            // An image that begins with a lead-in is recorded from the beginning as it is;
            // any other gets a lead-in of its own first.
            r.imageFromStart = r.image.startsWithLeadIn();
            if (!r.imageFromStart && !writeLeadIn(false, true)) {
                failedRecordStart(false);
                return;
            }
        }
    } else if (wave) {
        if (!continuation &&
            !r.waveList.openNext(true, r.pendingPreSilenceSec, kind == RecordKind::WaveDirect)) {
            view_.showMessage(
                stringPrintf(tr(record::msg::kUnableToOpenFile), r.waveList.failedName().c_str()));
            failedRecordStart(false);
            return;
        }
        const record::OpenedEntry& e = r.waveList.current();
        setup.format = e.format;
        r.sourceName = e.name;
        if (!continuation && r.pendingPreSilenceSec > 0)
            recorder.setPreSilence(record::framesForSeconds(r.pendingPreSilenceSec, e.format));
        r.pendingPreSilenceSec = 0;
        if (e.idKind != record::kPendingNone)
            recorder.setPendingId(e.idKind, e.idPNo);
    } else if (input) {
        if (!r.input) {
            sound::WaveRecorder::Config c;
            c.owner = &r.owner;
            c.stateWord = &state_.recState;
            c.messages = &view_;
            c.driverType = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType);
            c.threadPriority = 3 + settings_.RecThreadPriority;
            c.backends = options_.audio;
            c.allowReduceBitLength = settings_.RecAllowReduceBitLength;
            c.sinkProc = [this](std::uint8_t* buffer, std::uint32_t bytes) {
                return rec_->recorder->recordBlock(buffer, bytes);
            };
            c.progressProc = [this] { showRecordCounters(); };
            c.sourceHoldProc = [this](bool release) {
                if (release)
                    displayThread_->release();
                else
                    displayThread_->hold([this](int ms) { pumpFor(ms); });
            };
            r.input = std::make_unique<sound::WaveRecorder>(c);
        }
        r.owner.output = false;
        const int count = settings_.RecBufFrames / (setup.format.datRate <= 48000 ? 4 : 2);
        r.input->setBuffers(count, setup.format.sourceBytesPerBlock(4));
        if (r.input->setTarget({}, setup.format.source, false, settings_.RecDeviceNum, true,
                               settings_.RecMonitorOn)) {
            const formats::WaveFormat& f = setup.format.source;
            view_.showMessage(
                stringPrintf(tr(record::msg::kUnsupportedInput), static_cast<int>(f.samplesPerSec),
                             f.isFloat() ? "F" : "", static_cast<int>(f.bitsPerSample)));
            failedRecordStart(false);
            return;
        }
    }

    // 4. Where the recording begins.
    std::optional<dat::TimeCode> startAbs;
    if (!continuation) {
        if ((peer && r.wholeFramePeer) || r.imageFromStart) {
            view_.setText(Control::RunningStatusStaticText, tr(record::msg::kRewinding));
            if (!waitForMotion(drive_->rewind(d_, true))) {
                view_.showMessage(tr(record::msg::kUnableToRewind));
                failedRecordStart(false);
                return;
            }
            // The link's sender waits for "started" in both kinds of copy.
            if (peer)
                r.peerReplies.reply(link::PeerState::Started);
        } else {
            dat::TapePosition p = *drive_->getPosition(d_);
            if (p.absTime.hours > 9) {
                view_.showMessage(tr(record::msg::kAbsNotFoundRecord));
                failedRecordStart(false);
                return;
            }
            const bool sdt9000 = drive_->modelIsSdt9000(d_);
            if (!image &&
                ((p.pNoDigits & 0x0F) == 0x0B || (dat::absToFrames(p.absTime) < 66 && !sdt9000))) {
                view_.setText(Control::RunningStatusStaticText, tr(record::msg::kPositioning));
                locateAndWait(dat::DatDrive::kLocateByAbsTime, 0, 0, sdt9000 ? 0 : 0x02, 0);
                p = *drive_->getPosition(d_);
            }
            startAbs = p.absTime;
            // A write never follows a read directly: the drive would put it behind its
            // read-ahead.
            if (drive_->lastTransferKind(d_) == dat::TransferKind::Read) {
                view_.setText(Control::RunningStatusStaticText, tr(record::msg::kPositioning));
                locateAndWait(dat::DatDrive::kLocateByAbsTime, p.absTime.hours, p.absTime.minutes,
                              p.absTime.seconds, p.absTime.frame);
            }
            if (peer && !r.wholeFramePeer) {
                r.peerReplies.reply(link::PeerState::Started);
                pauseWithEvents(options_.recordSettleMs);
            }
        }
        writeThread_->start();
        // 5. Right after a write the ABS time runs on from the last frame the drive object saw
        // written, whoever wrote it (a recording, an image, or an ID span or lead-in that
        // failed part way: the recorder's own frame would be stale then).
        if (drive_->lastTransferKind(d_) == dat::TransferKind::Write) {
            const dat::TimeCode last = drive_->getPosition(d_)->absTime;
            startAbs = anyNoValueByte(last) ? last : dat::nextFrame(last);
        }
        if (startAbs && anyNoValueByte(*startAbs))
            startAbs = dat::TimeCode{0, 0, 0, 0};
    }

    // 6.
    const bool pauseDown = input;
    recorder.setPauseDown(pauseDown);
    if (!continuation) {
        setPauseDown(pauseDown);
        view_.setEnabled(Control::PauseButton, true);
        if (!peer && !image) {
            view_.setEnabled(Control::MuteButton, true);
            view_.setEnabled(Control::WriteID_Button, true);
        }
    }
    r.autoId.refreshArming();
    r.readyShown = r.autoId.armed();
    view_.setVisible(Control::AutoIdReadyMark, r.readyShown);

    // 7.
    record::RecordSource* source = nullptr;
    if (kind == RecordKind::WaveDirect)
        source = &r.waveList;
    else if (image)
        source = &r.image;
    else if (peer)
        source = r.peerSource;
    setup.source = source;
    setup.liveInput = input;
    setup.recordLoop = r.loopRun;
    setup.writeDate = settings_.WriteDate;
    if (peer || image)
        setup.format = recorder.format();
    recorder.setWriteIdNumber(std::atoi(r.writeIdText.c_str()));
    recorder.begin(setup, continuation ? std::nullopt : startAbs);
    if (!peer && !image) {
        const record::RecordFormat& f = setup.format;
        view_.setText(Control::FormatStaticText,
                      stringPrintf(tr(record::msg::kRecFormat), f.datRate, f.bitLength));
        view_.setVisible(Control::EmphStaticText, f.emphasis);
        view_.setText(Control::CopyStatusStaticText, tr(msg::kCopyTexts[f.copyBits & 3]));
        shownFormat_ = TapeFormat{f.datRate, f.bitLength, f.longPlay(), f.emphasis, f.copyBits};
    }

    // 8.
    if (!continuation)
        view_.setText(Control::RunningStatusStaticText, tr(record::msg::kRecord));
    if (input) {
        if (settings_.CreateWaveFileOnRec) {
            const std::time_t now = std::time(nullptr);
            std::tm t{};
            localtime_r(&now, &t);
            SaveFileQuestion q;
            q.title = tr(record::msg::kSaveWaveTitle);
            q.filter = tr(record::msg::kSaveWaveFilter);
            q.defaultExtension = "WAV";
            q.folder = settings_.RecDir;
            q.name = stringPrintf("%02d%02d%02d%02d%02d%02d.WAV", t.tm_year % 100, t.tm_mon + 1,
                                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
            const std::string name = view_.askSaveFileName(q);
            if (name.empty()) {
                failedRecordStart(false);
                return;
            }
            settings_.RecDir = folderOf(name);
            if (r.input->setTarget(name, setup.format.source, true, settings_.RecDeviceNum, false,
                                   settings_.RecMonitorOn)) {
                failedRecordStart(false);
                return;
            }
            view_.showSubcodeWindow(1, r.input->targetFileName(), true);
        }
        r.owner.runEnded = [this] { recordEnd(); };
        if (!r.input->start(settings_.RecDeviceNum, settings_.ASIO_RecChNum)) {
            view_.showMessage(stringPrintf(tr(record::msg::kUnableToRecordDetail),
                                           r.input->getErrorText().c_str()));
            failedRecordStart(false);
            return;
        }
    } else if (peer) {
        view_.setText(Control::RunningStatusStaticText,
                      stringPrintf(tr(record::msg::kRecordFromPeer), r.sourceName.c_str(),
                                   r.wholeFramePeer ? "/I" : ""));
    } else {
        view_.setText(Control::RunningStatusStaticText,
                      stringPrintf(tr(record::msg::kRecordFrom),
                                   tr(image ? record::msg::kImage : record::msg::kWave)));
        if (!r.sourceName.empty() && r.sourceName[0] != ' ')
            view_.showSubcodeWindow(1, r.sourceName, true);
        if (kind == RecordKind::WaveSound) {
            const record::OpenedEntry& e = r.waveList.current();
            if (!r.playerReconfigured) {
                sound::WavePlayer::Config pc;
                pc.owner = &r.owner;
                pc.stateWord = &state_.recState;
                pc.messages = &view_;
                pc.threadPriority = 3 + settings_.PlayThreadPriority;
                pc.backends = options_.audio;
                pc.fileDataProc = [this](std::uint8_t* buffer, std::uint32_t bytes) {
                    return rec_->recorder->recordBlock(buffer, bytes);
                };
                pc.progressProc = [this] { showRecordCounters(); };
                pc.sourceHoldProc = [this](bool release) {
                    if (release)
                        displayThread_->release();
                    else
                        displayThread_->hold([this](int ms) { pumpFor(ms); });
                };
                player_->reconfigure(pc);
                r.playerReconfigured = true;
            }
            r.owner.output = true;
            r.owner.runEnded = [this] { recordEnd(); };
            formats::WaveFormat f;
            bool failed = player_->setSource(e.name, f);
            if (!failed) {
                player_->setBuffers(settings_.PlayBufFrames / 2, e.format.sourceBytesPerBlock(4));
                player_->setSilencePadding(e.preSilenceBytes, e.postSilenceBytes);
                failed = !player_->start(settings_.PlayDeviceNum, settings_.ASIO_PlayChNum);
            }
            if (failed) {
                if (!player_->getErrorText().empty())
                    view_.showMessage(stringPrintf(tr(record::msg::kUnableToPlayFile),
                                                   player_->getErrorText().c_str(),
                                                   e.name.c_str()));
                r.waveList.close();
                failedRecordStart(continuation);
                return;
            }
        }
    }

    // 9.
    if (r.loopRun) {
        const bool paced = (image || (peer && r.wholeFramePeer)) && drive_->modelIsSdt9000(d_);
        r.delayCount = paced ? 333 : 0;
        state_.recState = kStateRunning;
        subThread_->issue(SubCommand::RecordLoop);
        if (!continuation)
            view_.notify(DeckEvent::FileRecActive, 1);
    } else if (!continuation) {
        view_.setEnabled(Control::PlayButton, false);
        view_.notify(DeckEvent::RecActive, 1);
    }
    enter(pauseDown ? Activity::Paused : Activity::Recording);
    if (!continuation) {
        view_.notify(DeckEvent::DeckBusy, 1);
        view_.setStatusColours(pauseDown ? StatusColours::Paused : StatusColours::Recording);
        refreshCount_ = 0;
        refreshesPerSecond_ = 0;
        r.autoId.setUpdatesPerSecond(0);
        if (pauseDown)
            stopTimer();
        else
            startTimer(1000);
    }
    // A Stop while the run was being set up ends it now, through the usual end.
    if (state_.stopRequested.load())
        recordStop();
}

void Deck::failedRecordStart(bool continuation)
{
    DeckRecording& r = *rec_;
    // A list that fails at its next file keeps what was recorded before it.
    if (continuation)
        writeThread_->drainAndStop();
    else
        writeThread_->stop();
    if (r.kind.load() == RecordKind::Peer) {
        // The other instance is told the start failed (or, after a start, that it ended).
        r.peer->end();
        r.peerReplies.reply(continuation ? link::PeerState::Stopped : link::PeerState::Refused);
    }
    r.waveList.close();
    r.image.close();
    if (r.playerReconfigured) {
        player_->restoreConfiguration();
        r.playerReconfigured = false;
    }
    r.sourceName.clear();
    r.kind = RecordKind::None;
    r.autoIdEnabled = true;
    if (r.recorder) {
        r.recorder->clearPendingId();
        r.recorder->clearMute();
    }
    r.lastFailed = true;
    ++r.ends;
    enter(Activity::Idle);
    if (r.loopRun)
        state_.recState = kStateStopped;
    setPauseDown(false);
    view_.setEnabled(Control::PauseButton, false);
    view_.setEnabled(Control::MuteButton, false);
    view_.setEnabled(Control::AutoID_CheckBox, true);
    view_.setStatusColours(StatusColours::Normal);
    view_.showSubcodeWindow(1, {}, false);
    if (continuation) {
        view_.notify(DeckEvent::DeckBusy, 0);
        view_.notify(r.loopRun ? DeckEvent::FileRecActive : DeckEvent::RecActive, 0);
    }
    setTransportEnabled(false);
    startTimer(200);
}

// --- The record loop (sub thread) ---------------------------------------------------------

void Deck::recordLoop()
{
    DeckRecording& r = *rec_;
    auto lastShown = std::chrono::steady_clock::now();
    for (;;) {
        const int rs = state_.recState.load();
        if (rs == kStateStopped)
            break;
        if (rs == kStatePaused) {
            sleepMs(5);
            continue;
        }
        if (r.recorder->loopTurn() == 0)
            break;
        if (r.delayCount.load() > 0) {
            --r.delayCount;
            sleepMs(20);
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown >= std::chrono::milliseconds(50)) {
            lastShown = now;
            ui_.invoke([this] { showRecordCounters(); });
        }
    }
    ui_.invoke([this] {
        showRecordCounters();
        state_.recState = kStateStopped;
    });
    ui_.post([this] { recordEnd(); });
}

// --- The end of a run ---------------------------------------------------------------------

void Deck::recordEnd()
{
    DeckRecording& r = *rec_;
    const RecordKind kind = r.kind.load();
    // Posted once by the run's producer when it has ended.
    const Activity a = activity();
    if (kind == RecordKind::None || (a != Activity::Recording && a != Activity::Paused))
        return;
    enter(Activity::Ending);
    // The producer has finished: the loop returns right after posting this; a device's
    // thread is joined.
    while (!subThread_->idle())
        pumpFor(5);
    if (kind == RecordKind::Input)
        r.input->stop();
    if (kind == RecordKind::WaveSound)
        player_->stop();
    showRecordCounters();

    // 1.
    if (kind == RecordKind::Peer) {
        r.peer->end();
        r.peerReplies.reply(link::PeerState::Stopped);
        state_.stopRequested = true;
        // The next copy numbers on from the last START placed, seen on the display or not.
        if (!r.wholeFramePeer) {
            r.writeIdText = std::to_string(r.recorder->writeIdNumber());
            view_.setText(Control::WriteID_Edit, r.writeIdText);
        }
    } else if (kind == RecordKind::Image) {
        r.image.close();
        state_.stopRequested = true;
    } else if (kind == RecordKind::WaveDirect || kind == RecordKind::WaveSound) {
        r.waveList.close();
    }
    view_.showSubcodeWindow(1, {}, false);

    // 2. The next file of the list goes on with the same writer.
    const record::RecordStop cause = r.recorder->stopCause();
    if (cause == record::RecordStop::None || cause == record::RecordStop::SourceEnd ||
        cause == record::RecordStop::Stopped)
        r.recorder->flushHalfFrame();
    bool failed = false;
    if (state_.stopRequested.load()) {
        r.sourceName.clear();
    } else if (kind == RecordKind::WaveDirect || kind == RecordKind::WaveSound) {
        if (r.waveList.openNext(false, 0, kind == RecordKind::WaveDirect)) {
            startRecording(true);
            if (r.kind.load() != RecordKind::None)
                return;
            return; // the start failed and has ended the run
        }
        if (!r.waveList.failedName().empty()) {
            view_.showMessage(
                stringPrintf(tr(record::msg::kUnableToOpenFile), r.waveList.failedName().c_str()));
            failed = true;
        }
    }

    // 3.
    pauseWithEvents(options_.recordSettleMs);
    writeThread_->drainAndStop();
    pauseWithEvents(options_.recordSettleMs);
    // The source may end while frames still wait in the ring: a write that fails while they
    // drain ends the run as one the producer saw would.
    record::RecordStop end = cause;
    if (end != record::RecordStop::EndOfTape && end != record::RecordStop::WriteFailed) {
        const int writeError = writeThread_->error();
        if (writeError == WriteThread::kErrorEndOfTape)
            end = record::RecordStop::EndOfTape;
        else if (writeError != WriteThread::kErrorNone)
            end = record::RecordStop::WriteFailed;
    }
    switch (end) {
    case record::RecordStop::EndOfTape:
        keptErrorDetail_ = drive_->logText();
        view_.setText(Control::ErrorStatusStaticText, tr(msg::kEndOfTape));
        view_.setText(Control::RunningStatusStaticText, tr(msg::kStopped));
        view_.beep();
        failed = true;
        break;
    case record::RecordStop::WriteFailed:
        reportDriveError();
        failed = true;
        break;
    case record::RecordStop::Mem2:
        view_.setText(Control::ErrorStatusStaticText, tr(msg::kMem2Stop));
        break;
    case record::RecordStop::SourceFailed: {
        const record::RecordSource* source =
            kind == RecordKind::Image  ? static_cast<const record::RecordSource*>(&r.image)
            : kind == RecordKind::Peer ? static_cast<const record::RecordSource*>(r.peerSource)
                                       : &r.waveList;
        view_.showMessage(source->failure());
        failed = true;
        break;
    }
    default:
        break;
    }
    if (kind == RecordKind::Input && !r.input->getErrorText().empty())
        failed = true;
    if (r.playerReconfigured) {
        player_->restoreConfiguration();
        r.playerReconfigured = false;
    }
    r.recorder->clearPendingId();
    r.recorder->clearMute();
    r.sourceName.clear();
    r.kind = RecordKind::None;
    r.autoIdEnabled = true;
    state_.recState = kStateStopped;
    returnToIdle();
    view_.setEnabled(Control::MuteButton, false);
    view_.setEnabled(Control::AutoID_CheckBox, true);
    view_.notify(r.loopRun ? DeckEvent::FileRecActive : DeckEvent::RecActive, 0);
    r.lastFailed = failed;
    ++r.ends;
}

// --- Pause, mute and stop -----------------------------------------------------------------

void Deck::recordPause()
{
    DeckRecording& r = *rec_;
    const bool pausing = activity() == Activity::Recording;
    switch (r.kind.load()) {
    case RecordKind::Input:
        r.recorder->setPauseDown(pausing);
        break;
    case RecordKind::WaveSound:
        player_->togglePause();
        break;
    default:
        state_.recState = pausing ? kStatePaused : kStateRunning;
        break;
    }
    if (pausing) {
        r.autoId.refreshArming();
        r.readyShown = r.autoId.armed();
        view_.setVisible(Control::AutoIdReadyMark, r.readyShown);
    }
    setPauseDown(pausing);
    enter(pausing ? Activity::Paused : Activity::Recording);
    refreshCount_ = 0;
    view_.setStatusColours(pausing ? StatusColours::Paused : StatusColours::Recording);
    if (pausing) {
        disarmTimer();
    } else {
        startTimer(1000);
    }
    view_.notify(DeckEvent::DeckBusy, pausing ? 0 : 1);
}

void Deck::enterRecordPause()
{
    DeckRecording& r = *rec_;
    if (!recording())
        return;
    // The producer has stopped taking audio already (the mute's end).
    if (enter(Activity::Paused)) {
        setPauseDown(true);
        refreshCount_ = 0;
        view_.setStatusColours(StatusColours::Paused);
        disarmTimer();
        view_.notify(DeckEvent::DeckBusy, 0);
    }
    r.autoId.refreshArming();
    r.readyShown = r.autoId.armed();
    view_.setVisible(Control::AutoIdReadyMark, r.readyShown);
}

void Deck::mute()
{
    DeckRecording& r = *rec_;
    const RecordKind kind = r.kind.load();
    if (kind == RecordKind::None || kind == RecordKind::Image || kind == RecordKind::Peer)
        return;
    const int frames = record::framesForSeconds(r.muteSeconds, r.recorder->format());
    if (!r.recorder->startMute(static_cast<std::uint32_t>(frames)))
        return;
    // From record-pause the silence starts at once.
    if (activity() == Activity::Paused)
        recordPause();
}

void Deck::setMuteTime(int seconds)
{
    rec_->muteSeconds = record::muteSecondsItem(seconds);
    settings_.RecMuteTime = rec_->muteSeconds;
}

void Deck::wakeRecordWaits()
{
    DeckRecording& r = *rec_;
    r.peer->wake();
    if (r.peerSource != nullptr)
        r.peerSource->wake();
}

void Deck::recordStop()
{
    DeckRecording& r = *rec_;
    state_.stopRequested = true;
    r.recorder->requestStop(record::RecordStop::Stopped);
    wakeRecordWaits();
    switch (r.kind.load()) {
    case RecordKind::Input:
        r.input->stop();
        break;
    case RecordKind::WaveSound:
        player_->stop();
        break;
    default:
        state_.recState = kStateStopped;
        break;
    }
}

void Deck::shutdownRecording()
{
    DeckRecording& r = *rec_;
    if (!recording())
        return;
    recordStop();
    while (!subThread_->idle())
        pumpFor(5);
    if (r.input)
        r.input->stop();
    writeThread_->drainAndStop();
    if (r.playerReconfigured) {
        player_->restoreConfiguration();
        r.playerReconfigured = false;
    }
    r.kind = RecordKind::None;
}

// --- Displays ------------------------------------------------------------------------------

void Deck::showRecordCounters()
{
    DeckRecording& r = *rec_;
    showPosition(*drive_->getPosition(d_), true);
    if (r.recorder) {
        const RecordKind kind = r.kind.load();
        if (kind == RecordKind::Image || kind == RecordKind::Peer) {
            // Whole frames bring their own format.
            const std::uint16_t id = r.recorder->lastMainId();
            const TapeFormat f = decodeMainId(static_cast<std::uint8_t>(id >> 8),
                                              static_cast<std::uint8_t>(id), true);
            if (!(f == shownFormat_)) {
                shownFormat_ = f;
                view_.setText(Control::FormatStaticText,
                              stringPrintf(tr(record::msg::kRecFormat), f.rate, f.bits));
                view_.setVisible(Control::EmphStaticText, f.emphasis);
                view_.setText(Control::CopyStatusStaticText, tr(msg::kCopyTexts[f.copyBits & 3]));
            }
        }
    }
    if (r.idChanged.exchange(false)) {
        const bool virtualIds = virtualIdMode();
        view_.notify(virtualIds ? DeckEvent::VirtualIdListChanged : DeckEvent::TapeIdListChanged,
                     drive_->getPosition(d_)->absSeconds);
        showMeter();
    }
}

int Deck::recordDisplayTurn()
{
    DeckRecording& r = *rec_;
    const int interval = state_.displayIntervalMs.load();
    const RecordKind kind = r.kind.load();
    if (kind != RecordKind::Input && kind != RecordKind::WaveSound)
        return interval;
    const int rs = state_.recState.load();
    if (rs == kStatePaused)
        return 50;
    if (rs != kStateRunning)
        return interval;
    const record::RecordFormat& f = r.recorder->format();
    const int bits = f.source.bitsPerSample;
    const std::size_t bytes =
        std::min(app::displayBytesPerFrame(f.frameAudioBytes, bits), r.displayBytes.size());
    if (kind == RecordKind::Input)
        r.input->getMonitorData(r.displayBytes.data(), static_cast<std::uint32_t>(bytes));
    else
        player_->getMonitorData(r.displayBytes.data(), static_cast<std::uint32_t>(bytes));
    // Record mute writes silence, and the meters show it.
    if (r.recorder->muteFramesLeft() != 0)
        std::fill(r.displayBytes.begin(), r.displayBytes.begin() + static_cast<long>(bytes), 0);
    app::computeDisplaySamples(r.displayBytes.data(), bytes, bits, f.source.isFloat(),
                               f.frameAudioBytes, displaySamples_);
    displaySamples_.sampleRate = static_cast<int>(f.source.samplesPerSec);
    ui_.invoke([this] {
        DeckRecording& rr = *rec_;
        const auto second = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        if (second != refreshSecond_) {
            refreshesPerSecond_ = refreshCount_;
            refreshCount_ = 0;
            refreshSecond_ = second;
        }
        ++refreshCount_;
        DisplayRefresh d;
        d.samples = &displaySamples_;
        d.drawWaveform = (refreshCount_ & 1) == 0;
        d.refreshesPerSecond = refreshesPerSecond_;
        view_.showDisplays(d);
        // Auto ID, counted in these updates.
        if (rr.autoIdEnabled && rr.autoId.checked() && !pauseDown_ &&
            (state_.recState.load() == kStateRunning || !rr.sourceName.empty())) {
            rr.autoId.setUpdatesPerSecond(refreshesPerSecond_);
            if (rr.autoId.step(displaySamples_.levels.peakL, displaySamples_.levels.peakR))
                rr.recorder->setPendingId(record::kPendingStart, std::atoi(rr.writeIdText.c_str()));
        }
        if (rr.autoId.armed() != rr.readyShown) {
            rr.readyShown = rr.autoId.armed();
            view_.setVisible(Control::AutoIdReadyMark, rr.readyShown);
        }
    });
    return interval;
}

} // namespace tarnvel::engine
