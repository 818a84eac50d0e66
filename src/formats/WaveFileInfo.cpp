#include "formats/WaveFileInfo.h"

#include "common/Message.h"
#include "formats/FormatMessages.h"
#include "formats/StringPrintf.h"

namespace tarnvel::formats {

std::string waveFormatText(const WaveFormat& format)
{
    return stringPrintf(tr(msg::kFormatText), static_cast<int>(format.samplesPerSec),
                        format.isFloat() ? "F" : "", static_cast<int>(format.bitsPerSample),
                        format.channels == 1 ? tr(msg::kMono) : tr(msg::kStereo));
}

std::string waveLengthText(std::uint32_t dataLength, const WaveFormat& format)
{
    const std::uint32_t frames = format.blockAlign == 0 ? 0 : dataLength / format.blockAlign;
    const std::uint32_t seconds = format.samplesPerSec == 0 ? 0 : frames / format.samplesPerSec;
    return stringPrintf("%02um%02us", seconds / 60, seconds % 60);
}

} // namespace tarnvel::formats
