#pragma once

#include <cstdint>

namespace tarnvel::formats {

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// The sample format record shared by files and sound devices: the 16 bytes of a WAV "fmt "
// body plus the size of its extension (always 0 for what we keep).
struct WaveFormat {
    std::uint16_t formatTag = kWaveFormatPcm;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 48000;
    std::uint32_t avgBytesPerSec = 192000;
    std::uint16_t blockAlign = 4;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t cbSize = 0;

    bool isFloat() const { return formatTag == kWaveFormatIeeeFloat; }

    // A consistent format: block align and byte rate derived from the other fields.
    static WaveFormat make(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                           std::uint16_t bits)
    {
        WaveFormat f;
        f.formatTag = tag;
        f.channels = channels;
        f.samplesPerSec = rate;
        f.bitsPerSample = bits;
        f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
        f.avgBytesPerSec = rate * f.blockAlign;
        return f;
    }

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

} // namespace tarnvel::formats
