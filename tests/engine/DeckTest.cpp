#include "DeckFixture.h"
#include "engine/EngineMessages.h"

#include <algorithm>
#include <thread>

namespace tarnvel::engine::test {
namespace {

// The tape indices found in what the sound device played: frames are told by the index in
// word 0 and the pattern that follows it (silence from the device can shift the stream).
std::vector<std::int64_t> framesIn(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int64_t> out;
    auto word = [&](std::size_t w) {
        return static_cast<std::int16_t>(bytes[2 * w] | bytes[2 * w + 1] << 8);
    };
    const std::size_t words = bytes.size() / 2;
    for (std::size_t w = 0; w + 3 < words; ++w) {
        const std::int16_t v = word(w);
        if (v < 0)
            continue;
        if (word(w + 1) == tapeSample(v, 1) && word(w + 2) == tapeSample(v, 2) &&
            word(w + 3) == tapeSample(v, 3)) {
            out.push_back(v);
            w += 3;
        }
    }
    return out;
}

class DeckTest : public DeckFixture {};

TEST_F(DeckTest, ATapeInsertedWhileIdleLoadsAndTheNextPollEnablesTheTransport)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(100);
    });
    openDeck(false);
    ASSERT_TRUE(loop.runUntil(
        [&] { return view.text(Control::RunningStatusStaticText) == " No Tape"; }, 10000));
    EXPECT_TRUE(view.enabled(Control::RecButton)); // code 3 allows recording to be set up
    EXPECT_FALSE(view.enabled(Control::PlayButton));

    std::string error;
    ASSERT_TRUE(simDrive->insertCassette(cassettePath, error)) << error;
    ASSERT_TRUE(loop.runUntil(
        [&] { return view.shown(Control::RunningStatusStaticText, " Loading..."); }, 10000));
    ASSERT_TRUE(loop.runUntil([&] { return deck->tapeChecked(); }, 10000));
    EXPECT_FALSE(view.enabled(Control::PlayButton)); // the arrival poll itself enables nothing
    deck->pollNow();
    EXPECT_TRUE(view.enabled(Control::PlayButton));
    EXPECT_TRUE(view.enabled(Control::EjectButton));
    EXPECT_EQ(view.text(Control::RunningStatusStaticText), " Ready");
}

TEST_F(DeckTest, AFormatChangeMidTapeRestartsAndPlaysTheFirstNewFrame)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(150);
        b.format(44100);
        b.frames(150);
    });
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    playToEnd();
    const std::vector<std::int64_t> frames = framesIn(heard);
    ASSERT_FALSE(frames.empty());
    EXPECT_LE(frames.front(), 1);
    // Every frame once, in order: nothing lost at the change, nothing played twice.
    for (std::size_t i = 1; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], frames[i - 1] + 1) << "after frame " << frames[i - 1];
    EXPECT_EQ(frames.back(), 299);
    EXPECT_EQ(view.text(Control::FormatStaticText), "44100 / 16");
    EXPECT_EQ(view.text(Control::ErrorStatusStaticText), " End of Tape");
    EXPECT_EQ(view.text(Control::RunningStatusStaticText), " Stopped");
    EXPECT_FALSE(deck->lastRunFailed());
}

TEST_F(DeckTest, SkipPlayJumpsToTheNextProgramAndPlaysOn)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.skip();
        b.frames(400);
        b.start(2);
        b.frames(400);
    });
    settings.EnableSkipPlay = true;
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    playToEnd();
    const std::vector<std::int64_t> frames = framesIn(heard);
    EXPECT_TRUE(std::count(frames.begin(), frames.end(), 350));
    EXPECT_FALSE(std::count(frames.begin(), frames.end(), 600)); // skipped
    EXPECT_TRUE(std::count(frames.begin(), frames.end(), 1100)); // program 2 played
}

TEST_F(DeckTest, AnErrorLimitStopsWithItsTextAndAnEndIdStopsQuietly)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(350);
        b.end();
        b.frames(300);
        std::string error;
        ASSERT_TRUE(c.addFault({20, 39, sim::FaultKind::Right}, error)) << error;
    });
    settings.ErrorStopCounter = 10;
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    playToEnd();
    EXPECT_EQ(view.text(Control::ErrorStatusStaticText), " error frames exceed limit. (R)");
    EXPECT_EQ(view.text(Control::ErrorRchStaticText), "10");
    EXPECT_TRUE(deck->lastRunFailed());

    settings.ErrorStopCounter = -1;
    deck->settingsChanged();
    deck->rewind();
    waitForTape();
    playToEnd();
    EXPECT_EQ(view.text(Control::ErrorRchStaticText), "20");
    EXPECT_EQ(view.text(Control::ErrorStatusStaticText), "");
    EXPECT_FALSE(deck->lastRunFailed());
    EXPECT_EQ(framesIn(heard).back(), 349); // stopped at the END ID
}

TEST_F(DeckTest, ShiftNextPlaysOnlyWhenTheSearchSucceeds)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.start(2);
        b.frames(400);
    });
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    // Program 2 follows: the search succeeds and playback starts.
    EXPECT_TRUE(deck->nextPNo({true, false}));
    EXPECT_TRUE(deck->state().running.load());
    EXPECT_EQ(view.text(Control::RunningStatusStaticText), " [Play]");
    deck->stop();
    ASSERT_TRUE(loop.runUntil([&] { return deck->idle(); }, 20000));
    waitForTape();
    EXPECT_GE(deck->drive()->getPosition(deck->driveIndex())->currentPNo, 2);
    // Nothing after the last program: no search, no playback.
    EXPECT_FALSE(deck->nextPNo({true, false}));
    EXPECT_FALSE(deck->state().running.load());
}

TEST_F(DeckTest, DirectEntryAbove799SearchesForTheLastNumber)
{
    SearchEdits e;
    e.programNumber = "850";
    EXPECT_EQ(e.typedProgramNumber(), 799);
    e.programNumber = "";
    EXPECT_EQ(e.typedProgramNumber(), 0);
    e.mem1 = {"1", "02", "", "33"};
    EXPECT_EQ(e.memTime(1), (dat::TimeCode{0x01, 0x02, 0x00, 0x33}));
}

TEST(SearchEditsTest, TimeCaptureTakesATimeOnlyWhereThereIsOne)
{
    struct Case {
        const char* shown;
        std::array<std::string, 4> edits;
    };
    const std::array<std::string, 4> before{"2", "10", "20", "30"};
    const Case cases[] = {
        {" 01h23m45s12", {"1", "23", "45", "12"}},
        {" 00h00m00s00", {"0", "00", "00", "00"}},
        {" --h--m--s--", before}, // no ABS time: the edits stay
        {"-00h00m01s20", before}, // the lead-in
        {" 10h00m00s00", before}, // not a tape's time
        {"", before},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        for (int mem : {1, 2}) {
            SearchEdits e;
            e.mem1 = before;
            e.mem2 = before;
            e.capture(mem, c.shown);
            EXPECT_EQ(mem == 1 ? e.mem1 : e.mem2, c.edits);
            EXPECT_EQ(mem == 1 ? e.mem2 : e.mem1, before);
        }
    }
}

TEST_F(DeckTest, EscapeOffersToAbortAHangingCommandAndNoKeepsTheProgramOpen)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(600);
    });
    sim::SimOptions slow = fastSim();
    slow.motionScale = 1.0; // a search that takes seconds
    openDeck(true, slow);
    waitForTape();
    deck->stopTimer(); // no status poll beside the hanging command
    // A command without the immediate bit hangs until the motion ends or is aborted.
    dat::DatDrive& drive = *deck->drive();
    std::thread hanging([&] {
        drive.locate(deck->driveIndex(), dat::DatDrive::kLocateByProgram, false, 0, 0, 9, 0);
    });
    ASSERT_TRUE(loop.runUntil([&] { return !drive.commandInProgressName().empty(); }, 5000));
    view.answers.push_back({false, false});
    EXPECT_FALSE(deck->closeRequest({}));
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], "LOCATE\n\nNow executing SCSI command above.\n Try to abort?");
    view.answers.push_back({true, false});
    EXPECT_TRUE(deck->closeRequest({}));
    hanging.join();
    EXPECT_TRUE(drive.commandInProgressName().empty());
}

} // namespace
} // namespace tarnvel::engine::test
