// What the deck does with events that arrive while it is busy: during a run's start (its
// dialog, its positioning), during its end (the pauses, the restarts, the skip search) and
// during a pause. The test thread is the deck's window thread, so an event posted to the loop
// arrives exactly where the deck serves events while it waits.
#include "DeckFixture.h"
#include "engine/LongPlay.h"
#include "record/LongPlayEncode.h"

#include <algorithm>
#include <memory>

namespace tarnvel::engine::test {
namespace {

// Play-to-file into memory: a test can act inside the set-up, and sees every block written
// (the first sample of each).
class MemoryFiles : public PlayToFileController, public PlayOutput {
public:
    // PlayToFileController (window thread).
    bool setUp(Modifiers) override
    {
        active_ = true;
        return onSetUp ? onSetUp() : true;
    }
    PlayOutput* output() override { return active_ ? this : nullptr; }
    bool fileOnly() const override { return fileLoop; }
    std::string runningText() const override { return " [Play] >> Wave"; }
    bool restart() override { return true; }
    void finish() override
    {
        active_ = false;
        ++finishes;
    }
    void abandon() override { active_ = false; }

    // PlayOutput (playback thread).
    bool image() const override { return false; }
    bool peer() const override { return false; }
    bool writeFrame(const dat::DatFrame&, std::uint32_t) override { return true; }
    bool writeAudio(const std::uint8_t* data, std::uint32_t bytes, std::uint32_t) override
    {
        std::lock_guard lock(mutex_);
        firstPairs_.emplace_back(static_cast<std::int16_t>(data[0] | data[1] << 8),
                                 static_cast<std::int16_t>(data[2] | data[3] << 8));
        bytes_ += bytes;
        return true;
    }

    // The first sample pair of every block written.
    std::vector<std::pair<std::int16_t, std::int16_t>> firstPairs()
    {
        std::lock_guard lock(mutex_);
        return firstPairs_;
    }
    std::uint64_t bytes()
    {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

    bool fileLoop = true;
    std::function<bool()> onSetUp;
    int finishes = 0;

private:
    bool active_ = false;
    std::mutex mutex_;
    std::vector<std::pair<std::int16_t, std::int16_t>> firstPairs_;
    std::uint64_t bytes_ = 0;
};

// Runs `step` on the window thread every millisecond (while the loop runs or the deck waits),
// until it is destroyed.
class Watcher {
public:
    Watcher(EventLoop& loop, std::function<void()> step)
        : loop_(loop), step_(std::move(step)), alive_(std::make_shared<bool>(true))
    {
        schedule();
    }
    ~Watcher() { *alive_ = false; }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

private:
    void schedule()
    {
        loop_.callAfter(1, [this, alive = alive_] {
            if (!*alive)
                return;
            step_();
            schedule();
        });
    }
    EventLoop& loop_;
    std::function<void()> step_;
    std::shared_ptr<bool> alive_;
};

class DeckActivityTest : public DeckFixture {
protected:
    std::size_t heardBytes()
    {
        std::lock_guard lock(tapMutex);
        return heard.size();
    }
    // The running status texts shown since history entry `from`.
    std::vector<std::string> statusSince(std::size_t from) const
    {
        std::vector<std::string> out;
        const std::string prefix = std::string(controlName(Control::RunningStatusStaticText)) + "=";
        for (std::size_t i = from; i < view.history.size(); ++i)
            if (view.history[i].rfind(prefix, 0) == 0)
                out.push_back(view.history[i].substr(prefix.size()));
        return out;
    }
    void waitForEnd(std::uint64_t ends)
    {
        ASSERT_TRUE(loop.runUntil([&] { return deck->playEnds() > ends && deck->idle(); }, 60000));
    }
    // A long-play tape whose frame i decodes to two halves that tell i and the half by
    // their first sample pair (values below 512 come back exactly).
    void longPlayTape(const std::function<void(TapeBuilder&)>& ids)
    {
        makeTape([&](sim::Cassette& c) {
            TapeBuilder b(c, 32000, 1);
            b.audio = [](std::int64_t i, dat::DatFrame& f) {
                for (int half = 0; half < 2; ++half) {
                    std::vector<std::uint8_t> block(kLongPlayHalfBytes, 0);
                    block[0] = static_cast<std::uint8_t>(i % 200 * 2 + half);
                    block[1] = static_cast<std::uint8_t>((i % 200 * 2 + half) >> 8);
                    block[2] = static_cast<std::uint8_t>(i / 200);
                    record::encodeLongPlayHalf(block.data(), kLongPlayHalfBytes, half,
                                               f.audio.data());
                }
            };
            ids(b);
        });
    }
    // The frame and half a block of that tape comes from.
    static std::pair<int, int> frameHalf(std::pair<std::int16_t, std::int16_t> first)
    {
        return {first.second * 200 + first.first / 2, first.first % 2};
    }
};

TEST_F(DeckActivityTest, PlayAndAPollDuringTheEndOfARunStartNothingUnderIt)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(1500);
    });
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    const std::uint64_t ends = deck->playEnds();
    deck->play({});
    ASSERT_TRUE(loop.runUntil([&] { return heardBytes() > 40 * dat::kAudioBytes; }, 20000));
    const std::size_t mark = view.history.size();
    bool pressed = false;
    bool mayClose = true;
    Watcher w(loop, [&] {
        // The run has ended and its end handling runs (it waits, serving events).
        if (!pressed && !deck->state().running.load() && deck->playEnds() == ends) {
            pressed = true;
            deck->play({});
            deck->pollNow();
            mayClose = deck->closeRequest({});
        }
    });
    deck->stop();
    waitForEnd(ends);
    EXPECT_TRUE(pressed);
    // The window cannot close under the end handling; once idle it can.
    EXPECT_FALSE(mayClose);
    EXPECT_EQ(view.questions, std::vector<std::string>{"Unable to close while the drive running."});
    EXPECT_TRUE(deck->closeRequest({}));
    loop.pumpFor(20);
    // One run, ended; nothing plays on behind a deck that shows itself idle.
    EXPECT_EQ(deck->playEnds(), ends + 1);
    EXPECT_EQ(deck->state().playState.load(), kStateStopped);
    EXPECT_TRUE(deck->idle());
    EXPECT_FALSE(view.enabled(Control::StopButton));
    for (const std::string& s : statusSince(mark))
        EXPECT_NE(s, " [Play]");
}

TEST_F(DeckActivityTest, FormatChangeRestartsShowTheirPlayTextWhateverTicksDuringTheirEnd)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        for (int i = 0; i < 6; ++i) {
            b.frames(60);
            b.format(i % 2 == 0 ? 44100 : 48000);
        }
        b.frames(60);
    });
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    const std::uint64_t ends = deck->playEnds();
    const std::size_t mark = view.history.size();
    const std::string started = "notify PlayActive=1";
    int runs = 0;
    int polled = 0;
    Watcher w(loop, [&] {
        runs += static_cast<int>(std::count(view.history.begin() + static_cast<long>(mark),
                                            view.history.end(), started)) -
                runs;
        // The timer fires once in each end of the run (each restart waits, serving events).
        if (runs > polled && !deck->state().running.load() && deck->playEnds() == ends) {
            polled = runs;
            deck->pollNow();
        }
    });
    deck->play({});
    waitForEnd(ends);
    EXPECT_EQ(runs, 7);
    EXPECT_EQ(polled, 7);
    // Each start and restart shows the play text; no poll shows its status until the end.
    std::string status;
    for (std::size_t i = mark; i < view.history.size(); ++i) {
        const std::string& h = view.history[i];
        if (h.rfind("RunningStatusStaticText=", 0) == 0)
            status = h.substr(h.find('=') + 1);
        if (h == started) {
            EXPECT_EQ(status, " [Play]") << "entry " << i;
        }
        if (h == "notify PlayActive=0")
            break;
        EXPECT_NE(h, "RunningStatusStaticText= Ready") << "entry " << i;
    }
    EXPECT_EQ(view.text(Control::FormatStaticText), "48000 / 16");
    EXPECT_EQ(view.text(Control::ErrorStatusStaticText), " End of Tape");
}

TEST_F(DeckActivityTest, EventsWhileAPlayToFileSetUpPositionsTheTapeFindTheDeckBusy)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(300);
    });
    openDeck();
    waitForTape();
    MemoryFiles files;
    deck->setPlayToFileController(&files);
    std::size_t mark = 0;
    bool served = false;
    files.onSetUp = [&] {
        mark = view.history.size();
        // They arrive while the set-up waits for the tape to stop.
        loop.post([&] {
            served = true;
            deck->play({});
            deck->pollNow();
            deck->rewind();
            deck->searchAbs(dat::TimeCode{0, 0, 0x05, 0}, {});
        });
        EXPECT_TRUE(deck->rewindForRun(" Rewinding..."));
        EXPECT_TRUE(deck->positionToAbs(dat::TimeCode{0, 0, 0x02, 0}, " Positioning..."));
        EXPECT_FALSE(deck->state().running.load());
        return false; // cancelled
    };
    deck->playToFile({});
    EXPECT_TRUE(served);
    EXPECT_TRUE(loop.runUntil([&] { return deck->idle(); }, 10000));
    EXPECT_EQ(statusSince(mark), (std::vector<std::string>{" Rewinding...", " Positioning..."}));
    EXPECT_EQ(deck->playEnds(), 0u);
    EXPECT_FALSE(deck->state().running.load());
}

TEST_F(DeckActivityTest, AStopDuringOrRightAfterAFileRunsStartEndsIt)
{
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(1500);
    });
    openDeck();
    waitForTape();
    MemoryFiles files;
    deck->setPlayToFileController(&files);
    for (const bool duringSetUp : {false, true}) {
        SCOPED_TRACE(duringSetUp ? "during the set-up" : "right after the start");
        deck->rewind();
        waitForTape();
        files.onSetUp = [&] {
            if (duringSetUp)
                deck->stop();
            return true;
        };
        const std::uint64_t ends = deck->playEnds();
        const std::uint64_t before = files.bytes();
        deck->playToFile({});
        if (!duringSetUp)
            deck->stop(); // before the file loop's first turn
        waitForEnd(ends);
        EXPECT_EQ(files.bytes(), before);
        EXPECT_EQ(view.text(Control::ErrorStatusStaticText), "");
        EXPECT_FALSE(deck->lastRunFailed());
    }
    EXPECT_EQ(files.finishes, 2);
}

TEST_F(DeckActivityTest, PauseAndResumeOfAFileRunInVirtualIdMode)
{
    // The virtual tables are prepared on resume while the file loop waits (a thread sanitizer
    // sees the loop read them otherwise).
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        for (int p = 1; p <= 6; ++p) {
            b.start(p);
            b.frames(300);
        }
    });
    sim::SimOptions deckSpeed = fastSim();
    deckSpeed.realtime = true; // the run lasts while it is paused and resumed
    openDeck(true, deckSpeed);
    waitForTape();
    deck->setVirtualIdMode(true);
    deck->rewind();
    waitForTape();
    MemoryFiles files;
    deck->setPlayToFileController(&files);
    const std::uint64_t ends = deck->playEnds();
    deck->playToFile({});
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t at = files.bytes();
        ASSERT_TRUE(loop.runUntil([&] { return files.bytes() > at; }, 20000));
        deck->pause();
        EXPECT_EQ(deck->activity(), Activity::Paused);
        loop.pumpFor(5);
        deck->pause();
        EXPECT_EQ(deck->activity(), Activity::Playing);
    }
    deck->stop();
    waitForEnd(ends);
    EXPECT_FALSE(deck->lastRunFailed());
}

TEST_F(DeckActivityTest, RecIsDisabledWhileTheDriveIsBusy)
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
    EXPECT_TRUE(view.enabled(Control::RecButton));
    deck->stopTimer();
    dat::DatDrive& drive = *deck->drive();
    ASSERT_EQ(drive.locate(deck->driveIndex(), dat::DatDrive::kLocateByProgram, true, 0, 0, 9, 0),
              scsi::kSsComp);
    deck->pollNow();
    ASSERT_EQ(deck->state().lastUnitStatus.load(), dat::kUnitBusy);
    EXPECT_FALSE(view.enabled(Control::RecButton));
    EXPECT_FALSE(view.enabled(Control::PlayButton));
    deck->stopTimer();
}

TEST_F(DeckActivityTest, EveryOneFrameStepOnALongPlayTapeIsDecoded)
{
    longPlayTape([](TapeBuilder& b) {
        b.start(1);
        b.frames(50);
    });
    openDeck();
    waitForTape();
    deck->rewind();
    waitForTape();
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        const std::size_t from = heardBytes();
        deck->play({true, false});
        ASSERT_TRUE(deck->idle());
        const dat::DatFrame& frame = deck->pipeline().currentFrame();
        std::vector<std::uint8_t> expected(2 * kLongPlayHalfBytes);
        decodeLongPlayHalf(frame.audio.data(), 0, expected.data());
        decodeLongPlayHalf(frame.audio.data(), 1, expected.data() + kLongPlayHalfBytes);
        std::lock_guard lock(tapMutex);
        ASSERT_GE(heard.size(), from + expected.size());
        // The whole frame, both halves, as decoded samples.
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin() + from));
    }
    EXPECT_EQ(view.text(Control::FormatStaticText), "32000 / 12");
}

TEST_F(DeckActivityTest, ASkipRestartOnALongPlayTapeStartsWithAWholeFrame)
{
    longPlayTape([](TapeBuilder& b) {
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
    MemoryFiles files;
    deck->setPlayToFileController(&files);
    const std::uint64_t ends = deck->playEnds();
    deck->playToFile({});
    waitForEnd(ends);
    const auto blocks = files.firstPairs();
    ASSERT_GT(blocks.size(), 800u);
    ASSERT_EQ(blocks.size() % 2, 0u);
    // Each frame's two halves, one after the other: no half of a frame played alone.
    int jumps = 0;
    for (std::size_t i = 0; i < blocks.size(); i += 2) {
        const auto first = frameHalf(blocks[i]);
        ASSERT_EQ(first.second, 0) << "block " << i;
        ASSERT_EQ(frameHalf(blocks[i + 1]), std::make_pair(first.first, 1)) << "block " << i;
        if (i > 0 && first.first != frameHalf(blocks[i - 1]).first + 1)
            ++jumps;
    }
    EXPECT_EQ(jumps, 1); // over the skipped program
    EXPECT_EQ(frameHalf(blocks.back()).first, 1199);
}

} // namespace
} // namespace tarnvel::engine::test
