#include "dat/RecSubcode.h"

#include "dat/DatFrame.h"

#include <gtest/gtest.h>

namespace tarnvel::dat {
namespace {

TEST(PackParity, XorOfFirstSevenBytes)
{
    std::uint8_t pack[8] = {0x20, 0x00, 0xAA, 0, 0, 0, 0, 0x55};
    packParity(pack);
    EXPECT_EQ(pack[7], 0x8A);
    SubcodePack p;
    std::copy(std::begin(pack), std::end(pack), p.bytes.begin());
    EXPECT_TRUE(p.parityOk());
    p.bytes[3] ^= 1;
    EXPECT_FALSE(p.parityOk());
}

TEST(MainIdCoding, SourceFormats)
{
    struct Case {
        const char* name;
        int rate;
        int quantize;
        bool emphasis;
        int copy;
        std::uint8_t byte60;
        std::uint8_t byte61;
    } cases[] = {
        {"48k", 48000, 0, false, 0, 0x00, 0x00},
        {"44.1k emphasis", 44100, 0, true, 0, 0x14, 0x00},
        {"32k prohibit", 32000, 0, false, 2, 0x08, 0x08},
        {"LP 32k 12-bit", 32000, 1, false, 0, 0x08, 0x40},
        {"96k", 96000, 0, false, 0, 0x40, 0x00},
        {"24-bit 48k (rate doubled)", 96000, 0, false, 3, 0x40, 0x0C},
        {"24-bit 44.1k (rate doubled)", 88200, 0, false, 0, 0x44, 0x00},
        {"copy and quantize masked", 48000, 5, false, 7, 0x00, 0x4C},
    };
    for (const auto& c : cases) {
        SubcodeBlock b;
        b.bytes.fill(0x77);
        RecSubcodeState st;
        initRecSubcode(b, st, kIdControlNone, TimeCode{0, 0, 0, 0}, c.copy, c.quantize, c.rate,
                       c.emphasis, kIdCodeNone);
        EXPECT_EQ(b.bytes[60], c.byte60) << c.name;
        EXPECT_EQ(b.bytes[61], c.byte61) << c.name;
        const MainIdFields f = b.mainIdFields();
        EXPECT_EQ(sampleRateOf(f.sampleF) * (f.formatId + 1),
                  c.rate == 88200 ? 88200 : (c.rate > 48000 ? 96000 : c.rate))
            << c.name;
    }
}

TEST(InitRecSubcode, KeepsOrReplacesTheAbsTime)
{
    SubcodeBlock b;
    b.bytes.fill(0x11);
    b.bytes[11] = 0x01;
    b.bytes[12] = 0x02;
    b.bytes[13] = 0x03;
    b.bytes[14] = 0x04;
    RecSubcodeState st;
    st.idRunFramesLeft = 50; // a run of the previous file ends here
    initRecSubcode(b, st, kIdControlNone, std::nullopt, 0, 0, 48000, false, 0);
    EXPECT_EQ(absTimeOf(b), (TimeCode{1, 2, 3, 4}));
    EXPECT_EQ(st.idRunFramesLeft, 0);
    for (std::size_t i = 16; i < 56; ++i)
        EXPECT_EQ(b.bytes[i], 0) << i;
    EXPECT_EQ(b.subId(0), 0);
    EXPECT_EQ(b.subId(1), 1);
    EXPECT_EQ(b.subId(2), 0xAA);
    EXPECT_EQ(b.bytes[8], 0x20);
    EXPECT_EQ(b.bytes[9], 0xAA);
    EXPECT_EQ(b.bytes[10], 0xAA);
    EXPECT_TRUE(b.pack(1).parityOk());

    initRecSubcode(b, st, kIdControlNone, kNoValue, 0, 0, 48000, false, 0);
    EXPECT_EQ(absTimeOf(b), kNoValue);
}

struct RunCase {
    const char* name;
    std::uint8_t control;
    int code;
    std::uint8_t byte56;
    std::uint8_t byte57;
    std::uint8_t byte58;
    int frames;   // run length; 0 = no ID written
    bool endsRun; // advance reports the end of the run
    std::uint16_t decoded;
};

class IdRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(IdRun, WritesAndEndsTheRun)
{
    const RunCase& c = GetParam();
    SubcodeBlock b;
    RecSubcodeState st;
    initRecSubcode(b, st, kIdControlNone, TimeCode{0, 0, 5, 0}, 0, 0, 48000, false, 0);
    st.idGuardFrames = 34;
    startIdRun(b, st, c.control, c.code);
    EXPECT_EQ(st.idGuardFrames, 0);
    EXPECT_EQ(b.subId(0), c.byte56);
    EXPECT_EQ(b.subId(1), c.byte57);
    EXPECT_EQ(b.subId(2), c.byte58);
    EXPECT_EQ(st.idRunFramesLeft, c.frames);
    EXPECT_EQ(decodeProgramDigits(b), c.decoded);
    EXPECT_EQ(b.bytes[8], 0x20 + ((c.byte57 >> 4) & 7));
    EXPECT_EQ(b.bytes[9], c.byte58);
    EXPECT_TRUE(b.pack(1).parityOk());

    // A second request during a run changes nothing.
    if (c.frames > 0) {
        const SubcodeBlock before = b;
        startIdRun(b, st, kIdControlStart, 5);
        EXPECT_EQ(b.bytes, before.bytes);
    }

    const bool leadIn = c.byte58 == 0xBB;
    TimeCode t{0, 0, 5, 0};
    for (int i = 1; i <= c.frames; ++i) {
        const bool ended = advanceRecSubcode(b, st);
        t = leadIn ? prevFrame(t) : nextFrame(t);
        ASSERT_EQ(absTimeOf(b), t) << i;
        ASSERT_TRUE(b.pack(1).parityOk()) << i;
        if (i < c.frames) {
            ASSERT_FALSE(ended) << i;
            ASSERT_EQ(b.subId(0), c.byte56) << i;
        } else {
            EXPECT_EQ(ended, c.endsRun);
        }
    }
    EXPECT_EQ(b.subId(0), 0);
    EXPECT_EQ(b.subId(1), 1);
    EXPECT_EQ(b.subId(2), 0xAA);
    EXPECT_EQ(b.bytes[8], 0x20);
    EXPECT_EQ(b.bytes[9], 0xAA);
    EXPECT_FALSE(advanceRecSubcode(b, st));
    EXPECT_EQ(st.idRunFramesLeft, 0);
}

INSTANTIATE_TEST_SUITE_P(
    RecSubcode, IdRun,
    ::testing::Values(RunCase{"start1", 0x40, 1, 0xC0, 0x01, 0x01, 300, false, 0x001},
                      RunCase{"start799", 0x40, 799, 0xC0, 0x71, 0x99, 300, false, 0x799},
                      RunCase{"start0", 0x40, 0, 0x00, 0x01, 0xAA, 0, false, 0x0AA},
                      RunCase{"start800", 0x40, 800, 0x00, 0x01, 0xAA, 0, false, 0x0AA},
                      RunCase{"skip", 0x20, 0, 0x20, 0x01, 0xAA, 33, false, 0x999},
                      RunCase{"end", 0x40, 1111, 0x80, 0x01, 0xEE, 300, true, 0x0EE},
                      RunCase{"leadin", 0x20, 2222, 0x80, 0x01, 0xBB, 108, true, 0x0BB},
                      RunCase{"none", 0x00, 5, 0x00, 0x01, 0xAA, 0, false, 0x0AA}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ProgramDigits, PriorityWinsThenStartThenSkip)
{
    struct Case {
        std::uint8_t flags;
        std::uint16_t expected;
    } cases[] = {
        {0x00, 0x0AA}, {0x20, 0x999}, {0x40, 0x888}, {0x60, 0x888},
        {0xE0, 0x123}, {0x80, 0x123}, {0x10, 0x0AA}, {0x0F, 0x0AA},
    };
    for (const auto& c : cases) {
        SubcodeBlock b;
        b.bytes[56] = c.flags;
        b.bytes[57] = 0x11;
        b.bytes[58] = 0x23;
        EXPECT_EQ(decodeProgramDigits(b), c.expected) << int(c.flags);
    }
    EXPECT_TRUE(isDecimalProgramDigits(0x799));
    EXPECT_FALSE(isDecimalProgramDigits(0x0AA));
    EXPECT_TRUE(isLeadInDigits(0x0BB));
    EXPECT_TRUE(isEndDigits(0x0EE));
}

TEST(DatePack, WrittenAndCleared)
{
    SubcodeBlock b;
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 31;
    tm.tm_hour = 23;
    tm.tm_min = 59;
    tm.tm_sec = 58;
    tm.tm_wday = 4; // Thursday
    setDatePack(b, true, tm);
    const SubcodePack p = b.pack(4);
    EXPECT_EQ(p.bytes, (std::array<std::uint8_t, 8>{0x55, 0x26, 0x12, 0x31, 0x23, 0x59, 0x58,
                                                    computePackParity(p.bytes.data())}));
    EXPECT_EQ(p.item(), static_cast<int>(PackItem::Date));
    setDatePack(b, false);
    EXPECT_EQ(b.pack(4).bytes, (std::array<std::uint8_t, 8>{}));
    setDatePack(b, true); // the clock: only the shape is checked
    EXPECT_EQ(b.pack(4).item(), 5);
    EXPECT_TRUE(b.pack(4).parityOk());
}

TEST(FindAbsPack, FirstPackWithItem2)
{
    SubcodeBlock b;
    EXPECT_EQ(findAbsPack(b), nullptr);
    b.bytes[3 * 8] = 0x2F;
    b.bytes[3 * 8 + 3] = 0x42;
    b.bytes[5 * 8] = 0x20;
    ASSERT_EQ(findAbsPack(b), &b.bytes[3 * 8 + 3]);
    EXPECT_EQ(absTimeOf(b)->hours, 0x42);
}

TEST(DatFrameLayout, ByteOffsets)
{
    DatFrame f;
    f.data()[5760] = 0x12;
    f.data()[5816] = 0xC0;
    f.data()[5821] = 0x0C;
    f.data()[0] = 0x34;
    f.data()[1] = 0x12;
    EXPECT_EQ(f.subcode.bytes[0], 0x12);
    EXPECT_EQ(f.subcode.subIdFlags(), 0xC0);
    EXPECT_EQ(f.subcode.mainIdFields().copy, kCopyOnce);
    EXPECT_EQ(f.audioWord(0), 0x1234);
}

} // namespace
} // namespace tarnvel::dat
