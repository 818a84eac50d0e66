#pragma once

#include "app/Settings.h"
#include "common/MessageSink.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvel::app {

// Where one instance keeps its settings.
struct SettingsLocation {
    std::string iniPath;    // ".../TV.INI" (instance 1) or ".../TV_2.INI" (instance 2)
    std::string programDir; // ends with "/": the default of the directory settings
    bool besideExecutable = false;
};

// The settings file of an instance. An installed program keeps it in
// `$XDG_CONFIG_HOME/tarnvel/` (`~/.config/tarnvel/`); one run from its build tree or a folder
// of its own keeps it beside the executable when that folder is writable or already holds the
// file, else in the config folder too. The program's directory is the executable's folder
// beside it and the user's home folder otherwise, so that default output folders are always
// writable.
SettingsLocation locateSettings(int instance, const std::string& executableDir,
                                const std::string& xdgConfigHome, const std::string& home);
// True when `executableDir` is an install prefix's program folder (`PREFIX/bin`: /usr/bin,
// /usr/local/bin, ~/.local/bin) and not inside a build tree (no CMakeCache.txt in it or above).
bool isInstalledProgramDir(const std::string& executableDir);
// The same from the running executable and the environment.
SettingsLocation locateSettings(int instance);
// Folder of the running executable, ending with "/" (empty when it cannot be found).
std::string executableDir();

// Loading and saving of one settings file. Used on the window thread.
class SettingsFile {
public:
    explicit SettingsFile(SettingsLocation location);

    // Fills every field from the file. A missing file is not an error: every key takes its
    // default and newFile() becomes true. An unparseable colour shows the hex message once
    // per key; an unreadable or oversized file is reported and then never overwritten.
    Settings load(MessageSink& sink);

    // One key of section "Window" without a full load: selector 1 gives `PosX`, 2 `PosY`,
    // 5 the maximised state (2 when `Maximized` begins with "Y" or "y", else -1). Other
    // selectors give nothing: the caller does the full load.
    std::optional<int> loadWindowValue(int selector) const;

    // Writes every key marked as saved, keeping all other lines of the file as they are
    // (the file is read again first, so hand edits made while the program ran survive).
    // Written to a temporary file and renamed over the old one. Failures are reported to
    // `sink` and return false.
    bool save(const Settings& settings, MessageSink& sink);

    // True when no file existed at the last load.
    bool newFile() const { return newFile_; }
    // True when the file existed but could not be read (unreadable, not a regular file, too
    // large) at the last load: the defaults were used and the file is never overwritten.
    bool loadFailed() const { return keepFile_; }
    const SettingsLocation& location() const { return location_; }

private:
    SettingsLocation location_;
    bool newFile_ = false;
    bool exampleWritten_ = false;
    bool keepFile_ = false; // the file could not be read: never overwrite it
};

// One key set for a single run (the command line's --set KEY=VALUE): the key is found by
// name in any section but the window placements, the value is read as the settings file
// reads it, and a number outside the key's bounds is refused. False with `error` set when
// the key is unknown or the value unusable.
bool overrideSetting(Settings& settings, const std::string& key, const std::string& value,
                     const std::string& programDir, std::string& error);

// The settings from a file's text, as the load reads them (bounds, defaults, the buffer
// adjustments, the colour message through `sink`). Directory keys fall back to `programDir`.
Settings parseSettings(std::string_view text, const std::string& programDir, MessageSink& sink);

// The value of one key as the record holds it, written the way the save writes it
// (`Maximized` as "Y" or empty).
std::string settingValueText(const SettingKey& key, const Settings& settings);
// Every key of the table in order with its value as settingValueText gives it, in one pass
// (looking each key up by name would be quadratic in the table).
void forEachSettingText(const Settings& settings,
                        const std::function<void(const SettingKey&, const std::string&)>& fn);

} // namespace tarnvel::app
