#include "PngImage.h"
#include "qc/QualityCheck.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

// The pictures and the page, read back: marks where the archive says, axes, and a page that
// stays whole whatever the names hold.
namespace tarnvel::qc {
namespace {

namespace fs = std::filesystem;
using qc::test::PngImage;
using tarnvel::test::TempDir;

WaveOverview flatOverview(int columns)
{
    WaveOverview o;
    o.columns = columns;
    o.channels = 2;
    o.minimum.assign(static_cast<std::size_t>(columns) * 2, -0.1f);
    o.maximum.assign(static_cast<std::size_t>(columns) * 2, 0.1f);
    return o;
}

// The columns of a marker row that show `colour`.
std::set<int> columnsOf(const PngImage& png, int y, std::uint32_t colour)
{
    std::set<int> xs;
    for (int x = 0; x < png.width(); ++x)
        if (png.at(x, y) == colour)
            xs.insert(x);
    return xs;
}

std::set<int> range(int from, int to)
{
    std::set<int> xs;
    for (int x = from; x < to; ++x)
        xs.insert(x);
    return xs;
}

TEST(QcPictures, ErrorFramesAreMarkedInTheirChannelAndIdsAcrossTheLanes)
{
    TempDir dir;
    ArchivedFile file;
    file.startAbs = 100;
    file.frames = 600; // two picture columns a frame
    file.errors = {{250, true, false}, {400, false, true}, {500, true, true}, {501, true, true}};
    file.ids = {{1, 130}, {dat::kPNoSkip, 460}};
    const FileTimeline timeline{file.startAbs, file.frames, 600 * 1440};
    const WaveLayout layout;
    std::string error;
    ASSERT_TRUE(
        drawWaveform(dir.file("w.png"), flatOverview(1200), file, timeline, {}, layout, error))
        << error;
    const PngImage png(dir.file("w.png"));
    ASSERT_TRUE(png.ok());
    ASSERT_EQ(png.width(), 1200);
    ASSERT_EQ(png.height(), layout.height(2));

    std::set<int> left = range(300, 302);
    left.merge(range(800, 804));
    std::set<int> right = range(600, 602);
    right.merge(range(800, 804));
    const int row = layout.markerRow / 2;
    EXPECT_EQ(columnsOf(png, layout.markerTop(0) + row, channelColour(0, 2)), left);
    EXPECT_EQ(columnsOf(png, layout.markerTop(1) + row, channelColour(1, 2)), right);
    // The other channel's colour never appears in a lane's marker row.
    EXPECT_TRUE(columnsOf(png, layout.markerTop(0) + row, channelColour(1, 2)).empty());
    EXPECT_TRUE(columnsOf(png, layout.markerTop(1) + row, channelColour(0, 2)).empty());
    // IDs run through both lanes.
    for (const int y : {layout.laneTop(0) + 3, layout.laneTop(1) + layout.lane - 3}) {
        EXPECT_EQ(columnsOf(png, y, kStartIdColour), range(60, 62)) << y;
        EXPECT_EQ(columnsOf(png, y, kSkipIdColour), range(720, 722)) << y;
    }
    // The waveform itself: the tint inside the lane around the centre line, white beyond ±0.1.
    EXPECT_EQ(png.at(100, layout.laneTop(0) + layout.lane / 2 - 2), channelTint(0, 2));
    EXPECT_EQ(png.at(100, layout.laneTop(0) + 5), 0xFFFFFFu);
}

TEST(QcPictures, SpectrogramRunsFromZeroAtTheBottomToHalfTheRate)
{
    TempDir dir;
    Spectrogram s;
    s.columns = 10;
    s.bins = 513;
    s.binHz = 46.875;
    s.level.assign(10 * 513, static_cast<float>(kFloorDb));
    for (int c = 0; c < 10; ++c)
        s.level[static_cast<std::size_t>(c) * 513 + 128] = 0.0f; // 6 kHz
    SpectrumLayout layout;
    std::string error;
    ASSERT_TRUE(drawSpectrogram(dir.file("s.png"), s, {}, {}, layout, error)) << error;
    const PngImage png(dir.file("s.png"));
    ASSERT_TRUE(png.ok());
    // 6 kHz of 24 kHz: three quarters down.
    for (int x : {0, 600, 1199}) {
        EXPECT_EQ(png.at(x, 192), 0xFCFFA4u) << x; // the brightest colour
        EXPECT_EQ(png.at(x, 10), 0x000004u) << x;  // the floor's
        EXPECT_EQ(png.at(x, 250), 0x000004u) << x;
    }
}

TEST(QcPictures, AxesTickAtRoundTimesAndFrequencies)
{
    const auto labels = [](const std::vector<Tick>& ticks) {
        std::string out;
        for (const Tick& t : ticks)
            out += t.label + ";";
        return out;
    };
    // 20 s from ABS 00h00m02s00; a lead-in file that starts before ABS 0; an hour.
    EXPECT_EQ(labels(timeTicks({66, 667, 0}, 8)), "00h00m05s;00h00m10s;00h00m15s;00h00m20s;");
    EXPECT_EQ(labels(timeTicks({-116, 174, 0}, 8)),
              "-00h00m03s;-00h00m02s;-00h00m01s;00h00m00s;00h00m01s;");
    EXPECT_EQ(labels(timeTicks({0, 120000, 0}, 8)),
              "00h00m00s;00h10m00s;00h20m00s;00h30m00s;00h40m00s;00h50m00s;01h00m00s;");
    const std::vector<Tick> t = timeTicks({66, 667, 0}, 8);
    EXPECT_NEAR(t[0].at, (166.67 - 66) / 667, 1e-3);
    EXPECT_EQ(labels(frequencyTicks(24000, 6)), "5 kHz;10 kHz;15 kHz;20 kHz;");
    EXPECT_EQ(labels(frequencyTicks(16000, 6)), "5 kHz;10 kHz;15 kHz;");
    EXPECT_EQ(labels(frequencyTicks(48000, 6)), "10 kHz;20 kHz;30 kHz;40 kHz;");
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(QcPage, NamesOfAnyKindLeaveThePageWholeAndItsPicturesFound)
{
    TempDir dir;
    const std::string base = dir.file("tape #1 & \"co\"");
    fs::create_directories(qcFolderPath(base));
    std::ofstream(qcFolderPath(base) + "/07-wave.png") << "old";
    std::ofstream(qcFolderPath(base) + "/notes.png") << "mine";

    ArchiveSummary summary;
    summary.label = "<b>Live</b>";
    summary.drive = "[0:4] TARNVEL DAT SIMULATOR 1.00";
    summary.files.resize(2);
    summary.files[0].name = dir.file("<i>1&2.WAV");
    summary.files[0].programText = "1";
    summary.files[0].frames = 667;
    summary.files[1].name = dir.file("gone.WAV");
    std::vector<FileAnalysis> analyses(2);
    WaveAnalysis a;
    std::string error;
    ASSERT_TRUE(a.start(formats::WaveFormat::make(1, 2, 48000, 16), 48000, {}, error));
    a.finish();
    analyses[0].ok = true;
    analyses[0].figures = a.figures();
    analyses[0].overview = a.overview();
    analyses[0].spectrogram = a.spectrogram();
    analyses[1].error = "gone.WAV: Unable to open file.";

    PageHeader header{"<b>Live</b>", "tape #1.log", "Tarnvel 0.1.0", "2026-12-10 15:56:22"};
    ASSERT_TRUE(writeQcPage(base, summary, analyses, header, {}, error)) << error;
    const std::string page = readText(qcPagePath(base));
    EXPECT_NE(page.find("<h1>&lt;b&gt;Live&lt;/b&gt;</h1>"), std::string::npos);
    EXPECT_NE(page.find("&lt;i&gt;1&amp;2.WAV"), std::string::npos);
    EXPECT_EQ(page.find("<i>"), std::string::npos);
    EXPECT_NE(page.find("src=\"tape%20%231%20%26%20%22co%22.qc/01-wave.png\""), std::string::npos);
    EXPECT_NE(page.find("src=\"tape%20%231%20%26%20%22co%22.qc/01-spectrum.png\""),
              std::string::npos);
    // The file that could not be read says why and has no pictures.
    EXPECT_NE(page.find("Unable to open file."), std::string::npos);
    EXPECT_EQ(page.find("02-wave.png"), std::string::npos);
    // Nothing to run and nothing to fetch.
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos);

    EXPECT_TRUE(PngImage(qcFolderPath(base) + "/01-wave.png").ok());
    EXPECT_TRUE(PngImage(qcFolderPath(base) + "/01-spectrum.png").ok());
    EXPECT_FALSE(fs::exists(qcFolderPath(base) + "/07-wave.png")); // an earlier page's
    EXPECT_TRUE(fs::exists(qcFolderPath(base) + "/notes.png"));
}

TEST(QcPage, AFolderInTheWayIsReported)
{
    TempDir dir;
    std::ofstream(dir.file("t.qc")) << "a file, not a folder";
    std::string error;
    EXPECT_FALSE(writeQcPage(dir.file("t"), {}, {}, {}, {}, error));
    EXPECT_NE(error.find("t.qc"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir.file("t.html")));
}

} // namespace
} // namespace tarnvel::qc
