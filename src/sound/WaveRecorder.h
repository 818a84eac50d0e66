#pragma once

#include "formats/WaveFileWriter.h"
#include "sound/SoundDevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tarnvel::sound {

// The sound input. The device callback converts captured samples into the ring; RecThread hands
// each full buffer to the WAV writer and/or the owner's SinkProc (and, with the ALSA type and
// the monitor on, to an output device of the same number), then gives the buffer back.
// Captured audio is never overwritten before RecThread has taken it: when the ring is full the
// run ends with an overflow message instead of losing samples silently.
//
// Threads: the owner's thread calls every operation; RecThread calls SinkProc and the writer and
// hands ProgressProc and display updates to the owner (invoke); the device's thread runs the
// callback; the display thread may call getMonitorData at any time.
class WaveRecorder : public SoundDevice, private AudioCallback {
public:
    // Receives a captured block; returns the bytes taken (0 ends the run).
    using SinkProc = std::function<std::uint32_t(std::uint8_t* buffer, std::uint32_t bytes)>;
    using ProgressProc = std::function<void()>;
    using SourceHoldProc = std::function<void(bool release)>;

    struct Config : SoundDeviceConfig {
        SinkProc sinkProc;
        ProgressProc progressProc;
        SourceHoldProc sourceHoldProc;
        int monitorLag = 9600; // lag of the monitor data behind capture, in 1/192000 s
        bool allowReduceBitLength = false;
    };

    explicit WaveRecorder(const Config& config);
    ~WaveRecorder() override;

    void setAllowReduceBitLength(bool on) { allowReduceBitLength_ = on; }

    // Where captured audio goes: a WAV file (created empty at once, so that an unusable name is
    // reported now) or, with an empty name, SinkProc only. With `testDevice` the device is
    // opened and closed to check the format. Returns true on error.
    bool setTarget(const std::string& fileName, const formats::WaveFormat& format, bool alsoToSink,
                   int deviceNumber, bool testDevice, bool monitor);
    // Opens the device and starts RecThread; true when the run has begun.
    bool start(int deviceNumber, int firstChannel);
    // Asks the run to end and waits for it, letting the owner process its work meanwhile.
    void stop();

    // Display thread: the `bytes` bytes that end MonitorLag behind the capture position.
    void getMonitorData(std::uint8_t* dest, std::uint32_t bytes);

    // JACK role: hardware direct monitoring. No JACK server offers it through the audio
    // library, so this answers false.
    bool directMonitor(int deviceNumber, bool on);

    // The WAV writer, also used directly by playback to file.
    formats::WaveFileWriter& writer() { return writer_; }
    // The target name after setTarget (the corrected ".WAV" name after a refused extension).
    const std::string& targetFileName() const { return writer_.fileName(); }

    // Frames the device captured that found no room (a run then ends with an overflow).
    std::uint64_t overflowFrames() const { return overflowFrames_.load(std::memory_order_relaxed); }
    // Times the device reported input it had to drop.
    std::uint64_t deviceOverruns() const { return deviceOverruns_.load(std::memory_order_relaxed); }
    // Bytes handed to the file and/or the sink in the current or last run (any thread).
    std::uint64_t deliveredBytes() const { return delivered_.load(std::memory_order_relaxed); }
    std::uint64_t capturedBytes() const { return ring_.written.load(std::memory_order_acquire); }

private:
    class MonitorOutput;

    unsigned process(void* output, const void* input, unsigned frames, bool xrun) override;
    unsigned framesReady() const override;

    void run();
    std::uint32_t deliver(std::uint8_t* block);
    void updatePosition();
    bool openMonitor(int deviceNumber);
    void closeRun();

    Config cfg_;
    formats::WaveFileWriter writer_;
    bool fileActive_ = false;
    bool alsoToSink_ = false;
    bool ready_ = false;
    bool monitorOn_ = false;
    std::unique_ptr<MonitorOutput> monitor_;
    std::unique_ptr<AudioBackend> monitorBackend_;

    std::thread thread_;
    std::atomic<bool> stopRequest_{false};
    std::atomic<int> sampleTypeError_{0};
    std::atomic<std::uint64_t> overflowFrames_{0};
    std::atomic<std::uint64_t> deviceOverruns_{0};
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::uint8_t> monitorSilence_{0};
    int deviceType_ = 0;
    unsigned deviceChannels_ = 2;
    unsigned deviceFrames_ = 0;
    int ringBits_ = 16;
    int ringChannels_ = 2;
    std::uint32_t blockAlign_ = 4;
    std::uint32_t runBufferBytes_ = 0;
    std::uint32_t monitorLagBytes_ = 0;
    bool sourceReleased_ = false;
    bool deviceStarted_ = false;
    bool otherWasEnabled_ = false;
    std::uint64_t position_ = 0;
    int lastSecond_ = -1;
};

} // namespace tarnvel::sound
