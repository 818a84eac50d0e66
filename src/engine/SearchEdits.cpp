#include "engine/SearchEdits.h"

#include <algorithm>
#include <cctype>

namespace tarnvel::engine {

namespace {

// The leading digits of a text read in a base; 0 when there are none. Large values saturate.
long readNumber(const std::string& text, int base)
{
    long v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        v = std::min<long>(v * base + (c - '0'), 1L << 30);
    }
    return v;
}

std::uint8_t bcdByte(const std::string& text)
{
    return static_cast<std::uint8_t>(std::min<long>(readNumber(text, 16), 0xFF));
}

} // namespace

int SearchEdits::typedProgramNumber() const
{
    return static_cast<int>(std::min<long>(readNumber(programNumber, 10), 799));
}

dat::TimeCode SearchEdits::memTime(int mem) const
{
    const auto& e = mem == 1 ? mem1 : mem2;
    return dat::TimeCode{bcdByte(e[0]), bcdByte(e[1]), bcdByte(e[2]), bcdByte(e[3])};
}

void SearchEdits::capture(int mem, const std::string& absText)
{
    // " HHhMMmSSsFF"; the lead-in shows "-HH...", no time " --h--m--s--": the edits stay.
    if (absText.size() < 12 || absText[0] != ' ')
        return;
    for (std::size_t at : {1u, 2u, 4u, 5u, 7u, 8u, 10u, 11u})
        if (!std::isdigit(static_cast<unsigned char>(absText[at])))
            return;
    // The hours edit holds one digit: a tape's hours end at 9.
    if (absText[1] != '0')
        return;
    auto& e = mem == 1 ? mem1 : mem2;
    e = {absText.substr(2, 1), absText.substr(4, 2), absText.substr(7, 2), absText.substr(10, 2)};
}

KeyAction searchEditKey(char key)
{
    if (key == '\r' || key == '\n')
        return KeyAction::Search;
    if (std::isdigit(static_cast<unsigned char>(key)))
        return KeyAction::Accept;
    return KeyAction::Discard;
}

TimeEditResult timeEditChanged(TimeField field, const std::string& text)
{
    TimeEditResult r;
    const long value = readNumber(text, 10);
    switch (field) {
    case TimeField::Hours:
        r.nextField = text.size() >= 1;
        break;
    case TimeField::Minutes:
    case TimeField::Seconds:
        if (value > 59)
            r.beep = true;
        else
            r.nextField = text.size() >= 2;
        break;
    case TimeField::Frames:
        r.beep = value >= 33;
        break;
    }
    return r;
}

} // namespace tarnvel::engine
