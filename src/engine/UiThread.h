#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The window thread: the one thread that runs the event loop, owns the views and issues
// drive commands while the engine is idle. Workers hand it work with post() (later) or
// invoke() (now, waiting); while it waits for a worker it keeps processing work with
// pumpFor(), so a worker's invoke() can never deadlock against it.
namespace tarnvel::engine {

class UiThread {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    virtual ~UiThread() = default;

    // Any thread: runs `task` on the window thread later.
    virtual void post(Task task) = 0;
    // Any thread: runs `task` on the window thread and returns when it has run (at once when
    // called on the window thread).
    virtual void invoke(const Task& task) = 0;
    // Window thread: processes pending work and timers for about `ms` milliseconds.
    virtual void pumpFor(int ms) = 0;
    // Window thread: runs `task` once after `ms` milliseconds (while the loop runs or pumps).
    virtual TimerId callAfter(int ms, Task task) = 0;
    // Window thread: forgets a timer that has not fired (unknown ids are ignored).
    virtual void cancel(TimerId id) = 0;
    virtual bool onUiThread() const = 0;
};

// The event loop of the command line and the tests: a queue of tasks and timers served by
// the thread that created it.
class EventLoop final : public UiThread {
public:
    EventLoop();

    void post(Task task) override;
    void invoke(const Task& task) override;
    void pumpFor(int ms) override;
    TimerId callAfter(int ms, Task task) override;
    void cancel(TimerId id) override;
    bool onUiThread() const override { return std::this_thread::get_id() == owner_; }

    // Runs the loop until `done` returns true (checked after every task) or `timeoutMs` has
    // passed (negative: no limit). Returns the last value of `done`.
    bool runUntil(const std::function<bool()>& done, int timeoutMs = -1);

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        TimerId id;
        Clock::time_point due;
        Task task;
    };
    // Runs one due timer or queued task, waiting until `deadline` for one; false when none
    // came.
    bool runOne(Clock::time_point deadline);

    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::vector<Timer> timers_;
    TimerId nextTimer_ = 1;
};

} // namespace tarnvel::engine
