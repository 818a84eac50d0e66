#include "scsi/InProcessBackend.h"

#include "scsi/ScsiStatus.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace tarnvel::scsi {

namespace {
constexpr char kAdapterName[] = "In-process";
constexpr std::size_t kMaxAdapters = 8;
} // namespace

void mapTargetReply(const TargetReply& reply, ScsiResult& result)
{
    result.haStatus = kHaStatusOk;
    result.targetStatus = reply.status;
    if (reply.status == kTargetGood) {
        result.status = kSsComp;
        result.sense.fill(0);
        return;
    }
    result.status = kSsErr;
    std::copy_n(reply.sense.begin(), std::min(reply.sense.size(), result.sense.size()),
                result.sense.begin());
}

void InProcessBackend::addTarget(std::shared_ptr<ScsiTarget> target)
{
    if (target)
        targets_.push_back(std::move(target));
}

void InProcessBackend::scan(std::uint8_t wantedType, const AddDevice& add)
{
    devices_.clear();
    adapters_.clear();
    for (const auto& target : targets_) {
        std::uint8_t inquiry[36] = {};
        const std::uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof inquiry, 0};
        const TargetReply reply =
            target->command(cdb, sizeof cdb, DataDirection::In, inquiry, sizeof inquiry);
        if (reply.status != kTargetGood)
            continue;
        const std::uint8_t type = inquiry[0] & 0x1F;
        if (wantedType != kTypeAny && type != wantedType)
            continue;
        ScsiDeviceEntry entry;
        entry.hostAdapter = target->hostAdapter();
        entry.target = target->targetId();
        entry.deviceType = type;
        entry.pathCharacter = '?';
        setIdentification(entry, inquiry);

        const bool known = std::any_of(adapters_.begin(), adapters_.end(), [&](const auto& a) {
            return a.hostNumber == entry.hostAdapter;
        });
        if (!known && adapters_.size() < kMaxAdapters) {
            HostAdapterEntry adapter;
            adapter.hostNumber = entry.hostAdapter;
            std::memcpy(adapter.identifier.data(), kAdapterName, sizeof kAdapterName);
            adapters_.push_back(adapter);
        }
        const int handle = static_cast<int>(devices_.size());
        devices_.push_back(target.get());
        if (!add(entry, handle))
            return;
    }
}

void InProcessBackend::execute(int handle, const ScsiCommand& command, AbortState& abort,
                               ScsiResult& result)
{
    if (handle < 0 || handle >= static_cast<int>(devices_.size())) {
        result.status = kSsNoDevice;
        return;
    }
    ScsiTarget* target = devices_[handle];
    {
        std::lock_guard lock(runningMutex_);
        // An abort that came after the command was named and before it was marked running
        // (the transport's `abortRunning` found nothing to stop): the command is not sent.
        if (abort.requested.exchange(false)) {
            result.status = kSsAborted;
            return;
        }
        running_ = target;
        abortTaken_ = false;
    }
    const TargetReply reply = target->command(command.cdb, command.cdbLength, command.direction,
                                              command.buffer, command.length);
    bool aborted;
    {
        std::lock_guard lock(runningMutex_);
        running_ = nullptr;
        aborted = abortTaken_;
    }
    mapTargetReply(reply, result);
    if (aborted) {
        abort.requested.store(false);
        result.status = kSsAborted;
    }
}

void InProcessBackend::abortRunning()
{
    // Between being marked running and starting its command the target answers Idle: ask
    // again until it takes the abort or the command is over.
    for (;;) {
        {
            std::lock_guard lock(runningMutex_);
            if (running_ == nullptr)
                return;
            const AbortAnswer answer = running_->abort();
            if (answer == AbortAnswer::Taken) {
                abortTaken_ = true;
                return;
            }
            if (answer == AbortAnswer::Unsupported)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool InProcessBackend::resetBus(int handle, std::string& errorText)
{
    if (handle < 0 || handle >= static_cast<int>(devices_.size())) {
        errorText = "No such device";
        return false;
    }
    return true;
}

} // namespace tarnvel::scsi
