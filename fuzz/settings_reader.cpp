// Feeds arbitrary bytes to the settings file reader (the profile-file rules, every key's
// parse, bounds and defaults), then writes every saved key back and reads it again: what the
// writer writes must read back as the value it wrote.
#include "app/IniFile.h"
#include "app/SettingsFile.h"
#include "common/MessageSink.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The writer keeps one key on one line: a line break inside a value is written as a blank.
std::string asWritten(std::string value)
{
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarnvel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CollectingMessageSink sink;
    // A program directory that does not exist keeps the directory probes away from real folders.
    const app::Settings settings = app::parseSettings(text, "/nonexistent-tarnvel-fuzz/", sink);

    // Each key's text once, in table order (a lookup by name per key is quadratic).
    std::vector<std::pair<app::SettingKey, std::string>> saved;
    app::forEachSettingText(settings, [&](const app::SettingKey& k, const std::string& value) {
        if (k.saved)
            saved.emplace_back(k, value);
    });
    app::IniFile ini = app::IniFile::parse(text);
    for (const auto& [k, value] : saved)
        ini.set(k.section, k.key, value);
    const app::IniFile reread = app::IniFile::parse(ini.text());
    for (const auto& [k, value] : saved) {
        const auto back = reread.get(k.section, k.key);
        if (!back || *back != asWritten(value))
            __builtin_trap();
    }
    return 0;
}
