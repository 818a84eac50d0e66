#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnvel::app {

// An INI-style text kept line by line, so that writing a few keys leaves every other line
// (comments, keys we never write, keys we do not know) exactly as the user left it.
//
// Reading follows the usual profile-file rules: section and key names compare without
// regard to case, the first occurrence of a key in a section wins, blanks around names and
// values are dropped, and one pair of double quotes around a value is removed. Lines that
// begin with ';' or '#' are comments. Lines before the first section and lines that are
// neither a section, a key nor a comment are kept but never read.
class IniFile {
public:
    IniFile() = default;
    static IniFile parse(std::string_view text);

    // Value of a key, or nothing when the section or the key is absent.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // Sets a key: replaces the value of the existing line, or adds the key after the last
    // key line of its section, or adds the section at the end. Keys and values are written
    // as given; a line break inside them is replaced by a blank so that one key stays one
    // line.
    void set(std::string_view section, std::string_view key, std::string_view value);

    std::string text() const;
    bool empty() const { return lines_.empty(); }

private:
    enum class LineKind { Other, Section, Key };
    struct Line {
        std::string raw; // as read or as written by set()
        LineKind kind = LineKind::Other;
        std::string name;  // section name, or key name (trimmed)
        std::string value; // key value (trimmed, unquoted)
    };

    // Lines shift by one from `at` on (a line was inserted there).
    void shiftIndex(std::size_t at);

    std::vector<Line> lines_;
    std::string eol_ = "\n"; // "\r\n" when the text used it
    // Lookups without a scan of every line (the settings table reads and writes some 150
    // keys). Names are folded to lower case. firstKey_: "section\nkey" -> the line of its
    // first occurrence; sectionTail_: section -> the last header or key line of its last
    // occurrence, where a new key goes.
    std::unordered_map<std::string, std::size_t> firstKey_;
    std::unordered_map<std::string, std::size_t> sectionTail_;
};

} // namespace tarnvel::app
