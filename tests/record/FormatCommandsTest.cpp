// The command line's wav, cue and vid subcommands, run as a user runs them.
#include "CliShell.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace tarnvel::record {
namespace {

using test::TempDir;
using test::WavFixture;

using test::cli;
using test::CliRun;

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

std::string slurp(const std::string& path)
{
    const auto bytes = WavFixture::readBytes(path);
    return {bytes.begin(), bytes.end()};
}

// A list holds 99 files: the 100th is named with the limit, however the list is made.
TEST(FormatCommands, TheHundredthFileIsNamed)
{
    TempDir dir;
    std::string files;
    std::string cue;
    for (int i = 0; i < 100; ++i) {
        const std::string name = dir.file("f" + std::to_string(100 + i) + ".wav");
        WavFixture().withFrames(441).write(name);
        files += " " + name;
        cue += name + "\r\n";
    }
    WavFixture::writeBytes(dir.file("hundred.TVC"), {cue.begin(), cue.end()});
    const std::string said = "A list holds at most 99 files.\n\n" + dir.file("f199.wav") + "\n";
    const std::string err = dir.file("err.txt");
    for (const std::string& args :
         {"cue make " + dir.file("out.TVC") + files, "cue show " + dir.file("hundred.TVC"),
          "record --wav" + files, "record --cue " + dir.file("hundred.TVC")}) {
        SCOPED_TRACE(args.substr(0, 20));
        const CliRun r = cli(args, err);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(slurp(err).rfind(said, 0), 0u) << slurp(err);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.TVC")));
}

// Paths in a cue file are taken from its own folder: a list moved with its files loads.
TEST(FormatCommands, CueListMovedWithItsFilesLoads)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("moved"));
    WavFixture().withFrames(44100).write(dir.file("moved/a.wav"));
    const std::string text = "a.wav\r\n   PNo: 4\r\n";
    WavFixture::writeBytes(dir.file("moved/list.TVC"), {text.begin(), text.end()});
    const CliRun r = cli("cue show " + dir.file("moved/list.TVC"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("  4\t" + dir.file("moved/a.wav") + "\t", 0), 0u) << r.out;
}

// Every error exits non-zero; values stay inside the list's ranges; headers are shown as they
// are; no reader waits on a FIFO.
TEST(FormatCommands, ErrorsRangesAndNamesThatAreNotFiles)
{
    TempDir dir;
    const std::string err = dir.file("err.txt");
    WavFixture a;
    a.withFrames(44100);
    a.write(dir.file("a.wav"));
    WavFixture eight = a;
    eight.channels = 8;
    eight.write(dir.file("eight.wav"));
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    CliRun r = cli("wav info " + dir.file("eight.wav") + " " + dir.path().string() + " " + fifo);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, dir.file("eight.wav") +
                         "\t44100s/s 16bit 8ch\t176400\t00m00s\tcannot be played: 8 channels "
                         "(1 or 2 play)\n" +
                         dir.path().string() + "\tis a directory\n" + fifo +
                         "\tnot a regular file\n");

    // Numbering stops at 799; the next file gets no START ID.
    const std::string cue = dir.file("CUE.TVC");
    r = cli("cue make " + cue + " " + dir.file("a.wav") + " " + dir.file("a.wav") +
            " --pno-start 799");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.substr(0, 4), "799\t");
    EXPECT_NE(r.out.find("\n  0\t"), std::string::npos) << r.out;

    // A cue file naming a missing WAV, or a value out of range, leaves entries out: an error.
    const auto writeCue = [&](const std::string& name, const std::string& text) {
        WavFixture::writeBytes(dir.file(name), {text.begin(), text.end()});
        return dir.file(name);
    };
    r = cli("cue show " +
                writeCue("gone.TVC", dir.file("a.wav") + "\r\n" + dir.file("gone.wav") + "\r\n"),
            err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("\t" + dir.file("a.wav") + "\t", 0), 0u) << r.out; // the first entry
    EXPECT_NE(slurp(err).find("[file not found]"), std::string::npos);
    r = cli("cue show " + writeCue("pno.TVC", dir.file("a.wav") + "\r\n   PNo: 999\r\n" +
                                                  dir.file("a.wav") + "\r\n   PNo: 2\r\n"),
            err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("  2\t", 0), 0u) << r.out;
    EXPECT_NE(slurp(err).find("line 2: program number 999 is not 0-799"), std::string::npos);

    // A virtual ID file with a refused row: the rest is listed, the row named, the exit 1.
    r = cli("vid show " + writeCue("v.TVV", "   1 START   5  00h01m02s03     62\r\n"
                                            "   2 SKIP    4  00h02m00s00    120\r\n"),
            err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, " 1\t START\t   5\t 00h01m02s03\t    62\n");
    EXPECT_NE(slurp(err).find("line 2: refused: SKIP and END IDs carry no program number (4)"),
              std::string::npos);

    for (const char* command : {"cue show ", "vid show "}) {
        SCOPED_TRACE(command);
        r = cli(command + fifo, err);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(slurp(err), "Unable to open file.  (not a regular file)\n\n" + fifo + "\n");
    }
}

} // namespace
} // namespace tarnvel::record
