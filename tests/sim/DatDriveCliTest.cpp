#include "sim/SimTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

// The drive subcommands of the command line against a simulated drive, as a user runs them.
namespace tarnvel::sim::test {
namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t countOf(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

class DriveCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        auto c = Cassette::create(dir.file("tape.tvs"), 1, error);
        ASSERT_TRUE(c) << error;
        recordFrames(*c, 0, 100, 0, dat::framesToAbs(66));
        recordFrames(*c, 100, 400, 1, dat::framesToAbs(166));
        recordFrames(*c, 500, 400, 2, dat::framesToAbs(566));
    }
    // Runs the program in the test folder (behind `prefix`, a command such as `timeout`);
    // returns its exit code.
    int run(const std::string& arguments, const std::string& prefix = {})
    {
        const std::string command = "cd '" + dir.path().string() + "' && " + prefix + "'" +
                                    TARNVEL_CLI "' " + arguments + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        out = readFile(dir.file("out.txt"));
        err = readFile(dir.file("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    tarnvel::test::TempDir dir;
    std::string out, err;
};

TEST_F(DriveCommandLine, ReadWithDumpAndLogRecordsEveryCommand)
{
    ASSERT_EQ(run("--drive sim:tape.tvs --log read --count 100 --dump --ids"), 0) << err;
    // The arrival read frame 0; the ring delivers frames 1-100.
    EXPECT_EQ(countOf(out, "SubID\n"), 100u);
    EXPECT_NE(out.find(" 00h00m02s01   --  \n"), std::string::npos) << out.substr(0, 200);
    EXPECT_NE(out.find(" 00h00m05s00    1  START\n"), std::string::npos);
    EXPECT_NE(out.find("; No. ID   PNo.  ABS Time     (sec)\n"
                       "   1  START   1  00h00m05s00      5\n"),
              std::string::npos)
        << out.substr(out.size() - 200);

    const std::string log = readFile(dir.file("TVDAT.LOG"));
    EXPECT_EQ(log.rfind("==========", 0), 0u);
    EXPECT_NE(log.find("\"TARNVEL \" \"DAT SIMULATOR   \""), std::string::npos);
    EXPECT_NE(log.find("Cmd: 0x1B SCSI_LOAD_UN   Status: SS_COMP\n\n"), std::string::npos);
    // One frame at arrival, 100 more with 35 in hand: 136 READ(6), each logged unnamed.
    EXPECT_EQ(countOf(log, "Cmd: ??? SCSI_???   Status: SS_COMP\n\n"), 136u);

    // A second run appends to the log.
    ASSERT_EQ(run("--drive sim:tape.tvs --log position"), 0) << err;
    EXPECT_EQ(countOf(readFile(dir.file("TVDAT.LOG")), "==========\n"), 2u);
}

// Each run continues where the last one left the tape, as a user's script expects of a deck.
TEST_F(DriveCommandLine, LocateInOneRunAndReadInTheNext)
{
    ASSERT_EQ(run("--drive sim:tape.tvs locate --pno 2"), 0) << err;
    const std::string there =
        "PNo 002  Index AA  PGM --h--m--s--  ABS 00h00m17s00  RUN --h--m--s--\n";
    EXPECT_EQ(out, there);
    ASSERT_EQ(run("--drive sim:tape.tvs position"), 0) << err;
    EXPECT_EQ(out, there);
    ASSERT_EQ(run("--drive sim:tape.tvs status"), 0) << err;
    EXPECT_EQ(out, " Ready\n" + there);
    ASSERT_EQ(run("--drive sim:tape.tvs read --count 1 --dump"), 0) << err;
    EXPECT_EQ(out.rfind(" 00h00m17s00    2  START\n", 0), 0u) << out.substr(0, 100);
    // The deck commands too: the archive starts where the tape stands, in program 2.
    ASSERT_EQ(run("--drive sim:tape.tvs archive part --from-here --no-report"), 0) << err;
    EXPECT_NE(out.find("1 files"), std::string::npos) << out;
    EXPECT_NE(out.find("PNo 2 "), std::string::npos) << out;

    ASSERT_EQ(run("--drive sim:tape.tvs locate --abs 0:0:3:0"), 0) << err;
    EXPECT_NE(out.find("ABS 00h00m03s00"), std::string::npos) << out;
    // Reading past the recorded area ends with the play path's text.
    EXPECT_EQ(run("--drive sim:tape.tvs read --count 1000"), 1);
    EXPECT_EQ(err, " ??? SS_ERR End of Data 00 05\n");
    EXPECT_EQ(countOf(out, "\n"), 900u - 34u);

    // One drive holds a cassette: a second program is refused while the first has it.
    std::string error;
    auto held = Cassette::open(dir.file("tape.tvs"), Cassette::Access::ReadWrite, error);
    ASSERT_TRUE(held) << error;
    EXPECT_EQ(run("--drive sim:tape.tvs position"), 1);
    EXPECT_EQ(err, "The cassette tape.tvs is held by another drive or program.\n");
}

// Readers open without blocking: a FIFO is named as what it is instead of hanging.
TEST_F(DriveCommandLine, FilesThatAreNotRegularAreRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const struct {
        const char* arguments;
        const char* expect;
    } cases[] = {
        {"sim info fifo", "Unable to open the cassette fifo (not a regular file)\n"},
        {"sim new new.tvs --from-image fifo", "Unable to open fifo (not a regular file)\n"},
        {"--drive sim:fifo status", "Unable to open the cassette fifo (not a regular file)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments, "timeout 30 "), 1);
        EXPECT_EQ(err, c.expect);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.tvs")));
}

// A full or read-only disk is a message and a failed command, never a signal; nothing half
// made is left looking like a cassette.
TEST_F(DriveCommandLine, StorageTroubleIsAMessage)
{
    ScratchMount disk(dir.file("disk"));
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    // A 60-minute cassette on a 2 MB disk: only what is recorded takes space.
    ASSERT_EQ(run("sim new disk/empty.tvs"), 0) << err;
    ASSERT_EQ(run("--drive sim:disk/empty.tvs status"), 0) << err;
    EXPECT_EQ(out.rfind(" Ready\n", 0), 0u) << out;
    EXPECT_EQ(run("sim demo disk/demo.tvs"), 1);
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    ASSERT_EQ(run("--drive sim:disk/empty.tvs status"), 0) << err;
    ASSERT_EQ(run("image make-sample s.TVI --frames 100"), 0) << err;
    ASSERT_EQ(run("sim new disk/r.tvs --from-image s.TVI"), 0) << err;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(disk.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"empty.tvs", "r.tvs"}));

    // Read-only: a write-protected cassette, which plays.
    ASSERT_TRUE(disk.remountReadOnly());
    ASSERT_EQ(run("--drive sim:disk/r.tvs read --count 3"), 0) << err;
    EXPECT_EQ(countOf(out, "\n"), 3u);
    EXPECT_EQ(run("sim damage disk/r.tvs --write-fail-at 5"), 1);
    EXPECT_NE(err.find("Read-only file system"), std::string::npos) << err;
}

// A cassette whose making is interrupted never appears under its name half made.
TEST_F(DriveCommandLine, AnInterruptedDemoLeavesNoCassette)
{
    const std::string command = "cd '" + dir.path().string() +
                                "' && { '" TARNVEL_CLI
                                "' sim demo demo.tvs >/dev/null 2>&1 & sleep 0.3; kill -9 $!; "
                                "wait; } 2>/dev/null";
    std::system(command.c_str());
    if (std::filesystem::exists(dir.file("demo.tvs"))) {
        // Done before the kill: then it is complete.
        ASSERT_EQ(run("sim info demo.tvs"), 0) << err;
        EXPECT_NE(out.find("frames 0-2474"), std::string::npos) << out;
    }
}

TEST_F(DriveCommandLine, StatusDrivesAndBadSpecifications)
{
    ASSERT_EQ(run("--drive sim:tape.tvs status"), 0) << err;
    EXPECT_EQ(out,
              " Ready\nPNo 0AA  Index AA  PGM --h--m--s--  ABS 00h00m02s00  RUN --h--m--s--\n");
    ASSERT_EQ(run("--drive sim:tape.tvs drives"), 0) << err;
    EXPECT_EQ(out, "[0:4] TARNVEL  DAT SIMULATOR    1.00  audio mode\n");
    EXPECT_EQ(run("--drive sim:missing.tvs status"), 1);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(run("--drive sim:tape.tvs locate"), 2); // a command line without its target
    EXPECT_EQ(err, "Give --pno N or --abs HH:MM:SS:FF.\n");
}

TEST_F(DriveCommandLine, ReadListsTheStartIdOfTheFirstFrameOnTape)
{
    std::string error;
    auto c = Cassette::create(dir.file("first.tvs"), 1, error);
    ASSERT_TRUE(c) << error;
    recordFrames(*c, 0, 400, 1, dat::framesToAbs(0));
    recordFrames(*c, 400, 400, 2, dat::framesToAbs(400));
    c.reset();
    // The tape arrival reads frame 0 alone; the ring reads on from frame 1.
    ASSERT_EQ(run("--drive sim:first.tvs read --count 500 --ids"), 0) << err;
    EXPECT_NE(out.find("; No. ID   PNo.  ABS Time     (sec)\n"
                       "   1  START   1  00h00m00s00      0\n"
                       "   2  START   2  00h00m12s00     12\n"),
              std::string::npos)
        << out.substr(out.size() - 200);
}

TEST_F(DriveCommandLine, LocateTakesOneTo799AndReportsANumberTheTapeDoesNotHold)
{
    for (const char* pno : {"0", "800", "-1"}) {
        SCOPED_TRACE(pno);
        EXPECT_NE(run(std::string("--drive sim:tape.tvs locate --pno ") + pno), 0);
        EXPECT_EQ(err, "--pno must be from 1 to 799\nRun with --help for more information.\n");
        EXPECT_EQ(out, "");
    }
    EXPECT_EQ(run("--drive sim:tape.tvs locate --pno 3"), 1);
    EXPECT_EQ(err, "Program number 3 not found.\n");
    EXPECT_NE(out.find("PNo "), std::string::npos); // where the search ended
}

TEST_F(DriveCommandLine, EveryRunEndsWithTheDriveBackInDataMode)
{
    const std::string select = "Cmd: 0x15 SCSI_MODE_SEL6   Status: SS_COMP\n\n";
    for (const char* command : {"position", "drives", "locate --pno 3", "read --count 2000"}) {
        SCOPED_TRACE(command);
        std::filesystem::remove(dir.file("TVDAT.LOG"));
        run(std::string("--drive sim:tape.tvs --log ") + command);
        const std::string log = readFile(dir.file("TVDAT.LOG"));
        ASSERT_GE(log.size(), select.size());
        EXPECT_EQ(log.substr(log.size() - select.size()), select) << log.substr(log.size() - 300);
    }
}

TEST_F(DriveCommandLine, DrivesWithoutAnyDriveHintsAtTheSimulatedOne)
{
    if (run("drives") == 0)
        GTEST_SKIP() << "this machine has a tape drive: " << out;
    EXPECT_EQ(err, "Tape drive not found.\n"
                   "To try the program without a drive: tarnvel-cli sim demo demo.tvs, then use "
                   "--drive sim:demo.tvs with any drive command.\n");
}

} // namespace
} // namespace tarnvel::sim::test
