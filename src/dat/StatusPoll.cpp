#include "dat/StatusPoll.h"

#include "scsi/ScsiMessages.h"

#include <chrono>
#include <thread>

namespace tarnvel::dat {

StatusPollResult StatusPoller::poll(const std::function<void()>& showLoading)
{
    StatusPollResult r;
    r.status = drive_.datTestUnitReady(d_);
    if (r.status != kUnitReady)
        tapeChecked_ = false;
    r.statusText = unitStatusText(r.status);
    r.detailText = unitStatusDetail(r.status, drive_.senseSummary());
    if (drive_.waitingForRecovery(d_)) {
        // A command given up at its deadline is still the kernel's: nothing was sent.
        r.statusText = std::string(" ") + tr(scsi::msg::kWaitingForRecovery);
        r.detailText.clear();
    }
    if (r.status == kUnitReady && !tapeChecked_) {
        r.arrived = true;
        if (drive_.tapeArrival(d_, showLoading)) {
            tapeChecked_ = true;
            drive_.resetDrive(d_);
            r.position = drive_.readFrameParsed(d_, frame_);
        }
    }
    return r;
}

bool StatusPoller::adoptReadyTape()
{
    constexpr int kAttentionPolls = 3;
    for (int i = 0; i < kAttentionPolls; ++i) {
        const UnitStatus status = drive_.datTestUnitReady(d_);
        if (status == kUnitReset)
            continue;
        tapeChecked_ = status == kUnitReady;
        return tapeChecked_;
    }
    return false;
}

bool isTransientStatus(UnitStatus status)
{
    return status == kUnitBusy || status == kUnitNotReady || status == kUnitReset ||
           status == kUnitTapeChanged || status == kUnitSenseKeyBase;
}

} // namespace tarnvel::dat

namespace tarnvel::dat {

StatusPollResult pollUntilSettled(StatusPoller& poller, int maxPolls, int intervalMs,
                                  const std::function<void(int)>& sleep)
{
    StatusPollResult result;
    const TapePosition* arrivedAt = nullptr;
    bool arrived = false;
    for (int i = 0; i < maxPolls; ++i) {
        if (i > 0) {
            if (sleep)
                sleep(intervalMs);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        }
        result = poller.poll();
        if (result.arrived) {
            arrived = true;
            arrivedAt = result.position;
        }
        if (!isTransientStatus(result.status))
            break;
    }
    result.arrived = arrived;
    result.position = arrivedAt;
    return result;
}

} // namespace tarnvel::dat
