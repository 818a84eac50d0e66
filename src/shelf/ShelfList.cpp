#include "shelf/ShelfList.h"

#include "formats/PosixIo.h"

#include <cctype>
#include <charconv>
#include <fcntl.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace tarnvel::shelf {

namespace {

constexpr std::size_t kMaxListBytes = 4u << 20;

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> wordsOf(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t b = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > b)
            words.emplace_back(line.substr(b, i - b));
    }
    return words;
}

// Text shown in a message: control bytes as \xHH.
std::string shown(std::string_view s)
{
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

bool isValidLabel(std::string_view label)
{
    if (label.empty() || label.size() > kMaxLabelLength || label[0] == '-')
        return false;
    for (const char c : label) {
        const auto u = static_cast<unsigned char>(c);
        if (!(u < 0x80 && (std::isalnum(u) || c == '-' || c == '_')))
            return false;
    }
    return true;
}

constexpr const char* kTapeOptions =
    "the options a tape may have: --no-divide, --preread N, --bwf, --flac, --retries N, --no-qc";

bool parseTapeOptions(const std::vector<std::string>& words, TapeOptions& options,
                      std::string& error)
{
    options = {};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--no-divide") {
            options.noDivide = true;
        } else if (w == "--bwf") {
            options.bwf = true;
        } else if (w == "--no-qc") {
            options.noQc = true;
        } else if (w == "--flac") {
            options.flac = true;
        } else if (w == "--preread" || w == "--retries") {
            const bool preread = w == "--preread";
            const int highest = preread ? 5 : 99;
            int value = -1;
            const std::string v = i + 1 < words.size() ? words[++i] : std::string();
            const auto r = std::from_chars(v.data(), v.data() + v.size(), value);
            if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size() || value < 0 ||
                value > highest) {
                error = preread ? "--preread needs a number of tenths of a second from 0 to 5"
                                : "--retries needs a number of passes from 0 to 99";
                return false;
            }
            if (preread)
                options.preRead = value;
            else
                options.retries = value;
        } else if (w == "--image") {
            // Named because a user may expect it: said plainly rather than as unknown.
            error = w + " is not offered by this version's archive (" + kTapeOptions + ")";
            return false;
        } else {
            error = "unknown option \"" + shown(w) + "\" (" + kTapeOptions + ")";
            return false;
        }
    }
    if (options.flac && options.bwf) {
        error = "--flac and --bwf exclude each other";
        return false;
    }
    return true;
}

bool parseShelfList(std::string_view text, std::vector<ShelfTape>& tapes, std::string& error)
{
    tapes.clear();
    std::set<std::string> seen;
    int lineNo = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        std::vector<std::string> words = wordsOf(line);
        if (words.empty())
            continue;
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            tapes.clear();
            return false;
        };
        ShelfTape tape;
        tape.label = words.front();
        tape.line = lineNo;
        if (!isValidLabel(tape.label))
            return fail("\"" + shown(tape.label) +
                        "\" is not a tape label (letters, digits, - and _, at most " +
                        std::to_string(kMaxLabelLength) + " characters)");
        if (!seen.insert(lowered(tape.label)).second)
            return fail("the label " + tape.label + " is listed twice");
        words.erase(words.begin());
        std::string why;
        if (!parseTapeOptions(words, tape.options, why))
            return fail(tape.label + ": " + why);
        for (const std::string& w : words)
            tape.optionText += (tape.optionText.empty() ? "" : " ") + w;
        tapes.push_back(std::move(tape));
    }
    if (tapes.empty()) {
        error = "no tape is listed";
        return false;
    }
    return true;
}

bool readShelfList(const std::string& path, std::vector<ShelfTape>& tapes, std::string& error)
{
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        error = path + ": " + failure.text();
        return false;
    }
    std::string text(kMaxListBytes + 1, '\0');
    const std::size_t n =
        formats::preadAll(fd, reinterpret_cast<std::uint8_t*>(text.data()), text.size(), 0);
    ::close(fd);
    if (n > kMaxListBytes) {
        error = path + ": larger than a list of tapes can be (4 MB)";
        return false;
    }
    text.resize(n);
    if (!parseShelfList(text, tapes, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace tarnvel::shelf
