#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/SgIo.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnvel::scsi {

// "ASPI" mode: SCSI generic devices /dev/sg0../dev/sg15. The address comes from
// SG_GET_SCSI_ID (host number, target id, LUN), the device type from the same call. Commands
// go through the sg driver's asynchronous interface (write, then poll every 100 ms for the
// reply) so that an abort request is noticed while a long motion runs.
class SgAspiBackend final : public ScsiBackend {
public:
    explicit SgAspiBackend(std::shared_ptr<SgIo> io);
    ~SgAspiBackend() override;

    // False when the sg driver is not there at all.
    bool driverPresent();

    void scan(std::uint8_t wantedType, const AddDevice& add) override;
    std::vector<HostAdapterEntry> hostAdapters() const override { return adapters_; }
    void execute(int handle, const ScsiCommand& command, std::atomic<bool>& abortRequested,
                 ScsiResult& result) override;
    bool resetBus(int handle, std::string& errorText) override;
    std::string devicePath(int handle) const override;

    static constexpr int kPaths = 16;
    static constexpr int kMaxAdapters = 8;
    static constexpr int kPollMs = 100;

private:
    struct Device {
        std::string path;
        int fd = -1;
    };
    void closeAll();
    void addAdapter(int fd, std::uint8_t hostNumber);

    std::shared_ptr<SgIo> io_;
    std::vector<Device> devices_;
    std::vector<HostAdapterEntry> adapters_;
    int packId_ = 0;
};

} // namespace tarnvel::scsi
