#pragma once

#include "dat/DatDrive.h"

#include <cstdint>
#include <optional>
#include <string>

// Where a search sends the tape: a program number (three decimal digits) or an ABS time
// (four BCD bytes).
namespace tarnvel::dat {

struct LocateTarget {
    int kind = DatDrive::kLocateByProgram;
    std::uint8_t a = 0, b = 0, c = 0, e = 0;
};

// A program number search; numbers above 799 search for 799, negative ones for 0.
LocateTarget locateProgramNumber(int pNo);
// An ABS time search from typed text "HH:MM:SS:FF" (fewer fields: the missing ones are 0,
// as an empty edit). Each field is one or two decimal digits, read as hexadecimal so that
// the typed digits become the BCD byte. Null for anything else.
std::optional<LocateTarget> locateAbsText(const std::string& text);

// True when a finished search for `t` ended at its target: a program-number search at that
// number. A search by ABS time is not judged (where a drive stops near a time is its own).
bool searchFound(const LocateTarget& t, const TapePosition& p);

inline std::uint8_t locateTo(DatDrive& drive, int d, const LocateTarget& t, bool immediate)
{
    return drive.locate(d, t.kind, immediate, t.a, t.b, t.c, t.e);
}

} // namespace tarnvel::dat
