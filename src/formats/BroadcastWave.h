#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The "bext" chunk that makes a WAV file a Broadcast Wave file (version 1: description,
// originator, origination date and time, time reference, coding history).
namespace tarnvel::formats {

struct BextInfo {
    std::string description; // up to 256 characters
    std::string originator;  // up to 32
    std::string originatorReference;
    std::string date;                // "YYYY-MM-DD", or empty when unknown
    std::string time;                // "hh:mm:ss", or empty
    std::uint64_t timeReference = 0; // samples since midnight of the first sample
    std::string codingHistory;       // rows, each ended by CR LF
};

inline constexpr std::size_t kBextFixedBytes = 602;

// The chunk's body (without its 8-byte chunk header): 602 bytes and the coding history.
std::vector<std::uint8_t> bextChunkBody(const BextInfo& info);

// The date and time of a DAT date pack as a bext wants them; years 80-99 are 19xx, the others
// 20xx. False when the pack holds no date.
bool bextDateOfPack(const std::array<std::uint8_t, 8>& pack, std::string& date, std::string& time,
                    int& secondsOfDay);

} // namespace tarnvel::formats
