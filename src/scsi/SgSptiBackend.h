#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/SgIo.h"
#include "scsi/SgNode.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnvel::scsi {

// "SPTI" mode: the tape devices nst0..nst9, named by their tape nodes /dev/nstN. Commands go
// through the generic node that belongs to each (/sys/class/scsi_tape/nstN/device/
// scsi_generic/): the tape driver refuses most SG_IO commands to callers without raw I/O
// rights, while the generic node of a tape is open to the tape group. The tape node is held
// open as a claim (see SgNode). A tape without a generic node (sg driver not loaded) takes
// SG_IO on its tape node. The address comes from SG_GET_SCSI_ID (or SCSI_IOCTL_GET_IDLUN on a
// tape node). A device that cannot be opened is still listed, with the reason. No abort.
class SgSptiBackend final : public ScsiBackend {
public:
    explicit SgSptiBackend(std::shared_ptr<SgIo> io);
    ~SgSptiBackend() override;

    void scan(std::uint8_t wantedType, const AddDevice& add) override;
    void execute(int handle, const ScsiCommand& command, AbortState& abort,
                 ScsiResult& result) override;
    bool resetBus(int handle, std::string& errorText) override;
    void release(int handle) override;
    bool waitingForRecovery(int handle) const override;
    bool isSpti() const override { return true; }
    std::string devicePath(int handle) const override;
    std::string commandPath(int handle) const override;
    std::string deviceProblem(int handle) const override;
    std::string nodeGroup(int handle) const override;

    static constexpr int kPaths = 10;

private:
    struct Tape {
        std::string path; // /dev/nstN
        std::unique_ptr<SgNode> node;
    };
    Tape* tape(int handle);
    const Tape* tape(int handle) const;

    std::shared_ptr<SgIo> io_;
    std::vector<Tape> tapes_;
};

} // namespace tarnvel::scsi
