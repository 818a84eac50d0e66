// The command line's recording and virtual ID commands, run as a user runs them.
#include "CliShell.h"
#include "cli/CliRunner.h"
#include "dat/RecSubcode.h"
#include "sim/Cassette.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace tarnvel::record {
namespace {

using test::TempDir;
using test::WavFixture;

using test::CliRun;

// Standard error joins the output: the tests read the messages.
CliRun cli(const std::string& args)
{
    return test::cli(args, "&1");
}

TEST(RecordCommands, ANewTapeIsNotRecordedWithoutItsLeadIn)
{
    TempDir dir;
    WavFixture a;
    a.rate = 48000;
    a.withFrames(1440 * 10);
    a.write(dir.file("a.wav"));
    const std::string tape = dir.file("blank.tvs");
    ASSERT_EQ(cli("sim new " + tape + " --minutes 1").exitCode, 0);
    CliRun r = cli("--drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("New tape is detected."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the tape has no lead-in"), std::string::npos) << r.out;
    EXPECT_NE(cli("sim info " + tape).out.find("Recorded:        never"), std::string::npos);
    EXPECT_EQ(cli("record --wav a.wav --image b.tvi").exitCode, 2);

    // Declined once, the tape is not trapped: the question comes again, and --yes answers it.
    r = cli("--yes --drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 0) << r.out;
    const std::string info = cli("sim info " + tape).out;
    EXPECT_NE(info.find("ABS-00h00m03s08  Lead-in"), std::string::npos) << info;
    EXPECT_NE(info.find("ABS 00h00m02s00  START ID 1"), std::string::npos) << info;
}

// ID writes ask before they change the tape, also for an END ID (it cannot be erased), and a
// write the tape cannot take is refused before the question.
TEST(RecordCommands, IdWritesAskFirstAndAreRefusedWithoutAsking)
{
    TempDir dir;
    const std::string tape = dir.file("demo.tvs");
    ASSERT_EQ(cli("sim demo " + tape).exitCode, 0);
    const struct {
        const char* place;
        const char* command;
        const char* said;
        const char* notSaid;
    } cases[] = {
        {"locate --pno 2", "write-id end", "Write END ID?\n(No: give --yes to answer Yes)",
         "Writing..."},
        {"locate --pno 2", "write-id skip", "Continue?\n(No: give --yes to answer Yes)",
         "Writing..."},
        {"ff", "erase-id", "Unable to erase END ID.", "unrecoverable noise"},
        {"locate --abs 00:00:15:00", "erase-id", "ID not found.", "unrecoverable noise"},
        {"locate --abs 00:00:00:20", "write-id skip", "Lead-in area, or too close.",
         "unrecoverable noise"},
    };
    const std::string before = cli("sim info " + tape).out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(cli("--drive sim:" + tape + " " + c.place).exitCode, 0) << c.place;
        const CliRun r = cli("--drive sim:" + tape + " " + c.command);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(c.notSaid), std::string::npos) << r.out;
    }
    EXPECT_EQ(cli("sim info " + tape).out, before);
}

// A START ID written without a number continues the tape's numbering where it stands.
TEST(RecordCommands, StartIdWithoutNumberTakesTheNextNumber)
{
    TempDir dir;
    WavFixture a;
    a.rate = 48000;
    a.withFrames(48000 * 20);
    a.write(dir.file("a.wav"));
    const std::string demo = dir.file("demo.tvs");
    const std::string plain = dir.file("plain.tvs");
    ASSERT_EQ(cli("sim demo " + demo).exitCode, 0);
    ASSERT_EQ(cli("sim new " + plain + " --minutes 2").exitCode, 0);
    ASSERT_EQ(cli("--yes --drive sim:" + plain + " record --pno-start 0 --wav " + dir.file("a.wav"))
                  .exitCode,
              0);
    const struct {
        std::string tape;
        const char* id; // the line `sim info` shows for the ID written at 00h00m08s00
    } cases[] = {
        {demo, "ABS 00h00m30s00  START ID 3"},  // inside program 2
        {plain, "ABS 00h00m08s00  START ID 1"}, // a tape without IDs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tape);
        const std::string at = c.tape == demo ? "00:00:30:00" : "00:00:08:00";
        const CliRun r = cli("--yes --drive sim:" + c.tape + " write-id start --at " + at);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        const std::string info = cli("sim info " + c.tape).out;
        EXPECT_NE(info.find(c.id), std::string::npos) << info;
    }
}

// An archive's cue list is recorded back whatever its files are labelled: a file the archive
// began in the lead-in ("BB", here the whole tape with --no-divide) without a START ID.
TEST(RecordCommands, AnArchivesCueListIsAlwaysRecordable)
{
    TempDir dir;
    const std::string demo = dir.file("demo.tvs");
    const std::string blank = dir.file("blank.tvs");
    ASSERT_EQ(cli("sim demo " + demo).exitCode, 0);
    ASSERT_EQ(cli("sim new " + blank + " --minutes 5").exitCode, 0);
    const std::string base = dir.file("whole");
    ASSERT_EQ(cli("--drive sim:" + demo + " archive --no-divide " + base).exitCode, 0);
    const auto cue = WavFixture::readBytes(base + ".TVC");
    ASSERT_NE(std::string(cue.begin(), cue.end()).find("PNo: BB"), std::string::npos);
    const CliRun r = cli("--yes --drive sim:" + blank + " record --cue " + base + ".TVC");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // The lead-in, then the whole demo tape (2175 frames) from 00h00m02s00 on.
    const std::string info = cli("sim info " + blank).out;
    const std::size_t at = info.find("Recorded:        frames 0-");
    ASSERT_NE(at, std::string::npos) << info;
    EXPECT_GE(std::atoi(info.c_str() + at + 26), 174 + 2175 - 1) << info;
    EXPECT_EQ(info.find("START ID"), std::string::npos) << info;
}

TEST(RecordCommands, VirtualIdsAreAddedErasedAndRenumbered)
{
    TempDir dir;
    const std::string vid = dir.file("V.TVV");
    EXPECT_EQ(cli("vid add " + vid + " start 7 --at 00:01:00:00").exitCode, 0);
    EXPECT_EQ(cli("vid add " + vid + " start 3 --at 00:00:30:10").exitCode, 0);
    EXPECT_EQ(cli("vid add " + vid + " skip --at 00:00:45:00").exitCode, 0);
    EXPECT_EQ(cli("vid add " + vid + " end --at 00:02:00:00").exitCode, 0);
    EXPECT_EQ(cli("vid erase " + vid + " --at 00:00:45:00").exitCode, 0);
    EXPECT_EQ(cli("vid erase " + vid + " --at 00:00:46:00").exitCode, 1);
    const CliRun r = cli("vid renumber " + vid);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(cli("vid show " + vid).out, " 1\t START\t   1\t 00h00m30s10\t    30\n"
                                          " 2\t START\t   2\t 00h01m00s00\t    60\n"
                                          " 3\t END\t\t 00h02m00s00\t   120\n");
    EXPECT_EQ(cli("vid add " + vid + " start --at 00:00:10:00").exitCode, 2);
}

// Two instances, each in its own process with its own simulated drive, in a runtime folder
// of the test's own.
class TwoInstances : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::mkdir(run.c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        std::string error;
        {
            // 400 frames at 44.1 kHz under START 1; frame i holds the byte i * 3.
            auto c = sim::Cassette::create(source, 1, error);
            ASSERT_TRUE(c) << error;
            dat::DatFrame f;
            dat::RecSubcodeState st;
            dat::initRecSubcode(f.subcode, st, dat::kIdControlStart, dat::TimeCode{0, 0, 0, 0}, 0,
                                0, 44100, false, 1);
            for (int i = 0; i < 400; ++i) {
                f.audio.fill(static_cast<std::uint8_t>(i * 3));
                ASSERT_TRUE(c->writeFrame(i, f.data(), error)) << error;
                dat::advanceRecSubcode(f.subcode, st);
            }
        }
        // The receiving cassette has a lead-in, so that its drive knows where it stands at once.
        auto c = sim::Cassette::create(copy, 1, error);
        ASSERT_TRUE(c) << error;
        dat::DatFrame f;
        dat::RecSubcodeState st;
        dat::initRecSubcode(f.subcode, st, dat::kIdControlNone, dat::TimeCode{0, 0, 3, 8}, 0, 0,
                            48000, false, dat::kIdCodeLeadIn);
        for (int i = 0; i < 108; ++i) {
            ASSERT_TRUE(c->writeFrame(i, f.data(), error)) << error;
            dat::advanceRecSubcode(f.subcode, st);
        }
    }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    bool waitForReceiver() const
    {
        const std::string socket = run + "/tarnvel/Tarnvel:2.sock";
        for (int i = 0; i < 600 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return std::filesystem::exists(socket);
    }
    // Copies the source through `serve --once` in the second instance.
    void copyThroughTheLink(const std::string& senderOptions)
    {
        CliRun served{-1, ""};
        std::thread receiver(
            [&] { served = cli("--instance 2 --drive sim:" + copy + " serve --once"); });
        ASSERT_TRUE(waitForReceiver());
        const CliRun sent = cli("--drive sim:" + source + " copy-to-peer" + senderOptions);
        receiver.join();
        EXPECT_EQ(sent.exitCode, 0) << sent.out;
        EXPECT_EQ(served.exitCode, 0) << served.out;
    }
    void open(std::unique_ptr<sim::Cassette>& a, std::unique_ptr<sim::Cassette>& b)
    {
        std::string error;
        a = sim::Cassette::open(source, sim::Cassette::Access::ReadOnly, error);
        b = sim::Cassette::open(copy, sim::Cassette::Access::ReadOnly, error);
        ASSERT_TRUE(a && b) << error;
    }

    TempDir dir;
    const std::string run = dir.file("run");
    const std::string source = dir.file("source.tvs");
    const std::string copy = dir.file("copy.tvs");
};

TEST_F(TwoInstances, AnImageCopyIsFrameForFrame)
{
    copyThroughTheLink(" --image");
    std::unique_ptr<sim::Cassette> a, b;
    open(a, b);
    std::string error;
    ASSERT_EQ(b->recordedEnd(), a->recordedEnd());
    for (std::int64_t i = 0; i < a->recordedEnd(); ++i) {
        dat::DatFrame x;
        dat::DatFrame y;
        ASSERT_TRUE(a->readFrame(i, x.data(), error));
        ASSERT_TRUE(b->readFrame(i, y.data(), error));
        ASSERT_EQ(std::memcmp(x.data(), y.data(), dat::kFrameBytes), 0) << i;
    }
}

// An audio copy is recorded anew: the program's audio arrives in order, every byte of it.
TEST_F(TwoInstances, AnAudioCopyCarriesEverySampleInOrder)
{
    copyThroughTheLink("");
    std::unique_ptr<sim::Cassette> a, b;
    open(a, b);
    std::string error;
    // Frame 0 is silent like the lead-in: the copy is found by its frame 1.
    std::int64_t at = -1;
    for (std::int64_t i = 0; i < b->recordedEnd() && at < 0; ++i) {
        dat::DatFrame y;
        ASSERT_TRUE(b->readFrame(i, y.data(), error));
        if (y.audio[0] == 3 && y.audio[5291] == 3)
            at = i - 1;
    }
    ASSERT_GE(at, 0);
    for (std::int64_t i = 0; i < 400; ++i) {
        dat::DatFrame x;
        dat::DatFrame y;
        ASSERT_TRUE(a->readFrame(i, x.data(), error));
        ASSERT_TRUE(b->readFrame(at + i, y.data(), error));
        ASSERT_EQ(std::memcmp(x.audio.data(), y.audio.data(), 5292), 0) << i;
    }
}

// The receiving process killed mid-copy: the sender ends with a message, not a hang.
TEST_F(TwoInstances, KillingTheReceiverEndsTheSender)
{
    cli::test::CliProcess receiver(dir, {"--instance", "2", "--drive", "sim:" + copy, "serve"});
    ASSERT_TRUE(waitForReceiver());
    // At deck speed the 400 frames take 13 seconds: the kill comes in the middle.
    cli::test::CliProcess sender(dir, {"--realtime", "--drive", "sim:" + source, "copy-to-peer"});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    receiver.signal(SIGKILL);
    receiver.wait();
    const cli::test::CliResult sent = sender.wait(std::chrono::seconds(60));
    EXPECT_NE(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_NE((sent.out + sent.err).find("The copy ended: Tarnvel:2 no longer takes frames."),
              std::string::npos)
        << sent.out << sent.err;
}

} // namespace
} // namespace tarnvel::record
