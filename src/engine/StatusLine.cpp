#include "engine/StatusLine.h"

#include "app/LevelMeter.h"

#include <algorithm>

namespace tarnvel::engine {

namespace {
std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}
} // namespace

std::string levelBar(int level, int width)
{
    width = std::max(width, 1);
    const int clamped = std::clamp(level, -app::kScaleSpan, 0);
    const int filled = (clamped + app::kScaleSpan) * width / app::kScaleSpan;
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), ' ');
}

std::string statusLine(const StatusLineFields& f, int barWidth)
{
    std::string line =
        "ABS" + f.time.abs + "  PNo " + (f.programNumber.empty() ? "--" : f.programNumber);
    if (!f.idText.empty())
        line += " " + f.idText;
    if (!f.format.empty())
        line += "  " + trimmed(f.format);
    line += "  Err L" + f.errorsLeft + " R" + f.errorsRight + " A" + f.errorsAbs;
    if (f.hasLevels)
        line += "  L|" + levelBar(f.levels.peakL, barWidth) + "| R|" +
                levelBar(f.levels.peakR, barWidth) + "|";
    return line;
}

} // namespace tarnvel::engine
