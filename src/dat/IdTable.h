#pragma once

#include "dat/TimeCode.h"

#include <array>
#include <cstdint>
#include <span>

// The IDs of one tape: program starts (START IDs, numbered or 888), SKIP IDs (999) and the
// END ID, each with its ABS time. A drive keeps two tables: the IDs learned from the tape
// and the virtual IDs the user edits.
namespace tarnvel::dat {

// What a change operation did: 0 nothing; a program number added or moved; a program
// number + kIdRemoved removed; kIdCodeEndChanged END ID set or cleared.
using IdCode = std::uint32_t;
inline constexpr IdCode kIdRemoved = 0x80000000u;
inline constexpr IdCode kIdCodeEndChanged = 1111;
inline constexpr int kPNoStartWithoutNumber = 888;
inline constexpr int kPNoSkip = 999;
// Frames after a change during which a non-forced delete does nothing.
inline constexpr int kIdGuardFramesAfterChange = 34;
// An ID run is 300 frames; meeting the same ID again within it is not a new place.
inline constexpr int kIdRunFrames = 300;

struct IdEntry {
    std::int32_t pNo = 0; // 1-799; 888 START without number; 999 SKIP
    TimeCode abs{0, 0, 0, 0};
    std::int32_t seconds = 0; // absToSeconds(abs)
    std::int32_t frames = 0;  // absToFrames(abs)
};

class IdTable {
public:
    static constexpr int kMaxEntries = 99;

    // Table kind: the tape's table refuses to move an ID within its own run and keeps the
    // earliest END ID.
    enum class Kind { Tape, Virtual };

    int count = 0;
    std::array<IdEntry, kMaxEntries> entries{};
    // END slot: `cursor` (virtual table only: the next virtual ID during play) and the END ID
    // (all 0 when there is none).
    std::int32_t cursor = 0;
    TimeCode endAbs{0, 0, 0, 0};
    std::int32_t endSeconds = 0;
    std::int32_t endFrames = 0;
    // Highest ABS time seen on the drive (the same in both tables; kept by `clear`).
    TimeCode maxAbs{0, 0, 0, 0};
    std::int32_t maxSeconds = 0;

    bool hasEnd() const { return endSeconds != 0; }
    std::span<const IdEntry> used() const
    {
        return {entries.data(), static_cast<std::size_t>(count)};
    }

    // Empties the table except the maxima ("Del.All").
    void clear();
    // Stable sort by seconds.
    void sort();
    // `guardFrames` is the drive's shared guard counter.
    IdCode addId(Kind kind, int pNo, bool allowUpdate, int seconds, const TimeCode& abs,
                 int& guardFrames);
    IdCode setEnd(Kind kind, const TimeCode& abs, bool force, int seconds, int& guardFrames);
    IdCode deleteId(int seconds, bool force, const int& guardFrames);
    const IdEntry* findByPNo(int pNo) const;
    const IdEntry* findBySeconds(int seconds) const;
};

} // namespace tarnvel::dat
