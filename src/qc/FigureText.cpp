#include "qc/FigureText.h"

#include "formats/StringPrintf.h"

#include <cmath>

namespace tarnvel::qc {

using formats::stringPrintf;

std::string levelText(double linear, const char* unit)
{
    if (!(linear > 0) || 20.0 * std::log10(linear) <= kFloorDb)
        return stringPrintf("-inf %s", unit);
    return stringPrintf("%.1f %s", 20.0 * std::log10(linear), unit);
}

std::string loudnessText(double lufs)
{
    if (!(lufs > kFloorDb))
        return "-inf LUFS";
    return stringPrintf("%.1f LUFS", lufs);
}

std::string dcOffsetText(double mean)
{
    return stringPrintf("%+.4f %%", mean * 100.0);
}

std::string durationText(double seconds)
{
    if (seconds < 60)
        return stringPrintf("%.1f s", seconds);
    const auto whole = static_cast<long long>(seconds);
    const double rest = seconds - static_cast<double>(whole - whole % 60);
    if (seconds < 3600)
        return stringPrintf("%lld min %04.1f s", whole / 60, rest);
    return stringPrintf("%lld h %02lld min %04.1f s", whole / 3600, whole / 60 % 60, rest);
}

std::string stretchText(const FileTimeline& timeline, const SampleStretch& stretch,
                        std::uint32_t rate)
{
    const auto abs = static_cast<int>(std::floor(timeline.absOfSample(stretch.start)));
    return absFramesText(abs) + " (" +
           durationText(rate ? static_cast<double>(stretch.length) / rate : 0.0) + ")";
}

std::string clipRunText(const FileTimeline& timeline, const SampleStretch& run, int channels)
{
    const auto abs = static_cast<int>(std::floor(timeline.absOfSample(run.start)));
    return channelName(run.channel, channels) + " " + absFramesText(abs) +
           stringPrintf(" (%llu samples)", static_cast<unsigned long long>(run.length));
}

std::string channelName(int channel, int channels)
{
    if (channels == 2)
        return channel == 0 ? "L" : "R";
    return std::to_string(channel + 1);
}

} // namespace tarnvel::qc
