#include "dat/IdTable.h"

#include <cstdlib>
#include <utility>

namespace tarnvel::dat {

void IdTable::clear()
{
    const TimeCode keptAbs = maxAbs;
    const std::int32_t keptSeconds = maxSeconds;
    *this = IdTable{};
    maxAbs = keptAbs;
    maxSeconds = keptSeconds;
}

void IdTable::sort()
{
    if (count < 2)
        return;
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (int i = 0; i + 1 < count; ++i) {
            if (entries[i].seconds > entries[i + 1].seconds) {
                std::swap(entries[i], entries[i + 1]);
                swapped = true;
            }
        }
    }
}

IdCode IdTable::addId(Kind kind, int pNo, bool allowUpdate, int seconds, const TimeCode& abs,
                      int& guardFrames)
{
    if (pNo == 0)
        return 0;
    const int frames = absToFrames(abs);
    const bool unnumbered = pNo == kPNoStartWithoutNumber || pNo == kPNoSkip;
    for (int i = 0; i < count; ++i) {
        IdEntry& e = entries[i];
        if (e.pNo != pNo && e.frames != frames)
            continue;
        if (unnumbered && std::abs(e.seconds - seconds) > 1)
            continue;
        if (!allowUpdate)
            return 0;
        if (kind == Kind::Tape && e.frames < frames && frames <= e.frames + kIdRunFrames)
            return 0; // the same ID run seen again
        // An entry found by its place takes the new number too, so that the table holds
        // what the code reports.
        e = {pNo, abs, seconds, frames};
        guardFrames = kIdGuardFramesAfterChange;
        return static_cast<IdCode>(pNo);
    }
    if (count >= kMaxEntries)
        return 0;
    entries[count++] = {pNo, abs, seconds, frames};
    guardFrames = kIdGuardFramesAfterChange;
    return static_cast<IdCode>(pNo);
}

IdCode IdTable::setEnd(Kind kind, const TimeCode& abs, bool force, int seconds, int& guardFrames)
{
    if (hasEnd() && !force)
        return 0;
    const int frames = absToFrames(abs);
    if (kind == Kind::Tape && hasEnd() && frames > endFrames)
        return 0; // the earliest END ID counts
    endAbs = abs;
    endSeconds = seconds;
    endFrames = frames;
    guardFrames = kIdGuardFramesAfterChange;
    return kIdCodeEndChanged;
}

IdCode IdTable::deleteId(int seconds, bool force, const int& guardFrames)
{
    if (!force && guardFrames != 0)
        return 0;
    for (int i = 0; i < count; ++i) {
        if (entries[i].seconds != seconds)
            continue;
        const IdCode code = static_cast<IdCode>(entries[i].pNo) + kIdRemoved;
        for (int j = i; j + 1 < count; ++j)
            entries[j] = entries[j + 1];
        entries[count - 1] = IdEntry{};
        --count;
        return code;
    }
    if (hasEnd() && endSeconds == seconds) {
        endAbs = TimeCode{0, 0, 0, 0};
        endSeconds = 0;
        endFrames = 0;
        return kIdCodeEndChanged;
    }
    return 0;
}

const IdEntry* IdTable::findByPNo(int pNo) const
{
    for (const IdEntry& e : used())
        if (e.pNo == pNo)
            return &e;
    return nullptr;
}

const IdEntry* IdTable::findBySeconds(int seconds) const
{
    for (const IdEntry& e : used())
        if (e.seconds == seconds)
            return &e;
    return nullptr;
}

} // namespace tarnvel::dat
