#pragma once

#include "scsi/ScsiBackend.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tarnvel::scsi {

// Targets that live in this process (the simulated drive). Each registered target that
// answers INQUIRY with a wanted type becomes a device; commands are plain calls.
class InProcessBackend final : public ScsiBackend {
public:
    void addTarget(std::shared_ptr<ScsiTarget> target);
    bool empty() const { return targets_.empty(); }

    void scan(std::uint8_t wantedType, const AddDevice& add) override;
    std::vector<HostAdapterEntry> hostAdapters() const override { return adapters_; }
    void execute(int handle, const ScsiCommand& command, AbortState& abort,
                 ScsiResult& result) override;
    void abortRunning() override;
    bool resetBus(int handle, std::string& errorText) override;

private:
    std::vector<std::shared_ptr<ScsiTarget>> targets_;
    std::vector<ScsiTarget*> devices_; // by handle
    std::vector<HostAdapterEntry> adapters_;
    // The target running a command, for an abort from another thread.
    std::mutex runningMutex_;
    ScsiTarget* running_ = nullptr;
    bool abortTaken_ = false;
};

} // namespace tarnvel::scsi
