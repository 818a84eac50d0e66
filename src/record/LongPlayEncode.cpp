#include "record/LongPlayEncode.h"

#include <bit>

namespace tarnvel::record {

unsigned longPlayCode(std::int16_t sample)
{
    // Negative samples -(m + 1) take the complement of m's code.
    const bool negative = sample < 0;
    const unsigned m =
        negative ? static_cast<unsigned>(-(sample + 1)) : static_cast<unsigned>(sample);
    unsigned code = m;
    if (m >= 512) {
        // Each octave from 512 up is coded in 256 steps, twice as wide as the one below.
        const unsigned e = static_cast<unsigned>(std::bit_width(m)) - 9;
        code = (m >> e) + (e << 8);
    }
    return negative ? (~code & 0xFFF) : code;
}

void encodeLongPlayHalf(const std::uint8_t* samples, std::uint32_t bytes, int half,
                        std::uint8_t* frameAudio)
{
    // Offsets of the three bytes of pairs 4g..4g+3 within their 24-byte group.
    static constexpr std::uint8_t kOffsets[4][3] = {
        {1, 0, 9}, {5, 4, 13}, {8, 17, 16}, {12, 21, 20}};
    if (bytes > kLongPlayBlockBytes)
        bytes = kLongPlayBlockBytes;
    const std::uint32_t pairs = bytes / 4;
    std::uint8_t* base = frameAudio + (half == 0 ? 0 : 2);
    for (std::uint32_t k = 0; k < kLongPlayPairs; ++k) {
        unsigned a = 0;
        unsigned b = 0;
        if (k < pairs) {
            const std::uint8_t* s = samples + 4 * k;
            a = longPlayCode(static_cast<std::int16_t>(s[0] | s[1] << 8));
            b = longPlayCode(static_cast<std::int16_t>(s[2] | s[3] << 8));
        }
        const std::uint8_t* o = kOffsets[k % 4];
        std::uint8_t* group = base + 24 * (k / 4);
        group[o[0]] = static_cast<std::uint8_t>(a >> 4);
        group[o[1]] = static_cast<std::uint8_t>(((a & 0x0F) << 4) | (b & 0x0F));
        group[o[2]] = static_cast<std::uint8_t>(b >> 4);
    }
}

} // namespace tarnvel::record
