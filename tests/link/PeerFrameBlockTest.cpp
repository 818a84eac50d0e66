#include "link/PeerFrameBlock.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace tarnvel::link {
namespace {

TEST(PeerFrameBlock, RoundTripsWithTheLayoutOfTheLink)
{
    PeerFrameBlock b;
    b.byteCount = 5292;
    for (std::size_t i = 0; i < b.byteCount; ++i)
        b.payload[i] = static_cast<std::uint8_t>(i * 7);
    b.rate = 44100;
    b.bits = 16;
    b.emphasis = 1;
    b.copyBits = 2;
    b.idChange = 12;
    std::vector<std::uint8_t> bytes(kPeerBlockBytes, 0xEE);
    encodePeerBlock(b, bytes.data());
    EXPECT_EQ(bytes[0], 0xAC); // 5292 little-endian
    EXPECT_EQ(bytes[1], 0x14);
    EXPECT_EQ(bytes[4 + 5292], 0); // the rest of the payload is zero
    EXPECT_EQ(bytes[5826], 0x44);  // 44100 = 0xAC44
    EXPECT_EQ(bytes[5834], 1);
    EXPECT_EQ(bytes[5835], 2);
    EXPECT_EQ(bytes[5836], 12);
    PeerFrameBlock back;
    std::string error;
    ASSERT_TRUE(decodePeerBlock(bytes.data(), bytes.size(), false, back, error)) << error;
    EXPECT_EQ(back.byteCount, b.byteCount);
    EXPECT_EQ(back.payload, b.payload);
    EXPECT_EQ(back.rate, 44100u);
    EXPECT_EQ(back.idChange, 12u);
}

// A START whose number was damaged on the source tape is still a START: it travels, and is
// taken, as one without a number; the other codes pass as they are.
TEST(PeerFrameBlock, ADamagedStartNumberPassesAsAStartWithoutNumber)
{
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {{805, 888},   {800, 888}, {998, 888},
                                                             {888, 888},   {799, 799}, {999, 999},
                                                             {1111, 1111}, {0, 0}};
    for (const auto& [code, taken] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(startNumberAsSent(code), taken);
        PeerFrameBlock b;
        b.byteCount = 5760;
        b.idChange = code; // as an older sender sends it
        std::vector<std::uint8_t> bytes(kPeerBlockBytes);
        encodePeerBlock(b, bytes.data());
        PeerFrameBlock back;
        std::string error;
        ASSERT_TRUE(decodePeerBlock(bytes.data(), bytes.size(), false, back, error)) << error;
        EXPECT_EQ(back.idChange, taken);
    }
}

TEST(PeerFrameBlock, MalformedBlocksAreRefusedBeforeUse)
{
    PeerFrameBlock good;
    good.byteCount = 5760;
    std::vector<std::uint8_t> base(kPeerBlockBytes);
    encodePeerBlock(good, base.data());
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        int width;
        bool wholeFrames;
    };
    const Case cases[] = {
        {"audio longer than a frame's audio", 0, 5761, 4, false},
        {"whole frame longer than a frame", 0, 5823, 4, true},
        {"huge byte count", 0, 0xFFFFFFFF, 4, true},
        {"rate", 5826, 12345, 4, false},
        {"bits", 5830, 8, 4, false},
        {"emphasis flag", 5834, 2, 1, false},
        {"copy bits", 5835, 4, 1, false},
        {"ID code", 5836, 1000, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = base;
        for (int i = 0; i < c.width; ++i)
            bytes[c.offset + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(c.value >> (8 * i));
        PeerFrameBlock out;
        out.rate = 1;
        std::string error;
        EXPECT_FALSE(decodePeerBlock(bytes.data(), bytes.size(), c.wholeFrames, out, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(out.rate, 1u); // nothing taken from a refused block
    }
    PeerFrameBlock out;
    std::string error;
    EXPECT_FALSE(decodePeerBlock(base.data(), kPeerBlockBytes - 1, false, out, error));
    EXPECT_TRUE(decodePeerBlock(base.data(), kPeerBlockBytes, true, out, error)) << error;
}

} // namespace
} // namespace tarnvel::link
