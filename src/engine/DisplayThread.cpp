#include "engine/DisplayThread.h"

#include <chrono>

namespace tarnvel::engine {

DisplayThread::DisplayThread(std::function<int()> turn) : turn_(std::move(turn))
{
    alive_.store(true);
    thread_ = std::thread([this] { run(); });
}

DisplayThread::~DisplayThread()
{
    terminate();
}

void DisplayThread::hold(const std::function<void(int)>& pump)
{
    {
        std::lock_guard lock(mutex_);
        holdRequest_ = true;
    }
    while (!suspended_.load()) {
        if (pump)
            pump(20);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void DisplayThread::release()
{
    {
        std::lock_guard lock(mutex_);
        holdRequest_ = false;
    }
    wake_.notify_all();
}

void DisplayThread::suspend(const std::function<void(int)>& pump)
{
    {
        std::lock_guard lock(mutex_);
        ++suspendCount_;
    }
    while (!suspended_.load()) {
        if (pump)
            pump(5);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void DisplayThread::resume()
{
    {
        std::lock_guard lock(mutex_);
        if (suspendCount_ > 0)
            --suspendCount_;
    }
    wake_.notify_all();
}

void DisplayThread::terminate()
{
    {
        std::lock_guard lock(mutex_);
        terminate_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void DisplayThread::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (terminate_)
            break;
        if (holdRequest_ || suspendCount_ > 0) {
            suspended_.store(true);
            wake_.wait(lock, [&] { return terminate_ || (!holdRequest_ && suspendCount_ == 0); });
            continue;
        }
        suspended_.store(false);
        lock.unlock();
        const int pauseMs = turn_();
        lock.lock();
        // The pause is cut short by a hold or termination.
        wake_.wait_for(lock, std::chrono::milliseconds(pauseMs),
                       [&] { return terminate_ || holdRequest_ || suspendCount_ > 0; });
    }
    suspended_.store(true);
    alive_.store(false);
}

} // namespace tarnvel::engine
