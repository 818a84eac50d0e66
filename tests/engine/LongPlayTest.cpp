#include "engine/LongPlay.h"

#include "common/ByteOrder.h"

#include <array>
#include <gtest/gtest.h>
#include <vector>

namespace tarnvel::engine {
namespace {

// The expansion written from its code classes instead of the running sum: codes 0..512 stand
// for themselves; each later class doubles the step and starts three of the old steps above
// the previous class's last value. Negative codes mirror positive ones.
int referenceExpand(unsigned code)
{
    if (code >= 2048)
        return -1 - referenceExpand(4095 - code);
    if (code <= 512)
        return static_cast<int>(code);
    struct CodeClass {
        unsigned first;
        unsigned last;
        int step;
        int firstValue;
    };
    static constexpr CodeClass kClasses[] = {
        {513, 768, 2, 515},     {769, 1024, 4, 1031},   {1025, 1280, 8, 2063},
        {1281, 1536, 16, 4127}, {1537, 1792, 32, 8255}, {1793, 2047, 64, 16511},
    };
    for (const CodeClass& c : kClasses)
        if (code <= c.last)
            return c.firstValue + static_cast<int>(code - c.first) * c.step;
    return 0; // not reached
}

TEST(LongPlayTest, ExpansionOfEveryCodeClass)
{
    const std::array<std::pair<unsigned, int>, 17> telling = {{
        {0, 0},
        {511, 511},
        {512, 512},
        {513, 515},
        {767, 1023},
        {768, 1025},
        {1023, 2047},
        {1024, 2051},
        {1279, 4095},
        {1280, 4103},
        {1535, 8191},
        {1536, 8207},
        {1791, 16383},
        {1792, 16415},
        {2047, 32767},
        {2048, -32768},
        {4095, -1},
    }};
    for (const auto& [code, value] : telling) {
        EXPECT_EQ(referenceExpand(code), value) << "reference, code " << code;
        EXPECT_EQ(longPlayExpand(code), value) << "code " << code;
    }
    for (unsigned code = 0; code < 4096; ++code)
        ASSERT_EQ(longPlayExpand(code), referenceExpand(code)) << "code " << code;
}

TEST(LongPlayTest, BothHalvesOfAFrame)
{
    // Where the first, middle and last byte of each of the four first-half pairs of a 24-byte
    // group lie; the second half's pairs are two bytes further on.
    constexpr int kGroupLayout[4][3] = {{1, 0, 9}, {5, 4, 13}, {8, 17, 16}, {12, 21, 20}};

    // Pair p of half h gets left code (2p + 1920h) × 7 + 3 and the next one as right code:
    // 3840 different codes, every class of both signs among them.
    const auto code = [](int half, int pair, int channel) {
        return static_cast<unsigned>(((2 * pair + channel + 1920 * half) * 7 + 3) % 4096);
    };
    std::vector<std::uint8_t> frame(5760);
    std::vector<int> uses(5760, 0);
    for (int half = 0; half < 2; ++half)
        for (int pair = 0; pair < 960; ++pair) {
            const int* at = kGroupLayout[pair % 4];
            const int base = 24 * (pair / 4) + 2 * half;
            const unsigned left = code(half, pair, 0);
            const unsigned right = code(half, pair, 1);
            frame[base + at[0]] = static_cast<std::uint8_t>(left >> 4);
            frame[base + at[1]] = static_cast<std::uint8_t>(((left & 15) << 4) | (right & 15));
            frame[base + at[2]] = static_cast<std::uint8_t>(right >> 4);
            for (int b = 0; b < 3; ++b)
                ++uses[base + at[b]];
        }
    for (int i = 0; i < 5760; ++i)
        ASSERT_EQ(uses[i], 1) << "byte " << i << " of the layout"; // the halves fill the frame

    for (int half = 0; half < 2; ++half) {
        std::vector<std::uint8_t> out(kLongPlayHalfBytes + 4, 0xEE);
        decodeLongPlayHalf(frame.data(), half, out.data());
        for (int pair = 0; pair < 960; ++pair)
            for (int ch = 0; ch < 2; ++ch)
                ASSERT_EQ(static_cast<std::int16_t>(readLe16(&out[4 * pair + 2 * ch])),
                          referenceExpand(code(half, pair, ch)))
                    << "half " << half << " pair " << pair << " channel " << ch;
        EXPECT_EQ(readLe32(&out[kLongPlayHalfBytes]), 0xEEEEEEEEu) << "wrote past 3840 bytes";
    }
}

} // namespace
} // namespace tarnvel::engine
