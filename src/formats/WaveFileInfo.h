#pragma once

#include "formats/WaveFormat.h"

#include <cstdint>
#include <string>

// Texts describing a WAV file, as the sound output shows them beside a selected file.
namespace tarnvel::formats {

// "%5ds/s %s%2dbit %s": rate, "F" for float, bits, "Mono", "Stereo" or the channel count as
// the header gives it ("0ch", "8ch"), so that a broken header is not shown as a stereo one.
std::string waveFormatText(const WaveFormat& format);
// "Mono", "Stereo", or "%dch" for any other count.
std::string waveChannelsText(int channels);
// Whole seconds of `dataLength` bytes as "%02dm%02ds" (minutes may exceed 99); "00m00s"
// when the format gives no block size or rate.
std::string waveLengthText(std::uint32_t dataLength, const WaveFormat& format);

// Why the sound devices cannot play a format (empty when they can): one or two channels;
// PCM of 8, 16, 24 or 32 bits or 32-bit float; a rate of 1 to 768000 Hz; a block size that
// matches channels and bits.
std::string unplayableReason(const WaveFormat& format);

} // namespace tarnvel::formats
