#pragma once

#include "dat/IdTable.h"
#include "dat/TimeCode.h"

// The position meter as numbers: the span of ABS time it shows, its pages in "Auto" length,
// and what a double-click at a point hits. The drawing is the view's.
namespace tarnvel::engine {

class PositionMeter {
public:
    static constexpr int kAutoWindowSeconds = 900;
    static constexpr int kPageSeconds = 600;
    // The scale lies 6 pixels in from the left and 7 from the right edge.
    static constexpr int kLeftInset = 6;
    static constexpr int kInsetSum = 13;
    // Clicks at this height and below hit the time bar, above it the ID marks.
    static constexpr int kBarTop = 18;

    // 0 = "Auto"; other lengths are limited to 10..500 minutes. "Auto" resets the window.
    void setTapeLength(int minutes);
    int tapeLength() const { return lengthMinutes_; }
    bool autoLength() const { return lengthMinutes_ == 0; }

    // Follows the current position (ABS seconds, 0 in the lead-in).
    void follow(int absSeconds);
    // The page buttons; `absSeconds` is the current position.
    void pageUp(int absSeconds);
    void pageDown(int absSeconds);
    // Back to the first page (the transport was disabled).
    void resetPage() { page_ = 0; }

    int start() const { return start_; }
    int end() const { return end_; }
    int page() const { return page_; }
    bool pageDownShown() const { return autoLength() && start_ > 0; }

    // The time under a pointer x pixels from the left of a meter `width` pixels wide.
    int secondsAt(int x, int width) const;
    // Half the width of the window around a click in which an ID mark counts as hit.
    int tolerance(int width) const;

    // What a double-click hits.
    struct Hit {
        enum class Kind { Nothing, AbsTime, Program } kind = Kind::Nothing;
        int pNo = 0;         // Program: the number to search
        dat::TimeCode abs{}; // AbsTime: the time to search (BCD; frames 0 on the bar)
        int seconds = 0;     // where the hit lies
    };
    Hit hitTest(int x, int y, int width, const dat::IdTable& ids) const;

private:
    void place(int reference);

    int lengthMinutes_ = 0;
    int start_ = 0;
    int end_ = kAutoWindowSeconds;
    int page_ = 0;
};

} // namespace tarnvel::engine
