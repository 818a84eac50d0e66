// The quality check's measuring of one hour of 48 kHz 16-bit stereo on one core, as a multiple
// of real time (goal: at least 300): decoding and every figure and picture of the analysis
// (loudness, loudness range and true peak by libebur128, peaks, clipping, silence, DC offset,
// waveform overview, spectrogram), fed from memory in the blocks the file reader uses; and
// the same for an hour-long WAV file read from disk (page cache warm after the first run); and
// libebur128 alone on the same audio, with and without its true-peak meter, for its share.
// Usage: bench_qc_analysis [--benchmark_filter=...]; TARNVEL_BENCH_DIR for the file's folder.
#include "common/MessageSink.h"
#include "formats/WaveFileWriter.h"
#include "qc/WaveAnalysis.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ebur128.h>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace tarnvel;

constexpr std::uint32_t kRate = 48000;
constexpr std::uint64_t kHourFrames = 3600ULL * kRate;
constexpr std::size_t kBlockFrames = 16384;
constexpr std::size_t kLoopFrames = 10 * kRate; // ten seconds of music, played over and over

// Something like music at about -18 LUFS: a few tones with moving envelopes over soft noise.
std::vector<std::int16_t> music()
{
    std::vector<std::int16_t> out(kLoopFrames * 2);
    std::uint32_t noise = 12345;
    for (std::size_t n = 0; n < kLoopFrames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double env = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 0.7 * t);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        const double tone = 0.15 * std::sin(2 * 3.14159265 * 220 * t) +
                            0.08 * env * std::sin(2 * 3.14159265 * 1320 * t) +
                            0.04 * std::sin(2 * 3.14159265 * 5100 * t);
        out[2 * n] = static_cast<std::int16_t>(std::lround((tone + hiss) * 32767));
        out[2 * n + 1] = static_cast<std::int16_t>(std::lround((0.9 * tone - hiss) * 32767));
    }
    return out;
}

void BM_AnalyseHourFromMemory(benchmark::State& state)
{
    const std::vector<std::int16_t> loop = music();
    const formats::WaveFormat format = formats::WaveFormat::make(1, 2, kRate, 16);
    std::vector<float> samples(kBlockFrames * 2);
    for (auto _ : state) {
        qc::WaveAnalysis analysis;
        std::string error;
        if (!analysis.start(format, kHourFrames, {}, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        std::uint64_t done = 0;
        std::size_t at = 0;
        while (done < kHourFrames) {
            const std::size_t n = std::min<std::size_t>(
                {kBlockFrames, kLoopFrames - at, static_cast<std::size_t>(kHourFrames - done)});
            qc::decodeSamples(reinterpret_cast<const std::uint8_t*>(loop.data() + 2 * at), n,
                              format, samples.data());
            analysis.add(samples.data(), n);
            done += n;
            at = (at + n) % kLoopFrames;
        }
        analysis.finish();
        benchmark::DoNotOptimize(analysis.figures().loudness);
    }
    // Seconds of audio per second of this thread's CPU time.
    state.counters["x_real_time"] =
        benchmark::Counter(3600.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AnalyseHourFromMemory)->Unit(benchmark::kSecond)->Iterations(1);

void BM_LoudnessMeterAlone(benchmark::State& state)
{
    const std::vector<std::int16_t> loop = music();
    std::vector<float> samples(loop.size());
    for (std::size_t i = 0; i < loop.size(); ++i)
        samples[i] = static_cast<float>(loop[i]) / 32768.0f;
    int mode = EBUR128_MODE_I | EBUR128_MODE_LRA;
    if (state.range(0) != 0)
        mode |= EBUR128_MODE_TRUE_PEAK;
    for (auto _ : state) {
        ebur128_state* meter = ebur128_init(2, kRate, mode);
        for (std::uint64_t done = 0; done < kHourFrames; done += kLoopFrames)
            ebur128_add_frames_float(meter, samples.data(), kLoopFrames);
        double loudness = 0;
        ebur128_loudness_global(meter, &loudness);
        benchmark::DoNotOptimize(loudness);
        ebur128_destroy(&meter);
    }
    state.counters["x_real_time"] =
        benchmark::Counter(3600.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoudnessMeterAlone)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("true_peak")
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

void BM_AnalyseHourFile(benchmark::State& state)
{
    const char* dir = std::getenv("TARNVEL_BENCH_DIR");
    const std::string path =
        (std::filesystem::path(dir != nullptr ? dir
                                              : std::filesystem::temp_directory_path().c_str()) /
         "tarnvel-qc-bench.WAV")
            .string();
    {
        const std::vector<std::int16_t> loop = music();
        CollectingMessageSink sink;
        formats::WaveFileWriter writer(sink);
        writer.setFileName(path);
        writer.setFormat(formats::WaveFormat::make(1, 2, kRate, 16));
        if (!writer.create()) {
            state.SkipWithError("cannot create the file");
            return;
        }
        for (std::uint64_t done = 0; done < kHourFrames; done += kLoopFrames)
            writer.write(reinterpret_cast<const std::uint8_t*>(loop.data()), loop.size() * 2);
        writer.finish(false);
    }
    for (auto _ : state) {
        const qc::FileAnalysis a = qc::analyseWaveFiles({path});
        if (!a.ok) {
            state.SkipWithError(a.error.c_str());
            break;
        }
    }
    std::filesystem::remove(path);
    state.counters["x_real_time"] =
        benchmark::Counter(3600.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AnalyseHourFile)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
