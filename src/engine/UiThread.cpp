#include "engine/UiThread.h"

#include <algorithm>

namespace tarnvel::engine {

EventLoop::EventLoop() : owner_(std::this_thread::get_id()) {}

void EventLoop::post(Task task)
{
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void EventLoop::invoke(const Task& task)
{
    if (onUiThread()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    post([&] {
        task();
        // Notified under the lock: the waiter cannot return (and destroy these) before.
        std::lock_guard lock(doneMutex);
        done = true;
        doneCv.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneCv.wait(lock, [&] { return done; });
}

bool EventLoop::runOne(Clock::time_point deadline)
{
    Task task;
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto now = Clock::now();
            auto due =
                std::min_element(timers_.begin(), timers_.end(),
                                 [](const Timer& a, const Timer& b) { return a.due < b.due; });
            if (due != timers_.end() && due->due <= now) {
                task = std::move(due->task);
                timers_.erase(due);
                break;
            }
            if (!tasks_.empty()) {
                task = std::move(tasks_.front());
                tasks_.pop_front();
                break;
            }
            if (now >= deadline)
                return false;
            auto until = deadline;
            if (due != timers_.end())
                until = std::min(until, due->due);
            wake_.wait_until(lock, until);
        }
    }
    task();
    return true;
}

void EventLoop::pumpFor(int ms)
{
    // At least one pending task runs, even for a wait of 0.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, ms));
    while (runOne(deadline) && Clock::now() < deadline) {
    }
}

UiThread::TimerId EventLoop::callAfter(int ms, Task task)
{
    std::lock_guard lock(mutex_);
    const TimerId id = nextTimer_++;
    timers_.push_back(
        {id, Clock::now() + std::chrono::milliseconds(std::max(0, ms)), std::move(task)});
    wake_.notify_all();
    return id;
}

void EventLoop::cancel(TimerId id)
{
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

bool EventLoop::runUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = timeoutMs < 0 ? Clock::time_point::max()
                                        : Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline)
            return done();
        runOne(std::min(deadline, Clock::now() + std::chrono::milliseconds(50)));
    }
    return true;
}

} // namespace tarnvel::engine
