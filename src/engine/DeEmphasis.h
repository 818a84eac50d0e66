#pragma once

#include <array>
#include <cstdint>

namespace tarnvel::engine {

// The de-emphasis filter of playback: a 30-tap filter over the input samples of each channel,
// optional dither, rounding and clipping to 16 bits. One object serves one playback run on one
// thread at a time; it holds all its storage, so `process` never allocates or locks.
class DeEmphasis {
public:
    static constexpr int kTaps = 30;
    // Dither kinds of the `DitherType` setting; any other value means none.
    static constexpr int kDitherNone = 0;
    static constexpr int kDitherRectangular = 1;
    static constexpr int kDitherTriangular = 2;

    // Clears the history, chooses the coefficient set for the tape rate (32000, 44100,
    // 48000; any other rate: none, and `process` does nothing) and seeds the dither
    // generator with 1.
    void prepare(int tapeRate);
    bool hasCoefficients() const { return coefficients_ != nullptr; }

    // Filters interleaved 16-bit little-endian stereo samples in place (whole pairs of
    // `bytes`; a trailing partial pair is left alone). The history is the last input pairs
    // of the previous calls, so a stream filtered in pieces of any size gives the same result.
    void process(std::uint8_t* buffer, std::uint32_t bytes, int ditherType);

private:
    static constexpr std::uint32_t kChunkPairs = 1440;
    static constexpr std::uint32_t kHistorySamples = 2 * (kTaps - 1);
    // Samples the filter loop computes at once; the work area has room for a last, partly
    // used group.
    static constexpr std::uint32_t kGroup = 8;

    void filterChunk(std::uint8_t* buffer, std::uint32_t pairs, int ditherType);
    std::uint32_t nextRandom();
    double nextDither(int ditherType);

    const double* coefficients_ = nullptr;
    std::uint32_t randomState_ = 1;
    // Input samples as doubles: the history (the previous 29 pairs), then the chunk.
    std::array<double, kHistorySamples + 2 * kChunkPairs + kGroup> input_{};
};

} // namespace tarnvel::engine
