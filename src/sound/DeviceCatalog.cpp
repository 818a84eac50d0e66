#include "sound/DeviceCatalog.h"

#include "sound/SoundMessages.h"

namespace tarnvel::sound {

const char* driverTypeName(SoundDriverType type)
{
    switch (type) {
    case SoundDriverType::Alsa:
        return tr(msg::kDriverAlsa);
    case SoundDriverType::Pulse:
        return tr(msg::kDriverPulse);
    case SoundDriverType::Jack:
        return tr(msg::kDriverJack);
    }
    return "";
}

std::string DeviceCatalog::listedDriverName(const std::string& name)
{
    if (name.size() < 32)
        return name;
    return name.substr(0, 28) + "...";
}

const MessagePair* DeviceCatalog::refresh(AudioBackend& backend, SoundDriverType type,
                                          StreamDirection direction)
{
    type_ = type;
    entries_.clear();
    const bool output = direction == StreamDirection::Output;
    const MessagePair* none = output ? &msg::kNoWaveOutputDevice : &msg::kNoWaveInputDevice;
    std::vector<AudioDeviceInfo> devices;
    std::string error;
    const bool listed = backend.listDevices(devices, error);
    if (type == SoundDriverType::Jack) {
        if (!listed)
            return &msg::kUnableToCreateDriverList;
        for (unsigned i = 0; i < devices.size() && entries_.size() < kMaxNames; ++i) {
            Entry e;
            e.backendIndex = i;
            e.name = listedDriverName(devices[i].name).substr(0, 31);
            e.info = devices[i];
            entries_.push_back(std::move(e));
        }
        return entries_.empty() ? &msg::kNoDriver : nullptr;
    }
    if (!listed)
        return none;
    Entry def;
    def.isDefault = true;
    def.name = tr(msg::kDefaultDevice);
    const int d = backend.defaultDevice(direction);
    if (d >= 0 && static_cast<unsigned>(d) < devices.size()) {
        def.backendIndex = static_cast<unsigned>(d);
        def.info = devices[static_cast<unsigned>(d)];
    }
    entries_.push_back(def);
    for (unsigned i = 0; i < devices.size(); ++i) {
        const AudioDeviceInfo& dev = devices[i];
        if ((output ? dev.outputChannels : dev.inputChannels) == 0)
            continue;
        // The entry table of the PulseAudio type holds ten entries, the default included.
        if (type == SoundDriverType::Pulse && entries_.size() >= kMaxNames)
            break;
        Entry e;
        e.backendIndex = i;
        // A device whose capabilities cannot be read is listed with an empty name.
        e.name = dev.probed ? dev.name : std::string();
        if (type == SoundDriverType::Pulse)
            e.name = e.name.substr(0, kEntryNameChars);
        e.info = dev;
        entries_.push_back(std::move(e));
    }
    if (entries_.size() == 1) {
        entries_.clear();
        return none;
    }
    if (d < 0) {
        // No default known: number 0 stands for the first device.
        entries_[0].backendIndex = entries_[1].backendIndex;
        entries_[0].info = entries_[1].info;
    }
    return nullptr;
}

int DeviceCatalog::deviceCount() const
{
    if (entries_.empty())
        return 0;
    return type_ == SoundDriverType::Jack ? static_cast<int>(entries_.size())
                                          : static_cast<int>(entries_.size()) - 1;
}

std::string DeviceCatalog::deviceName(int number) const
{
    const Entry* e = entry(number);
    return e ? e->name : std::string();
}

const DeviceCatalog::Entry* DeviceCatalog::entry(int number) const
{
    if (number < 0 || static_cast<std::size_t>(number) >= entries_.size())
        return nullptr;
    return &entries_[static_cast<std::size_t>(number)];
}

} // namespace tarnvel::sound
