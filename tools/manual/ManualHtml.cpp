// tarnvel-manual-html: docs/manual.md as the HTML page the program opens as its help.
// Knows the Markdown the manual uses: headings (with anchors named as the usual slugs, so
// the program can open a topic), paragraphs, lists, indented and fenced code, tables, images,
// links, `code`, **bold** and *emphasis*.
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// "Setup: Play/Rec" -> "setup-playrec".
std::string slug(const std::string& heading)
{
    std::string out;
    for (unsigned char c : heading) {
        if (std::isalnum(c) || c == '-' || c == '_')
            out += static_cast<char>(std::tolower(c));
        else if (c == ' ')
            out += '-';
    }
    return out;
}

// Inline markup of one stretch of text.
std::string inlineHtml(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '`') {
            const std::size_t end = s.find('`', i + 1);
            if (end != std::string::npos) {
                out += "<code>" + escape(s.substr(i + 1, end - i - 1)) + "</code>";
                i = end + 1;
                continue;
            }
        }
        const bool image = s.compare(i, 2, "![") == 0;
        if (image || s[i] == '[') {
            const std::size_t open = i + (image ? 1 : 0);
            const std::size_t close = s.find("](", open);
            const std::size_t end = close == std::string::npos ? close : s.find(')', close);
            if (close != std::string::npos && end != std::string::npos) {
                const std::string text = s.substr(open + 1, close - open - 1);
                const std::string url = s.substr(close + 2, end - close - 2);
                if (image)
                    out += "<img src=\"" + escape(url) + "\" alt=\"" + escape(text) + "\">";
                else
                    out += "<a href=\"" + escape(url) + "\">" + inlineHtml(text) + "</a>";
                i = end + 1;
                continue;
            }
        }
        if (s.compare(i, 2, "**") == 0) {
            const std::size_t end = s.find("**", i + 2);
            if (end != std::string::npos) {
                out += "<strong>" + inlineHtml(s.substr(i + 2, end - i - 2)) + "</strong>";
                i = end + 2;
                continue;
            }
        }
        if ((s[i] == '*' || s[i] == '_') && i + 1 < s.size() && s[i + 1] != ' ' &&
            (i == 0 || !std::isalnum(static_cast<unsigned char>(s[i - 1])))) {
            const std::size_t end = s.find(s[i], i + 1);
            if (end != std::string::npos && end > i + 1) {
                out += "<em>" + inlineHtml(s.substr(i + 1, end - i - 1)) + "</em>";
                i = end + 1;
                continue;
            }
        }
        out += escape(std::string(1, s[i]));
        ++i;
    }
    return out;
}

std::string trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    const auto e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::vector<std::string> cells(const std::string& line)
{
    std::string t = trim(line);
    if (!t.empty() && t.front() == '|')
        t.erase(0, 1);
    if (!t.empty() && t.back() == '|')
        t.pop_back();
    std::vector<std::string> out;
    std::string cell;
    bool inCode = false;
    for (char c : t) {
        if (c == '`')
            inCode = !inCode;
        if (c == '|' && !inCode) {
            out.push_back(trim(cell));
            cell.clear();
        } else {
            cell += c;
        }
    }
    out.push_back(trim(cell));
    return out;
}

bool isListItem(const std::string& line, bool& ordered, std::string& text)
{
    const std::string t = trim(line);
    if (t.size() > 2 && (t[0] == '-' || t[0] == '*') && t[1] == ' ') {
        ordered = false;
        text = t.substr(2);
        return true;
    }
    std::size_t d = 0;
    while (d < t.size() && std::isdigit(static_cast<unsigned char>(t[d])))
        ++d;
    if (d > 0 && d + 1 < t.size() && t[d] == '.' && t[d + 1] == ' ') {
        ordered = true;
        text = t.substr(d + 2);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: tarnvel-manual-html MANUAL.md MANUAL.html\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }

    std::ostringstream body;
    std::string title = "Tarnvel";
    std::size_t i = 0;
    const auto blank = [&](std::size_t k) { return trim(lines[k]).empty(); };
    while (i < lines.size()) {
        const std::string& line = lines[i];
        if (blank(i)) {
            ++i;
            continue;
        }
        if (line.rfind("```", 0) == 0) {
            body << "<pre><code>";
            for (++i; i < lines.size() && lines[i].rfind("```", 0) != 0; ++i)
                body << escape(lines[i]) << "\n";
            body << "</code></pre>\n";
            ++i;
            continue;
        }
        if (line.rfind("    ", 0) == 0) {
            body << "<pre><code>";
            while (i < lines.size() && (lines[i].rfind("    ", 0) == 0 || blank(i))) {
                // A blank line inside a code block belongs to it only when code follows.
                if (blank(i) && (i + 1 >= lines.size() || lines[i + 1].rfind("    ", 0) != 0))
                    break;
                body << escape(lines[i].size() >= 4 ? lines[i].substr(4) : "") << "\n";
                ++i;
            }
            body << "</code></pre>\n";
            continue;
        }
        if (line[0] == '#') {
            std::size_t level = 0;
            while (level < line.size() && line[level] == '#')
                ++level;
            const std::string text = trim(line.substr(level));
            if (level == 1)
                title = text;
            body << "<h" << level << " id=\"" << slug(text) << "\">" << inlineHtml(text) << "</h"
                 << level << ">\n";
            ++i;
            continue;
        }
        if (trim(line).front() == '|' && i + 1 < lines.size() &&
            trim(lines[i + 1]).rfind("|-", 0) == 0) {
            body << "<table>\n<tr>";
            for (const std::string& c : cells(line))
                body << "<th>" << inlineHtml(c) << "</th>";
            body << "</tr>\n";
            for (i += 2; i < lines.size() && !blank(i) && trim(lines[i]).front() == '|'; ++i) {
                body << "<tr>";
                for (const std::string& c : cells(lines[i]))
                    body << "<td>" << inlineHtml(c) << "</td>";
                body << "</tr>\n";
            }
            body << "</table>\n";
            continue;
        }
        bool ordered = false;
        std::string text;
        if (isListItem(line, ordered, text)) {
            body << (ordered ? "<ol>\n" : "<ul>\n");
            while (i < lines.size() && !blank(i)) {
                bool o = false;
                std::string item;
                if (!isListItem(lines[i], o, item))
                    break;
                // Continuation lines are indented.
                for (++i; i < lines.size() && !blank(i) && lines[i].rfind("  ", 0) == 0 &&
                          !isListItem(lines[i], o, text);
                     ++i)
                    item += " " + trim(lines[i]);
                body << "<li>" << inlineHtml(item) << "</li>\n";
            }
            body << (ordered ? "</ol>\n" : "</ul>\n");
            continue;
        }
        std::string para;
        bool o = false;
        while (i < lines.size() && !blank(i) && lines[i][0] != '#' &&
               lines[i].rfind("    ", 0) != 0 && !isListItem(lines[i], o, text) &&
               trim(lines[i]).front() != '|') {
            para += (para.empty() ? "" : " ") + trim(lines[i]);
            ++i;
        }
        if (para.empty()) {
            // A line no rule took (a table row without its separator): as text.
            para = trim(lines[i++]);
        }
        body << "<p>" << inlineHtml(para) << "</p>\n";
    }

    std::ofstream out(argv[2]);
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
        << escape(title) << "</title>\n<style>\n"
        << "body { font-family: sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; "
           "line-height: 1.45; color: #202020; }\n"
        << "code, pre { font-family: monospace; background: #f2f2f2; }\n"
        << "pre { padding: 0.6em; overflow-x: auto; }\n"
        << "table { border-collapse: collapse; margin: 0.6em 0; }\n"
        << "th, td { border: 1px solid #c8c8c8; padding: 0.25em 0.5em; text-align: left; "
           "vertical-align: top; }\n"
        << "img { max-width: 100%; border: 1px solid #c8c8c8; }\n"
        << "h2 { border-bottom: 1px solid #d8d8d8; }\n</style>\n</head>\n<body>\n"
        << body.str() << "</body>\n</html>\n";
    if (!out) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
