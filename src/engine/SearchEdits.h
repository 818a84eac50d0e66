#pragma once

#include "dat/TimeCode.h"

#include <array>
#include <string>

// The search page of the main window without widgets: the program-number edit and the two
// memorised times (Mem1, Mem2), with their typing rules.
namespace tarnvel::engine {

enum class SearchPage { ProgramNumber = 0, Mem1 = 1, Mem2 = 2 };

// One of the four time edits of a memory: hours, minutes, seconds, frames.
enum class TimeField { Hours = 0, Minutes = 1, Seconds = 2, Frames = 3 };

struct SearchEdits {
    SearchPage page = SearchPage::ProgramNumber;
    std::string programNumber;
    std::array<std::string, 4> mem1;
    std::array<std::string, 4> mem2;

    // The program number typed, read as a decimal number and limited to 799 (0 when empty
    // or not a number).
    int typedProgramNumber() const;
    // A memory's time: each edit read as a hexadecimal number, so that the decimal digits
    // typed become the BCD bytes (an empty edit is 0).
    dat::TimeCode memTime(int mem) const;
    // Copies a time display text (" 01h23m45s12") into a memory's edits, the hours as one
    // digit ("1"); nothing happens for a text without a time (" --h--m--s--") or in the
    // lead-in ("-00h...").
    void capture(int mem, const std::string& absText);
};

// Key press in a search edit: Enter starts the search, a digit is taken (and marks the edit
// as typed into), any other printable character is dropped.
enum class KeyAction { Search, Accept, Discard };
KeyAction searchEditKey(char key);

// After a change typed into a time edit: a beep for a value out of range, and whether the
// focus moves on to the next edit.
struct TimeEditResult {
    bool beep = false;
    bool nextField = false;
};
TimeEditResult timeEditChanged(TimeField field, const std::string& text);

} // namespace tarnvel::engine
