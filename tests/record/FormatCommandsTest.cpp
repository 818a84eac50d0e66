// The command line's wav, cue and vid subcommands, run as a user runs them.
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
    const std::string command = std::string(TARNVEL_CLI) + " " + args + " 2>/dev/null";
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

TEST(FormatCommands, WavInfoCueMakeShowAndVidShow)
{
    TempDir dir;
    WavFixture a;
    a.withFrames(44100 * 2); // 2 s of 44100 Hz 16-bit stereo
    a.write(dir.file("a.wav"));
    WavFixture b;
    b.rate = 32000;
    b.withFrames(32000 * 3);
    b.write(dir.file("b.wav"));
    WavFixture mono;
    mono.channels = 1;
    mono.withFrames(10);
    mono.write(dir.file("mono.wav"));

    CliRun info = cli("wav info " + dir.file("a.wav") + " " + dir.file("missing.wav"));
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_EQ(info.out, dir.file("a.wav") + "\t44100s/s 16bit Stereo\t352800\t00m02s\n" +
                            dir.file("missing.wav") + "\tfile not found\n");

    const std::string cue = dir.file("CUE.TVC");
    CliRun make = cli("cue make " + cue + " " + dir.file("a.wav") + " " + dir.file("b.wav") +
                      " --pno-start 3 --silence 2 --pre-silence 1 --lp --emph on --copy Prohibit");
    EXPECT_EQ(make.exitCode, 0);
    const std::string rows = "  3\t" + dir.file("a.wav") + "\t00m02s\t44100\tOn\tProhibit\t  2\t" +
                             dir.file("a.wav") + "\n" + "  4\t" + dir.file("b.wav") +
                             "\t00m03s\t32000 LP\tOn\tProhibit\t  2\t" + dir.file("b.wav") +
                             "\nTotal Rec Time: 00m08s\n";
    EXPECT_EQ(make.out, rows);
    CliRun show = cli("cue show " + cue);
    EXPECT_EQ(show.exitCode, 0);
    EXPECT_EQ(show.out, rows);

    CliRun refused = cli("cue make " + dir.file("bad.TVC") + " " + dir.file("a.wav") + " " +
                         dir.file("mono.wav"));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.TVC")));

    const std::string vid = dir.file("V_ID.TVV");
    const std::string text = "; No. ID   PNo.  ABS Time     (sec)\r\n"
                             "   1 START   5  00h01m02s03     62\r\n"
                             "   2 END        00h10m00s00    600\r\n";
    WavFixture::writeBytes(vid, {text.begin(), text.end()});
    CliRun vshow = cli("vid show " + vid);
    EXPECT_EQ(vshow.exitCode, 0);
    EXPECT_EQ(vshow.out, " 1\t START\t   5\t 00h01m02s03\t    62\n"
                         " 2\t END\t\t 00h10m00s00\t   600\n");
    EXPECT_EQ(cli("vid show " + dir.file("none.TVV")).exitCode, 1);
}

} // namespace
} // namespace tarnvel::record
