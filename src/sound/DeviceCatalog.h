#pragma once

#include "common/Message.h"
#include "sound/AudioBackend.h"

#include <string>
#include <vector>

namespace tarnvel::sound {

// The device list of one direction and driver type, numbered as the settings number devices
// (`PlayDeviceNum`, `RecDeviceNum`):
// - ALSA and PulseAudio: number 0 is the system's default device, 1..deviceCount() the others;
// - JACK: numbers 0..deviceCount()-1 are the devices (JACK clients with ports).
// Main thread only.
class DeviceCatalog {
public:
    struct Entry {
        bool isDefault = false; // number 0 of ALSA and PulseAudio
        unsigned backendIndex = 0;
        std::string name;     // as listed
        AudioDeviceInfo info; // the default entry carries the default device's info
    };

    // Re-reads the list. Returns the message that makes the type unavailable, or nullptr.
    const MessagePair* refresh(AudioBackend& backend, SoundDriverType type,
                               StreamDirection direction);
    void clear() { entries_.clear(); }

    int deviceCount() const;
    std::string deviceName(int number) const;
    // The entry a device number stands for; nullptr when out of range.
    const Entry* entry(int number) const;

    // The name rule of the low-latency driver list: names of 32 characters or more become their
    // first 28 characters and "...".
    static std::string listedDriverName(const std::string& name);

    static constexpr int kMaxNames = 10;
    static constexpr std::size_t kEntryNameChars = 42;

private:
    SoundDriverType type_ = SoundDriverType::Alsa;
    std::vector<Entry> entries_;
};

// The name shown for a driver type.
const char* driverTypeName(SoundDriverType type);

} // namespace tarnvel::sound
