#include "formats/VirtualIdFile.h"

#include "common/Message.h"
#include "common/MessageSink.h"
#include "dat/TapeTracker.h"
#include "formats/FormatMessages.h"
#include "formats/LineReader.h"
#include "formats/StringPrintf.h"
#include "formats/TextFields.h"

#include <algorithm>
#include <optional>
#include <string_view>

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

// The hexadecimal number at `at` (two digits at most), so that the decimal digits typed in
// "00h01m02s03" become the BCD bytes 00 01 02 03.
std::uint8_t hexByteAt(std::string_view word, std::size_t at)
{
    int value = 0;
    for (std::size_t i = at; i < word.size() && i < at + 2; ++i) {
        const char c = word[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

// One line: true when it changed the table.
bool loadLine(std::string_view line, dat::TapeTracker& tracker)
{
    Words words(line);
    const auto no = words.next();
    if (!no || no->front() == ';' || leadingNumber(*no) == 0)
        return false;
    const auto kind = words.next();
    if (!kind)
        return false;
    int pNo = dat::kPNoSkip;
    if (*kind == "START") {
        const auto number = words.next();
        if (!number)
            return false;
        pNo = number->front() == '-' ? dat::kPNoStartWithoutNumber : leadingNumber(*number);
        // Only numbers a tape can carry: anything else would corrupt the synthesised IDs.
        if (pNo != dat::kPNoStartWithoutNumber && (pNo < 1 || pNo > kHighestPNo))
            return false;
    }
    const auto absWord = words.next();
    if (!absWord)
        return false;
    const dat::TimeCode abs{hexByteAt(*absWord, 0), hexByteAt(*absWord, 3), hexByteAt(*absWord, 6),
                            hexByteAt(*absWord, 9)};
    const auto secondsWord = words.next();
    if (!secondsWord)
        return false;
    const int seconds = leadingNumber(*secondsWord);
    if (*kind == "START" || *kind == "SKIP")
        return tracker.addId(pNo, true, true, seconds, abs) != 0;
    if (*kind == "END")
        return tracker.setEnd(abs, true, true, seconds) != 0;
    return false;
}

} // namespace

std::string virtualIdLine(const IdListRow& row)
{
    return stringPrintf("%4s%-6s%4s%13s%7s", row.no.c_str(), row.id.c_str(), row.pno.c_str(),
                        row.absTime.c_str(), row.sec.c_str());
}

bool writeVirtualIdFile(const std::string& path, const std::vector<IdListRow>& rows,
                        MessageSink& sink)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        showWithPath(sink, msg::kUnableToCreate, path);
        return false;
    }
    auto put = [f](const std::string& text) {
        return std::fwrite(text.data(), 1, text.size(), f) == text.size();
    };
    bool ok = put(kHeaderLine);
    for (std::size_t i = 0; ok && i < rows.size(); ++i)
        ok = put(virtualIdLine(rows[i]) + "\r\n");
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        showWithPath(sink, msg::kUnableToWrite, path);
    return ok;
}

int loadVirtualIds(std::FILE* stream, dat::TapeTracker& tracker)
{
    tracker.clearTable(true);
    LineReader lines(stream, kVirtualIdMaxLine);
    int loaded = 0;
    for (std::string line; lines.next(line);)
        if (loadLine(line, tracker))
            ++loaded;
    return loaded;
}

VirtualIdLoad readVirtualIdFile(const std::string& path, dat::TapeTracker& tracker,
                                MessageSink& sink)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        showWithPath(sink, msg::kUnableToOpen, path);
        return VirtualIdLoad::CannotOpen;
    }
    loadVirtualIds(f, tracker);
    std::fclose(f);
    const dat::IdTable& table = tracker.table(true);
    if (table.count == 0 && !table.hasEnd()) {
        showWithPath(sink, msg::kUnableToRegisterId, path);
        return VirtualIdLoad::NoIds;
    }
    return VirtualIdLoad::Loaded;
}

} // namespace tarnvel::formats
