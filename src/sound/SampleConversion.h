#pragma once

#include "formats/WaveFormat.h"

#include <cstddef>
#include <cstdint>

// Sample conversions between the buffer ring (the WAV sample format: 8-bit unsigned, 16/24/32-bit
// signed little-endian, 32-bit float) and a device channel's sample type. All functions are
// real-time safe: no allocation, no locking, no logging.
namespace tarnvel::sound {

// Device channel sample types, numbered as the driver interface of the low-latency role numbers
// them; the ALSA and PulseAudio types also use 19 for a float stream.
inline constexpr int kInt16Lsb = 16;
inline constexpr int kInt24Lsb = 17; // packed, 3 bytes a sample
inline constexpr int kInt32Lsb = 18;
inline constexpr int kFloat32Lsb = 19;
inline constexpr int kFloat64Lsb = 20;

// Bit length of a sample type: 16, 24, 32, -32 (float), -64 (double) or 0 (unknown).
int bitLengthOfSampleType(int type);
// Bytes one sample of a type occupies (0 for unknown types).
int bytesOfSampleType(int type);

// Bit length of a WAV format as texts and tables write it: -32 for float.
inline int formatBits(const formats::WaveFormat& f)
{
    return f.isFloat() ? -32 : f.bitsPerSample;
}

// Output: a device whose channel 0 has bit length `deviceBits` can play `bits` (float as 24).
bool outputBitLengthAccepted(int deviceBits, int bits);

enum class InputFit { Refused, Accepted, Reduced };
// Input: (16,16), (24,24), (32,32), (32,24) accepted (float counting as 24); 24 or 32 bits
// reduced to 16 only when allowed.
InputFit inputBitLengthTest(int deviceBits, int bits, bool allowReduce);

// A 32-bit word (24-bit samples sit in its upper three bytes) rounded to 16 bits. Values within
// 1/16 of a 16-bit step below the next step are rounded up in magnitude, the rest truncated
// toward zero; both signs behave alike, so an exact 16-bit value in a 24/32-bit container comes
// back unchanged. The top of the range never wraps.
std::int16_t roundTo16(std::int32_t w);

// Float to a 24-bit value: f x 2^23 rounded to nearest, limited to the 24-bit range (NaN gives 0).
std::int32_t floatTo24(float f);

// The sample type a device is opened with when it takes the format as it is (ALSA, PulseAudio,
// the null device in those roles): 8 and 16 bits -> Int16, 24 -> Int24, 32 -> Int32, float ->
// Float32.
int nativeSampleTypeFor(const formats::WaveFormat& f);

// Converts `frames` frames of the ring format (`bits` 8/16/24/32/-32, `ringChannels` 1 or 2) into
// interleaved device samples of `type` with `deviceChannels` channels: device channel k takes
// sample k of a stereo frame; every channel takes the sample of a mono frame. Returns false for a
// pairing that is not handled; the device samples are then zero.
bool convertToDevice(const std::uint8_t* ring, int bits, int ringChannels, std::uint8_t* device,
                     int type, int deviceChannels, std::size_t frames);

// Converts interleaved device samples of `type` with `deviceChannels` channels into ring frames:
// device channel k becomes sample k of the frame; ring samples without a device channel are
// silence. Returns false for a pairing that is not handled; the ring frames are then silence.
bool convertFromDevice(const std::uint8_t* device, int type, int deviceChannels, std::uint8_t* ring,
                       int bits, int ringChannels, std::size_t frames);

} // namespace tarnvel::sound
