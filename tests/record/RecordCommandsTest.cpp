// The command line's recording and virtual ID commands, run as a user runs them.
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

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

} // namespace
} // namespace tarnvel::record
