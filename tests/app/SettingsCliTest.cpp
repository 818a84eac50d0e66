#include "support/TempDir.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace tarnvel::app {
namespace {

// Runs the command-line program and returns what it printed (stdout, then stderr).
std::string run(const std::string& args, int& exitCode)
{
    // A reader that waits on a FIFO would hang the suite: give up after a while instead.
    const std::string command = "timeout 60 " + std::string(TARNVEL_CLI) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe == nullptr)
        return out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        out.append(buf.data(), n);
    const int status = pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST(SettingsCliTest, ShowPrintsEffectiveValuesAndTheColourMessage)
{
    test::TempDir dir;
    std::ofstream(dir.file("TV.INI")) << "[Setting0]\nPlayBufFrames=33\n[ColorSet]\n"
                                         "PosMeterBackColor=zz\n";
    int code = -1;
    const std::string out = run("settings show --ini " + dir.file("TV.INI"), code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("Illegal hex value found in TV.INI.\nIt has processed as default value."
                       "\n\n zz\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[Setting0]\n"), std::string::npos);
    EXPECT_NE(out.find("\nPlayBufFrames=34"), std::string::npos);
    EXPECT_NE(out.find("\nPosMeterBackColor=0x8000000F\n"), std::string::npos);
    EXPECT_NE(out.find("\nEnglishMode=-1"), std::string::npos);
    EXPECT_NE(out.find("[Linux]\nSimulatedDrive=1\n"), std::string::npos);
}

// A settings file named on the command line must exist and be readable; the defaults are
// not shown in its place, and a FIFO is not waited on.
TEST(SettingsCliTest, ShowFailsForAFileThatCannotBeRead)
{
    test::TempDir dir;
    const std::string fifo = dir.file("fifo.INI");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string output;
    } cases[] = {
        {dir.file("missing.INI"),
         "The settings file does not exist:\n\n" + dir.file("missing.INI") + "\n"},
        {fifo, "Unable to read the settings file:\n\n" + fifo + "\nnot a regular file\n"},
        {dir.path().string(),
         "Unable to read the settings file:\n\n" + dir.path().string() + "\nis a directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        int code = -1;
        EXPECT_EQ(run("settings show --ini " + c.path, code), c.output);
        EXPECT_EQ(code, 1);
    }
}

TEST(SettingsCliTest, PathNamesBothInstanceFiles)
{
    int code = -1;
    const std::string out = run("settings path", code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("instance 1: "), std::string::npos) << out;
    EXPECT_NE(out.find("/TV.INI"), std::string::npos);
    EXPECT_NE(out.find("instance 2: "), std::string::npos);
    EXPECT_NE(out.find("/TV_2.INI"), std::string::npos);
}

} // namespace
} // namespace tarnvel::app
