#include "engine/WriteThread.h"

#include <chrono>

namespace tarnvel::engine {

namespace {
void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

WriteThread::WriteThread(std::function<WriteResult(const dat::DatFrame&)> write)
    : write_(std::move(write))
{
    alive_.store(true);
    thread_ = std::thread([this] { run(); });
}

WriteThread::~WriteThread()
{
    terminate();
}

void WriteThread::start()
{
    stop();
    ring_.clear();
    error_.store(kErrorNone, std::memory_order_release);
    {
        std::lock_guard lock(mutex_);
        enabled_.store(true, std::memory_order_release);
        active_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

int WriteThread::putFrame(const dat::DatFrame& frame)
{
    while (ring_.full()) {
        if (const int e = error(); e != kErrorNone)
            return e;
        if (!active_.load(std::memory_order_acquire))
            return kErrorWrite; // nobody will make room
        sleepMs(5);
    }
    ring_.nextFree() = frame;
    ring_.publish();
    return error();
}

void WriteThread::drainAndStop()
{
    while (active_.load(std::memory_order_acquire) && ring_.taken() != ring_.put() &&
           error() == kErrorNone)
        sleepMs(5);
    stop();
}

void WriteThread::stop()
{
    enabled_.store(false, std::memory_order_release);
    while (active_.load(std::memory_order_acquire))
        sleepMs(5);
}

void WriteThread::terminate()
{
    stop();
    {
        std::lock_guard lock(mutex_);
        terminate_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void WriteThread::run()
{
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            // Wait for a run (active_), not for enabled_: a stop() that comes before this
            // thread wakes clears enabled_ and then waits for active_, which only this
            // thread clears.
            wake_.wait(lock, [&] { return terminate_ || active_.load(); });
            if (terminate_)
                break;
        }
        while (enabled_.load(std::memory_order_acquire)) {
            if (ring_.taken() != ring_.put()) {
                const WriteResult r = write_(ring_.oldest());
                if (r != WriteResult::Written) {
                    error_.store(r == WriteResult::EndOfTape ? kErrorEndOfTape : kErrorWrite,
                                 std::memory_order_release);
                    break;
                }
                ring_.consumed();
                continue; // the next frame at once: the drive paces the writes
            }
            sleepMs(5);
        }
        enabled_.store(false, std::memory_order_release);
        active_.store(false, std::memory_order_release);
    }
    alive_.store(false);
}

} // namespace tarnvel::engine
