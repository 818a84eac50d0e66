#include "dat/TapeTracker.h"

#include "common/ByteOrder.h"

namespace tarnvel::dat {

namespace {

constexpr std::uint32_t units(std::uint32_t digits)
{
    return digits & 0x0F;
}
constexpr std::uint32_t tens(std::uint32_t digits)
{
    return (digits >> 4) & 0x0F;
}
constexpr std::uint32_t hundreds(std::uint32_t digits)
{
    return (digits >> 8) & 0x0F;
}
constexpr int decimalOf(std::uint32_t digits)
{
    return static_cast<int>(hundreds(digits) * 100 + tens(digits) * 10 + units(digits));
}
constexpr std::uint32_t digitsOf(int pNo)
{
    return static_cast<std::uint32_t>(((pNo / 100 % 10) << 8) | ((pNo / 10 % 10) << 4) |
                                      (pNo % 10));
}
constexpr std::uint32_t kUnitsLeadIn = 0xB;
constexpr std::uint32_t kUnitsEnd = 0xE;
constexpr std::uint8_t kFlagsStartId = kSubIdPriority | kSubIdStart;
constexpr std::uint8_t kFlagsSkipId = kSubIdPriority | kSubIdSkip;
// Frames of an ID run after its first frame during which the virtual ID is shown.
constexpr int kVirtualStartLastFrame = 299;
constexpr int kVirtualSkipLastFrame = 32;
constexpr int kVirtualEndFrames = 33;

// The IDs the read-ahead ring compares to confirm a frame: Sub ID bytes 0-2, Main ID 0-1.
bool sameIds(const SubcodeBlock& a, const SubcodeBlock& b)
{
    return a.subId(0) == b.subId(0) && a.subId(1) == b.subId(1) && a.subId(2) == b.subId(2) &&
           a.mainId(0) == b.mainId(0) && a.mainId(1) == b.mainId(1);
}

std::uint32_t timeWord(const TimeCode& t)
{
    std::uint8_t b[4];
    t.toBytes(b);
    return readBe32(b);
}

} // namespace

TapeTracker::TapeTracker(RecSubcodeState& rec, const std::atomic<bool>& virtualIdMode)
    : rec_(rec), virtualIdMode_(virtualIdMode)
{
}

void TapeTracker::reset()
{
    position_ = TapePosition{};
    clearLastSubcode();
    tapeIds_ = IdTable{};
    virtualIds_ = IdTable{};
}

IdCode TapeTracker::addId(int pNo, bool virtualIds, bool allowUpdate, int seconds,
                          const TimeCode& abs)
{
    return table(virtualIds)
        .addId(virtualIds ? IdTable::Kind::Virtual : IdTable::Kind::Tape, pNo, allowUpdate, seconds,
               abs, rec_.idGuardFrames);
}

IdCode TapeTracker::setEnd(const TimeCode& abs, bool virtualIds, bool force, int seconds)
{
    return table(virtualIds)
        .setEnd(virtualIds ? IdTable::Kind::Virtual : IdTable::Kind::Tape, abs, force, seconds,
                rec_.idGuardFrames);
}

IdCode TapeTracker::deleteId(int seconds, bool virtualIds, bool force)
{
    return table(virtualIds).deleteId(seconds, force, rec_.idGuardFrames);
}

IdCode TapeTracker::registerFromPosition(std::uint32_t digits, int seconds, const TimeCode& abs,
                                         int pNo)
{
    if (units(digits) < 10)
        return addId(pNo, false, true, seconds, abs);
    if (units(digits) == kUnitsEnd)
        return setEnd(abs, false, true, seconds);
    return 0;
}

const IdEntry* TapeTracker::findByPNo(int pNo, bool virtualIds) const
{
    return table(virtualIds).findByPNo(pNo);
}

const IdEntry* TapeTracker::findBySeconds(int seconds, bool virtualIds) const
{
    return table(virtualIds).findBySeconds(seconds);
}

const IdEntry* TapeTracker::findTapeIdNear(const TapePosition& position) const
{
    const int pNo = bcd16ToInt(static_cast<std::uint16_t>(position.pNoDigits));
    for (const IdEntry& e : tapeIds_.used())
        if (e.pNo == pNo && e.seconds >= position.absSeconds - 9 &&
            e.seconds <= position.absSeconds)
            return &e;
    return nullptr;
}

int TapeTracker::findVirtualAtOrBefore(bool& exact) const
{
    exact = false;
    const int frames = absToFrames(position_.absTime);
    int found = -1;
    for (int i = 0; i < virtualIds_.count; ++i) {
        if (virtualIds_.entries[i].frames <= frames) {
            found = i;
            exact = virtualIds_.entries[i].frames == frames;
        }
    }
    return found;
}

void TapeTracker::startVirtualPlay()
{
    virtualIds_.sort();
    bool exact = false;
    // Without an ABS time the position is unknown: play the virtual IDs from the first.
    const int at = position_.absTime == kNoValue ? -1 : findVirtualAtOrBefore(exact);
    virtualIds_.cursor = at + (exact ? 0 : 1);
}

int TapeTracker::copyToVirtual(int index)
{
    int seconds = 0;
    if (index < 0) {
        virtualIds_.endAbs = tapeIds_.endAbs;
        virtualIds_.endSeconds = tapeIds_.endSeconds;
        virtualIds_.endFrames = tapeIds_.endFrames;
        seconds = tapeIds_.endSeconds;
    } else if (index < tapeIds_.count) {
        const IdEntry e = tapeIds_.entries[index];
        addId(e.pNo, true, true, e.seconds, e.abs);
        seconds = e.seconds;
    }
    virtualIds_.sort();
    return seconds;
}

void TapeTracker::copyAllToVirtual(int shiftTenths)
{
    virtualIds_ = tapeIds_;
    if (shiftTenths == 0)
        return;
    const long long shiftFrames = (static_cast<long long>(shiftTenths) * 100 / 3 + 5) / 10;
    // Each entry is moved in place: looking it up again by number or place could pick
    // another entry, or miss an unnumbered one shifted by more than a second.
    for (IdEntry& e : std::span(virtualIds_.entries.data(), virtualIds_.count)) {
        const TimeCode abs = framesToAbs(absToFrames(e.abs) - shiftFrames);
        e.abs = abs;
        e.seconds = absToSeconds(abs);
        e.frames = absToFrames(abs);
        rec_.idGuardFrames = kIdGuardFramesAfterChange;
    }
}

int TapeTracker::renumberVirtual()
{
    int next = 0;
    for (int i = 0; i < virtualIds_.count; ++i)
        if (virtualIds_.entries[i].pNo < kPNoSkip)
            virtualIds_.entries[i].pNo = ++next;
    return next;
}

int TapeTracker::nextPrevPNo(bool previous, bool virtualIds, IdEntry* entry) const
{
    if (virtualIds) {
        bool exact = false;
        int i = findVirtualAtOrBefore(exact);
        if (!previous)
            i += 1;
        else if (exact)
            i -= 1;
        if (i < 0 || i >= virtualIds_.count)
            return 0;
        if (entry != nullptr)
            *entry = virtualIds_.entries[i];
        return virtualIds_.entries[i].pNo;
    }
    int p = position_.currentPNo;
    if (previous) {
        if (units(position_.pNoDigits) < 10)
            p -= 1;
    } else {
        // Nothing follows the END ID: the number there is the last program's, or none at all
        // when the tape was found standing in the END area.
        if (units(position_.pNoDigits) == kUnitsEnd)
            return 0;
        p += 1;
    }
    return p < 0 ? 0 : p;
}

int TapeTracker::nextStartNumber() const
{
    // As WriteID_Edit follows the program number shown: the program in force counts, also
    // when its ID is right here.
    int last = position_.currentPNo >= 1 && position_.currentPNo <= kMaxProgramNumber
                   ? position_.currentPNo
                   : 0;
    if (last == 0 && position_.absTime.hours <= 9) {
        // Between programs without a number: the table knows what came before (in any order).
        const int here = absToFrames(position_.absTime);
        int at = -1;
        for (const IdEntry& e : tapeIds_.used())
            if (e.pNo >= 1 && e.pNo <= kMaxProgramNumber && e.frames <= here && e.frames >= at) {
                last = e.pNo;
                at = e.frames;
            }
    }
    return last + 1;
}

TapeTracker::Times TapeTracker::readPacks(const SubcodeBlock& block)
{
    Times t;
    if (auto p = lastPackWithItem(block, PackItem::ProgramTime))
        t.program = p->time();
    if (auto p = lastPackWithItem(block, PackItem::AbsoluteTime)) {
        t.abs = p->time();
        t.index = p->index();
        t.hasAbs = true;
    }
    if (auto p = lastPackWithItem(block, PackItem::RunningTime))
        t.running = p->time();
    if (auto p = lastPackWithItem(block, PackItem::Date))
        t.date = p->bytes;
    return t;
}

void TapeTracker::noteMaximum(const TimeCode& abs, int seconds)
{
    if (seconds > tapeIds_.maxSeconds) {
        tapeIds_.maxAbs = virtualIds_.maxAbs = abs;
        tapeIds_.maxSeconds = virtualIds_.maxSeconds = seconds;
    }
}

void TapeTracker::updatePosition(std::uint32_t digits, std::uint8_t flags, const Times& times,
                                 bool confirmed, IdCode change)
{
    position_.pNoDigits = digits;
    position_.absIndex = times.index;
    position_.subIdFlags = flags;
    position_.programTime = times.program;
    position_.absTime = times.abs;
    position_.runningTime = times.running;
    if (times.hasAbs) {
        position_.absSeconds = absToSeconds(times.abs);
        noteMaximum(times.abs, position_.absSeconds);
    }
    position_.datePack = times.date;
    position_.idConfirmed = confirmed ? 1 : 0;
    position_.idChange = change;
}

void TapeTracker::parseSubcode(const SubcodeBlock& block, bool virtualIds, bool writing,
                               bool confirmed)
{
    const std::uint32_t digits = decodeProgramDigits(block);
    const Times times = readPacks(block);
    const int seconds = absToSeconds(times.abs);
    // The last non-zero code: a removal followed by a refused add must still be reported.
    IdCode change = 0;
    auto note = [&change](IdCode code) {
        if (code != 0)
            change = code;
    };

    if (writing && (lastTransferKind() != TransferKind::Write || times.abs.frame == 0))
        note(deleteId(seconds, virtualIds, false)); // recording over old IDs removes them

    const std::uint32_t u = units(digits);
    if (u > 9) {
        if (u == kUnitsLeadIn) {
            position_.currentPNo = 0;
        } else if (u == kUnitsEnd) {
            const bool lastWasEnd = units(decodeProgramDigits(lastSubcode_)) == kUnitsEnd;
            if ((writing && !lastWasEnd) || (!writing && confirmed)) {
                // As for START IDs below: an END run that began at an unregistered frame.
                const Times last = readPacks(lastSubcode_);
                const bool fromLast = !writing && lastWasEnd && lastUnregistered_ &&
                                      sameIds(lastSubcode_, block) && last.hasAbs;
                note(fromLast ? setEnd(last.abs, virtualIds, true, absToSeconds(last.abs))
                              : setEnd(times.abs, virtualIds, true, seconds));
            }
        }
    } else {
        const int n = decimalOf(digits);
        if (n <= kMaxProgramNumber)
            position_.currentPNo = n;
        if (confirmed && (block.subIdFlags() & (kSubIdStart | kSubIdSkip))) {
            const bool sameAsLast = lastSubcode_.subIdFlags() == block.subIdFlags() &&
                                    units(decodeProgramDigits(lastSubcode_)) == u;
            if (!sameAsLast) {
                note(addId(n, virtualIds, true, seconds, times.abs));
            } else if (lastUnregistered_ && sameIds(lastSubcode_, block)) {
                // The frame before was read without registration (the tape arrival's first
                // frame) and this one confirms its ID: the ID starts there, not here.
                const Times last = readPacks(lastSubcode_);
                if (last.hasAbs)
                    note(addId(n, virtualIds, true, absToSeconds(last.abs), last.abs));
            }
        }
    }
    updatePosition(digits, block.subIdFlags(), times, confirmed, change);
    lastSubcode_ = block;
    lastUnregistered_ = !confirmed && !writing;
}

void TapeTracker::parseVirtual(const SubcodeBlock& block, bool confirmed)
{
    std::uint32_t digits = kPNoDigitsNone;
    std::uint8_t flags = 0;
    IdCode code = 0;
    if ((block.subIdFlags() & kSubIdPriority) && units(block.subIdDigits()) == kUnitsLeadIn) {
        digits = kPNoDigitsLeadIn; // the lead-in passes through
        flags = kSubIdPriority;
    }
    const Times times = readPacks(block);
    const int frames = absToFrames(times.abs);

    IdTable& v = virtualIds_;
    if (v.cursor >= 0 && v.cursor < v.count) {
        const IdEntry& e = v.entries[v.cursor];
        if (e.frames <= frames && frames <= e.frames + kIdRunFrames) {
            const int cursorAt = e.frames;
            const int pNo = e.pNo;
            if (pNo != kPNoSkip) {
                digits = digitsOf(pNo);
                flags = kFlagsStartId;
                if (frames >= cursorAt + kVirtualStartLastFrame)
                    ++v.cursor;
            } else {
                digits = kPNoDigitsSkip;
                flags = kFlagsSkipId;
                if (frames >= cursorAt + kVirtualSkipLastFrame)
                    ++v.cursor;
            }
            if (frames == cursorAt)
                code = static_cast<IdCode>(pNo);
        }
    }
    if (v.hasEnd() && v.endFrames <= frames && frames < v.endFrames + kVirtualEndFrames) {
        digits = (digits & 0xF00) | 0xEE;
        flags = kSubIdPriority;
        if (frames == v.endFrames)
            code = kIdCodeEndChanged;
    }

    const std::uint32_t u = units(digits);
    if (u < 10) {
        const int n = decimalOf(digits);
        if (n <= kMaxProgramNumber)
            position_.currentPNo = n;
    } else if (u == kUnitsLeadIn) {
        position_.currentPNo = 0;
    }
    updatePosition(digits, flags, times, confirmed, code);
}

void TapeTracker::parsePositionReply(const std::uint8_t* reply)
{
    // One digit or code per byte; anything above a nibble from the drive is cut to it.
    const std::uint32_t digits =
        ((reply[4] & 0x0Fu) << 8) | ((reply[5] & 0x0Fu) << 4) | (reply[6] & 0x0Fu);
    Times times;
    times.date = position_.datePack; // a position reply carries no date
    times.index = reply[7];
    times.program = TimeCode::fromBytes(reply + 8);
    times.abs = TimeCode::fromBytes(reply + 12);
    times.running = TimeCode::fromBytes(reply + 16);
    times.hasAbs = !(times.abs == kNoValue);
    const int seconds = absToSeconds(times.abs);

    const std::uint32_t previousUnits = units(position_.pNoDigits);
    const std::uint32_t newWord = timeWord(times.abs);
    const std::uint32_t oldWord = timeWord(position_.absTime);
    // Moved forward out of an area without number.
    const bool forward = newWord >= oldWord && previousUnits > 9;
    IdCode code = 0;

    const std::uint32_t u = units(digits);
    if (u < 10) {
        const int n = decimalOf(digits);
        if (n <= kMaxProgramNumber)
            position_.currentPNo = n;
        if (forward)
            code = addId(n, false, true, seconds, times.abs);
    } else if (u == kUnitsLeadIn) {
        position_.currentPNo = 0;
    } else if (u == kUnitsEnd) {
        if (forward)
            code = setEnd(times.abs, false, true, seconds);
    } else if (newWord < oldWord && previousUnits < 10) {
        // Moved back out of a program: where we were was its start.
        code = addId(position_.currentPNo, false, true, position_.absSeconds, position_.absTime);
        if (position_.currentPNo > 0)
            --position_.currentPNo;
    }
    updatePosition(digits, 0, times, false, code);
}

const TapePosition* TapeTracker::frameWritten(SubcodeBlock& block, bool keep)
{
    parseSubcode(block, virtualIdMode_.load(), true, true);
    if (rec_.idGuardFrames > 0)
        --rec_.idGuardFrames;
    if (!keep && advanceRecSubcode(block, rec_))
        return nullptr;
    return &position_;
}

} // namespace tarnvel::dat
