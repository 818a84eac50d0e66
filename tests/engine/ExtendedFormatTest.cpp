#include "engine/ExtendedFormat.h"

#include "common/ByteOrder.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace tarnvel::engine {
namespace {

constexpr std::uint32_t kBytes = 5760;

struct Pair {
    std::vector<std::uint8_t> upper = std::vector<std::uint8_t>(kBytes);
    std::vector<std::uint8_t> low = std::vector<std::uint8_t>(kBytes);
    // Sample i = word × 256 + low byte.
    void set(std::uint32_t i, std::uint16_t word, std::uint8_t lowByte)
    {
        writeLe16(&upper[2 * i], word);
        low[2 * i] = lowByte;
    }
};

// A pair of frames with a value at every sample; `edges` go first.
Pair makePair(const std::vector<std::pair<std::uint16_t, std::uint8_t>>& edges)
{
    Pair p;
    std::uint32_t state = 12345;
    for (std::uint32_t i = 0; i < kBytes / 2; ++i) {
        state = state * 1103515245u + 12345u;
        p.set(i, static_cast<std::uint16_t>(state >> 8), static_cast<std::uint8_t>(state >> 24));
    }
    for (std::uint32_t i = 0; i < edges.size(); ++i)
        p.set(i, edges[i].first, edges[i].second);
    return p;
}

TEST(ExtendedFormatTest, SamplesInEachOutputKind)
{
    const std::vector<std::pair<std::uint16_t, std::uint8_t>> edges = {
        {0x7FFF, 0xFF}, // largest: 0x7FFFFF
        {0x8000, 0x00}, // smallest: -0x800000
        {0xFFFF, 0xFF}, // -1
        {0x0000, 0x01}, // 1
        {0xFFFE, 0x80}, // -384
        {0x1234, 0x56},
    };
    const Pair p = makePair(edges);
    for (const int bitLen : {24, 32, -32}) {
        const std::uint32_t size = extendedBlockBytes(kBytes, bitLen);
        ASSERT_EQ(size, (bitLen == 24 ? 3u : 4u) * kBytes / 2);
        std::vector<std::uint8_t> out(size + 8, 0xEE);
        assembleExtended(p.upper.data(), p.low.data(), kBytes, bitLen, out.data());
        for (std::uint32_t i = 0; i < kBytes / 2; ++i) {
            const std::int32_t v =
                static_cast<std::int16_t>(readLe16(&p.upper[2 * i])) * 256 + p.low[2 * i];
            const auto u = static_cast<std::uint32_t>(v);
            if (bitLen == 24) {
                ASSERT_EQ(out[3 * i] | (out[3 * i + 1] << 8) | (out[3 * i + 2] << 16),
                          static_cast<int>(u & 0xFFFFFF))
                    << "24-bit sample " << i;
            } else if (bitLen == 32) {
                ASSERT_EQ(readLe32(&out[4 * i]), u << 8) << "32-bit sample " << i;
            } else {
                ASSERT_EQ(std::bit_cast<float>(readLe32(&out[4 * i])),
                          static_cast<float>(static_cast<double>(v) / 8388608.0))
                    << "float sample " << i;
            }
        }
        EXPECT_EQ(readLe32(&out[size]), 0xEEEEEEEEu) << bitLen << ": wrote past the block";
    }

    std::uint8_t f[4 * 6];
    assembleExtended(p.upper.data(), p.low.data(), 12, -32, f);
    const auto sample = [&](int i) { return std::bit_cast<float>(readLe32(&f[4 * i])); };
    EXPECT_EQ(sample(0), 8388607.0f / 8388608.0f);
    EXPECT_LT(sample(0), 1.0f);
    EXPECT_EQ(sample(1), -1.0f);
    EXPECT_EQ(sample(2), -1.0f / 8388608.0f);
    EXPECT_EQ(sample(4), -384.0f / 8388608.0f);
    std::uint8_t b[3 * 6];
    assembleExtended(p.upper.data(), p.low.data(), 12, 24, b);
    EXPECT_EQ(std::vector<std::uint8_t>(b, b + 6),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
}

TEST(ExtendedFormatTest, UnknownBitLengthsAssembleAs24Bit)
{
    // A hand-edited setting must not let the block outgrow the size the output was given.
    const Pair p = makePair({});
    std::vector<std::uint8_t> expected(extendedBlockBytes(kBytes, 24));
    assembleExtended(p.upper.data(), p.low.data(), kBytes, 24, expected.data());
    for (const int bitLen : {16, 0, -24, 8, 31}) {
        EXPECT_EQ(extendedBitLen(bitLen), 24);
        ASSERT_EQ(extendedBlockBytes(kBytes, bitLen), expected.size()) << bitLen;
        std::vector<std::uint8_t> out(expected.size() + 4, 0xEE);
        assembleExtended(p.upper.data(), p.low.data(), kBytes, bitLen, out.data());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << bitLen;
        EXPECT_EQ(readLe32(&out[expected.size()]), 0xEEEEEEEEu) << bitLen;
    }
    EXPECT_EQ(extendedBlockBytes(5292, 24), 7938u);
    EXPECT_EQ(extendedBlockBytes(3840, -32), 7680u);
}

TEST(ExtendedFormatTest, PairOrderFromTheHighBytes)
{
    const Pair p = makePair({});
    const std::vector<std::uint8_t> silence(kBytes, 0);
    struct Case {
        const char* what;
        const std::vector<std::uint8_t>& first;
        const std::vector<std::uint8_t>& second;
        PairOrder expected;
    };
    const Case cases[] = {
        {"upper then low", p.upper, p.low, PairOrder::InOrder},
        {"low then upper", p.low, p.upper, PairOrder::Reversed},
        {"silence", silence, silence, PairOrder::Unknown},
        {"silent upper frame", silence, p.low, PairOrder::Unknown},
        {"two upper frames", p.upper, p.upper, PairOrder::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pairOrder(c.first.data(), c.second.data(), kBytes), c.expected) << c.what;

    // Only the frame's own audio bytes count: a 44.1 kHz frame ends at byte 5292.
    std::vector<std::uint8_t> low = p.low;
    low[5293] = 1;
    EXPECT_TRUE(isLowByteFrame(low.data(), 5292));
    low[5291] = 1;
    EXPECT_FALSE(isLowByteFrame(low.data(), 5292));
}

} // namespace
} // namespace tarnvel::engine
