#include "formats/VirtualIdFile.h"

#include "common/Message.h"
#include "common/MessageSink.h"
#include "dat/TapeTracker.h"
#include "formats/FormatMessages.h"
#include "formats/LineReader.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "formats/TextFields.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <optional>
#include <stdlib.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::formats {

namespace {

constexpr const char* kHeaderLine = "; No. ID   PNo.  ABS Time     (sec)\r\n";
constexpr int kHighestPNo = 799;

void showWithPath(MessageSink& sink, const MessagePair& message, const std::string& path)
{
    sink.showMessage(stringPrintf("%s\n\n%s", tr(message), path.c_str()), MessageIcon::Warning);
}

class Words {
public:
    explicit Words(std::string_view line) : s_(line) {}
    std::optional<std::string_view> next()
    {
        while (pos_ < s_.size() && s_[pos_] == ' ')
            ++pos_;
        if (pos_ >= s_.size())
            return std::nullopt;
        const std::size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] != ' ')
            ++pos_;
        return s_.substr(start, pos_ - start);
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
};

// An ABS time as the list writes it: "HHhMMmSSsFF" in decimal digits (the digits become the
// BCD bytes), minutes and seconds below 60 and the frame below 34; or "--h--m--s--", the
// list's text for an ID without a valid time, which reads back as no time.
std::optional<dat::TimeCode> parseAbsWord(std::string_view w)
{
    if (w == "--h--m--s--")
        return dat::kNoValue;
    if (w.size() != 11 || w[2] != 'h' || w[5] != 'm' || w[8] != 's')
        return std::nullopt;
    std::uint8_t bytes[4];
    int values[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const char hi = w[3 * i];
        const char lo = w[3 * i + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9')
            return std::nullopt;
        values[i] = (hi - '0') * 10 + (lo - '0');
        bytes[i] = static_cast<std::uint8_t>((hi - '0') << 4 | (lo - '0'));
    }
    if (values[1] > 59 || values[2] > 59 || values[3] > 33)
        return std::nullopt;
    return dat::TimeCode{bytes[0], bytes[1], bytes[2], bytes[3]};
}

// The (sec) column: digits only.
std::optional<int> parseSecondsWord(std::string_view w)
{
    if (w.empty() || w.size() > 9 || w.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return leadingNumber(w);
}

// What loading one line did, with the line whose entry it replaced.
struct LineResult {
    bool loaded = false;
    const MessagePair* problem = nullptr; // refused (or replaced, see replacedLine)
    std::string detail;                   // the word at fault
    int replacedLine = 0;
};

// Loads one line. `lineOf` holds, per table entry, the line that put it there (entries are
// appended and updated in place while loading, never reordered); `endLine` the END's line.
LineResult loadLine(std::string_view line, dat::TapeTracker& tracker,
                    std::array<int, dat::IdTable::kMaxEntries>& lineOf, int& endLine,
                    int lineNumber)
{
    LineResult r;
    const auto refuse = [&r](const MessagePair& why, std::string_view word = {}) {
        r.problem = &why;
        r.detail = std::string(word);
        return r;
    };
    Words words(line);
    const auto no = words.next();
    // Comments, the header and lines numbered 0 (or not at all) are not rows.
    if (!no || no->front() == ';' || leadingNumber(*no) == 0)
        return r;
    const auto kind = words.next();
    if (!kind)
        return refuse(msg::kVidMissingFields);
    const bool start = *kind == "START";
    const bool skip = *kind == "SKIP";
    const bool end = *kind == "END";
    if (!start && !skip && !end)
        return refuse(msg::kVidUnknownKind, *kind);
    int pNo = dat::kPNoSkip;
    if (start) {
        const auto number = words.next();
        if (!number)
            return refuse(msg::kVidMissingFields);
        pNo = number->front() == '-' ? dat::kPNoStartWithoutNumber : leadingNumber(*number);
        // Only numbers a tape can carry: anything else would corrupt the synthesised IDs.
        if (pNo != dat::kPNoStartWithoutNumber && (pNo < 1 || pNo > kHighestPNo))
            return refuse(msg::kVidBadPNo, *number);
    }
    const auto absWord = words.next();
    if (!absWord)
        return refuse(msg::kVidMissingFields);
    const auto abs = parseAbsWord(*absWord);
    if (!abs) {
        // A SKIP or END row carries no program number: a number here is not a time.
        if (!start && parseSecondsWord(*absWord))
            return refuse(msg::kVidNumberOnSkipOrEnd, *absWord);
        return refuse(msg::kVidBadAbs, *absWord);
    }
    const auto secondsWord = words.next();
    if (!secondsWord)
        return refuse(msg::kVidMissingFields);
    const auto seconds = parseSecondsWord(*secondsWord);
    if (!seconds)
        return refuse(msg::kVidBadSeconds, *secondsWord);

    dat::IdTable& table = tracker.table(true);
    if (end) {
        const bool hadEnd = table.hasEnd();
        if (tracker.setEnd(*abs, true, true, *seconds) == 0)
            return refuse(msg::kVidTableFull);
        if (hadEnd) {
            r.problem = &msg::kVidReplacedEnd;
            r.replacedLine = endLine;
        }
        endLine = lineNumber;
        r.loaded = true;
        return r;
    }
    const int before = table.count;
    const std::array<dat::IdEntry, dat::IdTable::kMaxEntries> old = table.entries;
    if (tracker.addId(pNo, true, true, *seconds, *abs) == 0)
        return refuse(msg::kVidTableFull);
    r.loaded = true;
    if (table.count > before) {
        lineOf[static_cast<std::size_t>(table.count - 1)] = lineNumber;
        return r;
    }
    // Updated in place: the first entry that now holds this row is the one it matched.
    for (int i = 0; i < table.count; ++i) {
        const dat::IdEntry& e = table.entries[static_cast<std::size_t>(i)];
        if (e.pNo == pNo && e.seconds == *seconds && e.abs == *abs) {
            const dat::IdEntry& was = old[static_cast<std::size_t>(i)];
            r.problem = was.pNo == pNo ? &msg::kVidReplacedPNo : &msg::kVidReplacedAbs;
            r.replacedLine = lineOf[static_cast<std::size_t>(i)];
            lineOf[static_cast<std::size_t>(i)] = lineNumber;
            break;
        }
    }
    return r;
}

} // namespace

std::string virtualIdLine(const IdListRow& row)
{
    return stringPrintf("%4s%-6s%4s%13s%7s", row.no.c_str(), row.id.c_str(), row.pno.c_str(),
                        row.absTime.c_str(), row.sec.c_str());
}

bool writeVirtualIdFile(const std::string& path, const std::vector<IdListRow>& rows,
                        MessageSink& sink, const std::vector<std::string>& kept)
{
    std::string text = kHeaderLine;
    for (const std::string& line : kept)
        text += line + "\r\n";
    for (const IdListRow& row : rows)
        text += virtualIdLine(row) + "\r\n";
    std::string tmp = path + ".partial-XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        showWithPath(sink, msg::kUnableToCreate, path);
        return false;
    }
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644);
    bool ok = writeAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) ==
              text.size();
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(tmp.c_str());
    showWithPath(sink, msg::kUnableToWrite, path);
    return false;
}

int loadVirtualIds(std::FILE* stream, dat::TapeTracker& tracker, std::vector<std::string>* notes,
                   std::vector<std::string>* kept)
{
    tracker.clearTable(true);
    LineReader lines(stream, kVirtualIdMaxLine);
    std::array<int, dat::IdTable::kMaxEntries> lineOf{};
    int endLine = 0;
    int loaded = 0;
    for (std::string line; lines.next(line);) {
        const int number = static_cast<int>(lines.lineNumber());
        const LineResult r = loadLine(line, tracker, lineOf, endLine, number);
        if (r.loaded)
            ++loaded;
        else if (kept != nullptr && line + "\r\n" != kHeaderLine)
            kept->push_back(line);
        if (r.problem == nullptr || notes == nullptr)
            continue;
        std::string why = r.replacedLine != 0 ? stringPrintf(tr(*r.problem), r.replacedLine)
                                              : stringPrintf(tr(*r.problem), r.detail.c_str());
        notes->push_back(stringPrintf(tr(msg::kVidLineNote), number, why.c_str()));
    }
    return loaded;
}

VirtualIdLoad readVirtualIdFile(const std::string& path, dat::TapeTracker& tracker,
                                MessageSink& sink, std::vector<std::string>* notes,
                                std::vector<std::string>* kept)
{
    // Without blocking, and only a regular file: a FIFO given as a name must not hang.
    OpenFailure failure;
    const int fd = openRegularFile(path, O_RDONLY, failure);
    std::FILE* f = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (f == nullptr) {
        if (fd >= 0)
            ::close(fd);
        if (failure.problem == OpenProblem::NotFound)
            showWithPath(sink, msg::kUnableToOpen, path);
        else
            sink.showMessage(stringPrintf("%s  (%s)\n\n%s", tr(msg::kUnableToOpen),
                                          failure.text().c_str(), path.c_str()),
                             MessageIcon::Warning);
        return VirtualIdLoad::CannotOpen;
    }
    std::vector<std::string> found;
    loadVirtualIds(f, tracker, &found, kept);
    std::fclose(f);
    const dat::IdTable& table = tracker.table(true);
    if (table.count == 0 && !table.hasEnd()) {
        showWithPath(sink, msg::kUnableToRegisterId, path);
        if (notes != nullptr)
            *notes = std::move(found);
        return VirtualIdLoad::NoIds;
    }
    if (!found.empty()) {
        std::string text = tr(msg::kVidLinesNotAsWritten);
        for (const std::string& note : found)
            text += "\n" + note;
        sink.showMessage(text + "\n\n" + path, MessageIcon::Warning);
    }
    if (notes != nullptr)
        *notes = std::move(found);
    return VirtualIdLoad::Loaded;
}

} // namespace tarnvel::formats
