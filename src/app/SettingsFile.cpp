#include "app/SettingsFile.h"

#include "app/AppMessages.h"
#include "app/IniFile.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace tarnvel::app {

namespace {

// Larger files are not settings files; reading them whole would be a needless risk.
constexpr std::size_t kMaxFileSize = 1 << 20;

constexpr const char* kExampleKey = ";; ex. (Blue,Green,Red)";
constexpr const char* kExampleValue = "0x00112233";

std::string withSlash(std::string dir)
{
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string homeDir()
{
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/')
        return h;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
}

enum class ReadResult { Ok, Missing, Failed, TooLarge };

ReadResult readWholeFile(const std::string& path, std::string& text, std::string& error)
{
    text.clear();
    // Without blocking, and only a regular file: a FIFO given as the file must not hang.
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        if (failure.problem == formats::OpenProblem::NotFound && failure.systemError == ENOENT)
            return ReadResult::Missing;
        error = failure.text();
        return ReadResult::Failed;
    }
    ReadResult result = ReadResult::Ok;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            result = ReadResult::Failed;
            break;
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
            result = ReadResult::TooLarge;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return result;
}

// Leading decimal integer with an optional sign, as the profile readers take it: "12abc"
// gives 12. Nothing when there is no digit or the number does not fit in 64 bits.
std::optional<std::int64_t> parseLeadingInteger(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t firstDigit = i;
    std::uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (v > (std::uint64_t{1} << 62))
            return std::nullopt;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (i == firstDigit)
        return std::nullopt;
    const auto s = static_cast<std::int64_t>(v);
    return negative ? -s : s;
}

// A colour: decimal with an optional sign, or "0x" and up to 8 hexadecimal digits taken as
// a 32-bit pattern (so 0x8000000F is the system colour it names). The whole text must be
// the number.
std::optional<std::int64_t> parseColour(const std::string& text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t v = 0;
        for (std::size_t i = 2; i < text.size(); ++i) {
            const char c = text[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            v = v * 16 + static_cast<unsigned>(d);
            if (v > 0xFFFFFFFFu)
                return std::nullopt;
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    const std::size_t first = text[0] == '+' || text[0] == '-' ? 1 : 0;
    if (first == text.size() || text.find_first_not_of("0123456789", first) != std::string::npos)
        return std::nullopt;
    return parseLeadingInteger(text);
}

// Cuts a text to kMaxTextLength bytes without splitting a UTF-8 sequence.
void limitText(std::string& s)
{
    if (s.size() <= kMaxTextLength)
        return;
    std::size_t n = kMaxTextLength;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    s.resize(n);
}

bool isListableDirectory(const std::string& path)
{
    DIR* d = ::opendir(path.c_str());
    if (d == nullptr)
        return false;
    ::closedir(d);
    return true;
}

// Empty → the program's directory. "~" is the home folder; other relative paths are
// taken from the program's directory. A folder that cannot be listed falls back to the
// program's directory too, so output never goes to a place that does not exist.
std::string normaliseDirectory(const std::string& text, const std::string& programDir)
{
    if (text.empty())
        return programDir;
    std::string path;
    if (text[0] == '~' && (text.size() == 1 || text[1] == '/'))
        path = homeDir() + text.substr(1);
    else if (text[0] != '/')
        path = programDir + text;
    else
        path = text;
    path = withSlash(std::move(path));
    return isListableDirectory(path) ? path : programDir;
}

class KeyReader {
public:
    KeyReader(const IniFile& ini, const std::string& programDir, MessageSink& sink)
        : ini_(ini), programDir_(programDir), sink_(sink)
    {
    }

    template <class T> void operator()(const SettingKey& k, T& field)
    {
        std::string text = ini_.get(k.section, k.key).value_or(std::string());
        if constexpr (std::is_same_v<T, std::string>) {
            if (k.kind == SettingKind::Directory) {
                field = normaliseDirectory(text, programDir_);
            } else {
                field = text.empty() ? std::string(k.defaultText) : std::move(text);
                limitText(field);
            }
        } else {
            std::int64_t v = k.defaultNumber;
            if (!text.empty()) {
                const auto parsed =
                    k.kind == SettingKind::Colour ? parseColour(text) : parseLeadingInteger(text);
                if (parsed && *parsed >= k.lower && *parsed <= k.upper)
                    v = *parsed;
                if (!parsed && k.kind == SettingKind::Colour)
                    sink_.showMessage(std::string(tr(msg::kIllegalHexValue)) + "\n\n " + text,
                                      MessageIcon::Warning);
            }
            if constexpr (std::is_same_v<T, bool>)
                field = v != 0;
            else
                field = static_cast<T>(v);
        }
    }

private:
    const IniFile& ini_;
    const std::string& programDir_;
    MessageSink& sink_;
};

bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);

    const auto writeAll = [&](int fd) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return ::fsync(fd) == 0;
    };

    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
        ::fchmod(fd, mode);
        const bool written = writeAll(fd);
        const int saved = errno;
        ::close(fd);
        if (written && ::rename(tmp.c_str(), path.c_str()) == 0)
            return true;
        error = std::strerror(written ? errno : saved);
        ::unlink(tmp.c_str());
        return false;
    }
    // The folder is not writable but the file may be: write it in place.
    const int direct = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (direct < 0) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = writeAll(direct);
    if (!written)
        error = std::strerror(errno);
    ::close(direct);
    return written;
}

} // namespace

SettingsLocation locateSettings(int instance, const std::string& executableDir,
                                const std::string& xdgConfigHome, const std::string& home)
{
    const std::string name = instance == 2 ? "TV_2.INI" : "TV.INI";
    SettingsLocation loc;
    if (!executableDir.empty() && !isInstalledProgramDir(executableDir)) {
        const std::string dir = withSlash(executableDir);
        const std::string beside = dir + name;
        if (::access(beside.c_str(), F_OK) == 0 || ::access(dir.c_str(), W_OK) == 0) {
            loc.iniPath = beside;
            loc.programDir = dir;
            loc.besideExecutable = true;
            return loc;
        }
    }
    const std::string homeFolder = home.empty() || home.front() != '/' ? "/" : home;
    const std::string configHome = !xdgConfigHome.empty() && xdgConfigHome.front() == '/'
                                       ? xdgConfigHome
                                       : withSlash(homeFolder) + ".config";
    loc.iniPath = withSlash(configHome) + "tarnvel/" + name;
    loc.programDir = withSlash(homeFolder);
    return loc;
}

bool isInstalledProgramDir(const std::string& executableDir)
{
    namespace fs = std::filesystem;
    // A folder named bin is shared by every program of its prefix (and /usr/bin is writable
    // for root): never a place for one user's settings. Nothing the build makes lands in one,
    // but a build tree told to put its programs in bin/ still runs as a build.
    fs::path dir = fs::path(executableDir).lexically_normal();
    if (!dir.has_filename())
        dir = dir.parent_path();
    if (dir.filename() != "bin")
        return false;
    std::error_code ec;
    for (fs::path p = dir; !p.empty(); p = p.parent_path()) {
        if (fs::exists(p / "CMakeCache.txt", ec))
            return false;
        if (p == p.parent_path())
            break;
    }
    return true;
}

std::string executableDir()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path())
        return {};
    return withSlash(exe.parent_path().string());
}

SettingsLocation locateSettings(int instance)
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    return locateSettings(instance, executableDir(), xdg != nullptr ? xdg : "", homeDir());
}

SettingsFile::SettingsFile(SettingsLocation location) : location_(std::move(location)) {}

Settings parseSettings(std::string_view text, const std::string& programDir, MessageSink& sink)
{
    const IniFile ini = IniFile::parse(text);
    Settings s;
    forEachSetting(s, KeyReader(ini, programDir, sink));

    // Whole frames per buffer: playback buffers even, recording buffers a multiple of 4
    // (halfway goes up). Both stay inside 16..64.
    s.PlayBufFrames = (s.PlayBufFrames + 1) / 2 * 2;
    s.RecBufFrames = (s.RecBufFrames + 2) / 4 * 4;
    return s;
}

Settings SettingsFile::load(MessageSink& sink)
{
    std::string text;
    std::string error;
    const ReadResult r = readWholeFile(location_.iniPath, text, error);
    newFile_ = r == ReadResult::Missing;
    keepFile_ = r == ReadResult::Failed || r == ReadResult::TooLarge;
    if (r == ReadResult::Failed)
        sink.showMessage(std::string(tr(msg::kSettingsUnreadable)) + "\n\n" + location_.iniPath +
                             "\n" + error,
                         MessageIcon::Warning);
    else if (r == ReadResult::TooLarge)
        sink.showMessage(std::string(tr(msg::kSettingsTooLarge)) + "\n\n" + location_.iniPath,
                         MessageIcon::Warning);
    return parseSettings(r == ReadResult::Ok ? std::string_view(text) : std::string_view(),
                         location_.programDir, sink);
}

std::optional<int> SettingsFile::loadWindowValue(int selector) const
{
    if (selector != 1 && selector != 2 && selector != 5)
        return std::nullopt;
    std::string text;
    std::string error;
    const ReadResult r = readWholeFile(location_.iniPath, text, error);
    const IniFile ini = r == ReadResult::Ok ? IniFile::parse(text) : IniFile();
    if (selector == 5) {
        const std::string v = ini.get("Window", "Maximized").value_or(std::string());
        return !v.empty() && (v[0] == 'Y' || v[0] == 'y') ? 2 : -1;
    }
    // Read through the table so that the bounds and defaults are the full load's.
    Settings s;
    CollectingMessageSink ignored;
    KeyReader reader(ini, location_.programDir, ignored);
    int value = 0;
    forEachSetting(s, [&](const SettingKey& k, auto& field) {
        if (std::string_view(k.section) != "Window")
            return;
        if constexpr (std::is_same_v<std::remove_reference_t<decltype(field)>, std::int32_t>) {
            if ((selector == 1 && std::string_view(k.key) == "PosX") ||
                (selector == 2 && std::string_view(k.key) == "PosY")) {
                reader(k, field);
                value = field;
            }
        }
    });
    return value;
}

namespace {

// One field as the save writes it.
template <class T> std::string fieldText(const SettingKey& k, const T& field, const Settings& s)
{
    if constexpr (std::is_same_v<T, std::string>) {
        if (&field == &s.Window.Maximized)
            return !field.empty() && (field[0] == 'Y' || field[0] == 'y') ? "Y" : "";
        return field;
    } else if constexpr (std::is_same_v<T, bool>) {
        return field ? "1" : "0";
    } else if (k.kind == SettingKind::Colour) {
        return colourText(static_cast<std::int32_t>(field));
    } else {
        return std::to_string(static_cast<std::int64_t>(field));
    }
}

} // namespace

std::string settingValueText(const SettingKey& key, const Settings& settings)
{
    std::string out;
    forEachSetting(settings, [&](const SettingKey& k, const auto& field) {
        if (std::string_view(k.section) == key.section && std::string_view(k.key) == key.key)
            out = fieldText(k, field, settings);
    });
    return out;
}

void forEachSettingText(const Settings& settings,
                        const std::function<void(const SettingKey&, const std::string&)>& fn)
{
    forEachSetting(settings, [&](const SettingKey& k, const auto& field) {
        fn(k, fieldText(k, field, settings));
    });
}

bool SettingsFile::save(const Settings& settings, MessageSink& sink)
{
    if (keepFile_)
        return false;
    std::string text;
    std::string error;
    const ReadResult r = readWholeFile(location_.iniPath, text, error);
    if (r == ReadResult::Failed || r == ReadResult::TooLarge) {
        sink.showMessage(std::string(tr(msg::kSettingsUnwritable)) + "\n\n" + location_.iniPath +
                             (error.empty() ? "" : "\n" + error),
                         MessageIcon::Warning);
        return false;
    }
    IniFile ini = r == ReadResult::Ok ? IniFile::parse(text) : IniFile();

    forEachSettingText(settings, [&](const SettingKey& k, const std::string& value) {
        if (!k.saved)
            return;
        // A file made by this run shows, first in its colour section, how colours are noted.
        if (newFile_ && !exampleWritten_ && std::string_view(k.section) == "ColorSet") {
            ini.set("ColorSet", kExampleKey, kExampleValue);
            exampleWritten_ = true;
        }
        ini.set(k.section, k.key, value);
    });

    if (!writeFileAtomically(location_.iniPath, ini.text(), error)) {
        sink.showMessage(std::string(tr(msg::kSettingsUnwritable)) + "\n\n" + location_.iniPath +
                             "\n" + error,
                         MessageIcon::Warning);
        return false;
    }
    return true;
}

} // namespace tarnvel::app

namespace tarnvel::app {

bool overrideSetting(Settings& settings, const std::string& key, const std::string& value,
                     const std::string& programDir, std::string& error)
{
    error.clear();
    bool found = false;
    forEachSetting(settings, [&](const SettingKey& k, auto& field) {
        using T = std::decay_t<decltype(field)>;
        if (found || strcasecmp(k.key, key.c_str()) != 0)
            return;
        // "Window" and "SetupDialog" share key names; a window placement is not a run option.
        if (std::string_view(k.section) == "Window" || std::string_view(k.section) == "SetupDialog")
            return;
        found = true;
        if constexpr (std::is_same_v<T, std::string>) {
            if (k.kind == SettingKind::Directory) {
                field = normaliseDirectory(value, programDir);
            } else {
                field = value;
                limitText(field);
            }
        } else {
            const auto parsed =
                k.kind == SettingKind::Colour ? parseColour(value) : parseLeadingInteger(value);
            if (!parsed) {
                error = formats::stringPrintf(tr(msg::kOverrideNotANumber), k.key, value.c_str());
                return;
            }
            if (*parsed < k.lower || *parsed > k.upper) {
                error = formats::stringPrintf(tr(msg::kOverrideOutOfRange), k.key,
                                              static_cast<long long>(k.lower),
                                              static_cast<long long>(k.upper));
                return;
            }
            if constexpr (std::is_same_v<T, bool>)
                field = *parsed != 0;
            else
                field = static_cast<T>(*parsed);
        }
    });
    if (!found)
        error = formats::stringPrintf(tr(msg::kOverrideUnknownKey), key.c_str());
    return error.empty();
}

} // namespace tarnvel::app
