#include "cli/CliRunner.h"
#include "sim/DemoTape.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

// `drive-check`, `--log-full` and `--drive replay:` as a user runs them (the TARNVEL_CLI program).
namespace tarnvel::diag {
namespace {

namespace fs = std::filesystem;
using cli::test::runCli;
using cli::test::slurp;

bool contains(const std::string& text, const std::string& what)
{
    return text.find(what) != std::string::npos;
}

// A text without the lines that start with one of `prefixes`.
std::string withoutLines(const std::string& text, const std::vector<std::string>& prefixes)
{
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        const std::string line = text.substr(at, nl - at);
        if (std::none_of(prefixes.begin(), prefixes.end(),
                         [&](const std::string& p) { return line.rfind(p, 0) == 0; }))
            out += line + "\n";
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    return out;
}

class DriveCheckCommand : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(sim::createDemoCassette(dir.file("demo.tvs"), error)) << error;
    }
};

TEST_F(DriveCheckCommand, ChecksTheSimulatedDriveAndLeavesItInDataMode)
{
    const cli::test::CliResult r =
        runCli(dir, {"--drive", "sim:demo.tvs", "--log-full", "drive-check"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, " 1. PASS  Device\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "16. PASS  Data mode restored\n"));
    EXPECT_FALSE(contains(r.out, "FAIL"));
    EXPECT_TRUE(contains(r.out, "Result: 16 passed, 0 failed, 0 skipped"));
    std::string report;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("drive-check-", 0) == 0)
            report = e.path().string();
    ASSERT_FALSE(report.empty()) << r.out;
    EXPECT_TRUE(contains(r.out, "Report: " + fs::path(report).filename().string()));
    EXPECT_TRUE(contains(slurp(report), "==== Command exchange ===="));
    // The command log ends with the mode select of the data density.
    const std::string log = slurp(dir.file("TVDAT.LOG"));
    const std::size_t last = log.rfind("CDB: 15 00 00 00 0C 00\nData out: 12 bytes\n");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(log.substr(last + 42, 42), "  0000 00 00 00 08 00 00 00 00 00 00 02 00");
    EXPECT_EQ(log.find("CDB: ", last + 1), std::string::npos);

    // A second check the same day does not replace the first report.
    const cli::test::CliResult again =
        runCli(dir, {"--drive", "sim:demo.tvs", "drive-check", "--write"});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_TRUE(contains(again.err, "--write records on the tape in the drive: give --yes"));
}

TEST_F(DriveCheckCommand, NoDriveIsSaidPlainly)
{
    if (fs::exists("/sys/class/scsi_tape") && !fs::is_empty("/sys/class/scsi_tape"))
        GTEST_SKIP() << "this machine has a tape drive";
    const cli::test::CliResult r = runCli(dir, {"drive-check", "--report", "none.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.out, " 1. FAIL  Device\n          No tape drive was found.\n"))
        << r.out << r.err;
    EXPECT_TRUE(contains(slurp(dir.file("none.txt")), "Result: 0 passed, 1 failed, 15 skipped"));
}

TEST_F(DriveCheckCommand, AnArchiveReplayedFromItsLogGivesTheSameFiles)
{
    // The live run, then its files moved aside so that the replay writes the same names. No
    // quality-control page: it carries the run's times.
    const cli::test::CliResult live =
        runCli(dir, {"--drive", "sim:demo.tvs", "--log-full", "archive", "take", "--no-qc"});
    ASSERT_EQ(live.exitCode, 0) << live.out << live.err;
    const fs::path first = dir.path() / "live";
    fs::create_directories(first);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("take", 0) == 0) {
            names.push_back(e.path().filename().string());
            fs::rename(e.path(), first / e.path().filename());
        }
    ASSERT_GE(names.size(), 5u); // four WAV files, the cue list, the report
    const cli::test::CliResult replay =
        runCli(dir, {"--drive", "replay:TVDAT.LOG", "--fast-replay", "archive", "take", "--no-qc"});
    ASSERT_EQ(replay.exitCode, 0) << replay.out << replay.err;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string a = slurp((first / name).string());
        const std::string b = slurp(dir.file(name));
        if (name == "take.log") { // the archive report: its times (and own hash) differ
            const std::vector<std::string> times{"Started:", "Ended:", "Report SHA-256:"};
            EXPECT_EQ(withoutLines(b, times), withoutLines(a, times));
            EXPECT_TRUE(contains(b, "SHA-256 of the audio data"));
        } else if (name == "take.json") { // its start and end times differ too
            const std::vector<std::string> times{"  \"started\":", "  \"ended\":"};
            EXPECT_EQ(withoutLines(b, times), withoutLines(a, times));
        } else {
            EXPECT_TRUE(a == b);
        }
    }

    // An edited CDB stops the replay.
    std::string log = slurp(dir.file("TVDAT.LOG"));
    const std::size_t frame = log.find("CDB: 08 00 00 16 BE 00");
    ASSERT_NE(frame, std::string::npos);
    log.replace(frame, 22, "CDB: 08 00 00 16 BF 00");
    std::ofstream(dir.file("edited.log"), std::ios::binary) << log;
    fs::create_directories(dir.path() / "edited");
    const cli::test::CliResult edited =
        runCli(dir, {"--drive", "replay:edited.log", "--fast-replay", "archive", "edited/take"});
    EXPECT_NE(edited.exitCode, 0);
    EXPECT_TRUE(contains(edited.err, "Replay differs at command "));
    EXPECT_TRUE(
        contains(edited.err, ": sent CDB 08 00 00 16 BE 00, recorded CDB 08 00 00 16 BF 00"))
        << edited.err;
}

} // namespace
} // namespace tarnvel::diag
