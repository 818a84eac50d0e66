#pragma once

#include "dat/DatFrame.h"
#include "dat/TimeCode.h"

#include <cstdint>

// Subcode blocks as the recorder writes them: the ABS time pack in pack 1 and the Sub ID.
namespace tarnvel::dat::test {

inline TimeCode absAt(int frames)
{
    return framesToAbs(frames);
}

// `flags`: Sub ID byte 0; `digits`: hundreds × 256 + tens × 16 + units as on tape.
inline SubcodeBlock block(std::uint8_t flags, std::uint16_t digits, const TimeCode& abs,
                          std::uint8_t mainId0 = 0)
{
    SubcodeBlock b;
    b.bytes[kSubIdOffset] = flags;
    b.bytes[kSubIdOffset + 1] = static_cast<std::uint8_t>(((digits >> 8) << 4) | 1);
    b.bytes[kSubIdOffset + 2] = static_cast<std::uint8_t>(digits & 0xFF);
    b.bytes[kMainIdOffset] = mainId0;
    std::uint8_t* p = b.packData(1);
    p[0] = static_cast<std::uint8_t>(0x20 | ((digits >> 8) & 0x0F));
    p[1] = static_cast<std::uint8_t>(digits & 0xFF);
    p[2] = 0x01;
    abs.toBytes(p + 3);
    packParity(p);
    return b;
}

inline SubcodeBlock startBlock(int pNo, int frames)
{
    const std::uint16_t digits =
        static_cast<std::uint16_t>(((pNo / 100) << 8) | ((pNo / 10 % 10) << 4) | (pNo % 10));
    return block(kSubIdPriority | kSubIdStart, digits, absAt(frames));
}

inline SubcodeBlock programBlock(int pNo, int frames)
{
    const std::uint16_t digits =
        static_cast<std::uint16_t>(((pNo / 100) << 8) | ((pNo / 10 % 10) << 4) | (pNo % 10));
    return block(kSubIdPriority, digits, absAt(frames));
}

inline SubcodeBlock plainBlock(int frames)
{
    return block(0, kPNoDigitsNone, absAt(frames));
}

// A READ POSITION reply.
inline void positionReply(std::uint8_t* r, std::uint8_t h, std::uint8_t t, std::uint8_t u,
                          const TimeCode& abs)
{
    for (int i = 0; i < 20; ++i)
        r[i] = 0;
    r[4] = h;
    r[5] = t;
    r[6] = u;
    r[7] = 1;
    kNoValue.toBytes(r + 8);
    abs.toBytes(r + 12);
    kNoValue.toBytes(r + 16);
}

} // namespace tarnvel::dat::test
