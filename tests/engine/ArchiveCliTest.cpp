#include "DeckFixture.h"
#include "formats/WaveFileReader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>

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

TEST_F(ArchiveCommandLine, BroadcastWaveFilesAreReadByOtherTools)
{
    ASSERT_EQ(run("--drive sim:tape.tvs archive bwf --bwf --no-report"), 0) << err;
    const std::string wav = dir.file("bwf01.WAV");
    const std::string body = readFile(wav);
    ASSERT_GT(body.size(), 100u);
    EXPECT_EQ(body.substr(36, 4), "bext");
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
        EXPECT_NE(info.find("PNo 1, error frames L 0 R 0 ABS 0"), std::string::npos) << info;
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
    EXPECT_EQ(run("--drive sim:../tape.tvs archive full --no-report", small), 1);
    EXPECT_NE(err.find("full"), std::string::npos) << err;
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
    EXPECT_NE(err.find("PNo 7 not found."), std::string::npos) << err;
}

} // namespace
} // namespace tarnvel::engine::test
