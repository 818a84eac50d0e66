#include "dat/DatMessages.h"
#include "engine/Deck.h"
#include "engine/EngineMessages.h"
#include "formats/StringPrintf.h"
#include "scsi/ScsiStatus.h"

// Tape motion from the window thread: eject, wind, searches. Every command goes to the drive
// with the immediate bit; the sub thread then waits for the motion to end while this thread
// keeps serving events.
namespace tarnvel::engine {

using formats::stringPrintf;

namespace {

bool endOfRecordedArea(const dat::DatDrive& drive)
{
    return drive.senseKey() == 8 && drive.senseAsc() == 0x00 && drive.senseAscq() == 0x05;
}

} // namespace

bool Deck::beginTransport(const MessagePair& label, Activity kind)
{
    if (d_ < 0 || !enter(kind))
        return false;
    stopTimer();
    setTransportEnabled(false);
    view_.setText(Control::RunningStatusStaticText, tr(label));
    return true;
}

void Deck::endTransport()
{
    enter(Activity::Idle);
    startTimer(200);
}

void Deck::reportDriveError(const char* text)
{
    keptErrorDetail_ = drive_->logText();
    if (endOfRecordedArea(*drive_) && text == nullptr) {
        view_.setText(Control::ErrorStatusStaticText, tr(msg::kEndOfTape));
        view_.setText(Control::RunningStatusStaticText, tr(msg::kStopped));
    } else {
        view_.setText(Control::ErrorStatusStaticText,
                      stringPrintf(tr(dat::msg::kDriveErrorLine), drive_->lastCommandName(),
                                   drive_->statusText(),
                                   text != nullptr ? text : drive_->senseSummary()));
        view_.setText(Control::RunningStatusStaticText, tr(msg::kStoppedOrError));
    }
    view_.beep();
    pauseWithEvents(options_.errorPauseMs);
}

bool Deck::waitForMotion(std::uint8_t status)
{
    if (status != scsi::kSsComp) {
        reportDriveError();
        return false;
    }
    view_.notify(DeckEvent::DeckBusy, 1);
    runSubCommand(SubCommand::MotionWait, 5);
    view_.notify(DeckEvent::DeckBusy, 0);
    return true;
}

void Deck::eject()
{
    if (!beginTransport(msg::kEject))
        return;
    const std::uint8_t status = drive_->loadUnload(d_, false, true);
    if (status != scsi::kSsComp)
        reportDriveError();
    endTransport();
}

void Deck::rewind()
{
    if (!beginTransport(msg::kRewind))
        return;
    if (waitForMotion(drive_->rewind(d_, true)) && drive_->modelIsSdt9000(d_)) {
        // This model knows no position after a rewind until it has read a frame.
        if (const dat::TapePosition* p = drive_->readFrameAhead(d_, stepFrame_))
            showPosition(*p, true);
    }
    endTransport();
}

void Deck::fastForward()
{
    if (!beginTransport(msg::kFastForward))
        return;
    // A search for the last possible number ends at the end of the recorded area.
    waitForMotion(drive_->locate(d_, dat::DatDrive::kLocateByProgram, true, 7, 9, 9, 0));
    endTransport();
}

bool Deck::locateAndWait(int kind, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t e)
{
    return waitForMotion(drive_->locate(d_, kind, true, a, b, c, e));
}

bool Deck::finishSearch(bool ok)
{
    enter(Activity::Idle);
    if (ok && playAfterSearch_) {
        playAfterSearch_ = false;
        play({});
        return ok;
    }
    playAfterSearch_ = false;
    startTimer(200);
    return ok;
}

bool Deck::searchProgram(int n, Modifiers modifiers, const dat::IdEntry* entry)
{
    if (!state_.tapeChecked.load() || !beginTransport(msg::kSearch))
        return false;
    playAfterSearch_ = modifiers.shift;
    n = std::min(n, dat::kMaxProgramNumber);
    return finishSearch(programSearch(n, entry));
}

bool Deck::programSearch(int n, const dat::IdEntry* entry)
{
    if (!virtualIdMode()) {
        if (n < 0)
            return false;
        if (!locateAndWait(dat::DatDrive::kLocateByProgram, static_cast<std::uint8_t>(n / 100),
                           static_cast<std::uint8_t>(n / 10 % 10),
                           static_cast<std::uint8_t>(n % 10), 0))
            return false;
        const dat::TapePosition* p = drive_->readPositionAndParse(d_, false);
        if (p == nullptr)
            return false;
        drive_->registerFromPosition(d_, p->pNoDigits, p->absSeconds, p->absTime, p->currentPNo);
        view_.notify(DeckEvent::IdListSelect, p->absSeconds);
        showPosition(*p, false);
        // A number the tape does not hold leaves the tape at the end of the recording: the
        // search has not found what it looked for.
        return dat::isDecimalProgramDigits(static_cast<std::uint16_t>(p->pNoDigits)) &&
               p->currentPNo == n;
    }
    const dat::IdEntry* e = entry != nullptr ? entry : drive_->findByPNo(d_, n, true);
    if (e == nullptr)
        return false;
    const dat::IdEntry target = *e; // the table may change while the tape moves
    if (!locateAndWait(dat::DatDrive::kLocateByAbsTime, target.abs.hours, target.abs.minutes,
                       target.abs.seconds, target.abs.frame))
        return false;
    dat::TapePosition& pos = drive_->tracker(d_)->position();
    pos.currentPNo = n;
    pos.pNoDigits = static_cast<std::uint32_t>((n / 100) << 8 | (n / 10 % 10) << 4 | (n % 10));
    pos.subIdFlags = n == dat::kPNoSkip ? 0xA0 : 0xC0;
    showPosition(pos, true);
    return true;
}

bool Deck::searchAbs(const dat::TimeCode& abs, Modifiers modifiers)
{
    if (!state_.tapeChecked.load() || !beginTransport(msg::kSearch))
        return false;
    playAfterSearch_ = modifiers.shift;
    return finishSearch(locateAndWait(dat::DatDrive::kLocateByAbsTime, abs.hours, abs.minutes,
                                      abs.seconds, abs.frame));
}

bool Deck::searchStart(Modifiers modifiers)
{
    switch (edits_.page) {
    case SearchPage::ProgramNumber:
        return searchProgram(edits_.typedProgramNumber(), modifiers);
    case SearchPage::Mem1:
        return searchAbs(edits_.memTime(1), modifiers);
    case SearchPage::Mem2:
        return searchAbs(edits_.memTime(2), modifiers);
    }
    return false;
}

bool Deck::stepProgram(bool previous, Modifiers modifiers)
{
    if (!state_.tapeChecked.load() || !beginTransport(previous ? msg::kPrevPNo : msg::kNextPNo))
        return false;
    playAfterSearch_ = modifiers.shift;
    dat::IdEntry entry;
    const bool virtualIds = virtualIdMode();
    const int n = drive_->nextPrevPNo(d_, previous, virtualIds, &entry);
    const bool ok = n > 0 && programSearch(n, virtualIds ? &entry : nullptr);
    return finishSearch(ok);
}

bool Deck::prevPNo(Modifiers modifiers)
{
    return stepProgram(true, modifiers);
}

bool Deck::nextPNo(Modifiers modifiers)
{
    return stepProgram(false, modifiers);
}

// Both run inside a start (the deck is Starting): events that come while the tape moves find
// the deck busy.
bool Deck::positionToAbs(const dat::TimeCode& abs, const std::string& label)
{
    view_.setText(Control::RunningStatusStaticText, label);
    return locateAndWait(dat::DatDrive::kLocateByAbsTime, abs.hours, abs.minutes, abs.seconds,
                         abs.frame);
}

bool Deck::rewindForRun(const std::string& label)
{
    view_.setText(Control::RunningStatusStaticText, label);
    return waitForMotion(drive_->rewind(d_, true));
}

void Deck::timeCapture(int mem)
{
    edits_.capture(mem, timeTexts_.abs);
}

void Deck::setMem2StopChecked(bool checked)
{
    mem2StopChecked_ = checked;
    settings_.EnableMem2Stop = checked;
    playSettings_.mem2StopChecked = checked;
    for (Control c : {Control::SearchH2Edit, Control::SearchM2Edit, Control::SearchS2Edit,
                      Control::SearchF2Edit})
        view_.setEnabled(c, transportEnabled_ && checked);
}

bool Deck::virtualIdMode() const
{
    return drive_ && drive_->virtualIdMode();
}

void Deck::setVirtualIdMode(bool on)
{
    if (d_ < 0)
        return;
    drive_->setVirtualIdMode(d_, on);
    view_.setText(Control::ID_GroupBox, tr(on ? msg::kIdGroupVirtual : msg::kIdGroup));
    showMeter();
}

void Deck::positionMeterDoubleClick(int x, int y, int width)
{
    if (!idle() || !state_.tapeChecked.load() || d_ < 0)
        return;
    const PositionMeter::Hit hit =
        meter_.hitTest(x, y, width, *drive_->getTable(d_, virtualIdMode()));
    if (hit.kind == PositionMeter::Hit::Kind::Nothing)
        return;
    PositionMeterView box;
    box.searchBoxShown = true;
    const std::string when = dat::timeText(hit.abs);
    box.searchBoxText = hit.kind == PositionMeter::Hit::Kind::Program
                            ? stringPrintf(tr(msg::kSearchBoxPNo), hit.pNo) + when
                            : std::string(tr(msg::kSearchBoxAbs)) + when;
    searchBox_ = box.searchBoxText;
    showMeter();
    if (hit.kind == PositionMeter::Hit::Kind::Program)
        searchProgram(hit.pNo, {});
    else
        searchAbs(hit.abs, {});
    searchBox_.clear();
    showMeter();
}

void Deck::positionMeterPage(bool up)
{
    if (d_ < 0)
        return;
    const dat::TapePosition* p = drive_->getPosition(d_);
    const int seconds =
        dat::isLeadInDigits(static_cast<std::uint16_t>(p->pNoDigits)) ? 0 : p->absSeconds;
    if (up)
        meter_.pageUp(seconds);
    else
        meter_.pageDown(seconds);
    showMeter();
}

void Deck::setTapeLength(int minutes)
{
    meter_.setTapeLength(minutes);
    settings_.TapeLength = meter_.tapeLength();
    showMeter();
}

} // namespace tarnvel::engine
