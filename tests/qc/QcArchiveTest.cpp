#include "PngImage.h"
#include "qc/QualityCheck.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>

// The quality check as an archivist meets it: the demo tape archived with its page, checked
// against the cue list and against an independent loudness meter; the page made again later.
namespace tarnvel::qc {
namespace {

namespace fs = std::filesystem;
using qc::test::PngImage;
using tarnvel::test::TempDir;

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// One entry of the cue list: where its file starts, its frames and its error frames.
struct CueEntry {
    std::string path;
    int start = 0;
    int frames = 0;
    std::vector<ErrorMark> errors;
};

std::vector<CueEntry> readCue(const fs::path& path)
{
    std::vector<CueEntry> entries;
    std::istringstream in(readText(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(";; Err:", 0) == 0) {
            std::istringstream words(line.substr(7));
            std::string time, channels;
            while (words >> time >> channels) {
                ErrorMark e;
                EXPECT_TRUE(parseAbsText(time, e.abs)) << line;
                e.left = channels.find('L') != std::string::npos;
                e.right = channels.find('R') != std::string::npos;
                entries.back().errors.push_back(e);
            }
        } else if (line.rfind("; ", 0) == 0 && !entries.empty()) {
            EXPECT_TRUE(parseAbsText(line.substr(1), entries.back().start)) << line;
        } else if (line.rfind("   Frame: ", 0) == 0) {
            entries.back().frames = std::stoi(line.substr(10));
        } else if (line.rfind("/", 0) == 0) {
            entries.push_back({line, 0, 0, {}});
        }
    }
    return entries;
}

class QcArchive : public ::testing::Test {
protected:
    TempDir dir;

    int run(const std::string& arguments)
    {
        const std::string command = "cd '" + dir.path().string() + "' && '" TARNVEL_CLI "' " +
                                    arguments + " >'" + dir.file("out.txt") + "' 2>'" +
                                    dir.file("err.txt") + "'";
        const int status = std::system(command.c_str());
        out = readText(dir.file("out.txt"));
        err = readText(dir.file("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void SetUp() override { ASSERT_EQ(run("sim demo demo.tvs"), 0) << err; }
    std::string out, err;
};

TEST_F(QcArchive, TheDemoTapesPageShowsEveryFileWithItsErrorsWhereTheCueListSays)
{
    ASSERT_EQ(run("--drive sim:demo.tvs archive tape --preread 3"), 0) << err << out;
    const std::string page = readText(dir.path() / "tape.html");
    const std::vector<CueEntry> cue = readCue(dir.path() / "tape.TVC");
    ASSERT_EQ(cue.size(), 4u); // the lead-in and three programs
    EXPECT_EQ(count(page, "-wave.png\""), cue.size());
    EXPECT_EQ(count(page, "-spectrum.png\""), cue.size());
    EXPECT_EQ(count(page, "class=\"skip\""), 1u); // the SKIP ID in program 2
    EXPECT_EQ(count(page, "class=\"start\""), 3u);

    const WaveLayout layout;
    std::size_t marks = 0;
    for (std::size_t i = 0; i < cue.size(); ++i) {
        const CueEntry& e = cue[i];
        SCOPED_TRACE(e.path);
        const PngImage png(
            (dir.path() / "tape.qc" / (std::to_string(100 + i + 1).substr(1) + "-wave.png"))
                .string());
        ASSERT_TRUE(png.ok());
        const auto column = [&](double abs) {
            return static_cast<int>((abs - e.start) / e.frames * layout.width);
        };
        for (int c = 0; c < 2; ++c) {
            const int y = layout.markerTop(c) + layout.markerRow / 2;
            const std::uint32_t colour = channelColour(c, 2);
            // Every error frame of the channel is marked at its place...
            for (const ErrorMark& m : e.errors) {
                if (c == 0 ? m.left : m.right) {
                    EXPECT_EQ(png.at(column(m.abs + 0.5), y), colour) << m.abs;
                    ++marks;
                }
            }
            // ... and nothing else is.
            for (int x = 0; x < png.width(); ++x) {
                if (png.at(x, y) != colour)
                    continue;
                bool expected = false;
                for (const ErrorMark& m : e.errors)
                    expected = expected || ((c == 0 ? m.left : m.right) && x >= column(m.abs) - 1 &&
                                            x <= column(m.abs + 1) + 2);
                EXPECT_TRUE(expected) << "a mark at column " << x << " of channel " << c;
            }
        }
    }
    EXPECT_EQ(marks, 1u + 2u + 6u); // L; R R; LR LR LR

    // The figures are in the report too, and the report still verifies.
    const std::string report = readText(dir.path() / "tape.log");
    EXPECT_EQ(count(report, "  Loudness: "), cue.size());
    EXPECT_NE(report.find("  IDs: START 2 at 00h00m22s00, SKIP at 00h00m34s00"), std::string::npos)
        << report;
    EXPECT_EQ(run("verify tape.log"), 0) << out;
}

// The last value of a key in ffmpeg's metadata log.
double lastValue(const std::string& log, const std::string& key)
{
    const auto at = log.rfind(key + "=");
    return at == std::string::npos ? NAN : std::stod(log.substr(at + key.size() + 1));
}

TEST_F(QcArchive, LoudnessAndTruePeakAgreeWithAnIndependentMeter)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed (tools/setup.sh installs it)";
    ASSERT_EQ(run("--drive sim:demo.tvs archive tape --no-qc"), 0) << err;
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().extension() != ".WAV")
            continue;
        const std::string wav = entry.path().string();
        const FileAnalysis ours = analyseWaveFiles({wav});
        ASSERT_TRUE(ours.ok) << ours.error;
        if (ours.figures.loudness < -70)
            continue; // the silent lead-in: no loudness to compare
        const std::string command =
            "ffmpeg -hide_banner -nostats -loglevel error -y -i '" + wav +
            "' -af ebur128=peak=true:metadata=1,ametadata=mode=print:file='" +
            dir.file("meter.txt") + "' -f null - 2>'" + dir.file("ffmpeg.txt") + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << readText(dir.file("ffmpeg.txt"));
        const std::string log = readText(dir.file("meter.txt"));
        const double loudness = lastValue(log, "lavfi.r128.I");
        EXPECT_NEAR(ours.figures.loudness, loudness, 0.1) << wav;
        for (int c = 0; c < 2; ++c) {
            const double peak =
                20 * std::log10(lastValue(log, "lavfi.r128.true_peaks_ch" + std::to_string(c)));
            const double mine =
                20 * std::log10(ours.figures.channels[static_cast<std::size_t>(c)].truePeak);
            EXPECT_NEAR(mine, peak, 0.1) << wav << " channel " << c;
            std::cout << entry.path().filename().string() << " channel " << c << ": true peak "
                      << mine << " dBTP, ffmpeg " << peak << "\n";
        }
        std::cout << entry.path().filename().string() << ": " << ours.figures.loudness
                  << " LUFS, ffmpeg " << loudness << "\n";
        ++compared;
    }
    EXPECT_EQ(compared, 3);
}

TEST_F(QcArchive, ThePageIsMadeAgainFromAnArchiveWithoutOne)
{
    ASSERT_EQ(run("--drive sim:demo.tvs archive tape --no-qc"), 0) << err;
    EXPECT_FALSE(fs::exists(dir.path() / "tape.html"));
    EXPECT_FALSE(fs::exists(dir.path() / "tape.qc"));
    const std::string report = readText(dir.path() / "tape.log");
    EXPECT_EQ(report.find("Loudness"), std::string::npos);
    EXPECT_NE(report.find("  IDs: START 1"), std::string::npos); // for a later page

    ASSERT_EQ(run("qc tape.log --label 'T017 <Live>'"), 0) << err << out;
    const std::string page = readText(dir.path() / "tape.html");
    EXPECT_NE(page.find("<h1>T017 &lt;Live&gt;</h1>"), std::string::npos);
    EXPECT_EQ(count(page, "-wave.png\""), 4u);
    EXPECT_NE(out.find("-17.8 LUFS"), std::string::npos) << out;
    EXPECT_NE(page.find("SKIP at 00h00m34s00"), std::string::npos);

    // A file gone: the page says so for that file, and the command fails.
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("tape02", 0) == 0)
            fs::remove(entry.path());
    EXPECT_EQ(run("qc tape.log"), 1);
    EXPECT_NE(readText(dir.path() / "tape.html").find("Not measured"), std::string::npos);
    EXPECT_EQ(count(readText(dir.path() / "tape.html"), "-wave.png\""), 3u);

    EXPECT_EQ(run("qc out.txt"), 1);
    EXPECT_NE(err.find("not an archive report"), std::string::npos) << err;
}

} // namespace
} // namespace tarnvel::qc
