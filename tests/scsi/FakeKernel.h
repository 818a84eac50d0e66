#pragma once

#include "scsi/SgIo.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <scsi/sg.h>
#include <string>
#include <vector>

namespace tarnvel::scsi::test {

// What a fake device answers to one command, in the kernel's terms.
struct KernelReply {
    std::uint8_t status = 0;       // SCSI status byte
    std::uint8_t hostStatus = 0;   // DID_*
    std::uint8_t driverStatus = 0; // DRIVER_*
    std::vector<std::uint8_t> sense;
    std::vector<std::uint8_t> data; // copied to the buffer of a data-in command
    int ioctlError = 0;             // SG_IO itself fails with this errno
    bool hang = false;              // never completes (until a device reset)
};

inline KernelReply kernelReply(std::uint8_t status, std::uint8_t hostStatus = 0,
                               std::uint8_t driverStatus = 0, std::vector<std::uint8_t> sense = {},
                               int ioctlError = 0)
{
    KernelReply r;
    r.status = status;
    r.hostStatus = hostStatus;
    r.driverStatus = driverStatus;
    r.sense = std::move(sense);
    r.ioctlError = ioctlError;
    return r;
}

struct FakeDevice {
    sg_scsi_id id{}; // SG_GET_SCSI_ID reply (host_no, channel, scsi_id, lun, scsi_type)
    std::array<std::uint8_t, 36> inquiry{};
    bool inquiryFails = false;
    int resetError = 0; // errno SG_SCSI_RESET fails with
    std::function<KernelReply(const sg_io_hdr_t&)> onCommand;
};

// Answers like the kernel's sg and st drivers do for the devices the test puts at paths.
// Thread-safe: the abort tests call into it from two threads.
class FakeKernel : public SgIo {
public:
    FakeDevice& add(const std::string& path, std::uint8_t type, int host, int target, int lun,
                    const char* vendorProductRevision);
    FakeDevice& device(const std::string& path) { return devices_.at(path); }
    void addSysFile(const std::string& path, const std::string& text) { files_[path] = text; }
    bool sgDriverLoaded = true;

    int open(const char* path, int flags) override;
    void close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    long write(int fd, const void* data, std::size_t length) override;
    long read(int fd, void* data, std::size_t length) override;
    int pollIn(int fd, int timeoutMs) override;
    std::string readSmallFile(const char* path) override;
    std::string errorText(int error) override;

    // What the driver saw.
    std::vector<sg_io_hdr_t> headers;               // every command, as submitted
    std::vector<std::vector<std::uint8_t>> cdbs;    // their CDBs
    std::vector<std::pair<std::string, int>> opens; // path, flags
    std::vector<int> resets;                        // SG_SCSI_RESET values
    std::size_t resetCount() const;                 // thread-safe
    int openFds() const;
    // Ends every hanging command with `reply` (as the kernel's own time-out would).
    void finishHanging(const KernelReply& reply);

private:
    struct Pending {
        sg_io_hdr_t hdr{};
        KernelReply reply;
    };
    FakeDevice* deviceOf(int fd);
    void complete(sg_io_hdr_t& hdr, const KernelReply& reply);
    KernelReply answer(FakeDevice& device, const sg_io_hdr_t& hdr);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, FakeDevice> devices_;
    std::map<std::string, std::string> files_;
    std::map<int, std::string> fds_;
    std::map<int, std::optional<Pending>> pending_;
    int nextFd_ = 10;
};

} // namespace tarnvel::scsi::test
