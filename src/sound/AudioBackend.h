#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The one interface between the sound devices and an audio library or a device of our own.
// Back-ends never throw: every failure comes back as false plus a text.
namespace tarnvel::sound {

// Driver types as the settings number them (`PlayRecDriverType`).
enum class SoundDriverType : int { Alsa = 0, Pulse = 1, Jack = 2 };
inline constexpr int kDriverTypeCount = 3;

enum class StreamDirection { Output, Input };

// Sample rates of the format list, in its row order.
inline constexpr std::uint32_t kProbeRates[9] = {11025, 22050, 32000,  44100, 48000,
                                                 88200, 96000, 176400, 192000};

struct AudioDeviceInfo {
    bool probed = false; // false: the device's capabilities could not be read
    std::string name;
    unsigned outputChannels = 0;
    unsigned inputChannels = 0;
    bool isDefaultOutput = false;
    bool isDefaultInput = false;
    std::vector<std::uint32_t> sampleRates; // rates the device reports it can run
    std::uint32_t preferredRate = 0;
    // Low-latency role: the sample type of the device's channels (kInt16Lsb, kInt24Lsb, ...);
    // 0 where the device converts whatever it is given.
    int channelSampleType = 0;
};

// The real-time side of a stream. Called on the device's thread: implementations must not
// allocate, lock contended mutexes, log or block.
class AudioCallback {
public:
    virtual ~AudioCallback() = default;
    // `output` (output streams) is to be filled, `input` (input streams) holds captured samples;
    // both interleaved in the stream's sample type and channel count. `xrun` reports a gap the
    // device saw. Returns the number of frames that carried audio (pacing of the null device).
    virtual unsigned process(void* output, const void* input, unsigned frames, bool xrun) = 0;
    // Frames the callback could serve right now without a gap; devices that wait for their
    // client (the null device when it runs as fast as possible) ask this. Any thread.
    virtual unsigned framesReady() const = 0;
};

struct StreamRequest {
    StreamDirection direction = StreamDirection::Output;
    unsigned device = 0;       // index in listDevices()
    bool useDefault = false;   // open the system's default device instead of `device`
    unsigned firstChannel = 0; // device channel of the stream's channel 0
    unsigned channels = 2;
    int sampleType = 16; // kInt16Lsb, kInt24Lsb, kInt32Lsb, kFloat32Lsb
    std::uint32_t rate = 48000;
    unsigned bufferFrames = 512; // requested; the device may choose another
    bool connectPorts = true;    // JACK: connect to the device's ports
    std::string clientName;      // JACK: client name (empty: the back-end's own)
};

struct StreamInfo {
    unsigned bufferFrames = 0; // frames per callback
    std::uint32_t rate = 0;    // the rate the device runs at
    long latencyFrames = 0;    // the device's own latency
};

enum class OpenFailure { None, Busy, BadFormat, BadRate, Other };

class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    // Main thread (not real-time): device catalogue. False with `error` when the library or
    // server cannot be reached at all.
    virtual bool listDevices(std::vector<AudioDeviceInfo>& devices, std::string& error) = 0;
    // Device index of the system default, or -1.
    virtual int defaultDevice(StreamDirection direction) = 0;

    // One stream at a time per back-end object.
    virtual bool openStream(const StreamRequest& request, AudioCallback* callback, StreamInfo& info,
                            OpenFailure& failure, std::string& error) = 0;
    virtual bool startStream(std::string& error) = 0;
    // Stops after the device has played what it was given.
    virtual bool stopStream(std::string& error) = 0;
    virtual void closeStream() = 0;
    virtual bool streamOpen() const = 0;
    // Set by the device's thread when the stream failed while running; text in `error`.
    virtual bool streamFailed(std::string& error) = 0;
};

// Creates the back-end that serves a driver type. The null provider serves every type with the
// null device; the default one uses the audio library.
class AudioBackendProvider {
public:
    virtual ~AudioBackendProvider() = default;
    virtual std::unique_ptr<AudioBackend> create(SoundDriverType type) = 0;
};

// The audio library's ALSA, PulseAudio and JACK back-ends.
std::shared_ptr<AudioBackendProvider> systemAudioBackends();

// The ALSA library prints its own diagnostics on stderr (some thirty lines when a machine has no
// sound card). Once a system back-end exists they are collected here instead: the first since
// the last call, and how many there were. Any thread.
struct LibraryDiagnostics {
    std::string first;
    unsigned count = 0;
};
LibraryDiagnostics takeLibraryDiagnostics();

} // namespace tarnvel::sound
