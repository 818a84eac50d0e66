#include "scsi/CommandLog.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tarnvel::scsi {

namespace {

struct NameEntry {
    std::uint8_t opcode;
    const char* name;
};

// Every device type.
constexpr NameEntry kGroup1[] = {
    {0x00, "TST_U_RDY"},  {0x03, "REQ_SENSE"},  {0x12, "INQUIRY"},    {0x15, "MODE_SEL6"},
    {0x18, "COPY"},       {0x1A, "MODE_SEN6"},  {0x1D, "SEND_DIAG"},  {0x39, "COMPARE"},
    {0x3A, "COP_VERIFY"}, {0x3B, "WRITE_BUFF"}, {0x3C, "READ_BUFF"},  {0x40, "CHANGE_DEF"},
    {0x4C, "LOG_SELECT"}, {0x4D, "LOG_SENSE"},  {0x55, "MODE_SEL10"},
};
// Sequential access.
constexpr NameEntry kGroup2[] = {
    {0x01, "REWIND"}, {0x05, "RD_BLK_LIM"}, {0x0F, "READ_REV"},   {0x10, "WRT_FILE"},
    {0x11, "SPACE"},  {0x13, "VERIFY_T"},   {0x14, "REC_BF_DAT"}, {0x16, "RESERVE"},
    {0x19, "ERASE"},  {0x1B, "LOAD_UN"},    {0x2B, "LOCATE"},     {0x34, "READ_POS"},
};
// Direct access.
constexpr NameEntry kGroup3[] = {
    {0x01, "REZERO"},     {0x04, "FORMAT"},     {0x07, "REASS_BLK"},  {0x08, "READ6"},
    {0x0A, "WRITE6"},     {0x0B, "SEEK6"},      {0x17, "RELEASE"},    {0x1B, "START_STP"},
    {0x1C, "RCV_DIAG"},   {0x1E, "MED_REMOVL"}, {0x25, "RD_CAPAC"},   {0x28, "READ10"},
    {0x2A, "WRITE10"},    {0x2B, "SEEK10"},     {0x2E, "WRT_VERIFY"}, {0x2F, "VERIFY"},
    {0x30, "SRCH_DAT_H"}, {0x31, "SRCH_DAT_E"}, {0x32, "SRCH_DAT_L"}, {0x33, "SET_LIMIT"},
    {0x34, "PREFETCH"},   {0x35, "SYNC_CACHE"}, {0x36, "LCK_UN_CAC"}, {0x37, "RD_DEFECT"},
    {0x3E, "READ_LONG"},  {0x3F, "WRITE_LONG"}, {0x41, "WRITE_SAME"},
};
// WORM and CD-ROM.
constexpr NameEntry kGroup4[] = {
    {0x2E, "WRT_VER10"},  {0x2F, "VERIFY10"},   {0x30, "SRCHDATH10"}, {0x31, "SRCHDATE10"},
    {0x32, "SRCHDATL10"}, {0x33, "SET_LIM_10"}, {0x38, "MEDIUM_SCN"}, {0xAA, "WRITE12"},
    {0xAE, "WRT_VER12"},  {0xAF, "VERIFY12"},   {0xB0, "SRCHDATH12"}, {0xB1, "SRCHDATE12"},
    {0xB2, "SRCHDATL12"}, {0xB3, "SET_LIM_12"},
};
constexpr NameEntry kGroup5[] = {
    {0x1B, "START_STOP_UNIT"}, {0x25, "READCDCAP"},      {0x42, "SUBCHANNEL"},
    {0x43, "READ_TOC"},        {0x44, "READHEADER"},     {0x45, "PLAYAUD_10"},
    {0x47, "PLAYAUDMSF"},      {0x48, "PLAYA_TKIN"},     {0x49, "PLYTKREL10"},
    {0x4B, "PAUSE_RESUME"},    {0x4E, "STOP_PLAY_SCAN"}, {0xA5, "PLAYAUD_12"},
    {0xA9, "PLYTKREL12"},      {0xB9, "READ_CD_MSF"},    {0xBA, "SCAN"},
    {0xBC, "PLAY_CD"},         {0xBE, "READ_CD"},
};

constexpr auto kHexTexts = [] {
    std::array<std::array<char, 5>, 256> t{};
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i)
        t[i] = {'0', 'x', digits[i >> 4], digits[i & 15], '\0'};
    return t;
}();

template <std::size_t N>
void lookIn(const NameEntry (&group)[N], std::uint8_t opcode, const char*& name)
{
    for (const NameEntry& e : group)
        if (e.opcode == opcode)
            name = e.name;
}

struct CodeText {
    std::uint8_t code;
    const char* text;
};

constexpr CodeText kHaStatusTexts[] = {
    {0x00, "0x00 Host adapter did not detect an error"},
    {0x09, "0x09 The time allocated for a bus transaction ran out"},
    {0x0B, "0x0B SRB expired while waiting to be processed"},
    {0x0D, "0x0D MESSAGE REJECT received while processing SRB"},
    {0x0E, "0x0E A bus reset was detected"},
    {0x0F, "0x0F A parity error was detected"},
    {0x10, "0x10 The adapter failed in issuing a Request Sense after a check condition was "
           "reported by the target device"},
    {0x11, "0x11 Selection of target timed out"},
    {0x12, "0x12 Data overrun/underrun"},
    {0x13, "0x13 Unexpected Bus Free"},
    {0x14, "0x14 Target Bus phase sequence failure"},
};

constexpr CodeText kTargetStatusTexts[] = {
    {0x00, "0x00 Status Good"},
    {0x02, "0x02 Check Condition (sense data is in SenseArea)"},
    {0x04, "0x04 Condition Met"},
    {0x08, "0x08 Busy"},
    {0x10, "0x10 Intermediate"},
    {0x14, "0x14 Intermediate-condition met"},
    {0x18, "0x18 Reservation conflict"},
    {0x22, "0x22 Command Terminated"},
    {0x28, "0x28 Queue full"},
};

constexpr const char* kSenseKeyLong[16] = {
    "0x00 No Sense",       "0x01 Recovered Error", "0x02 Not Ready",           "0x03 Medium Error",
    "0x04 Hardware Error", "0x05 Illegal Request", "0x06 Unit Attention",      "0x07 Data Protect",
    "0x08 Blank Check",    "0x09 Vendor Specific", "0x0A Copy Abort",          "",
    "0x0C Equal (Search)", "0x0D Volume Overflow", "0x0E Miscompare (Search)", "0x0F Reserved",
};
constexpr const char* kSenseKeyShort[16] = {
    "No Sense",     "Recovrd Err",  "Not Ready",   "Medium Err",   "Hardware Err", "Illegal Req.",
    "Unit Atten.",  "Data Protect", "Blank Check", "Vendor Spec.", "Copy Abort",   "",
    "Equal (Srch)", "Vol Overflow", "Miscompare",  "Reserved",
};

template <std::size_t N> const char* findText(const CodeText (&table)[N], std::uint8_t code)
{
    for (const CodeText& e : table)
        if (e.code == code)
            return e.text;
    return "UnKnown??";
}

} // namespace

CommandName commandName(std::uint8_t opcode, std::uint8_t deviceType)
{
    const char* name = nullptr;
    lookIn(kGroup1, opcode, name);
    if (deviceType == 1 || deviceType == 0xFF)
        lookIn(kGroup2, opcode, name);
    if (deviceType == 0 || deviceType == 0xFF)
        lookIn(kGroup3, opcode, name);
    if (deviceType == 4 || deviceType == 5 || deviceType == 0xFF) {
        lookIn(kGroup4, opcode, name);
        lookIn(kGroup5, opcode, name);
    }
    if (name == nullptr)
        return {"???", "???"};
    return {name, kHexTexts[opcode].data()};
}

const char* haStatusText(std::uint8_t haStatus)
{
    return findText(kHaStatusTexts, haStatus);
}

const char* targetStatusText(std::uint8_t targetStatus)
{
    return findText(kTargetStatusTexts, targetStatus);
}

const char* senseKeyLongText(std::uint8_t key)
{
    return kSenseKeyLong[key & 0x0F];
}

const char* senseKeyShortText(std::uint8_t key)
{
    return kSenseKeyShort[key & 0x0F];
}

void TextBuilder::clear()
{
    len_ = 0;
    if (cap_ > 0)
        buf_[0] = '\0';
}

void TextBuilder::append(const char* text)
{
    if (cap_ == 0)
        return;
    const std::size_t room = cap_ - 1 - len_;
    const std::size_t n = std::min(std::strlen(text), room);
    std::memcpy(buf_ + len_, text, n);
    len_ += n;
    buf_[len_] = '\0';
}

void TextBuilder::appendf(const char* format, ...)
{
    if (cap_ == 0 || len_ + 1 >= cap_)
        return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf_ + len_, cap_ - len_, format, args);
    va_end(args);
    if (n > 0)
        len_ = std::min(len_ + static_cast<std::size_t>(n), cap_ - 1);
}

void appendSenseLines(TextBuilder& log, const std::uint8_t* s)
{
    log.appendf("  0 Valid: %d  Response code: %02X \n", s[0] >> 7, s[0] & 0x7F);
    log.appendf("  1 Segment number: %02X \n", s[1]);
    log.appendf("  2 Filemark: %d  EOM: %d  ILI: %d  Sense key: ", (s[2] >> 7) & 1, (s[2] >> 6) & 1,
                (s[2] >> 5) & 1);
    log.append(senseKeyLongText(s[2] & 0x0F));
    log.append("\n");
    log.appendf("  3..6  Information: %08X \n", static_cast<unsigned>(readBe32(s + 3)));
    log.appendf("  7 Additional sense length: %d \n", s[7]);
    log.appendf("  8..11  Command-specific information: %08X \n",
                static_cast<unsigned>(readBe32(s + 8)));
    log.appendf(" 12 Additional sense code: %02X \n", s[12]);
    log.appendf(" 13 Additional sense code qualifier: %02X \n", s[13]);
    log.appendf(" 14 Field replaceable unit code: %02X", s[14]);
}

void buildSenseSummary(TextBuilder& summary, const std::uint8_t* s)
{
    summary.clear();
    summary.append(senseKeyShortText(s[2] & 0x0F));
    summary.appendf(" %02X", s[12]);
    summary.appendf(" %02X", s[13]);
}

} // namespace tarnvel::scsi
