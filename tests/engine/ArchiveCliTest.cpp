#include "DeckFixture.h"
#include "formats/Sha256.h"
#include "formats/WaveFileReader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The archivist's commands as a user runs them: archive, verify, image create, play.
namespace tarnvel::engine::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ArchiveCommandLine : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;

    void SetUp() override
    {
        std::string error;
        auto c = sim::Cassette::create(dir.file("tape.tvs"), 2, error);
        ASSERT_TRUE(c) << error;
        TapeBuilder b(*c);
        b.start(1);
        b.frames(400);
        b.start(2);
        b.frames(400);
        ASSERT_TRUE(c->addFault({450, 452, sim::FaultKind::Left}, error));
    }
    // Runs the program in `where` (the test folder by default); returns its exit code.
    int run(const std::string& arguments, const fs::path& where = {})
    {
        const fs::path cwd = where.empty() ? dir.path() : where;
        const std::string command = "cd '" + cwd.string() + "' && '" TARNVEL_CLI "' " + arguments +
                                    " >'" + dir.file("out.txt") + "' 2>'" + dir.file("err.txt") +
                                    "'";
        const int status = std::system(command.c_str());
        out = readFile(dir.file("out.txt"));
        err = readFile(dir.file("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out, err;
};

TEST_F(ArchiveCommandLine, AnArchiveVerifiesAndEveryKindOfDamageIsFound)
{
    fs::create_directories(dir.path() / "disc");
    // A relative base is taken from the current folder.
    ASSERT_EQ(run("--drive sim:../tape.tvs archive take", dir.path() / "disc"), 0) << err << out;
    const fs::path d = dir.path() / "disc";
    ASSERT_TRUE(fs::exists(d / "take01.WAV")) << out;
    ASSERT_TRUE(fs::exists(d / "take02.WAV"));
    ASSERT_TRUE(fs::exists(d / "take.TVC"));
    ASSERT_TRUE(fs::exists(d / "take.log"));
    EXPECT_NE(out.find("2 files"), std::string::npos) << out;
    EXPECT_NE(out.find("3 error frames"), std::string::npos) << out;
    const std::string report = readFile(d / "take.log");
    EXPECT_NE(report.find("Errors at: 00h00m13s17 L 00h00m13s18 L 00h00m13s19 L"),
              std::string::npos)
        << report;
    // Every setting that changes what the files hold; names relative to the report's folder.
    EXPECT_NE(report.find(" EnableSkipPlay=0 "), std::string::npos) << report;
    EXPECT_NE(report.find("\nFile: take01.WAV\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\nWritten in: " + d.string() + "\n"), std::string::npos) << report;

    ASSERT_EQ(run("verify take.log", d), 0) << out << err;
    EXPECT_NE(out.find("OK       " + (d / "take01.WAV").string()), std::string::npos) << out;

    // One sample changed.
    {
        formats::WaveFileReader r;
        ASSERT_TRUE(r.readHeader((d / "take02.WAV").string()));
        const auto at = static_cast<std::streamoff>(r.dataOffset() + 1000);
        r.close();
        std::fstream f(d / "take02.WAV", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        f.put('\x55');
    }
    EXPECT_EQ(run("verify take.log", d), 1);
    EXPECT_NE(out.find("MISMATCH " + (d / "take02.WAV").string()), std::string::npos) << out;
    EXPECT_NE(out.find("OK       report"), std::string::npos);

    // A missing file.
    fs::remove(d / "take01.WAV");
    EXPECT_EQ(run("verify take.log", d), 1);
    EXPECT_NE(out.find("MISSING  " + (d / "take01.WAV").string()), std::string::npos) << out;

    // An edited report.
    std::string edited = report;
    edited.replace(edited.find("L 3"), 3, "L 0");
    std::ofstream(d / "take.log", std::ios::binary) << edited;
    EXPECT_EQ(run("verify take.log", d), 1);
    EXPECT_NE(out.find("EDITED   report"), std::string::npos) << out;
}

// An archive is checked where it lies now: a copy's damage is found in the copy, a changed
// header counts, reports written before the whole-file hash still verify, and a report that is
// no report is refused without waiting or filling the memory.
TEST_F(ArchiveCommandLine, VerifyChecksTheFilesBesideTheReport)
{
    fs::create_directories(dir.path() / "disc");
    const fs::path d = dir.path() / "disc";
    ASSERT_EQ(run("--drive sim:../tape.tvs archive take", d), 0) << err;
    const fs::path copy = dir.path() / "copy";
    fs::copy(d, copy);
    const auto flip = [](const fs::path& file, std::streamoff at, char value) {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        f.put(value);
    };
    flip(copy / "take02.WAV", 44 + 1000, '\x55');
    fs::remove(copy / "take01.WAV");
    EXPECT_EQ(run("verify copy/take.log"), 1);
    EXPECT_NE(out.find("MISSING  " + (copy / "take01.WAV").string() + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("MISMATCH " + (copy / "take02.WAV").string() + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("OK       report"), std::string::npos) << out;
    // The original is untouched.
    EXPECT_EQ(run("verify disc/take.log"), 0) << out;

    // 48000 Hz becomes 44100 Hz in the header: the samples are the same, the file is not.
    fs::copy_file(d / "take01.WAV", copy / "take01.WAV");
    flip(copy / "take01.WAV", 24, '\x44');
    flip(copy / "take01.WAV", 25, '\xAC');
    EXPECT_EQ(run("verify copy/take.log"), 1);
    EXPECT_NE(out.find("MISMATCH " + (copy / "take01.WAV").string() +
                       "  (the audio data is unchanged; the header differs)"),
              std::string::npos)
        << out;

    // A report of the earlier form (absolute names, only the audio-data hash) checks the files
    // beside it too.
    std::string old;
    {
        std::istringstream lines(readFile(d / "take.log"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("  SHA-256 of the file: ", 0) == 0 ||
                line.rfind("Written in: ", 0) == 0 || line.rfind("Report SHA-256: ", 0) == 0)
                continue;
            if (line.rfind("File: ", 0) == 0)
                line = "File: " + (d / line.substr(6)).string();
            old += line + "\n";
        }
        old += "Report SHA-256: " + formats::Sha256::hex(old.data(), old.size()) + "\n";
    }
    const fs::path earlier = dir.path() / "earlier";
    fs::create_directories(earlier);
    std::ofstream(earlier / "take.log", std::ios::binary) << old;
    fs::copy_file(d / "take01.WAV", earlier / "take01.WAV");
    EXPECT_EQ(run("verify earlier/take.log"), 1);
    EXPECT_NE(out.find("OK       " + (earlier / "take01.WAV").string() + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("MISSING  " + (earlier / "take02.WAV").string() + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("OK       report"), std::string::npos) << out;
    fs::copy_file(d / "take02.WAV", earlier / "take02.WAV");
    EXPECT_EQ(run("verify earlier/take.log"), 0) << out;

    // A FIFO is refused at once; a huge report is read in bounded memory.
    ASSERT_EQ(::mkfifo(dir.file("fifo.log").c_str(), 0600), 0);
    EXPECT_EQ(run("verify fifo.log"), 1);
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    {
        std::ofstream(dir.file("huge.log"), std::ios::binary) << "Tarnvel archive report\nFile: ";
        fs::resize_file(dir.file("huge.log"), 192u << 20); // one line of 192 MiB (sparse)
    }
    EXPECT_EQ(run("verify huge.log"), 1);
    EXPECT_NE(out.find("EDITED   report"), std::string::npos) << out;
    // Against a small report's peak, so that a sanitizer's own overhead does not count: a
    // report read whole would add its 192 MiB.
    const auto peakKiB = [&](const std::string& report) {
        const std::string rssFile = dir.file("rss.txt");
        EXPECT_NE(std::system(("/usr/bin/time -f 'peak %M' -o '" + rssFile +
                               "' '" TARNVEL_CLI "' verify '" + report + "' >/dev/null 2>&1")
                                  .c_str()),
                  -1);
        const std::string rss = readFile(rssFile);
        EXPECT_NE(rss.find("peak "), std::string::npos) << rss;
        return rss.find("peak ") == std::string::npos
                   ? 0L
                   : std::stol(rss.substr(rss.find("peak ") + 5));
    };
    const long small = peakKiB((earlier / "take.log").string());
    EXPECT_LT(peakKiB(dir.file("huge.log")) - small, 64L * 1024) << "kilobytes above " << small;
}

TEST_F(ArchiveCommandLine, BroadcastWaveFilesAreReadByOtherTools)
{
    ASSERT_EQ(run("--drive sim:tape.tvs archive bwf --bwf --no-report --label 'Box 7'"), 0) << err;
    const std::string wav = dir.file("bwf01.WAV");
    const std::string body = readFile(wav);
    ASSERT_GT(body.size(), 100u);
    EXPECT_EQ(body.substr(36, 4), "bext");
    // The chunk read by hand: the description, and the coding history's rows (the drive that
    // played the tape, then this program's transfer).
    {
        const std::size_t size = static_cast<unsigned char>(body[40]) |
                                 static_cast<unsigned char>(body[41]) << 8 |
                                 static_cast<unsigned char>(body[42]) << 16;
        ASSERT_GT(size, 602u);
        ASSERT_LT(44 + size, body.size());
        const std::string description = body.substr(44, body.find('\0', 44) - 44);
        EXPECT_EQ(description, "DAT transfer of Box 7, PNo 1, error frames L 0 R 0 ABS 0");
        std::vector<std::string> rows;
        const std::string history = body.substr(44 + 602, size - 602);
        for (std::size_t at = 0; at < history.size() && history[at] != '\0';) {
            const std::size_t end = history.find("\r\n", at);
            ASSERT_NE(end, std::string::npos) << history;
            rows.push_back(history.substr(at, end - at));
            at = end + 2;
        }
        EXPECT_EQ(rows,
                  (std::vector<std::string>{"A=PCM,F=48000,W=16,M=stereo,T=DAT SIMULATOR 1.00",
                                            "A=PCM,F=48000,W=16,M=stereo,T=Tarnvel 0.1.0"}));
    }
    formats::WaveFileReader r;
    ASSERT_TRUE(r.readHeader(wav)) << r.errorText();
    EXPECT_EQ(r.dataLength(), 400u * dat::kAudioBytes);
    if (std::system("command -v soxi >/dev/null 2>&1") == 0) {
        ASSERT_EQ(std::system(("soxi -s '" + wav + "' >'" + dir.file("soxi.txt") + "'").c_str()),
                  0);
        EXPECT_EQ(std::stoul(readFile(dir.file("soxi.txt"))), 400u * 1440u);
    }
    if (std::system("command -v sndfile-metadata-get >/dev/null 2>&1") == 0) {
        ASSERT_EQ(std::system(("sndfile-metadata-get --bext-description --bext-originator "
                               "--bext-coding-hist '" +
                               wav + "' >'" + dir.file("info.txt") + "'")
                                  .c_str()),
                  0);
        const std::string info = readFile(dir.file("info.txt"));
        EXPECT_NE(info.find("Originator             : Tarnvel"), std::string::npos) << info;
        EXPECT_NE(info.find("Box 7, PNo 1, error frames L 0 R 0 ABS 0"), std::string::npos) << info;
        EXPECT_NE(info.find("A=PCM,F=48000,W=16,M=stereo,T=DAT"), std::string::npos) << info;
    }
}

TEST_F(ArchiveCommandLine, AFullDiskLeavesCompleteListedFilesAndSaysSo)
{
    const fs::path small = dir.path() / "small";
    fs::create_directories(small);
    // Room for the first program and part of the second.
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=3500k") != 0)
        GTEST_SKIP() << "no tmpfs to fill here (needs root)";
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{small};
    EXPECT_EQ(run("--drive sim:../tape.tvs archive full", small), 1);
    EXPECT_NE(err.find("full"), std::string::npos) << err;
    // The report says why the run stopped, or is not there at all (never a truncated one).
    if (fs::exists(small / "full.log")) {
        const std::string report = readFile(small / "full.log");
        const auto at = report.find("\nOutcome: stopped by an error: ");
        ASSERT_NE(at, std::string::npos) << report;
        EXPECT_NE(report[at + 31], '\n') << report;
        EXPECT_NE(report.find("Report SHA-256: "), std::string::npos) << report;
    }
    for (const auto& e : fs::directory_iterator(small))
        EXPECT_EQ(e.path().filename().string().find(".partial-"), std::string::npos) << e.path();
    // The first file is whole and listed; the cue list holds what was written.
    formats::WaveFileReader r;
    ASSERT_TRUE(r.readHeader((small / "full01.WAV").string())) << r.errorText();
    EXPECT_EQ(r.dataLength(), 400u * dat::kAudioBytes);
    const std::string cue = readFile(small / "full.TVC");
    EXPECT_NE(cue.find("full01.WAV"), std::string::npos) << cue;
    // What the second file holds matches its header.
    if (fs::exists(small / "full02.WAV")) {
        formats::WaveFileReader r2;
        ASSERT_TRUE(r2.readHeader((small / "full02.WAV").string())) << r2.errorText();
        EXPECT_EQ(r2.dataLength() + r2.dataOffset(), fs::file_size(small / "full02.WAV"));
    }
}

TEST_F(ArchiveCommandLine, PlayingReportsHowItEnded)
{
    EXPECT_EQ(run("--drive sim:tape.tvs play --fast"), 0) << err;
    EXPECT_NE(out.find(" [Play]"), std::string::npos) << out;
    EXPECT_NE(err.find(" End of Tape"), std::string::npos) << err;
    // The tape stays at its end for the next run: play again from the beginning.
    ASSERT_EQ(run("--drive sim:tape.tvs rewind"), 0) << err;
    EXPECT_EQ(run("--drive sim:tape.tvs play --fast --set ErrorStopCounter=2"), 1);
    EXPECT_NE(err.find(" error frames exceed limit. (L)"), std::string::npos) << err;
    EXPECT_EQ(run("--drive sim:tape.tvs play --fast --set ErrorStopCounter=abc"), 2);
    EXPECT_EQ(run("--drive sim:tape.tvs search --pno 7"), 1);
    EXPECT_NE(err.find("Program number 7 not found."), std::string::npos) << err;
}

// A search that finds nothing says so, as the tape stands after each step.
TEST_F(ArchiveCommandLine, SearchesThatFindNothingSaySo)
{
    std::string error;
    auto c = sim::Cassette::create(dir.file("ended.tvs"), 2, error);
    ASSERT_TRUE(c) << error;
    {
        TapeBuilder b(*c);
        b.start(1);
        b.frames(400);
        b.start(2);
        b.frames(400);
        b.end();
        b.frames(300);
    }
    c.reset();
    const struct {
        const char* args;
        int exitCode;
        const char* said; // on stderr; nullptr: nothing
    } steps[] = {
        {"search --pno 2", 0, nullptr},
        {"next", 1, "Program number 3 not found."},
        {"search --pno 1", 0, nullptr},
        {"prev", 1, "There is no program number before this one."},
        {"search --abs 00:10:00:00", 1, "ABS time not found."},
        {"ff", 0, nullptr},
        {"next", 1, "There is no program number after this one."}, // from the END area
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args);
        EXPECT_EQ(run(std::string("--drive sim:ended.tvs ") + step.args), step.exitCode) << err;
        if (step.said != nullptr)
            EXPECT_NE(err.find(std::string(step.said) + "\n"), std::string::npos) << err;
        else
            EXPECT_EQ(err, "");
    }
}

// A 24-bit tape read with the extended format off gives high-rate 16-bit files: the archive
// says so and how to archive it.
TEST_F(ArchiveCommandLine, TwentyFourBitPairsReadAsSixteenBitAreNamed)
{
    std::string error;
    auto c = sim::Cassette::create(dir.file("t24.tvs"), 2, error);
    ASSERT_TRUE(c) << error;
    {
        TapeBuilder b(*c, 96000);
        b.start(1);
        for (int i = 0; i < 200; ++i) {
            b.frame24(i, true);
            b.frame24(i, false);
        }
    }
    c.reset();
    const std::string warning = "Warning: the tape holds 24-bit frame pairs";
    EXPECT_EQ(run("--drive sim:t24.tvs archive a --set ExtendedFormatMode=0"), 0) << err;
    EXPECT_NE(err.find(warning), std::string::npos) << err;
    EXPECT_NE(err.find("--set ExtendedFormatMode=1"), std::string::npos) << err;
    EXPECT_EQ(run("--drive sim:t24.tvs archive b --set ExtendedFormatMode=1"), 0) << err;
    EXPECT_EQ(err.find(warning), std::string::npos) << err;
    // The 16-bit tape of the fixture is no such tape.
    EXPECT_EQ(run("--drive sim:tape.tvs archive c"), 0) << err;
    EXPECT_EQ(err.find(warning), std::string::npos) << err;
    EXPECT_EQ(run("archive --help"), 0);
    EXPECT_NE(out.find("ExtendedFormatMode=1"), std::string::npos) << out;
}

} // namespace
} // namespace tarnvel::engine::test
