#include "engine/PlayToFile.h"

#include "DeckFixture.h"
#include "formats/ImageReader.h"
#include "formats/WaveFileReader.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
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

TEST_F(PlayToFileTest, EveryFileOfARunGetsANameOfItsOwn)
{
    struct Case {
        const char* what;
        std::vector<int> startIds; // 400 frames each
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"a number repeated at once takes a sub-number",
         {1, 2, 2},
         {"base01.WAV", "base02.WAV", "base0201.WAV"}},
        {"a number that comes back takes the next free sub-number, never the old file",
         {1, 2, 1},
         {"base01.WAV", "base02.WAV", "base0101.WAV"}},
        {"and so on", {1, 1, 2, 1}, {"base01.WAV", "base0101.WAV", "base02.WAV", "base0102.WAV"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        deck.reset();
        ptf.reset();
        fs::remove_all(out);
        fs::create_directories(out);
        fs::remove(cassettePath);
        makeTape([&](sim::Cassette& cassette) {
            TapeBuilder b(cassette);
            for (int id : c.startIds) {
                b.start(id);
                b.frames(400);
            }
        });
        openWithFiles();
        view.answers.assign(8, Answer{true, false}); // replace anything: must not be needed
        archive(waves());
        EXPECT_TRUE(view.questions.empty()) << view.questions.front();
        view.questions.clear();
        // Every frame once, in the file of its program, each file listed once.
        ASSERT_EQ(ptf->writtenFiles().size(), c.names.size());
        std::vector<std::string> sorted = c.names;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(wavesIn(out), sorted);
        const std::string cue = readText(ptf->cueName());
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            const std::string path = (out / c.names[i]).string();
            EXPECT_EQ(ptf->writtenFiles()[i].name, path);
            const auto frames = framesOfWave(path);
            ASSERT_EQ(frames.size(), 400u) << c.names[i];
            EXPECT_EQ(frames.front(), static_cast<std::int64_t>(400 * i)) << c.names[i];
            EXPECT_EQ(cue.find(path + "\r\n"), cue.rfind(path + "\r\n")) << c.names[i];
            EXPECT_NE(cue.find(path + "\r\n"), std::string::npos) << c.names[i];
        }
    }
}

// The origination date of a Broadcast Wave file ("2026-12-09"), or "" without one.
std::string bextDate(const std::string& path)
{
    const std::string body = readText(path);
    if (body.size() < 44 + 330 || body.compare(36, 4, "bext") != 0)
        return "no bext";
    const std::string date = body.substr(44 + 320, 10); // NUL-padded
    return date.substr(0, date.find('\0'));
}

// Names and dates come from each program's own frames: the same tape gives the same files,
// whatever the tape did before and however the run starts.
TEST_F(PlayToFileTest, NamesAndDatesComeFromEachProgramsOwnFrames)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.date(26, 12, 9, 1, 2, 3);
        b.frames(400);
        b.start(2);
        b.date(26, 12, 10, 4, 5, 6);
        b.frames(400);
        b.start(3);
        b.date(26, 12, 11, 7, 8, 9);
        b.frames(400);
    });
    openWithFiles();
    ptf->setBroadcastWave(true);
    const std::vector<std::string> all{"base01_261209010203.WAV", "base02_261210040506.WAV",
                                       "base03_261211070809.WAV"};
    const std::vector<std::string> dates{"2026-12-09", "2026-12-10", "2026-12-11"};
    struct Case {
        const char* what;
        std::function<void()> before;
        int preRead;
        std::size_t firstProgram; // index into `all`
    };
    const Case cases[] = {
        {"after the tape arrived", [] {}, 0, 0},
        {"again on the same cassette",
         [&] {
             deck->rewind();
             waitForTape();
         },
         0, 0},
        {"from a search",
         [&] {
             ASSERT_TRUE(deck->searchProgram(2, {}));
             waitForTape();
         },
         0, 1},
        {"with ID pre-reading",
         [&] {
             deck->rewind();
             waitForTape();
         },
         5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out);
        fs::create_directories(out);
        c.before();
        archive(waves(c.preRead));
        EXPECT_EQ(wavesIn(out), std::vector<std::string>(all.begin() + c.firstProgram, all.end()));
        ASSERT_EQ(ptf->writtenFiles().size(), all.size() - c.firstProgram);
        for (std::size_t i = 0; i < ptf->writtenFiles().size(); ++i)
            EXPECT_EQ(bextDate(ptf->writtenFiles()[i].name), dates[c.firstProgram + i]) << i;
    }
}

// A file that starts before the first START ID is named by its first frame but dated by the
// first of its frames that carries a date.
TEST_F(PlayToFileTest, APartBeforeTheFirstStartIdTakesTheFirstDateItMeets)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.noDate();
        b.frames(10);
        b.date(26, 11, 30, 23, 59, 0);
        b.frames(90);
        b.start(1);
        b.date(26, 12, 1, 0, 0, 0);
        b.frames(400);
    });
    openWithFiles();
    ptf->setBroadcastWave(true);
    for (const bool divide : {true, false}) {
        SCOPED_TRACE(divide ? "divided" : "one file");
        fs::remove_all(out);
        fs::create_directories(out);
        deck->rewind();
        waitForTape();
        PlayToFileRequest r = waves();
        r.divide = divide;
        archive(r);
        const std::vector<std::string> names =
            divide ? std::vector<std::string>{"base00.WAV", "base01_261201000000.WAV"}
                   : std::vector<std::string>{"base00.WAV"};
        EXPECT_EQ(wavesIn(out), names);
        ASSERT_FALSE(ptf->writtenFiles().empty());
        EXPECT_EQ(bextDate(ptf->writtenFiles()[0].name), "2026-11-30");
        EXPECT_EQ(ptf->writtenFiles()[0].datePack[1], 0x26);
    }
}

// The other instance as the link reaches it: takes every block and keeps what it was told.
class RecordingPeer final : public PeerSender {
public:
    std::string peerName() const override { return "Tarnvel:2"; }
    bool requestRecording(bool) override { return true; }
    bool waitUntilStarted() override { return true; }
    bool send(const std::uint8_t*, std::uint32_t, const TapeFormat&, bool emphasised,
              std::uint32_t) override
    {
        std::lock_guard lock(mutex);
        (emphasised ? emphasisedBlocks : plainBlocks) += 1;
        return true;
    }
    void cancel() override {}
    void finish() override {}

    std::mutex mutex;
    int emphasisedBlocks = 0;
    int plainBlocks = 0;
};

// "Emph" in the cue list and the link's emphasis flag say whether the audio that arrives is
// still emphasised: de-emphasis filters only 16-bit audio at a rate that has a filter.
TEST_F(PlayToFileTest, EmphasisIsMarkedOnlyOnAudioThatStillCarriesIt)
{
    struct Case {
        const char* what;
        int builderRate;
        bool pairs24;
        bool deEmphasis;
        bool stillEmphasised;
    };
    const Case cases[] = {
        {"48 kHz, filtered", 48000, false, true, false},
        {"48 kHz, filter off", 48000, false, false, true},
        {"96 kHz: no filter for the rate", 96000, false, true, true},
        {"24-bit pairs are never filtered", 96000, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        deck.reset();
        ptf.reset();
        fs::remove_all(out);
        fs::create_directories(out);
        fs::remove(cassettePath);
        makeTape([&](sim::Cassette& cassette) {
            TapeBuilder b(cassette, c.builderRate, 0, true);
            b.start(1);
            for (int i = 0; i < 200; ++i) {
                if (c.pairs24) {
                    b.frame24(i, true);
                    b.frame24(i, false);
                } else {
                    b.frames(1);
                }
            }
        });
        settings.EnableDeEmphasis = c.deEmphasis;
        settings.ExtendedFormatMode = c.pairs24 ? 1 : 0;
        openWithFiles();
        archive(waves());
        ASSERT_EQ(ptf->writtenFiles().size(), 1u);
        EXPECT_EQ(ptf->writtenFiles()[0].emphasis, c.stillEmphasised);
        EXPECT_EQ(readText(ptf->cueName()).find("Emph") != std::string::npos, c.stillEmphasised);

        RecordingPeer peer;
        ptf->setPeer(&peer);
        deck->rewind();
        waitForTape();
        PlayToFileRequest r;
        r.destination = PlayDestination::PeerAudio;
        archive(r);
        EXPECT_GT(peer.emphasisedBlocks + peer.plainBlocks, 100);
        EXPECT_EQ(peer.emphasisedBlocks > 0, c.stillEmphasised);
        EXPECT_EQ(peer.plainBlocks > 0, !c.stillEmphasised);
        ptf->setPeer(nullptr);
    }
}

TEST_F(PlayToFileTest, ARunThatArchivesNothingLeavesTheEarlierListAsItWas)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
    });
    openWithFiles();
    archive(waves());
    const std::string earlier = readText(ptf->cueName());
    ASSERT_FALSE(earlier.empty());
    // The tape stands at its end: the next run finds nothing to archive.
    view.answers.push_back({true, false}); // replace the list
    archive(waves());
    EXPECT_TRUE(ptf->writtenFiles().empty());
    EXPECT_EQ(readText(ptf->cueName()), earlier);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"base.TVC", "base01.WAV"}));
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
        // The START ID frame: listed where it is counted, in the file it begins.
        ASSERT_TRUE(c.addFault({400, 400, sim::FaultKind::Left}, error));
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
        "   PNo: 2    Format: 48000 / 16 (16)        Copy: Permit    Err: 1,1,0\r\n"
        "   Frame: 400     00h00m12s00   Time: 00h00m12s\r\n"
        ";; Err: 00h00m12s00 L   00h00m15s00 R  \r\n";
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
