#include "common/ByteOrder.h"

#include <gtest/gtest.h>

namespace tarnvel {
namespace {

TEST(ByteOrder, RoundTripsBothOrders)
{
    std::uint8_t b[4] = {};
    writeLe32(b, 0x12345678u);
    EXPECT_EQ(b[0], 0x78);
    EXPECT_EQ(readLe32(b), 0x12345678u);
    EXPECT_EQ(readBe32(b), 0x78563412u);
    writeBe16(b, 0xABCD);
    EXPECT_EQ(b[0], 0xAB);
    EXPECT_EQ(readLe16(b), 0xCDAB);
}

} // namespace
} // namespace tarnvel
