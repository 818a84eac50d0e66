#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The thread that feeds the level meters, the waveform and the X-Y display about fifty
// times a second while a sound device runs. It starts held; the sound devices release it
// once their device has started and hold it again when their run ends.
namespace tarnvel::engine {

class DisplayThread {
public:
    // `turn` computes and shows one refresh; it returns the pause before the next turn in
    // milliseconds.
    explicit DisplayThread(std::function<int()> turn);
    ~DisplayThread();
    DisplayThread(const DisplayThread&) = delete;
    DisplayThread& operator=(const DisplayThread&) = delete;

    // Hold: waits until the thread has stopped turning. `pump` keeps the caller's events
    // going meanwhile (a turn may be waiting for the window thread).
    void hold(const std::function<void(int)>& pump);
    // Release: the thread turns again.
    void release();
    // A counted suspend around a file switch: a thread that was held stays held.
    void suspend(const std::function<void(int)>& pump);
    void resume();
    bool held() const { return suspended_.load(); }
    bool alive() const { return alive_.load(); }
    void terminate();

private:
    void run();

    std::function<int()> turn_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool terminate_ = false;
    bool holdRequest_ = true;
    int suspendCount_ = 0;
    std::atomic<bool> suspended_{true};
    std::atomic<bool> alive_{false};
    std::thread thread_;
};

} // namespace tarnvel::engine
