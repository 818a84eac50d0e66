// Arbitrary frame bytes through the subcode decoding helpers, the dump text, the time-code
// arithmetic and the recorder's subcode steps; checks the arithmetic's round trips.
#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"
#include "dat/SubcodeDump.h"
#include "dat/TimeCode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace tarnvel::dat;

namespace {

bool isValidTime(const TimeCode& t)
{
    const auto bcd = [](std::uint8_t v, int max) {
        return (v & 0x0F) <= 9 && (v >> 4) <= 9 && bcdToInt(v) <= max;
    };
    return bcd(t.hours, 99) && bcd(t.minutes, 59) && bcd(t.seconds, 59) && bcd(t.frame, 33) &&
           t.frame <= lastFrameOfSecond(t.seconds);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DatFrame frame;
    std::memcpy(frame.data(), data, size < kFrameBytes ? size : kFrameBytes);
    const SubcodeBlock& b = frame.subcode;

    (void)buildSubcodeDump(frame);
    (void)decodeProgramDigits(b);
    (void)b.mainIdFields();
    for (std::size_t i = 0; i < kPackCount; ++i) {
        const SubcodePack p = b.pack(i);
        (void)packItemName(p.item());
        const TimeCode t = p.time();
        (void)timeText(t);
        (void)absToSeconds(t);
        (void)nextFrame(t);
        (void)prevFrame(t);
        (void)bcd16ToInt(p.programDigits());
        if (isValidTime(t)) {
            if (framesToAbs(absToFrames(t)) != t || prevFrame(nextFrame(t)) != t ||
                nextFrame(prevFrame(t)) != t)
                __builtin_trap();
        }
    }
    (void)decodedAbsTime(b);

    // The recorder's steps on whatever subcode the input holds.
    SubcodeBlock rec = b;
    RecSubcodeState state;
    state.idRunFramesLeft = size > 0 ? data[0] & 0x7F : 0;
    const std::uint8_t control = size > 1 ? data[1] : 0;
    const int code = size > 3 ? (data[2] << 8 | data[3]) % 2400 : 0;
    startIdRun(rec, state, control, code);
    for (int i = 0; i < 400; ++i) {
        advanceRecSubcode(rec, state);
        if (!rec.pack(1).parityOk() || state.idRunFramesLeft < 0)
            __builtin_trap();
    }
    if (state.idRunFramesLeft != 0)
        __builtin_trap();
    return 0;
}
