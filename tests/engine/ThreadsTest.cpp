#include "engine/DisplayThread.h"
#include "engine/SubThread.h"
#include "engine/UiThread.h"
#include "engine/WriteThread.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace tarnvel::engine {
namespace {

TEST(SubThread, EveryCommandIsTakenExactlyOnceHoweverFastTheyCome)
{
    std::atomic<int> polls{0};
    std::atomic<int> waits{0};
    // Every second command holds until released, so a second issue meets a running one
    // however fast the thread is; the others complete at once to race the next issue.
    std::atomic<bool> release{false};
    SubThread t([&](SubCommand c) {
        if (c == SubCommand::StatusPoll)
            ++polls;
        else if (c == SubCommand::MotionWait)
            ++waits;
        if (c == SubCommand::MotionWait)
            while (!release.exchange(false))
                std::this_thread::yield();
    });
    for (int i = 0; i < 40; ++i) {
        const SubCommand c = i % 2 ? SubCommand::MotionWait : SubCommand::StatusPoll;
        ASSERT_TRUE(t.issue(c));
        if (c == SubCommand::MotionWait) {
            EXPECT_FALSE(t.issue(c)); // one at a time
            release = true;
        }
        for (int w = 0; w < 5000 && !t.idle(); ++w)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(t.idle()) << "lost wake-up at " << i;
    }
    EXPECT_EQ(polls.load(), 20);
    EXPECT_EQ(waits.load(), 20);
    t.terminate();
    EXPECT_FALSE(t.alive());
}

TEST(EventLoop, InvokeFromAWorkerRunsOnTheLoopWhileItPumps)
{
    EventLoop loop;
    std::thread::id ranOn;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        loop.invoke([&] { ranOn = std::this_thread::get_id(); });
        done = true;
    });
    loop.runUntil([&] { return done.load(); }, 5000);
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    int fired = 0;
    const auto id = loop.callAfter(10, [&] { fired += 1; });
    loop.callAfter(10, [&] { fired += 10; });
    loop.cancel(id);
    loop.pumpFor(50);
    EXPECT_EQ(fired, 10);
}

TEST(WriteThread, FramesReachTheDriveInOrderAndAFullRingReturnsTheErrorAtOnce)
{
    std::vector<std::uint8_t> written;
    std::atomic<bool> failNext{false};
    std::atomic<bool> block{false};
    WriteThread w([&](const dat::DatFrame& f) {
        while (block.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (failNext.load())
            return WriteResult::EndOfTape;
        written.push_back(f.audio[0]);
        return WriteResult::Written;
    });
    w.start();
    dat::DatFrame f;
    for (int i = 0; i < 500; ++i) {
        f.audio[0] = static_cast<std::uint8_t>(i);
        ASSERT_EQ(w.putFrame(f), WriteThread::kErrorNone);
    }
    w.drainAndStop();
    ASSERT_EQ(written.size(), 500u);
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(written[i], static_cast<std::uint8_t>(i));

    // The end of the tape while the ring is full: the producer is told at once, not held.
    w.start();
    block = true;
    failNext = true;
    for (std::uint32_t i = 0; i < WriteRing::kSlots; ++i)
        ASSERT_EQ(w.putFrame(f), WriteThread::kErrorNone);
    block = false;
    while (w.error() == WriteThread::kErrorNone)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(w.putFrame(f), WriteThread::kErrorEndOfTape);
    w.stop();
}

// A run that ends before the writer thread has woken for it (a recording stopped at once)
// must not leave stop() waiting for a thread that never saw the run begin.
TEST(WriteThread, AStopBeforeTheThreadWakesEndsTheRun)
{
    WriteThread w([](const dat::DatFrame&) { return WriteResult::Written; });
    for (int i = 0; i < 300; ++i) {
        w.start();
        w.drainAndStop();
        ASSERT_FALSE(w.writing());
    }
}

TEST(DisplayThread, TurnsOnlyWhileReleasedAndACountedSuspendKeepsAHeldThreadHeld)
{
    std::atomic<int> turns{0};
    DisplayThread t([&] {
        ++turns;
        return 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(turns.load(), 0); // held from the start
    t.release();
    while (turns.load() < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t.suspend({});
    const int atSuspend = turns.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(turns.load(), atSuspend);
    t.hold({});
    t.resume(); // the hold still applies
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(turns.load(), atSuspend);
    t.release();
    while (turns.load() < atSuspend + 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t.terminate();
}

} // namespace
} // namespace tarnvel::engine
