#pragma once

#include "common/Message.h"
#include "common/MessageSink.h"
#include "formats/StringPrintf.h"
#include "formats/WaveFormat.h"
#include "sound/AudioBackend.h"
#include "sound/DeviceCatalog.h"
#include "sound/FormatTable.h"
#include "sound/SampleRing.h"
#include "sound/SoundOwner.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnvel::sound {

// Run states of the owner's state word (`PlayState`, `RecState`).
inline constexpr int kStateStopped = 0;
inline constexpr int kStateRunning = 1;
inline constexpr int kStatePaused = 2;
inline constexpr int kStateStarting = 3;

// What the sound output and the sound input are created with (settings values come from the
// owner). Pointers are not owned and must outlive the device object.
struct SoundDeviceConfig {
    SoundOwner* owner = nullptr; // nullptr: no controls, hand-offs run on the device thread
    std::atomic<int>* stateWord = nullptr; // nullptr: the object keeps its own
    MessageSink* messages = nullptr;       // message boxes ("Stopped! ...", driver information)
    int bufferDivisor = 32;                // default buffer = rate / bufferDivisor frames
    int minBufferCount = 32;
    int latencyFrames = 0;
    SoundDriverType driverType = SoundDriverType::Alsa;
    bool useExtensible = false; // kept for the settings; Linux devices take the format as it is
    bool useDirect = false;     // kept for the settings
    int threadPriority = 3;     // 0..6, kept for the settings (the device callback has its own)
    std::shared_ptr<AudioBackendProvider> backends; // nullptr: the audio library
    unsigned deviceBufferFrames = 1024; // frames per device callback asked for (JACK: the server's)
    std::string clientName = "tarnvel"; // JACK client name
    bool connectPorts = true;           // JACK: connect to the device's ports
};

// What the sound output and the sound input share: driver type and device list, buffer sizing,
// the stream set-up of each driver type, format probing and the JACK-role queries.
// Owner thread only, unless a function says otherwise.
class SoundDevice {
public:
    virtual ~SoundDevice();
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    // Switches the driver type. Returns true when the new type is unavailable: the old type is
    // then back and getErrorText() says why.
    bool setDriverType(SoundDriverType type);
    SoundDriverType driverType() const { return config_.driverType; }
    void setUseExtensible(bool on) { config_.useExtensible = on; }

    int getDeviceCount() const { return catalog_.deviceCount(); }
    std::string getDeviceName(int number) const { return catalog_.deviceName(number); }

    // count limited to 2..64; the sizes are kept until the next default sizing is asked for.
    void setBuffers(int count, std::uint32_t bytes);
    int bufferCount() const { return bufferCount_; }
    std::uint32_t bufferBytes() const { return bufferBytes_; }

    const std::string& getErrorText() const { return errorText_; }
    // The audio library's own words for the last failure (may be empty).
    const std::string& errorDetail() const { return errorDetail_; }
    const formats::WaveFormat& getFormat() const { return format_; }

    FormatTable probeFormats(int deviceNumber, bool queryOnly);

    // JACK role. openTest opens the device and keeps its data for channelCount/channelName.
    bool openTest(int deviceNumber);
    bool controlPanel(int deviceNumber); // no server offers one: always false
    int channelCount() const;
    std::string channelName(int channel) const;
    // Shows the driver information text through the message sink; false (ErrorText set) when
    // the device cannot be opened.
    bool driverInfo(int deviceNumber, int firstChannel);
    // The text driverInfo shows (also for the command line).
    bool driverInfoText(int deviceNumber, int firstChannel, std::string& text);

    int stateWord() const { return stateWord_->load(std::memory_order_acquire); }

protected:
    SoundDevice(StreamDirection direction, const SoundDeviceConfig& config);

    // Sets ErrorText from a message (printf arguments follow) and returns false.
    bool fail(const MessagePair& message);
    bool failFormat(const MessagePair& message, const formats::WaveFormat& f);
    template <typename... Args> bool failf(const MessagePair& message, Args... args);

    void refreshDevices(bool clearError);
    void applyDefaultSizing(int extraFrames);
    void setStateWord(int value) { stateWord_->store(value, std::memory_order_release); }
    // Window thread, at the end of a run: controls back to idle, state word stopped, and the
    // run's error shown. Returns true when there was an error to show.
    bool endRunOnWindowThread(bool otherWasEnabled);
    static bool formatPlayable(const formats::WaveFormat& f);
    std::string formatText(const formats::WaveFormat& f) const;
    SoundOwner& owner() { return *owner_; }
    SoundOwner& defaultOwner() { return defaultOwner_; }
    MessageSink& messages();

    // Works out the stream a run needs and opens it (not started). The checks of the JACK role
    // (bit length, rate, channels) run when `checks` is set. On failure ErrorText is set.
    struct StreamPlan {
        StreamRequest request;
        int deviceType = 0; // sample type of the stream
        int deviceBits = 0; // bit length of the device's channel 0 (JACK role)
        bool reduced = false;
    };
    bool planStream(int deviceNumber, int firstChannel, const formats::WaveFormat& f, bool checks,
                    StreamPlan& plan);
    bool openPlanned(const StreamPlan& plan, AudioCallback* callback, StreamInfo& info,
                     const formats::WaveFormat& f);

    // Acceptance of one format in probeFormats; JACK role: `mark` gets '*' or 'R'.
    virtual bool probeOne(const DeviceCatalog::Entry& entry, bool isDefault,
                          const formats::WaveFormat& f, bool queryOnly, char& mark);

    StreamDirection direction_;
    SoundDeviceConfig config_;
    SoundOwner* owner_;
    std::atomic<int>* stateWord_;
    std::atomic<int> ownStateWord_{0};
    std::unique_ptr<AudioBackend> backend_;
    DeviceCatalog catalog_;
    const DeviceCatalog::Entry* openEntry_ = nullptr; // the JACK-role device opened last
    bool unavailable_ = false;
    bool allowReduceBitLength_ = false; // input only

    int bufferCount_ = 2;
    std::uint32_t bufferBytes_ = 0;
    bool buffersFixed_ = false;
    SampleRing ring_;
    std::uint8_t silenceByte_ = 0;
    formats::WaveFormat format_;
    std::string errorText_;
    std::string errorDetail_;

private:
    SoundOwner defaultOwner_;
    CollectingMessageSink defaultMessages_;
};

template <typename... Args> bool SoundDevice::failf(const MessagePair& message, Args... args)
{
    errorText_ = formats::stringPrintf(tr(message), args...);
    return false;
}

} // namespace tarnvel::sound
