#pragma once

#include "formats/WaveFormat.h"

#include <cstdint>
#include <string>

// Texts describing a WAV file, as the sound output shows them beside a selected file.
namespace tarnvel::formats {

// "%5ds/s %s%2dbit %s": rate, "F" for float, bits, "Mono" or "Stereo".
std::string waveFormatText(const WaveFormat& format);
// Whole seconds of `dataLength` bytes as "%02dm%02ds" (minutes may exceed 99); "00m00s"
// when the format gives no block size or rate.
std::string waveLengthText(std::uint32_t dataLength, const WaveFormat& format);

} // namespace tarnvel::formats
