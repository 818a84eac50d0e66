// Frame processing of playback, per second of audio and as a multiple of real time on one
// core (counter x_realtime, CPU time): de-emphasis with triangular dither at 48 kHz (target:
// at least 300× real time per core), long-play decoding of both halves of a 32 kHz frame,
// and 24-bit assembly of a frame pair at 48 kHz into each output kind.
#include "engine/DeEmphasis.h"
#include "engine/ExtendedFormat.h"
#include "engine/LongPlay.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

using namespace tarnvel::engine;

namespace {

constexpr std::uint32_t kFrameAudio = 5760;

// A frame of music-like 16-bit stereo: two tones and some noise.
std::vector<std::uint8_t> audioFrame(std::uint32_t seed)
{
    std::vector<std::uint8_t> f(kFrameAudio);
    for (std::uint32_t i = 0; i < kFrameAudio / 2; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = static_cast<double>(i / 2);
        const auto v = static_cast<std::int16_t>(12000.0 * std::sin(t * 0.031) +
                                                 6000.0 * std::sin(t * 0.0071 + i % 2) +
                                                 static_cast<double>(seed >> 22) - 512.0);
        f[2 * i] = static_cast<std::uint8_t>(v);
        f[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
    }
    return f;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds of audio processed per second of this thread's CPU time.
class RealTimeRatio {
public:
    explicit RealTimeRatio(double audioSecondsPerIteration)
        : perIteration_(audioSecondsPerIteration)
    {
    }
    void report(benchmark::State& state) const
    {
        const double cpu = threadCpuSeconds() - start_;
        if (cpu > 0)
            state.counters["x_realtime"] =
                perIteration_ * static_cast<double>(state.iterations()) / cpu;
    }

private:
    double perIteration_;
    double start_ = threadCpuSeconds();
};

void BM_DeEmphasis48kTriangular(benchmark::State& state)
{
    DeEmphasis filter;
    filter.prepare(48000);
    const std::vector<std::uint8_t> source = audioFrame(1);
    std::vector<std::uint8_t> block = source;
    const RealTimeRatio ratio(1440.0 / 48000.0);
    for (auto _ : state) {
        block = source;
        filter.process(block.data(), kFrameAudio, DeEmphasis::kDitherTriangular);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    ratio.report(state);
    state.SetLabel("target: x_realtime >= 300 per core");
}
BENCHMARK(BM_DeEmphasis48kTriangular);

void BM_LongPlayDecodeFrame(benchmark::State& state)
{
    const std::vector<std::uint8_t> frame = audioFrame(2);
    std::vector<std::uint8_t> out(2 * kLongPlayHalfBytes);
    const RealTimeRatio ratio(2.0 * kLongPlayHalfPairs / 32000.0);
    for (auto _ : state) {
        decodeLongPlayHalf(frame.data(), 0, out.data());
        decodeLongPlayHalf(frame.data(), 1, out.data() + kLongPlayHalfBytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ratio.report(state);
}
BENCHMARK(BM_LongPlayDecodeFrame);

// Arg: output bit length (24, 32, -32 float).
void BM_ExtendedAssemblePair(benchmark::State& state)
{
    const int bitLen = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> upper = audioFrame(3);
    std::vector<std::uint8_t> low = audioFrame(4);
    for (std::uint32_t i = 1; i < kFrameAudio; i += 2)
        low[i] = 0;
    std::vector<std::uint8_t> out(extendedBlockBytes(kFrameAudio, bitLen));
    const RealTimeRatio ratio(1440.0 / 48000.0);
    for (auto _ : state) {
        assembleExtended(upper.data(), low.data(), kFrameAudio, bitLen, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ratio.report(state);
}
BENCHMARK(BM_ExtendedAssemblePair)->Arg(24)->Arg(32)->Arg(-32);

} // namespace

BENCHMARK_MAIN();
