#include "app/IniFile.h"

#include <algorithm>
#include <cctype>

namespace tarnvel::app {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

std::string_view trim(std::string_view s)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
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
    return ini;
}

std::size_t IniFile::findSection(std::string_view section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == LineKind::Section && equalNoCase(lines_[i].name, section))
            return i;
    return npos;
}

std::size_t IniFile::sectionEnd(std::size_t header) const
{
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != LineKind::Section)
        ++i;
    return i;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const
{
    // A section may appear more than once in a hand-edited file; its keys are all read.
    for (std::size_t h = 0; h < lines_.size(); ++h) {
        if (lines_[h].kind != LineKind::Section || !equalNoCase(lines_[h].name, section))
            continue;
        const std::size_t end = sectionEnd(h);
        for (std::size_t i = h + 1; i < end; ++i)
            if (lines_[i].kind == LineKind::Key && equalNoCase(lines_[i].name, key))
                return lines_[i].value;
        h = end - 1;
    }
    return std::nullopt;
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

    std::size_t lastKeyOfSection = npos;
    for (std::size_t h = 0; h < lines_.size(); ++h) {
        if (lines_[h].kind != LineKind::Section || !equalNoCase(lines_[h].name, section))
            continue;
        const std::size_t end = sectionEnd(h);
        lastKeyOfSection = h;
        for (std::size_t i = h + 1; i < end; ++i) {
            if (lines_[i].kind != LineKind::Key)
                continue;
            if (equalNoCase(lines_[i].name, k)) {
                line.name = lines_[i].name; // keep the user's spelling of the key
                line.raw = line.name + "=" + v;
                lines_[i] = std::move(line);
                return;
            }
            lastKeyOfSection = i;
        }
        h = end - 1;
    }
    if (lastKeyOfSection != npos) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastKeyOfSection + 1),
                      std::move(line));
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
