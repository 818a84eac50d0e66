#pragma once

#include "sound/AudioBackend.h"
#include "sound/SampleConversion.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarnvel::sound {

// A device without hardware: a thread that calls the stream's callback with blocks of
// `bufferFrames`, paced in real time or as fast as the client keeps up. Used by the tests, the
// benchmarks and headless runs.
struct NullDeviceOptions {
    bool realTime = true;
    unsigned bufferFrames = 256;
    std::string name = "Null device";
    unsigned outputChannels = 2;
    unsigned inputChannels = 2;
    std::vector<std::uint32_t> rates{std::begin(kProbeRates), std::end(kProbeRates)};
    int channelSampleType = kInt24Lsb; // what the device offers in the low-latency role
    // Device thread: every output block as the device received it (interleaved, stream type).
    std::function<void(const std::uint8_t* data, std::size_t bytes)> outputTap;
    // Device thread: fills every input block; silence when absent.
    std::function<void(std::uint8_t* data, std::size_t bytes)> inputSource;
};

class NullAudioBackend final : public AudioBackend {
public:
    explicit NullAudioBackend(NullDeviceOptions options);
    ~NullAudioBackend() override;

    bool listDevices(std::vector<AudioDeviceInfo>& devices, std::string& error) override;
    int defaultDevice(StreamDirection direction) override;
    bool openStream(const StreamRequest& request, AudioCallback* callback, StreamInfo& info,
                    OpenFailure& failure, std::string& error) override;
    bool startStream(std::string& error) override;
    bool stopStream(std::string& error) override;
    void closeStream() override;
    bool streamOpen() const override { return open_; }
    bool streamFailed(std::string& /*error*/) override { return false; }

private:
    void run();

    NullDeviceOptions options_;
    StreamRequest request_;
    AudioCallback* callback_ = nullptr;
    bool open_ = false;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::vector<std::uint8_t> block_; // allocated at open, reused by the device thread
};

class NullBackendProvider final : public AudioBackendProvider {
public:
    explicit NullBackendProvider(NullDeviceOptions options = {}) : options_(std::move(options)) {}
    std::unique_ptr<AudioBackend> create(SoundDriverType /*type*/) override
    {
        return std::make_unique<NullAudioBackend>(options_);
    }

private:
    NullDeviceOptions options_;
};

} // namespace tarnvel::sound
