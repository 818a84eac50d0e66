#include "engine/DeEmphasis.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <cstring>

// Built with -ffp-contract=off (src/CMakeLists.txt): a fused multiply-add would round the
// sums differently, and the output must be the same on every machine.
namespace tarnvel::engine {
namespace {

// Coefficient k multiplies the sample k pairs before the newest one.
constexpr double k32000[DeEmphasis::kTaps] = {
    0.467431653169,  0.286408275349,  0.089377645795,  0.089786105264,  0.017372172543,
    0.033895564403,  -0.002161371196, 0.015823656163,  -0.006129283644, 0.009174902991,
    -0.005901362246, 0.006142457801,  -0.004768752229, 0.00436941905,   -0.003605433784,
    0.003131769373,  -0.002609127515, 0.002194516304,  -0.001803730665, 0.001470959979,
    -0.001174831561, 0.000920835114,  -0.000702490521, 0.00051903966,   -0.00036736398,
    0.000245453148,  -0.000150875303, 0.00008137172,   -0.00003460864,  0.000008263294,
};
constexpr double k44100[DeEmphasis::kTaps] = {
    0.430132127431,  0.238504246459,  0.100627862125,  0.097286489387,  0.037556990838,
    0.043325862441,  0.011370702241,  0.020527061822,  0.001370229762,  0.010604945114,
    -0.001903132278, 0.00607353844,   -0.002565138877, 0.003806806338,  -0.002310550162,
    0.002519222412,  -0.001804149665, 0.001689703022,  -0.001291659791, 0.001107762743,
    -0.000855129948, 0.000686075181,  -0.00051521305,  0.000384768951,  -0.000270372342,
    0.000181533224,  -0.000111219615, 0.000060117306,  -0.00002553094,  0.000006101984,
};
constexpr double k48000[DeEmphasis::kTaps] = {
    0.421712238735,  0.225809353091,  0.101114143351, 0.09790868383,   0.041836811148,
    0.045796342935,  0.015027254334,  0.022309030844, 0.003725862292,  0.011516428772,
    -0.000542754605, 0.006421343913,  -0.00181121246, 0.003871852345,  -0.001893034308,
    0.002472096077,  -0.001567847109, 0.001615483195, -0.001154801371, 0.001041874922,
    -0.000775731946, 0.000639173644,  -0.00047093481, 0.000356600434,  -0.000248114454,
    0.000167777063,  -0.000102272478, 0.000055481504, -0.000023501713, 0.00000562727,
};

} // namespace

void DeEmphasis::prepare(int tapeRate)
{
    switch (tapeRate) {
    case 32000:
        coefficients_ = k32000;
        break;
    case 44100:
        coefficients_ = k44100;
        break;
    case 48000:
        coefficients_ = k48000;
        break;
    default:
        coefficients_ = nullptr;
        break;
    }
    input_.fill(0.0);
    randomState_ = 1;
}

std::uint32_t DeEmphasis::nextRandom()
{
    randomState_ = randomState_ * 22695477u + 1u;
    return (randomState_ >> 16) & 0x7FFF;
}

double DeEmphasis::nextDither(int ditherType)
{
    switch (ditherType) {
    case kDitherRectangular:
        return static_cast<double>(nextRandom()) / 32767.0 - 0.5;
    case kDitherTriangular: {
        const int r1 = static_cast<int>(nextRandom());
        const int r2 = static_cast<int>(nextRandom());
        return static_cast<double>(r1 - r2) / 32767.0 * 0.5;
    }
    default:
        return 0.0;
    }
}

void DeEmphasis::process(std::uint8_t* buffer, std::uint32_t bytes, int ditherType)
{
    if (coefficients_ == nullptr)
        return;
    for (std::uint32_t pairs = bytes / 4; pairs > 0;) {
        const std::uint32_t n = std::min(pairs, kChunkPairs);
        filterChunk(buffer, n, ditherType);
        buffer += 4 * n;
        pairs -= n;
    }
}

void DeEmphasis::filterChunk(std::uint8_t* buffer, std::uint32_t pairs, int ditherType)
{
    const std::uint32_t samples = 2 * pairs;
    double* const x = input_.data() + kHistorySamples;
    for (std::uint32_t i = 0; i < samples; ++i)
        x[i] = static_cast<std::int16_t>(readLe16(buffer + 2 * i));

    const double* const c = coefficients_;
    for (std::uint32_t s = 0; s < samples; s += kGroup) {
        // Each sum runs from the oldest tap to the newest, k = 29 down to 0; the compiler
        // vectorises across the group's samples, which keeps that order in every lane.
        const double* oldest = x + s - kHistorySamples; // tap k = 29 of the group's samples
        double sum[kGroup];
#pragma GCC unroll 8
        for (std::uint32_t j = 0; j < kGroup; ++j)
            sum[j] = c[kTaps - 1] * oldest[j];
        for (int k = kTaps - 2; k >= 0; --k) {
            const double ck = c[k];
            const double* src = oldest + 2 * (kTaps - 1 - k);
#pragma GCC unroll 8
            for (std::uint32_t j = 0; j < kGroup; ++j)
                sum[j] += ck * src[j];
        }
        const std::uint32_t end = std::min(samples, s + kGroup);
        for (std::uint32_t i = s; i < end; i += 2) {
            const double d = nextDither(ditherType);
            for (std::uint32_t ch = 0; ch < 2; ++ch) {
                const double t = sum[i - s + ch] + d + 0.5;
                // Floor by truncation and a step down for negative fractions; |t| < 40000.
                auto v = static_cast<std::int32_t>(t);
                v -= static_cast<double>(v) > t ? 1 : 0;
                v = std::clamp(v, -32768, 32767);
                writeLe16(buffer + 2 * (i + ch), static_cast<std::uint16_t>(v));
            }
        }
    }
    // The last 29 input pairs become the history (a short chunk keeps older history too).
    std::memmove(input_.data(), x + samples - kHistorySamples, kHistorySamples * sizeof(double));
}

} // namespace tarnvel::engine
