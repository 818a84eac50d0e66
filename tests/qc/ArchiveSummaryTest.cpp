#include "qc/ArchiveSummary.h"

#include "dat/DatFrame.h"
#include "engine/ArchiveReport.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

// What the quality check reads of an archive: times as the report writes them, and the
// report itself with the lines the check adds to it.
namespace tarnvel::qc {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WavFixture;

TEST(ArchiveSummary, AbsTimesReadAsTheReportWritesThem)
{
    const struct {
        const char* text;
        std::optional<int> frames;
    } cases[] = {
        {" 00h00m02s00", 66},
        {"00h00m03s01", 101},
        {" 01h00m00s00", 120000},
        {"-00h00m03s08", -108},         // lead-in, counting down
        {" 00h00m01s23 <0.3sec", 56},   // with the pre-reading note
        {" --h--m--s--", std::nullopt}, // no time
        {" 00h61m00s00", std::nullopt},
        {" 00h00m00s34", std::nullopt},
        {" 00h00m02s0", std::nullopt},
        {" 00h00m02s001", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        int frames = 12345;
        EXPECT_EQ(parseAbsText(c.text, frames), c.frames.has_value()) << c.text;
        if (c.frames) {
            EXPECT_EQ(frames, *c.frames) << c.text;
            // And back, as the page and report show times.
            int again = 0;
            ASSERT_TRUE(parseAbsText(absFramesText(frames), again)) << absFramesText(frames);
            EXPECT_EQ(again, frames);
        }
    }
}

class ArchiveReportFile : public ::testing::Test {
protected:
    TempDir dir;

    // A written file whose audio exists, with its errors.
    engine::WrittenFile file(const std::string& name, int parts = 1)
    {
        engine::WrittenFile f;
        f.name = dir.file(name);
        WavFixture w;
        w.withFrames(100);
        for (int p = 0; p < parts; ++p) {
            const std::string part =
                p == 0
                    ? f.name
                    : dir.file(fs::path(name).stem().string() + "_" + std::to_string(p) + ".WAV");
            w.write(part);
            f.parts.push_back(part);
        }
        f.programText = "2";
        f.datePack = {0x00, 0x24, 0x05, 0x17, 0x14, 0x30, 0x19};
        f.formatText = "48000 / 16 (16)";
        f.emphasis = true;
        f.copyText = "Prohibit";
        f.startAbs = " 00h00m21s23 <0.3sec";
        f.frames = 667;
        f.seconds = 20;
        f.errorsLeft = 1;
        f.errorsRight = 2;
        f.errorFrames = {
            {dat::framesToAbs(900), dat::kSubIdInterpolatedLeft},
            {dat::framesToAbs(901), static_cast<std::uint8_t>(dat::kSubIdInterpolatedLeft |
                                                              dat::kSubIdInterpolatedRight)}};
        return f;
    }

    std::string writeReport(const engine::ArchiveRun& run,
                            const std::vector<engine::WrittenFile>& files)
    {
        std::string error;
        const std::string path = dir.file("t.log");
        EXPECT_TRUE(engine::writeArchiveReport(path, run, files, error)) << error;
        return path;
    }
};

TEST_F(ArchiveReportFile, AReportReadsBackWithItsIdsErrorsAndParts)
{
    const std::vector<engine::WrittenFile> files = {file("t02.WAV", 3), file("t03.WAV")};
    dat::IdTable ids;
    int guard = 0;
    // START 2 inside the first file, SKIP inside it too, START 3 after it (in the second).
    ids.addId(dat::IdTable::Kind::Tape, 2, true, 22, dat::framesToAbs(733), guard);
    ids.addId(dat::IdTable::Kind::Tape, dat::kPNoSkip, true, 34, dat::framesToAbs(1133), guard);
    ids.addId(dat::IdTable::Kind::Tape, 3, true, 42, dat::framesToAbs(1400), guard);
    engine::ArchiveRun run;
    run.program = "Tarnvel 0.1.0";
    run.drive = "[0:4] TARNVEL DAT SIMULATOR 1.00";
    run.started = "2026-12-10 15:56:22";
    run.ended = "2026-12-10 15:57:01";
    run.outcome = "stopped at the END ID";
    run.label = "T017\nConcert";
    const ArchiveSummary made = summarizeRun(run, files, ids);
    for (const ArchivedFile& f : made.files)
        run.fileNotes.push_back(reportLines(f, nullptr));
    const std::string report = writeReport(run, files);

    ArchiveSummary read;
    std::string error;
    ASSERT_TRUE(readArchiveReport(report, read, error)) << error;
    EXPECT_EQ(read.label, "T017 Concert"); // one line in the report
    EXPECT_EQ(read.program, run.program);
    EXPECT_EQ(read.drive, run.drive);
    EXPECT_EQ(read.outcome, run.outcome);
    EXPECT_EQ(read.started, run.started);
    ASSERT_EQ(read.files.size(), 2u);
    const ArchivedFile& a = read.files[0];
    EXPECT_EQ(a.parts, files[0].parts);
    EXPECT_EQ(a.programText, "2");
    EXPECT_EQ(a.dateText, "24/05/17 14:30:19");
    EXPECT_EQ(a.formatText, "48000 / 16 (16)");
    EXPECT_TRUE(a.emphasis);
    EXPECT_EQ(a.copyText, "Prohibit");
    EXPECT_EQ(a.startAbs, 723);
    EXPECT_EQ(a.frames, 667u);
    EXPECT_EQ(a.errorsRight, 2u);
    ASSERT_EQ(a.errors.size(), 2u);
    EXPECT_EQ(a.errors[1].abs, 901);
    EXPECT_TRUE(a.errors[1].left && a.errors[1].right);
    EXPECT_FALSE(a.errors[0].right);
    ASSERT_TRUE(a.idsKnown);
    ASSERT_EQ(a.ids.size(), 2u); // START 3 at 1400 lies beyond the first file's 667 frames
    EXPECT_EQ(a.ids[0].pNo, 2);
    EXPECT_EQ(a.ids[0].abs, 733);
    EXPECT_EQ(a.ids[1].pNo, dat::kPNoSkip);
    EXPECT_EQ(a.ids[1].abs, 1133);
    // The second file starts where the first does (the fixture's time): the same IDs.
    EXPECT_EQ(read.files[1].ids.size(), 2u);
}

TEST_F(ArchiveReportFile, FilesMovedWithTheirReportAreFoundBesideIt)
{
    const std::vector<engine::WrittenFile> files = {file("t02.WAV", 2)};
    const std::string report = writeReport({}, files);
    const fs::path moved = dir.path() / "moved";
    fs::create_directories(moved);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.is_regular_file())
            fs::rename(entry.path(), moved / entry.path().filename());
    ArchiveSummary read;
    std::string error;
    ASSERT_TRUE(readArchiveReport((moved / "t.log").string(), read, error)) << error;
    ASSERT_EQ(read.files.size(), 1u);
    ASSERT_EQ(read.files[0].parts.size(), 2u);
    EXPECT_EQ(read.files[0].parts[1], (moved / "t02_1.WAV").string());
}

TEST_F(ArchiveReportFile, AnOlderReportGivesEachNumberedFileItsStart)
{
    // Without ID lines: the START is where the file began, after the pre-reading time.
    const std::string report = writeReport({}, {file("t02.WAV")});
    ArchiveSummary read;
    std::string error;
    ASSERT_TRUE(readArchiveReport(report, read, error)) << error;
    const ArchivedFile& f = read.files.at(0);
    EXPECT_FALSE(f.idsKnown);
    ASSERT_EQ(f.ids.size(), 1u);
    EXPECT_EQ(f.ids[0].pNo, 2);
    EXPECT_EQ(f.ids[0].abs, 723 + 10); // 0.3 s of 48 kHz frames
}

TEST_F(ArchiveReportFile, DamagedReportsAreRefusedWithAReason)
{
    const std::string good = [&] {
        const std::string path = writeReport({}, {file("t02.WAV")});
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const struct {
        const char* name;
        std::string text;
        const char* says;
    } cases[] = {
        {"not a report", "hello\n", "not an archive report"},
        {"no files", good.substr(0, good.find("\nFile: ")), "lists no file"},
        {"bad IDs", good.substr(0, good.find("  SHA-256")) + "  IDs: START x at 00h00m01s00\n",
         "unreadable IDs"},
        {"bad frames", good.substr(0, good.find("  Frames:")) + "  Frames: many\n",
         "unreadable frame count"},
    };
    for (const auto& c : cases) {
        std::ofstream(dir.file("bad.log"), std::ios::binary) << c.text;
        ArchiveSummary read;
        std::string error;
        EXPECT_FALSE(readArchiveReport(dir.file("bad.log"), read, error)) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    }
    std::string error;
    ArchiveSummary read;
    EXPECT_FALSE(readArchiveReport(dir.file("none.log"), read, error));
}

TEST(ArchiveSummary, FiguresGoIntoTheReportLines)
{
    ArchivedFile file;
    file.startAbs = 66;
    file.frames = 100;
    file.ids = {{1, 66}, {dat::kPNoStartWithoutNumber, 80}, {dat::kPNoSkip, 90}};
    AudioFigures f;
    f.format = formats::WaveFormat::make(1, 2, 48000, 16);
    f.sampleFrames = 144000; // 100 frames
    f.loudness = -17.84;
    f.loudnessRange = 5.25;
    f.channels = {{0.5, 0.55, 0.0001, 4, 1}, {1.0, 1.2, -0.25, 0, 0}};
    f.clipRuns = {{72000, 4, 0}};
    f.silences = {{0, 96000 + 48000 / 2, -1}};
    f.silenceCount = 1;
    std::string all;
    for (const std::string& line : reportLines(file, &f))
        all += line + "\n";
    EXPECT_EQ(all, "  IDs: START 1 at 00h00m02s00, START at 00h00m02s14, SKIP at 00h00m02s24\n"
                   "  Loudness: -17.8 LUFS  Loudness range: 5.2 LU\n"
                   "  Sample peak: L -6.0 dBFS  R 0.0 dBFS\n"
                   "  True peak: L -5.2 dBTP  R 1.6 dBTP\n"
                   "  DC offset: L +0.0100 %  R -25.0000 %\n"
                   "  Clipped samples: L 4 in 1 runs  R 0 in 0 runs\n"
                   "  Clipped at: L 00h00m03s16 (4 samples)\n"
                   "  Digital silence over 2 s: 1\n"
                   "  Silent at: 00h00m02s00 (2.5 s)\n");
    // And the IDs read back.
    ArchiveSummary read;
    TempDir dir;
    std::string text = "Tarnvel archive report\n\nFile: x.WAV\n";
    text += all;
    std::ofstream(dir.file("r.log")) << text;
    std::string error;
    ASSERT_TRUE(readArchiveReport(dir.file("r.log"), read, error)) << error;
    ASSERT_EQ(read.files.at(0).ids.size(), 3u);
    EXPECT_EQ(read.files[0].ids[1].pNo, dat::kPNoStartWithoutNumber);
    EXPECT_EQ(read.files[0].ids[2].abs, 90);
}

} // namespace
} // namespace tarnvel::qc
