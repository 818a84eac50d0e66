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
    const CliRun r = cli("--drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("New tape is detected."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the tape has no lead-in"), std::string::npos) << r.out;
    EXPECT_NE(cli("sim info " + tape).out.find("Recorded:        never"), std::string::npos);
    EXPECT_EQ(cli("record --wav a.wav --image b.tvi").exitCode, 2);
}

TEST(RecordCommands, FramesRecordedCountsWhatReachedTheTape)
{
    TempDir dir;
    WavFixture a;
    a.rate = 48000;
    a.withFrames(1440 * 200);
    a.write(dir.file("a.wav"));
    const std::string tape = dir.file("t.tvs");
    ASSERT_EQ(cli("sim new " + tape + " --minutes 1").exitCode, 0);
    // The program begins at frame 174, after the lead-in: 126 frames fit before the bad spot.
    ASSERT_EQ(cli("sim damage " + tape + " --write-fail-at 300").exitCode, 0);
    const CliRun r = cli("--yes --drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("\n126 frames recorded\n"), std::string::npos) << r.out;
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
