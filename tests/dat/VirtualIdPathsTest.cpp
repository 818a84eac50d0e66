#include "ScriptedDrive.h"
#include "SubcodeFixture.h"
#include "dat/DatDrive.h"
#include "scsi/ScsiStatus.h"

#include <gtest/gtest.h>

// The drive object's paths in virtual ID mode (position replies, the cursor the mode starts
// from) and what a position reply leaves of the last frame.
namespace tarnvel::dat {
namespace {

using test::absAt;

class DriveIds : public ::testing::Test {
protected:
    void SetUp() override
    {
        drive.addTarget(target);
        ASSERT_EQ(drive.scanDevices(scsi::kTypeSequentialAccess), 1);
    }
    // The drive's next READ POSITION reply.
    void reply(std::uint8_t h, std::uint8_t t, std::uint8_t u, int frames)
    {
        test::positionReply(target->positionReply, h, t, u, absAt(frames));
    }
    std::shared_ptr<test::ScriptedDrive> target = std::make_shared<test::ScriptedDrive>();
    DatDrive drive{false, nullptr};
};

TEST_F(DriveIds, IgnoreNumbersDropsOnlyTheNumbersOfAPositionReply)
{
    struct Case {
        const char* name;
        std::uint8_t h, t, u;
        bool ignore;
        std::uint32_t digits;
        int currentPNo;
        int tapeIds;
        bool end;
    };
    const Case cases[] = {
        {"a number, ignored", 0, 0, 5, true, 0x000, 0, 0, false},
        {"a number, kept", 0, 0, 5, false, 0x005, 5, 1, false},
        {"a three-digit number, ignored", 7, 9, 9, true, 0x000, 0, 0, false},
        {"lead-in", 0, 0xB, 0xB, true, 0x0BB, 0, 0, false},
        {"END", 0, 0xE, 0xE, true, 0x0EE, 0, 0, true},
        {"no number", 0, 0xA, 0xA, true, 0x0AA, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.resetDrive(0);
        reply(0, 0xA, 0xA, 100); // from an area without number
        ASSERT_NE(drive.readPositionAndParse(0, c.ignore), nullptr);
        reply(c.h, c.t, c.u, 3333);
        const TapePosition* p = drive.readPositionAndParse(0, c.ignore);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->pNoDigits, c.digits);
        EXPECT_EQ(p->currentPNo, c.currentPNo);
        EXPECT_EQ(drive.getTable(0, false)->count, c.tapeIds);
        EXPECT_EQ(drive.getTable(0, false)->hasEnd(), c.end);
    }
}

TEST_F(DriveIds, VirtualIdModeStartsAtTheIdAtOrAfterThePosition)
{
    struct Case {
        const char* name;
        int positionFrames; // -1: no position known
        int cursor;
    };
    const Case cases[] = {
        {"no position", -1, 0},           {"before the first", 50, 0},
        {"exactly at the first", 100, 0}, {"just after the first", 101, 1},
        {"exactly at the last", 300, 2},  {"after the last", 350, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.resetDrive(0);
        // Added out of order: the mode sorts them first.
        drive.addId(0, 3, true, true, 9, absAt(300));
        drive.addId(0, 1, true, true, 3, absAt(100));
        drive.addId(0, 2, true, true, 6, absAt(200));
        if (c.positionFrames >= 0) {
            reply(0, 0xA, 0xA, c.positionFrames);
            ASSERT_NE(drive.readPositionAndParse(0, true), nullptr);
        }
        drive.setVirtualIdMode(0, true);
        const IdTable& v = *drive.getTable(0, true);
        EXPECT_EQ(v.cursor, c.cursor);
        EXPECT_EQ(v.entries[0].pNo, 1);
        EXPECT_EQ(v.entries[2].pNo, 3);
        drive.setVirtualIdMode(0, false);
    }
}

TEST_F(DriveIds, APositionReplyKeepsTheDateOfTheLastFrame)
{
    SubcodeBlock b = test::programBlock(1, 500);
    std::uint8_t* date = b.packData(2);
    const std::uint8_t pack[8] = {0x51, 0x24, 0x05, 0x17, 0x12, 0x30, 0x00, 0};
    std::copy(pack, pack + 8, date);
    packParity(date);
    drive.parseSubcode(0, b, false, false, false);
    const auto shown = drive.getPosition(0)->datePack;
    ASSERT_NE(shown, TapePosition::kNoDatePack);

    reply(0, 0, 1, 600);
    const TapePosition* p = drive.readPositionAndParse(0, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->datePack, shown);
    EXPECT_EQ(p->absTime, absAt(600));
}

} // namespace
} // namespace tarnvel::dat
