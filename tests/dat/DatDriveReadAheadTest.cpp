#include "ScriptedDrive.h"
#include "SubcodeFixture.h"
#include "dat/DatDrive.h"
#include "scsi/ScsiStatus.h"

#include <gtest/gtest.h>

namespace tarnvel::dat {
namespace {

DatFrame frameWith(const SubcodeBlock& b, std::uint8_t marker)
{
    DatFrame f;
    f.audio[0] = marker;
    f.subcode = b;
    return f;
}

class ReadAhead : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Program 1 (frames 0-99), a START run of program 2 (100-399), then program 2.
        for (int i = 0; i < 500; ++i) {
            SubcodeBlock b = i < 100   ? test::programBlock(1, i)
                             : i < 400 ? test::startBlock(2, i)
                                       : test::programBlock(2, i);
            target->frames.push_back(frameWith(b, static_cast<std::uint8_t>(i)));
        }
        drive.addTarget(target);
        ASSERT_EQ(drive.scanDevices(scsi::kTypeSequentialAccess), 1);
    }
    std::shared_ptr<test::ScriptedDrive> target = std::make_shared<test::ScriptedDrive>();
    DatDrive drive{false, nullptr};
    DatFrame frame;
};

TEST_F(ReadAhead, KeepsThirtySixFramesInHandAndDeliversThemInOrder)
{
    ASSERT_NE(drive.readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(frame.audio[0], 0);
    EXPECT_EQ(target->count(0x08), 36u);
    ASSERT_NE(drive.readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(frame.audio[0], 1);
    EXPECT_EQ(target->count(0x08), 37u); // one read per frame consumed
    EXPECT_EQ(drive.lastTransferKind(0), TransferKind::Read);
}

TEST_F(ReadAhead, ProgramStartIsSeenAheadAndRegisteredOnce)
{
    // Consume up to frame 70: frame 100 is then 29 places after the next one (71).
    for (int i = 0; i <= 70; ++i)
        ASSERT_NE(drive.readFrameAhead(0, frame), nullptr);
    for (int k = 0; k < 36; ++k)
        EXPECT_EQ(drive.readAheadPeek(0, k), k == 29 ? 2u : 0u) << k;
    EXPECT_EQ(drive.readAheadPeek(0, 36), 0u);
    EXPECT_EQ(drive.readAheadPeek(0, -1), 0u);

    for (int i = 71; i < 450; ++i) {
        const TapePosition* p = drive.readFrameAhead(0, frame);
        ASSERT_NE(p, nullptr);
        // Frames whose successor carries other IDs are never confirmed.
        EXPECT_EQ(p->idConfirmed, (i == 99 || i == 399) ? 0 : 1) << i;
        if (i == 100) {
            EXPECT_EQ(p->idChange, 2u);
        }
    }
    const IdTable* ids = drive.getTable(0, false);
    ASSERT_EQ(ids->count, 1);
    EXPECT_EQ(ids->entries[0].pNo, 2);
    EXPECT_EQ(ids->entries[0].frames, 100);
    EXPECT_EQ(drive.getPosition(0)->currentPNo, 2);
}

TEST_F(ReadAhead, AFailedReadIsDeliveredInItsPlaceWithItsSense)
{
    target->failAt = 50;
    for (int i = 0; i < 50; ++i) {
        const TapePosition* p = drive.readFrameAhead(0, frame);
        ASSERT_NE(p, nullptr) << i;
        // The frame before the failure has no successor to confirm it.
        EXPECT_EQ(p->idConfirmed, i == 49 ? 0 : 1) << i;
    }
    EXPECT_EQ(drive.readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(drive.senseKey(), 0x08);
    EXPECT_EQ(drive.senseAscq(), 0x05);
    EXPECT_EQ(target->count(0x08), 51u); // nothing more was read after the failure
    EXPECT_EQ(drive.readAheadPeek(0, 0), 0u);
}

TEST_F(ReadAhead, LocateEmptiesTheRing)
{
    for (int i = 0; i < 10; ++i)
        drive.readFrameAhead(0, frame);
    drive.locate(0, DatDrive::kLocateByProgram, true, 0, 0, 1, 0);
    EXPECT_EQ(drive.readAheadPeek(0, 0), 0u);
    ASSERT_NE(drive.readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(frame.audio[0], 0); // read again from where the drive now is
}

TEST_F(ReadAhead, VirtualIdModeTakesIdsFromTheVirtualTable)
{
    drive.addId(0, 7, true, true, 1, test::absAt(40));
    drive.setVirtualIdMode(0, true); // before any position: from the start
    for (int i = 0; i <= 40; ++i)
        ASSERT_NE(drive.readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(drive.getPosition(0)->currentPNo, 7);
    EXPECT_EQ(drive.getPosition(0)->idChange, 7u);
    drive.setVirtualIdMode(0, false);
    for (int i = 41; i <= 100; ++i)
        ASSERT_NE(drive.readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(drive.getPosition(0)->currentPNo, 2);
    EXPECT_EQ(drive.getTable(0, false)->count, 1); // the tape's own START 2
}

TEST_F(ReadAhead, ReadFrameParsedDoesNotRegister)
{
    target->head = 100;
    const TapePosition* p = drive.readFrameParsed(0, frame);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->currentPNo, 2);
    EXPECT_EQ(p->idConfirmed, 0);
    EXPECT_EQ(drive.getTable(0, false)->count, 0);
    target->failAt = 101;
    EXPECT_EQ(drive.readFrameParsed(0, frame), nullptr);
}

} // namespace
} // namespace tarnvel::dat
