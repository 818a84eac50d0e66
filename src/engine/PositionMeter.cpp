#include "engine/PositionMeter.h"

#include <algorithm>
#include <cstdlib>

namespace tarnvel::engine {

void PositionMeter::setTapeLength(int minutes)
{
    if (minutes <= 0) {
        lengthMinutes_ = 0;
        start_ = 0;
        end_ = kAutoWindowSeconds;
        page_ = 0;
        return;
    }
    lengthMinutes_ = std::clamp(minutes, 10, 500);
    start_ = 0;
    end_ = lengthMinutes_ * 60;
}

void PositionMeter::place(int reference)
{
    if (!autoLength())
        return;
    while (reference > start_ + 750)
        start_ += kPageSeconds;
    while (reference < start_ + 150 && start_ > 0)
        start_ -= kPageSeconds;
    if (start_ <= 0) {
        start_ = 0;
        page_ = 0;
    }
    end_ = start_ + kAutoWindowSeconds;
}

void PositionMeter::follow(int absSeconds)
{
    place(std::max(0, absSeconds) + page_ * kPageSeconds);
}

void PositionMeter::pageUp(int absSeconds)
{
    page_ += (page_ == 0 && absSeconds < 150) ? 2 : 1;
    follow(absSeconds);
}

void PositionMeter::pageDown(int absSeconds)
{
    if (page_ > 0)
        --page_;
    follow(absSeconds);
}

int PositionMeter::secondsAt(int x, int width) const
{
    const int usable = width - kInsetSum;
    if (usable <= 0 || x - kLeftInset <= 0)
        return start_; // a meter too narrow to point into names its start
    const long long t = start_ + static_cast<long long>(end_ - start_) * (x - kLeftInset) / usable;
    return static_cast<int>(std::min<long long>(t, end_));
}

int PositionMeter::tolerance(int width) const
{
    const int usable = std::max(1, width - kInsetSum);
    return std::min(((end_ - start_) / usable + 1) * 3, 30);
}

PositionMeter::Hit PositionMeter::hitTest(int x, int y, int width, const dat::IdTable& ids) const
{
    Hit hit;
    const int t = secondsAt(x, width);
    hit.seconds = t;
    if (y >= kBarTop) {
        hit.kind = Hit::Kind::AbsTime;
        hit.abs = dat::TimeCode{dat::intToBcd(t / 3600), dat::intToBcd(t / 60 % 60),
                                dat::intToBcd(t % 60), 0};
        return hit;
    }
    const int tol = tolerance(width);
    for (const dat::IdEntry& e : ids.used()) {
        if (std::abs(e.seconds - t) >= tol)
            continue;
        hit.seconds = e.seconds;
        if (e.pNo == dat::kPNoStartWithoutNumber || e.pNo == dat::kPNoSkip) {
            hit.kind = Hit::Kind::AbsTime;
            hit.abs = e.abs;
        } else if (e.pNo >= 1) {
            hit.kind = Hit::Kind::Program;
            hit.pNo = e.pNo;
            hit.abs = e.abs;
        } else {
            continue;
        }
        return hit;
    }
    return hit;
}

} // namespace tarnvel::engine
