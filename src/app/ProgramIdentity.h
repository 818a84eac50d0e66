#pragma once

#include <cstdint>
#include <string>

// Process-wide values decided at start-up: which instance this is, the texts that name it,
// and the message language.
namespace tarnvel::app {

// "Tarnvel" for instance 1, "Tarnvel:2" for instance 2: the caption of every message box.
std::string programTitle(int instance);
// The drive of the other instance: "DAT2" in instance 1, "DAT1" in instance 2.
std::string otherDriveName(int instance);
// "TV.INI" or "TV_2.INI".
std::string settingsFileName(int instance);
// The window a third start asks to come to the front.
inline std::string windowToRaiseOnThirdStart()
{
    return programTitle(2);
}

// "%s - %s" of the program title and a dialog name.
std::string dialogCaption(const std::string& programTitle, const std::string& dialogName);
// The start-up error when no drive switches to audio mode ("2'nd " before it in instance 2).
std::string audioDriveNotFoundText(int instance);
// The device line of the selected drive: "[%d:%d] %s %s %s".
std::string deviceLineText(int hostAdapter, int target, const std::string& vendor,
                           const std::string& product, const std::string& revision);
// The close refusal; from the second attempt on with the hint about Shift.
std::string unableToCloseText(int attempt);

// The language rule: `EnglishMode` 0 forces Japanese, a positive value forces English, a
// negative one (the default -1) follows the user's locale (Japanese when it is Japanese).
bool chooseEnglish(std::int32_t englishMode, bool systemLanguageJapanese);
// A POSIX locale name of the Japanese language: "ja", "ja_JP.UTF-8", "ja_JP@...".
bool isJapaneseLocaleName(const char* name);
// The locale that decides message texts: LC_ALL, else LC_MESSAGES, else LANG.
bool systemLanguageIsJapanese();
// Chooses the language for `englishMode` and the user's locale and sets it for every
// message table (before any worker thread starts). Returns true for English.
bool applyLanguage(std::int32_t englishMode);

} // namespace tarnvel::app
