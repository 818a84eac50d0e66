#pragma once

#include <cstdint>

// Long-play (12-bit, 32 kHz) frames: each 24-byte group of the 5760 audio bytes carries four
// 12-bit stereo pairs of the frame's first 30 ms and four of its second 30 ms. Tables are
// built at compile time; nothing here allocates or locks.
namespace tarnvel::engine {

// Stereo pairs of one decoded half, and its size as 16-bit little-endian samples.
inline constexpr std::uint32_t kLongPlayHalfPairs = 960;
inline constexpr std::uint32_t kLongPlayHalfBytes = 3840;

// Expansion of a 12-bit long-play code (0..4095, two's complement; only the low 12 bits are
// used) to a 16-bit sample.
std::int16_t longPlayExpand(unsigned code);

// Decodes one half (0: first, non-zero: second) of a long-play frame's 5760 audio bytes into
// 960 stereo pairs of 16-bit little-endian samples (3840 bytes) at `out`. `out` must not
// overlap `frameAudio`.
void decodeLongPlayHalf(const std::uint8_t* frameAudio, int half, std::uint8_t* out);

} // namespace tarnvel::engine
