#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The worker that drives the tape while the deck is idle, waits for motion and runs the
// file and recording loops. The window thread gives it one command at a time; the thread
// takes it exactly once and reports idle when it is done.
namespace tarnvel::engine {

enum class SubCommand : int {
    None = 0,
    DriveCheck = 1,
    StatusPoll = 2,
    MotionWait = 3,
    PlayLoop = 4,
    RecordLoop = 5,
};

class SubThread {
public:
    // `execute` runs each command on the thread.
    explicit SubThread(std::function<void(SubCommand)> execute);
    ~SubThread();
    SubThread(const SubThread&) = delete;
    SubThread& operator=(const SubThread&) = delete;

    // Window thread: hands a command over; false (nothing done) while one is still running.
    bool issue(SubCommand command);
    // Any thread: no command is running.
    bool idle() const { return command_.load(std::memory_order_acquire) == SubCommand::None; }
    SubCommand command() const { return command_.load(std::memory_order_acquire); }
    bool alive() const { return alive_.load(); }
    // Asks the thread to end once the running command returns, and joins it.
    void terminate();

private:
    void run();

    std::function<void(SubCommand)> execute_;
    std::mutex mutex_;
    std::condition_variable wake_;
    // Set by the window thread only while None; reset by the worker when done. The worker
    // waits on the condition for a non-zero command, so a command issued at any moment is
    // seen (a suspend after clearing could miss it).
    std::atomic<SubCommand> command_{SubCommand::None};
    bool terminate_ = false;
    std::atomic<bool> alive_{false};
    std::thread thread_;
};

} // namespace tarnvel::engine
