#include "ScriptedDrive.h"
#include "SubcodeFixture.h"
#include "dat/DatDrive.h"
#include "dat/UnitStatus.h"
#include "scsi/ScsiStatus.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnvel::dat {
namespace {

using scsi::DataDirection;
using scsi::kSsComp;
using scsi::kSsErr;
using Bytes = std::vector<std::uint8_t>;

class DatDriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drive.setSleepFunction([this](int ms) { slept += ms; });
        drive.addTarget(target);
        ASSERT_EQ(drive.scanDevices(scsi::kTypeSequentialAccess), 1);
        target->sent.clear();
    }
    std::shared_ptr<test::ScriptedDrive> target = std::make_shared<test::ScriptedDrive>();
    DatDrive drive{false, nullptr};
    int slept = 0;
};

TEST_F(DatDriveTest, CommandsSendTheirCdbs)
{
    std::uint8_t buf[5822] = {};
    struct Case {
        const char* name;
        std::function<std::uint8_t()> run;
        Bytes cdb;
        DataDirection direction;
        std::uint32_t length;
    };
    const Case cases[] = {
        {"TST_U_RDY",
         [&] { return drive.testUnitReady(0); },
         {0, 0, 0, 0, 0, 0},
         DataDirection::None,
         0},
        {"INQUIRY",
         [&] { return drive.inquiry(0, buf, 44); },
         {0x12, 0, 0, 0, 44, 0},
         DataDirection::In,
         44},
        {"MODE_SEN6",
         [&] { return drive.modeSense(0, buf, 12, 1, 0x30); },
         {0x1A, 0, 0x70, 0, 12, 0},
         DataDirection::In,
         12},
        {"MODE_SEL6",
         [&] { return drive.modeSelect(0, 0x10, buf, 12); },
         {0x15, 0x10, 0, 0, 12, 0},
         DataDirection::Out,
         12},
        {"READ_BUFF",
         [&] { return drive.readBuffer(0); },
         {0x3C, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0},
         DataDirection::In,
         10},
        {"LOAD_UN",
         [&] { return drive.loadUnload(0, true, true); },
         {0x1B, 1, 0, 0, 1, 0},
         DataDirection::None,
         0},
        {"LOAD_UN eject",
         [&] { return drive.loadUnload(0, false, false); },
         {0x1B, 0, 0, 0, 0, 0},
         DataDirection::None,
         0},
        {"REWIND",
         [&] { return drive.rewind(0, true); },
         {0x01, 1, 0, 0, 0, 0},
         DataDirection::None,
         0},
        {"READ6",
         [&] { return drive.readFrame(0, buf, 5822); },
         {0x08, 0, 0x00, 0x16, 0xBE, 0},
         DataDirection::In,
         5822},
        {"WRITE6",
         [&] { return drive.writeFrame(0, buf, 5822); },
         {0x0A, 0, 0x00, 0x16, 0xBE, 0},
         DataDirection::Out,
         5822},
        {"LOCATE pno 5",
         [&] { return drive.locate(0, DatDrive::kLocateByProgram, false, 0, 0, 5, 0); },
         {0x2B, 0x04, 0, 0x00, 0, 0, 5, 0, 0, 0},
         DataDirection::None,
         0},
        {"LOCATE abs",
         [&] { return drive.locate(0, DatDrive::kLocateByAbsTime, true, 0x01, 0x23, 0x45, 0x12); },
         {0x2B, 0x05, 0, 0x20, 0x01, 0x23, 0x45, 0x12, 0, 0},
         DataDirection::None,
         0},
        {"READ_POS",
         [&] { return drive.readPosition(0, buf); },
         {0x34, 1, 0, 0, 0, 0, 0, 0, 0, 0},
         DataDirection::In,
         20},
    };
    target->frames.resize(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target->sent.clear();
        target->head = 0;
        EXPECT_EQ(c.run(), kSsComp);
        ASSERT_EQ(target->sent.size(), 1u);
        EXPECT_EQ(target->sent[0].cdb, c.cdb);
        EXPECT_EQ(target->sent[0].direction, c.direction);
        EXPECT_EQ(target->sent[0].length, c.length);
        EXPECT_TRUE(drive.commandInProgressName().empty());
    }
}

TEST_F(DatDriveTest, InvalidDriveIndexSendsNothing)
{
    EXPECT_EQ(drive.rewind(-1, true), DatDrive::kNotSent);
    EXPECT_EQ(drive.loadUnload(-1, true, true), DatDrive::kNotSent);
    EXPECT_EQ(drive.readFrame(16, nullptr, 0), DatDrive::kNotSent);
    EXPECT_TRUE(target->sent.empty());
    DatFrame f;
    EXPECT_EQ(drive.readFrameAhead(-1, f), nullptr);
    EXPECT_EQ(drive.getPosition(-1), nullptr);
    EXPECT_EQ(drive.datTestUnitReady(-1), kUnitUndefined);
}

TEST_F(DatDriveTest, TransferKindFollowsTheLastDataCommand)
{
    std::uint8_t buf[5822] = {};
    target->frames.resize(2);
    EXPECT_EQ(drive.lastTransferKind(0), TransferKind::None);
    drive.readFrame(0, buf, 5822);
    EXPECT_EQ(drive.lastTransferKind(0), TransferKind::Read);
    drive.writeFrame(0, buf, 5822);
    EXPECT_EQ(drive.lastTransferKind(0), TransferKind::Write);
    drive.locate(0, 0, true, 0, 0, 1, 0);
    EXPECT_EQ(drive.lastTransferKind(0), TransferKind::None);
    target->failAt = 0;
    drive.readFrame(0, buf, 5822); // set whatever the status
    EXPECT_EQ(drive.lastTransferKind(0), TransferKind::Read);
}

TEST_F(DatDriveTest, UnitStatusFromSense)
{
    struct Case {
        std::uint8_t key, asc, ascq;
        UnitStatus expected;
        const char* text;
    };
    const Case cases[] = {
        {0x2, 0x04, 0x01, kUnitBusy, " Busy"},
        {0x2, 0x04, 0x02, kUnitNotReady, " Not Ready"},
        {0x2, 0x3A, 0x00, kUnitTapeNone, " No Tape"},
        {0x2, 0x5A, 0x01, kUnitTapeEjected, " Ejected"},
        {0x2, 0x30, 0x00, kUnitNotReady, " Not Ready"},
        {0x4, 0x44, 0x00, kUnitHardwareErr, " Hardware Error"},
        {0x6, 0x29, 0x00, kUnitReset, " Reset"},
        {0x6, 0x28, 0x00, kUnitTapeChanged, " Tape Changed"},
        {0x3, 0x11, 0x00, 0xF3, " ???"},
        {0x0, 0x00, 0x00, 0xF0, ""},
    };
    for (const Case& c : cases) {
        target->turReplies.push_back(test::checkCondition(c.key, c.asc, c.ascq));
        const UnitStatus s = drive.datTestUnitReady(0);
        EXPECT_EQ(s, c.expected) << int(c.key) << "/" << int(c.asc);
        EXPECT_STREQ(unitStatusText(s), c.text);
    }
    EXPECT_EQ(drive.datTestUnitReady(0), kUnitReady);
    EXPECT_STREQ(unitStatusText(kUnitReady), " Ready");

    target->turReplies.push_back(test::checkCondition(0x3, 0x11, 0x00));
    const UnitStatus medium = drive.datTestUnitReady(0);
    EXPECT_EQ(unitStatusDetail(medium, drive.senseSummary()), "F3 Medium Err 11 00");
    EXPECT_EQ(unitStatusDetail(kUnitTapeNone, drive.senseSummary()), "");
    EXPECT_EQ(unitStatusDetail(0xF0, drive.senseSummary()), "");
    // A status other than SS_ERR (no device behind index 1).
    EXPECT_EQ(drive.datTestUnitReady(1), kUnitUndefined);
    EXPECT_STREQ(unitStatusLogName(kUnitUndefined), "UNDEFINED");
    EXPECT_STREQ(unitStatusLogName(0xF3), "???");
}

TEST_F(DatDriveTest, IdentifyNeedsATapeThatSwitchesToAudioDensity)
{
    target->product = "SDT-9000 ADDON  ";
    ASSERT_EQ(drive.scanDevices(scsi::kTypeSequentialAccess), 1);
    target->sent.clear();
    EXPECT_TRUE(drive.identify(0));
    EXPECT_TRUE(drive.modelIsSdt9000(0));
    // The mode select carries the audio block descriptor.
    ASSERT_GE(target->sent.size(), 2u);
    EXPECT_EQ(target->sent[0].data, (Bytes{0, 0, 0, 8, 0x80, 0, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(target->sent[1].cdb, (Bytes{0x1A, 0, 0, 0, 12, 0}));
    EXPECT_EQ(slept, 0);

    // Accepts the select but reports another density: not audio capable after 4 tries.
    target->density = 0x13;
    target->sent.clear();
    EXPECT_FALSE(drive.identify(0));
    EXPECT_EQ(target->count(0x15), 4u);
    EXPECT_EQ(slept, 400);
    EXPECT_EQ(drive.setModePage30(0), kSsErr);

    // Fails three times, then switches.
    target->density = 0x80;
    for (int i = 0; i < 3; ++i)
        target->modeSelectReplies.push_back(test::checkCondition(0x5, 0x26, 0));
    EXPECT_TRUE(drive.identify(0));
    EXPECT_EQ(drive.setDataMode(0), kSsComp);
    EXPECT_EQ(target->sent.back().data, (Bytes{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 2, 0}));
}

TEST(DatDriveIdentify, OtherDeviceTypesAreNotTapes)
{
    DatDrive drive(false, nullptr);
    auto target = std::make_shared<test::ScriptedDrive>();
    target->deviceType = 1;
    drive.addTarget(target);
    ASSERT_EQ(drive.scanDevices(scsi::kTypeAny), 1);
    target->deviceType = 5; // what the table says counts; rescan
    ASSERT_EQ(drive.scanDevices(scsi::kTypeAny), 1);
    EXPECT_FALSE(drive.identify(0));
    EXPECT_TRUE(target->count(0x15) == 0);
}

// MODE SELECTs that asked for data mode (density 0).
std::size_t dataModeSelects(const test::ScriptedDrive& t)
{
    std::size_t n = 0;
    for (const auto& sent : t.sent)
        n += sent.cdb[0] == 0x15 && sent.data.size() == 12 && sent.data[4] == 0;
    return n;
}

TEST(DatDriveDataMode, EveryDriveSwitchedToAudioIsSwitchedBackAtTheEnd)
{
    struct Case {
        const char* name;
        const char* product;
        std::uint8_t deviceType;
        std::uint8_t density; // what MODE SENSE reports after the switch
        int refusedSelects;   // MODE SELECTs refused before the first accepted one
        bool arrival;         // switched by the tape arrival instead of identify
        std::size_t restored; // data-mode selects at the end
    };
    const Case cases[] = {
        {"audio drive", "DAT SIMULATOR   ", 1, 0x80, 0, false, 1},
        {"an SDT-9000 stays in audio mode", "SDT-9000 ADDON  ", 1, 0x80, 0, false, 0},
        {"accepted the select, other density", "DDS DRIVE       ", 1, 0x13, 0, false, 1},
        {"refused every select", "DDS DRIVE       ", 1, 0x80, 4, false, 0},
        {"not a tape", "CDROM           ", 5, 0x80, 0, false, 0},
        {"tape arrival", "DAT SIMULATOR   ", 1, 0x80, 0, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DatDrive drive(false, nullptr);
        drive.setSleepFunction([](int) {});
        auto target = std::make_shared<test::ScriptedDrive>();
        target->product = c.product;
        target->deviceType = c.deviceType;
        target->density = c.density;
        for (int i = 0; i < c.refusedSelects; ++i)
            target->modeSelectReplies.push_back(test::checkCondition(0x5, 0x26, 0));
        drive.addTarget(target);
        ASSERT_EQ(drive.scanDevices(scsi::kTypeAny), 1);
        if (c.arrival)
            drive.tapeArrival(0);
        else
            drive.identify(0);
        EXPECT_EQ(dataModeSelects(*target), 0u);
        EXPECT_TRUE(drive.restoreDataMode());
        EXPECT_EQ(dataModeSelects(*target), c.restored);
        EXPECT_TRUE(drive.restoreDataMode()); // once per switch
        EXPECT_EQ(dataModeSelects(*target), c.restored);
    }
}

TEST(DatDriveDataMode, ADriveThatRefusesIsReportedAndTheOthersStillSwitchBack)
{
    DatDrive drive(false, nullptr);
    auto first = std::make_shared<test::ScriptedDrive>();
    auto second = std::make_shared<test::ScriptedDrive>();
    drive.addTarget(first);
    drive.addTarget(second);
    ASSERT_EQ(drive.scanDevices(scsi::kTypeSequentialAccess), 2);
    ASSERT_TRUE(drive.identify(0));
    ASSERT_TRUE(drive.identify(1));
    first->modeSelectReplies.push_back(test::checkCondition(0x2, 0x04, 0x01));
    EXPECT_FALSE(drive.restoreDataMode());
    EXPECT_STREQ(drive.lastCommandName(), "MODE_SEL6");
    EXPECT_STREQ(drive.statusText(), "SS_ERR");
    EXPECT_EQ(dataModeSelects(*second), 0u);
    EXPECT_TRUE(drive.restoreDataMode());
    EXPECT_EQ(dataModeSelects(*second), 1u);
}

TEST_F(DatDriveTest, LogHoldsModeDumpAndUnitStatusLines)
{
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("TVDAT.LOG");
    drive.setLogFile(path.c_str());
    EXPECT_EQ(drive.setModePage30(0), kSsComp);
    EXPECT_STREQ(drive.logText(), "ModeData:\n"
                                  "[0] Mode Data Length: 0B\n"
                                  "[1] Medium Type: 00\n"
                                  "[2] Device Specific Parameter: 10\n"
                                  "[3] Block Descriptor Length: 08\n"
                                  "[4] Density Code: 80\n"
                                  "[5-7] Number of Blocks: 000000\n"
                                  "[8] Reserved\n"
                                  "[9-11] Block Length: 000200\n\n");
    target->turReplies.push_back(test::checkCondition(0x2, 0x3A, 0));
    drive.datTestUnitReady(0);
    EXPECT_STREQ(drive.logText(), "DatTestUnitReady: TAPE_NONE\n\n");
    drive.setLogFile(nullptr);

    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    const std::string log = s.str();
    const std::size_t select = log.find("Cmd: 0x15 SCSI_MODE_SEL6   Status: SS_COMP\n\n");
    const std::size_t sense = log.find("Cmd: 0x1A SCSI_MODE_SEN6   Status: SS_COMP\n\nModeData:\n");
    const std::size_t tur = log.find("Cmd: 0x00 SCSI_TST_U_RDY   Status: SS_ERR\n");
    const std::size_t line = log.find("DatTestUnitReady: TAPE_NONE\n\n");
    EXPECT_NE(select, std::string::npos);
    EXPECT_LT(select, sense);
    EXPECT_LT(sense, tur);
    EXPECT_LT(tur, line);
}

TEST_F(DatDriveTest, TapeArrivalSwitchesLoadsAndWaitsForReady)
{
    target->modeSelectReplies.push_back(test::checkCondition(0x2, 0x04, 0x01));
    target->loadReplies.push_back(test::checkCondition(0x2, 0x04, 0x01));
    target->turReplies.push_back(test::checkCondition(0x2, 0x04, 0x01));
    target->turReplies.push_back(test::checkCondition(0x2, 0x04, 0x01));
    int shown = 0;
    EXPECT_TRUE(drive.tapeArrival(0, [&] { ++shown; }));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(target->count(0x15), 2u);
    EXPECT_EQ(target->count(0x1B), 2u);
    EXPECT_EQ(target->count(0x00), 3u);
    EXPECT_EQ(target->sent[target->sent.size() - 4].cdb, (Bytes{0x1B, 1, 0, 0, 1, 0}));

    // A load that fails three times: not arrived, and no more tries than that.
    target->sent.clear();
    for (int i = 0; i < 3; ++i)
        target->loadReplies.push_back(test::checkCondition(0x3, 0x50, 0));
    EXPECT_FALSE(drive.tapeArrival(0));
    EXPECT_EQ(target->count(0x1B), 3u);
}

} // namespace
} // namespace tarnvel::dat
