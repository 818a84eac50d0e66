#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace tarnvel::formats {

// printf into a std::string, for the message templates and the fixed-width texts of the
// cue and virtual ID files (whose layouts are printf templates).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string
stringPrintf(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    }
    va_end(args);
    return out;
}

} // namespace tarnvel::formats
