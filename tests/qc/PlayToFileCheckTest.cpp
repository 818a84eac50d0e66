#include "qc/PlayToFileCheck.h"

#include "engine/DeckFixture.h"
#include "qc/QualityCheck.h"

#include <filesystem>
#include <fstream>
#include <sstream>

// The desktop program's playback to files, checked behind the window's back.
namespace tarnvel::qc {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class PlayToFileCheckTest : public engine::test::DeckFixture {
protected:
    std::unique_ptr<engine::PlayToFile> ptf;
    std::unique_ptr<PlayToFileCheck> check;
    int ready = 0;
    std::string page, error;

    void SetUp() override
    {
        makeTape([](sim::Cassette& c) {
            engine::test::TapeBuilder b(c);
            b.start(1);
            b.frames(300);
            b.start(2);
            b.frames(400);
            b.skip();
            b.frames(200);
            std::string why;
            ASSERT_TRUE(c.addFault({450, 451, sim::FaultKind::Right}, why)) << why;
        });
        openDeck();
        ptf = std::make_unique<engine::PlayToFile>(*deck, settings);
        check = std::make_unique<PlayToFileCheck>(*ptf, *deck, loop);
        check->setPageReady([this](const std::string& p, const std::string& e) {
            ++ready;
            page = p;
            error = e;
        });
        deck->setPlayToFileController(check.get());
        waitForTape();
        deck->rewind();
        waitForTape();
    }
    void TearDown() override
    {
        deck.reset();
        check.reset();
        ptf.reset();
    }

    void playToFiles(engine::PlayDestination destination = engine::PlayDestination::Wave)
    {
        engine::PlayToFileRequest r;
        r.destination = destination;
        r.waveBase = dir.file("take");
        r.imageName = dir.file("take");
        r.divide = true;
        ptf->setRequest(r);
        const auto ends = deck->playEnds();
        deck->playToFile({});
        ASSERT_TRUE(loop.runUntil([&] { return deck->playEnds() > ends && deck->idle(); }, 60000));
    }
};

TEST_F(PlayToFileCheckTest, ARunToWaveFilesGetsItsPageWhileTheWindowGoesOn)
{
    playToFiles();
    ASSERT_TRUE(loop.runUntil([&] { return ready > 0; }, 60000));
    EXPECT_EQ(error, "");
    EXPECT_EQ(page, dir.file("take.html"));
    EXPECT_EQ(check->page(), page);
    EXPECT_FALSE(check->checking());
    const std::string html = readText(page);
    EXPECT_NE(html.find("src=\"take.qc/02-wave.png\""), std::string::npos);
    EXPECT_NE(html.find("SKIP at 00h00m21s00"), std::string::npos) << html; // frame 700
    EXPECT_NE(html.find("Error frames</dt><dd class=\"warn\">L 0, R 2, ABS 0"), std::string::npos);
    EXPECT_NE(html.find("TARNVEL DAT SIMULATOR"), std::string::npos);
    EXPECT_NE(html.find("end of the recording"), std::string::npos);
}

TEST_F(PlayToFileCheckTest, AnImageRunIsNotCheckedAndAClosedWindowEndsTheCheck)
{
    playToFiles(engine::PlayDestination::Image);
    loop.pumpFor(200);
    EXPECT_EQ(ready, 0);
    EXPECT_FALSE(check->checking());

    // Closed while checking: the check ends, and nothing is called afterwards.
    playToFiles();
    check.reset();
    loop.pumpFor(200);
    EXPECT_EQ(ready, 0);
}

} // namespace
} // namespace tarnvel::qc
