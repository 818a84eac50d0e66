#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/SgIo.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnvel::scsi {

// "SPTI" mode: the tape driver's no-rewind nodes /dev/nst0../dev/nst9, which accept SG_IO.
// The address is what the kernel gives for the node (SCSI_IOCTL_GET_IDLUN: host, channel,
// id, LUN); commands are synchronous SG_IO calls (no abort); bus reset is SG_SCSI_RESET.
class SgSptiBackend final : public ScsiBackend {
public:
    explicit SgSptiBackend(std::shared_ptr<SgIo> io);
    ~SgSptiBackend() override;

    void scan(std::uint8_t wantedType, const AddDevice& add) override;
    void execute(int handle, const ScsiCommand& command, std::atomic<bool>& abortRequested,
                 ScsiResult& result) override;
    bool resetBus(int handle, std::string& errorText) override;
    bool isSpti() const override { return true; }
    std::string devicePath(int handle) const override;

    static constexpr int kPaths = 10;

private:
    void closeAll();

    std::shared_ptr<SgIo> io_;
    std::vector<int> fds_;
    std::vector<std::string> paths_;
};

} // namespace tarnvel::scsi
