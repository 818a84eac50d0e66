#include "sound/SoundDevice.h"

#include "formats/WaveFileInfo.h"
#include "sound/SampleConversion.h"
#include "sound/SoundMessages.h"

#include <algorithm>

namespace tarnvel::sound {

using formats::stringPrintf;
using formats::WaveFormat;

namespace {

// Probing and information opens never start their stream.
class IdleCallback final : public AudioCallback {
public:
    unsigned process(void*, const void*, unsigned, bool) override { return 0; }
    unsigned framesReady() const override { return 0; }
};

bool hasRate(const AudioDeviceInfo& info, std::uint32_t rate)
{
    return std::find(info.sampleRates.begin(), info.sampleRates.end(), rate) !=
           info.sampleRates.end();
}

} // namespace

SoundDevice::SoundDevice(StreamDirection direction, const SoundDeviceConfig& config)
    : direction_(direction), config_(config)
{
    owner_ = config_.owner ? config_.owner : &defaultOwner_;
    stateWord_ = config_.stateWord ? config_.stateWord : &ownStateWord_;
    if (!config_.backends)
        config_.backends = systemAudioBackends();
    format_ = WaveFormat::make(formats::kWaveFormatPcm, 2, 44100, 16);
    bufferCount_ = std::clamp(config_.minBufferCount, 2, 64);
    const int divisor = std::max(1, config_.bufferDivisor);
    bufferBytes_ =
        format_.blockAlign * (format_.samplesPerSec / static_cast<std::uint32_t>(divisor));
    setStateWord(kStateStopped);
    refreshDevices(true);
    if (unavailable_ && config_.driverType != SoundDriverType::Alsa) {
        config_.driverType = SoundDriverType::Alsa;
        refreshDevices(true);
    }
}

SoundDevice::~SoundDevice() = default;

MessageSink& SoundDevice::messages()
{
    return config_.messages ? *config_.messages : defaultMessages_;
}

bool SoundDevice::fail(const MessagePair& message)
{
    errorText_ = tr(message);
    return false;
}

bool SoundDevice::failFormat(const MessagePair& message, const WaveFormat& f)
{
    errorText_ = stringPrintf(tr(message), static_cast<int>(f.samplesPerSec),
                              f.isFloat() ? "F" : "", static_cast<int>(f.bitsPerSample),
                              formats::waveChannelsText(f.channels).c_str());
    return false;
}

std::string SoundDevice::formatText(const WaveFormat& f) const
{
    return stringPrintf(tr(msg::kFormatText), static_cast<int>(f.samplesPerSec),
                        f.isFloat() ? "F" : "", static_cast<int>(f.bitsPerSample),
                        formats::waveChannelsText(f.channels).c_str());
}

bool SoundDevice::formatPlayable(const WaveFormat& f)
{
    return formats::unplayableReason(f).empty();
}

void SoundDevice::refreshDevices(bool clearError)
{
    if (clearError) {
        errorText_.clear();
        errorDetail_.clear();
        unavailable_ = false;
    }
    openEntry_ = nullptr;
    backend_ = config_.backends->create(config_.driverType);
    const MessagePair* problem = catalog_.refresh(*backend_, config_.driverType, direction_);
    if (problem != nullptr) {
        fail(*problem);
        unavailable_ = true;
    }
}

bool SoundDevice::setDriverType(SoundDriverType type)
{
    if (type == config_.driverType)
        return false;
    const SoundDriverType old = config_.driverType;
    backend_.reset();
    catalog_.clear();
    ring_.release();
    config_.driverType = type;
    refreshDevices(true);
    if (!unavailable_)
        return false;
    const std::string why = errorText_;
    config_.driverType = old;
    refreshDevices(true);
    errorText_ = why;
    return true;
}

void SoundDevice::setBuffers(int count, std::uint32_t bytes)
{
    bufferCount_ = std::clamp(count, 2, 64);
    bufferBytes_ = bytes;
    buffersFixed_ = true;
}

void SoundDevice::applyDefaultSizing(int extraFrames)
{
    const int divisor = std::max(1, config_.bufferDivisor);
    // At least one frame a buffer, so that the count below always ends.
    const std::int64_t f = std::max<std::int64_t>(1, format_.samplesPerSec / divisor);
    std::int64_t count = std::max(config_.minBufferCount, 2);
    while (count < 64 && f * count <= config_.latencyFrames + f + extraFrames)
        ++count;
    setBuffers(static_cast<int>(count), static_cast<std::uint32_t>(f * format_.blockAlign));
    buffersFixed_ = false;
}

bool SoundDevice::planStream(int deviceNumber, int firstChannel, const WaveFormat& f, bool checks,
                             StreamPlan& plan)
{
    const bool output = direction_ == StreamDirection::Output;
    const bool jack = config_.driverType == SoundDriverType::Jack;
    if (unavailable_ || catalog_.deviceCount() == 0 || !backend_) {
        if (jack)
            return fail(msg::kNoDriver);
        return fail(output ? msg::kNoWaveOutputDevice : msg::kNoWaveInputDevice);
    }
    const DeviceCatalog::Entry* entry = catalog_.entry(deviceNumber);
    if (entry == nullptr)
        return jack ? fail(msg::kNoDriver) : fail(msg::kUnableToOpenWaveDevice);
    StreamRequest& req = plan.request;
    req = StreamRequest{};
    req.direction = direction_;
    req.device = entry->backendIndex;
    req.useDefault = entry->isDefault;
    req.rate = f.samplesPerSec;
    req.bufferFrames = config_.deviceBufferFrames;
    req.clientName = config_.clientName;
    req.connectPorts = config_.connectPorts;
    plan.reduced = false;
    if (!jack) {
        plan.deviceType = nativeSampleTypeFor(f);
        plan.deviceBits = bitLengthOfSampleType(plan.deviceType);
        req.sampleType = plan.deviceType;
        req.channels = f.channels;
        req.firstChannel = 0;
        return true;
    }
    openEntry_ = entry;
    plan.deviceType =
        entry->info.channelSampleType != 0 ? entry->info.channelSampleType : kInt24Lsb;
    plan.deviceBits = bitLengthOfSampleType(plan.deviceType);
    const int bits = formatBits(f);
    if (checks) {
        if (output) {
            if (!outputBitLengthAccepted(plan.deviceBits, bits))
                return failf(msg::kUnsupportedBitLength, f.isFloat() ? "F" : "",
                             static_cast<int>(f.bitsPerSample));
        } else {
            const InputFit fit = inputBitLengthTest(plan.deviceBits, bits, allowReduceBitLength_);
            if (fit == InputFit::Refused)
                return failf(msg::kUnsupportedBitLength, f.isFloat() ? "F" : "",
                             static_cast<int>(f.bitsPerSample));
            plan.reduced = fit == InputFit::Reduced;
        }
        if (!hasRate(entry->info, f.samplesPerSec))
            return failf(msg::kUnsupportedSamplingFreq, static_cast<int>(f.samplesPerSec));
    }
    const unsigned available = output ? entry->info.outputChannels : entry->info.inputChannels;
    if (available == 0)
        return fail(msg::kUnableToCreateBuffer);
    if (firstChannel < 0 || static_cast<unsigned>(firstChannel) >= available)
        return fail(msg::kBufferNotActive);
    unsigned channels = static_cast<unsigned>(firstChannel) + 2 > available ? 1 : 2;
    if (!output && f.channels == 1)
        channels = 1;
    req.sampleType = plan.deviceType;
    req.channels = channels;
    req.firstChannel = static_cast<unsigned>(firstChannel);
    return true;
}

bool SoundDevice::openPlanned(const StreamPlan& plan, AudioCallback* callback, StreamInfo& info,
                              const WaveFormat& f)
{
    OpenFailure failure = OpenFailure::None;
    std::string detail;
    if (backend_->openStream(plan.request, callback, info, failure, detail))
        return true;
    errorDetail_ = detail;
    if (config_.driverType == SoundDriverType::Jack) {
        if (failure == OpenFailure::BadRate)
            return failf(msg::kUnableToSetSamplingFreq, static_cast<int>(f.samplesPerSec));
        return fail(msg::kUnableToCreateBuffer);
    }
    switch (failure) {
    case OpenFailure::Busy:
        return fail(msg::kDeviceAlreadyOpened);
    case OpenFailure::BadFormat:
    case OpenFailure::BadRate:
        return failFormat(msg::kUnsupportedFormat, f);
    default:
        return fail(msg::kUnableToOpenWaveDevice);
    }
}

bool SoundDevice::probeOne(const DeviceCatalog::Entry& entry, bool /*isDefault*/,
                           const WaveFormat& f, bool queryOnly, char& mark)
{
    const bool output = direction_ == StreamDirection::Output;
    if (config_.driverType == SoundDriverType::Jack) {
        const int type =
            entry.info.channelSampleType != 0 ? entry.info.channelSampleType : kInt24Lsb;
        const int deviceBits = bitLengthOfSampleType(type);
        const int bits = formatBits(f);
        bool ok;
        if (output) {
            ok = outputBitLengthAccepted(deviceBits, bits);
        } else {
            const InputFit fit = inputBitLengthTest(deviceBits, bits, allowReduceBitLength_);
            ok = fit != InputFit::Refused;
            if (fit == InputFit::Reduced)
                mark = 'R';
        }
        ok = ok && hasRate(entry.info, f.samplesPerSec);
        if (ok && mark == 0 && bits == deviceBits)
            mark = '*';
        return ok;
    }
    if (queryOnly) {
        const unsigned available = output ? entry.info.outputChannels : entry.info.inputChannels;
        return hasRate(entry.info, f.samplesPerSec) && f.channels <= available;
    }
    StreamPlan plan;
    const std::string keepError = errorText_;
    bool ok = false;
    // planStream needs the entry's number; the entry pointer is stable while the list stands.
    for (int n = 0; n <= catalog_.deviceCount(); ++n) {
        if (catalog_.entry(n) == &entry) {
            IdleCallback idle;
            StreamInfo info;
            ok = planStream(n, 0, f, false, plan) && openPlanned(plan, &idle, info, f);
            backend_->closeStream();
            break;
        }
    }
    errorText_ = keepError;
    return ok;
}

FormatTable SoundDevice::probeFormats(int deviceNumber, bool queryOnly)
{
    FormatTable table;
    errorText_.clear();
    const DeviceCatalog::Entry* entry = catalog_.entry(deviceNumber);
    if (entry == nullptr || unavailable_ || !backend_)
        return table;
    const bool jack = config_.driverType == SoundDriverType::Jack;
    for (int r = 0; r < FormatTable::kRows; ++r) {
        for (int c = 0; c < FormatTable::kColumns; ++c) {
            const int bits = FormatTable::kBits[c];
            char& cell = table.cells[r][c];
            if (direction_ == StreamDirection::Input)
                cell = '-';
            for (std::uint16_t ch = 1; ch <= 2; ++ch) {
                if (jack && ch == 1)
                    continue; // only the stereo pass is tried
                const WaveFormat f = WaveFormat::make(
                    bits < 0 ? formats::kWaveFormatIeeeFloat : formats::kWaveFormatPcm, ch,
                    kProbeRates[r], static_cast<std::uint16_t>(bits < 0 ? 32 : bits));
                char mark = 0;
                if (!probeOne(*entry, entry->isDefault, f, queryOnly, mark))
                    continue;
                if (ch == 1)
                    cell = 'M';
                else
                    cell = (cell == 'M' || jack) ? 'S' : 's';
                if (mark == '*')
                    cell = '*';
                if (mark == 'R')
                    cell = 'R';
            }
        }
    }
    return table;
}

bool SoundDevice::openTest(int deviceNumber)
{
    errorText_.clear();
    if (config_.driverType != SoundDriverType::Jack)
        return false;
    if (unavailable_ || catalog_.deviceCount() == 0)
        return fail(msg::kNoDriver);
    const DeviceCatalog::Entry* entry = catalog_.entry(deviceNumber);
    if (entry == nullptr)
        return fail(msg::kNoDriver);
    if (!entry->info.probed)
        return fail(msg::kUnableToGetDeviceCaps);
    openEntry_ = entry;
    return true;
}

bool SoundDevice::controlPanel(int /*deviceNumber*/)
{
    return false;
}

int SoundDevice::channelCount() const
{
    if (config_.driverType != SoundDriverType::Jack || openEntry_ == nullptr)
        return 0;
    return static_cast<int>(direction_ == StreamDirection::Output ? openEntry_->info.outputChannels
                                                                  : openEntry_->info.inputChannels);
}

std::string SoundDevice::channelName(int channel) const
{
    if (channel < 0 || channel >= std::min(channelCount(), 32))
        return tr(msg::kNotAvailable);
    return stringPrintf(
        tr(direction_ == StreamDirection::Output ? msg::kChannelOutput : msg::kChannelInput),
        channel + 1);
}

bool SoundDevice::driverInfoText(int deviceNumber, int firstChannel, std::string& text)
{
    errorText_.clear();
    if (config_.driverType != SoundDriverType::Jack)
        return false;
    const DeviceCatalog::Entry* entry = catalog_.entry(deviceNumber);
    WaveFormat f = format_;
    if (entry != nullptr && entry->info.preferredRate != 0) {
        f = WaveFormat::make(f.formatTag, f.channels, entry->info.preferredRate, f.bitsPerSample);
    }
    StreamPlan plan;
    IdleCallback idle;
    StreamInfo info;
    if (!planStream(deviceNumber, firstChannel, f, false, plan) ||
        !openPlanned(plan, &idle, info, f)) {
        backend_->closeStream();
        return false;
    }
    backend_->closeStream();
    const bool output = direction_ == StreamDirection::Output;
    const double rate = info.rate != 0 ? info.rate : f.samplesPerSec;
    const long inLatency = output ? 0 : info.latencyFrames;
    const long outLatency = output ? info.latencyFrames : 0;
    const int frames = static_cast<int>(info.bufferFrames);
    text = stringPrintf(tr(msg::kInfoHeader), entry->name.c_str());
    text += stringPrintf(tr(msg::kInfoChannels), static_cast<int>(entry->info.inputChannels),
                         static_cast<int>(entry->info.outputChannels));
    text +=
        stringPrintf(tr(msg::kInfoRate), static_cast<int>(rate), plan.deviceBits, plan.deviceType);
    // The server runs one period size: it is the minimum, maximum and preferred size alike.
    text += stringPrintf(tr(msg::kInfoBuffer), frames, frames, frames, 0);
    text +=
        stringPrintf(tr(msg::kInfoLatency), static_cast<int>(inLatency), inLatency / rate * 1000.0,
                     static_cast<int>(outLatency), outLatency / rate * 1000.0);
    text += stringPrintf(tr(msg::kInfoOutputReady), tr(msg::kNo));
    return true;
}

bool SoundDevice::driverInfo(int deviceNumber, int firstChannel)
{
    std::string text;
    if (driverInfoText(deviceNumber, firstChannel, text)) {
        messages().showMessage(text, MessageIcon::Information);
        return true;
    }
    if (!errorText_.empty())
        messages().showMessage(errorText_, MessageIcon::Warning);
    return false;
}

bool SoundDevice::endRunOnWindowThread(bool otherWasEnabled)
{
    owner().setPosition(0);
    owner().setControlEnabled(SoundControl::Start, true);
    owner().setControlEnabled(SoundControl::Stop, false);
    owner().setPauseDown(false);
    owner().setControlEnabled(SoundControl::Pause, false);
    owner().setControlEnabled(SoundControl::Other, otherWasEnabled);
    setStateWord(kStateStopped);
    if (errorText_.empty())
        return false;
    messages().showMessage(stringPrintf(tr(msg::kStopped), errorText_.c_str()),
                           MessageIcon::Warning);
    return true;
}

} // namespace tarnvel::sound
