#pragma once

#include <string>
#include <string_view>

// Small helpers for the word-based text files (cue file, virtual ID file) and list texts.
namespace tarnvel::formats {

// Blanks removed at both ends.
std::string_view trimBlanks(std::string_view s);
// All blanks removed ("  5" -> "5").
std::string withoutBlanks(std::string_view s);
// The number at the start of `s` after leading blanks, as C's atoi reads it (optional sign,
// digits; 0 when there are none), limited to +-999999999 instead of overflowing.
int leadingNumber(std::string_view s);

} // namespace tarnvel::formats
