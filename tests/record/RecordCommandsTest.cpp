// The command line's recording and virtual ID commands, run as a user runs them.
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

struct CliRun {
    int exitCode;
    std::string out;
};

CliRun cli(const std::string& args)
{
    const std::string command = std::string(TARNVEL_CLI) + " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return {-1, ""};
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
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

TEST(RecordCommands, TwoProcessesCopyATapeFrameForFrameThroughTheLink)
{
    TempDir dir;
    const std::string run = dir.file("run");
    ::mkdir(run.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    const std::string source = dir.file("source.tvs");
    {
        std::string error;
        auto c = sim::Cassette::create(source, 1, error);
        ASSERT_TRUE(c) << error;
        dat::DatFrame f;
        dat::RecSubcodeState st;
        dat::initRecSubcode(f.subcode, st, dat::kIdControlStart, dat::TimeCode{0, 0, 0, 0}, 0, 0,
                            44100, false, 1);
        for (int i = 0; i < 400; ++i) {
            f.audio.fill(static_cast<std::uint8_t>(i * 3));
            ASSERT_TRUE(c->writeFrame(i, f.data(), error)) << error;
            dat::advanceRecSubcode(f.subcode, st);
        }
    }
    // The receiving cassette has a lead-in, so that its drive knows where it stands at once.
    const std::string copy = dir.file("copy.tvs");
    {
        std::string error;
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
    CliRun served{-1, ""};
    std::thread receiver(
        [&] { served = cli("--instance 2 --drive sim:" + copy + " serve --once"); });
    const std::string socket = run + "/tarnvel/Tarnvel:2.sock";
    for (int i = 0; i < 600 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const CliRun sent = cli("--drive sim:" + source + " copy-to-peer --image");
    receiver.join();
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(sent.exitCode, 0) << sent.out;
    EXPECT_EQ(served.exitCode, 0) << served.out;
    std::string error;
    auto a = sim::Cassette::open(source, sim::Cassette::Access::ReadOnly, error);
    auto b = sim::Cassette::open(copy, sim::Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(a && b) << error;
    ASSERT_EQ(b->recordedEnd(), a->recordedEnd());
    for (std::int64_t i = 0; i < a->recordedEnd(); ++i) {
        dat::DatFrame x;
        dat::DatFrame y;
        ASSERT_TRUE(a->readFrame(i, x.data(), error));
        ASSERT_TRUE(b->readFrame(i, y.data(), error));
        ASSERT_EQ(std::memcmp(x.data(), y.data(), dat::kFrameBytes), 0) << i;
    }
}

} // namespace
} // namespace tarnvel::record
