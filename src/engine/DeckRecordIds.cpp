#include "engine/DeckRecord.h"
#include "engine/EngineMessages.h"
#include "record/RecordMessages.h"

#include <cstdlib>

// IDs and the lead-in from the deck: Write ID and Erase ID (on the next recorded frame during
// a recording, on tape or in the virtual list while idle), the lead-in and its offer for a new
// tape, the Auto ID controls, and the other instance's requests.
namespace tarnvel::engine {

// --- The deck's side of the tape operations ------------------------------------------------

void DeckRecording::status(const MessagePair& text)
{
    view_.setText(Control::RunningStatusStaticText, tr(text));
}

void DeckRecording::clearError()
{
    view_.setText(Control::ErrorStatusStaticText, "");
}

bool DeckRecording::ask(const std::string& text, bool okCancel)
{
    return view_.ask(text, okCancel ? Buttons::OkCancel : Buttons::YesNo, MessageIcon::Warning).yes;
}

void DeckRecording::message(const std::string& text)
{
    view_.showMessage(text, MessageIcon::Warning);
}

void DeckRecording::driveError()
{
    deck_.reportDriveError();
}

void DeckRecording::recordIndicator(bool on)
{
    view_.setStatusColours(on ? StatusColours::Recording : StatusColours::Normal);
}

void DeckRecording::frameDone()
{
    deck_.showPosition(*deck_.drive_->getPosition(deck_.d_), true);
    deck_.pumpFor(0);
}

void DeckRecording::pause(int ms)
{
    deck_.pauseWithEvents(ms);
}

bool DeckRecording::rewind()
{
    if (!deck_.waitForMotion(deck_.drive_->rewind(deck_.d_, true)))
        return false;
    if (deck_.drive_->modelIsSdt9000(deck_.d_)) {
        // This model knows no position after a rewind until it has read a frame.
        dat::DatFrame frame;
        deck_.drive_->readFrameParsed(deck_.d_, frame);
    }
    return true;
}

bool DeckRecording::locate(const dat::TimeCode& abs)
{
    return deck_.locateAndWait(dat::DatDrive::kLocateByAbsTime, abs.hours, abs.minutes, abs.seconds,
                               abs.frame);
}

// --- Lead-in ---------------------------------------------------------------------------------

bool Deck::writeLeadIn(bool newTape, bool quiet)
{
    if (d_ < 0)
        return false;
    record::TapeIdWriter& writer = rec_->idWriterFor(*this);
    // Before an image the recording's start owns the deck already.
    if (quiet)
        return writer.writeLeadIn(newTape, true);
    if (recording() || !enter(Activity::WritingIds))
        return false;
    stopTimer();
    setTransportEnabled(false);
    view_.notify(DeckEvent::DeckBusy, 1);
    const bool ok = writer.writeLeadIn(newTape, false);
    view_.setStatusColours(StatusColours::Normal);
    view_.notify(DeckEvent::DeckBusy, 0);
    endTransport();
    return ok;
}

void Deck::offerLeadIn()
{
    writeLeadIn(true, false);
}

// --- Write ID and Erase ID -------------------------------------------------------------------

void Deck::setWriteIdKind(int item)
{
    rec_->writeIdItem = item >= 0 && item <= 2 ? item : 0;
    // Only a START takes a number.
    view_.setEnabled(Control::WriteID_Edit, rec_->writeIdItem == 0);
}

void Deck::setWriteIdText(const std::string& text)
{
    rec_->writeIdText = text;
    // A START announced by the other instance takes this number.
    if (rec_->recorder)
        rec_->recorder->setWriteIdNumber(std::atoi(text.c_str()));
}

record::TapeIdWriter& DeckRecording::idWriterFor(Deck& deck)
{
    if (!idWriter) {
        idWriter = std::make_unique<record::TapeIdWriter>(*deck.drive_, deck.d_, host());
        idWriter->setTiming(deck.options_.leadInFrameSleepMs, deck.options_.recordSettleMs,
                            deck.options_.recordAfterWriteMs);
    }
    return *idWriter;
}

bool DeckRecording::idEdit(int idKind, int pNo)
{
    Deck& d = deck_;
    if (d.d_ < 0 || !d.idle() || !d.state_.tapeChecked.load())
        return false;
    record::TapeIdWriter& writer = idWriterFor(d);
    if (!d.beginTransport(idKind != record::kPendingNone ? record::msg::kWriteIdStatus
                                                         : record::msg::kEraseIdStatus,
                          Activity::WritingIds))
        return false;
    view_.notify(DeckEvent::DeckBusy, 1);
    record::VirtualIdEdit edit;
    const bool ok = writer.writeEraseId(idKind, pNo, edit);
    if (edit.changed) {
        view_.notify(DeckEvent::VirtualIdListChanged, edit.second);
        if (edit.nextWriteNumber) {
            writeIdText = std::to_string(*edit.nextWriteNumber);
            view_.setText(Control::WriteID_Edit, writeIdText);
        }
    } else if (ok) {
        view_.notify(DeckEvent::TapeIdListChanged, d.drive_->getPosition(d.d_)->absSeconds);
    }
    d.showMeter();
    view_.setStatusColours(StatusColours::Normal);
    view_.notify(DeckEvent::DeckBusy, 0);
    d.endTransport();
    return ok;
}

bool Deck::writeIdButton()
{
    DeckRecording& r = *rec_;
    int kind = record::kPendingStart;
    int pNo = std::atoi(r.writeIdText.c_str());
    if (r.writeIdItem == 1) {
        kind = record::kPendingSkip;
        pNo = 0;
    } else if (r.writeIdItem == 2) {
        kind = record::kPendingEnd;
        pNo = dat::kIdCodeEnd;
    }
    if (recording()) {
        // The recording places it on its next frame (after a mute, on the first after it).
        r.recorder->setPendingId(kind, pNo);
        return true;
    }
    // While idle the ID is written at once; it is never kept for a later recording.
    return r.idEdit(kind, pNo);
}

bool Deck::eraseIdButton()
{
    DeckRecording& r = *rec_;
    if (recording()) {
        // During a recording Erase cancels an ID not yet placed.
        r.recorder->clearPendingId();
        return true;
    }
    return r.idEdit(record::kPendingNone, 0);
}

// --- Auto ID controls ------------------------------------------------------------------------

void Deck::setAutoIdChecked(bool checked)
{
    DeckRecording& r = *rec_;
    r.autoId.setChecked(checked);
    settings_.EnableAutoID = checked;
    if (d_ >= 0 && recording()) {
        r.autoId.refreshArming();
        r.readyShown = r.autoId.armed();
        view_.setVisible(Control::AutoIdReadyMark, r.readyShown);
    }
}

void Deck::setAutoIdLevel(int dB)
{
    const int level = record::autoIdLevelItem(dB);
    rec_->autoId.setLevel(level);
    settings_.AutoID_Level = level;
}

void Deck::setAutoIdTime(int seconds)
{
    const int s = record::autoIdSecondsItem(seconds);
    rec_->autoId.setSeconds(s);
    rec_->autoId.setUpdatesPerSecond(refreshesPerSecond_);
    settings_.AutoID_Time = s;
}

// --- The other instance ----------------------------------------------------------------------

bool Deck::peerStartRequest(bool wholeFrames, record::PeerReplies& replies,
                            record::RecordSource* blocks)
{
    DeckRecording& r = *rec_;
    if (d_ < 0 || !transportEnabled_ || recording() || !enter(Activity::Starting)) {
        replies.reply(link::PeerState::Refused);
        return false;
    }
    state_.stopRequested = false;
    r.peerReplies.target = &replies;
    replies.reply(link::PeerState::Preparing);
    r.peer->begin(wholeFrames);
    r.peerSource = blocks != nullptr ? blocks : r.peer.get();
    r.wholeFramePeer = wholeFrames;
    r.kind = RecordKind::Peer;
    askVirtualIdQuestion();
    startRecording(false);
    return recording();
}

bool Deck::peerBlock(const std::uint8_t* data, std::size_t size)
{
    return rec_->peer->deliver(data, size);
}

} // namespace tarnvel::engine
