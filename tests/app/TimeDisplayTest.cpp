#include "app/TimeDisplay.h"

#include <gtest/gtest.h>

namespace tarnvel::app {
namespace {

using dat::TapePosition;
using dat::TimeCode;

TapePosition positionAt(TimeCode abs, std::uint32_t digits = 0x001, int pno = 1)
{
    TapePosition pos;
    pos.absTime = abs;
    pos.pNoDigits = digits;
    pos.currentPNo = pno;
    return pos;
}

TEST(TimeDisplayTest, AbsLine)
{
    EXPECT_EQ(absText(TapePosition{}), " --h--m--s--");
    EXPECT_EQ(absText(positionAt({0x01, 0x23, 0x45, 0x12})), " 01h23m45s12");
    // The lead-in counts down towards zero: minus sign in the first place.
    EXPECT_EQ(absText(positionAt({0x00, 0x00, 0x12, 0x05}, 0x0BB, 0)), "-00h00m12s05");
    EXPECT_EQ(absText(positionAt(dat::kNoValue, 0x0BB, 0)), "---h--m--s--");
}

TEST(TimeDisplayTest, DateModeAndCounters)
{
    TapePosition pos = positionAt({0x00, 0x10, 0x00, 0x00});
    pos.programTime = {0x00, 0x02, 0x03, 0x04};
    pos.runningTime = {0x01, 0x02, 0x03, 0x04};
    TimeCounters counters;

    EXPECT_EQ(pgmText(pos, counters, true, true), " --/--/--   "); // no date pack
    EXPECT_EQ(runText(pos, counters, true, true), " --:--:--   ");
    pos.datePack = {0x56, 0x10, 0x02, 0x26, 0x21, 0x05, 0x59, 0x00};
    EXPECT_EQ(pgmText(pos, counters, true, true), " 10/02/26Fri");
    EXPECT_EQ(runText(pos, counters, true, true), " 21:05:59   ");
    pos.datePack[0] = 0x59; // weekday codes above 7 show Saturday
    EXPECT_EQ(pgmText(pos, counters, true, true), " 10/02/26Sat");
    pos.datePack[0] = 0x51;
    EXPECT_EQ(pgmText(pos, counters, true, true), " 10/02/26Sun");

    EXPECT_EQ(pgmText(pos, counters, false, true), " 00h02m03s04");
    EXPECT_EQ(runText(pos, counters, false, true), " 01h02m03s04");
    counters = {true, true, 100, 2000};
    EXPECT_EQ(pgmText(pos, counters, false, true), " 00h00m03s00");
    EXPECT_EQ(runText(pos, counters, false, true), " 00h01m00s00");
    EXPECT_EQ(pgmText(pos, counters, false, false), " 00h02m03s04"); // no tape checked
}

TEST(TimeDisplayTest, ProgramNumberAndId)
{
    ProgramNumberDisplay display;
    struct Step {
        std::uint32_t digits;
        int pno;
        std::uint8_t flags;
        bool fromFrame;
        const char* number;
        const char* id; // "" = hidden
        int writeId;    // 0 = unchanged
    };
    const Step steps[] = {
        {0x0AA, 0, 0, false, "--", "", 0},
        {0x012, 12, 0xC0, true, "12", "START", 13}, // START ID frame of program 12
        {0x012, 12, 0x00, true, "12", "START", 0},  // next frame of the same program
        {0x012, 12, 0x60, true, "12", "SKIP", 0},   // SKIP wins over START
        {0x0BB, 0, 0x80, true, "BB", "Lead-in", 1},
        {0x0EE, 0, 0x80, true, "EE", "END", 0},
        {0x0AA, 5, 0x00, true, "--", "", 6},
        {0x0AA, 5, 0x20, true, "--", "SKIP", 0}, // flags override even without a number
        {0x001, 0, 0x00, false, "--", "", 0},
        {0x801, 801, 0x00, true, "--", "", 0},    // above 799 counts as 0
        {0x007, 7, 0x40, false, "7", "START", 0}, // position query: flags ignored
        {0x007, 7, 0x00, true, "7", "START", 0},  // 7 was shown last: no refresh
    };
    for (const Step& s : steps) {
        TapePosition pos;
        pos.pNoDigits = s.digits;
        pos.currentPNo = s.pno;
        pos.subIdFlags = s.flags;
        const ProgramIdView v = display.update(pos, s.fromFrame);
        EXPECT_EQ(v.numberText, s.number) << s.digits;
        EXPECT_EQ(v.idText, s.id) << s.digits;
        EXPECT_EQ(v.idVisible, s.id[0] != '\0') << s.digits;
        EXPECT_EQ(v.writeIdNext.value_or(0), s.writeId) << s.digits;
    }
}

TEST(TimeDisplayTest, DoubleClickResetsTheCountOfTheLineClicked)
{
    const TapePosition pos = positionAt({0x00, 0x01, 0x00, 0x00});
    TimeCounters c{true, true, 500, 700};

    EXPECT_EQ(timeLineAt(17), TimeLine::None);
    EXPECT_EQ(timeLineAt(18), TimeLine::Pgm);
    EXPECT_EQ(timeLineAt(31), TimeLine::Pgm);
    EXPECT_EQ(timeLineAt(33), TimeLine::None);
    EXPECT_EQ(timeLineAt(35), TimeLine::Run);
    EXPECT_EQ(timeLineAt(48), TimeLine::Run);
    EXPECT_EQ(timeLineAt(49), TimeLine::None);

    auto r = resetCounterByDoubleClick(c, 20, MouseButton::Other, false, true, pos);
    EXPECT_EQ(r.line, TimeLine::None);
    EXPECT_EQ(c.pgmCount, 500);

    r = resetCounterByDoubleClick(c, 20, MouseButton::Left, false, true, pos);
    EXPECT_EQ(r.line, TimeLine::Pgm);
    EXPECT_EQ(c.pgmCount, 0);
    EXPECT_EQ(r.newText, " 00h00m00s00");
    EXPECT_EQ(c.runCount, 700);

    // Shift on the RUN line: ABS 00:01:00 frame 00 gives 2000 frames.
    r = resetCounterByDoubleClick(c, 40, MouseButton::Left, true, true, pos);
    EXPECT_EQ(r.line, TimeLine::Run);
    EXPECT_EQ(c.runCount, 2000);
    EXPECT_EQ(r.newText, " 00h01m00s00");

    // Without Shift, or in the lead-in, or beyond 9 hours: back to 0. Not idle: no redraw.
    c.runCount = 5;
    r = resetCounterByDoubleClick(c, 40, MouseButton::Left, false, false, pos);
    EXPECT_EQ(c.runCount, 0);
    EXPECT_FALSE(r.newText.has_value());
    c.runCount = 5;
    resetCounterByDoubleClick(c, 40, MouseButton::Left, true, true,
                              positionAt({0x00, 0x01, 0x00, 0x00}, 0x0BB, 0));
    EXPECT_EQ(c.runCount, 0);
    c.runCount = 5;
    resetCounterByDoubleClick(c, 40, MouseButton::Left, true, true,
                              positionAt({0x10, 0x01, 0x00, 0x00}));
    EXPECT_EQ(c.runCount, 0);
    c.runCount = 5;
    resetCounterByDoubleClick(c, 40, MouseButton::Left, true, true, positionAt(dat::kNoValue));
    EXPECT_EQ(c.runCount, 0);

    // A line that is not counting is left alone.
    c = {false, false, 9, 9};
    EXPECT_EQ(resetCounterByDoubleClick(c, 20, MouseButton::Left, true, true, pos).line,
              TimeLine::None);
    EXPECT_EQ(resetCounterByDoubleClick(c, 40, MouseButton::Left, true, true, pos).line,
              TimeLine::None);
    EXPECT_EQ(c.pgmCount, 9);
    EXPECT_EQ(c.runCount, 9);
}

} // namespace
} // namespace tarnvel::app
