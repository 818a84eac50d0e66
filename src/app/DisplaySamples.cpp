#include "app/DisplaySamples.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

namespace tarnvel::app {

int peakLevel(int largestMagnitude)
{
    const int peak = std::clamp(largestMagnitude, 1, 32767);
    return static_cast<int>(std::floor(200.0 * std::log10(peak / 32767.0) + 0.5));
}

int rmsLevel(double sumOfSquares, int pairs)
{
    double meanSquare = pairs > 0 ? sumOfSquares / pairs : 0.0;
    if (meanSquare == 0.0)
        meanSquare = 0.0001;
    return static_cast<int>(std::floor(200.0 * std::log10(std::sqrt(meanSquare) / 32767.0) + 0.5));
}

std::size_t displayBytesPerFrame(std::size_t frameAudioBytes, int bitsPerSample)
{
    switch (bitsPerSample) {
    case 24:
        return frameAudioBytes * 3 / 2;
    case 32:
        return frameAudioBytes * 2;
    default:
        return frameAudioBytes;
    }
}

namespace {

std::int16_t floatTo16(float f)
{
    // The player's floats lie in -1.0 up to just below 1.0; anything else (overshoot, NaN)
    // is kept inside the 16-bit range instead of wrapping.
    if (std::isnan(f))
        return 0;
    const double v = std::trunc(static_cast<double>(f) * 32768.0);
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

} // namespace

bool computeDisplaySamples(const std::uint8_t* data, std::size_t size, int bitsPerSample,
                           bool isFloat, std::size_t frameAudioBytes, DisplaySamples& out)
{
    std::size_t bytesPerSample = 0;
    if (isFloat && bitsPerSample == 32)
        bytesPerSample = 4;
    else if (!isFloat && (bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32))
        bytesPerSample = static_cast<std::size_t>(bitsPerSample / 8);
    else
        return false;

    const std::size_t pairBytes = 2 * bytesPerSample;
    std::size_t pairs = std::min(frameAudioBytes / 4, kMaxDisplayPairs);
    pairs = std::min(pairs, (data == nullptr ? 0 : size) / pairBytes);

    const auto sample = [&](const std::uint8_t* p) -> std::int16_t {
        if (isFloat)
            return floatTo16(std::bit_cast<float>(readLe32(p)));
        // The upper two bytes of a little-endian sample of any width.
        return static_cast<std::int16_t>(readLe16(p + bytesPerSample - 2));
    };

    int maxL = 0;
    int maxR = 0;
    double sumL = 0.0;
    double sumR = 0.0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t* p = data + i * pairBytes;
        const std::int16_t l = sample(p);
        const std::int16_t r = sample(p + bytesPerSample);
        out.left[i] = l;
        out.right[i] = r;
        maxL = std::max(maxL, std::abs(static_cast<int>(l)));
        maxR = std::max(maxR, std::abs(static_cast<int>(r)));
        sumL += static_cast<double>(l) * l;
        sumR += static_cast<double>(r) * r;
    }
    out.pairs = static_cast<int>(pairs);
    const int n = static_cast<int>(pairs);
    out.levels =
        LevelValues{peakLevel(maxL), peakLevel(maxR), rmsLevel(sumL, n), rmsLevel(sumR, n)};
    return true;
}

} // namespace tarnvel::app
