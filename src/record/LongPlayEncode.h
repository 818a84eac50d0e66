#pragma once

#include <cstdint>

// Long-play (12-bit, 32 kHz) frames on the recording side: each frame carries two blocks of
// 960 stereo pairs, coded with the DAT long-play nonlinear rule and interleaved in the
// 5760 audio bytes (four pairs of each half per 24-byte group).
namespace tarnvel::record {

inline constexpr std::uint32_t kLongPlayPairs = 960;
inline constexpr std::uint32_t kLongPlayBlockBytes = 3840; // one half as 16-bit stereo

// The 12-bit code of a 16-bit sample (two's complement in 12 bits).
unsigned longPlayCode(std::int16_t sample);

// Codes `bytes` bytes of 16-bit little-endian stereo samples (at most kLongPlayBlockBytes;
// the pairs after them are coded as silence) into half `half` (0 first, 1 second) of a
// long-play frame's audio area. The other half's bytes are left as they are.
void encodeLongPlayHalf(const std::uint8_t* samples, std::uint32_t bytes, int half,
                        std::uint8_t* frameAudio);

} // namespace tarnvel::record
