#include "app/TimeDisplay.h"

#include "app/AppMessages.h"
#include "dat/TimeCode.h"

#include <cstdio>

namespace tarnvel::app {

namespace {

constexpr std::uint8_t kDatePackItem = 5;

bool hasDatePack(const std::array<std::uint8_t, dat::kPackBytes>& pack)
{
    return (pack[0] >> 4) == kDatePackItem;
}

std::uint32_t unitsAndTens(const dat::TapePosition& pos)
{
    return pos.pNoDigits & 0xFF;
}

} // namespace

std::string dateText(const std::array<std::uint8_t, dat::kPackBytes>& pack)
{
    if (!hasDatePack(pack))
        return tr(msg::kNoDateText);
    // Weekday 1 (Sunday) to 7; codes above 7 show Saturday. Code 0 names no day.
    const int weekday = pack[0] & 0x0F;
    const char* day = weekday == 0 ? "---" : tr(msg::kWeekdays[(weekday > 7 ? 7 : weekday) - 1]);
    char text[32];
    std::snprintf(text, sizeof text, " %02X/%02X/%02X%s", pack[1], pack[2], pack[3], day);
    return text;
}

std::string clockText(const std::array<std::uint8_t, dat::kPackBytes>& pack)
{
    if (!hasDatePack(pack))
        return tr(msg::kNoClockText);
    char text[32];
    std::snprintf(text, sizeof text, " %02X:%02X:%02X   ", pack[4], pack[5], pack[6]);
    return text;
}

std::string absText(const dat::TapePosition& pos)
{
    std::string text = dat::timeText(pos.absTime);
    if (unitsAndTens(pos) == (dat::kPNoDigitsLeadIn & 0xFF))
        text[0] = '-';
    return text;
}

std::string pgmText(const dat::TapePosition& pos, const TimeCounters& counters, bool displayDate,
                    bool tapeChecked)
{
    if (displayDate)
        return dateText(pos.datePack);
    if (counters.pgmCounting && tapeChecked)
        return dat::timeText(dat::framesToAbs(counters.pgmCount));
    return dat::timeText(pos.programTime);
}

std::string runText(const dat::TapePosition& pos, const TimeCounters& counters, bool displayDate,
                    bool tapeChecked)
{
    if (displayDate)
        return clockText(pos.datePack);
    if (counters.runCounting && tapeChecked)
        return dat::timeText(dat::framesToAbs(counters.runCount));
    return dat::timeText(pos.runningTime);
}

ProgramIdView ProgramNumberDisplay::update(const dat::TapePosition& pos, bool fromFrame)
{
    ProgramIdView view;
    const int number = pos.currentPNo > 799 ? 0 : pos.currentPNo;
    const std::uint32_t code = unitsAndTens(pos);
    if (code == (dat::kPNoDigitsNone & 0xFF)) {
        view.numberText = tr(msg::kNoProgramNumber);
    } else if (code == (dat::kPNoDigitsLeadIn & 0xFF)) {
        view.numberText = "BB";
        view.idText = tr(msg::kIdLeadIn);
        view.idVisible = true;
    } else if (code == (dat::kPNoDigitsEnd & 0xFF)) {
        view.numberText = "EE";
        view.idText = tr(msg::kIdEnd);
        view.idVisible = true;
    } else if (number > 0) {
        view.numberText = std::to_string(number);
        view.idText = tr(msg::kIdStart);
        view.idVisible = true;
    } else {
        view.numberText = tr(msg::kNoProgramNumber);
    }

    if (fromFrame) {
        if (lastShown_ != number)
            view.writeIdNext = number + 1;
        if (pos.subIdFlags & (dat::kSubIdStart | dat::kSubIdSkip)) {
            view.idText = tr((pos.subIdFlags & dat::kSubIdSkip) ? msg::kIdSkip : msg::kIdStart);
            view.idVisible = true;
        }
    }
    lastShown_ = number;
    if (!view.idVisible)
        view.idText.clear();
    return view;
}

TimeLine timeLineAt(int y)
{
    if (y >= 18 && y <= 31)
        return TimeLine::Pgm;
    if (y >= 35 && y <= 48)
        return TimeLine::Run;
    return TimeLine::None;
}

CounterResetResult resetCounterByDoubleClick(TimeCounters& counters, int y, MouseButton button,
                                             bool shift, bool idleWithTapeChecked,
                                             const dat::TapePosition& pos)
{
    CounterResetResult result;
    if (button != MouseButton::Left)
        return result;
    switch (timeLineAt(y)) {
    case TimeLine::Pgm:
        if (!counters.pgmCounting)
            return result;
        counters.pgmCount = 0;
        result.line = TimeLine::Pgm;
        if (idleWithTapeChecked)
            result.newText = dat::timeText(dat::framesToAbs(counters.pgmCount));
        break;
    case TimeLine::Run: {
        if (!counters.runCounting)
            return result;
        const bool leadIn = unitsAndTens(pos) == (dat::kPNoDigitsLeadIn & 0xFF);
        counters.runCount =
            shift && !leadIn && pos.absTime.hours <= 0x09 ? dat::absToFrames(pos.absTime) : 0;
        result.line = TimeLine::Run;
        if (idleWithTapeChecked)
            result.newText = dat::timeText(dat::framesToAbs(counters.runCount));
        break;
    }
    case TimeLine::None:
        break;
    }
    return result;
}

} // namespace tarnvel::app
