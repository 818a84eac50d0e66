#include "sound/WaveRecorder.h"

#include "sound/SampleConversion.h"
#include "sound/SoundMessages.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tarnvel::sound {

using formats::stringPrintf;
using formats::WaveFormat;

namespace {
void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

// The monitor output of the ALSA type: captured blocks played on the output device of the same
// number through a ring of its own. RecThread produces, the output device's callback consumes;
// a block that finds no room is dropped (the monitor is for listening, the recording is intact).
class WaveRecorder::MonitorOutput final : public AudioCallback {
public:
    SampleRing ring;
    int type = kInt16Lsb;
    unsigned deviceChannels = 2;
    int bits = 16;
    int channels = 2;
    std::uint32_t blockAlign = 4;
    bool started = false; // device thread only

    void push(const std::uint8_t* block, std::uint32_t bytes, std::uint8_t silence)
    {
        const std::uint32_t size = ring.bufferBytes();
        const std::uint64_t w = ring.written.load(std::memory_order_relaxed);
        if (w + size - ring.consumed.load(std::memory_order_acquire) > ring.totalBytes())
            return;
        std::uint8_t* dest = ring.start() + w % ring.totalBytes();
        const std::uint32_t n = std::min(bytes, size);
        std::memcpy(dest, block, n);
        std::memset(dest + n, silence, size - n);
        ring.written.store(w + size, std::memory_order_release);
    }

    unsigned process(void* output, const void*, unsigned frames, bool) override
    {
        auto* out = static_cast<std::uint8_t*>(output);
        const std::size_t frameBytes =
            static_cast<std::size_t>(bytesOfSampleType(type)) * deviceChannels;
        const std::uint64_t c = ring.consumed.load(std::memory_order_relaxed);
        const std::uint64_t available = ring.written.load(std::memory_order_acquire) - c;
        // Blocks arrive one captured buffer at a time: two in hand before the first sound
        // keep the arrival jitter from cutting gaps into the monitor.
        if (!started) {
            if (available < 2ull * ring.bufferBytes()) {
                std::memset(out, 0, frames * frameBytes);
                return 0;
            }
            started = true;
        }
        const unsigned take =
            static_cast<unsigned>(std::min<std::uint64_t>(frames, available / blockAlign));
        const std::uint32_t total = ring.totalBytes();
        std::uint32_t offset = static_cast<std::uint32_t>(c % total);
        unsigned done = 0;
        while (done < take) {
            const unsigned chunk = std::min<unsigned>(take - done, (total - offset) / blockAlign);
            convertToDevice(ring.start() + offset, bits, channels, out + done * frameBytes, type,
                            static_cast<int>(deviceChannels), chunk);
            done += chunk;
            offset = (offset + chunk * blockAlign) % total;
        }
        std::memset(out + take * frameBytes, 0, (frames - take) * frameBytes);
        ring.consumed.store(c + static_cast<std::uint64_t>(take) * blockAlign,
                            std::memory_order_release);
        return take;
    }

    unsigned framesReady() const override
    {
        return static_cast<unsigned>((ring.written.load(std::memory_order_acquire) -
                                      ring.consumed.load(std::memory_order_acquire)) /
                                     blockAlign);
    }
};

WaveRecorder::WaveRecorder(const Config& config)
    : SoundDevice(StreamDirection::Input, config), cfg_(config), writer_(messages())
{
    allowReduceBitLength_ = config.allowReduceBitLength;
    format_ = WaveFormat::make(formats::kWaveFormatPcm, 2, 44100, 16);
    owner().setControlEnabled(SoundControl::Start, false);
    owner().setControlEnabled(SoundControl::Stop, false);
    owner().setControlEnabled(SoundControl::Pause, false);
}

WaveRecorder::~WaveRecorder()
{
    stop();
    if (backend_)
        backend_->closeStream();
}

bool WaveRecorder::setTarget(const std::string& fileName, const WaveFormat& format, bool alsoToSink,
                             int deviceNumber, bool testDevice, bool monitor)
{
    if (config_.driverType == SoundDriverType::Alsa)
        monitorOn_ = monitor;
    bool error = false;
    errorText_.clear();
    errorDetail_.clear();
    fileActive_ = false;
    alsoToSink_ = false;
    ready_ = false;
    silenceByte_ = 0;
    WaveFormat f = format;
    f.cbSize = 0;
    if (!formatPlayable(f)) {
        failFormat(msg::kUnsupportedFormat, f);
        return true;
    }
    format_ = f;
    if (!fileName.empty()) {
        writer_.setFileName(fileName);
        writer_.setFormat(format_);
        if (!writer_.create())
            return true; // the writer has shown why
        writer_.finish(false);
        position_ = 0;
        fileActive_ = true;
        alsoToSink_ = alsoToSink;
    }
    owner().setFormatText(formatText(format_));
    if (!buffersFixed_)
        applyDefaultSizing(9600);
    if (format_.bitsPerSample == 8)
        silenceByte_ = 128;
    monitorSilence_.store(silenceByte_);
    setStateWord(kStateStopped);
    if (testDevice) {
        StreamPlan plan;
        StreamInfo info;
        if (!planStream(deviceNumber, 0, format_, true, plan) ||
            !openPlanned(plan, this, info, format_))
            error = true;
        backend_->closeStream();
    }
    ready_ = !error;
    return error;
}

bool WaveRecorder::openMonitor(int deviceNumber)
{
    const DeviceCatalog::Entry* entry = catalog_.entry(deviceNumber);
    monitorBackend_ = config_.backends->create(SoundDriverType::Alsa);
    DeviceCatalog outputs;
    if (entry == nullptr || outputs.refresh(*monitorBackend_, SoundDriverType::Alsa,
                                            StreamDirection::Output) != nullptr)
        return fail(msg::kUnableToOpenWaveDevice);
    // The output device with the same number as the input device.
    const DeviceCatalog::Entry* out = outputs.entry(deviceNumber);
    if (out == nullptr)
        return fail(msg::kUnableToOpenWaveDevice);
    monitor_ = std::make_unique<MonitorOutput>();
    monitor_->type = nativeSampleTypeFor(format_);
    monitor_->deviceChannels = format_.channels;
    monitor_->bits = formatBits(format_);
    monitor_->channels = format_.channels;
    monitor_->blockAlign = format_.blockAlign;
    if (!monitor_->ring.allocate(static_cast<std::uint32_t>(bufferCount_), runBufferBytes_))
        return fail(msg::kNoMemory);
    monitor_->ring.reset(silenceByte_);
    StreamRequest req;
    req.direction = StreamDirection::Output;
    req.device = out->backendIndex;
    req.useDefault = out->isDefault;
    req.channels = format_.channels;
    req.sampleType = monitor_->type;
    req.rate = format_.samplesPerSec;
    req.bufferFrames = config_.deviceBufferFrames;
    StreamInfo info;
    OpenFailure failure = OpenFailure::None;
    std::string detail;
    if (monitorBackend_->openStream(req, monitor_.get(), info, failure, detail))
        return true;
    errorDetail_ = detail;
    monitor_.reset();
    if (failure == OpenFailure::Busy)
        return fail(msg::kDeviceAlreadyOpened);
    if (failure == OpenFailure::BadFormat || failure == OpenFailure::BadRate)
        return failFormat(msg::kUnsupportedFormat, format_);
    return fail(msg::kUnableToOpenWaveDevice);
}

bool WaveRecorder::start(int deviceNumber, int firstChannel)
{
    errorText_.clear();
    errorDetail_.clear();
    if (thread_.joinable()) {
        if (stateWord() != kStateStopped)
            return false;
        thread_.join();
    }
    if (!ready_)
        return false;
    StreamPlan plan;
    if (!planStream(deviceNumber, firstChannel, format_, true, plan))
        return false;
    runBufferBytes_ = bufferBytes_ - bufferBytes_ % format_.blockAlign;
    if (runBufferBytes_ == 0)
        return failFormat(msg::kUnsupportedFormat, format_);
    StreamInfo info;
    if (!openPlanned(plan, this, info, format_))
        return false;
    if (!ring_.allocate(static_cast<std::uint32_t>(bufferCount_), runBufferBytes_)) {
        backend_->closeStream();
        return fail(msg::kNoMemory);
    }
    ring_.reset(silenceByte_);
    const bool monitor = monitorOn_ && config_.driverType == SoundDriverType::Alsa;
    if (monitor && !openMonitor(deviceNumber)) {
        backend_->closeStream();
        return false;
    }
    if (fileActive_ && !writer_.create()) {
        backend_->closeStream();
        if (monitorBackend_)
            monitorBackend_->closeStream();
        monitor_.reset();
        return false; // the writer has shown why
    }
    deviceType_ = plan.deviceType;
    deviceChannels_ = plan.request.channels;
    deviceFrames_ = std::max(1u, info.bufferFrames);
    ringBits_ = formatBits(format_);
    ringChannels_ = format_.channels;
    blockAlign_ = format_.blockAlign;
    monitorLagBytes_ =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::max(0, cfg_.monitorLag)) *
                                   format_.samplesPerSec / 192000 * blockAlign_);
    stopRequest_.store(false);
    sampleTypeError_.store(0);
    overflowFrames_.store(0);
    deviceOverruns_.store(0);
    delivered_.store(0);
    position_ = 0;
    lastSecond_ = -1;
    setStateWord(kStateStarting);
    thread_ = std::thread([this] { run(); });
    return true;
}

void WaveRecorder::stop()
{
    stopRequest_.store(true);
    while (thread_.joinable() && stateWord() != kStateStopped)
        owner().pumpFor(5);
    if (thread_.joinable())
        thread_.join();
}

bool WaveRecorder::directMonitor(int /*deviceNumber*/, bool /*on*/)
{
    return false;
}

void WaveRecorder::run()
{
    sourceReleased_ = false;
    deviceStarted_ = false;
    owner().invoke([this] {
        owner().setControlEnabled(SoundControl::Start, false);
        owner().setControlEnabled(SoundControl::Stop, true);
        owner().setPauseDown(false);
        owner().setControlEnabled(SoundControl::Pause, true);
        otherWasEnabled_ = owner().controlEnabled(SoundControl::Other);
        owner().setControlEnabled(SoundControl::Other, false);
    });
    owner().post(SoundEvent::RecStart);

    std::uint32_t index = 0;
    bool first = true;
    for (;;) {
        if (first) {
            first = false;
            if (stateWord() != kStatePaused)
                setStateWord(kStateRunning);
            std::string detail;
            if (!backend_->startStream(detail) ||
                (monitor_ && !monitorBackend_->startStream(detail))) {
                errorDetail_ = detail;
                fail(msg::kErrorStart);
                break;
            }
            deviceStarted_ = true;
            sourceReleased_ = true;
            if (cfg_.sourceHoldProc)
                cfg_.sourceHoldProc(true);
        }
        owner().invoke([this] {
            updatePosition();
            if (cfg_.progressProc)
                cfg_.progressProc();
        });
        for (;;) {
            const std::uint64_t available = ring_.written.load(std::memory_order_acquire) -
                                            ring_.consumed.load(std::memory_order_relaxed);
            if (available >= runBufferBytes_)
                break;
            std::string failure;
            if (const int type = sampleTypeError_.load(); type != 0 && errorText_.empty())
                failf(msg::kUnsupportedSampleType, type);
            if (errorText_.empty() && overflowFrames_.load(std::memory_order_relaxed) > 0)
                fail(msg::kInputOverflow);
            if (errorText_.empty() && backend_->streamFailed(failure))
                failf(msg::kDeviceError, failure.c_str());
            if (stopRequest_.load() || !errorText_.empty())
                break;
            sleepMs(5);
        }
        if (errorText_.empty() && overflowFrames_.load(std::memory_order_relaxed) > 0)
            fail(msg::kInputOverflow);
        if (stopRequest_.load() || !errorText_.empty())
            break;
        const std::uint32_t n = deliver(ring_.buffer(index));
        delivered_.fetch_add(n, std::memory_order_relaxed);
        // The buffer goes back to the device only now: the acquire in the callback orders
        // our reads of it before its next writes.
        ring_.consumed.fetch_add(runBufferBytes_, std::memory_order_release);
        index = (index + 1) % static_cast<std::uint32_t>(bufferCount_);
        if (n == 0 || stopRequest_.load())
            break;
    }
    closeRun();
    owner().invoke([this] {
        if (endRunOnWindowThread(otherWasEnabled_))
            return;
        if (const auto drops = deviceOverruns_.load(std::memory_order_relaxed); drops > 0)
            messages().showMessage(
                stringPrintf(tr(msg::kDeviceDroppedInput), static_cast<int>(drops)),
                MessageIcon::Warning);
    });
    owner().post(SoundEvent::RecEnd);
}

std::uint32_t WaveRecorder::deliver(std::uint8_t* block)
{
    const std::uint32_t bytes = runBufferBytes_;
    if (fileActive_) {
        const std::size_t written = writer_.write(block, bytes);
        if (written == 0)
            return 0; // the writer has shown why
        if (!alsoToSink_)
            return static_cast<std::uint32_t>(written);
    }
    std::uint32_t n = cfg_.sinkProc ? std::min(cfg_.sinkProc(block, bytes), bytes) : bytes;
    if (monitor_ && n > 0)
        monitor_->push(block, n, silenceByte_);
    return n;
}

void WaveRecorder::updatePosition()
{
    position_ = std::max(position_, ring_.written.load(std::memory_order_acquire));
    if (!fileActive_)
        return;
    const int seconds =
        static_cast<int>(position_ / std::max<std::uint32_t>(1, format_.avgBytesPerSec));
    if (seconds != lastSecond_) {
        lastSecond_ = seconds;
        owner().setTimeText(stringPrintf(tr(msg::kMinSec), seconds / 60, seconds % 60));
    }
}

void WaveRecorder::closeRun()
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
    if (monitorBackend_) {
        monitorBackend_->stopStream(detail);
        monitorBackend_->closeStream();
    }
    monitor_.reset();
    monitorBackend_.reset();
    deviceStarted_ = false;
    if (fileActive_)
        writer_.finish(false);
}

unsigned WaveRecorder::process(void* /*output*/, const void* input, unsigned frames, bool xrun)
{
    // The device dropped input before it reached us (a late cycle): the run goes on, and the
    // user is told at its end.
    if (xrun)
        deviceOverruns_.fetch_add(1, std::memory_order_relaxed);
    const auto* in = static_cast<const std::uint8_t*>(input);
    const std::size_t frameBytes =
        static_cast<std::size_t>(bytesOfSampleType(deviceType_)) * deviceChannels_;
    if (in == nullptr || frameBytes == 0)
        return 0;
    // Orders the display thread's earlier copies before the overwrites below.
    (void)ring_.monitorReads.load(std::memory_order_acquire);
    const std::uint64_t w = ring_.written.load(std::memory_order_relaxed);
    const std::uint64_t c = ring_.consumed.load(std::memory_order_acquire);
    const std::uint32_t total = ring_.totalBytes();
    const std::uint64_t room = total - (w - c);
    const unsigned take =
        static_cast<unsigned>(std::min<std::uint64_t>(frames, room / blockAlign_));
    std::uint32_t offset = static_cast<std::uint32_t>(w % total);
    unsigned done = 0;
    bool ok = true;
    while (done < take) {
        const unsigned chunk = std::min<unsigned>(take - done, (total - offset) / blockAlign_);
        ok = convertFromDevice(in + done * frameBytes, deviceType_,
                               static_cast<int>(deviceChannels_), ring_.start() + offset, ringBits_,
                               ringChannels_, chunk) &&
             ok;
        done += chunk;
        offset = (offset + chunk * blockAlign_) % total;
    }
    if (take < frames)
        overflowFrames_.fetch_add(frames - take, std::memory_order_relaxed);
    if (!ok)
        sampleTypeError_.store(deviceType_, std::memory_order_relaxed);
    ring_.written.store(w + static_cast<std::uint64_t>(take) * blockAlign_,
                        std::memory_order_release);
    return take;
}

unsigned WaveRecorder::framesReady() const
{
    const std::uint64_t used = ring_.written.load(std::memory_order_acquire) -
                               ring_.consumed.load(std::memory_order_acquire);
    return static_cast<unsigned>((ring_.totalBytes() - used) /
                                 std::max<std::uint32_t>(1, blockAlign_));
}

void WaveRecorder::getMonitorData(std::uint8_t* dest, std::uint32_t bytes)
{
    // Run values are written before the state word turns to running and read after.
    const std::uint8_t silence = monitorSilence_.load(std::memory_order_relaxed);
    if (stateWord() != kStateRunning || !ring_.allocated() || blockAlign_ == 0) {
        std::memset(dest, silence, bytes);
        return;
    }
    const std::uint64_t written = ring_.written.load(std::memory_order_acquire);
    const std::uint64_t total = ring_.totalBytes();
    // Keep clear of what the device may be writing now (one ring behind, plus two callbacks).
    const std::uint64_t margin = 2ull * deviceFrames_ * blockAlign_;
    const std::uint64_t oldest =
        written > total - std::min(total, margin) ? written - (total - std::min(total, margin)) : 0;
    const std::uint64_t end = written > monitorLagBytes_ ? written - monitorLagBytes_ : 0;
    std::uint64_t from = end > bytes ? end - bytes : 0;
    from = std::max(from, oldest);
    const std::uint32_t take =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, end > from ? end - from : 0));
    // Left-pad with silence when less history exists than asked for.
    const std::uint32_t pad = bytes - take;
    std::memset(dest, silence, pad);
    if (take > 0)
        ring_.copyOut(static_cast<std::uint32_t>(from % total), dest + pad, take);
    ring_.monitorReads.fetch_add(1, std::memory_order_release);
}

} // namespace tarnvel::sound
