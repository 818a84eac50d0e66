#include "engine/PlayToFile.h"

#include "DeckFixture.h"
#include "formats/ImageReader.h"
#include "formats/WaveFileReader.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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

// The tape index of every frame in a 16-bit 48 kHz WAV file (word 0 of each frame).
std::vector<std::int64_t> framesOfWave(const std::string& path)
{
    formats::WaveFileReader r;
    EXPECT_TRUE(r.readHeader(path)) << path << ": " << r.errorText();
    std::vector<std::uint8_t> data(r.dataLength());
    EXPECT_EQ(r.readData(data.data(), data.size()), data.size());
    std::vector<std::int64_t> out;
    for (std::size_t at = 0; at + dat::kAudioBytes <= data.size(); at += dat::kAudioBytes)
        out.push_back(static_cast<std::int16_t>(data[at] | data[at + 1] << 8));
    return out;
}

std::vector<std::string> wavesIn(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".WAV")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PlayToFileTest : public DeckFixture {
protected:
    fs::path out = dir.path() / "out";
    std::unique_ptr<PlayToFile> ptf;

    void SetUp() override { fs::create_directories(out); }
    void TearDown() override
    {
        deck.reset();
        ptf.reset();
    }

    void openWithFiles()
    {
        openDeck();
        ptf = std::make_unique<PlayToFile>(*deck, settings);
        deck->setPlayToFileController(ptf.get());
        waitForTape();
        deck->rewind();
        waitForTape();
    }

    void archive(PlayToFileRequest r)
    {
        ptf->setRequest(r);
        const auto ends = deck->playEnds();
        deck->playToFile({});
        ASSERT_TRUE(loop.runUntil([&] { return deck->playEnds() > ends && deck->idle(); }, 60000));
    }

    PlayToFileRequest waves(int preReadTenths = 0)
    {
        PlayToFileRequest r;
        r.destination = PlayDestination::Wave;
        r.waveBase = (out / "base").string();
        r.divide = true;
        r.preReadTenths = preReadTenths;
        return r;
    }
};

TEST_F(PlayToFileTest, StartIdsOneTwoTwoGiveTwoFilesAndASubNumberedOne)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.start(2);
        b.frames(400);
        b.start(2);
        b.frames(400);
    });
    openWithFiles();
    archive(waves());
    EXPECT_EQ(wavesIn(out), (std::vector<std::string>{"base01.WAV", "base02.WAV", "base0201.WAV"}));
    // Every frame once, each in the file of its program.
    const auto f1 = framesOfWave((out / "base01.WAV").string());
    const auto f2 = framesOfWave((out / "base02.WAV").string());
    const auto f3 = framesOfWave((out / "base0201.WAV").string());
    ASSERT_FALSE(f1.empty());
    EXPECT_EQ(f1.front(), 0);
    EXPECT_EQ(f1.back(), 399);
    EXPECT_EQ(f2.front(), 400);
    EXPECT_EQ(f2.back(), 799);
    EXPECT_EQ(f3.front(), 800);
    EXPECT_EQ(f3.back(), 1199);
    EXPECT_EQ(ptf->writtenFiles().size(), 3u);
}

TEST_F(PlayToFileTest, PreReadingDividesThreeFramesEarlyAndNotAgainAtTheId)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.start(2);
        b.frames(400);
    });
    openWithFiles();
    archive(waves(1)); // 0.1 s: 3 frames at 48 kHz
    EXPECT_EQ(wavesIn(out), (std::vector<std::string>{"base01.WAV", "base02.WAV"}));
    EXPECT_EQ(framesOfWave((out / "base01.WAV").string()).back(), 396);
    EXPECT_EQ(framesOfWave((out / "base02.WAV").string()).front(), 397);
    EXPECT_NE(readText(ptf->cueName()).find(dat::timeText(dat::framesToAbs(397)) + " <0.1sec"),
              std::string::npos);
}

TEST_F(PlayToFileTest, AFormatChangeOpensTheNextSubNumberAndAOneFrameFileIsDropped)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.format(44100);
        b.frames(100);
        b.start(2);
        b.frames(400);
    });
    openWithFiles();
    // Start on the last frame of program 1's 44.1 kHz part: the first file gets one frame.
    ASSERT_TRUE(deck->searchAbs(dat::framesToAbs(499), {}));
    waitForTape();
    archive(waves());
    const auto names = wavesIn(out);
    EXPECT_EQ(names, (std::vector<std::string>{"base02.WAV"}));
    const std::string cue = readText(ptf->cueName());
    EXPECT_EQ(cue.find("base01"), std::string::npos);

    // From the beginning: the change at frame 400 continues program 1 in a new file.
    deck->rewind();
    waitForTape();
    fs::remove_all(out);
    fs::create_directories(out);
    archive(waves());
    EXPECT_EQ(wavesIn(out), (std::vector<std::string>{"base01.WAV", "base0101.WAV", "base02.WAV"}));
    formats::WaveFileReader r;
    ASSERT_TRUE(r.readHeader((out / "base0101.WAV").string()));
    EXPECT_EQ(r.format().samplesPerSec, 44100u);
    EXPECT_EQ(r.dataLength(), 100u * dat::kAudioBytes44k); // the held frame is not lost
}

TEST_F(PlayToFileTest, TheCueListNamesEachFileWithItsErrorFrames)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.start(2);
        b.frames(400);
        std::string error;
        ASSERT_TRUE(c.addFault({10, 10, sim::FaultKind::Left}, error));
        ASSERT_TRUE(c.addFault({20, 20, sim::FaultKind::Both}, error));
        ASSERT_TRUE(c.addFault({500, 500, sim::FaultKind::Right}, error));
    });
    openWithFiles();
    archive(waves());
    const std::string b = (out / "base").string();
    const std::string expected =
        b +
        "01.WAV\r\n"
        ";  00h00m00s00\r\n"
        "   PNo: 1    Format: 48000 / 16 (16)        Copy: Permit    Err: 2,1,0\r\n"
        "   Frame: 400     00h00m12s00   Time: 00h00m12s\r\n"
        ";; Err: 00h00m00s10 L   00h00m00s20 LR \r\n" +
        b +
        "02.WAV\r\n"
        ";  00h00m12s00\r\n"
        "   PNo: 2    Format: 48000 / 16 (16)        Copy: Permit    Err: 0,1,0\r\n"
        "   Frame: 400     00h00m12s00   Time: 00h00m12s\r\n"
        ";; Err: 00h00m15s00 R  \r\n";
    EXPECT_EQ(readText(ptf->cueName()), expected);
}

TEST_F(PlayToFileTest, AnImageOfTheTapeHoldsEveryFrameUnchanged)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.end();
        b.frames(300);
    });
    openWithFiles();
    PlayToFileRequest r;
    r.destination = PlayDestination::Image;
    r.imageName = (out / "tape").string();
    r.imageComment = "test";
    archive(r);
    EXPECT_FALSE(deck->lastRunFailed());
    CollectingMessageSink messages;
    formats::ImageReader img(messages);
    ASSERT_TRUE(img.open((out / "tape.TVI").string(), false)) << img.errorText();
    std::string error;
    auto cassette = sim::Cassette::open(cassettePath, sim::Cassette::Access::ReadOnly, error);
    // The drive holds the cassette; read it through a copy.
    if (!cassette) {
        fs::copy_file(cassettePath, dir.file("copy.tvs"));
        cassette =
            sim::Cassette::open(dir.file("copy.tvs"), sim::Cassette::Access::ReadOnly, error);
    }
    ASSERT_TRUE(cassette) << error;
    dat::DatFrame fromImage;
    dat::DatFrame fromTape;
    int n = 0;
    while (img.readFrame(fromImage, true) == dat::kFrameBytes) {
        ASSERT_TRUE(cassette->readFrame(n, fromTape.data(), error)) << error;
        ASSERT_EQ(std::memcmp(fromImage.data(), fromTape.data(), dat::kFrameBytes), 0) << n;
        ++n;
    }
    EXPECT_EQ(n, 700); // the END ID area included
}

TEST_F(PlayToFileTest, PausingAFileRunReadsNothingAndStopEndsItFromThePause)
{
    makeTape(
        [](sim::Cassette& c) {
            TapeBuilder b(c);
            b.start(1);
            b.frames(8000);
        },
        5);
    openWithFiles();
    ptf->setRequest(waves());
    const auto ends = deck->playEnds();
    deck->playToFile({});
    ASSERT_TRUE(deck->state().running.load());
    loop.pumpFor(20);
    deck->pause();
    EXPECT_EQ(deck->state().playState.load(), kStatePaused);
    loop.pumpFor(50);
    const std::uint32_t frames = ptf->framesInFile();
    loop.pumpFor(200);
    EXPECT_EQ(ptf->framesInFile(), frames); // the loop turns without reading
    deck->stop();
    ASSERT_TRUE(loop.runUntil([&] { return deck->playEnds() > ends && deck->idle(); }, 20000));
    EXPECT_EQ(ptf->writtenFiles().size(), frames > 1 ? 1u : 0u);
}

} // namespace
} // namespace tarnvel::engine::test
