#include "engine/ArchiveReport.h"

#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnvel::engine::test {
namespace {

namespace fs = std::filesystem;

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The report replaces an earlier one only once it is complete: a full disk (here the process's
// file-size limit) or a name that is not a regular file leaves what was there.
TEST(ArchiveReport, IsWrittenWholeOrNotAtAll)
{
    tarnvel::test::TempDir dir;
    const std::string wav = dir.file("take01.WAV");
    tarnvel::test::WavFixture().withFrames(4410).write(wav);
    WrittenFile file;
    file.name = wav;
    file.parts = {wav};
    file.programText = "1";
    file.frames = 3;
    ArchiveRun run;
    run.program = "Tarnvel";
    run.cueFile = dir.file("take.TVC");
    const std::string report = dir.file("take.log");
    std::ofstream(report) << "the earlier report";

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200, 200};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool written = writeArchiveReport(report, run, {file}, error);
        _exit(written ? 10 : error.find("File too large") == std::string::npos ? 11 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readText(report), "the earlier report");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"take.log", "take01.WAV"}));

    const std::string fifo = dir.file("fifo.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(writeArchiveReport(fifo, run, {file}, error));
    EXPECT_EQ(error, fifo + ": not a regular file");
    EXPECT_TRUE(fs::is_fifo(fifo));

    ASSERT_TRUE(writeArchiveReport(report, run, {file}, error)) << error;
    std::vector<VerifiedFile> checked;
    const ArchiveVerification v = verifyArchiveReport(
        report, [&](const VerifiedFile& f) { checked.push_back(f); }, error);
    EXPECT_TRUE(v.allGood()) << error;
    ASSERT_EQ(checked.size(), 1u);
    EXPECT_EQ(checked[0].name, wav);
}

} // namespace
} // namespace tarnvel::engine::test
