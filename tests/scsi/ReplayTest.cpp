#include "scsi/CommandExchange.h"
#include "scsi/ReplayBackend.h"
#include "scsi/ScsiStatus.h"
#include "scsi/ScsiTransport.h"
#include "support/FakeKernel.h"
#include "support/TempDir.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

// The whole exchange as text and the drive that answers from it: what a recording holds comes
// back unchanged, and the first command that differs stops the replay.
namespace tarnvel::scsi {
namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string withoutLine(std::string text, const std::string& start)
{
    const std::size_t at = text.find("\n" + start);
    if (at != std::string::npos)
        text.erase(at + 1, text.find('\n', at + 1) - at);
    return text;
}

// A tape drive in this process: a unit attention first, mode data that remembers the density,
// frames with a pattern, a medium error at the third read.
class ScriptTarget : public ScsiTarget {
public:
    std::uint8_t hostAdapter() const override { return 2; }
    std::uint8_t targetId() const override { return 5; }
    TargetReply command(const std::uint8_t* cdb, std::size_t, DataDirection, std::uint8_t* buffer,
                        std::uint32_t length) override
    {
        TargetReply r;
        switch (cdb[0]) {
        case 0x12: {
            std::uint8_t reply[36] = {1};
            std::memcpy(reply + 8, "TESTVENDREPLAY TARGET   0042", 28);
            std::memcpy(buffer, reply, std::min<std::uint32_t>(length, sizeof reply));
            break;
        }
        case 0x00:
            if (!attentionGiven_) {
                attentionGiven_ = true;
                return checkCondition(0x06, 0x29, 0x00);
            }
            break;
        case 0x15:
            density_ = buffer[4];
            break;
        case 0x1A: {
            const std::uint8_t mode[12] = {11, 0, 0x10, 8, density_, 0, 0, 0, 0, 0, 2, 0};
            std::memcpy(buffer, mode, std::min<std::uint32_t>(length, sizeof mode));
            break;
        }
        case 0x08:
            if (++reads_ == 3)
                return checkCondition(0x03, 0x11, 0x00);
            for (std::uint32_t i = 0; i < length; ++i)
                buffer[i] = static_cast<std::uint8_t>(i * 7 + reads_);
            break;
        default:
            return checkCondition(0x05, 0x20, 0x00);
        }
        return r;
    }

private:
    static TargetReply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq)
    {
        TargetReply r;
        r.status = kTargetCheckCondition;
        r.sense[0] = 0x70;
        r.sense[2] = key;
        r.sense[7] = 10;
        r.sense[12] = asc;
        r.sense[13] = ascq;
        return r;
    }
    bool attentionGiven_ = false;
    std::uint8_t density_ = 0;
    int reads_ = 0;
};

constexpr std::uint8_t kTur[6] = {0x00, 0, 0, 0, 0, 0};
constexpr std::uint8_t kModeSelect[6] = {0x15, 0, 0, 0, 12, 0};
constexpr std::uint8_t kModeSense[6] = {0x1A, 0, 0, 0, 12, 0};
constexpr std::uint8_t kRead[6] = {0x08, 0, 0x00, 0x16, 0xBE, 0};
constexpr std::uint8_t kInquiry[6] = {0x12, 0, 0, 0, 36, 0};

// What the program saw of one command.
struct Seen {
    std::uint8_t status;
    std::string log;
    std::vector<std::uint8_t> data;
    bool operator==(const Seen&) const = default;
};

// A short run as the drive layer makes one: status polls, audio mode, frames.
std::vector<Seen> runScript(ScsiTransport& t, std::uint8_t density = 0x80, int extraReads = 0)
{
    std::vector<Seen> seen;
    auto run = [&](const char* name, const std::uint8_t* cdb, DataDirection dir,
                   std::uint8_t* buffer, std::uint32_t length) {
        const std::uint8_t status = t.runCommand(name, 0, dir, cdb, 6, buffer, length);
        seen.push_back({status, t.logText(),
                        dir == DataDirection::In
                            ? std::vector<std::uint8_t>(buffer, buffer + length)
                            : std::vector<std::uint8_t>()});
    };
    std::uint8_t inquiry[36] = {};
    run("TST_U_RDY", kTur, DataDirection::None, nullptr, 0);
    run("TST_U_RDY", kTur, DataDirection::None, nullptr, 0);
    run("INQUIRY", kInquiry, DataDirection::In, inquiry, sizeof inquiry);
    std::uint8_t list[12] = {0, 0, 0, 8, density, 0, 0, 0, 0, 0, 2, 0};
    run("MODE_SEL6", kModeSelect, DataDirection::Out, list, sizeof list);
    std::uint8_t mode[12] = {};
    run("MODE_SEN6", kModeSense, DataDirection::In, mode, sizeof mode);
    std::vector<std::uint8_t> frame(5822);
    for (int i = 0; i < 4 + extraReads; ++i) {
        std::fill(frame.begin(), frame.end(), 0);
        run("READ6", kRead, DataDirection::In, frame.data(), 5822);
    }
    return seen;
}

class Replay : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string recording = dir.file("recording.txt");
    std::vector<std::string> messages;

    // The script on the in-process target, its exchange captured into `recording`.
    std::vector<Seen> record()
    {
        ScsiTransport live(true, nullptr);
        live.addTarget(std::make_shared<ScriptTarget>());
        live.setDriveSpec("sim:tape.tvs");
        EXPECT_EQ(live.scanDevices(kTypeSequentialAccess), 1);
        std::FILE* capture = std::fopen(recording.c_str(), "w");
        live.setExchangeCapture(capture);
        std::vector<Seen> seen = runScript(live);
        live.setExchangeCapture(nullptr);
        std::fclose(capture);
        return seen;
    }
    std::unique_ptr<ScsiTransport> replay(const std::string& file, bool fast = true)
    {
        std::string error;
        auto backend = ReplayBackend::open(
            file, {fast, [this](const std::string& m) { messages.push_back(m); }}, error);
        EXPECT_TRUE(backend) << error;
        if (!backend)
            return nullptr;
        auto t = std::make_unique<ScsiTransport>(std::move(backend));
        t->scanDevices(kTypeSequentialAccess);
        return t;
    }
};

TEST_F(Replay, ARecordingComesBackAsItWasWithItsOwnExchange)
{
    const std::vector<Seen> live = record();
    const std::string text = readFile(recording);
    // What a person reads: the CDB, both data phases in hex, status and sense, the time.
    EXPECT_NE(text.find("Command 4, device 0, at "), std::string::npos) << text;
    EXPECT_NE(text.find("CDB: 15 00 00 00 0C 00\nData out: 12 bytes\n  0000 00 00 00 08 80 00 "
                        "00 00 00 00 02 00\nStatus: 0x01 SS_COMP"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Data in: 5822 bytes asked, 5822 received\n  0000 01 08 0F"),
              std::string::npos);
    EXPECT_NE(text.find("Status: 0x04 SS_ERR, HaStat 0x00, TargStat 0x02, Host 0x00 DID_OK, "
                        "Driver 0x00 DRIVER_OK\nSense: 70 00 03 00 00 00 00 0A 00 00 00 00 11"),
              std::string::npos);
    EXPECT_NE(text.find("Device 0: host 2, target 5, lun 0, type 1, path character 0x3F, "
                        "\"TESTVEND\" \"REPLAY TARGET   \" \"0042\""),
              std::string::npos);
    EXPECT_NE(text.find("Drive: sim:tape.tvs"), std::string::npos);

    std::unique_ptr<ScsiTransport> t = replay(recording);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->deviceCount(), 1);
    EXPECT_EQ(t->getDevice(0).productText(), "REPLAY TARGET   ");
    EXPECT_EQ(t->hostAdapterCount(), 1);
    // The replayed run captures an exchange of its own: the recording's, times included.
    const std::string again = dir.file("again.txt");
    std::FILE* capture = std::fopen(again.c_str(), "w");
    t->setExchangeCapture(capture);
    EXPECT_EQ(runScript(*t), live);
    t->setExchangeCapture(nullptr);
    std::fclose(capture);
    EXPECT_TRUE(messages.empty()) << messages.front();
    const std::string replayed = readFile(again);
    EXPECT_NE(replayed.find("Replayed from: " + recording + ", by Tarnvel "), std::string::npos);
    EXPECT_EQ(withoutLine(replayed, "Replayed from: "), text);
}

TEST_F(Replay, TheFirstCommandThatDiffersStopsTheReplay)
{
    record();
    const std::string text = readFile(recording);
    auto edited = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        const std::size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        t.replace(at, from.size(), to);
        const std::string path = dir.file("edited" + std::to_string(at) + ".txt");
        writeFile(path, t);
        return path;
    };
    struct Case {
        const char* name;
        std::string file;
        std::uint8_t density;
        int extraReads;
        const char* message;
    };
    const Case cases[] = {
        {"edited CDB", edited("CDB: 1A 00 00 00 0C 00", "CDB: 1A 00 3F 00 0C 00"), 0x80, 0,
         "Replay differs at command 5: sent CDB 1A 00 00 00 0C 00, recorded CDB 1A 00 3F 00 0C 00"},
        {"other data sent", recording, 0x00, 0,
         "Replay differs at command 4: sent CDB 15 00 00 00 0C 00 with other data than recorded "
         "(first difference at byte 4)"},
        {"more commands than recorded", recording, 0x80, 1,
         "Replay differs at command 10: sent CDB 08 00 00 16 BE 00, recorded CDB none (the "
         "recording ends)"},
        {"a damaged recording", edited("Data: none\nStatus: 0x01", "Data: none\nStatus: 0x0"), 0x80,
         0, "Replay stops at command 2: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        std::unique_ptr<ScsiTransport> t = replay(c.file);
        ASSERT_TRUE(t);
        const std::vector<Seen> seen = runScript(*t, c.density, c.extraReads);
        ASSERT_EQ(messages.size(), 1u); // told once
        EXPECT_EQ(messages[0].rfind(c.message, 0), 0u) << messages[0];
        // The command that differs and every later one fail.
        EXPECT_EQ(seen.back().status, kSsErr);
        EXPECT_STREQ(t->senseSummary(), "Replay differs");
    }
}

TEST_F(Replay, ADeviceTheRecordingNeverUsedIsPassedOver)
{
    // Two drives; the recorded run used only the second.
    {
        ScsiTransport live(true, nullptr);
        live.addTarget(std::make_shared<ScriptTarget>());
        live.addTarget(std::make_shared<ScriptTarget>());
        ASSERT_EQ(live.scanDevices(kTypeSequentialAccess), 2);
        std::FILE* capture = std::fopen(recording.c_str(), "w");
        live.setExchangeCapture(capture);
        live.runCommand("TST_U_RDY", 1, DataDirection::None, kTur, 6, nullptr, 0);
        live.setExchangeCapture(nullptr);
        std::fclose(capture);
    }
    std::unique_ptr<ScsiTransport> t = replay(recording);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->deviceCount(), 2);
    // A selection that tries the first drive first gets nowhere there, and the replay goes on.
    EXPECT_EQ(t->runCommand("TST_U_RDY", 0, DataDirection::None, kTur, 6, nullptr, 0), kSsErr);
    EXPECT_STREQ(t->senseSummary(), "Device not in the recording");
    EXPECT_EQ(t->runCommand("TST_U_RDY", 1, DataDirection::None, kTur, 6, nullptr, 0), kSsErr);
    EXPECT_STREQ(t->senseSummary(), "Unit Atten. 29 00");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Replay, KernelDevicesComeBackWithTheirProblemsGroupsAndStatusCodes)
{
    using test::FakeKernel;
    auto kernel = std::make_shared<FakeKernel>();
    kernel->addTape(0, 3, 5, 3, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->addTape(1, 4, 5, 4, 0, "VENDOR  DDS DRIVE AUDIO 9608");
    kernel->setOpenError("/dev/sg3", EACCES);
    kernel->setGroup("/dev/sg3", "tape");
    kernel->setGroup("/dev/sg4", "disk");
    int command = 0;
    kernel->device("/dev/sg4").onCommand = [&command](const sg_io_hdr_t&) {
        switch (++command) {
        case 1: // the drive is switched off
            return test::kernelReply(0, 0x01 /* DID_NO_CONNECT */);
        case 2: { // a short frame
            test::KernelReply r;
            r.data.assign(5000, 0x5A);
            return r;
        }
        default:
            return test::kernelReply(0x02, 0, 0x08,
                                     {0x70, 0, 0x08, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0x05});
        }
    };
    const std::string log = dir.file("TVDAT.LOG");
    std::vector<std::string> liveLog;
    std::vector<std::uint8_t> frame(5822);
    auto script = [&](ScsiTransport& t) {
        std::vector<std::string> texts;
        for (int device : {0, 1, 1, 1}) {
            t.runCommand("READ6", device, DataDirection::In, kRead, 6, frame.data(), 5822);
            texts.push_back(t.logText() + std::string("|") + t.senseSummary());
        }
        return texts;
    };
    {
        ScsiTransport live(false, kernel);
        ASSERT_EQ(live.scanDevices(kTypeSequentialAccess), 2);
        live.setFullLog(true);
        live.setLogFile(log.c_str());
        liveLog = script(live);
    }
    // A second run in the same log, of other commands: the replay takes the last session.
    writeFile(dir.file("first.txt"), readFile(log));
    {
        ScsiTransport live(false, kernel);
        live.scanDevices(kTypeSequentialAccess);
        live.setFullLog(true);
        live.setLogFile(log.c_str());
        command = 0;
        liveLog = script(live);
    }
    const std::string text = readFile(log);
    EXPECT_NE(text.find("Cmd: ??? SCSI_???   Status: SS_ERR"), std::string::npos); // readable too
    EXPECT_NE(text.find("Device 0 problem: /dev/sg3: Permission denied"), std::string::npos);

    std::unique_ptr<ScsiTransport> t = replay(log);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->isSpti());
    EXPECT_EQ(t->devicePath(0), "/dev/nst0");
    EXPECT_EQ(t->commandPath(1), "/dev/sg4");
    EXPECT_EQ(t->deviceGroup(0), "tape");
    EXPECT_EQ(t->deviceGroup(1), "disk");
    EXPECT_EQ(t->deviceProblem(0),
              "/dev/sg3: Permission denied (add the user to the group that owns it, usually tape)");
    // Every command's readable account (status bytes, host code, errno, residual, sense) is the
    // same: the replay hands back all the kernel said.
    EXPECT_EQ(script(*t), liveLog);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(t->hostStatus(), 0);
}

TEST(ExchangeReader, DamagedFilesAreRefusedWithTheLine)
{
    const std::string header = "==== Command exchange ====\nMode: SPTI\nDevice 0: host 0, target "
                               "0, lun 0, type 1, path character 0x30, \"A\" \"B\" \"C\"\n\n";
    const std::string command = "Command 1, device 0, at 0.000001 s, took 0.000002 s\n";
    const std::string good = "Status: 0x01 SS_COMP, HaStat 0x00, TargStat 0x00, Host 0x00 "
                             "DID_OK, Driver 0x00 DRIVER_OK\n";
    struct Case {
        std::string text;
        const char* error; // empty: reads to the end
    };
    const Case cases[] = {
        {"Cmd: 0x00 SCSI_TST_U_RDY   Status: SS_COMP\n", "no command exchange"},
        {header + command + "CDB: 00 00 00 00 00 00\nData: none\n" + good, ""},
        {header + command + "CDB: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
         "line 6: bad CDB"},
        {header + command + "CDB: 08 00 00 00 04 00\nData in: 4 bytes asked, 5 received\n",
         "line 7: bad data line"},
        {header + command +
             "CDB: 08 00 00 00 04 00\nData in: 4 bytes asked, 4 received\n  0000 "
             "01 02\n",
         "line 8: bad data line"},
        {header + command + "CDB: 08\nData in: 99999999999 bytes asked, 0 received\n",
         "line 7: bad data line"},
        {header + command + "CDB: 00\nData: none\nStatus: 0x01\n", "line 8: bad status line"},
        {header + command + "CDB: 00\nData: none\n" + good + "Sense: 70\n", "line 9: bad sense"},
        {header + command + "CDB: 00\nData: none\n" + good + "Colour: blue\n",
         "line 9: unknown line in a command"},
        {header + command + "CDB: 00\nData: none\n", "line 7: command 1 is incomplete"},
        {header + command + "Problem: bad \\q escape\n", "line 6: bad escape"},
        {header + std::string(5000, 'x') + "\n" + command + "CDB: 00\n" + std::string(2000, '0'),
         "line 8: the line is too long"},
        {"==== Command exchange ====\nDevice 1: host 0, target 0, lun 0, type 1, path character "
         "0x30, \"A\" \"B\" \"C\"\n",
         "line 2: devices out of order"},
        {"==== Command exchange ====\nDevice 0 group: tape\n", "line 2: a device that is not"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 200));
        std::string copy = c.text;
        std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
        ASSERT_NE(f, nullptr);
        ExchangeReader reader;
        std::string error;
        bool ok = reader.open(f, error);
        ExchangeCommand cmd;
        while (ok) {
            const ExchangeReader::Read r = reader.next(cmd, error);
            if (r == ExchangeReader::Read::End)
                break;
            ok = r == ExchangeReader::Read::Command;
        }
        if (c.error[0] == '\0')
            EXPECT_TRUE(ok) << error;
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

} // namespace
} // namespace tarnvel::scsi
