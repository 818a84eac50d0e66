#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnvel::app {

// Levels of one block in tenths of a decibel relative to full scale (0 = full scale).
struct LevelValues {
    int peakL = -903;
    int peakR = -903;
    int rmsL = -1303;
    int rmsR = -1303;
    bool operator==(const LevelValues&) const = default;
};

// Peak level of a largest magnitude: limited to 32767, raised to 1 when 0, then
// floor(200 × log10(peak / 32767) + 0.5). Full scale gives 0, a peak of 1 gives -903.
int peakLevel(int largestMagnitude);
// RMS level: mean square = sum / pairs (0.0001 when that is 0), then
// floor(200 × log10(sqrt(mean square) / 32767) + 0.5). Digital silence gives -1303.
int rmsLevel(double sumOfSquares, int pairs);

// Stereo pairs of one DAT frame at most (48 kHz).
inline constexpr std::size_t kMaxDisplayPairs = 1440;

// The samples of one frame as the level meter, the waveform and the X-Y display take them:
// 16-bit left and right arrays and the four levels. Fixed storage, so that the display
// thread's 20 ms refresh never allocates.
struct DisplaySamples {
    std::array<std::int16_t, kMaxDisplayPairs> left{};
    std::array<std::int16_t, kMaxDisplayPairs> right{};
    int pairs = 0;
    // The rate the samples were taken at, which the waveform's time scale follows (0: not
    // known, the scale stays as it was).
    int sampleRate = 0;
    LevelValues levels;
};

// Bytes one frame occupies in the output format: the frame's audio bytes for 16-bit output,
// times 3/2 for 24-bit and times 2 for 32-bit (integer or float) output.
std::size_t displayBytesPerFrame(std::size_t frameAudioBytes, int bitsPerSample);

// Analyses the interleaved little-endian stereo samples of one frame, as fetched from the
// sound device: 16-bit, packed 24-bit, 32-bit integer, or 32-bit float (`isFloat`).
// 24-bit samples keep their upper two bytes, 32-bit integers their upper 16 bits; float
// samples are multiplied by 32768, truncated toward zero and limited to the 16-bit range.
// The pairs analysed are frameAudioBytes / 4, fewer when `size` holds less. Returns false,
// leaving `out` untouched, for any other sample format.
bool computeDisplaySamples(const std::uint8_t* data, std::size_t size, int bitsPerSample,
                           bool isFloat, std::size_t frameAudioBytes, DisplaySamples& out);

} // namespace tarnvel::app
