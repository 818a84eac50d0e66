#include "dat/SubcodeDump.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnvel::dat {
namespace {

// Audio word i holds a value that names its position, so a dump of the wrong words shows.
DatFrame numberedFrame()
{
    DatFrame f;
    for (std::size_t i = 0; i < kAudioBytes / 2; ++i) {
        f.audio[2 * i] = static_cast<std::uint8_t>(i);
        f.audio[2 * i + 1] = static_cast<std::uint8_t>(0xA0 + (i >> 8));
    }
    return f;
}

void setPack(DatFrame& f, std::size_t i, std::initializer_list<std::uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), f.subcode.packData(i));
}

struct GoldenCase {
    const char* name;
    DatFrame (*make)();
};

DatFrame everyField()
{
    DatFrame f = numberedFrame();
    std::uint8_t* s = &f.subcode.bytes[kSubIdOffset];
    s[0] = 0xF0; // PRIORITY START SKIP TOC
    s[1] = 0x71;
    s[2] = 0x99;
    s[3] = 0x60;                // both channels interpolated
    f.subcode.bytes[60] = 0x5B; // FormatID 1, Emphasis 1, SampleF 2, NofCh 3
    f.subcode.bytes[61] = 0x4C; // Quantize 1, Copy 3
    setPack(f, 0, {0x17, 0x99, 0x01, 0x00, 0x12, 0x34, 0x05, 0x00});
    setPack(f, 1, {0x27, 0x99, 0xAA, 0x01, 0x02, 0x03, 0x32, 0x00});
    setPack(f, 2, {0x37, 0x99, 0x00, 0x00, 0x00, 0x10, 0x20, 0x00});
    setPack(f, 3, {0x40, 0, 0, 0, 0, 0, 0, 0x40});
    setPack(f, 4, {0x55, 0x26, 0x12, 0x31, 0x23, 0x59, 0x58, 0x00});
    setPack(f, 5, {0x60, 1, 2, 3, 4, 5, 6, 7});
    setPack(f, 6, {0x9F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    for (std::size_t i = 0; i < kPackCount; ++i)
        packParity(f.subcode.packData(i));
    return f;
}

DatFrame lowFlagsRight()
{
    DatFrame f = numberedFrame();
    f.subcode.bytes[56] = 0x0F; // below 16: no ID part
    f.subcode.bytes[57] = 0x01;
    f.subcode.bytes[58] = 0xAA;
    f.subcode.bytes[59] = 0x20; // right channel only
    setPack(f, 0, {0x70, 0, 0, 0, 0, 0, 0, 0x70});
    setPack(f, 1, {0x80, 0, 0, 0, 0, 0, 0, 0x80});
    setPack(f, 2, {0xF0, 0, 0, 0, 0, 0, 0, 0xF0});
    return f;
}

DatFrame startLeft()
{
    DatFrame f;
    f.subcode.bytes[56] = 0xC0;
    f.subcode.bytes[57] = 0x11;
    f.subcode.bytes[58] = 0x23;
    f.subcode.bytes[59] = 0x40; // left channel only
    return f;
}

class SubcodeDumpGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(SubcodeDumpGolden, MatchesTheStoredText)
{
    const GoldenCase& c = GetParam();
    const std::string actual = buildSubcodeDump(c.make());
    const std::string path = std::string(TARNVEL_TEST_DATA) + "/dat/subcode_dump_" + c.name;
    std::ifstream in(path + ".txt", std::ios::binary);
    std::stringstream expected;
    expected << in.rdbuf();
    if (actual != expected.str()) {
        // Leave the actual text beside the expected one for a diff.
        std::ofstream(path + ".actual.txt", std::ios::binary) << actual;
        FAIL() << "dump differs from " << path << ".txt; see " << path << ".actual.txt";
    }
}

INSTANTIATE_TEST_SUITE_P(Dump, SubcodeDumpGolden,
                         ::testing::Values(GoldenCase{"every_field", everyField},
                                           GoldenCase{"low_flags_right", lowFlagsRight},
                                           GoldenCase{"start_left", startLeft}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SubcodeDump, IdPartAndInterpolationLines)
{
    const std::string low = buildSubcodeDump(lowFlagsRight());
    EXPECT_NE(low.find(" [0]: 0F\n"), std::string::npos);
    EXPECT_NE(low.find(" [3]: 20  Rch Interpolated\n"), std::string::npos);
    EXPECT_NE(low.find(" [2] F0 00 00 00 00 00 00 F0 \n"), std::string::npos);
    const std::string start = buildSubcodeDump(startLeft());
    EXPECT_NE(start.find(" [0]: C0  ID: PRIORITY START \n"), std::string::npos);
    EXPECT_NE(start.find(" [3]: 40  Lch Interpolated\n"), std::string::npos);
    EXPECT_NE(start.find(" [1]: 11  Prog#1: 1  NofPacks: 1\n"), std::string::npos);
}

} // namespace
} // namespace tarnvel::dat
