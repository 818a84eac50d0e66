#pragma once

#include <cstdint>
#include <string>

// DAT time codes: four BCD bytes (hours, minutes, seconds, frame). A DAT second holds 33 or
// 34 frames so that every 3 seconds hold exactly 100 frames. All functions are pure and
// never fail: bytes that are not BCD give meaningless but defined results.
namespace tarnvel::dat {

struct TimeCode {
    std::uint8_t hours = 0xAA;
    std::uint8_t minutes = 0xAA;
    std::uint8_t seconds = 0xAA;
    std::uint8_t frame = 0xAA;

    // Layout on tape and in files: hours, minutes, seconds, frame.
    static TimeCode fromBytes(const std::uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }
    void toBytes(std::uint8_t* p) const
    {
        p[0] = hours;
        p[1] = minutes;
        p[2] = seconds;
        p[3] = frame;
    }
    bool operator==(const TimeCode&) const = default;
};

// "No time set": four bytes 0xAA (also what a default TimeCode holds).
inline constexpr TimeCode kNoValue{0xAA, 0xAA, 0xAA, 0xAA};

// Frames in 3 seconds, the period of the 33/33/34 pattern.
inline constexpr int kFramesPer3Seconds = 100;

// High nibble × 10 + low nibble.
int bcdToInt(std::uint8_t bcd);
// 0..99 as one BCD byte (larger values wrap modulo 100, negative ones give 0).
std::uint8_t intToBcd(int value);
// Decimal value of four BCD digits (0x0123 → 123), e.g. program-number digits.
int bcd16ToInt(std::uint16_t value);

// Hours × 3600 + minutes × 60 + seconds; bytes of 0x9A or more count as 0 (kNoValue → 0).
int absToSeconds(const TimeCode& t);
// Frames since 00h00m00s00. Bytes are converted without the 0x9A rule.
int absToFrames(const TimeCode& t);
// Inverse of absToFrames. Negative counts give 00h00m00s00; hours wrap after 99.
TimeCode framesToAbs(long long frames);
// One frame forward; hours wrap from 99 to 00.
TimeCode nextFrame(const TimeCode& t);
// One frame back; 00h00m00s00 goes to 99h59m59s33.
TimeCode prevFrame(const TimeCode& t);
// Last frame byte (BCD) of the second whose BCD value is given: 0x33 or 0x32.
std::uint8_t lastFrameOfSecond(std::uint8_t bcdSeconds);

// Display text of a time code, 12 characters: " 01h23m45s12", or " --h--m--s--" when the
// frame byte is not a BCD number below 0x9A.
std::string timeText(const TimeCode& t);

} // namespace tarnvel::dat
