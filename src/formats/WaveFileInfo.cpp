#include "formats/WaveFileInfo.h"

#include "common/Message.h"
#include "formats/FormatMessages.h"
#include "formats/StringPrintf.h"

namespace tarnvel::formats {

namespace {

constexpr std::uint32_t kHighestRate = 768000;

} // namespace

std::string waveChannelsText(int channels)
{
    if (channels == 1)
        return tr(msg::kMono);
    if (channels == 2)
        return tr(msg::kStereo);
    return stringPrintf(tr(msg::kChannelCount), channels);
}

std::string waveFormatText(const WaveFormat& format)
{
    return stringPrintf(tr(msg::kFormatText), static_cast<int>(format.samplesPerSec),
                        format.isFloat() ? "F" : "", static_cast<int>(format.bitsPerSample),
                        waveChannelsText(format.channels).c_str());
}

std::string waveLengthText(std::uint32_t dataLength, const WaveFormat& format)
{
    const std::uint32_t frames = format.blockAlign == 0 ? 0 : dataLength / format.blockAlign;
    const std::uint32_t seconds = format.samplesPerSec == 0 ? 0 : frames / format.samplesPerSec;
    return stringPrintf("%02um%02us", seconds / 60, seconds % 60);
}

std::string unplayableReason(const WaveFormat& f)
{
    const int bits = f.bitsPerSample;
    if (f.formatTag != kWaveFormatPcm && f.formatTag != kWaveFormatIeeeFloat)
        return tr(msg::kNotPcmData);
    if (f.channels < 1 || f.channels > 2)
        return stringPrintf(tr(msg::kUnplayableChannels), static_cast<int>(f.channels));
    if (f.isFloat() ? bits != 32 : bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return stringPrintf(tr(msg::kUnplayableBits), f.isFloat() ? "F" : "", bits);
    if (f.samplesPerSec == 0 || f.samplesPerSec > kHighestRate)
        return stringPrintf(tr(msg::kUnplayableRate), static_cast<unsigned>(f.samplesPerSec));
    if (f.blockAlign != f.channels * bits / 8)
        return stringPrintf(tr(msg::kUnplayableBlockAlign), static_cast<int>(f.blockAlign));
    return {};
}

} // namespace tarnvel::formats
