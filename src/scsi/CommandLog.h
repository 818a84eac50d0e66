#pragma once

#include <cstddef>
#include <cstdint>

// Readable accounts of SCSI commands: command names, status texts, sense decoding. Pure
// functions over fixed tables; the transport assembles them into its log entries.
namespace tarnvel::scsi {

struct CommandName {
    const char* name; // without the "SCSI_" prefix; "???" when unknown
    const char* hex;  // "0x2B"; "???" when unknown
};

// Name of an opcode for a peripheral device type. Five groups are searched in order and a
// later match replaces an earlier one.
CommandName commandName(std::uint8_t opcode, std::uint8_t deviceType);

const char* haStatusText(std::uint8_t haStatus);         // "UnKnown??" outside the table
const char* targetStatusText(std::uint8_t targetStatus); // "UnKnown??" outside the table
// Sense key texts (key 0-15); key 0xB has none (empty text).
const char* senseKeyLongText(std::uint8_t key);
const char* senseKeyShortText(std::uint8_t key);

// Appends text to a fixed buffer, always NUL-terminated, silently truncating. Never allocates.
class TextBuilder {
public:
    TextBuilder(char* buffer, std::size_t capacity) : buf_(buffer), cap_(capacity) { clear(); }
    void clear();
    void append(const char* text);
    void appendf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* text() const { return buf_; }
    std::size_t length() const { return len_; }

private:
    char* buf_;
    std::size_t cap_;
    std::size_t len_ = 0;
};

// The sense lines of a log entry for fixed-format sense bytes 0-14 (`sense` holds at least
// 15 bytes), and the short summary: short key name, then " %02X" of ASC and of ASCQ.
void appendSenseLines(TextBuilder& log, const std::uint8_t* sense);
void buildSenseSummary(TextBuilder& summary, const std::uint8_t* sense);

} // namespace tarnvel::scsi
