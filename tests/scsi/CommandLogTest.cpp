#include "scsi/CommandLog.h"

#include "scsi/ScsiStatus.h"
#include "scsi/ScsiTransport.h"
#include "support/TempDir.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnvel::scsi {
namespace {

TEST(CommandLog, NameLookupLetsTheLaterGroupWin)
{
    struct Case {
        std::uint8_t opcode, type;
        const char* name;
        const char* hex;
    };
    const Case cases[] = {
        {0x00, 1, "TST_U_RDY", "0x00"},
        {0x2B, 1, "LOCATE", "0x2B"},
        {0x34, 1, "READ_POS", "0x34"},
        {0x08, 1, "???", "???"}, // the tape's READ(6) is in no tape group
        {0x0A, 1, "???", "???"},
        {0x08, 0, "READ6", "0x08"},
        {0x2B, 0, "SEEK10", "0x2B"},
        {0x2B, 0xFF, "SEEK10", "0x2B"},          // group 3 after group 2
        {0x2E, 0xFF, "WRT_VER10", "0x2E"},       // group 4 after group 3
        {0x1B, 0xFF, "START_STOP_UNIT", "0x1B"}, // group 5 last
        {0x1B, 1, "LOAD_UN", "0x1B"},
        {0x1B, 5, "START_STOP_UNIT", "0x1B"},
        {0x12, 7, "INQUIRY", "0x12"},
        {0x01, 7, "???", "???"},
        {0xFF, 0xFF, "???", "???"},
    };
    for (const Case& c : cases) {
        const CommandName n = commandName(c.opcode, c.type);
        EXPECT_STREQ(n.name, c.name) << int(c.opcode) << "/" << int(c.type);
        EXPECT_STREQ(n.hex, c.hex) << int(c.opcode) << "/" << int(c.type);
    }
}

TEST(CommandLog, StatusTextsCoverTheTablesAndNameTheRestUnknown)
{
    EXPECT_STREQ(statusText(kSsComp), "");
    EXPECT_STREQ(statusText(kSsNoAdapters), "SS_NO_ADAPTERS");
    EXPECT_STREQ(statusText(0x03), "Unknown Error");
    EXPECT_STREQ(haStatusText(0x11), "0x11 Selection of target timed out");
    EXPECT_STREQ(haStatusText(0x01), "UnKnown??");
    EXPECT_STREQ(targetStatusText(0x18), "0x18 Reservation conflict");
    EXPECT_STREQ(targetStatusText(0x01), "UnKnown??");
    EXPECT_STREQ(senseKeyShortText(0x1), "Recovrd Err");
    EXPECT_STREQ(senseKeyLongText(0xD), "0x0D Volume Overflow");
    EXPECT_STREQ(senseKeyShortText(0xB), "");
}

// A tape drive that answers TEST UNIT READY with a scripted reply and READ(6) with GOOD.
class ScriptedTape : public ScsiTarget {
public:
    std::uint8_t hostAdapter() const override { return 1; }
    std::uint8_t targetId() const override { return 4; }
    TargetReply command(const std::uint8_t* cdb, std::size_t, DataDirection, std::uint8_t* buffer,
                        std::uint32_t length) override
    {
        if (cdb[0] == 0x12) {
            const char id[] = "\x01\0\0\0\0\0\0\0VENDOR  DDS AUDIO DRIVE 1.00";
            std::memcpy(buffer, id, std::min<std::uint32_t>(length, sizeof id - 1));
            return {};
        }
        return cdb[0] == 0x00 ? turReply : TargetReply{};
    }
    TargetReply turReply;
};

class CommandLogEntry : public ::testing::Test {
protected:
    void SetUp() override
    {
        transport.addTarget(tape);
        ASSERT_EQ(transport.scanDevices(kTypeSequentialAccess), 1);
    }
    std::uint8_t run(const char* name, std::uint8_t opcode)
    {
        const std::uint8_t cdb[6] = {opcode, 0, 0, 0, 0, 0};
        return transport.runCommand(name, 0, DataDirection::None, cdb, 6, nullptr, 0);
    }
    std::shared_ptr<ScriptedTape> tape = std::make_shared<ScriptedTape>();
    ScsiTransport transport{false, nullptr};
};

TEST_F(CommandLogEntry, TestUnitReadyWithoutTapeDecodesTheSense)
{
    tape->turReply.status = kTargetCheckCondition;
    tape->turReply.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
    EXPECT_EQ(run("TST_U_RDY", 0x00), kSsErr);
    EXPECT_STREQ(transport.logText(),
                 "Cmd: 0x00 SCSI_TST_U_RDY   Status: SS_ERR\n"
                 "HaStat: 0x00 Host adapter did not detect an error\n"
                 "TargStat: 0x02 Check Condition (sense data is in SenseArea)\n"
                 "Sense data:\n"
                 "  0 Valid: 0  Response code: 70 \n"
                 "  1 Segment number: 00 \n"
                 "  2 Filemark: 0  EOM: 0  ILI: 0  Sense key: 0x02 Not Ready\n"
                 "  3..6  Information: 00000000 \n"
                 "  7 Additional sense length: 10 \n"
                 "  8..11  Command-specific information: 00000000 \n"
                 " 12 Additional sense code: 3A \n"
                 " 13 Additional sense code qualifier: 00 \n"
                 " 14 Field replaceable unit code: 00\n\n");
    EXPECT_STREQ(transport.senseSummary(), "Not Ready 3A 00");
    EXPECT_STREQ(transport.lastCommandName(), "TST_U_RDY");
}

TEST_F(CommandLogEntry, SenseBitsAndBigEndianFieldsAreDecoded)
{
    tape->turReply.status = kTargetCheckCondition;
    tape->turReply.sense = {0xF0, 0x01, 0xEB, 0x12, 0x34, 0x56, 0x78, 10,
                            0xDE, 0xAD, 0xBE, 0xEF, 0x47, 0x03, 0x9C};
    run("TST_U_RDY", 0x00);
    const std::string log = transport.logText();
    EXPECT_NE(log.find("  0 Valid: 1  Response code: 70 \n"), std::string::npos);
    EXPECT_NE(log.find("  2 Filemark: 1  EOM: 1  ILI: 1  Sense key: \n"), std::string::npos);
    EXPECT_NE(log.find("  3..6  Information: 12345678 \n"), std::string::npos);
    EXPECT_NE(log.find("  8..11  Command-specific information: DEADBEEF \n"), std::string::npos);
    EXPECT_NE(log.find(" 14 Field replaceable unit code: 9C\n\n"), std::string::npos);
    // Key 0xB has no name: the summary is only the codes.
    EXPECT_STREQ(transport.senseSummary(), " 47 03");
}

TEST_F(CommandLogEntry, SuccessfulReadOnTheTapeIsUnnamed)
{
    EXPECT_EQ(run("READ6", 0x08), kSsComp);
    EXPECT_STREQ(transport.logText(), "Cmd: ??? SCSI_???   Status: SS_COMP\n\n");
    EXPECT_STREQ(transport.senseSummary(), "");
    EXPECT_STREQ(transport.lastCommandName(), "???");
    EXPECT_EQ(transport.commandInProgressName(), "");
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(CommandLogEntry, LogFileHasHeaderAndListingAndAppendsAcrossRuns)
{
    test::TempDir dir;
    const std::string path = dir.file("TVDAT.LOG");
    transport.setLogFile(path.c_str());
    ASSERT_TRUE(transport.logging());
    // A second open keeps the first file and writes no second header.
    transport.setLogFile(dir.file("OTHER.LOG").c_str());
    run("READ6", 0x08);
    transport.setLogFile(nullptr);
    EXPECT_FALSE(transport.logging());
    run("READ6", 0x08); // not logged
    transport.setLogFile(path.c_str());
    run("TST_U_RDY", 0x00);
    transport.setLogFile(nullptr);

    // Header: the date and time line, the adapter, its device, a blank line.
    const std::string listing =
        "[HA:1] \"      In-process\"\n"
        " ID:4 LUN:0 Type:1, \"VENDOR  \" \"DDS AUDIO DRIVE \" \"1.00\"\n\n";
    const std::string log = readFile(path);
    const std::string first = log.substr(0, 40);
    EXPECT_EQ(first.substr(0, 11), "========== ");
    EXPECT_EQ(first.substr(28), " ==========\n");
    for (std::size_t i : {11u, 12u, 14u, 15u, 17u, 18u, 20u, 21u, 23u, 24u, 26u, 27u})
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(first[i]))) << first;
    EXPECT_EQ(log.substr(13, 1) + log.substr(16, 1) + log.substr(19, 1) + log.substr(22, 1) +
                  log.substr(25, 1),
              "-- ::");
    const std::string entry1 = "Cmd: ??? SCSI_???   Status: SS_COMP\n\n";
    const std::string entry2 = "Cmd: 0x00 SCSI_TST_U_RDY   Status: SS_COMP\n\n";
    EXPECT_EQ(log.substr(40), listing + entry1 + first + listing + entry2) << log;
    EXPECT_FALSE(std::filesystem::exists(dir.file("OTHER.LOG")));
}

TEST_F(CommandLogEntry, UnopenableLogFileLeavesLoggingOff)
{
    transport.setLogFile("/nonexistent-folder/TVDAT.LOG");
    EXPECT_FALSE(transport.logging());
    EXPECT_EQ(run("READ6", 0x08), kSsComp);
}

TEST(CommandLog, SeventeenthMatchingDeviceEndsTheScanWithSixteen)
{
    ScsiTransport transport(false, nullptr);
    for (int i = 0; i < 17; ++i)
        transport.addTarget(std::make_shared<ScriptedTape>());
    EXPECT_EQ(transport.scanDevices(kTypeSequentialAccess), 16);
    EXPECT_EQ(transport.getDevice(15).deviceType, 1);
}

} // namespace
} // namespace tarnvel::scsi
