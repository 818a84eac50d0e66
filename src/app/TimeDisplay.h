#pragma once

#include "dat/TapePosition.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The texts of the time display (ABS, PGM and RUN lines), the program number field and the
// ID text, made from a TapePosition. Plain functions and small state objects used on the
// window thread; painting is the view's business.
namespace tarnvel::app {

// Vertical pitch of the three lines of the time display, in pixels.
inline constexpr int kTimeLinePitch = 17;

// The counting state of the PGM and RUN lines (the playback pipeline advances the counts).
struct TimeCounters {
    bool pgmCounting = false;  // from `CountPgmTime`
    bool runCounting = false;  // from `CountRunTime`
    std::int64_t pgmCount = 0; // frames
    std::int64_t runCount = 0; // frames
};

// " 10/02/26Fri" from a date pack, or " --/--/--   " when the position has none.
std::string dateText(const std::array<std::uint8_t, dat::kPackBytes>& datePack);
// " 12:34:56   " from a date pack, or " --:--:--   " when the position has none.
std::string clockText(const std::array<std::uint8_t, dat::kPackBytes>& datePack);

// ABS line: the ABS time, with "-" in the first place in the lead-in (it counts down).
std::string absText(const dat::TapePosition& pos);
// PGM line: the date when `displayDate`, else the program-time count when counting with a
// tape checked, else the position's program time.
std::string pgmText(const dat::TapePosition& pos, const TimeCounters& counters, bool displayDate,
                    bool tapeChecked);
// RUN line: the recording clock time when `displayDate`, else the running-time count when
// counting with a tape checked, else the position's running time.
std::string runText(const dat::TapePosition& pos, const TimeCounters& counters, bool displayDate,
                    bool tapeChecked);

// What the program number field and the ID text show.
struct ProgramIdView {
    std::string numberText; // "12", "--", "BB" (lead-in), "EE" (END)
    std::string idText;     // "START", "SKIP", "Lead-in", "END"; empty when hidden
    bool idVisible = false;
    // Set when `WriteID_Edit` takes a new value: the next program number to write.
    std::optional<int> writeIdNext;
};

// The program number and ID display; remembers the last program number shown.
class ProgramNumberDisplay {
public:
    // `fromFrame` is true for a frame read or written, false for a position query; only
    // frames refresh `WriteID_Edit` and apply their Sub ID START/SKIP flags.
    ProgramIdView update(const dat::TapePosition& pos, bool fromFrame);
    void reset() { lastShown_.reset(); }

private:
    std::optional<int> lastShown_;
};

enum class TimeLine { None, Pgm, Run };
// The line a click at `y` pixels from the top of the time display falls on: PGM for 18 to
// 31, RUN for 35 to 48.
TimeLine timeLineAt(int y);

enum class MouseButton { Left, Other };

// Result of a double-click on the time display.
struct CounterResetResult {
    TimeLine line = TimeLine::None;     // the line whose count was reset
    std::optional<std::string> newText; // the line's new text when it is to be redrawn now
};

// Double-click on the time display: resets the count of the line clicked when that line is
// counting. On the RUN line with Shift the count becomes the position's ABS time in frames
// instead (outside the lead-in, ABS hours 9 at most). When the deck is idle with a tape
// checked, the line is redrawn from its count at once.
CounterResetResult resetCounterByDoubleClick(TimeCounters& counters, int y, MouseButton button,
                                             bool shift, bool idleWithTapeChecked,
                                             const dat::TapePosition& pos);

} // namespace tarnvel::app
