#pragma once

namespace tarnvel {

// Every user-visible text is a (Japanese, English) pair. Each subsystem keeps its pairs in
// one table of its own (`formats/FormatMessages.h`, ...) as constexpr `MessagePair`s whose
// names are the identifiers; `tr` picks the side for the language chosen at start-up.
struct MessagePair {
    const char* ja; // may be empty: English is shown then
    const char* en;
};

// Chosen once at start-up (before any worker thread runs); English by default.
void setEnglishMode(bool english);
bool englishMode();

inline const char* tr(const MessagePair& m)
{
    return (englishMode() || m.ja == nullptr || m.ja[0] == '\0') ? m.en : m.ja;
}

} // namespace tarnvel
