#include "dat/SubcodeDump.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace tarnvel::dat {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void append(std::string& out, const char* fmt, ...)
{
    char line[160];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    if (n > 0)
        out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

// Two lines of eight 16-bit words from frame byte `offset`.
void appendWords(std::string& out, const DatFrame& frame, std::size_t offset)
{
    for (std::size_t line = 0; line < 2; ++line) {
        for (std::size_t i = 0; i < 8; ++i)
            append(out, " %04X", frame.audioWord(offset / 2 + line * 8 + i));
        out += '\n';
    }
}

constexpr const char* kWordGap = "  |                   |\n";
constexpr std::size_t kEnd44kWords = 5276; // last 8 words of the 44.1 kHz area and 8 after
constexpr std::size_t kEndWords = kAudioBytes - 32;

} // namespace

std::string buildSubcodeDump(const DatFrame& frame)
{
    const SubcodeBlock& b = frame.subcode;
    std::string out;
    out.reserve(1024);

    out += "SubID\n";
    const std::uint8_t s0 = b.subId(0);
    append(out, " [0]: %02X", s0);
    if (s0 >= 16) {
        out += "  ID: ";
        if (s0 & kSubIdPriority)
            out += "PRIORITY ";
        if (s0 & kSubIdStart)
            out += "START ";
        if (s0 & kSubIdSkip)
            out += "SKIP ";
        if (s0 & kSubIdToc)
            out += "TOC";
    }
    out += '\n';
    const std::uint8_t s1 = b.subId(1);
    append(out, " [1]: %02X  Prog#1: %01X  NofPacks: %d\n", s1, s1 >> 4, s1 & 0x0F);
    const std::uint8_t s2 = b.subId(2);
    append(out, " [2]: %02X  Prog#2: %01X  Prog#3: %01X\n", s2, s2 >> 4, s2 & 0x0F);
    const std::uint8_t s3 = b.subId(3);
    append(out, " [3]: %02X", s3);
    const bool left = s3 & kSubIdInterpolatedLeft;
    const bool right = s3 & kSubIdInterpolatedRight;
    if (left || right)
        append(out, "  %s Interpolated", left && right ? "L/Rch" : right ? "Rch" : "Lch");
    out += '\n';

    out += "MainID\n";
    const std::uint8_t m0 = b.mainId(0);
    const std::uint8_t m1 = b.mainId(1);
    append(out, " [0]: %02X  FormatID: %d  Emphasis: %d  SampleF: %d  NofCh: %d\n", m0, m0 >> 6,
           (m0 >> 4) & 3, (m0 >> 2) & 3, m0 & 3);
    append(out, " [1]: %02X  Quantize: %d  TrPitch: %d  Copy: %d  Pack: %d\n", m1, m1 >> 6,
           (m1 >> 4) & 3, (m1 >> 2) & 3, m1 & 3);

    out += "SubCodePack\n";
    for (std::size_t i = 0; i < kPackCount; ++i) {
        const std::uint8_t* p = b.packData(i);
        append(out, " [%d] ", static_cast<int>(i));
        for (std::size_t k = 0; k < kPackBytes; ++k)
            append(out, "%02X ", p[k]);
        out += packItemName(p[0] >> 4);
        out += '\n';
    }

    out += "Data\n";
    appendWords(out, frame, 0);
    out += kWordGap;
    appendWords(out, frame, kEnd44kWords);
    out += kWordGap;
    appendWords(out, frame, kEndWords);
    return out;
}

} // namespace tarnvel::dat
