#include "dat/DatDrive.h"
#include "dat/MotionWait.h"
#include "dat/StatusPoll.h"
#include "scsi/ScsiStatus.h"
#include "sim/DriveSelect.h"
#include "sim/SimTestSupport.h"
#include "support/FakeKernel.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

// The drive layer against the simulated drive: selection, the idle loop's status poll and
// tape arrival, the read-ahead ring on a recorded tape, motion waits, abort and the log.
namespace tarnvel::sim::test {
namespace {

using dat::DatDrive;
using dat::TimeCode;

// A 100-frame stretch without ID, then programs 1 and 2 of 400 frames; ABS from 00h00m02s00.
constexpr int kLeadFrames = 100;
constexpr int kProgramFrames = 400;
constexpr int kRecordedEnd = kLeadFrames + 2 * kProgramFrames;
constexpr int kAbsOffset = 66;

void twoPrograms(Cassette& c)
{
    recordFrames(c, 0, kLeadFrames, 0, dat::framesToAbs(kAbsOffset));
    for (int p = 0; p < 2; ++p) {
        const int at = kLeadFrames + p * kProgramFrames;
        recordFrames(c, at, kProgramFrames, p + 1, dat::framesToAbs(kAbsOffset + at));
    }
}

class DatDriveOnSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        auto c = Cassette::create(cassettePath, 1, error);
        ASSERT_TRUE(c) << error;
        twoPrograms(*c);
    }
    // Selects the simulated drive holding the cassette, then brings the tape up as the idle
    // loop does.
    void bringUp(const std::string& logFile = {})
    {
        DriveRequest request;
        request.spec = "sim:" + cassettePath;
        request.logFile = logFile;
        SelectedDrive s = selectDrive(request);
        ASSERT_TRUE(s.drive) << s.error;
        ASSERT_EQ(s.index, 0);
        drive = std::move(s.drive);
        poller = std::make_unique<dat::StatusPoller>(*drive, 0);
        const dat::StatusPollResult r = dat::pollUntilSettled(*poller, 200, 10);
        ASSERT_EQ(r.status, dat::kUnitReady) << r.statusText;
        ASSERT_TRUE(r.arrived);
        ASSERT_NE(r.position, nullptr);
        ASSERT_TRUE(poller->tapeChecked());
    }
    static dat::MotionWaitHooks shortPolls()
    {
        dat::MotionWaitHooks h;
        h.sleep = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
        return h;
    }

    tarnvel::test::TempDir dir;
    std::string cassettePath = dir.file("tape.tvs");
    std::unique_ptr<DatDrive> drive;
    std::unique_ptr<dat::StatusPoller> poller;
    dat::DatFrame frame;
};

TEST_F(DatDriveOnSim, SelectionAndArrivalLeaveTheTapeReadyInAudioMode)
{
    bringUp();
    const scsi::ScsiDeviceEntry e = drive->getDevice(0);
    EXPECT_EQ(e.deviceType, 1);
    EXPECT_EQ(e.vendorText().substr(0, 7), "TARNVEL");
    EXPECT_EQ(drive->getPosition(0)->absTime, dat::framesToAbs(kAbsOffset));
    // The next poll finds the tape checked and does not run the arrival again.
    const dat::StatusPollResult again = poller->poll();
    EXPECT_EQ(again.status, dat::kUnitReady);
    EXPECT_FALSE(again.arrived);
    EXPECT_EQ(again.statusText, " Ready");
}

TEST_F(DatDriveOnSim, ReadingThroughTheTapeLearnsItsIdsAndEndsAtEndOfData)
{
    bringUp();
    ASSERT_EQ(drive->rewind(0, false), scsi::kSsComp);
    bool sawProgram2Ahead = false;
    int frames = 0;
    while (drive->readFrameAhead(0, frame) != nullptr) {
        ++frames;
        for (int k = 0; k < DatDrive::kAheadSlots; ++k)
            sawProgram2Ahead |= drive->readAheadPeek(0, k) == 2;
        ASSERT_LE(frames, kRecordedEnd);
    }
    EXPECT_EQ(frames, kRecordedEnd);
    EXPECT_TRUE(sawProgram2Ahead);
    // End of data: blank check 00 05.
    EXPECT_EQ(drive->senseKey(), 0x08);
    EXPECT_EQ(drive->senseAsc(), 0x00);
    EXPECT_EQ(drive->senseAscq(), 0x05);
    EXPECT_STREQ(drive->senseSummary(), "Blank Check 00 05");

    const dat::IdTable* ids = drive->getTable(0, false);
    ASSERT_EQ(ids->count, 2);
    EXPECT_EQ(ids->entries[0].pNo, 1);
    EXPECT_EQ(ids->entries[0].frames, kAbsOffset + kLeadFrames);
    EXPECT_EQ(ids->entries[1].pNo, 2);
    EXPECT_EQ(ids->entries[1].frames, kAbsOffset + kLeadFrames + kProgramFrames);
    EXPECT_EQ(ids->maxSeconds, dat::absToSeconds(dat::framesToAbs(kAbsOffset + kRecordedEnd - 1)));
}

TEST_F(DatDriveOnSim, LocateWaitsForTheMotionAndRegistersTheIdFound)
{
    bringUp();
    ASSERT_EQ(drive->locate(0, DatDrive::kLocateByProgram, true, 0, 0, 2, 0), scsi::kSsComp);
    const dat::TapePosition* p = dat::waitForMotionEnd(*drive, 0, shortPolls());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->pNoDigits, 0x002u);
    EXPECT_EQ(p->currentPNo, 2);
    drive->registerFromPosition(0, p->pNoDigits, p->absSeconds, p->absTime, p->currentPNo);
    ASSERT_NE(drive->findByPNo(0, 2, false), nullptr);

    ASSERT_EQ(drive->locate(0, DatDrive::kLocateByAbsTime, true, 0x00, 0x00, 0x05, 0x00),
              scsi::kSsComp);
    p = dat::waitForMotionEnd(*drive, 0, shortPolls());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->absTime, (TimeCode{0, 0, 5, 0}));
    EXPECT_EQ(p->currentPNo, 1);

    ASSERT_EQ(drive->rewind(0, true), scsi::kSsComp);
    p = dat::waitForMotionEnd(*drive, 0, shortPolls());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->absTime, dat::framesToAbs(kAbsOffset));
}

TEST_F(DatDriveOnSim, AbortEndsAWaitingLocate)
{
    bringUp();
    std::atomic<bool> done{false};
    std::thread aborter([&] {
        while (!done.load()) {
            if (drive->commandInProgressName() == "LOCATE") {
                drive->abort();
                return;
            }
            std::this_thread::yield();
        }
    });
    // Without the immediate bit: the command itself waits for the motion.
    const std::uint8_t status = drive->locate(0, DatDrive::kLocateByProgram, false, 7, 9, 9, 0);
    done = true;
    aborter.join();
    if (status == scsi::kSsAborted) {
        EXPECT_STREQ(drive->senseSummary(), "Aborted");
        EXPECT_STREQ(drive->logText(), "Cmd: 0x2B SCSI_LOCATE   Status: SS_ABORTED\n\n");
    } else {
        // The motion ended before the abort arrived.
        EXPECT_EQ(status, scsi::kSsComp);
    }
    EXPECT_TRUE(drive->commandInProgressName().empty());
}

TEST_F(DatDriveOnSim, EjectLeavesNoTape)
{
    bringUp();
    ASSERT_EQ(drive->loadUnload(0, false, true), scsi::kSsComp);
    dat::waitForMotionEnd(*drive, 0, shortPolls());
    const dat::StatusPollResult r = dat::pollUntilSettled(*poller, 200, 10);
    EXPECT_TRUE(r.status == dat::kUnitTapeEjected || r.status == dat::kUnitTapeNone)
        << r.statusText;
    EXPECT_FALSE(poller->tapeChecked());
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(DatDriveOnSim, LogHoldsTheHeaderAndEveryCommand)
{
    const std::string logPath = dir.file("TVDAT.LOG");
    bringUp(logPath);
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(drive->readFrameAhead(0, frame), nullptr);
    drive->setLogFile(nullptr);
    const std::string log = readFile(logPath);

    EXPECT_EQ(log.rfind("========== ", 0), 0u);
    EXPECT_NE(log.find(" ==========\n[HA:0] \"      In-process\"\n ID:4 LUN:0 Type:1, "
                       "\"TARNVEL \" \"DAT SIMULATOR   \" \"1.00\"\n\n"),
              std::string::npos)
        << log.substr(0, 300);
    // Identify: the mode select, the mode sense and its dump.
    EXPECT_NE(log.find("Cmd: 0x15 SCSI_MODE_SEL6   Status: SS_COMP\n\n"
                       "Cmd: 0x1A SCSI_MODE_SEN6   Status: SS_COMP\n\n"
                       "ModeData:\n"),
              std::string::npos);
    EXPECT_NE(log.find("[4] Density Code: 80\n"), std::string::npos);
    EXPECT_NE(log.find("Cmd: 0x1B SCSI_LOAD_UN   Status: SS_COMP\n\n"), std::string::npos);
    EXPECT_NE(log.find("DatTestUnitReady: READY\n\n"), std::string::npos);
    // The first command after power-on meets the unit attention.
    EXPECT_NE(log.find("Sense key: 0x06 Unit Attention\n"), std::string::npos);
    // One frame at arrival, then 36 + 2 through the ring: every READ(6) unnamed.
    std::size_t reads = 0;
    for (std::size_t at = 0;
         (at = log.find("Cmd: ??? SCSI_???   Status: SS_COMP\n\n", at)) != std::string::npos; ++at)
        ++reads;
    EXPECT_EQ(reads, 1u + 36u + 2u);
}

// The next run of the program finds the tape where this one left it and takes it there: no
// load (which would rewind it), no frame read.
TEST_F(DatDriveOnSim, ANewRunTakesTheTapeWhereTheLastOneLeftIt)
{
    bringUp();
    ASSERT_EQ(drive->locate(0, DatDrive::kLocateByProgram, false, 0, 0, 2, 0), scsi::kSsComp);
    poller.reset();
    drive.reset();

    DriveRequest request;
    request.spec = "sim:" + cassettePath;
    request.logFile = dir.file("TVDAT.LOG");
    SelectedDrive s = selectDrive(request);
    ASSERT_TRUE(s.drive) << s.error;
    drive = std::move(s.drive);
    poller = std::make_unique<dat::StatusPoller>(*drive, 0);
    ASSERT_TRUE(poller->adoptReadyTape());
    EXPECT_TRUE(poller->tapeChecked());
    const dat::TapePosition* p = drive->readPositionAndParse(0, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->pNoDigits, 0x002u);
    EXPECT_EQ(p->absTime, dat::framesToAbs(kAbsOffset + kLeadFrames + kProgramFrames));
    drive->setLogFile(nullptr);
    EXPECT_EQ(readFile(request.logFile).find("LOAD_UN"), std::string::npos);
}

// A cassette file that may not be written is a write-protected tape: it plays, and writes
// fail with the drive's Data Protect sense.
TEST(DatDriveOnReadOnlyCassette, ReadsAndRefusesWrites)
{
    tarnvel::test::TempDir dir;
    ScratchMount disk(dir.file("disk"), "8m");
    // Modes do not stop root: there a read-only mount does.
    const bool root = ::geteuid() == 0;
    if (root && !disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const std::string path = root ? disk.file("t.tvs") : dir.file("t.tvs");
    std::string error;
    {
        auto c = Cassette::create(path, 1, error);
        ASSERT_TRUE(c) << error;
        twoPrograms(*c);
    }
    ASSERT_TRUE(root ? disk.remountReadOnly() : ::chmod(path.c_str(), 0444) == 0);

    DriveRequest request;
    request.spec = "sim:" + path;
    SelectedDrive s = selectDrive(request);
    ASSERT_TRUE(s.drive) << s.error;
    dat::StatusPoller poller(*s.drive, 0);
    ASSERT_EQ(dat::pollUntilSettled(poller, 200, 10).status, dat::kUnitReady);
    ASSERT_TRUE(poller.tapeChecked());
    dat::DatFrame frame;
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(s.drive->readFrameAhead(0, frame), nullptr);
    EXPECT_EQ(s.drive->writeFrame(0, frame.data(), dat::kFrameBytes), scsi::kSsErr);
    EXPECT_STREQ(s.drive->senseSummary(), "Data Protect 27 00");
}

TEST(DriveSelect, SpecificationsThatCannotBeServed)
{
    tarnvel::test::TempDir dir;
    DriveRequest request;
    request.spec = "sim:" + dir.file("missing.tvs");
    SelectedDrive s = selectDrive(request);
    EXPECT_FALSE(s.drive);
    EXPECT_FALSE(s.error.empty());

    request.spec = "/dev/sda";
    s = selectDrive(request);
    EXPECT_FALSE(s.drive);
    EXPECT_EQ(s.error, "No drive at /dev/sda.");
}

TEST(DriveSelect, DevicesThatCannotBeUsedAreNamed)
{
    auto kernel = std::make_shared<scsi::test::FakeKernel>();
    kernel->addTape(0, 3, 0, 1, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->addTape(1, 4, 0, 2, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->setOpenError("/dev/sg3", EACCES);
    kernel->setOpenError("/dev/nst1", EBUSY);
    DriveRequest request;
    request.kernel = kernel;
    SelectedDrive s = selectDrive(request);
    EXPECT_FALSE(s.drive);
    EXPECT_EQ(s.error, "Audio capable tape drive not found.\n"
                       "/dev/sg3: Permission denied (add the user to the group that owns it, "
                       "usually tape)\n"
                       "/dev/nst1: busy (another program has the drive open)");
    request.spec = "/dev/nst1";
    s = selectDrive(request);
    EXPECT_EQ(s.error, "/dev/nst1: busy (another program has the drive open)");
}

TEST(DriveSelect, ADriveSwitchedOnTheWayGoesBackToDataMode)
{
    // Takes the audio density but reports another one: not audio capable.
    auto kernel = std::make_shared<scsi::test::FakeKernel>();
    kernel->addTape(0, 3, 0, 1, 0, "VENDOR  DDS DRIVE       9608").onCommand =
        [](const sg_io_hdr_t& h) {
            scsi::test::KernelReply r;
            if (h.cmdp[0] == 0x1A)
                r.data = {11, 0, 0x10, 8, 0x13, 0, 0, 0, 0, 0, 2, 0};
            return r;
        };
    DriveRequest request;
    request.kernel = kernel;
    const SelectedDrive s = selectDrive(request);
    EXPECT_FALSE(s.drive);
    EXPECT_EQ(s.error, "Audio capable tape drive not found.");
    ASSERT_FALSE(kernel->cdbs.empty());
    EXPECT_EQ(kernel->cdbs.back()[0], 0x15);
    EXPECT_EQ(kernel->dataOut.back(),
              (std::vector<std::uint8_t>{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 2, 0}));
}

} // namespace
} // namespace tarnvel::sim::test
