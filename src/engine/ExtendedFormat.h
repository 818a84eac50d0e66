#pragma once

#include <cstdint>

// 24-bit extended-format tapes carry each sample in two frames: the upper-word frame holds
// the upper 16 bits as an ordinary 16-bit word, the low-byte frame the lowest 8 bits in the
// low byte of the same word (its high byte is zero).
namespace tarnvel::engine {

// Output sample kinds of an extended-format tape, as `ExtendedFormatBitLen` names them.
inline constexpr int kExtendedBits24 = 24;
inline constexpr int kExtendedBits32 = 32;
inline constexpr int kExtendedFloat32 = -32;

// The output kind a setting value stands for: 24, 32 or -32 as they are; any other value
// (only a hand-edited settings file holds one) means 24. The output format and the assembly
// must both use this value, so that the block size and the sample layout always agree.
constexpr int extendedBitLen(int setting)
{
    return setting == kExtendedBits32 || setting == kExtendedFloat32 ? setting : kExtendedBits24;
}

// True when every high byte (each odd offset) of the first frameAudioBytes bytes is zero.
bool isLowByteFrame(const std::uint8_t* audio, std::uint32_t frameAudioBytes);

// Which of two frames read in turn holds the upper words.
enum class PairOrder {
    Unknown,  // neither or both look like a low-byte frame (silence): keep looking
    InOrder,  // the first holds the upper words, the second the low bytes
    Reversed, // the first is a low-byte frame: the second is the next pair's upper-word frame
};
PairOrder pairOrder(const std::uint8_t* first, const std::uint8_t* second,
                    std::uint32_t frameAudioBytes);

// Bytes one assembled block takes in the output: frameAudioBytes / 2 samples of 3 bytes
// (bit length 24) or 4 bytes (32, -32 float); other bit lengths as extendedBitLen says.
std::uint32_t extendedBlockBytes(std::uint32_t frameAudioBytes, int bitLen);

// Joins the upper-word frame and the low-byte frame into frameAudioBytes / 2 output samples,
// little-endian: 24 → low byte, then the word; 32 → a zero byte, the low byte, the word;
// -32 → float (word × 256 + low byte) × 2^-23. Writes extendedBlockBytes(...) bytes at `out`.
void assembleExtended(const std::uint8_t* upperFrame, const std::uint8_t* lowFrame,
                      std::uint32_t frameAudioBytes, int bitLen, std::uint8_t* out);

} // namespace tarnvel::engine
