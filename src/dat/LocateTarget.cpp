#include "dat/LocateTarget.h"

#include <algorithm>
#include <cctype>

namespace tarnvel::dat {

LocateTarget locateProgramNumber(int pNo)
{
    pNo = std::clamp(pNo, 0, kMaxProgramNumber);
    LocateTarget t;
    t.kind = DatDrive::kLocateByProgram;
    t.a = static_cast<std::uint8_t>(pNo / 100);
    t.b = static_cast<std::uint8_t>(pNo / 10 % 10);
    t.c = static_cast<std::uint8_t>(pNo % 10);
    return t;
}

std::optional<LocateTarget> locateAbsText(const std::string& text)
{
    std::uint8_t fields[4] = {};
    int field = 0;
    int digits = 0;
    for (const char ch : text) {
        if (ch == ':') {
            if (digits == 0 || ++field >= 4)
                return std::nullopt;
            digits = 0;
            continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(ch)) || ++digits > 2)
            return std::nullopt;
        fields[field] = static_cast<std::uint8_t>(fields[field] * 16 + (ch - '0'));
    }
    if (digits == 0)
        return std::nullopt;
    LocateTarget t;
    t.kind = DatDrive::kLocateByAbsTime;
    t.a = fields[0];
    t.b = fields[1];
    t.c = fields[2];
    t.e = fields[3];
    return t;
}

bool searchFound(const LocateTarget& t, const TapePosition& p)
{
    if (t.kind != DatDrive::kLocateByProgram)
        return true;
    const std::uint32_t digits = (std::uint32_t{t.a} << 8) | (std::uint32_t{t.b} << 4) | t.c;
    return p.pNoDigits == digits;
}

} // namespace tarnvel::dat
