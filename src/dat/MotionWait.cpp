#include "dat/MotionWait.h"

#include <chrono>
#include <optional>
#include <thread>

namespace tarnvel::dat {

namespace {
constexpr int kPollMs = 30;
constexpr int kStartPolls = 198;
constexpr int kSettlePolls = 99;
constexpr int kSettlePollsWithoutAbs = 198;
constexpr int kReadyPolls = 800;
constexpr int kReadyPollMs = 50;
} // namespace

const TapePosition* waitForMotionEnd(DatDrive& drive, int d, const MotionWaitHooks& hooks)
{
    auto sleep = [&](int ms) {
        if (hooks.sleep)
            hooks.sleep(ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    const TapePosition* last = nullptr;
    auto poll = [&]() -> const TapePosition* {
        const TapePosition* p = drive.readPositionAndParse(d, drive.virtualIdMode());
        if (p != nullptr) {
            last = p;
            if (hooks.show)
                hooks.show(*p);
        }
        return p;
    };

    std::optional<TimeCode> previous;
    for (int i = 0; i < kStartPolls; ++i) {
        sleep(kPollMs);
        const TapePosition* p = poll();
        if (p == nullptr)
            continue;
        if (previous && !(p->absTime == *previous))
            break;
        previous = p->absTime;
    }

    int same = 0;
    for (;;) {
        const bool noAbs = !last || last->absTime.frame == 0xAA;
        const bool leadIn = last && isLeadInDigits(static_cast<std::uint16_t>(last->pNoDigits));
        const int needed = (noAbs && !leadIn) ? kSettlePollsWithoutAbs : kSettlePolls;
        if (same >= needed)
            break;
        sleep(kPollMs);
        const TapePosition* p = poll();
        if (p != nullptr && previous && !(p->absTime == *previous))
            same = 0;
        else
            ++same;
        if (p != nullptr)
            previous = p->absTime;
    }

    if (drive.modelIsSdt9000(d)) {
        for (int i = 0; i < kReadyPolls; ++i) {
            sleep(kReadyPollMs);
            poll();
            if (drive.datTestUnitReady(d) == kUnitReady)
                break;
        }
    }
    poll();
    return last;
}

} // namespace tarnvel::dat
