#include "scsi/CommandExchange.h"

#include "scsi/KernelStatus.h"
#include "scsi/ScsiStatus.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace tarnvel::scsi {

namespace {

constexpr char kFirstAudioDrive[] = "(the first audio drive)";
constexpr std::size_t kBytesPerLine = 32;
// Lines longer than this are no lines of ours (a data line holds about 105 characters).
constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kReadBlock = 64 * 1024;

constexpr char kHex[] = "0123456789ABCDEF";

// Free text on one line: backslash, quote and control bytes escaped, so that any text (a path,
// a system message) keeps to its line and its quotes.
void putEscaped(std::FILE* f, const char* text)
{
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\' || c == '"') {
            std::fputc('\\', f);
            std::fputc(c, f);
        } else if (c < 0x20 || c == 0x7F) {
            std::fputc('\\', f);
            std::fputc('x', f);
            std::fputc(kHex[c >> 4], f);
            std::fputc(kHex[c & 15], f);
        } else {
            std::fputc(c, f);
        }
    }
}

void putTime(std::FILE* f, std::int64_t us)
{
    if (us < 0)
        us = 0;
    std::fprintf(f, "%lld.%06lld s", static_cast<long long>(us / 1000000),
                 static_cast<long long>(us % 1000000));
}

void putHexLines(std::FILE* f, const std::uint8_t* data, std::uint32_t count)
{
    char line[16 + 3 * kBytesPerLine + 2];
    for (std::uint32_t at = 0; at < count; at += kBytesPerLine) {
        int n = std::snprintf(line, sizeof line, "  %04X", static_cast<unsigned>(at));
        const std::uint32_t end = std::min<std::uint32_t>(count, at + kBytesPerLine);
        for (std::uint32_t i = at; i < end; ++i) {
            line[n++] = ' ';
            line[n++] = kHex[data[i] >> 4];
            line[n++] = kHex[data[i] & 15];
        }
        line[n++] = '\n';
        line[n] = '\0';
        std::fputs(line, f);
    }
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Bytes written as "HH HH HH" (single blanks); false on anything else or more than `max`.
bool parseHexBytes(const char* p, std::uint8_t* out, std::size_t max, std::size_t& count)
{
    count = 0;
    while (*p != '\0') {
        if (count > 0) {
            if (*p != ' ')
                return false;
            ++p;
        }
        const int hi = hexValue(p[0]);
        const int lo = hi < 0 ? -1 : hexValue(p[1]);
        if (lo < 0 || count >= max)
            return false;
        out[count++] = static_cast<std::uint8_t>(hi << 4 | lo);
        p += 2;
    }
    return true;
}

// A decimal number without sign; advances `p`. False when there is none or it exceeds `max`.
bool parseNumber(const char*& p, unsigned long long max, unsigned long long& value)
{
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > max)
            return false;
        ++p;
    }
    return true;
}

bool expect(const char*& p, const char* text)
{
    const std::size_t n = std::strlen(text);
    if (std::strncmp(p, text, n) != 0)
        return false;
    p += n;
    return true;
}

// "12.345678 s" (exactly six digits after the point) in microseconds.
bool parseSeconds(const char*& p, std::int64_t& us)
{
    unsigned long long whole = 0, fraction = 0;
    const char* start = p;
    if (!parseNumber(p, 100000000000ull, whole) || *p != '.')
        return false;
    ++p;
    const char* digits = p;
    if (!parseNumber(p, 999999, fraction) || p - digits != 6) {
        p = start;
        return false;
    }
    us = static_cast<std::int64_t>(whole * 1000000 + fraction);
    return expect(p, " s");
}

// `0x` and two hex digits.
bool parseHexByte(const char*& p, std::uint8_t& value)
{
    if (p[0] != '0' || p[1] != 'x')
        return false;
    const int hi = hexValue(p[2]);
    const int lo = hi < 0 ? -1 : hexValue(p[3]);
    if (lo < 0)
        return false;
    value = static_cast<std::uint8_t>(hi << 4 | lo);
    p += 4;
    return true;
}

// The next "0x.." value of a line, after any text (names that follow the values).
bool nextHexByte(const char*& p, std::uint8_t& value)
{
    const char* at = std::strstr(p, "0x");
    if (at == nullptr)
        return false;
    p = at;
    return parseHexByte(p, value);
}

// Undoes putEscaped; `quoted` stops at an unescaped quote (left at *p). False on a bad escape.
bool unescape(const char*& p, std::string& out, bool quoted)
{
    out.clear();
    while (*p != '\0') {
        if (quoted && *p == '"')
            return true;
        if (*p != '\\') {
            out.push_back(*p++);
            continue;
        }
        ++p;
        if (*p == '\\' || *p == '"') {
            out.push_back(*p++);
        } else if (*p == 'x') {
            const int hi = hexValue(p[1]);
            const int lo = hi < 0 ? -1 : hexValue(p[2]);
            if (lo < 0)
                return false;
            out.push_back(static_cast<char>(hi << 4 | lo));
            p += 3;
        } else {
            return false;
        }
    }
    return !quoted;
}

bool parseQuoted(const char*& p, std::string& out)
{
    if (*p != '"')
        return false;
    ++p;
    if (!unescape(p, out, true))
        return false;
    ++p; // the closing quote
    return true;
}

void putQuoted(std::FILE* f, const char* text)
{
    std::fputc('"', f);
    putEscaped(f, text);
    std::fputc('"', f);
}

template <std::size_t N> void copyField(std::array<char, N>& field, const std::string& text)
{
    field.fill('\0');
    std::memcpy(field.data(), text.data(), std::min(text.size(), N - 1));
}

// The "Command N, device D," start of a command's first line: N and D.
bool parseCommandStart(const char*& p, long& number, int& device)
{
    unsigned long long n = 0, d = 0;
    if (!expect(p, "Command ") || !parseNumber(p, 1000000000000ull, n) || !expect(p, ", device ") ||
        !parseNumber(p, 255, d) || !expect(p, ","))
        return false;
    number = static_cast<long>(n);
    device = static_cast<int>(d);
    return true;
}

} // namespace

void cdbText(const std::uint8_t* cdb, std::size_t length, char* out, std::size_t size)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < length && n + 4 <= size; ++i) {
        if (i > 0)
            out[n++] = ' ';
        out[n++] = kHex[cdb[i] >> 4];
        out[n++] = kHex[cdb[i] & 15];
    }
    if (size > 0)
        out[std::min(n, size - 1)] = '\0';
}

void writeExchangeSession(std::FILE* f, const ExchangeSession& s)
{
    std::fprintf(f, "%s\n", kExchangeSessionLine);
    auto field = [f](const char* name, const std::string& value) {
        std::fputs(name, f);
        putEscaped(f, value.c_str());
        std::fputc('\n', f);
    };
    field("Started: ", s.started);
    field("Program: ", s.program);
    field("System: ", s.system);
    field("Drive: ", s.drive.empty() ? std::string(kFirstAudioDrive) : s.drive);
    std::fprintf(f, "Mode: %s\n", s.spti ? "SPTI" : "ASPI");
    for (const HostAdapterEntry& a : s.adapters) {
        std::fprintf(f, "Adapter: host %u, ", a.hostNumber);
        putQuoted(f, a.identifier.data());
        std::fprintf(f, ", max transfer %u\n", static_cast<unsigned>(a.maxTransferLength));
    }
    for (std::size_t i = 0; i < s.devices.size(); ++i) {
        const ExchangeDevice& d = s.devices[i];
        const ScsiDeviceEntry& e = d.entry;
        std::fprintf(f, "Device %zu: host %u, target %u, lun %u, type %u, path character 0x%02X, ",
                     i, e.hostAdapter, e.target, e.lun, e.deviceType,
                     static_cast<unsigned char>(e.pathCharacter));
        putQuoted(f, e.vendor.data());
        std::fputc(' ', f);
        putQuoted(f, e.product.data());
        std::fputc(' ', f);
        putQuoted(f, e.revision.data());
        std::fputc('\n', f);
        auto deviceField = [&](const char* name, const std::string& value) {
            if (value.empty())
                return;
            std::fprintf(f, "Device %zu %s: ", i, name);
            putEscaped(f, value.c_str());
            std::fputc('\n', f);
        };
        deviceField("node", d.path);
        deviceField("commands through", d.commandPath);
        deviceField("group", d.group);
        deviceField("problem", d.problem);
    }
    if (!s.replayedFrom.empty())
        field("Replayed from: ", s.replayedFrom);
    std::fputc('\n', f);
    std::fflush(f);
}

void writeExchangeCommand(std::FILE* f, long number, int device, std::int64_t atUs,
                          std::int64_t tookUs, const ScsiCommand& command, std::uint32_t received,
                          const ScsiResult& r, const char* problem, bool waitingForRecovery)
{
    std::fprintf(f, "Command %ld, device %d, at ", number, device);
    putTime(f, atUs);
    std::fputs(", took ", f);
    putTime(f, tookUs);
    char cdb[3 * 16 + 1];
    cdbText(command.cdb, command.cdbLength, cdb, sizeof cdb);
    std::fprintf(f, "\nCDB: %s\n", cdb);
    switch (command.direction) {
    case DataDirection::None:
        std::fputs("Data: none\n", f);
        break;
    case DataDirection::Out:
        std::fprintf(f, "Data out: %u bytes\n", static_cast<unsigned>(command.length));
        putHexLines(f, command.buffer, command.length);
        break;
    case DataDirection::In:
        std::fprintf(f, "Data in: %u bytes asked, %u received\n",
                     static_cast<unsigned>(command.length), static_cast<unsigned>(received));
        putHexLines(f, command.buffer, received);
        break;
    }
    const char* name = r.status == kSsComp ? "SS_COMP" : statusText(r.status);
    std::fprintf(f,
                 "Status: 0x%02X %s, HaStat 0x%02X, TargStat 0x%02X, Host 0x%02X %s, Driver 0x%02X "
                 "%s\n",
                 r.status, name, r.haStatus, r.targetStatus, r.hostStatus,
                 hostStatusName(r.hostStatus), r.driverStatus, driverStatusName(r.driverStatus));
    if (std::any_of(r.sense.begin(), r.sense.end(), [](std::uint8_t b) { return b != 0; })) {
        char sense[3 * kFullSenseBytes + 1];
        cdbText(r.sense.data(), r.sense.size(), sense, sizeof sense);
        std::fprintf(f, "Sense: %s\n", sense);
    }
    if (r.failure != nullptr) {
        std::fputs("Failure: ", f);
        putEscaped(f, r.failure->en);
        std::fputc('\n', f);
    }
    if (r.systemError != 0) {
        char buffer[128];
        std::fprintf(f, "Errno: %d (", r.systemError);
        putEscaped(f, strerror_r(r.systemError, buffer, sizeof buffer));
        std::fputs(")\n", f);
    }
    if (r.residualReported)
        std::fprintf(f, "Residual: %d\n", static_cast<int>(r.residual));
    if (r.deviceReset)
        std::fputs("Device reset\n", f);
    if (r.note != nullptr) {
        std::fputs("Note: ", f);
        putEscaped(f, r.note->en);
        std::fputc('\n', f);
    }
    if (r.lateReply)
        std::fprintf(f, "Late reply: TargStat 0x%02X, Host 0x%02X, Driver 0x%02X\n",
                     r.lateTargetStatus, r.lateHostStatus, r.lateDriverStatus);
    if (r.answeredAtOnce)
        std::fputs("Answered at once\n", f);
    if (problem != nullptr && problem[0] != '\0') {
        std::fputs("Problem: ", f);
        putEscaped(f, problem);
        std::fputc('\n', f);
    }
    if (waitingForRecovery)
        std::fputs("Waiting for recovery\n", f);
    std::fputc('\n', f);
}

void writeExchangeBusReset(std::FILE* f, long number, int device, std::int64_t atUs,
                           std::int64_t tookUs, const char* error)
{
    std::fprintf(f, "Command %ld, device %d, at ", number, device);
    putTime(f, atUs);
    std::fputs(", took ", f);
    putTime(f, tookUs);
    if (error == nullptr || error[0] == '\0') {
        std::fputs("\nBus reset: done\n\n", f);
        return;
    }
    std::fputs("\nBus reset: failed: ", f);
    putEscaped(f, error);
    std::fputs("\n\n", f);
}

// --- Reading --------------------------------------------------------------------------------

// Buffered reading of a FILE* by lines of any length (only the first kMaxLine characters are
// kept), with the file offset of each line, so that the reader can come back to a session.
struct ExchangeReader::LineSource {
    std::FILE* file = nullptr;
    std::vector<char> block = std::vector<char>(kReadBlock);
    std::size_t pos = 0, len = 0;
    off_t blockOffset = 0; // file offset of block[0]
    bool eof = false;

    off_t offset() const { return blockOffset + static_cast<off_t>(pos); }
    bool fill()
    {
        if (eof)
            return false;
        blockOffset += static_cast<off_t>(len);
        pos = 0;
        len = std::fread(block.data(), 1, block.size(), file);
        if (len == 0)
            eof = true;
        return len > 0;
    }
    bool seek(off_t to)
    {
        if (fseeko(file, to, SEEK_SET) != 0)
            return false;
        blockOffset = to;
        pos = len = 0;
        eof = false;
        return true;
    }
};

ExchangeReader::ExchangeReader() = default;

ExchangeReader::~ExchangeReader()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

ExchangeReader::Line ExchangeReader::readLine()
{
    LineSource& s = *source_;
    line_.clear();
    bool any = false, tooLong = false;
    for (;;) {
        if (s.pos >= s.len && !s.fill())
            break;
        any = true;
        const char* start = s.block.data() + s.pos;
        const std::size_t avail = s.len - s.pos;
        const void* nl = std::memchr(start, '\n', avail);
        const std::size_t take = nl != nullptr ? static_cast<const char*>(nl) - start : avail;
        const std::size_t room = kMaxLine - std::min(kMaxLine, line_.size());
        if (take > room)
            tooLong = true;
        line_.append(start, std::min(take, room));
        s.pos += take;
        if (nl != nullptr) {
            ++s.pos;
            break;
        }
    }
    if (!any)
        return Line::End;
    ++lineNumber_;
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    // A NUL byte ends what the parser looks at.
    line_.resize(std::strlen(line_.c_str()));
    return tooLong ? Line::TooLong : Line::Text;
}

std::string ExchangeReader::where() const
{
    return "line " + std::to_string(lineNumber_) + ": ";
}

bool ExchangeReader::open(std::FILE* file, std::string& error)
{
    file_ = file;
    source_ = std::make_unique<LineSource>();
    source_->file = file;

    // The last session: where it begins and which devices its commands go to.
    off_t sessionOffset = -1;
    long sessionLine = 0;
    for (;;) {
        const off_t at = source_->offset();
        const Line l = readLine();
        if (l == Line::End)
            break;
        if (line_ == kExchangeSessionLine) {
            sessionOffset = at;
            sessionLine = lineNumber_;
            used_.clear();
        } else if (sessionOffset >= 0 && startsWith(line_, "Command ")) {
            const char* p = line_.c_str();
            long number = 0;
            int device = 0;
            if (parseCommandStart(p, number, device))
                used_.insert(device);
        }
    }
    if (std::ferror(file) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (sessionOffset < 0) {
        error = "no command exchange in this file (one is written by --log-full and by "
                "drive-check)";
        return false;
    }
    if (!source_->seek(sessionOffset)) {
        error = std::strerror(errno);
        return false;
    }
    lineNumber_ = sessionLine - 1;
    return readHeader(error);
}

bool ExchangeReader::readHeader(std::string& error)
{
    if (readLine() != Line::Text || line_ != kExchangeSessionLine) {
        error = where() + "the session header is missing";
        return false;
    }
    for (;;) {
        const Line l = readLine();
        if (l == Line::End || (l == Line::Text && line_.empty()))
            return true;
        if (l == Line::TooLong) {
            error = where() + "the line is too long";
            return false;
        }
        const char* p = line_.c_str();
        auto text = [&](const char* key, std::string& out) {
            if (!expect(p, key))
                return false;
            if (!unescape(p, out, false))
                error = where() + "bad escape in the text";
            return true;
        };
        if (text("Started: ", session_.started) || text("Program: ", session_.program) ||
            text("System: ", session_.system) || text("Replayed from: ", session_.replayedFrom)) {
        } else if (text("Drive: ", session_.drive)) {
            if (session_.drive == kFirstAudioDrive)
                session_.drive.clear();
        } else if (expect(p, "Mode: ")) {
            if (std::strcmp(p, "SPTI") != 0 && std::strcmp(p, "ASPI") != 0) {
                error = where() + "unknown mode";
                return false;
            }
            session_.spti = std::strcmp(p, "SPTI") == 0;
        } else if (expect(p, "Adapter: host ")) {
            HostAdapterEntry a;
            unsigned long long host = 0, max = 0;
            std::string name;
            if (!parseNumber(p, 255, host) || !expect(p, ", ") || !parseQuoted(p, name) ||
                !expect(p, ", max transfer ") || !parseNumber(p, 0xFFFFFFFFull, max) ||
                *p != '\0') {
                error = where() + "bad adapter line";
                return false;
            }
            if (session_.adapters.size() >= 8) {
                error = where() + "more than 8 adapters";
                return false;
            }
            a.hostNumber = static_cast<std::uint8_t>(host);
            copyField(a.identifier, name);
            a.maxTransferLength = static_cast<std::uint32_t>(max);
            session_.adapters.push_back(a);
        } else if (expect(p, "Device ")) {
            unsigned long long index = 0;
            if (!parseNumber(p, 15, index)) {
                error = where() + "bad device number";
                return false;
            }
            if (*p == ':') {
                if (index != session_.devices.size()) {
                    error = where() + "devices out of order";
                    return false;
                }
                ExchangeDevice d;
                unsigned long long host = 0, target = 0, lun = 0, type = 0;
                std::uint8_t pathChar = 0;
                std::string vendor, product, revision;
                if (!expect(p, ": host ") || !parseNumber(p, 255, host) ||
                    !expect(p, ", target ") || !parseNumber(p, 255, target) ||
                    !expect(p, ", lun ") || !parseNumber(p, 255, lun) || !expect(p, ", type ") ||
                    !parseNumber(p, 31, type) || !expect(p, ", path character ") ||
                    !parseHexByte(p, pathChar) || !expect(p, ", ") || !parseQuoted(p, vendor) ||
                    !expect(p, " ") || !parseQuoted(p, product) || !expect(p, " ") ||
                    !parseQuoted(p, revision) || *p != '\0') {
                    error = where() + "bad device line";
                    return false;
                }
                d.entry.hostAdapter = static_cast<std::uint8_t>(host);
                d.entry.target = static_cast<std::uint8_t>(target);
                d.entry.lun = static_cast<std::uint8_t>(lun);
                d.entry.deviceType = static_cast<std::uint8_t>(type);
                d.entry.pathCharacter = static_cast<char>(pathChar);
                copyField(d.entry.vendor, vendor);
                copyField(d.entry.product, product);
                copyField(d.entry.revision, revision);
                session_.devices.push_back(std::move(d));
            } else {
                if (index >= session_.devices.size()) {
                    error = where() + "a device that is not listed";
                    return false;
                }
                ExchangeDevice& d = session_.devices[index];
                if (!(text(" node: ", d.path) || text(" commands through: ", d.commandPath) ||
                      text(" group: ", d.group) || text(" problem: ", d.problem))) {
                    error = where() + "unknown device line";
                    return false;
                }
            }
        }
        // Other lines of a header are for people (and for later versions): skipped.
        if (!error.empty())
            return false;
    }
}

ExchangeReader::Read ExchangeReader::next(ExchangeCommand& command, std::string& error)
{
    if (ended_ || !source_)
        return Read::End;
    for (;;) {
        if (!pending_) {
            const Line l = readLine();
            if (l == Line::End) {
                ended_ = true;
                return Read::End;
            }
            if (l == Line::TooLong)
                continue; // not one of ours
        }
        pending_ = false;
        if (line_ == kExchangeSessionLine) {
            ended_ = true;
            return Read::End;
        }
        if (startsWith(line_, "Command ") && line_.size() > 8 &&
            std::isdigit(static_cast<unsigned char>(line_[8])))
            break;
    }
    command = ExchangeCommand{};
    if (!readCommand(command, error)) {
        ended_ = true;
        return Read::Error;
    }
    return Read::Command;
}

bool ExchangeReader::readData(ExchangeCommand& command, std::uint32_t count, std::string& error)
{
    command.data.resize(count);
    for (std::uint32_t at = 0; at < count; at += kBytesPerLine) {
        if (readLine() != Line::Text) {
            error = where() + "data lines missing";
            return false;
        }
        const char* p = line_.c_str();
        char offset[16];
        std::snprintf(offset, sizeof offset, "  %04X ", static_cast<unsigned>(at));
        std::size_t n = 0;
        const std::size_t want = std::min<std::size_t>(kBytesPerLine, count - at);
        if (!expect(p, offset) || !parseHexBytes(p, command.data.data() + at, want, n) ||
            n != want) {
            error = where() + "bad data line";
            return false;
        }
    }
    return true;
}

bool ExchangeReader::readCommand(ExchangeCommand& c, std::string& error)
{
    const char* p = line_.c_str();
    if (!parseCommandStart(p, c.number, c.device) || !expect(p, " at ") ||
        !parseSeconds(p, c.atUs) || !expect(p, ", took ") || !parseSeconds(p, c.tookUs) ||
        *p != '\0') {
        error = where() + "bad command line";
        return false;
    }
    if (c.device >= 16) {
        error = where() + "bad device number";
        return false;
    }
    bool haveCdb = false, haveData = false, haveStatus = false;
    for (;;) {
        const Line l = readLine();
        if (l == Line::End || (l == Line::Text && line_.empty()))
            break;
        if (l == Line::TooLong) {
            error = where() + "the line is too long";
            return false;
        }
        if (line_ == kExchangeSessionLine) {
            pending_ = true;
            break;
        }
        p = line_.c_str();
        auto textLine = [&](const char* key, std::string& out) {
            if (!expect(p, key))
                return false;
            if (!unescape(p, out, false))
                error = where() + "bad escape in the text";
            return true;
        };
        if (expect(p, "CDB: ")) {
            if (!parseHexBytes(p, c.cdb.data(), c.cdb.size(), c.cdbLength) || c.cdbLength == 0) {
                error = where() + "bad CDB";
                return false;
            }
            haveCdb = true;
        } else if (expect(p, "Bus reset: ")) {
            c.busReset = true;
            if (expect(p, "failed: ")) {
                if (!unescape(p, c.busResetError, false) || c.busResetError.empty()) {
                    error = where() + "bad bus reset line";
                    return false;
                }
            } else if (std::strcmp(p, "done") != 0) {
                error = where() + "bad bus reset line";
                return false;
            }
        } else if (line_ == "Data: none") {
            c.direction = DataDirection::None;
            haveData = true;
        } else if (expect(p, "Data out: ")) {
            unsigned long long n = 0;
            if (!parseNumber(p, kExchangeMaxTransfer, n) || std::strcmp(p, " bytes") != 0) {
                error = where() + "bad data line";
                return false;
            }
            c.direction = DataDirection::Out;
            c.length = static_cast<std::uint32_t>(n);
            if (!readData(c, c.length, error))
                return false;
            haveData = true;
        } else if (expect(p, "Data in: ")) {
            unsigned long long asked = 0, received = 0;
            if (!parseNumber(p, kExchangeMaxTransfer, asked) || !expect(p, " bytes asked, ") ||
                !parseNumber(p, asked, received) || std::strcmp(p, " received") != 0) {
                error = where() + "bad data line";
                return false;
            }
            c.direction = DataDirection::In;
            c.length = static_cast<std::uint32_t>(asked);
            if (!readData(c, static_cast<std::uint32_t>(received), error))
                return false;
            haveData = true;
        } else if (expect(p, "Status: ")) {
            ScsiResult& r = c.result;
            if (!parseHexByte(p, r.status) || !nextHexByte(p, r.haStatus) ||
                !nextHexByte(p, r.targetStatus) || !nextHexByte(p, r.hostStatus) ||
                !nextHexByte(p, r.driverStatus)) {
                error = where() + "bad status line";
                return false;
            }
            haveStatus = true;
        } else if (expect(p, "Sense: ")) {
            std::size_t n = 0;
            if (!parseHexBytes(p, c.result.sense.data(), c.result.sense.size(), n) ||
                n != c.result.sense.size()) {
                error = where() + "bad sense line";
                return false;
            }
        } else if (textLine("Failure: ", c.failure) || textLine("Note: ", c.note) ||
                   textLine("Problem: ", c.problem)) {
        } else if (expect(p, "Errno: ")) {
            unsigned long long e = 0;
            if (!parseNumber(p, 4095, e) || e == 0) {
                error = where() + "bad errno";
                return false;
            }
            c.result.systemError = static_cast<int>(e);
        } else if (expect(p, "Residual: ")) {
            const bool negative = expect(p, "-");
            unsigned long long n = 0;
            if (!parseNumber(p, 0x7FFFFFFFull, n) || *p != '\0') {
                error = where() + "bad residual";
                return false;
            }
            c.result.residualReported = true;
            c.result.residual =
                negative ? -static_cast<std::int32_t>(n) : static_cast<std::int32_t>(n);
        } else if (line_ == "Device reset") {
            c.result.deviceReset = true;
        } else if (expect(p, "Late reply: TargStat ")) {
            ScsiResult& r = c.result;
            if (!parseHexByte(p, r.lateTargetStatus) || !nextHexByte(p, r.lateHostStatus) ||
                !nextHexByte(p, r.lateDriverStatus)) {
                error = where() + "bad late reply line";
                return false;
            }
            r.lateReply = true;
        } else if (line_ == "Answered at once") {
            c.result.answeredAtOnce = true;
        } else if (line_ == "Waiting for recovery") {
            c.waitingForRecovery = true;
        } else {
            error = where() + "unknown line in a command";
            return false;
        }
        if (!error.empty())
            return false;
    }
    if (c.busReset)
        return true;
    if (!haveCdb || !haveData || !haveStatus) {
        error = where() + "command " + std::to_string(c.number) + " is incomplete";
        return false;
    }
    return true;
}

} // namespace tarnvel::scsi
