#include "sound/WavePlayer.h"

#include "sound/SampleConversion.h"
#include "sound/SoundMessages.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tarnvel::sound {

using formats::stringPrintf;
using formats::WaveFormat;

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

WavePlayer::WavePlayer(const Config& config)
    : SoundDevice(StreamDirection::Output, config), cfg_(config)
{
    cfg_.driverType = config_.driverType;
    cfg_.backends = config_.backends;
    resetControls();
}

WavePlayer::~WavePlayer()
{
    stop();
    if (backend_)
        backend_->closeStream();
}

void WavePlayer::resetControls()
{
    owner().setControlEnabled(SoundControl::Start, false);
    owner().setControlEnabled(SoundControl::Stop, false);
    owner().setControlEnabled(SoundControl::Pause, false);
    owner().setTimeText({});
    owner().setTotalText({});
    owner().setFormatText({});
    owner().setPositionEnabled(false);
    owner().setPositionRange(120, 60);
    owner().setPosition(0);
}

void WavePlayer::installOwner(SoundOwner* owner, std::atomic<int>* stateWord)
{
    owner_ = owner != nullptr ? owner : &defaultOwner();
    stateWord_ = stateWord != nullptr ? stateWord : &ownStateWord_;
}

void WavePlayer::reconfigure(const Config& config, int driverType)
{
    stop();
    if (!hasSaved_) {
        // Everything the preview replaces, as it is in use now: the owner and state word may
        // have come from an earlier configuration, the back-ends from the default.
        savedCfg_ = cfg_;
        savedCfg_.driverType = config_.driverType;
        savedCfg_.backends = config_.backends;
        savedOwner_ = owner_;
        savedStateWord_ = stateWord_;
        savedBufferCount_ = bufferCount_;
        savedBufferBytes_ = bufferBytes_;
        hasSaved_ = true;
    }
    const SoundDriverType current = config_.driverType;
    const auto currentBackends = config_.backends;
    cfg_ = config;
    static_cast<SoundDeviceConfig&>(config_) = config;
    if (!config_.backends)
        config_.backends = currentBackends;
    config_.driverType = current;
    cfg_.driverType = current;
    cfg_.backends = config_.backends;
    buffersFixed_ = false;
    fileSelected_ = false;
    formatSet_ = false;
    installOwner(config.owner, config.stateWord);
    setStateWord(kStateStopped);
    resetControls();
    if (driverType >= 0 && driverType < kDriverTypeCount &&
        static_cast<SoundDriverType>(driverType) != current)
        setDriverType(static_cast<SoundDriverType>(driverType));
    else if (config_.backends != currentBackends)
        refreshDevices(true);
    cfg_.driverType = config_.driverType;
}

void WavePlayer::restoreConfiguration()
{
    if (!hasSaved_)
        return;
    stop();
    const SoundDriverType current = config_.driverType;
    const auto currentBackends = config_.backends;
    cfg_ = savedCfg_;
    static_cast<SoundDeviceConfig&>(config_) = savedCfg_;
    // The back-end in use is still the preview's until the switch below.
    config_.driverType = current;
    owner_ = savedOwner_;
    stateWord_ = savedStateWord_;
    bufferCount_ = savedBufferCount_;
    bufferBytes_ = savedBufferBytes_;
    buffersFixed_ = false;
    fileSelected_ = false; // the preview's file is not the owner's source
    formatSet_ = false;
    hasSaved_ = false;
    resetControls();
    if (savedCfg_.driverType != current)
        setDriverType(savedCfg_.driverType);
    else if (config_.backends != currentBackends)
        refreshDevices(true);
    cfg_.driverType = config_.driverType;
}

bool WavePlayer::setSource(const std::string& fileName, WaveFormat& format)
{
    formatSet_ = false;
    fileSelected_ = false;
    silenceByte_ = 0;
    fileName_.clear();
    errorText_.clear();
    if (!fileName.empty()) {
        fileName_ = fileName;
        if (!reader_.readHeader(fileName)) {
            errorText_ = reader_.errorText();
            reader_.close();
            return true;
        }
        reader_.close(); // reopened by start()
        const WaveFormat f = reader_.format();
        if (!formatPlayable(f)) {
            failFormat(msg::kUnsupportedFormat, f);
            return true;
        }
        format = f;
        format_ = f;
        totalFrames_ = reader_.dataLength() / f.blockAlign;
        pageBytes_ = std::max((totalFrames_ / 20) * f.blockAlign, f.avgBytesPerSec);
        const std::uint32_t bytesPerSec = std::max<std::uint32_t>(1, f.avgBytesPerSec);
        owner().setPositionRange(static_cast<int>(reader_.dataLength() / bytesPerSec),
                                 static_cast<int>(pageBytes_ / bytesPerSec));
        owner().setPositionEnabled(true);
        owner().setPosition(0);
        const std::uint32_t seconds = totalFrames_ / f.samplesPerSec;
        owner().setTotalText(stringPrintf(tr(msg::kMinSec), static_cast<int>(seconds / 60),
                                          static_cast<int>(seconds % 60)));
        owner().setFormatText(formatText(f));
        fileSelected_ = true;
        resetPending_ = true;
    } else {
        WaveFormat f = format;
        f.cbSize = 0;
        if (!formatPlayable(f)) {
            failFormat(msg::kUnsupportedFormat, f);
            return true;
        }
        format_ = f;
        resetPending_ = false;
    }
    if (!buffersFixed_)
        applyDefaultSizing(6000);
    if (format_.bitsPerSample == 8)
        silenceByte_ = 128;
    monitorSilence_.store(silenceByte_);
    formatSet_ = true;
    owner().setControlEnabled(SoundControl::Start, true);
    setStateWord(kStateStopped);
    return false;
}

void WavePlayer::setSilencePadding(std::uint32_t preBytes, std::uint32_t postBytes)
{
    preSilence_ = preBytes;
    postSilence_ = postBytes;
}

std::uint32_t WavePlayer::getTotalFrames() const
{
    return (fileSelected_ && formatSet_) ? totalFrames_ : 0;
}

bool WavePlayer::start(int deviceNumber, int firstChannel)
{
    errorText_.clear();
    errorDetail_.clear();
    if (thread_.joinable()) {
        if (stateWord() != kStateStopped)
            return false; // a run is still going on
        thread_.join();
    }
    if (!(fileSelected_ || cfg_.sourceProc) || !formatSet_)
        return false;
    StreamPlan plan;
    if (!planStream(deviceNumber, firstChannel, format_, true, plan))
        return false;
    // Whole frames a buffer, so that the device never meets half a frame at the ring's end.
    runBufferBytes_ = bufferBytes_ - bufferBytes_ % format_.blockAlign;
    if (runBufferBytes_ == 0)
        return failFormat(msg::kUnsupportedFormat, format_);
    StreamInfo info;
    if (!openPlanned(plan, this, info, format_))
        return false;
    if (fileSelected_) {
        if (!reader_.readHeader(fileName_)) {
            // Nothing to play is not an error, but a file that cannot be read keeps its reason.
            errorText_ = reader_.errorText();
            reader_.close();
            backend_->closeStream();
            return false;
        }
        if (reader_.dataLength() == 0) {
            reader_.close();
            backend_->closeStream();
            return false;
        }
        reader_.setSilenceByte(silenceByte_);
        reader_.setSilencePadding(preSilence_, postSilence_);
        resetPending_ = true;
    }
    if (!ring_.allocate(static_cast<std::uint32_t>(bufferCount_), runBufferBytes_)) {
        backend_->closeStream();
        if (fileSelected_)
            reader_.close();
        return fail(msg::kNoMemory);
    }
    ring_.reset(silenceByte_);
    deviceType_ = plan.deviceType;
    deviceChannels_ = plan.request.channels;
    deviceFrames_ = std::max(1u, info.bufferFrames);
    ringBits_ = formatBits(format_);
    ringChannels_ = format_.channels;
    monitorSilence_.store(silenceByte_);
    blockAlign_ = format_.blockAlign;
    displayLeadBytes_ =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::max(0, cfg_.displayLead)) *
                                   format_.samplesPerSec / 192000 * blockAlign_);
    stopRequest_.store(false);
    paused_.store(false);
    sampleTypeError_.store(0);
    underruns_.store(0);
    deviceUnderruns_.store(0);
    lastSwitchNs_.store(0);
    setStateWord(kStateStarting);
    thread_ = std::thread([this] { run(); });
    return true;
}

void WavePlayer::stop()
{
    stopRequest_.store(true);
    while (thread_.joinable() && stateWord() != kStateStopped)
        owner().pumpFor(5);
    if (thread_.joinable())
        thread_.join();
}

void WavePlayer::togglePause()
{
    const bool pause = !paused_.load();
    paused_.store(pause);
    setStateWord(pause ? kStatePaused : kStateRunning);
}

std::uint64_t WavePlayer::completedBuffers() const
{
    return ring_.consumed.load(std::memory_order_acquire) / runBufferBytes_;
}

void WavePlayer::run()
{
    queued_ = 0;
    prefillTarget_ = bufferCount_;
    writeIndex_ = 0;
    doneIndex_ = 0;
    outstanding_ = 0;
    doneSeen_ = 0;
    sourceReleased_ = false;
    deviceStarted_ = false;
    startPosition_ = 0;
    lastSecond_ = -1;
    owner().invoke([this] {
        owner().setControlEnabled(SoundControl::Start, false);
        owner().setControlEnabled(SoundControl::Stop, true);
        owner().setControlEnabled(SoundControl::Pause, true);
        owner().setPauseDown(false);
        otherWasEnabled_ = owner().controlEnabled(SoundControl::Other);
        owner().setControlEnabled(SoundControl::Other, false);
    });
    owner().post(SoundEvent::PlayStart);

    int result = 1;
    for (;;) {
        result = step(result != 0);
        if (result == -1)
            break;
        owner().invoke([this] {
            updatePosition();
            if (cfg_.progressProc)
                cfg_.progressProc();
        });
        if (result != -2) {
            // Wait for the device to finish one buffer; stop requests and errors are seen
            // within 5 ms.
            bool forced = false;
            for (;;) {
                if (completedBuffers() > doneSeen_)
                    break;
                std::string failure;
                if (const int type = sampleTypeError_.load(); type != 0 && errorText_.empty())
                    failf(msg::kUnsupportedSampleType, type);
                if (errorText_.empty() && backend_->streamFailed(failure))
                    failf(msg::kDeviceError, failure.c_str());
                if (stopRequest_.load() || !errorText_.empty()) {
                    forced = true;
                    break;
                }
                sleepMs(5);
            }
            if (!forced)
                ++doneSeen_;
            doneIndex_ = (doneIndex_ + 1) % bufferCount_;
            if (!errorText_.empty() || stopRequest_.load())
                outstanding_ = 1;
            --outstanding_;
        }
        if (outstanding_ <= 0)
            break;
    }
    closeRun();
    owner().invoke([this] { endRunOnWindowThread(otherWasEnabled_); });
    owner().post(SoundEvent::PlayEnd);
}

int WavePlayer::step(bool fill)
{
    if (resetPending_)
        fill = true;
    std::uint8_t* region = ring_.buffer(static_cast<std::uint32_t>(writeIndex_));
    // The buffer is free once the device has consumed it a ring ago; the acquire loads order
    // this write after the device's and the display's reads of it.
    const std::uint64_t written = ring_.written.load(std::memory_order_relaxed);
    while (written + runBufferBytes_ - ring_.consumed.load(std::memory_order_acquire) >
           ring_.totalBytes()) {
        if (stopRequest_.load())
            break;
        sleepMs(1);
    }
    (void)ring_.monitorReads.load(std::memory_order_acquire);
    std::uint32_t n = 0;
    if (fill) {
        if (fileSelected_) {
            n = static_cast<std::uint32_t>(reader_.readData(region, runBufferBytes_));
            if (cfg_.fileDataProc && n > 0)
                n = std::min(n, cfg_.fileDataProc(region, n));
        } else if (cfg_.sourceProc) {
            n = std::min(cfg_.sourceProc(region, runBufferBytes_), runBufferBytes_);
            resetPending_ = false;
        }
        resetPending_ = false;
    }
    if (n < runBufferBytes_)
        std::memset(region + n, silenceByte_, runBufferBytes_ - n);
    ring_.written.store(written + runBufferBytes_, std::memory_order_release);
    if (n > 0)
        ++outstanding_;
    writeIndex_ = (writeIndex_ + 1) % bufferCount_;
    ++queued_;
    if (n == 0 && queued_ < bufferCount_ && prefillTarget_ == bufferCount_)
        prefillTarget_ = queued_; // the source ran dry during the prefill
    if (queued_ == prefillTarget_) {
        if (outstanding_ == 0 && stateWord() != kStatePaused)
            return -1; // nothing at all to play: the device is never started
        // A pause during the prefill keeps the device silent until resumed.
        if (stateWord() == kStatePaused)
            paused_.store(true);
        std::string detail;
        if (!backend_->startStream(detail)) {
            errorDetail_ = detail;
            fail(msg::kErrorStart);
            return -1;
        }
        deviceStarted_ = true;
        if (stateWord() != kStatePaused)
            setStateWord(kStateRunning);
        if (!sourceReleased_) {
            sourceReleased_ = true;
            if (cfg_.sourceHoldProc)
                cfg_.sourceHoldProc(true);
        }
    }
    if (queued_ < prefillTarget_)
        return -2;
    if (n == 0 && outstanding_ == 0)
        return -1;
    return static_cast<int>(n);
}

void WavePlayer::updatePosition()
{
    if (stateWord() != kStateRunning || resetPending_)
        return;
    const std::uint64_t bytes = startPosition_ + ring_.consumed.load(std::memory_order_acquire);
    const int seconds =
        static_cast<int>(bytes / std::max<std::uint32_t>(1, format_.avgBytesPerSec));
    if (seconds != lastSecond_) {
        lastSecond_ = seconds;
        owner().setTimeText(stringPrintf(tr(msg::kMinSec), seconds / 60, seconds % 60));
        owner().setPosition(seconds);
    }
}

void WavePlayer::closeRun()
{
    if (sourceReleased_ && cfg_.sourceHoldProc)
        cfg_.sourceHoldProc(false);
    sourceReleased_ = false;
    std::string detail;
    if (deviceStarted_ && !backend_->stopStream(detail) && errorText_.empty()) {
        errorDetail_ = detail;
        fail(msg::kErrorStop);
    }
    backend_->closeStream();
    deviceStarted_ = false;
    if (fileSelected_)
        reader_.close();
}

unsigned WavePlayer::process(void* output, const void* /*input*/, unsigned frames, bool xrun)
{
    if (xrun)
        deviceUnderruns_.fetch_add(1, std::memory_order_relaxed);
    lastSwitchNs_.store(nowNs(), std::memory_order_relaxed);
    auto* out = static_cast<std::uint8_t*>(output);
    const std::size_t frameBytes =
        static_cast<std::size_t>(bytesOfSampleType(deviceType_)) * deviceChannels_;
    if (out == nullptr || frameBytes == 0)
        return 0;
    if (paused_.load(std::memory_order_relaxed)) {
        std::memset(out, 0, frameBytes * frames);
        return 0;
    }
    const std::uint64_t consumed = ring_.consumed.load(std::memory_order_relaxed);
    const std::uint64_t available = ring_.written.load(std::memory_order_acquire) - consumed;
    const unsigned take =
        static_cast<unsigned>(std::min<std::uint64_t>(frames, available / blockAlign_));
    const std::uint32_t total = ring_.totalBytes();
    std::uint32_t offset = static_cast<std::uint32_t>(consumed % total);
    unsigned done = 0;
    bool ok = true;
    while (done < take) {
        const unsigned chunk = std::min<unsigned>(take - done, (total - offset) / blockAlign_);
        ok = convertToDevice(ring_.start() + offset, ringBits_, ringChannels_,
                             out + done * frameBytes, deviceType_,
                             static_cast<int>(deviceChannels_), chunk) &&
             ok;
        done += chunk;
        offset = (offset + chunk * blockAlign_) % total;
    }
    if (take < frames) {
        std::memset(out + take * frameBytes, 0, (frames - take) * frameBytes);
        underruns_.fetch_add(1, std::memory_order_relaxed);
    }
    if (!ok)
        sampleTypeError_.store(deviceType_, std::memory_order_relaxed);
    ring_.consumed.store(consumed + static_cast<std::uint64_t>(take) * blockAlign_,
                         std::memory_order_release);
    return take;
}

unsigned WavePlayer::framesReady() const
{
    const std::uint64_t available = ring_.written.load(std::memory_order_acquire) -
                                    ring_.consumed.load(std::memory_order_acquire);
    return static_cast<unsigned>(std::min<std::uint64_t>(available / blockAlign_, 1u << 30));
}

void WavePlayer::getMonitorData(std::uint8_t* dest, std::uint32_t bytes)
{
    // Run values below are written before the state word turns to running (release) and are
    // read only after it was seen running (acquire).
    const std::uint8_t silence = monitorSilence_.load(std::memory_order_relaxed);
    if (stateWord() != kStateRunning || !ring_.allocated() || blockAlign_ == 0) {
        std::memset(dest, silence, bytes);
        return;
    }
    const std::uint64_t consumed = ring_.consumed.load(std::memory_order_acquire);
    const std::uint64_t written = ring_.written.load(std::memory_order_acquire);
    // Frames since the last device callback, as an estimate of the play position.
    std::uint64_t position = consumed;
    const std::int64_t last = lastSwitchNs_.load(std::memory_order_relaxed);
    if (consumed > 0 && last != 0) {
        const std::int64_t elapsedMs =
            std::clamp<std::int64_t>((nowNs() - last) / 1000000, 0, 1000);
        const std::int64_t d =
            std::max<std::int64_t>(1, static_cast<std::int64_t>(deviceFrames_) * 1000 /
                                          std::max<std::uint32_t>(1, format_.samplesPerSec));
        position += static_cast<std::uint64_t>(deviceFrames_ * elapsedMs / d) * blockAlign_;
    }
    std::uint64_t from = position + displayLeadBytes_;
    // Only bytes published and not yet handed back may be read: PlayThread writes elsewhere.
    const std::uint32_t take = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(bytes, written > consumed ? written - consumed : 0));
    if (from + take > written)
        from = written - take;
    if (from < consumed)
        from = consumed;
    if (take > 0)
        ring_.copyOut(static_cast<std::uint32_t>(from % ring_.totalBytes()), dest, take);
    if (take < bytes)
        std::memset(dest + take, silence, bytes - take);
    ring_.monitorReads.fetch_add(1, std::memory_order_release);
}

namespace {

// Plays one caller buffer: the device thread reads it once, then gives silence.
class OneShotCallback final : public AudioCallback {
public:
    OneShotCallback(const std::uint8_t* data, std::uint32_t bytes, int bits, int channels, int type,
                    unsigned deviceChannels, std::uint32_t blockAlign)
        : data_(data), frames_(bytes / blockAlign), bits_(bits), channels_(channels), type_(type),
          deviceChannels_(deviceChannels), blockAlign_(blockAlign)
    {
    }
    unsigned process(void* output, const void*, unsigned frames, bool) override
    {
        const std::size_t frameBytes =
            static_cast<std::size_t>(bytesOfSampleType(type_)) * deviceChannels_;
        auto* out = static_cast<std::uint8_t*>(output);
        const std::uint32_t done = done_.load(std::memory_order_relaxed);
        const std::uint32_t take = std::min<std::uint32_t>(frames, frames_ - done);
        convertToDevice(data_ + static_cast<std::size_t>(done) * blockAlign_, bits_, channels_, out,
                        type_, static_cast<int>(deviceChannels_), take);
        std::memset(out + take * frameBytes, 0, (frames - take) * frameBytes);
        done_.store(done + take, std::memory_order_release);
        return take;
    }
    unsigned framesReady() const override
    {
        return frames_ - done_.load(std::memory_order_acquire);
    }
    bool finished() const { return done_.load(std::memory_order_acquire) >= frames_; }

private:
    const std::uint8_t* data_;
    std::uint32_t frames_;
    int bits_;
    int channels_;
    int type_;
    unsigned deviceChannels_;
    std::uint32_t blockAlign_;
    std::atomic<std::uint32_t> done_{0};
};

} // namespace

bool WavePlayer::playOneShot(int deviceNumber, const std::uint8_t* buffer, std::uint32_t bytes)
{
    errorText_.clear();
    if (config_.driverType != SoundDriverType::Alsa || !formatSet_ || bytes == 0 ||
        buffer == nullptr || thread_.joinable())
        return false;
    if (bytes < format_.blockAlign)
        return false;
    StreamPlan plan;
    if (!planStream(deviceNumber, 0, format_, true, plan))
        return false;
    OneShotCallback shot(buffer, bytes, formatBits(format_), format_.channels, plan.deviceType,
                         plan.request.channels, format_.blockAlign);
    StreamInfo info;
    if (!openPlanned(plan, &shot, info, format_))
        return false;
    std::string detail;
    bool ok = backend_->startStream(detail);
    // A device that stops taking samples must not hold the caller for good.
    const int limitMs =
        static_cast<int>(static_cast<std::uint64_t>(bytes) * 1000 / format_.avgBytesPerSec) + 2000;
    for (int waited = 0; ok && !shot.finished(); waited += 20) {
        if (backend_->streamFailed(detail) || waited > limitMs) {
            ok = false;
            break;
        }
        sleepMs(20);
    }
    ok = backend_->stopStream(detail) && ok;
    backend_->closeStream();
    if (!ok)
        errorDetail_ = detail;
    return ok;
}

} // namespace tarnvel::sound
