#pragma once

#include "sound/NullAudioBackend.h"
#include "sound/SoundDevice.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnvel::sound::test {

// Everything the null device's output stream received.
struct OutputCapture {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;
    int blocks = 0;

    void attach(NullDeviceOptions& options)
    {
        options.outputTap = [this](const std::uint8_t* data, std::size_t n) {
            std::lock_guard lock(mutex);
            bytes.insert(bytes.end(), data, data + n);
            ++blocks;
        };
    }
    std::vector<std::uint8_t> snapshot()
    {
        std::lock_guard lock(mutex);
        return bytes;
    }
};

// An owner that records what the device objects tell it.
class RecordingOwner : public SoundOwner {
public:
    void post(SoundEvent event) override
    {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    void setControlEnabled(SoundControl control, bool on) override
    {
        std::lock_guard lock(mutex);
        enabled[static_cast<int>(control)] = on;
    }
    bool controlEnabled(SoundControl control) const override
    {
        std::lock_guard lock(mutex);
        return enabled[static_cast<int>(control)];
    }
    void setTimeText(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        timeText = text;
    }
    void setTotalText(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        totalText = text;
    }
    void setFormatText(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        formatText = text;
    }
    std::vector<SoundEvent> eventsSeen() const
    {
        std::lock_guard lock(mutex);
        return events;
    }

    mutable std::mutex mutex;
    std::vector<SoundEvent> events;
    bool enabled[4] = {false, false, false, false};
    std::string timeText, totalText, formatText;
};

// Waits (bounded, so that a fault shows as a failure rather than a hang) for a state word value.
inline bool waitForState(const SoundDevice& device, int state, int timeoutMs = 20000)
{
    for (int waited = 0; waited < timeoutMs; ++waited) {
        if (device.stateWord() == state)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

template <typename Pred> bool waitUntil(Pred pred, int timeoutMs = 20000)
{
    for (int waited = 0; waited < timeoutMs; ++waited) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

inline std::int16_t sample16(const std::vector<std::uint8_t>& b, std::size_t index)
{
    return static_cast<std::int16_t>(b[2 * index] | (b[2 * index + 1] << 8));
}

} // namespace tarnvel::sound::test
