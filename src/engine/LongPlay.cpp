#include "engine/LongPlay.h"

#include "common/ByteOrder.h"

#include <array>
#include <cstddef>

namespace tarnvel::engine {
namespace {

// Codes 0..2047 climb in steps that double after codes 512, 768, ..., 1792; each value is the
// top of its step, and negative code 4095 - c mirrors c as -1 - value.
constexpr std::array<std::int16_t, 4096> makeExpansion()
{
    std::array<std::int16_t, 4096> table{};
    int step = 1;
    int sum = 0;
    for (int c = 0; c < 2048; ++c) {
        const int value = sum + step - 1;
        table[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(value);
        table[static_cast<std::size_t>(4095 - c)] = static_cast<std::int16_t>(-1 - value);
        if (c == 512 || c == 768 || c == 1024 || c == 1280 || c == 1536 || c == 1792)
            step *= 2;
        sum += step;
    }
    return table;
}

constexpr auto kExpansion = makeExpansion();

// Offsets of the three bytes (first, middle, last) of each first-half pair; the second half
// is the same two bytes further on.
using Triple = std::array<std::uint16_t, 3>;

constexpr std::array<Triple, kLongPlayHalfPairs> makePositions()
{
    std::array<Triple, kLongPlayHalfPairs> table{};
    int p = 1;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const bool nearMiddle = i % 4 < 2; // middle byte just before, or nine bytes on
        table[i] = {static_cast<std::uint16_t>(p),
                    static_cast<std::uint16_t>(nearMiddle ? p - 1 : p + 9),
                    static_cast<std::uint16_t>(p + 8)};
        constexpr int advance[4] = {4, 3, 4, 13};
        p += advance[i % 4];
    }
    return table;
}

constexpr auto kPositions = makePositions();

static_assert(kExpansion[0x7FF] == 32767 && kExpansion[0x800] == -32768);
static_assert(kPositions[4][0] == 25 && kPositions[kLongPlayHalfPairs - 1][1] + 2 == 5759);

} // namespace

std::int16_t longPlayExpand(unsigned code)
{
    return kExpansion[code & 0xFFF];
}

void decodeLongPlayHalf(const std::uint8_t* frameAudio, int half, std::uint8_t* out)
{
    const std::uint8_t* base = frameAudio + (half == 0 ? 0 : 2);
    for (const Triple& t : kPositions) {
        const unsigned b0 = base[t[0]];
        const unsigned b1 = base[t[1]];
        const unsigned b2 = base[t[2]];
        writeLe16(out, static_cast<std::uint16_t>(kExpansion[(b0 << 4) | (b1 >> 4)]));
        writeLe16(out + 2, static_cast<std::uint16_t>(kExpansion[(b2 << 4) | (b1 & 0x0F)]));
        out += 4;
    }
}

} // namespace tarnvel::engine
