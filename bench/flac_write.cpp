// Archive encoding speed as a ratio to real time: one minute of 48 kHz 16-bit stereo
// music-like audio (a chord with a slow envelope and a little noise) in blocks of two DAT
// frames, through the FLAC writer at the default level (and the fastest and the smallest) and
// through the WAV writer for comparison. "x_real_time" is seconds of audio per second; a drive
// at deck speed needs 1 (the goal is 500 on one core).
#include "common/MessageSink.h"
#include "formats/FlacFileWriter.h"
#include "formats/WaveFileWriter.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlockFrames = 2 * 1440;
constexpr int kSeconds = 60;
constexpr std::size_t kFrames = 48000 * kSeconds;

std::string benchFile(const char* name)
{
    const char* dir = std::getenv("TARNVEL_BENCH_DIR");
    return (std::filesystem::path(dir != nullptr ? dir
                                                 : std::filesystem::temp_directory_path().c_str()) /
            name)
        .string();
}

const std::vector<std::uint8_t>& music()
{
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(kFrames * 4);
        std::uint32_t noise = 1;
        for (std::size_t i = 0; i < kFrames; ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            const double envelope = 0.5 + 0.4 * std::sin(2 * M_PI * 0.2 * t);
            for (int c = 0; c < 2; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const double v = envelope * (0.3 * std::sin(2 * M_PI * 220.0 * t + c) +
                                             0.2 * std::sin(2 * M_PI * 277.2 * t) +
                                             0.15 * std::sin(2 * M_PI * 329.6 * t)) +
                                 static_cast<double>(static_cast<std::int32_t>(noise)) / 2.1e11;
                const auto s = static_cast<std::int16_t>(std::lround(v * 32767.0));
                b[i * 4 + c * 2] = static_cast<std::uint8_t>(s);
                b[i * 4 + c * 2 + 1] =
                    static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8);
            }
        }
        return b;
    }();
    return bytes;
}

void run(benchmark::State& state, tarnvel::formats::AudioFileWriter& writer, const char* name)
{
    const auto& data = music();
    const std::string path = benchFile(name);
    writer.setFileName(path);
    writer.setFormat(tarnvel::formats::WaveFormat::make(1, 2, 48000, 16));
    std::uintmax_t size = 0;
    for (auto _ : state) {
        if (!writer.create()) {
            state.SkipWithError("create failed");
            break;
        }
        for (std::size_t at = 0; at < data.size(); at += kBlockFrames * 4) {
            const std::size_t n = std::min(kBlockFrames * 4, data.size() - at);
            if (writer.write(data.data() + at, n) != n) {
                state.SkipWithError("write failed");
                break;
            }
        }
        if (!writer.finish(false))
            state.SkipWithError("finish failed");
        size = std::filesystem::file_size(path);
    }
    std::filesystem::remove(path);
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(kSeconds), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["size_ratio"] = static_cast<double>(size) / static_cast<double>(data.size());
}

void BM_FlacWriter(benchmark::State& state)
{
    music(); // made before the timing
    tarnvel::CollectingMessageSink sink;
    tarnvel::formats::FlacFileWriter writer(sink, static_cast<int>(state.range(0)));
    run(state, writer, "tarnvel-bench.flac");
}
BENCHMARK(BM_FlacWriter)->Arg(5)->Arg(0)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WaveWriter(benchmark::State& state)
{
    music();
    tarnvel::CollectingMessageSink sink;
    tarnvel::formats::WaveFileWriter writer(sink);
    run(state, writer, "tarnvel-bench-flac-compare.WAV");
}
BENCHMARK(BM_WaveWriter)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
