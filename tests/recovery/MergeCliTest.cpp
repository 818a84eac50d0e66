#include "RecoveryFixture.h"
#include "formats/WaveFileReader.h"
#include "sim/Cassette.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

// The archivist's rescue as it is typed: image a damaged tape, merge it with a copy made on
// another deck, and the merged image holds the recording.
namespace tarnvel::recovery::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MergeCommandLine : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string out, err;

    int run(const std::string& arguments)
    {
        const std::string command = "cd '" + dir.path().string() + "' && '" TARNVEL_CLI "' " +
                                    arguments + " >'" + dir.file("out.txt") + "' 2>'" +
                                    dir.file("err.txt") + "'";
        const int status = std::system(command.c_str());
        out = slurp(dir.file("out.txt"));
        err = slurp(dir.file("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // A cassette holding the frames from its beginning.
    void cassette(const std::string& name, const std::vector<dat::DatFrame>& frames)
    {
        std::string error;
        auto c = sim::Cassette::create(dir.file(name), 2, error);
        ASSERT_TRUE(c) << error;
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_TRUE(c->writeFrame(static_cast<std::int64_t>(i), frames[i].data(), error));
    }
    std::vector<std::string> files() const
    {
        std::vector<std::string> v;
        for (const auto& e : fs::directory_iterator(dir.path()))
            v.push_back(e.path().filename().string());
        return v;
    }
};

// The copy is recorded by the program itself onto another tape from the archive of the
// original: it starts 3 s and 100 samples into the recording (so its frames are cut elsewhere),
// pauses for 2 s in the middle, and has its own ABS times and IDs.
TEST_F(MergeCommandLine, ACopyFromTheArchiveRepairsADamagedReadOfTheOriginal)
{
    const auto tape = tapeFrames({.count = 1200, .starts = {0, 600}});
    cassette("original.tvs", tape);
    ASSERT_EQ(run("--drive sim:original.tvs archive src --no-divide --no-report"), 0) << err;
    ASSERT_EQ(run("--drive sim:original.tvs image create undamaged"), 0) << err;
    std::string wav;
    for (const std::string& f : files())
        if (f.rfind("src", 0) == 0 && f.find(".WAV") != std::string::npos)
            wav = f;
    formats::WaveFileReader r;
    ASSERT_TRUE(r.readHeader(dir.file(wav))) << wav;
    const std::string samples = slurp(dir.file(wav)).substr(r.dataOffset(), r.dataLength());
    ASSERT_EQ(samples.size(), 1200u * 5760u);

    // The copy: from sample 3 s + 100, 2 s of silence after 400 frames' worth, then on.
    const std::size_t start = (3 * 48000 + 100) * 4, pause = 400 * 5760;
    std::string copy = samples.substr(start, pause) + std::string(2 * 48000 * 4, '\0') +
                       samples.substr(start + pause);
    std::string header(44, '\0');
    const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    std::memcpy(header.data(), "RIFF", 4);
    put(4, static_cast<std::uint32_t>(36 + copy.size()), 4);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, 2, 2);
    put(24, 48000, 4);
    put(28, 48000 * 4, 4);
    put(32, 4, 2);
    put(34, 16, 2);
    std::memcpy(header.data() + 36, "data", 4);
    put(40, static_cast<std::uint32_t>(copy.size()), 4);
    std::ofstream(dir.file("COPY.WAV"), std::ios::binary) << header << copy;
    ASSERT_EQ(run("sim new copy.tvs --minutes 2"), 0) << err;
    ASSERT_EQ(run("--drive sim:copy.tvs record --wav COPY.WAV --yes"), 0) << err << out;
    ASSERT_EQ(run("--drive sim:copy.tvs image create copy"), 0) << err;

    // The original wears: a read of it with damage before the copy begins and after, and in
    // the frame where the copy paused.
    for (const char* d :
         {"--frames 20-25 --kind left", "--frames 150-170 --kind left", "--frames 500 --kind left",
          "--frames 600-610 --kind both", "--frames 900-905 --kind right"})
        ASSERT_EQ(run(std::string("sim damage original.tvs ") + d), 0) << err;
    ASSERT_EQ(run("--drive sim:original.tvs image create read"), 0) << err;

    ASSERT_EQ(run("merge read.TVI copy.TVI -o merged"), 0) << err << out;
    EXPECT_NE(out.find("merged.TVI: 1200 frames; 45 had errors in the reference, 39 recovered, 6 "
                       "still bad, 0 conflicts"),
              std::string::npos)
        << out;
    const auto merged = readImage(dir.file("merged.TVI"));
    const auto undamaged = readImage(dir.file("undamaged.TVI"));
    ASSERT_EQ(merged.size(), undamaged.size());
    for (std::uint32_t i = 0; i < merged.size(); ++i) {
        if (i >= 20 && i <= 25)
            continue;
        ASSERT_EQ(std::memcmp(merged[i].data(), undamaged[i].data(), dat::kFrameBytes), 0) << i;
    }
    const std::string report = slurp(dir.file("merged.log"));
    EXPECT_NE(report.find("copy.TVI (1233 frames): a copy, matched by its audio"),
              std::string::npos)
        << report;
    // The copy's tape begins with 2 s of silence after its lead-in (66 frames).
    EXPECT_NE(report.find("offset -49060 samples"), std::string::npos) << report;
    EXPECT_NE(report.find("offset +46940 samples"), std::string::npos) << report;
    EXPECT_NE(report.find("Frames still bad: 6\n  00h00m00s20  frame 20      L\n"),
              std::string::npos)
        << report;
}

TEST_F(MergeCommandLine, RefusesAnotherRecordingAndAnExistingOutput)
{
    writeImage(dir.file("a.TVI"), tapeFrames({.count = 300}));
    writeImage(dir.file("b.TVI"), tapeFrames({.count = 300, .firstSample = 1u << 28}));
    writeImage(dir.file("c.TVI"), damaged(tapeFrames({.count = 300}), {{5, 9, 'L'}}));
    const auto before = files();
    EXPECT_EQ(run("merge a.TVI b.TVI -o m.TVI"), 1);
    EXPECT_NE(err.find("The images hold different recordings: no frame of b.TVI matches a.TVI.\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(files().size(), before.size() + 2); // out.txt and err.txt, nothing else

    std::ofstream(dir.file("m.TVI")) << "keep";
    EXPECT_EQ(run("merge c.TVI a.TVI -o m"), 1);
    EXPECT_NE(err.find("already exists"), std::string::npos) << err;
    EXPECT_EQ(slurp(dir.file("m.TVI")), "keep");
    EXPECT_EQ(run("merge c.TVI a.TVI -o m --yes"), 0) << err;
    EXPECT_EQ(readImage(dir.file("m.TVI")).size(), 300u);
    EXPECT_NE(slurp(dir.file("m.log")).find("5 of them recovered"), std::string::npos);
    EXPECT_EQ(run("merge a.TVI -o n"), 2);
}

} // namespace
} // namespace tarnvel::recovery::test
