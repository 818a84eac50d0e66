#include "record/TapeIdWriter.h"

#include "dat/RecSubcode.h"
#include "formats/StringPrintf.h"
#include "record/RecordMessages.h"
#include "record/Recorder.h"
#include "scsi/ScsiStatus.h"

#include <cstring>

namespace tarnvel::record {

using formats::stringPrintf;

TapeIdWriter::TapeIdWriter(dat::DatDrive& drive, int d, TapeOpHost& host)
    : drive_(drive), d_(d), host_(host)
{
}

void TapeIdWriter::setTiming(int frameSleepMs, int settleMs, int afterWriteMs)
{
    frameSleepMs_ = frameSleepMs;
    settleMs_ = settleMs;
    afterWriteMs_ = afterWriteMs;
}

bool TapeIdWriter::fail(const MessagePair& reason)
{
    host_.message(stringPrintf(tr(msg::kWithFailure), tr(reason), tr(msg::kIdFailed)));
    return false;
}

bool TapeIdWriter::writeLeadIn(bool newTape, bool quiet)
{
    host_.clearError();
    if (!quiet) {
        const std::string question =
            std::string(newTape ? tr(msg::kNewTapeDetected) : " ") + tr(msg::kWriteLeadInQuestion);
        if (!host_.ask(question, false))
            return false;
    }
    host_.status(msg::kWait);
    host_.pause(0);
    if (!host_.rewind())
        return false;
    host_.status(msg::kWritingLeadIn);
    host_.recordIndicator(true);
    dat::DatFrame frame; // silence, empty subcode
    dat::initRecSubcode(frame.subcode, drive_.recSubcodeState(), dat::kIdControlNone,
                        dat::TimeCode{0, 0, 0x03, 0x08}, 0, 0, 48000, false, dat::kIdCodeLeadIn);
    const int frames = kLeadInFrames + (quiet ? 0 : kLeadInTail);
    for (int i = 0; i < frames; ++i) {
        if (drive_.writeFrame(d_, frame.data(), dat::kFrameBytes) != scsi::kSsComp) {
            host_.recordIndicator(false);
            host_.driveError();
            return false;
        }
        // The lead-in run counts its ABS time down to 00h00m00s01; after it the time counts
        // up from zero without an ID.
        drive_.frameWritten(d_, frame.subcode, false);
        host_.frameDone();
        host_.pause(frameSleepMs_);
    }
    if (quiet)
        return true;
    if (drive_.readBuffer(d_) != scsi::kSsComp) {
        host_.recordIndicator(false);
        host_.driveError();
        return false;
    }
    host_.pause(afterWriteMs_);
    host_.recordIndicator(false);
    return host_.locate(dat::TimeCode{0, 0, 0x02, 0x00});
}

bool TapeIdWriter::editVirtualId(int kind, int pNo, VirtualIdEdit& edit)
{
    const dat::TapePosition& p = *drive_.getPosition(d_);
    const int f = dat::absToSeconds(p.absTime);
    dat::IdCode code = 0;
    if (kind != kPendingNone) {
        drive_.deleteId(d_, f, true, true);
        if (kind == kPendingSkip) {
            code = drive_.addId(d_, dat::kPNoSkip, true, true, f, p.absTime);
        } else if (kind == kPendingStart) {
            code = drive_.addId(d_, pNo, true, true, f, p.absTime);
            if (code >= 1 && code <= static_cast<dat::IdCode>(dat::kMaxProgramNumber))
                edit.nextWriteNumber = static_cast<int>(code) + 1;
        } else {
            code = drive_.setEnd(d_, p.absTime, true, true, f);
        }
    } else {
        code = drive_.deleteId(d_, f, true, true);
        if (code == 0)
            return fail(msg::kIdNotFound);
    }
    if (code == 0)
        return false;
    edit.changed = true;
    edit.second = kind != kPendingNone ? f : 0;
    return true;
}

bool TapeIdWriter::writeEraseId(int kind, int pNo, VirtualIdEdit& edit)
{
    host_.status(kind != kPendingNone ? msg::kWriteIdStatus : msg::kEraseIdStatus);
    const dat::TapePosition p = *drive_.getPosition(d_);
    if (p.absTime.hours > 9)
        return fail(msg::kAbsNotFound);
    if (p.pNoDigits == dat::kPNoDigitsLeadIn)
        return fail(msg::kLeadInOrTooClose);
    // A START ID without a number the tape can carry would write nothing.
    if (kind == kPendingStart && (pNo < 1 || pNo > dat::kMaxProgramNumber))
        return fail(msg::kPNoOutOfRange);
    if (drive_.virtualIdMode())
        return editVirtualId(kind, pNo, edit);
    dat::TimeCode target;
    int span = 0;
    if (kind != kPendingNone) {
        target = p.absTime;
        // After a write the position points past the last frame written.
        if (drive_.lastTransferKind(d_) == dat::TransferKind::Write)
            target = dat::prevFrame(target);
        span = kind == kPendingSkip ? kSpanSkip : kind == kPendingStart ? kSpanStart : kSpanEnd;
    } else {
        if (p.pNoDigits == dat::kPNoDigitsEnd) {
            host_.message(tr(msg::kUnableToEraseEnd));
            return false;
        }
        const int number = dat::bcd16ToInt(static_cast<std::uint16_t>(p.pNoDigits));
        const dat::IdEntry* entry = number <= 999 ? drive_.findTapeIdNear(d_, p)
                                                  : static_cast<const dat::IdEntry*>(nullptr);
        if (entry == nullptr)
            return fail(msg::kIdNotFound);
        target = entry->abs;
        span = number == dat::kPNoSkip ? kSpanEraseSkip : kSpanStart;
    }

    const int s = dat::absToFrames(target) - kSpanLead;
    if (s < kSpanLead)
        return fail(msg::kLeadInOrTooClose);
    const dat::TimeCode start = dat::framesToAbs(s);
    // Asked once nothing can refuse the operation any more.
    if (!host_.ask(tr(kind == kPendingEnd ? msg::kEndIdQuestion : msg::kIdNoiseWarning), true))
        return false;
    host_.pause(settleMs_);

    host_.status(msg::kPositioning);
    if (!host_.locate(start))
        return false;
    host_.status(msg::kReading);
    if (work_.size() < static_cast<std::size_t>(kSpanStart))
        work_.resize(kSpanStart);
    for (int i = 0; i < span; ++i)
        work_[static_cast<std::size_t>(i)] = dat::DatFrame{};
    for (int i = 0; i < span; ++i) {
        if (drive_.readFrameParsed(d_, work_[static_cast<std::size_t>(i)]) == nullptr)
            return fail(msg::kUnableToReadData);
        host_.frameDone();
    }
    // The tape is unchanged when the ID's frame is not among those read.
    if (!rebuildSpan(span, target, kind, pNo))
        return fail(kind != kPendingNone ? msg::kIdFrameNotRead : msg::kIdNotFound);

    host_.status(msg::kPositioning);
    if (!host_.locate(start))
        return false;
    host_.status(msg::kWriting);
    host_.recordIndicator(true);
    for (int i = 0; i < span; ++i) {
        dat::DatFrame& f = work_[static_cast<std::size_t>(i)];
        if (drive_.writeFrame(d_, f.data(), dat::kFrameBytes) != scsi::kSsComp) {
            host_.recordIndicator(false);
            host_.driveError();
            host_.message(tr(msg::kIdFailed));
            return false;
        }
        drive_.frameWritten(d_, f.subcode, true);
        host_.frameDone();
    }
    if (drive_.readBuffer(d_) != scsi::kSsComp) {
        host_.recordIndicator(false);
        host_.driveError();
        return false;
    }
    host_.recordIndicator(false);
    host_.pause(afterWriteMs_);
    host_.status(msg::kPositioning);
    host_.locate(target);
    return true;
}

namespace {

bool sameSubId(const dat::SubcodeBlock& a, const dat::SubcodeBlock& b)
{
    return a.subId(0) == b.subId(0) && a.subId(1) == b.subId(1) && a.subId(2) == b.subId(2);
}

// The frame carries an ID run (START, SKIP, END or lead-in).
bool carriesId(const dat::SubcodeBlock& b)
{
    return b.subIdFlags() != 0;
}

// Gives a frame the Sub ID of `from` (bytes 56-58; byte 59, which the drive sets on reading,
// is cleared) and the matching number digits in its ABS pack.
void takeSubId(dat::SubcodeBlock& sub, const dat::SubcodeBlock& from)
{
    sub.bytes[dat::kSubIdOffset] = from.subId(0);
    sub.bytes[dat::kSubIdOffset + 1] = from.subId(1);
    sub.bytes[dat::kSubIdOffset + 2] = from.subId(2);
    sub.bytes[dat::kSubIdOffset + 3] = 0;
    if (std::uint8_t* time = dat::findAbsPack(sub)) {
        std::uint8_t* pack = time - 3;
        pack[0] = static_cast<std::uint8_t>(0x20 + ((from.subId(1) >> 4) & 7));
        pack[1] = from.subId(2);
        dat::packParity(pack);
    }
}

} // namespace

bool TapeIdWriter::rebuildSpan(int count, const dat::TimeCode& target, int kind, int pNo)
{
    // A run left over from an earlier recording must not hold the new ID back.
    drive_.recSubcodeState().idRunFramesLeft = 0;
    int key = -1;
    for (int i = 0; i < count && key < 0; ++i) {
        const std::uint8_t* t = dat::findAbsPack(work_[static_cast<std::size_t>(i)].subcode);
        if (t != nullptr && dat::TimeCode::fromBytes(t) == target)
            key = i;
    }
    if (key < 0)
        return false;
    for (int i = 0; i < count; ++i)
        work_[static_cast<std::size_t>(i)].subcode.bytes[dat::kSubIdOffset + 3] = 0;

    // The ID that stands at the key frame now: its run is replaced (or erased).
    const dat::SubcodeBlock old = work_[static_cast<std::size_t>(key)].subcode;
    const bool oldId = carriesId(old);
    if (kind == kPendingNone && !oldId)
        return false; // nothing here to erase
    // An erase takes the whole run, from its first frame.
    while (kind == kPendingNone && key > 0 &&
           sameSubId(work_[static_cast<std::size_t>(key - 1)].subcode, old))
        --key;
    dat::SubcodeBlock none;
    dat::RecSubcodeState noState;
    dat::startIdRun(none, noState, dat::kIdControlNone, dat::kIdCodeNone);
    dat::SubcodeBlock fresh;
    dat::RecSubcodeState st;
    int runLeft = 0;
    if (kind != kPendingNone) {
        dat::startIdRun(fresh, st, static_cast<std::uint8_t>(kind == kPendingEnd ? 0 : kind),
                        kind == kPendingEnd ? dat::kIdCodeEnd : pNo);
        runLeft = st.idRunFramesLeft;
    }
    // Every frame keeps its own Main ID, packs and ABS time. From the key on, the new run
    // takes the frames until it is over or another ID begins; the rest of the old run there
    // loses its ID; every other ID in the span stays where it is.
    bool inOld = oldId;
    dat::SubcodeBlock previous = old; // as read
    for (int i = key; i < count; ++i) {
        dat::SubcodeBlock& sub = work_[static_cast<std::size_t>(i)].subcode;
        const dat::SubcodeBlock read = sub;
        const bool continuesOld = inOld && sameSubId(read, old);
        inOld = continuesOld;
        const bool startsOther =
            i > key && !continuesOld && carriesId(read) && !sameSubId(read, previous);
        previous = read;
        if (startsOther)
            runLeft = 0;
        if (runLeft > 0) {
            takeSubId(sub, fresh);
            --runLeft;
        } else if (continuesOld) {
            takeSubId(sub, none);
        }
    }
    return true;
}

} // namespace tarnvel::record
