#include "dat/LocateTarget.h"

#include <gtest/gtest.h>

namespace tarnvel::dat {
namespace {

TEST(LocateTarget, ProgramNumbersAreThreeDecimalDigits)
{
    const LocateTarget five = locateProgramNumber(5);
    EXPECT_EQ(five.kind, DatDrive::kLocateByProgram);
    EXPECT_EQ((std::array{five.a, five.b, five.c, five.e}),
              (std::array<std::uint8_t, 4>{0, 0, 5, 0}));
    const LocateTarget over = locateProgramNumber(850); // limited to 799
    EXPECT_EQ((std::array{over.a, over.b, over.c}), (std::array<std::uint8_t, 3>{7, 9, 9}));
    EXPECT_EQ(locateProgramNumber(-3).c, 0);
}

TEST(LocateTarget, TypedTimesBecomeBcdBytes)
{
    const auto t = locateAbsText("01:23:45:12");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->kind, DatDrive::kLocateByAbsTime);
    EXPECT_EQ((std::array{t->a, t->b, t->c, t->e}),
              (std::array<std::uint8_t, 4>{0x01, 0x23, 0x45, 0x12}));
    const auto shortForm = locateAbsText("0:5");
    ASSERT_TRUE(shortForm);
    EXPECT_EQ((std::array{shortForm->a, shortForm->b, shortForm->c, shortForm->e}),
              (std::array<std::uint8_t, 4>{0x00, 0x05, 0x00, 0x00}));
    for (const char* bad : {"", "1:2:3:4:5", "123:00", "0a:00", "01::02", ":", "01:"})
        EXPECT_FALSE(locateAbsText(bad)) << bad;
}

TEST(LocateTarget, AProgramSearchIsFoundOnlyAtItsNumber)
{
    struct Case {
        int pNo;
        std::uint32_t endedAt; // digits of the position the search ended at
        bool found;
    };
    const Case cases[] = {
        {5, 0x005, true},  {123, 0x123, true}, {5, 0x004, false}, // the last program before
        {5, 0x0EE, false}, {5, 0x0AA, false},  {5, 0x0BB, false},
    };
    for (const Case& c : cases) {
        TapePosition p;
        p.pNoDigits = c.endedAt;
        EXPECT_EQ(searchFound(locateProgramNumber(c.pNo), p), c.found) << c.pNo << " " << c.endedAt;
    }
    TapePosition anywhere;
    EXPECT_TRUE(searchFound(*locateAbsText("0:1:0:0"), anywhere));
}

} // namespace
} // namespace tarnvel::dat
