#include "sound/AudioBackend.h"
#include "sound/SampleConversion.h"

#include <RtAudio.h>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <mutex>
#include <utility>

// The audio library reaches ALSA, PulseAudio and JACK. It reports failures by exceptions or
// through an error callback without user data; both end here and become texts.
namespace tarnvel::sound {

namespace {

class RtAudioBackend;

// Errors raised while a call of ours is in progress on this thread belong to that call. Errors
// raised on a stream's own thread belong to the stream whose callback last ran there; the rest
// (server shutdown notices from a library thread) mark every stream open at the time as failed.
thread_local std::string* tCallError = nullptr;
thread_local RtAudioBackend* tStreamBackend = nullptr;
std::mutex gRunErrorMutex;
std::string gRunErrorText;
std::atomic<unsigned> gRunErrors{0};

void recordStreamError(RtAudioBackend* backend, const std::string& text);

void onLibraryError(RtAudioError::Type type, const std::string& text)
{
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING)
        return;
    if (tCallError != nullptr) {
        *tCallError = text;
        return;
    }
    if (tStreamBackend != nullptr) {
        recordStreamError(tStreamBackend, text);
        return;
    }
    {
        std::lock_guard lock(gRunErrorMutex);
        gRunErrorText = text;
    }
    gRunErrors.fetch_add(1, std::memory_order_release);
}

// The ALSA library's diagnostics, kept instead of printed (see takeLibraryDiagnostics).
std::mutex gDiagnosticsMutex;
LibraryDiagnostics gDiagnostics;

void onAlsaLibraryError(const char* /*file*/, int /*line*/, const char* /*function*/, int error,
                        const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard lock(gDiagnosticsMutex);
    if (gDiagnostics.count++ == 0) {
        gDiagnostics.first = text;
        if (error != 0)
            gDiagnostics.first += std::string(": ") + snd_strerror(error);
    }
}

void routeAlsaDiagnostics()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&onAlsaLibraryError); });
}

struct CallScope {
    explicit CallScope(std::string& sink) : previous(tCallError) { tCallError = &sink; }
    ~CallScope() { tCallError = previous; }
    std::string* previous;
};

RtAudio::Api apiFor(SoundDriverType type)
{
    switch (type) {
    case SoundDriverType::Alsa:
        return RtAudio::LINUX_ALSA;
    case SoundDriverType::Pulse:
        return RtAudio::LINUX_PULSE;
    case SoundDriverType::Jack:
        return RtAudio::UNIX_JACK;
    }
    return RtAudio::UNSPECIFIED;
}

RtAudioFormat libraryFormat(int sampleType)
{
    switch (sampleType) {
    case kInt24Lsb:
        return RTAUDIO_SINT24;
    case kInt32Lsb:
        return RTAUDIO_SINT32;
    case kFloat32Lsb:
        return RTAUDIO_FLOAT32;
    default:
        return RTAUDIO_SINT16;
    }
}

bool containsNoCase(std::string text, std::string what)
{
    auto lower = [](std::string& s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    lower(text);
    lower(what);
    return text.find(what) != std::string::npos;
}

struct CallbackGlue {
    RtAudioBackend* backend = nullptr;
    AudioCallback* callback = nullptr;
};

int streamCallback(void* output, void* input, unsigned frames, double /*time*/,
                   RtAudioStreamStatus status, void* user)
{
    auto* glue = static_cast<CallbackGlue*>(user);
    tStreamBackend = glue->backend; // a plain thread-local store: real-time safe
    glue->callback->process(output, input, frames, status != 0);
    return 0;
}

class RtAudioBackend final : public AudioBackend {
public:
    explicit RtAudioBackend(SoundDriverType type) : type_(type)
    {
        routeAlsaDiagnostics();
        try {
            CallScope scope(createError_);
            audio_ = std::make_unique<RtAudio>(apiFor(type));
            audio_->showWarnings(false);
        } catch (const std::exception& e) {
            createError_ = e.what();
            audio_.reset();
        }
    }
    ~RtAudioBackend() override { closeStream(); }

    bool listDevices(std::vector<AudioDeviceInfo>& devices, std::string& error) override
    {
        devices.clear();
        if (!audio_) {
            error = createError_.empty() ? "audio library unavailable" : createError_;
            return false;
        }
        try {
            CallScope scope(error);
            const unsigned n = audio_->getDeviceCount();
            for (unsigned i = 0; i < n; ++i) {
                const RtAudio::DeviceInfo d = audio_->getDeviceInfo(i);
                AudioDeviceInfo info;
                info.probed = d.probed;
                info.name = d.name;
                info.outputChannels = d.outputChannels;
                info.inputChannels = d.inputChannels;
                info.isDefaultOutput = d.isDefaultOutput;
                info.isDefaultInput = d.isDefaultInput;
                info.sampleRates.assign(d.sampleRates.begin(), d.sampleRates.end());
                info.preferredRate = d.preferredSampleRate;
                // JACK carries 32-bit float, which holds 24 bits exactly: its channels are
                // offered as 24-bit.
                info.channelSampleType = type_ == SoundDriverType::Jack ? kInt24Lsb : 0;
                devices.push_back(std::move(info));
            }
            return true;
        } catch (const std::exception& e) {
            error = e.what();
            devices.clear();
            return false;
        }
    }

    int defaultDevice(StreamDirection direction) override
    {
        if (!audio_)
            return -1;
        try {
            std::string ignored;
            CallScope scope(ignored);
            if (audio_->getDeviceCount() == 0)
                return -1;
            return static_cast<int>(direction == StreamDirection::Output
                                        ? audio_->getDefaultOutputDevice()
                                        : audio_->getDefaultInputDevice());
        } catch (const std::exception&) {
            return -1;
        }
    }

    bool openStream(const StreamRequest& request, AudioCallback* callback, StreamInfo& info,
                    OpenFailure& failure, std::string& error) override
    {
        failure = OpenFailure::Other;
        closeStream();
        if (!audio_) {
            error = createError_.empty() ? "audio library unavailable" : createError_;
            return false;
        }
        std::string callError;
        try {
            CallScope scope(callError);
            unsigned device = request.device;
            if (request.useDefault) {
                const int d = defaultDevice(request.direction);
                if (d < 0) {
                    error = "no default device";
                    return false;
                }
                device = static_cast<unsigned>(d);
            }
            RtAudio::StreamParameters params;
            params.deviceId = device;
            params.nChannels = request.channels;
            params.firstChannel = request.firstChannel;
            RtAudio::StreamOptions options;
            if (!request.connectPorts)
                options.flags |= RTAUDIO_JACK_DONT_CONNECT;
            options.streamName = request.clientName.empty() ? "tarnvel" : request.clientName;
            // Periods of headroom against scheduling delays on a loaded machine, and for ALSA a
            // real-time callback thread where the system grants one (the library falls back to
            // an ordinary thread otherwise). PulseAudio and JACK clients are paced by their
            // server, whose threads must not be starved by ours.
            options.numberOfBuffers = 4;
            if (type_ == SoundDriverType::Alsa) {
                options.flags |= RTAUDIO_SCHEDULE_REALTIME;
                options.priority = 10;
            }
            unsigned frames = request.bufferFrames;
            const bool output = request.direction == StreamDirection::Output;
            runErrorsAtOpen_ = gRunErrors.load(std::memory_order_acquire);
            streamFailed_.store(false);
            glue_.backend = this;
            glue_.callback = callback;
            audio_->openStream(output ? &params : nullptr, output ? nullptr : &params,
                               libraryFormat(request.sampleType), request.rate, &frames,
                               &streamCallback, &glue_, &options, &onLibraryError);
            if (!audio_->isStreamOpen()) {
                error = callError.empty() ? "stream not opened" : callError;
                failure = classify(error);
                return false;
            }
            info.bufferFrames = frames;
            info.rate = audio_->getStreamSampleRate();
            info.latencyFrames = audio_->getStreamLatency();
            if (info.rate != 0 && info.rate != request.rate) {
                audio_->closeStream();
                error = "the device runs at another rate";
                failure = OpenFailure::BadRate;
                return false;
            }
            failure = OpenFailure::None;
            return true;
        } catch (const std::exception& e) {
            error = e.what();
            failure = classify(error);
            return false;
        }
    }

    bool startStream(std::string& error) override
    {
        return call(error, [this] { audio_->startStream(); });
    }

    bool stopStream(std::string& error) override
    {
        return call(error, [this] {
            if (!audio_->isStreamRunning())
                return;
            // JACK processes what the callback gave within the same cycle, so there is nothing
            // to drain; the library's draining stop also waits on a condition without holding
            // its mutex.
            if (type_ == SoundDriverType::Jack)
                audio_->abortStream();
            else
                audio_->stopStream();
        });
    }

    void closeStream() override
    {
        if (!audio_)
            return;
        std::string ignored;
        call(ignored, [this] {
            if (audio_->isStreamOpen())
                audio_->closeStream();
        });
    }

    bool streamOpen() const override { return audio_ && audio_->isStreamOpen(); }

    bool streamFailed(std::string& error) override
    {
        std::lock_guard lock(gRunErrorMutex);
        if (streamFailed_.load(std::memory_order_acquire)) {
            error = streamErrorText_;
            return true;
        }
        if (gRunErrors.load(std::memory_order_acquire) == runErrorsAtOpen_)
            return false;
        error = gRunErrorText;
        return true;
    }

    // The stream's thread, on the library's error path only (never from our callback).
    void recordError(const std::string& text)
    {
        std::lock_guard lock(gRunErrorMutex);
        streamErrorText_ = text;
        streamFailed_.store(true, std::memory_order_release);
    }

private:
    template <typename Fn> bool call(std::string& error, Fn fn)
    {
        if (!audio_) {
            error = createError_;
            return false;
        }
        std::string callError;
        try {
            CallScope scope(callError);
            fn();
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
        if (!callError.empty()) {
            error = callError;
            return false;
        }
        return true;
    }

    static OpenFailure classify(const std::string& text)
    {
        if (containsNoCase(text, "busy"))
            return OpenFailure::Busy;
        if (containsNoCase(text, "sample rate") || containsNoCase(text, "samplerate"))
            return OpenFailure::BadRate;
        if (containsNoCase(text, "format") || containsNoCase(text, "channel"))
            return OpenFailure::BadFormat;
        return OpenFailure::Other;
    }

    SoundDriverType type_;
    std::unique_ptr<RtAudio> audio_;
    std::string createError_;
    unsigned runErrorsAtOpen_ = 0;
    CallbackGlue glue_;
    std::atomic<bool> streamFailed_{false};
    std::string streamErrorText_; // guarded by gRunErrorMutex
};

void recordStreamError(RtAudioBackend* backend, const std::string& text)
{
    backend->recordError(text);
}

class SystemProvider final : public AudioBackendProvider {
public:
    std::unique_ptr<AudioBackend> create(SoundDriverType type) override
    {
        return std::make_unique<RtAudioBackend>(type);
    }
};

} // namespace

LibraryDiagnostics takeLibraryDiagnostics()
{
    std::lock_guard lock(gDiagnosticsMutex);
    return std::exchange(gDiagnostics, {});
}

std::shared_ptr<AudioBackendProvider> systemAudioBackends()
{
    return std::make_shared<SystemProvider>();
}

} // namespace tarnvel::sound
