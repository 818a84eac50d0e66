#include "engine/SubThread.h"

#include <chrono>

namespace tarnvel::engine {

SubThread::SubThread(std::function<void(SubCommand)> execute) : execute_(std::move(execute))
{
    alive_.store(true);
    thread_ = std::thread([this] { run(); });
}

SubThread::~SubThread()
{
    terminate();
}

bool SubThread::issue(SubCommand command)
{
    {
        std::lock_guard lock(mutex_);
        if (command_.load() != SubCommand::None || terminate_)
            return false;
        command_.store(command, std::memory_order_release);
    }
    wake_.notify_all();
    return true;
}

void SubThread::terminate()
{
    {
        std::lock_guard lock(mutex_);
        terminate_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SubThread::run()
{
    for (;;) {
        SubCommand command;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return terminate_ || command_.load() != SubCommand::None; });
            if (command_.load() == SubCommand::None)
                break; // terminating with nothing to do
            command = command_.load();
        }
        execute_(command);
        {
            std::lock_guard lock(mutex_);
            command_.store(SubCommand::None, std::memory_order_release);
        }
        // The pause after a command, as the drive expects between command bursts.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    alive_.store(false);
}

} // namespace tarnvel::engine
