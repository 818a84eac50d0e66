#pragma once

#include "formats/WaveFileReader.h"
#include "sound/SoundDevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace tarnvel::sound {

// The sound output. A run moves audio through a ring of equal buffers: PlayThread fills them
// from the source (the owner's SourceProc or a WAV file) and publishes them; the device callback
// converts them into the device's sample type and counts them played; PlayThread sees each
// completion, refills that buffer, and ends the run once every filled buffer has been played.
//
// Threads: the owner's thread calls every operation; PlayThread calls SourceProc, FileDataProc
// and the WAV reader and hands ProgressProc and the display updates to the owner (invoke);
// the device's thread runs the callback (no allocation, no locks); the display thread may call
// getMonitorData at any time.
class WavePlayer : public SoundDevice, private AudioCallback {
public:
    // Fills `buffer` with up to `bytes` bytes; returns the bytes filled (0: the source is dry).
    using SourceProc = std::function<std::uint32_t(std::uint8_t* buffer, std::uint32_t bytes)>;
    // Applied to each block read from a WAV file before it is queued; returns the bytes kept.
    using FileDataProc = std::function<std::uint32_t(std::uint8_t* buffer, std::uint32_t bytes)>;
    using ProgressProc = std::function<void()>;
    // true once the device has started, false when the run ends.
    using SourceHoldProc = std::function<void(bool release)>;

    struct Config : SoundDeviceConfig {
        SourceProc sourceProc;
        ProgressProc progressProc;
        SourceHoldProc sourceHoldProc;
        FileDataProc fileDataProc;
        int displayLead = 6000;  // look-ahead of the monitor data in 1/192000 s
        bool fullVolume = false; // kept for the settings: streams always play at full scale
    };

    explicit WavePlayer(const Config& config);
    ~WavePlayer() override;

    // Saves the configuration and installs another (driverType -1 keeps the type) / puts the
    // saved one back: owner, state word, callbacks, timing, back-ends and driver type. Both
    // stop a run, reset the controls and forget the selected source. A null owner or state
    // word in `config` means none (as at construction), never the saved one.
    void reconfigure(const Config& config, int driverType = -1);
    void restoreConfiguration();
    void setFullVolume(bool on) { cfg_.fullVolume = on; }

    // A WAV file (its format is returned in `format`) or, with an empty name, the SourceProc
    // in `format`. Returns true on error (ErrorText set).
    bool setSource(const std::string& fileName, formats::WaveFormat& format);
    void setSilencePadding(std::uint32_t preBytes, std::uint32_t postBytes);

    // Opens the device and starts PlayThread; true when the run has begun.
    bool start(int deviceNumber, int firstChannel);
    // Asks the run to end and waits for it, letting the owner process its work meanwhile.
    void stop();
    void togglePause();

    // Display thread: `bytes` bytes of the samples being heard (plus the display lead).
    void getMonitorData(std::uint8_t* dest, std::uint32_t bytes);

    std::uint32_t getTotalFrames() const;
    // ALSA only: plays one buffer synchronously in the current format.
    bool playOneShot(int deviceNumber, const std::uint8_t* buffer, std::uint32_t bytes);

    // Times the device found no audio ready while a run was playing (for diagnostics).
    std::uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
    // Times the device reported it ran out of samples (its own buffers, after ours).
    std::uint64_t deviceUnderruns() const
    {
        return deviceUnderruns_.load(std::memory_order_relaxed);
    }
    // Bytes the device has taken from the ring in the current or last run.
    std::uint64_t playedBytes() const { return ring_.consumed.load(std::memory_order_acquire); }

private:
    // AudioCallback, device thread.
    unsigned process(void* output, const void* input, unsigned frames, bool xrun) override;
    unsigned framesReady() const override;

    void resetControls();
    void installOwner(SoundOwner* owner, std::atomic<int>* stateWord);
    void run();
    int step(bool fill);
    void updatePosition();
    void closeRun();
    std::uint64_t completedBuffers() const;

    Config cfg_;
    Config savedCfg_;
    int savedBufferCount_ = 0;
    std::uint32_t savedBufferBytes_ = 0;
    SoundOwner* savedOwner_ = nullptr;
    std::atomic<int>* savedStateWord_ = nullptr;
    bool hasSaved_ = false;

    formats::WaveFileReader reader_;
    std::string fileName_;
    bool fileSelected_ = false;
    bool formatSet_ = false;
    bool resetPending_ = false;
    std::uint32_t preSilence_ = 0;
    std::uint32_t postSilence_ = 0;
    std::uint32_t totalFrames_ = 0;
    std::uint32_t pageBytes_ = 0;

    // The run.
    std::thread thread_;
    std::atomic<bool> stopRequest_{false};
    std::atomic<bool> paused_{false};
    std::atomic<int> sampleTypeError_{0};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> deviceUnderruns_{0};
    std::atomic<std::int64_t> lastSwitchNs_{0};
    int deviceType_ = 0;
    unsigned deviceChannels_ = 2;
    unsigned deviceFrames_ = 0; // frames per callback
    int ringBits_ = 16;
    int ringChannels_ = 2;
    std::atomic<std::uint8_t> monitorSilence_{0};
    std::uint32_t blockAlign_ = 4;
    std::uint32_t runBufferBytes_ = 0;
    std::uint32_t displayLeadBytes_ = 0;
    int queued_ = 0;
    int prefillTarget_ = 0;
    int writeIndex_ = 0;
    int doneIndex_ = 0;
    int outstanding_ = 0;
    std::uint64_t doneSeen_ = 0;
    bool sourceReleased_ = false;
    bool deviceStarted_ = false;
    bool otherWasEnabled_ = false;
    std::uint32_t startPosition_ = 0;
    int lastSecond_ = -1;
};

} // namespace tarnvel::sound
