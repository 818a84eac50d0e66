#include "formats/CueFile.h"

#include "common/Message.h"
#include "common/MessageSink.h"
#include "formats/FormatMessages.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "formats/TextFields.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

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

// "Unable to open file." with the reason when it is not simply a missing file.
void showOpenFailure(MessageSink& sink, const OpenFailure& failure, const std::string& path)
{
    if (failure.problem == OpenProblem::NotFound) {
        showWithPath(sink, msg::kUnableToOpen, path);
        return;
    }
    sink.showMessage(stringPrintf("%s  (%s)\n\n%s", tr(msg::kUnableToOpen), failure.text().c_str(),
                                  path.c_str()),
                     MessageIcon::Warning);
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

// The keys of an attribute line. A key is never taken as another key's value: an empty value
// is written as blanks ("   Time:    Silence: 5"), and the key after it must still count.
bool isCueKey(std::string_view word)
{
    return word == "Silence" || word == "PNo" || word == "Format" || word == "Emph" ||
           word == "Copy" || word == "Time";
}

// A whole number of seconds from 0 to `highest`, digits only.
bool silenceInRange(std::string_view value, int highest)
{
    if (value.empty() || value.size() > 9 ||
        value.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return leadingNumber(value) <= highest;
}

std::string cueFormatFromFile(WordCursor& words)
{
    std::string rate;
    std::string bits;
    if (auto beforeSlash = words.upTo('/')) {
        rate = trimBlanks(*beforeSlash);
        if (auto b = words.word())
            bits = trimBlanks(*b);
    } else if (auto w = words.peekWord(); w && !isCueKey(*w)) {
        words.word();
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
    OpenFailure failure;
    std::FILE* f = createRegularStream(path, failure);
    if (f == nullptr) {
        sink.showMessage(stringPrintf("%s  (%s)\n\n%s", tr(msg::kUnableToCreate),
                                      failure.text().c_str(), path.c_str()),
                         MessageIcon::Warning);
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
                        std::optional<std::string>& preSilence, std::string* problem)
{
    const auto refuse = [problem](std::string text) {
        if (problem != nullptr)
            *problem = std::move(text);
        return false;
    };
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
        const auto value = words.peekWord();
        if (!value)
            break;
        if (isCueKey(*value))
            continue; // no value: the next key follows
        words.word();
        if (*key == "Silence") {
            const int highest = record == nullptr ? kCueMaxPreSilence : kCueMaxSilence;
            if (!silenceInRange(*value, highest))
                return refuse(
                    stringPrintf(tr(msg::kCueSilenceRange), std::string(*value).c_str(), highest));
            if (record == nullptr)
                preSilence = std::string(*value);
            else
                record->silence = stringPrintf("%3s", std::string(*value).c_str());
        } else if (*key == "PNo") {
            // "BB", "EE" and "--" name no program: the file is recorded without a START ID.
            const int pno = std::max(0, leadingNumber(*value));
            if (pno > kCueMaxPNo)
                return refuse(stringPrintf(tr(msg::kCuePNoRange), std::string(*value).c_str()));
            if (record != nullptr)
                record->pno = stringPrintf("%3d", pno);
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
    // Without blocking, and only a regular file: a FIFO given as a name must not hang.
    OpenFailure failure;
    const int fd = openRegularFile(path, O_RDONLY, failure);
    std::FILE* f = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (f == nullptr) {
        if (fd >= 0)
            ::close(fd);
        showOpenFailure(sink, failure, path);
        return false;
    }
    attach(f);
    owned_ = true;
    std::error_code ec;
    folder_ = std::filesystem::absolute(path, ec).parent_path().string();
    if (ec)
        folder_.clear();
    return true;
}

void CueReader::attach(std::FILE* stream)
{
    if (owned_ && file_ != nullptr)
        std::fclose(file_);
    file_ = stream;
    owned_ = false;
    lines_.emplace(stream, kCueMaxLine);
    folder_.clear();
    pendingPath_.reset();
    preSilence_.reset();
    problems_.clear();
}

std::string CueReader::entryPath(const std::string& line) const
{
    if (folder_.empty() || line.front() == '/')
        return line;
    return (std::filesystem::path(folder_) / line).lexically_normal().string();
}

void CueReader::noteProblem(const std::string& text)
{
    problems_.push_back(stringPrintf(tr(msg::kCueLineProblem),
                                     static_cast<int>(lines_->lineNumber()), text.c_str()));
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
                pendingPath_ = entryPath(line);
                return record;
            }
            record.emplace();
            record->path = entryPath(line);
            continue;
        }
        std::string problem;
        if (record) {
            if (!record->failed && !parseCueAttributes(line, &*record, preSilence_, &problem)) {
                record->failed = true;
                if (!problem.empty())
                    noteProblem(problem +
                                stringPrintf(tr(msg::kCueEntryLeftOut), record->path.c_str()));
            }
        } else if (!headerFailed && !parseCueAttributes(line, nullptr, preSilence_, &problem)) {
            headerFailed = true;
            if (!problem.empty())
                noteProblem(problem);
        }
    }
    return record;
}

} // namespace tarnvel::formats
