#include "app/Settings.h"

#include "app/AppMessages.h"

#include <cstdio>
#include <type_traits>

namespace tarnvel::app {

Settings::Settings()
{
    forEachSetting(*this, [](const SettingKey& k, auto& field) {
        using T = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::string>)
            field = k.defaultText;
        else
            field = static_cast<T>(k.defaultNumber);
    });
}

const std::vector<std::string>& settingSections()
{
    static const std::vector<std::string> sections = [] {
        std::vector<std::string> out;
        const Settings probe;
        forEachSetting(probe, [&](const SettingKey& k, const auto&) {
            if (out.empty() || out.back() != k.section)
                out.emplace_back(k.section);
        });
        return out;
    }();
    return sections;
}

namespace {

// Splits at any of `separators`, dropping blanks around the parts and empty parts.
std::vector<std::string> splitList(const std::string& text, const char* separators)
{
    std::vector<std::string> parts;
    std::string current;
    const auto flush = [&] {
        const std::size_t b = current.find_first_not_of(" \t");
        if (b != std::string::npos)
            parts.push_back(current.substr(b, current.find_last_not_of(" \t") - b + 1));
        current.clear();
    };
    for (char c : text) {
        if (std::char_traits<char>::find(separators, std::char_traits<char>::length(separators),
                                         c) != nullptr)
            flush();
        else
            current += c;
    }
    flush();
    return parts;
}

} // namespace

std::vector<int> tapeLengthChoices(const std::string& preset)
{
    std::vector<int> minutes;
    for (const std::string& part : splitList(preset, ", \t")) {
        if (part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int m = std::stoi(part);
        if (m >= 1 && m <= 500)
            minutes.push_back(m);
    }
    if (minutes.empty())
        minutes = {46, 60, 90, 120, 180};
    return minutes;
}

std::vector<std::string> tapeLengthBoxItems(const std::string& preset)
{
    std::vector<std::string> items{tr(msg::kTapeLengthAuto)};
    for (int m : tapeLengthChoices(preset))
        items.push_back(std::to_string(m));
    return items;
}

std::vector<std::string> simCassetteList(const std::string& list)
{
    return splitList(list, ";");
}

std::string colourText(std::int32_t colour)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X",
                  static_cast<unsigned>(static_cast<std::uint32_t>(colour)));
    return buf;
}

} // namespace tarnvel::app
