#include "formats/TextFields.h"

namespace tarnvel::formats {

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string withoutBlanks(std::string_view s)
{
    std::string out;
    for (char c : s)
        if (c != ' ')
            out.push_back(c);
    return out;
}

int leadingNumber(std::string_view s)
{
    constexpr long long kLimit = 999999999;
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        if (value < kLimit)
            value = value * 10 + (s[i] - '0');
    if (value > kLimit)
        value = kLimit;
    return static_cast<int>(negative ? -value : value);
}

} // namespace tarnvel::formats
