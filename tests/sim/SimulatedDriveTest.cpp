#include "common/ByteOrder.h"
#include "dat/TimeCode.h"
#include "sim/SimTestSupport.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <thread>

namespace tarnvel::sim::test {
namespace {

using dat::TimeCode;
using scsi::kTargetCheckCondition;
using scsi::kTargetGood;

void expectSense(const TargetReply& r, int key, int a, int q, const char* what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(r.status, kTargetCheckCondition);
    EXPECT_EQ(senseKey(r), key);
    EXPECT_EQ(asc(r), a);
    EXPECT_EQ(ascq(r), q);
}

// Three programs of 400 frames after a 100-frame stretch without ID; ABS from 00h00m02s00.
constexpr int kProgramFrames = 400;
constexpr int kFirstProgram = 100;
void threePrograms(Cassette& c)
{
    recordFrames(c, 0, kFirstProgram, 0, dat::framesToAbs(66));
    for (int p = 0; p < 3; ++p) {
        const int at = kFirstProgram + p * kProgramFrames;
        recordFrames(c, at, kProgramFrames, p + 1, dat::framesToAbs(66 + at),
                     static_cast<std::int16_t>(1000 * (p + 1)));
    }
}
constexpr int kRecordedEnd = kFirstProgram + 3 * kProgramFrames;

TEST(SimulatedDriveInquiry, IdentifiesTheModelAndUnit)
{
    struct Case {
        int unit;
        bool sdt9000;
        const char* product;
    };
    const Case cases[] = {{0, false, "DAT SIMULATOR   "},
                          {1, false, "DAT SIMULATOR 2 "},
                          {0, true, "SDT-9000 SIM    "}};
    for (const Case& c : cases) {
        SimOptions o = fastOptions();
        o.unit = c.unit;
        o.sdt9000 = c.sdt9000;
        std::string error;
        auto drive = SimulatedDrive::open("", o, error);
        ASSERT_TRUE(drive) << error;
        std::uint8_t data[44] = {};
        const std::uint8_t cdb[6] = {0x12, 0, 0, 0, 44, 0};
        const auto r = drive->command(cdb, 6, DataDirection::In, data, sizeof data);
        ASSERT_EQ(r.status, kTargetGood);
        EXPECT_EQ(r.transferred, 44u);
        EXPECT_EQ(data[0], 0x01); // sequential access, even with a unit attention pending
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 8), "TARNVEL ");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 16), 16), c.product);

        const std::uint8_t evpd[6] = {0x12, 1, 0x80, 0, 44, 0};
        expectSense(drive->command(evpd, 6, DataDirection::In, data, sizeof data), 5, 0x24, 0,
                    "vital product data");
    }
}

TEST_F(DriveFixture, PowerOnCueAndReadyInDataMode)
{
    SimOptions o = fastOptions();
    o.cueMilliseconds = 300;
    openDrive(1, o);
    expectSense(testUnitReady(), 6, 0x29, 0, "power-on unit attention");
    expectSense(testUnitReady(), 2, 0x04, 0x01, "cueing");
    bringUp();
    // Back in data mode after a reset, which also announces itself once.
    drive->reset();
    expectSense(testUnitReady(), 6, 0x29, 0, "reset");
    EXPECT_EQ(testUnitReady().status, kTargetGood);
    dat::DatFrame f;
    expectSense(readFrame(f), 5, 0x24, 0, "audio read in data mode");
    std::uint8_t mode[12] = {};
    ASSERT_EQ(send({0x1A, 0, 0, 0, 12, 0}, DataDirection::In, mode, 12).status, kTargetGood);
    EXPECT_EQ(mode[4], 0x00);
    ASSERT_EQ(modeSelectDensity(0x80).status, kTargetGood);
    ASSERT_EQ(send({0x1A, 0, 0, 0, 12, 0}, DataDirection::In, mode, 12).status, kTargetGood);
    EXPECT_EQ(mode[0], 11);
    EXPECT_EQ(mode[3], 8);
    EXPECT_EQ(mode[4], 0x80);
    EXPECT_EQ(readBe32(mode + 8) & 0xFFFFFF, 0x200u);
}

TEST_F(DriveFixture, EmptyDriveInsertEjectAndReload)
{
    std::string error;
    {
        auto c = Cassette::create(cassettePath, 1, error);
        ASSERT_TRUE(c) << error;
    }
    drive = SimulatedDrive::open("", fastOptions(), error);
    ASSERT_TRUE(drive) << error;
    expectSense(testUnitReady(), 6, 0x29, 0, "power on");
    expectSense(testUnitReady(), 2, 0x3A, 0, "no cassette");
    expectSense(send({0x1B, 0, 0, 0, 1, 0}), 2, 0x3A, 0, "load without cassette");

    ASSERT_TRUE(drive->insertCassette(cassettePath, error)) << error;
    EXPECT_FALSE(drive->insertCassette(cassettePath, error));
    expectSense(testUnitReady(), 6, 0x28, 0, "tape changed");
    bringUp();

    // Unload with the immediate bit: returns at once, the tape moves, then the ejected state.
    ASSERT_EQ(send({0x1B, 1, 0, 0, 0, 0}).status, kTargetGood);
    waitStopped();
    expectSense(testUnitReady(), 2, 0x5A, 0x01, "ejected");
    ASSERT_EQ(send({0x1B, 0, 0, 0, 1, 0}).status, kTargetGood); // waits for the cue
    EXPECT_EQ(testUnitReady().status, kTargetGood);

    drive->removeCassette();
    expectSense(testUnitReady(), 2, 0x3A, 0, "taken out");
}

TEST_F(DriveFixture, ModeSelectRefusesWhatTheDriveCannotDo)
{
    openDrive();
    bringUp();
    struct Case {
        std::vector<std::uint8_t> list;
        int a;
        const char* what;
    };
    const Case cases[] = {
        {{0, 0, 0, 8, 0x13, 0, 0, 0, 0, 0, 2, 0}, 0x26, "unknown density"},
        {{0, 0, 0, 8, 0x80, 0, 0, 0}, 0x1A, "descriptor cut short"},
        {{0, 0, 0, 8, 0x80, 0, 0, 0, 0, 0, 2, 0, 0x30, 2, 0, 0}, 0x26, "a mode page"},
        {{0, 0}, 0x1A, "header cut short"},
    };
    for (const Case& c : cases) {
        auto list = c.list;
        expectSense(send({0x15, 0, 0, 0, static_cast<std::uint8_t>(list.size()), 0},
                         DataDirection::Out, list.data(), static_cast<std::uint32_t>(list.size())),
                    5, c.a, 0, c.what);
    }
    // A parameter list longer than the host's buffer is refused, not read past.
    std::uint8_t list[4] = {0, 0, 0, 0};
    expectSense(send({0x15, 0, 0, 0, 12, 0}, DataDirection::Out, list, 4), 5, 0x24, 0,
                "list beyond buffer");
    std::uint8_t mode[12];
    expectSense(send({0x1A, 0, 0x30, 0, 12, 0}, DataDirection::In, mode, 12), 5, 0x24, 0,
                "mode page");
}

TEST_F(DriveFixture, ReadsFramesInOrderToTheEndOfData)
{
    openDrive(1, threePrograms);
    bringUp();
    dat::DatFrame f;
    for (int i = 0; i < kRecordedEnd; ++i) {
        ASSERT_EQ(readFrame(f).status, kTargetGood) << i;
        ASSERT_EQ(dat::absToFrames(*dat::absTimeOf(f.subcode)), 66 + i);
    }
    expectSense(readFrame(f), 8, 0x00, 0x05, "end of data");
    expectSense(readFrame(f), 8, 0x00, 0x05, "still at the end");
    EXPECT_EQ(drive->observe().head, kRecordedEnd);
}

TEST_F(DriveFixture, NeverRecordedCassetteIsUnknownFormat)
{
    openDrive();
    bringUp();
    dat::DatFrame f;
    expectSense(readFrame(f), 8, 0x30, 0x01, "read");
    expectSense(locateAbs(TimeCode{0, 0, 2, 0}), 8, 0x30, 0x01, "locate by ABS time");
    // A fast-forward stops at once: the recorded area ends where it begins.
    EXPECT_EQ(locateProgram(799).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, 0);
}

TEST_F(DriveFixture, TransferLengthsAndOpcodes)
{
    openDrive(1, threePrograms);
    bringUp();
    dat::DatFrame f;
    for (std::uint32_t n : {5821u, 5823u, 2u * 5822u})
        expectSense(readFrame(f, n), 5, 0x24, 0, "frame length");
    EXPECT_EQ(readFrame(f, 0).status, kTargetGood);
    expectSense(send({0x08, 1, 0, 0, 1, 0}, DataDirection::In, f.data(), 5822), 5, 0x24, 0,
                "fixed blocks");
    // A buffer shorter than the frame is refused, never written past.
    std::uint8_t small[100];
    expectSense(send({0x08, 0, 0x00, 0x16, 0xBE, 0}, DataDirection::In, small, sizeof small), 5,
                0x24, 0, "short buffer");
    EXPECT_EQ(drive->observe().head, 0);

    std::uint8_t buffer[10];
    EXPECT_EQ(send({0x3C, 0, 0, 0, 0, 0, 0, 0, 10, 0}, DataDirection::In, buffer, 10).status,
              kTargetGood);
    expectSense(send({0x3C, 0, 0, 0, 0, 0, 0, 0, 20, 0}, DataDirection::In, buffer, 10), 5, 0x24, 0,
                "read buffer beyond the host buffer");
    expectSense(send({0x3C, 2, 0, 0, 0, 0, 0, 0, 10, 0}, DataDirection::In, buffer, 10), 5, 0x24, 0,
                "read buffer mode");
    for (std::uint8_t op : {0x11, 0x10, 0x19, 0x5A})
        expectSense(send({op, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 5, 0x20, 0, "unknown opcode");
    EXPECT_EQ(send({0x2B, 4, 0}).status, kTargetCheckCondition); // CDB cut short
}

TEST_F(DriveFixture, LocatesByProgramNumberAndAbsTime)
{
    openDrive(1, threePrograms);
    bringUp();
    std::uint8_t pos[20];
    dat::DatFrame f;

    ASSERT_EQ(locateProgram(2).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, kFirstProgram + kProgramFrames);
    ASSERT_EQ(readPosition(pos).status, kTargetGood);
    EXPECT_EQ(pos[4], 0);
    EXPECT_EQ(pos[5], 0);
    EXPECT_EQ(pos[6], 2);
    EXPECT_EQ(pos[7], 0xAA); // index
    EXPECT_EQ(dat::absToFrames(absOf(pos)), 66 + kFirstProgram + kProgramFrames);
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    EXPECT_EQ(f.subcode.subIdFlags() & 0xC0, 0xC0);

    // A number that is not on the tape runs to the end of the recorded area (fast forward).
    ASSERT_EQ(locateProgram(799).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, kRecordedEnd);
    expectSense(readFrame(f), 8, 0, 5, "after fast forward");
    ASSERT_EQ(readPosition(pos).status, kTargetGood); // the last frame passed
    EXPECT_EQ(dat::absToFrames(absOf(pos)), 66 + kRecordedEnd - 1);
    EXPECT_EQ(pos[6], 0x0A);

    const TimeCode t = dat::framesToAbs(66 + 250);
    ASSERT_EQ(locateAbs(t).status, kTargetGood);
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    EXPECT_EQ(*dat::absTimeOf(f.subcode), t);

    expectSense(locateAbs(dat::framesToAbs(66 + kRecordedEnd + 10)), 8, 0, 5, "ABS beyond");
    expectSense(locateAbs(TimeCode{0, 0x61, 0, 0}), 5, 0x24, 0, "not BCD");
    expectSense(locateProgram(12 * 100), 5, 0x24, 0, "digit above 9");
    expectSense(send({0x2B, 0, 0, 0x20, 0, 0, 2, 0, 0, 0}), 5, 0x24, 0, "block address form");
}

TEST_F(DriveFixture, ImmediateMotionIsSeenMovingAndRefusesTapeCommands)
{
    SimOptions o = fastOptions();
    o.motionScale = 0.2; // 200 ms to start, then about 7 ms per 1000 frames... long enough to see
    openDrive(1, threePrograms, o);
    bringUp();
    ASSERT_EQ(locateProgram(3, true).status, kTargetGood);
    EXPECT_TRUE(drive->observe().moving);
    expectSense(testUnitReady(), 2, 0x04, 0x01, "busy while moving");
    dat::DatFrame f;
    expectSense(readFrame(f), 2, 0x04, 0x01, "read while moving");
    expectSense(writeFrame(f), 2, 0x04, 0x01, "write while moving");
    expectSense(rewind(), 2, 0x04, 0x01, "rewind while moving");
    std::uint8_t pos[20];
    EXPECT_EQ(readPosition(pos).status, kTargetGood);
    waitStopped();
    EXPECT_EQ(testUnitReady().status, kTargetGood);
    ASSERT_EQ(readPosition(pos).status, kTargetGood);
    EXPECT_EQ(pos[6], 3);

    // A rewind over the recorded area passes recorded frames: READ POSITION changes.
    ASSERT_EQ(rewind(true).status, kTargetGood);
    std::vector<int> seen;
    while (drive->observe().moving) {
        ASSERT_EQ(readPosition(pos).status, kTargetGood);
        if (seen.empty() || seen.back() != dat::absToFrames(absOf(pos)))
            seen.push_back(dat::absToFrames(absOf(pos)));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_GE(seen.size(), 2u);
    EXPECT_EQ(drive->observe().head, 0);

    // A search to where the head already stands backs up and approaches: the host polling
    // for motion sees the position change.
    ASSERT_EQ(locateAbs(dat::framesToAbs(66 + 500)).status, kTargetGood);
    ASSERT_EQ(locateAbs(dat::framesToAbs(66 + 500), true).status, kTargetGood);
    seen.clear();
    while (drive->observe().moving) {
        ASSERT_EQ(readPosition(pos).status, kTargetGood);
        if (seen.empty() || seen.back() != dat::absToFrames(absOf(pos)))
            seen.push_back(dat::absToFrames(absOf(pos)));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_GE(seen.size(), 3u);
    EXPECT_EQ(drive->observe().head, 500);
}

TEST_F(DriveFixture, DeckSpeedReadCanBeAborted)
{
    SimOptions o = fastOptions();
    o.realtime = true;
    openDrive(1, threePrograms, o);
    bringUp();
    dat::DatFrame f;
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    std::atomic<int> reads{0};
    std::atomic<bool> stop{false};
    TargetReply last;
    std::thread reader([&] {
        while (!stop) {
            last = readFrame(f);
            if (last.status != kTargetGood)
                break;
            ++reads;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    drive->abort();
    reader.join();
    // The abort, from another thread, meets a read waiting for its frame to pass the head
    // (or, rarely, none at all).
    EXPECT_GT(reads.load(), 0);
    EXPECT_TRUE(last.status == kTargetGood || last.status == kTargetTaskAborted);
}

TEST_F(DriveFixture, AbortStopsAWaitingMotion)
{
    SimOptions o = fastOptions();
    o.motionScale = 50; // a rewind that would take a minute
    openDrive(
        60,
        [](Cassette& c) {
            recordFrames(c, 0, 20, 0, TimeCode{0, 0, 0, 0});
        },
        o);
    bringUp();
    // Put the head far out quickly by reading, then rewind without the immediate bit.
    dat::DatFrame f;
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(readFrame(f).status, kTargetGood);
    std::atomic<bool> done{false};
    TargetReply reply;
    std::thread t([&] {
        reply = rewind(false);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    drive->abort();
    t.join();
    EXPECT_EQ(reply.status, kTargetTaskAborted);
    EXPECT_FALSE(drive->observe().moving);
    EXPECT_EQ(drive->observe().head, 20); // still in the start-up of the wind
    EXPECT_EQ(testUnitReady().status, kTargetGood);
}

TEST_F(DriveFixture, InjectedReadFaults)
{
    openDrive(1, [](Cassette& c) {
        recordFrames(c, 0, 10, 0, TimeCode{0, 0, 0, 0});
        std::string e;
        ASSERT_TRUE(c.addFault({2, 2, FaultKind::Left}, e));
        ASSERT_TRUE(c.addFault({3, 3, FaultKind::Right}, e));
        ASSERT_TRUE(c.addFault({4, 5, FaultKind::Both}, e));
        ASSERT_TRUE(c.addFault({7, 7, FaultKind::Unreadable}, e));
    });
    bringUp();
    dat::DatFrame f;
    const int expectFlags[] = {0, 0, 0x40, 0x20, 0x60, 0x60, 0};
    for (int i = 0; i < 7; ++i) {
        ASSERT_EQ(readFrame(f).status, kTargetGood);
        EXPECT_EQ(f.subcode.subId(3) & 0x60, expectFlags[i]) << i;
        // A concealed channel no longer carries the recorded pattern; the other one does.
        const bool leftBad = (expectFlags[i] & 0x40) != 0;
        const bool rightBad = (expectFlags[i] & 0x20) != 0;
        EXPECT_EQ(f.audioWord(14) == 100 * i, !leftBad) << i;
        EXPECT_EQ(f.audioWord(15) == 100 * i + 10, !rightBad) << i;
    }
    // Frame 2's left channel runs from frame 1's last left sample towards frame 3's first.
    ASSERT_EQ(locateAbs(dat::framesToAbs(2)).status, kTargetGood);
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    const int first = static_cast<std::int16_t>(f.audioWord(0));
    const int last = static_cast<std::int16_t>(f.audioWord(2 * 1439));
    EXPECT_NEAR(first, 100 + 10 * (2878 % 7), 1);
    EXPECT_NEAR(last, 300, 1);

    ASSERT_EQ(locateAbs(dat::framesToAbs(7)).status, kTargetGood);
    expectSense(readFrame(f), 3, 0x11, 0, "unreadable");
    ASSERT_EQ(readFrame(f).status, kTargetGood); // the tape ran on past it
    EXPECT_EQ(*dat::absTimeOf(f.subcode), dat::framesToAbs(8));
}

// Each read of a frame in an intermittent stretch meets the fault as the fault's seed, the
// frame and the reads before decide: a read again may come back clean, a pass after a restart
// goes on counting, and the same cassette made again reads the same.
TEST_F(DriveFixture, IntermittentFaultsStrikeSomeReadsAsTheirSeedDecides)
{
    const FaultKind kinds[] = {FaultKind::Left, FaultKind::Right, FaultKind::Both,
                               FaultKind::Unreadable};
    for (const FaultKind kind : kinds) {
        SCOPED_TRACE(faultKindName(kind));
        const Fault fault{0, 59, kind, 3000, 11};
        drive.reset();
        std::filesystem::remove(cassettePath);
        openDrive(1, [&](Cassette& c) {
            recordFrames(c, 0, 60, 0, TimeCode{0, 0, 0, 0});
            std::string e;
            ASSERT_TRUE(c.addFault(fault, e)) << e;
        });
        int struck = 0, clean = 0;
        for (std::uint32_t pass = 0; pass < 3; ++pass) {
            if (pass == 2) { // a new run of the program
                drive.reset();
                std::string error;
                drive = SimulatedDrive::open(cassettePath, fastOptions(), error);
                ASSERT_TRUE(drive) << error;
            }
            if (pass != 1)
                bringUp();
            ASSERT_EQ(locateAbs(TimeCode{0, 0, 0, 0}).status, kTargetGood);
            dat::DatFrame f;
            for (int i = 0; i < 60; ++i) {
                const bool strikes = fault.strikes(i, pass);
                const TargetReply r = readFrame(f);
                if (kind == FaultKind::Unreadable) {
                    EXPECT_EQ(r.status != kTargetGood, strikes) << i << " pass " << pass;
                } else {
                    ASSERT_EQ(r.status, kTargetGood);
                    const int flags = f.subcode.subId(3) & 0x60;
                    const int expected = !strikes                   ? 0
                                         : kind == FaultKind::Left  ? 0x40
                                         : kind == FaultKind::Right ? 0x20
                                                                    : 0x60;
                    EXPECT_EQ(flags, expected) << i << " pass " << pass;
                    if (!strikes) {
                        EXPECT_EQ(f.audioWord(14), 100 * i) << i;
                    }
                }
                (strikes ? struck : clean) += 1;
            }
        }
        EXPECT_GT(struck, 0);
        EXPECT_GT(clean, 0);
    }
}

TEST_F(DriveFixture, WritingKeepsWhatFollowsAndSurvivesARestart)
{
    openDrive(1, threePrograms);
    bringUp();
    dat::DatFrame f;
    ASSERT_EQ(locateProgram(2).status, kTargetGood);
    f.audio.fill(0x5A);
    f.subcode.bytes[dat::kSubIdOffset + 3] = 0x60; // a reader's flags are never recorded
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(writeFrame(f).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, kFirstProgram + kProgramFrames + 5);
    ASSERT_EQ(readFrame(f).status, kTargetGood); // the old recording goes on
    EXPECT_EQ(dat::absToFrames(*dat::absTimeOf(f.subcode)),
              66 + kFirstProgram + kProgramFrames + 5);

    drive.reset();
    std::string error;
    auto c = Cassette::open(cassettePath, Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    ASSERT_TRUE(c->readFrame(kFirstProgram + kProgramFrames + 4, f.data(), error));
    EXPECT_EQ(f.audio[100], 0x5A);
    EXPECT_EQ(f.subcode.subId(3), 0);
    EXPECT_EQ(c->recordedEnd(), kRecordedEnd);
}

TEST_F(DriveFixture, VolumeOverflowAndWriteFailure)
{
    openDrive(1, [](Cassette& c) {
        recordFrames(c, 0, 10, 0, TimeCode{0, 0, 0, 0});
        recordFrames(c, 1990, 8, 0, dat::framesToAbs(1990));
        std::string e;
        ASSERT_TRUE(c.addFault({5, 5, FaultKind::WriteFail}, e));
    });
    bringUp();
    dat::DatFrame f;
    ASSERT_EQ(locateAbs(dat::framesToAbs(4)).status, kTargetGood);
    ASSERT_EQ(writeFrame(f).status, kTargetGood);
    expectSense(writeFrame(f), 3, 0x0C, 0, "write failure");

    ASSERT_EQ(locateAbs(dat::framesToAbs(1997)).status, kTargetGood);
    for (int i = 0; i < 3; ++i) // up to the last frame of the tape
        ASSERT_EQ(writeFrame(f).status, kTargetGood);
    const auto r = writeFrame(f);
    expectSense(r, 0x0D, 0, 2, "volume overflow");
    EXPECT_NE(r.sense[2] & 0x40, 0); // end of medium
}

TEST_F(DriveFixture, WriteRightAfterReadsLandsLateOnDrivesThatDoSo)
{
    SimOptions o = fastOptions();
    o.misplacedWriteFrames = 12;
    openDrive(1, threePrograms, o);
    bringUp();
    dat::DatFrame f;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(readFrame(f).status, kTargetGood);
    ASSERT_EQ(writeFrame(f).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, 3 + 12 + 1);
    EXPECT_EQ(drive->observe().misplacedWrites, 1);
    // Locating first (as the recorder does) writes in place.
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    ASSERT_EQ(locateAbs(dat::framesToAbs(66 + 40)).status, kTargetGood);
    ASSERT_EQ(writeFrame(f).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, 41);
    EXPECT_EQ(drive->observe().misplacedWrites, 1);
}

TEST_F(DriveFixture, Sdt9000KnowsNoPositionAfterARewindUntilItReads)
{
    SimOptions o = fastOptions();
    o.sdt9000 = true;
    openDrive(1, threePrograms, o);
    bringUp();
    ASSERT_EQ(rewind().status, kTargetGood);
    std::uint8_t pos[20];
    ASSERT_EQ(readPosition(pos).status, kTargetGood);
    EXPECT_EQ(absOf(pos), dat::kNoValue);
    dat::DatFrame f;
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    ASSERT_EQ(readPosition(pos).status, kTargetGood);
    EXPECT_EQ(dat::absToFrames(absOf(pos)), 67);
}

TEST_F(DriveFixture, UnitAttentionComesBeforeAnyOtherCommand)
{
    openDrive(1, threePrograms);
    bringUp();
    drive->reset();
    std::uint8_t pos[20];
    expectSense(readPosition(pos, false), 6, 0x29, 0, "read position");
    ASSERT_EQ(readPosition(pos, false).status, kTargetGood);
    EXPECT_EQ(pos[0] & 0x80, 0x80); // at the beginning
    std::uint8_t sense[18];
    drive->reset();
    ASSERT_EQ(send({0x03, 0, 0, 0, 18, 0}, DataDirection::In, sense, 18).status, kTargetGood);
    EXPECT_EQ(sense[2] & 0x0F, 6); // REQUEST SENSE reports it and clears it
    EXPECT_EQ(testUnitReady().status, kTargetGood);
}

TEST_F(DriveFixture, ASecondDriveCannotTakeAHeldCassette)
{
    openDrive();
    std::string error;
    EXPECT_FALSE(SimulatedDrive::open(cassettePath, fastOptions(), error));
    EXPECT_NE(error.find("held by another"), std::string::npos) << error;
    drive.reset();
    EXPECT_TRUE(SimulatedDrive::open(cassettePath, fastOptions(), error)) << error;
}

TEST_F(DriveFixture, KeepsItsPlaceAcrossAPowerCycle)
{
    openDrive(1, threePrograms);
    bringUp();
    ASSERT_EQ(locateProgram(2).status, kTargetGood);
    const auto powerCycle = [&] {
        drive.reset();
        std::string error;
        drive = SimulatedDrive::open(cassettePath, fastOptions(), error);
        ASSERT_TRUE(drive) << error;
        expectSense(testUnitReady(), 6, 0x29, 0, "power on");
    };
    powerCycle();
    // Ready at once where the tape stood, back in data mode.
    EXPECT_EQ(testUnitReady().status, kTargetGood);
    EXPECT_EQ(drive->observe().head, kFirstProgram + kProgramFrames);
    dat::DatFrame f;
    expectSense(readFrame(f), 5, 0x24, 0, "data mode after power on");
    ASSERT_EQ(modeSelectDensity(0x80).status, kTargetGood);
    std::uint8_t pos[20];
    ASSERT_EQ(readPosition(pos).status, kTargetGood);
    EXPECT_EQ(pos[6], 2);
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    EXPECT_EQ(dat::absToFrames(*dat::absTimeOf(f.subcode)), 66 + kFirstProgram + kProgramFrames);

    powerCycle();
    EXPECT_EQ(drive->observe().head, kFirstProgram + kProgramFrames + 1);
    ASSERT_EQ(send({0x1B, 0, 0, 0, 0, 0}).status, kTargetGood); // unload
    powerCycle();
    expectSense(testUnitReady(), 2, 0x5A, 0x01, "still ejected");

    // A cassette taken out by hand is threaded from the beginning when it is next in a drive.
    ASSERT_EQ(send({0x1B, 0, 0, 0, 1, 0}).status, kTargetGood);
    ASSERT_EQ(modeSelectDensity(0x80).status, kTargetGood);
    ASSERT_EQ(locateProgram(3).status, kTargetGood);
    drive->removeCassette();
    powerCycle();
    expectSense(testUnitReady(), 2, 0x04, 0x01, "cueing");
    EXPECT_EQ(drive->observe().head, 0);
}

// A run that ends, or is killed, in the middle of a wind leaves the tape somewhere on the way:
// an orderly end stops it where it got to; a killed run leaves the record of the wind, which
// goes on until the drive is next powered on.
TEST(SimulatedDriveRestart, ARunEndingInAWindLeavesTheTapeOnTheWay)
{
    constexpr std::int64_t kTarget = 100000;
    SimOptions o = fastOptions();
    o.motionScale = 0.3; // the wind starts after 0.3 s and takes 4.5 s
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "ended");
        tarnvel::test::TempDir dir;
        const std::string path = dir.file("t.tvs");
        std::string error;
        {
            auto c = Cassette::create(path, 60, error);
            ASSERT_TRUE(c) << error;
            recordFrames(*c, 0, 5, 1, dat::framesToAbs(0));
            recordFrames(*c, kTarget, 5, 2, dat::framesToAbs(kTarget));
        }
        // Brings the tape up and starts a search to program 2; false on any failure.
        const auto startWind = [&](SimulatedDrive& d) {
            const auto cmd = [&](std::vector<std::uint8_t> cdb,
                                 DataDirection direction = DataDirection::None,
                                 std::uint8_t* buf = nullptr, std::uint32_t n = 0) {
                return d.command(cdb.data(), cdb.size(), direction, buf, n).status;
            };
            for (int i = 0; i < 400 && cmd({0, 0, 0, 0, 0, 0}) != kTargetGood; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::uint8_t list[12] = {0, 0, 0, 8, 0x80, 0, 0, 0, 0, 0, 0x02, 0};
            return cmd({0x15, 0, 0, 0, 12, 0}, DataDirection::Out, list, 12) == kTargetGood &&
                   cmd({0x2B, 5, 0, 0, 0, 0, 2, 0, 0, 0}) == kTargetGood;
        };
        const auto windFor = [] { std::this_thread::sleep_for(std::chrono::milliseconds(450)); };
        if (killed) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                std::string e;
                auto d = SimulatedDrive::open(path, o, e);
                if (!d || !startWind(*d))
                    ::_exit(2);
                windFor();
                ::kill(::getpid(), SIGKILL);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
        } else {
            auto d = SimulatedDrive::open(path, o, error);
            ASSERT_TRUE(d) << error;
            ASSERT_TRUE(startWind(*d));
            windFor();
            ASSERT_TRUE(d->observe().moving);
        }
        DriveState kept;
        {
            auto c = Cassette::open(path, Cassette::Access::ReadOnly, error);
            ASSERT_TRUE(c) << error;
            ASSERT_TRUE(c->driveState(kept));
        }
        EXPECT_EQ(kept.media, DriveState::Media::Loaded);
        if (killed) {
            EXPECT_EQ(kept.motion, DriveState::Motion::Stop);
            EXPECT_EQ(kept.to, kTarget);
        } else {
            EXPECT_EQ(kept.motion, DriveState::Motion::None);
            EXPECT_GT(kept.head, 0u);
            EXPECT_LT(kept.head, kTarget - 100);
        }
        // Some time later the next run powers the drive on: the tape is at rest on the way.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto d = SimulatedDrive::open(path, o, error);
        ASSERT_TRUE(d) << error;
        const SimulatedDrive::Observation seen = d->observe();
        EXPECT_TRUE(seen.loaded);
        EXPECT_FALSE(seen.moving);
        EXPECT_GT(seen.head, 0);
        EXPECT_LT(seen.head, kTarget - 100);
        if (!killed) {
            EXPECT_EQ(seen.head, kept.head);
        }
    }
}

TEST(SimulatedDriveStorage, AFullDiskIsAFileErrorNotASignal)
{
    tarnvel::test::TempDir dir;
    ScratchMount disk(dir.file("disk"), "1m");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const std::string path = disk.file("t.tvs");
    std::string error;
    // The index of a 60-minute cassette alone (7.7 MB) is larger than this disk; unrecorded,
    // the cassette takes a few kilobytes, also once a drive has held it.
    ASSERT_TRUE(Cassette::create(path, 60, error)) << error;
    auto drive = SimulatedDrive::open(path, fastOptions(), error);
    ASSERT_TRUE(drive) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 64 * 1024);

    const auto cmd = [&](std::vector<std::uint8_t> cdb,
                         DataDirection direction = DataDirection::None, std::uint8_t* buf = nullptr,
                         std::uint32_t n = 0) {
        return drive->command(cdb.data(), cdb.size(), direction, buf, n);
    };
    for (int i = 0; i < 400 && cmd({0, 0, 0, 0, 0, 0}).status != kTargetGood; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::uint8_t list[12] = {0, 0, 0, 8, 0x80, 0, 0, 0, 0, 0, 0x02, 0};
    ASSERT_EQ(cmd({0x15, 0, 0, 0, 12, 0}, DataDirection::Out, list, 12).status, kTargetGood);
    dat::DatFrame f;
    f.audio.fill(0x33);
    TargetReply r;
    int written = 0;
    while (written < 2000 &&
           (r = cmd({0x0A, 0, 0x00, 0x16, 0xBE, 0}, DataDirection::Out, f.data(), 5822)).status ==
               kTargetGood)
        ++written;
    ASSERT_GT(written, 10);
    expectSense(r, 4, 0x44, 0, "disk full");
    EXPECT_NE(drive->observe().lastFileError.find("No space left on device"), std::string::npos)
        << drive->observe().lastFileError;
    // The drive goes on: what was written reads back, and the cassette opens again.
    EXPECT_EQ(cmd({0x01, 0, 0, 0, 0, 0}).status, kTargetGood);
    ASSERT_EQ(cmd({0x08, 0, 0x00, 0x16, 0xBE, 0}, DataDirection::In, f.data(), 5822).status,
              kTargetGood);
    EXPECT_EQ(f.audio[100], 0x33);
    drive.reset();
    drive = SimulatedDrive::open(path, fastOptions(), error);
    ASSERT_TRUE(drive) << error;
    drive.reset();
    auto c = Cassette::open(path, Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->recordedEnd(), written);
}

} // namespace
} // namespace tarnvel::sim::test
