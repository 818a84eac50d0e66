// CPU time the sound output path spends per second of 48 kHz audio: PlayThread filling the
// buffer ring from a source, the device callback converting into the device's sample type, on
// the null device running as fast as the player keeps up. Reported per second of audio
// (process CPU time, all threads), so a figure of 1 ms means 0.1 % of one core at real time.
#include "sound/NullAudioBackend.h"
#include "sound/WavePlayer.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace tarnvel;
using namespace tarnvel::sound;

namespace {

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Args: driver type (0 ALSA role: native sample type, 2 JACK role: 24-bit channels),
// float source (0/1).
void BM_OutputPath(benchmark::State& state)
{
    const auto type = static_cast<SoundDriverType>(state.range(0));
    const bool isFloat = state.range(1) != 0;
    const formats::WaveFormat format =
        isFloat ? formats::WaveFormat::make(formats::kWaveFormatIeeeFloat, 2, 48000, 32)
                : formats::WaveFormat::make(formats::kWaveFormatPcm, 2, 48000, 16);
    constexpr int kSeconds = 4;
    const std::size_t total = static_cast<std::size_t>(format.avgBytesPerSec) * kSeconds;
    std::vector<std::uint8_t> audio(total);
    for (std::size_t i = 0; i < total; ++i)
        audio[i] = static_cast<std::uint8_t>(i * 31 + 7);
    if (isFloat)
        for (std::size_t i = 0; i + 4 <= total; i += 4) {
            const float v = std::sin(static_cast<float>(i) * 0.001f) * 0.8f;
            std::memcpy(audio.data() + i, &v, 4);
        }

    NullDeviceOptions device;
    device.realTime = false;
    device.bufferFrames = 256;
    double cpu = 0;
    for (auto _ : state) {
        std::size_t at = 0;
        WavePlayer::Config c;
        c.backends = std::make_shared<NullBackendProvider>(device);
        c.driverType = type;
        c.sourceProc = [&](std::uint8_t* buffer, std::uint32_t bytes) {
            const std::size_t n = std::min<std::size_t>(bytes, total - at);
            std::memcpy(buffer, audio.data() + at, n);
            at += n;
            return static_cast<std::uint32_t>(n);
        };
        WavePlayer player(c);
        formats::WaveFormat f = format;
        if (player.setSource("", f) || !player.start(0, 0)) {
            state.SkipWithError(player.getErrorText().c_str());
            break;
        }
        const double before = processCpuSeconds();
        while (player.stateWord() != kStateStopped)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double used = processCpuSeconds() - before;
        player.stop();
        cpu += used;
        state.SetIterationTime(used);
    }
    state.counters["cpu_ms_per_audio_s"] =
        benchmark::Counter(cpu * 1000.0 / (static_cast<double>(state.iterations()) * kSeconds));
}

} // namespace

BENCHMARK(BM_OutputPath)
    ->ArgNames({"type", "float"})
    ->Args({0, 0})
    ->Args({2, 0})
    ->Args({2, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

BENCHMARK_MAIN();
