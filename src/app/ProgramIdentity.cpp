#include "app/ProgramIdentity.h"

#include "app/AppMessages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnvel::app {

std::string programTitle(int instance)
{
    return instance == 2 ? "Tarnvel:2" : "Tarnvel";
}

std::string otherDriveName(int instance)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "DAT%c", instance == 2 ? '1' : '2');
    return buf;
}

std::string settingsFileName(int instance)
{
    return instance == 2 ? "TV_2.INI" : "TV.INI";
}

std::string dialogCaption(const std::string& title, const std::string& dialogName)
{
    return title + " - " + dialogName;
}

std::string audioDriveNotFoundText(int instance)
{
    std::string text = instance == 2 ? tr(msg::kSecondPrefix) : "";
    return text + tr(msg::kAudioDriveNotFound);
}

std::string deviceLineText(int hostAdapter, int target, const std::string& vendor,
                           const std::string& product, const std::string& revision)
{
    return "[" + std::to_string(hostAdapter) + ":" + std::to_string(target) + "] " + vendor + " " +
           product + " " + revision;
}

std::string unableToCloseText(int attempt)
{
    std::string text = tr(msg::kUnableToCloseRunning);
    if (attempt >= 2)
        text += tr(msg::kForceCloseHint);
    return text;
}

bool chooseEnglish(std::int32_t englishMode, bool systemLanguageJapanese)
{
    if (englishMode == 0)
        return false;
    return !(systemLanguageJapanese && englishMode <= 0);
}

bool isJapaneseLocaleName(const char* name)
{
    if (name == nullptr || std::strncmp(name, "ja", 2) != 0)
        return false;
    const char next = name[2];
    return next == '\0' || next == '_' || next == '.' || next == '@';
}

bool systemLanguageIsJapanese()
{
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && v[0] != '\0')
            return isJapaneseLocaleName(v);
    }
    return false;
}

bool applyLanguage(std::int32_t englishMode)
{
    const bool english = chooseEnglish(englishMode, systemLanguageIsJapanese());
    setEnglishMode(english);
    return english;
}

} // namespace tarnvel::app
