#pragma once

#include "app/DisplaySamples.h"
#include "engine/DeckView.h"

#include <string>

// The deck's state as one line of text, for the command line's live status and its logs.
namespace tarnvel::engine {

struct StatusLineFields {
    TimeTexts time;
    std::string programNumber; // "12", "--", "BB", "EE"
    std::string idText;        // "START", "SKIP", ... or empty
    std::string format;        // "48000 / 16"
    std::string errorsLeft = "0";
    std::string errorsRight = "0";
    std::string errorsAbs = "0";
    bool hasLevels = false;
    app::LevelValues levels;
};

// A text meter `width` characters wide for a level in tenths of a dB (-600..0 fills it).
std::string levelBar(int level, int width);

// "ABS 00h01m23s12  PNo 02 START  48000 / 16  Err L0 R0 A0" and, with levels,
// "  L|#####     | R|####      |".
std::string statusLine(const StatusLineFields& f, int barWidth = 10);

} // namespace tarnvel::engine
