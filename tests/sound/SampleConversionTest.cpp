#include "sound/SampleConversion.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace tarnvel::sound;

namespace {

std::vector<std::uint8_t> le(std::int64_t v, int bytes)
{
    std::vector<std::uint8_t> out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return out;
}

std::vector<std::uint8_t> floatBytes(float f)
{
    std::vector<std::uint8_t> out(4);
    std::memcpy(out.data(), &f, 4);
    return out;
}

float floatOf(const std::uint8_t* p)
{
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

} // namespace

// One mono ring sample into each device channel type.
TEST(SampleConversion, OutputTable)
{
    struct Case {
        int bits;
        std::vector<std::uint8_t> ring;
        int type;
        std::vector<std::uint8_t> device;
    };
    const Case cases[] = {
        {8, {0x00}, kInt16Lsb, le(-32768, 2)},
        {8, {0xFF}, kInt16Lsb, le(127 * 256, 2)},
        {16, le(-2, 2), kInt16Lsb, le(-2, 2)},
        {8, {0x81}, kInt24Lsb, {0x00, 0x00, 0x01}},
        {16, le(0x1234, 2), kInt24Lsb, {0x00, 0x34, 0x12}},
        {24, {0x01, 0x02, 0x83}, kInt24Lsb, {0x01, 0x02, 0x83}},
        {-32, floatBytes(1.0f), kInt24Lsb, {0xFF, 0xFF, 0x7F}},
        {-32, floatBytes(-1.0f), kInt24Lsb, {0x00, 0x00, 0x80}},
        {-32, floatBytes(0.5f), kInt24Lsb, {0x00, 0x00, 0x40}},
        // Beyond full scale the value is limited, never wrapped into the other sign.
        {-32, floatBytes(-1.5f), kInt24Lsb, {0x00, 0x00, 0x80}},
        {-32, floatBytes(3.0f), kInt24Lsb, {0xFF, 0xFF, 0x7F}},
        {8, {0x7F}, kInt32Lsb, le(-1LL << 24, 4)},
        {16, le(-3, 2), kInt32Lsb, le(-3LL << 16, 4)},
        {24, {0x01, 0x02, 0x03}, kInt32Lsb, {0x00, 0x01, 0x02, 0x03}},
        {32, le(-123456789, 4), kInt32Lsb, le(-123456789, 4)},
        {-32, floatBytes(1.0f), kInt32Lsb, le(0x7FFFFF00, 4)},
        {-32, floatBytes(0.25f), kFloat32Lsb, floatBytes(0.25f)},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out(c.device.size() + 1, 0xEE);
        EXPECT_TRUE(convertToDevice(c.ring.data(), c.bits, 1, out.data(), c.type, 1, 1))
            << "bits " << c.bits << " type " << c.type;
        out.pop_back();
        EXPECT_EQ(out, c.device) << "bits " << c.bits << " type " << c.type;
    }
    // Pairings the bit-length test refuses are not converted and give silence.
    std::vector<std::uint8_t> out(3, 0xEE);
    const auto s32 = le(5, 4);
    EXPECT_FALSE(convertToDevice(s32.data(), 32, 1, out.data(), kInt24Lsb, 1, 1));
    EXPECT_EQ(out, std::vector<std::uint8_t>(3, 0));
}

TEST(SampleConversion, InputTable)
{
    struct Case {
        int type;
        std::vector<std::uint8_t> device;
        int bits;
        std::vector<std::uint8_t> ring;
    };
    const Case cases[] = {
        {kInt16Lsb, le(-7, 2), 16, le(-7, 2)},
        {kInt24Lsb, {0x80, 0xFF, 0x7F}, 16, le(0x7FFF, 2)}, // top of range stays there
        {kInt24Lsb, {0x00, 0x01, 0x00}, 16, le(1, 2)},
        {kInt24Lsb, {0xF0, 0x00, 0x00}, 16, le(1, 2)}, // 15/16 of a step rounds up
        {kInt24Lsb, {0xEF, 0x00, 0x00}, 16, le(0, 2)},
        // An exact 16-bit value comes back unchanged, whatever its sign.
        {kInt24Lsb, {0x00, 0xFF, 0xFF}, 16, le(-1, 2)},
        {kInt24Lsb, {0x00, 0x00, 0x80}, 16, le(-32768, 2)},
        {kInt24Lsb, {0x10, 0x00, 0x80}, 16, le(-32768, 2)},
        {kInt24Lsb, {0x01, 0x02, 0x03}, 24, {0x01, 0x02, 0x03}},
        {kInt32Lsb, {0xAA, 0x01, 0x02, 0x03}, 24, {0x01, 0x02, 0x03}}, // keeps the upper 3 bytes
        {kInt32Lsb, le(-5, 4), 32, le(-5, 4)},
        {kInt32Lsb, le(0x12348000, 4), 16, le(0x1234, 2)},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out(c.ring.size());
        EXPECT_TRUE(convertFromDevice(c.device.data(), c.type, 1, out.data(), c.bits, 1, 1))
            << "type " << c.type << " bits " << c.bits;
        EXPECT_EQ(out, c.ring) << "type " << c.type << " bits " << c.bits;
    }
    std::uint8_t f[4];
    const std::uint8_t full24[] = {0xFF, 0xFF, 0x7F};
    convertFromDevice(full24, kInt24Lsb, 1, f, -32, 1, 1);
    EXPECT_FLOAT_EQ(floatOf(f), 0x7FFFFF00 / 2147483648.0f);
    const std::uint8_t min24[] = {0x00, 0x00, 0x80};
    convertFromDevice(min24, kInt24Lsb, 1, f, -32, 1, 1);
    EXPECT_FLOAT_EQ(floatOf(f), -1.0f);
}

TEST(SampleConversion, RoundTo16IsSymmetric)
{
    for (std::int32_t s = -32768; s <= 32767; s += 97) {
        for (std::int32_t frac : {-0x1000, -1, 0, 1, 0xFFF}) {
            const std::int64_t w = static_cast<std::int64_t>(s) * 65536 + frac;
            if (w < INT32_MIN || w > INT32_MAX)
                continue;
            EXPECT_EQ(roundTo16(static_cast<std::int32_t>(w)), s) << "w=" << w;
            if (s != -32768) {
                EXPECT_EQ(roundTo16(static_cast<std::int32_t>(-w)), -s) << "w=" << -w;
            }
        }
    }
}

TEST(SampleConversion, ChannelMapping)
{
    // Stereo ring into one device channel: the left sample; mono into two: both.
    const std::uint8_t stereo16[] = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00};
    std::uint8_t one[2 * 2];
    ASSERT_TRUE(convertToDevice(stereo16, 16, 2, one, kInt16Lsb, 1, 2));
    EXPECT_EQ(one[0], 1);
    EXPECT_EQ(one[2], 3);
    const std::uint8_t mono16[] = {0x05, 0x00};
    std::uint8_t two[4];
    ASSERT_TRUE(convertToDevice(mono16, 16, 1, two, kInt16Lsb, 2, 1));
    EXPECT_EQ(two[0], 5);
    EXPECT_EQ(two[2], 5);
    // One device channel into a stereo 8-bit frame: the other sample is silence (128).
    const std::uint8_t in16[] = {0x00, 0x10};
    std::uint8_t frame8[2];
    ASSERT_TRUE(convertFromDevice(in16, kInt16Lsb, 1, frame8, 8, 2, 1));
    EXPECT_EQ(frame8[0], 0x90);
    EXPECT_EQ(frame8[1], 128);
}

TEST(SampleConversion, BitLengthTests)
{
    EXPECT_EQ(bitLengthOfSampleType(16), 16);
    EXPECT_EQ(bitLengthOfSampleType(17), 24);
    for (int t : {18, 24, 25, 26, 27})
        EXPECT_EQ(bitLengthOfSampleType(t), 32);
    EXPECT_EQ(bitLengthOfSampleType(19), -32);
    EXPECT_EQ(bitLengthOfSampleType(20), -64);
    EXPECT_EQ(bitLengthOfSampleType(21), 0);

    EXPECT_TRUE(outputBitLengthAccepted(24, -32)); // float counts as 24
    EXPECT_TRUE(outputBitLengthAccepted(24, 8));
    EXPECT_FALSE(outputBitLengthAccepted(24, 32));
    EXPECT_FALSE(outputBitLengthAccepted(16, -32));

    struct Case {
        int d, r;
        bool reduce;
        InputFit fit;
    };
    const Case cases[] = {
        {16, 16, false, InputFit::Accepted},  {24, 24, false, InputFit::Accepted},
        {32, 32, false, InputFit::Accepted},  {32, 24, false, InputFit::Accepted},
        {32, -32, false, InputFit::Accepted}, {24, 32, false, InputFit::Refused},
        {32, 16, false, InputFit::Refused},   {32, 16, true, InputFit::Reduced},
        {24, 16, true, InputFit::Reduced},    {16, 24, true, InputFit::Refused},
        {24, 8, true, InputFit::Refused},
    };
    for (const Case& c : cases)
        EXPECT_EQ(inputBitLengthTest(c.d, c.r, c.reduce), c.fit) << c.d << "/" << c.r;
}
