#pragma once

#include "sound/AudioBackend.h"

#include <array>
#include <string>
#include <vector>

namespace tarnvel::sound {

// Which sample formats a device accepts: 9 rates (kProbeRates) x 5 bit formats, one code a cell:
// '-' none, 'M' mono only, 'S' stereo and mono (always 'S' for JACK, where only stereo is tried),
// 's' stereo only, '*' JACK: accepted in the device's own bit length, 'R' JACK record: accepted
// only by reducing the device's 24 or 32 bits to 16.
struct FormatTable {
    static constexpr int kRows = 9;
    static constexpr int kColumns = 5;
    static constexpr int kBits[kColumns] = {8, 16, 24, 32, -32};
    static constexpr const char* kBitLabels[kColumns] = {" 8 ", "16 ", "24 ", "32 ", "F32"};

    std::array<std::array<char, kColumns>, kRows> cells{};

    FormatTable() { clear(); }
    void clear()
    {
        for (auto& row : cells)
            row.fill('-');
    }
    char at(int row, int column) const { return cells[row][column]; }
    bool allDash() const;
};

// The format list grid: 10 rows x 6 columns of texts (corner, bit labels, rate labels, cells).
std::vector<std::vector<std::string>> formatListGrid(const FormatTable& table);

// The grid cell (row, column) of the current format, or (-1, -1) when the list has none.
// `bits` is -32 for float.
std::pair<int, int> formatListSelection(int bits, std::uint32_t rate);

} // namespace tarnvel::sound
