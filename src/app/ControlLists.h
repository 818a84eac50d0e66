#pragma once

#include <string>
#include <vector>

// The drop-down lists of the main window filled from the settings, and the value each stored
// setting selects.
namespace tarnvel::app {

struct ListChoice {
    std::vector<std::string> items;
    int index = 0; // the selected item; -1 when the box shows `text` instead
    int value = 0; // the value in use (a stored value outside the list takes the first item's)
    std::string text;
};

// MuteTimeComboBox: "1".."8" seconds (`RecMuteTime`).
ListChoice muteTimeList(int seconds);
// AutoID_LevelComboBox: "-36", "-42", ... "-66" dB (`AutoID_Level`).
ListChoice autoIdLevelList(int level);
// AutoID_TimeComboBox: "1".."8" seconds (`AutoID_Time`).
ListChoice autoIdTimeList(int seconds);
// TapeLengthComboBox: "Auto" and the preset lengths; a length not in the list is shown as
// its number (index -1).
ListChoice tapeLengthList(const std::string& preset, int minutes);
// What the tape length box's text selects: 0 for "Auto" (or anything that is not a number),
// else the minutes typed (the meter limits them to 10..500).
int tapeLengthFromText(const std::string& text);
// WriteID_ComboBox: "START", "SKIP", "END".
std::vector<std::string> writeIdKinds();

} // namespace tarnvel::app
