#include "sound/NullAudioBackend.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tarnvel::sound {

NullAudioBackend::NullAudioBackend(NullDeviceOptions options) : options_(std::move(options)) {}

NullAudioBackend::~NullAudioBackend()
{
    closeStream();
}

bool NullAudioBackend::listDevices(std::vector<AudioDeviceInfo>& devices, std::string& /*error*/)
{
    AudioDeviceInfo d;
    d.probed = true;
    d.name = options_.name;
    d.outputChannels = options_.outputChannels;
    d.inputChannels = options_.inputChannels;
    d.isDefaultOutput = options_.outputChannels > 0;
    d.isDefaultInput = options_.inputChannels > 0;
    d.sampleRates = options_.rates;
    d.preferredRate = 48000;
    d.channelSampleType = options_.channelSampleType;
    devices.assign(1, d);
    return true;
}

int NullAudioBackend::defaultDevice(StreamDirection direction)
{
    const unsigned ch =
        direction == StreamDirection::Output ? options_.outputChannels : options_.inputChannels;
    return ch > 0 ? 0 : -1;
}

bool NullAudioBackend::openStream(const StreamRequest& request, AudioCallback* callback,
                                  StreamInfo& info, OpenFailure& failure, std::string& error)
{
    closeStream();
    const unsigned available = request.direction == StreamDirection::Output
                                   ? options_.outputChannels
                                   : options_.inputChannels;
    if ((!request.useDefault && request.device != 0) || callback == nullptr) {
        failure = OpenFailure::Other;
        error = "no such device";
        return false;
    }
    if (request.channels == 0 || request.firstChannel + request.channels > available) {
        failure = OpenFailure::BadFormat;
        error = "channels not available";
        return false;
    }
    if (std::find(options_.rates.begin(), options_.rates.end(), request.rate) ==
        options_.rates.end()) {
        failure = OpenFailure::BadRate;
        error = "sample rate not supported";
        return false;
    }
    const int bytes = bytesOfSampleType(request.sampleType);
    if (bytes == 0) {
        failure = OpenFailure::BadFormat;
        error = "sample type not supported";
        return false;
    }
    request_ = request;
    callback_ = callback;
    block_.assign(static_cast<std::size_t>(options_.bufferFrames) * request.channels * bytes, 0);
    info.bufferFrames = options_.bufferFrames;
    info.rate = request.rate;
    info.latencyFrames = options_.bufferFrames;
    failure = OpenFailure::None;
    open_ = true;
    return true;
}

bool NullAudioBackend::startStream(std::string& error)
{
    if (!open_) {
        error = "stream not open";
        return false;
    }
    if (running_.load())
        return true;
    running_.store(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

bool NullAudioBackend::stopStream(std::string& /*error*/)
{
    running_.store(false);
    if (thread_.joinable())
        thread_.join();
    return true;
}

void NullAudioBackend::closeStream()
{
    std::string ignored;
    stopStream(ignored);
    open_ = false;
    callback_ = nullptr;
}

void NullAudioBackend::run()
{
    using Clock = std::chrono::steady_clock;
    const unsigned frames = options_.bufferFrames;
    const bool output = request_.direction == StreamDirection::Output;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / request_.rate));
    auto next = Clock::now();
    while (running_.load(std::memory_order_relaxed)) {
        if (options_.realTime) {
            next += period;
            std::this_thread::sleep_until(next);
        } else {
            // As fast as the client keeps up, but never stalled for good by it.
            const auto giveUp = Clock::now() + std::chrono::milliseconds(250);
            while (running_.load(std::memory_order_relaxed) && callback_->framesReady() < frames &&
                   Clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (!running_.load(std::memory_order_relaxed))
            break;
        if (output) {
            callback_->process(block_.data(), nullptr, frames, false);
            if (options_.outputTap)
                options_.outputTap(block_.data(), block_.size());
        } else {
            if (options_.inputSource)
                options_.inputSource(block_.data(), block_.size());
            else
                std::memset(block_.data(), 0, block_.size());
            callback_->process(nullptr, block_.data(), frames, false);
        }
    }
}

} // namespace tarnvel::sound
