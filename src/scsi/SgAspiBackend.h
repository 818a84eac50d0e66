#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/SgIo.h"
#include "scsi/SgNode.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnvel::scsi {

// "ASPI" mode: the SCSI generic devices listed in /sys/class/scsi_generic. Each device's type
// is read from sysfs, so only devices of the wanted type are opened (a user without rights
// to the disks' nodes is not refused for them). The address comes from SG_GET_SCSI_ID (host
// number, target id, LUN). A device whose node cannot be opened is still listed, with what
// sysfs tells of it and the reason, so that nobody is told a present drive is missing.
// Commands run through SgNode (abort by device reset, deadline). A device is opened by the
// scan and by the commands sent to it, and released when another device is used.
class SgAspiBackend final : public ScsiBackend {
public:
    explicit SgAspiBackend(std::shared_ptr<SgIo> io);
    ~SgAspiBackend() override;

    // False when the sg driver is not there at all.
    bool driverPresent();

    void scan(std::uint8_t wantedType, const AddDevice& add) override;
    std::vector<HostAdapterEntry> hostAdapters() const override { return adapters_; }
    void execute(int handle, const ScsiCommand& command, AbortState& abort,
                 ScsiResult& result) override;
    bool resetBus(int handle, std::string& errorText) override;
    bool abortResetsDevice() const override { return true; }
    void release(int handle) override;
    bool waitingForRecovery(int handle) const override;
    std::string devicePath(int handle) const override;
    std::string deviceProblem(int handle) const override;
    std::string nodeGroup(int handle) const override;

    static constexpr int kMaxAdapters = 8;

private:
    SgNode* node(int handle) const;
    void closeAll();
    void addAdapter(int fd, std::uint8_t hostNumber);

    std::shared_ptr<SgIo> io_;
    std::vector<std::unique_ptr<SgNode>> nodes_;
    std::vector<HostAdapterEntry> adapters_;
};

// The reason a node cannot be used ("/dev/sg3: Permission denied (...)"), or empty.
std::string nodeProblemText(const SgNode& node);
// The group that owns the node that could not be opened, or the node commands go through.
std::string nodeGroupOf(SgIo& io, const SgNode& node);

} // namespace tarnvel::scsi
