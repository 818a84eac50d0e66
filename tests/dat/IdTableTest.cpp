#include "dat/IdTable.h"

#include "SubcodeFixture.h"
#include "dat/TapeTracker.h"

#include <gtest/gtest.h>

namespace tarnvel::dat {
namespace {

using test::absAt;

TEST(IdTable, FullTableRefusesANewNumber)
{
    IdTable t;
    int guard = 0;
    for (int i = 1; i <= IdTable::kMaxEntries; ++i)
        ASSERT_EQ(t.addId(IdTable::Kind::Tape, i, true, i * 10, absAt(i * 333), guard),
                  static_cast<IdCode>(i));
    const IdTable before = t;
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 500, true, 5000, absAt(166666), guard), 0u);
    EXPECT_EQ(t.count, IdTable::kMaxEntries);
    EXPECT_EQ(t.entries.back().pNo, before.entries.back().pNo);
}

TEST(IdTable, SameNumberWithinItsRunStaysAndMovesLater)
{
    int guard = 0;
    struct Case {
        int laterFrames; // frames after the stored place
        bool moves;
    } cases[] = {{1, false}, {300, false}, {301, true}, {-1, true}};
    for (const Case& c : cases) {
        IdTable t;
        t.addId(IdTable::Kind::Tape, 5, true, 100, absAt(3333), guard);
        const IdCode code =
            t.addId(IdTable::Kind::Tape, 5, true, 0, absAt(3333 + c.laterFrames), guard);
        EXPECT_EQ(code, c.moves ? 5u : 0u) << c.laterFrames;
        EXPECT_EQ(t.count, 1);
        EXPECT_EQ(t.entries[0].frames, c.moves ? 3333 + c.laterFrames : 3333);
        // The virtual table has no run rule.
        IdTable v;
        v.addId(IdTable::Kind::Virtual, 5, true, 100, absAt(3333), guard);
        EXPECT_EQ(v.addId(IdTable::Kind::Virtual, 5, true, 0, absAt(3333 + c.laterFrames), guard),
                  5u);
    }
    IdTable t;
    t.addId(IdTable::Kind::Tape, 5, true, 100, absAt(3333), guard);
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 5, false, 200, absAt(9999), guard), 0u);
}

TEST(IdTable, UnnumberedStartsWithinOneSecondAreOneEntry)
{
    int guard = 0;
    IdTable t;
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 888, true, 10, absAt(333), guard), 888u);
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 888, true, 11, absAt(366), guard), 0u); // same run
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 888, true, 12, absAt(400), guard), 888u);
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 999, true, 40, absAt(1333), guard), 999u);
    EXPECT_EQ(t.addId(IdTable::Kind::Tape, 999, true, 80, absAt(2666), guard), 999u);
    EXPECT_EQ(t.count, 4);
}

TEST(IdTable, EarliestEndIdCountsOnTape)
{
    int guard = 0;
    IdTable t;
    EXPECT_EQ(t.setEnd(IdTable::Kind::Tape, absAt(30000), false, 900, guard), kIdCodeEndChanged);
    EXPECT_EQ(t.setEnd(IdTable::Kind::Tape, absAt(20000), false, 600, guard), 0u); // not forced
    EXPECT_EQ(t.setEnd(IdTable::Kind::Tape, absAt(40000), true, 1200, guard), 0u); // later
    EXPECT_EQ(t.endSeconds, 900);
    EXPECT_EQ(t.setEnd(IdTable::Kind::Tape, absAt(20000), true, 600, guard), kIdCodeEndChanged);
    EXPECT_EQ(t.endSeconds, 600);
    EXPECT_EQ(t.endFrames, 20000);
    IdTable v;
    v.setEnd(IdTable::Kind::Virtual, absAt(20000), true, 600, guard);
    EXPECT_EQ(v.setEnd(IdTable::Kind::Virtual, absAt(40000), true, 1200, guard), kIdCodeEndChanged);
}

TEST(IdTable, DeleteWaitsForTheGuardUnlessForced)
{
    int guard = 0;
    IdTable t;
    t.addId(IdTable::Kind::Tape, 3, true, 30, absAt(1000), guard);
    t.addId(IdTable::Kind::Tape, 4, true, 60, absAt(2000), guard);
    t.setEnd(IdTable::Kind::Tape, absAt(3000), false, 90, guard);
    EXPECT_EQ(guard, kIdGuardFramesAfterChange);
    EXPECT_EQ(t.deleteId(30, false, guard), 0u);
    EXPECT_EQ(t.deleteId(30, true, guard), 3u + kIdRemoved);
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(t.entries[0].pNo, 4);
    EXPECT_EQ(t.entries[1].pNo, 0); // the freed slot is cleared
    guard = 0;
    EXPECT_EQ(t.deleteId(90, false, guard), kIdCodeEndChanged);
    EXPECT_FALSE(t.hasEnd());
    EXPECT_EQ(t.deleteId(90, false, guard), 0u);
}

TEST(IdTable, SortIsStableAndClearKeepsTheMaxima)
{
    int guard = 0;
    IdTable t;
    t.addId(IdTable::Kind::Virtual, 7, true, 50, absAt(1666), guard);
    t.addId(IdTable::Kind::Virtual, 888, true, 10, absAt(333), guard);
    t.addId(IdTable::Kind::Virtual, 2, true, 10, absAt(334), guard); // same second as 888
    t.maxSeconds = 77;
    t.sort();
    EXPECT_EQ(t.entries[0].pNo, 888);
    EXPECT_EQ(t.entries[1].pNo, 2);
    EXPECT_EQ(t.entries[2].pNo, 7);
    t.clear();
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(t.entries[0].pNo, 0);
    EXPECT_EQ(t.maxSeconds, 77);
}

class Tracker : public ::testing::Test {
protected:
    RecSubcodeState rec;
    std::atomic<bool> virtualMode{false};
    TapeTracker tracker{rec, virtualMode};

    void read(const SubcodeBlock& b, bool confirmed = true)
    {
        tracker.parseSubcode(b, false, false, confirmed);
    }
    const IdTable& tape() { return tracker.table(false); }
    const IdTable& virt() { return tracker.table(true); }
};

TEST_F(Tracker, ReadingThroughAnIdRunAddsOneEntry)
{
    read(test::programBlock(4, 900));
    for (int f = 1000; f < 1300; ++f) {
        read(test::startBlock(5, f));
        EXPECT_EQ(tracker.position().idChange, f == 1000 ? 5u : 0u);
    }
    read(test::programBlock(5, 1300));
    ASSERT_EQ(tape().count, 1);
    EXPECT_EQ(tape().entries[0].pNo, 5);
    EXPECT_EQ(tape().entries[0].frames, 1000);
    EXPECT_EQ(tracker.position().currentPNo, 5);
    // Unconfirmed frames register nothing.
    read(test::startBlock(6, 2000), false);
    EXPECT_EQ(tape().count, 1);
    EXPECT_EQ(tracker.position().currentPNo, 6);
}

TEST_F(Tracker, FrameUpdatesThePositionAndTheMaxima)
{
    SubcodeBlock b = test::programBlock(12, 3333);
    b.bytes[kSubIdOffset] |= kSubIdStart;
    // A date pack in pack 3.
    std::uint8_t* date = b.packData(3);
    const std::uint8_t datePack[8] = {0x56, 0x10, 0x02, 0x26, 0x12, 0x34, 0x56, 0};
    std::copy(datePack, datePack + 8, date);
    read(b);
    const TapePosition& p = tracker.position();
    EXPECT_EQ(p.pNoDigits, 0x012u);
    EXPECT_EQ(p.absTime, absAt(3333));
    EXPECT_EQ(p.absSeconds, 100);
    EXPECT_EQ(p.absIndex, 0x01);
    EXPECT_EQ(p.subIdFlags, kSubIdPriority | kSubIdStart);
    EXPECT_EQ(p.programTime, kNoValue);
    EXPECT_EQ(p.datePack[0], 0x56);
    EXPECT_EQ(p.idConfirmed, 1);
    EXPECT_EQ(tape().maxSeconds, 100);
    EXPECT_EQ(virt().maxSeconds, 100);
    // A frame without ABS pack leaves the seconds; the lead-in code sets program 0.
    SubcodeBlock leadIn = test::block(kSubIdPriority, kPNoDigitsLeadIn, kNoValue);
    leadIn.packData(1)[0] = 0; // no ABS pack
    read(leadIn);
    EXPECT_EQ(p.absSeconds, 100);
    EXPECT_EQ(p.absTime, kNoValue);
    EXPECT_EQ(p.currentPNo, 0);
    EXPECT_EQ(p.absIndex, 0xAA);
}

TEST_F(Tracker, EndIdIsSetWhenConfirmedOrOnceWhenWriting)
{
    read(test::block(kSubIdPriority, kPNoDigitsEnd, absAt(9000)), false);
    EXPECT_FALSE(tape().hasEnd());
    read(test::block(kSubIdPriority, kPNoDigitsEnd, absAt(9001)));
    // The confirmed frame continues the one read without registration: the END starts there.
    EXPECT_EQ(tape().endFrames, 9000);
    EXPECT_EQ(tracker.position().idChange, kIdCodeEndChanged);
    read(test::plainBlock(9100));
    tracker.clearTable(false);
    read(test::block(kSubIdPriority, kPNoDigitsEnd, absAt(9200)));
    EXPECT_EQ(tape().endFrames, 9200);

    // Writing: only the first END frame of the run sets it (forced, so an earlier END too).
    read(test::plainBlock(6000));
    tracker.setLastTransferKind(TransferKind::Write);
    tracker.parseSubcode(test::block(kSubIdPriority, kPNoDigitsEnd, absAt(6001)), false, true,
                         true);
    EXPECT_EQ(tape().endFrames, 6001);
    tracker.parseSubcode(test::block(kSubIdPriority, kPNoDigitsEnd, absAt(5002)), false, true,
                         true);
    EXPECT_EQ(tape().endFrames, 6001);
}

TEST_F(Tracker, WritingOverOldIdsRemovesThemOncePerSecond)
{
    tracker.addId(7, false, true, 100, absAt(3333));
    rec.idGuardFrames = 0;
    tracker.setLastTransferKind(TransferKind::Write);
    // Not on the second's first frame: nothing is removed.
    tracker.parseSubcode(test::plainBlock(3334), false, true, true);
    EXPECT_EQ(tape().count, 1);
    tracker.parseSubcode(test::plainBlock(3333), false, true, true);
    EXPECT_EQ(tape().count, 0);
    EXPECT_EQ(tracker.position().idChange, 7u + kIdRemoved);
}

TEST_F(Tracker, FrameWrittenCountsTheGuardAndAdvancesTheBlock)
{
    SubcodeBlock b = test::plainBlock(3333);
    rec.idGuardFrames = 2;
    ASSERT_NE(tracker.frameWritten(b, false), nullptr);
    EXPECT_EQ(rec.idGuardFrames, 1);
    EXPECT_EQ(absTimeOf(b), absAt(3334)); // advanced to the next frame
    SubcodeBlock kept = test::plainBlock(3333);
    tracker.frameWritten(kept, true);
    EXPECT_EQ(absTimeOf(kept), absAt(3333));
    EXPECT_EQ(rec.idGuardFrames, 0);
}

TEST_F(Tracker, CopyAllShiftsEveryIdEarlier)
{
    tracker.addId(1, false, true, 10, absAt(333));
    tracker.addId(888, false, true, 100, absAt(3333));
    tracker.addId(999, false, true, 200, absAt(6666));
    tracker.copyAllToVirtual(10); // one second: (333 + 5) / 10 = 33 frames
    ASSERT_EQ(virt().count, 3);
    EXPECT_EQ(virt().entries[0].frames, 300);
    EXPECT_EQ(virt().entries[1].frames, 3300);
    EXPECT_EQ(virt().entries[2].frames, 6633);
    EXPECT_EQ(virt().entries[1].seconds, absToSeconds(absAt(3300)));
    // Shifts of several seconds move unnumbered IDs too, without duplicates.
    tracker.copyAllToVirtual(50);
    ASSERT_EQ(virt().count, 3);
    EXPECT_EQ(virt().entries[1].pNo, 888);
    EXPECT_EQ(virt().entries[1].frames, 3333 - 167);
    tracker.copyAllToVirtual(0);
    EXPECT_EQ(virt().entries[2].frames, 6666);
}

TEST_F(Tracker, CopyOneAndRenumber)
{
    tracker.addId(9, false, true, 200, absAt(6666));
    tracker.addId(3, false, true, 100, absAt(3333));
    tracker.setEnd(absAt(9999), false, false, 300);
    EXPECT_EQ(tracker.copyToVirtual(0), 200);
    EXPECT_EQ(tracker.copyToVirtual(1), 100);
    EXPECT_EQ(tracker.copyToVirtual(-1), 300);
    EXPECT_EQ(tracker.copyToVirtual(5), 0);
    ASSERT_EQ(virt().count, 2);
    EXPECT_EQ(virt().entries[0].pNo, 3); // sorted
    EXPECT_EQ(virt().endFrames, 9999);
    tracker.addId(999, true, true, 250, absAt(8333));
    EXPECT_EQ(tracker.renumberVirtual(), 2);
    EXPECT_EQ(virt().entries[0].pNo, 1);
    EXPECT_EQ(virt().entries[1].pNo, 2);
    EXPECT_EQ(virt().entries[2].pNo, 999);
}

TEST_F(Tracker, PreviousAndNextProgramNumbers)
{
    read(test::programBlock(5, 3333));
    EXPECT_EQ(tracker.nextPrevPNo(true, false, nullptr), 4);
    EXPECT_EQ(tracker.nextPrevPNo(false, false, nullptr), 6);
    read(test::plainBlock(4000)); // an area without number after program 5
    EXPECT_EQ(tracker.nextPrevPNo(true, false, nullptr), 5);
    read(test::programBlock(0, 10));
    EXPECT_EQ(tracker.nextPrevPNo(true, false, nullptr), 0);

    // Virtual: by the entries around the position.
    tracker.addId(1, true, true, 10, absAt(333));
    tracker.addId(2, true, true, 100, absAt(3333));
    tracker.addId(3, true, true, 200, absAt(6666));
    IdEntry e;
    read(test::plainBlock(3333)); // exactly on ID 2
    EXPECT_EQ(tracker.nextPrevPNo(true, true, &e), 1);
    EXPECT_EQ(e.frames, 333);
    EXPECT_EQ(tracker.nextPrevPNo(false, true, &e), 3);
    read(test::plainBlock(4000)); // inside program 2
    EXPECT_EQ(tracker.nextPrevPNo(true, true, &e), 2);
    read(test::plainBlock(7000)); // after the last
    EXPECT_EQ(tracker.nextPrevPNo(false, true, &e), 0);
}

// The default number of a START ID written where the tape stands.
TEST_F(Tracker, NextStartNumberContinuesTheProgramInForce)
{
    EXPECT_EQ(tracker.nextStartNumber(), 1); // nothing known: a tape without IDs
    read(test::programBlock(5, 3333));
    EXPECT_EQ(tracker.nextStartNumber(), 6);
    read(test::startBlock(5, 3333)); // on the ID itself: still after it
    EXPECT_EQ(tracker.nextStartNumber(), 6);
    read(test::plainBlock(4000)); // after program 5, without a number
    EXPECT_EQ(tracker.nextStartNumber(), 6);

    // No program in force: the last START ID before the position that the table knows.
    RecSubcodeState other;
    TapeTracker fresh{other, virtualMode};
    fresh.addId(7, false, true, 15, absAt(500));
    fresh.addId(2, false, true, 30, absAt(1000));
    fresh.addId(9, false, true, 90, absAt(3000));
    fresh.addId(dat::kPNoSkip, false, true, 50, absAt(1500));
    fresh.parseSubcode(test::plainBlock(2000), false, false, false);
    EXPECT_EQ(fresh.nextStartNumber(), 3);
}

TEST_F(Tracker, PositionRepliesRegisterIdsOnlyWhenMovingOutOfUnnumberedAreas)
{
    std::uint8_t r[20];
    test::positionReply(r, 0, 0xB, 0xB, absAt(0));
    tracker.parsePositionReply(r);
    EXPECT_EQ(tracker.position().currentPNo, 0);
    EXPECT_EQ(tracker.position().subIdFlags, 0);

    test::positionReply(r, 0, 0, 3, absAt(3333)); // forward out of the lead-in
    tracker.parsePositionReply(r);
    EXPECT_EQ(tracker.position().currentPNo, 3);
    ASSERT_EQ(tape().count, 1);
    EXPECT_EQ(tape().entries[0].pNo, 3);
    EXPECT_EQ(tracker.position().idChange, 3u);

    test::positionReply(r, 0, 0, 4, absAt(6666)); // previous was numbered: no ID
    tracker.parsePositionReply(r);
    EXPECT_EQ(tape().count, 1);

    // Back into an unnumbered area: where we were was program 4's start.
    test::positionReply(r, 0, 0xA, 0xA, absAt(5000));
    tracker.parsePositionReply(r);
    ASSERT_EQ(tape().count, 2);
    EXPECT_EQ(tape().entries[1].pNo, 4);
    EXPECT_EQ(tape().entries[1].frames, 6666);
    EXPECT_EQ(tracker.position().currentPNo, 3);

    test::positionReply(r, 0, 0xE, 0xE, absAt(9000)); // forward onto the END ID
    tracker.parsePositionReply(r);
    EXPECT_EQ(tape().endFrames, 9000);
    EXPECT_EQ(tracker.position().pNoDigits, 0x0EEu);

    // Digit bytes above a nibble are cut, never spread into the next digit.
    test::positionReply(r, 0x17, 0x29, 0x35, absAt(9100));
    tracker.parsePositionReply(r);
    EXPECT_EQ(tracker.position().pNoDigits, 0x795u);
}

TEST_F(Tracker, VirtualParseShowsTheVirtualIdsInTurn)
{
    tracker.addId(2, true, true, 100, absAt(3333));
    tracker.addId(999, true, true, 200, absAt(6666));
    tracker.setEnd(absAt(9000), true, true, 270);
    read(test::plainBlock(3000));
    tracker.startVirtualPlay();
    EXPECT_EQ(virt().cursor, 0);

    tracker.parseVirtual(test::startBlock(8, 3332), true);
    EXPECT_EQ(tracker.position().pNoDigits, kPNoDigitsNone);
    tracker.parseVirtual(test::plainBlock(3333), true);
    EXPECT_EQ(tracker.position().pNoDigits, 0x002u);
    EXPECT_EQ(tracker.position().subIdFlags, kSubIdPriority | kSubIdStart);
    EXPECT_EQ(tracker.position().idChange, 2u);
    EXPECT_EQ(tracker.position().currentPNo, 2);
    tracker.parseVirtual(test::plainBlock(3333 + 299), true);
    EXPECT_EQ(tracker.position().idChange, 0u);
    EXPECT_EQ(virt().cursor, 1);

    tracker.parseVirtual(test::plainBlock(6666 + 10), true);
    EXPECT_EQ(tracker.position().pNoDigits, kPNoDigitsSkip);
    EXPECT_EQ(tracker.position().subIdFlags, kSubIdPriority | kSubIdSkip);
    tracker.parseVirtual(test::plainBlock(6666 + 32), true);
    EXPECT_EQ(virt().cursor, 2);

    tracker.parseVirtual(test::plainBlock(9000), true);
    EXPECT_EQ(tracker.position().pNoDigits, kPNoDigitsEnd);
    EXPECT_EQ(tracker.position().idChange, kIdCodeEndChanged);
    tracker.parseVirtual(test::plainBlock(9033), true);
    EXPECT_EQ(tracker.position().pNoDigits, kPNoDigitsNone);
    // The lead-in passes through.
    tracker.parseVirtual(test::block(kSubIdPriority, kPNoDigitsLeadIn, absAt(10)), true);
    EXPECT_EQ(tracker.position().pNoDigits, kPNoDigitsLeadIn);
    EXPECT_EQ(tracker.position().currentPNo, 0);
}

TEST_F(Tracker, FindNearAndRegisterFromPosition)
{
    EXPECT_EQ(tracker.registerFromPosition(0x005, 100, absAt(3333), 5), 5u);
    EXPECT_EQ(tracker.registerFromPosition(0x0EE, 300, absAt(9999), 0), kIdCodeEndChanged);
    EXPECT_EQ(tracker.registerFromPosition(0x0BB, 0, absAt(0), 0), 0u);
    TapePosition at;
    at.pNoDigits = 0x005;
    at.absSeconds = 109;
    ASSERT_NE(tracker.findTapeIdNear(at), nullptr);
    at.absSeconds = 110;
    EXPECT_EQ(tracker.findTapeIdNear(at), nullptr);
    at.absSeconds = 99;
    EXPECT_EQ(tracker.findTapeIdNear(at), nullptr);
}

} // namespace
} // namespace tarnvel::dat
