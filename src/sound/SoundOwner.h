#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace tarnvel::sound {

// Events a device object posts to its owner when a run begins and ends.
enum class SoundEvent : unsigned {
    PlayStart = 0x8064, // WM_PLAY_START
    PlayEnd = 0x8065,   // WM_PLAY_END
    RecStart = 0x806E,  // WM_REC_START
    RecEnd = 0x806F,    // WM_REC_END
};

enum class SoundControl { Start, Stop, Pause, Other };

// The owner of a device object: the window (or CLI loop) whose thread calls every operation.
// The device's thread hands display work to it with invoke(); the optional controls and labels
// are reached through it. Every method has a do-nothing default, so an owner implements only
// what it shows. Unless said otherwise, methods are called on the owner's thread.
class SoundOwner {
public:
    virtual ~SoundOwner() = default;

    // Called from the device's thread: run `fn` on the owner's thread and wait for it.
    // The default runs it at once on the calling thread.
    virtual void invoke(const std::function<void()>& fn) { fn(); }
    // Any thread: deliver an event to the owner later (posted, not waited for).
    virtual void post(SoundEvent /*event*/) {}
    // Owner thread, while it waits for a run to end: process pending work for up to `ms`.
    // An owner whose invoke() queues work must run that work here.
    virtual void pumpFor(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    virtual void setControlEnabled(SoundControl /*control*/, bool /*enabled*/) {}
    virtual bool controlEnabled(SoundControl /*control*/) const { return false; }
    virtual void setPauseDown(bool /*down*/) {}
    virtual void setTimeText(const std::string& /*text*/) {}
    virtual void setTotalText(const std::string& /*text*/) {}
    virtual void setFormatText(const std::string& /*text*/) {}
    // Position bar in seconds.
    virtual void setPositionRange(int /*maxSeconds*/, int /*pageSeconds*/) {}
    virtual void setPositionEnabled(bool /*enabled*/) {}
    virtual void setPosition(int /*seconds*/) {}
};

} // namespace tarnvel::sound
