#include "dat/TimeCode.h"

#include <cstdio>

namespace tarnvel::dat {

namespace {

// BCD byte plus one; a low nibble that reaches 0xA carries into the tens.
std::uint8_t bcdIncrement(std::uint8_t v)
{
    unsigned r = v + 1u;
    if ((r & 0x0F) >= 0x0A)
        r = (r & 0xF0) + 0x10;
    return static_cast<std::uint8_t>(r);
}

// BCD byte minus one; a low nibble that wraps to 0xF borrows from the tens (0x00 → 0xF9).
std::uint8_t bcdDecrement(std::uint8_t v)
{
    unsigned r = (v - 1u) & 0xFF;
    if ((r & 0x0F) == 0x0F)
        r = (r & 0xF0) | 0x09;
    return static_cast<std::uint8_t>(r);
}

int bcdOrZero(std::uint8_t bcd)
{
    return bcd >= 0x9A ? 0 : bcdToInt(bcd);
}

} // namespace

int bcdToInt(std::uint8_t bcd)
{
    return (bcd >> 4) * 10 + (bcd & 0x0F);
}

std::uint8_t intToBcd(int value)
{
    if (value < 0)
        return 0;
    value %= 100;
    return static_cast<std::uint8_t>(((value / 10) << 4) | (value % 10));
}

int bcd16ToInt(std::uint16_t value)
{
    return ((value >> 12) & 0x0F) * 1000 + ((value >> 8) & 0x0F) * 100 +
           ((value >> 4) & 0x0F) * 10 + (value & 0x0F);
}

int absToSeconds(const TimeCode& t)
{
    return bcdOrZero(t.hours) * 3600 + bcdOrZero(t.minutes) * 60 + bcdOrZero(t.seconds);
}

int absToFrames(const TimeCode& t)
{
    const int seconds = bcdToInt(t.hours) * 3600 + bcdToInt(t.minutes) * 60 + bcdToInt(t.seconds);
    return seconds * kFramesPer3Seconds / 3 + bcdToInt(t.frame);
}

TimeCode framesToAbs(long long frames)
{
    if (frames < 0)
        frames = 0;
    const long long seconds = (frames * 3 + 2) / kFramesPer3Seconds;
    const long long frame = frames - seconds * kFramesPer3Seconds / 3;
    return {intToBcd(static_cast<int>((seconds / 3600) % 100)),
            intToBcd(static_cast<int>(seconds / 60 % 60)), intToBcd(static_cast<int>(seconds % 60)),
            intToBcd(static_cast<int>(frame))};
}

std::uint8_t lastFrameOfSecond(std::uint8_t bcdSeconds)
{
    return bcdToInt(bcdSeconds) % 3 == 2 ? 0x33 : 0x32;
}

TimeCode nextFrame(const TimeCode& t)
{
    TimeCode r = t;
    r.frame = bcdIncrement(t.frame);
    const std::uint8_t limit = lastFrameOfSecond(t.seconds) + 1;
    if (r.frame < limit)
        return r;
    r.frame = 0;
    r.seconds = bcdIncrement(t.seconds);
    if (r.seconds < 0x60)
        return r;
    r.seconds = 0;
    r.minutes = bcdIncrement(t.minutes);
    if (r.minutes < 0x60)
        return r;
    r.minutes = 0;
    r.hours = t.hours >= 0x99 ? 0 : bcdIncrement(t.hours);
    return r;
}

TimeCode prevFrame(const TimeCode& t)
{
    TimeCode r = t;
    r.frame = bcdDecrement(t.frame);
    if (r.frame != 0xF9)
        return r;
    r.seconds = bcdDecrement(t.seconds);
    if (r.seconds == 0xF9) {
        r.seconds = 0x59;
        r.minutes = bcdDecrement(t.minutes);
        if (r.minutes == 0xF9) {
            r.minutes = 0x59;
            r.hours = bcdDecrement(t.hours);
            if (r.hours == 0xF9)
                r.hours = 0x99;
        }
    }
    r.frame = lastFrameOfSecond(r.seconds);
    return r;
}

std::string timeText(const TimeCode& t)
{
    if (t.frame >= 0x9A)
        return " --h--m--s--";
    char text[16];
    std::snprintf(text, sizeof text, " %02Xh%02Xm%02Xs%02X", t.hours, t.minutes, t.seconds,
                  t.frame);
    return text;
}

} // namespace tarnvel::dat
