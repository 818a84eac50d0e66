#pragma once

#include "dat/DatFrame.h"
#include "dat/TimeCode.h"

#include <array>
#include <cstdint>

namespace tarnvel::dat {

// What the last parsed frame or position reply of one drive left behind. The drive object
// fills it (subcode parsing and READ POSITION); readers take copies.
struct TapePosition {
    // Program number in force (decimal): set from every decoded number below 800, set to 0
    // in the lead-in, left unchanged otherwise.
    std::int32_t currentPNo = 0;
    // Decoded digits as hundreds × 256 + tens × 16 + units, codes included.
    std::uint32_t pNoDigits = kPNoDigitsNone;
    std::uint8_t absIndex = 0xAA; // byte 2 of the ABS time pack; 0xAA when there is none
    std::uint8_t subIdFlags = 0;  // Sub ID byte 0 of the frame (0 after READ POSITION)
    TimeCode programTime = kNoValue;
    TimeCode absTime = kNoValue;
    TimeCode runningTime = kNoValue;
    std::int32_t absSeconds = 0; // absTime in seconds; updated only from frames with an ABS pack
    std::array<std::uint8_t, kPackBytes> datePack = kNoDatePack;
    std::uint8_t idConfirmed = 0; // the confirmation flag the parse was given
    // What this frame changed in the ID table: 0 nothing; a program number added or moved;
    // a program number + kIdRemovedFlag removed; 1111 END ID set or cleared.
    std::uint32_t idChange = 0;

    static constexpr std::array<std::uint8_t, kPackBytes> kNoDatePack{0xAA, 0xAA, 0xAA, 0xAA,
                                                                      0xAA, 0xAA, 0xAA, 0xAA};
    static constexpr std::uint32_t kIdRemovedFlag = 0x80000000u;
};

} // namespace tarnvel::dat
