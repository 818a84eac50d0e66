#include "sound/FormatTable.h"

#include "formats/StringPrintf.h"
#include "sound/SoundMessages.h"

namespace tarnvel::sound {

using formats::stringPrintf;

bool FormatTable::allDash() const
{
    for (const auto& row : cells)
        for (char c : row)
            if (c != '-')
                return false;
    return true;
}

namespace {
std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}
} // namespace

std::vector<std::vector<std::string>> formatListGrid(const FormatTable& table)
{
    std::vector<std::vector<std::string>> grid(FormatTable::kRows + 1,
                                               std::vector<std::string>(FormatTable::kColumns + 1));
    grid[0][0] = tr(msg::kFormatListCorner);
    for (int c = 0; c < FormatTable::kColumns; ++c)
        grid[0][c + 1] = stringPrintf("%5s", FormatTable::kBitLabels[c]);
    for (int r = 0; r < FormatTable::kRows; ++r) {
        grid[r + 1][0] = stringPrintf("%8s", std::to_string(kProbeRates[r]).c_str());
        for (int c = 0; c < FormatTable::kColumns; ++c) {
            const char code = table.at(r, c);
            grid[r + 1][c + 1] = code == '*' ? std::string("  *S") : stringPrintf("   %c", code);
        }
    }
    return grid;
}

std::pair<int, int> formatListSelection(int bits, std::uint32_t rate)
{
    const std::string current = stringPrintf("%s%d", bits < 0 ? "F" : "", bits < 0 ? -bits : bits);
    const std::string rateText = std::to_string(rate);
    for (int r = 0; r < FormatTable::kRows; ++r) {
        if (std::to_string(kProbeRates[r]) != rateText)
            continue;
        for (int c = 0; c < FormatTable::kColumns; ++c)
            if (trimmed(FormatTable::kBitLabels[c]) == current)
                return {r + 1, c + 1};
    }
    return {-1, -1};
}

} // namespace tarnvel::sound
