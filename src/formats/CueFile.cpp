#include "formats/CueFile.h"

#include "common/Message.h"
#include "common/MessageSink.h"
#include "formats/FormatMessages.h"
#include "formats/StringPrintf.h"
#include "formats/TextFields.h"

#include <algorithm>

namespace tarnvel::formats {

namespace {

bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

void showWithPath(MessageSink& sink, const MessagePair& message, const std::string& path)
{
    sink.showMessage(stringPrintf("%s\n\n%s", tr(message), path.c_str()), MessageIcon::Warning);
}

// A path line must read back as one path line.
bool storablePath(const std::string& path)
{
    return !path.empty() && path.size() <= kCueMaxLine && path[0] != ' ' && path[0] != ';' &&
           path.find_first_of("\r\n") == std::string::npos;
}

// Words of an attribute line are separated by colons and blanks. A word ends at one
// separator, which it consumes, so that a value that runs "up to the next /" starts there.
class WordCursor {
public:
    explicit WordCursor(std::string_view line) : s_(line) {}

    std::optional<std::string_view> word()
    {
        while (pos_ < s_.size() && isSeparator(s_[pos_]))
            ++pos_;
        if (pos_ >= s_.size())
            return std::nullopt;
        const std::size_t start = pos_;
        while (pos_ < s_.size() && !isSeparator(s_[pos_]))
            ++pos_;
        const std::string_view w = s_.substr(start, pos_ - start);
        if (pos_ < s_.size())
            ++pos_;
        return w;
    }

    std::optional<std::string_view> peekWord()
    {
        const std::size_t saved = pos_;
        auto w = word();
        pos_ = saved;
        return w;
    }

    // The text up to the next `c` (which is consumed), or nullopt when none follows.
    std::optional<std::string_view> upTo(char c)
    {
        const std::size_t at = s_.find(c, pos_);
        if (at == std::string_view::npos)
            return std::nullopt;
        const std::string_view text = s_.substr(pos_, at - pos_);
        pos_ = at + 1;
        return text;
    }

private:
    static bool isSeparator(char c) { return c == ' ' || c == ':'; }
    std::string_view s_;
    std::size_t pos_ = 0;
};

// "01h05m30s" gives "65m30s"; "03m05s" stays.
std::string cueTimeText(std::string_view t)
{
    int minutes;
    std::size_t m;
    if (t.size() >= 3 && t[2] == 'h') {
        const int hours = std::max(0, leadingNumber(t));
        minutes = std::min(hours, 999999) * 60 + std::max(0, leadingNumber(t.substr(3)));
        m = t.find('m', 3);
    } else {
        minutes = std::max(0, leadingNumber(t));
        m = t.find('m');
    }
    const std::string_view rest =
        m == std::string_view::npos ? std::string_view{} : t.substr(m + 1);
    return stringPrintf("%02dm", minutes) + std::string(rest);
}

std::string cueFormatFromFile(WordCursor& words)
{
    std::string rate;
    std::string bits;
    if (auto beforeSlash = words.upTo('/')) {
        rate = trimBlanks(*beforeSlash);
        if (auto b = words.word())
            bits = trimBlanks(*b);
    } else if (auto w = words.word()) {
        rate = *w; // no bit depth given: the rate alone
    }
    std::string text = rate;
    if (!bits.empty() && bits[0] != '1')
        text += " / " + bits;
    if (bits == "12")
        text += " LP";
    if (auto next = words.peekWord(); next && next->front() == '(') {
        words.word();
        if (trimBlanks(*next) == "(LP)")
            text += " LP";
    }
    return text;
}

} // namespace

std::string cueFormatText(const std::string& listFormat)
{
    if (endsWith(listFormat, " LP"))
        return listFormat.substr(0, listFormat.size() - 3) + " / 16 (LP)";
    if (endsWith(listFormat, " / 24") || endsWith(listFormat, " / 32") ||
        endsWith(listFormat, " / F32"))
        return listFormat + " (24)";
    return listFormat + " / 16 (16)";
}

bool writeCueFile(const std::string& path, int preSilenceSec, const std::vector<CueEntry>& entries,
                  MessageSink& sink)
{
    for (const CueEntry& e : entries) {
        if (!storablePath(e.path)) {
            showWithPath(sink, msg::kPathNotStorable, e.path);
            return false;
        }
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        showWithPath(sink, msg::kUnableToCreate, path);
        return false;
    }
    auto put = [f](const std::string& line) {
        return std::fwrite(line.data(), 1, line.size(), f) == line.size();
    };
    bool ok = put(stringPrintf("; Comment\r\n   Silence:%2d\r\n", preSilenceSec));
    for (std::size_t i = 0; ok && i < entries.size(); ++i) {
        const CueEntry& e = entries[i];
        ok = put(e.path + "\r\n") &&
             put(stringPrintf("   PNo: %-3s  Format: %-16s %4s  Copy: %s\r\n",
                              withoutBlanks(e.pno).c_str(), cueFormatText(e.format).c_str(),
                              e.emph == "On" ? "Emph" : "", e.copy.c_str())) &&
             put(stringPrintf("   Time: %s   Silence:%2s\r\n", e.time.c_str(),
                              withoutBlanks(e.silence).c_str()));
    }
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        showWithPath(sink, msg::kUnableToWrite, path);
    return ok;
}

bool parseCueAttributes(std::string_view line, CueRecord* record,
                        std::optional<std::string>& preSilence)
{
    WordCursor words(line);
    while (auto key = words.word()) {
        if (*key == "Emph") {
            if (record != nullptr)
                record->emph = "On";
            continue;
        }
        if (*key == "Format") {
            std::string text = cueFormatFromFile(words);
            if (record != nullptr)
                record->format = std::move(text);
            continue;
        }
        const bool known = *key == "Silence" || *key == "PNo" || *key == "Copy" || *key == "Time";
        if (!known)
            continue;
        const auto value = words.word();
        if (!value)
            break;
        if (*key == "Silence") {
            if (record == nullptr)
                preSilence = std::string(*value);
            else
                record->silence = stringPrintf("%3s", std::string(*value).c_str());
        } else if (*key == "PNo") {
            if (*value == "BB")
                return false;
            if (record != nullptr)
                record->pno = stringPrintf("%3d", std::max(0, leadingNumber(*value)));
        } else if (*key == "Copy") {
            if (record != nullptr)
                record->copy = std::string(trimBlanks(*value));
        } else if (record != nullptr) {
            record->time = cueTimeText(*value);
        }
    }
    return true;
}

CueReader::~CueReader()
{
    if (owned_ && file_ != nullptr)
        std::fclose(file_);
}

bool CueReader::open(const std::string& path, MessageSink& sink)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        showWithPath(sink, msg::kUnableToOpen, path);
        return false;
    }
    attach(f);
    owned_ = true;
    return true;
}

void CueReader::attach(std::FILE* stream)
{
    if (owned_ && file_ != nullptr)
        std::fclose(file_);
    file_ = stream;
    owned_ = false;
    lines_.emplace(stream, kCueMaxLine);
    pendingPath_.reset();
    preSilence_.reset();
}

std::optional<CueRecord> CueReader::next()
{
    if (!lines_)
        return std::nullopt;
    std::optional<CueRecord> record;
    if (pendingPath_) {
        record.emplace();
        record->path = std::move(*pendingPath_);
        pendingPath_.reset();
    }
    bool headerFailed = false;
    std::string line;
    while (lines_->next(line)) {
        if (line[0] == ';')
            continue;
        if (line[0] != ' ') {
            if (record) {
                pendingPath_ = line;
                return record;
            }
            record.emplace();
            record->path = line;
            continue;
        }
        if (record) {
            if (!record->failed && !parseCueAttributes(line, &*record, preSilence_))
                record->failed = true;
        } else if (!headerFailed && !parseCueAttributes(line, nullptr, preSilence_)) {
            headerFailed = true;
        }
    }
    return record;
}

} // namespace tarnvel::formats
