#include "app/IniFile.h"

#include <algorithm>
#include <cctype>

namespace tarnvel::app {

namespace {

std::string_view trim(std::string_view s)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string folded(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string keyId(std::string_view section, std::string_view key)
{
    return folded(section) + '\n' + folded(key);
}

std::string oneLine(std::string_view s)
{
    std::string out(s);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return out;
}

} // namespace

IniFile IniFile::parse(std::string_view text)
{
    IniFile ini;
    if (text.find("\r\n") != std::string_view::npos)
        ini.eol_ = "\r\n";
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view raw = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);

        Line line;
        line.raw = std::string(raw);
        const std::string_view t = trim(raw);
        if (t.empty() || t.front() == ';' || t.front() == '#') {
            line.kind = LineKind::Other;
        } else if (t.front() == '[') {
            const std::size_t close = t.find(']');
            if (close != std::string_view::npos) {
                line.kind = LineKind::Section;
                line.name = std::string(trim(t.substr(1, close - 1)));
            }
        } else if (const std::size_t eq = t.find('='); eq != std::string_view::npos) {
            line.kind = LineKind::Key;
            line.name = std::string(trim(t.substr(0, eq)));
            std::string_view v = trim(t.substr(eq + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
                v = v.substr(1, v.size() - 2);
            line.value = std::string(v);
        }
        ini.lines_.push_back(std::move(line));
    }
    // Keys before the first section are never read.
    std::string section;
    bool inSection = false;
    for (std::size_t i = 0; i < ini.lines_.size(); ++i) {
        const Line& l = ini.lines_[i];
        if (l.kind == LineKind::Section) {
            section = folded(l.name);
            inSection = true;
            ini.sectionTail_[section] = i;
        } else if (l.kind == LineKind::Key && inSection) {
            ini.firstKey_.try_emplace(section + '\n' + folded(l.name), i);
            ini.sectionTail_[section] = i;
        }
    }
    return ini;
}

void IniFile::shiftIndex(std::size_t at)
{
    for (auto* index : {&firstKey_, &sectionTail_})
        for (auto& entry : *index)
            if (entry.second >= at)
                ++entry.second;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const
{
    // A section may appear more than once in a hand-edited file; its keys are all read, and
    // the first occurrence of a key wins.
    const auto it = firstKey_.find(keyId(section, key));
    if (it == firstKey_.end())
        return std::nullopt;
    return lines_[it->second].value;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string k = oneLine(trim(key));
    std::string v = oneLine(value);
    // Values are read back trimmed and with one pair of quotes removed: quote the ones that
    // would otherwise not come back as written.
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\f'; };
    if (!v.empty() && (blank(v.front()) || blank(v.back()) ||
                       (v.size() >= 2 && v.front() == '"' && v.back() == '"')))
        v = '"' + v + '"';
    Line line;
    line.kind = LineKind::Key;
    line.name = k;
    line.value = oneLine(value);
    line.raw = k + "=" + v;

    const std::string id = keyId(section, k);
    if (const auto it = firstKey_.find(id); it != firstKey_.end()) {
        Line& existing = lines_[it->second];
        line.name = existing.name; // keep the user's spelling of the key
        line.raw = line.name + "=" + v;
        existing = std::move(line);
        return;
    }
    const std::string sec = folded(section);
    if (const auto tail = sectionTail_.find(sec); tail != sectionTail_.end()) {
        const std::size_t at = tail->second + 1;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
        if (at + 1 < lines_.size()) // nothing moved when it went at the end
            shiftIndex(at);
        firstKey_[id] = at;
        sectionTail_[sec] = at;
        return;
    }
    if (!lines_.empty() && !trim(lines_.back().raw).empty()) {
        lines_.push_back(Line{}); // a blank line before the new section
    }
    Line header;
    header.kind = LineKind::Section;
    header.name = oneLine(section);
    header.raw = "[" + header.name + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(line));
    // Found again under the name the header now has.
    const std::string written = folded(lines_[lines_.size() - 2].name);
    firstKey_.try_emplace(written + '\n' + folded(k), lines_.size() - 1);
    sectionTail_[written] = lines_.size() - 1;
}

std::string IniFile::text() const
{
    std::string out;
    for (const Line& l : lines_) {
        out += l.raw;
        out += eol_;
    }
    return out;
}

} // namespace tarnvel::app
