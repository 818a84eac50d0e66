#include "dat/SubcodeDump.h"
#include "formats/SampleImage.h"
#include "support/TempDir.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace tarnvel::formats {
namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
};

// Runs tarnvel-cli with `args`; stdout is captured, stderr goes to `errFile`.
CliRun runCli(const std::string& args, const std::string& errFile)
{
    CliRun r;
    // A reader that waits on a FIFO would hang the suite: give up after a while instead.
    const std::string cmd = "timeout 60 " + std::string(TARNVEL_CLI) + " " + args + " 2>" + errFile;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    std::size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ImageCli, InfoDumpAndFailures)
{
    test::TempDir dir;
    const std::string image = dir.file("demo.TVI");
    const std::string err = dir.file("err.txt");

    CliRun r = runCli("image make-sample " + image + " --frames 100", err);
    ASSERT_EQ(r.exitCode, 0) << slurp(err);

    r = runCli("image info " + image, err);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Frame: 100  00h00m03s00 ( 00h00m00s00 -  00h00m02s33)  Err: 0\n"
                     "Comment:\nTarnvel sample image\n");

    // Two dumps separated by a blank line, the same text the core builds.
    SampleTape tape(100);
    const std::string first = dat::buildSubcodeDump(tape.next());
    const std::string second = dat::buildSubcodeDump(tape.next());
    r = runCli("image dump " + image + " --count 2", err);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, first + "\n" + second);
    r = runCli("image dump " + image + " --frame 99 --count 5", err);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find("SubID", 1), std::string::npos); // only the last frame

    r = runCli("image dump " + image + " --frame 100", err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(slurp(err), "Frame 100 is beyond the end of the image (100 frames).\n");

    std::ofstream(image, std::ios::app) << 'x'; // one byte too long
    const std::string invalid = "Invalid format.\n\n" + image +
                                "\nThe header counts 100 frames, the file holds 100 whole frames "
                                "and 1 bytes of a partial frame.\nRewrite the header from the "
                                "whole frames with: tarnvel-cli image repair " +
                                image + "\n";
    r = runCli("image info " + image, err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(slurp(err), invalid);
    r = runCli("image dump " + image, err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(slurp(err), invalid);

    r = runCli("image info " + dir.file("missing.TVI"), err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(slurp(err), "Unable to open file.\n\n" + dir.file("missing.TVI") + "\n");
}

// An image cut short by a crash: info names the problem and the repair, repair makes it
// readable again; names that are not regular files are refused without waiting.
TEST(ImageCli, InfoExplainsAnInterruptedImageAndRepairFixesIt)
{
    test::TempDir dir;
    const std::string image = dir.file("cut.TVI");
    const std::string err = dir.file("err.txt");
    ASSERT_EQ(runCli("image make-sample " + image + " --frames 10", err).exitCode, 0);
    {
        // Two more frames and half of a third, as a writer killed before its next header
        // update leaves them.
        std::ofstream out(image, std::ios::binary | std::ios::app);
        const std::string more(2 * 5822 + 100, '\0');
        out.write(more.data(), static_cast<std::streamsize>(more.size()));
    }
    CliRun r = runCli("image info " + image, err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(slurp(err), "Invalid format.\n\n" + image +
                              "\nThe header counts 10 frames, the file holds 12 whole frames and "
                              "100 bytes of a partial frame.\n"
                              "Rewrite the header from the whole frames with: tarnvel-cli image "
                              "repair " +
                              image + "\n");

    r = runCli("image repair " + image, err);
    EXPECT_EQ(r.exitCode, 0) << slurp(err);
    EXPECT_EQ(r.out, "Header rewritten: 12 frames (it counted 10); 100 bytes of a partial frame "
                     "dropped.\n");
    r = runCli("image info " + image, err);
    EXPECT_EQ(r.exitCode, 0) << slurp(err);
    EXPECT_EQ(r.out.rfind("Frame: 12 ", 0), 0u) << r.out;
    r = runCli("image repair " + image, err);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "The header matches the frames; nothing to repair.\n");

    const std::string fifo = dir.file("fifo.TVI");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char* command : {"image info ", "image dump ", "image repair "}) {
        SCOPED_TRACE(command);
        r = runCli(command + fifo, err);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(slurp(err).find("Unable to open file.  (not a regular file)\n\n" + fifo),
                  std::string::npos)
            << slurp(err);
    }
}

} // namespace
} // namespace tarnvel::formats
