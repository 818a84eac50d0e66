#include "ScriptedDrive.h"
#include "SubcodeFixture.h"
#include "dat/DatDrive.h"
#include "scsi/ScsiStatus.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

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

namespace tarnvel::dat {
namespace {

// Frames made of runs of equal Sub ID and Main ID; frame i carries ABS time i + 100 (an
// END ID at second 0 would read as none).
constexpr int kAbsOffset = 100;
struct FrameRun {
    int frames;
    std::uint8_t flags;
    std::uint16_t digits;
    std::uint8_t mainId0 = 0;
};

std::vector<DatFrame> framesOf(std::initializer_list<FrameRun> runs)
{
    std::vector<DatFrame> frames;
    for (const FrameRun& r : runs)
        for (int i = 0; i < r.frames; ++i) {
            DatFrame f;
            f.subcode =
                test::block(r.flags, r.digits,
                            test::absAt(kAbsOffset + static_cast<int>(frames.size())), r.mainId0);
            frames.push_back(f);
        }
    return frames;
}

constexpr std::uint8_t kPrio = kSubIdPriority;
constexpr std::uint8_t kPrioStart = kSubIdPriority | kSubIdStart;

TEST(Ring, MarksTheFirstConfirmedFrameOfAStartRun)
{
    struct Case {
        const char* name;
        std::vector<DatFrame> frames;
        bool locateFirst;
        std::map<int, std::uint32_t> marks; // frame -> program number seen ahead
    };
    const Case cases[] = {
        {"START with PRIORITY",
         framesOf({{10, kPrio, 0x001}, {30, kPrioStart, 0x002}}),
         false,
         {{10, 2}}},
        {"START without PRIORITY",
         framesOf({{10, 0, kPNoDigitsNone}, {30, kSubIdStart, kPNoDigitsNone}}),
         false,
         {{10, 888}}},
        {"Main ID changes where the run starts",
         framesOf({{10, kPrio, 0x001}, {30, kPrioStart, 0x002, 0x40}}),
         false,
         {}},
        {"back-to-back START runs",
         framesOf({{10, kPrio, 0x001}, {10, kPrioStart, 0x002}, {20, kPrioStart, 0x003}}),
         false,
         {{10, 2}, {20, 3}}},
        {"a START frame nothing confirms",
         framesOf({{10, kPrio, 0x001}, {1, kPrioStart, 0x002}, {29, kPrio, 0x001}}),
         false,
         {}},
        {"a SKIP run",
         framesOf({{10, kPrio, 0x001}, {30, kSubIdPriority | kSubIdSkip, 0x999}}),
         false,
         {}},
        // The run the search landed in: nothing ahead starts a program.
        {"first frames after a locate", framesOf({{40, kPrioStart, 0x005}}), true, {}},
    };
    DatFrame frame;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto target = std::make_shared<test::ScriptedDrive>();
        DatDrive d(false, nullptr);
        target->frames = c.frames;
        d.addTarget(target);
        ASSERT_EQ(d.scanDevices(scsi::kTypeSequentialAccess), 1);
        if (c.locateFirst)
            d.locate(0, DatDrive::kLocateByProgram, false, 0, 0, 5, 0);
        ASSERT_NE(d.readFrameAhead(0, frame), nullptr);
        // Frame 0 is consumed: slot k ahead holds frame k + 1; the last one read has no
        // successor yet.
        for (int k = 0; k < DatDrive::kAheadSlots - 2; ++k) {
            const auto mark = c.marks.find(k + 1);
            EXPECT_EQ(d.readAheadPeek(0, k), mark == c.marks.end() ? 0u : mark->second)
                << "frame " << k + 1;
        }
    }
}

TEST(Ring, TheFirstFrameAfterArrivalRegistersItsId)
{
    struct Case {
        const char* name;
        FrameRun first; // frames 0-49, read alone first as the tape arrival does
        int pNo;        // the ID expected at frame 0 (0: none)
        bool end;
    };
    const Case cases[] = {
        {"START", {50, kPrioStart, 0x001}, 1, false},
        {"START without number", {50, kSubIdStart, kPNoDigitsNone}, 888, false},
        {"SKIP", {50, kSubIdPriority | kSubIdSkip, 0x999}, 999, false},
        {"END", {50, kPrio, kPNoDigitsEnd}, 0, true},
        {"program frames", {50, kPrio, 0x001}, 0, false},
    };
    DatFrame frame;
    for (const Case& c : cases) {
        for (const bool arrivalRead : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (arrivalRead ? " after the arrival read" : ""));
            auto target = std::make_shared<test::ScriptedDrive>();
            DatDrive d(false, nullptr);
            target->frames = framesOf({c.first, {50, kPrio, 0x001}, {50, kPrioStart, 0x002}});
            d.addTarget(target);
            ASSERT_EQ(d.scanDevices(scsi::kTypeSequentialAccess), 1);
            if (arrivalRead) {
                ASSERT_NE(d.readFrameParsed(0, frame), nullptr);
            }
            for (int i = arrivalRead ? 1 : 0; i < 150; ++i)
                ASSERT_NE(d.readFrameAhead(0, frame), nullptr);
            const IdTable& ids = *d.getTable(0, false);
            ASSERT_EQ(ids.count, c.pNo != 0 ? 2 : 1);
            if (c.pNo != 0) {
                EXPECT_EQ(ids.entries[0].pNo, c.pNo);
                EXPECT_EQ(ids.entries[0].frames, kAbsOffset);
            }
            EXPECT_EQ(ids.entries[ids.count - 1].pNo, 2);
            EXPECT_EQ(ids.entries[ids.count - 1].frames, kAbsOffset + 100);
            EXPECT_EQ(ids.hasEnd(), c.end);
            if (c.end) {
                EXPECT_EQ(ids.endFrames, kAbsOffset);
            }
        }
    }
}

} // namespace
} // namespace tarnvel::dat
