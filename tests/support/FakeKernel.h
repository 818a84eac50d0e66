#pragma once

#include "scsi/SgIo.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <scsi/sg.h>
#include <set>
#include <string>
#include <vector>

namespace tarnvel::scsi::test {

// What a fake device answers to one command, in the kernel's terms.
struct KernelReply {
    std::uint8_t status = 0;       // SCSI status byte
    std::uint8_t hostStatus = 0;   // DID_*
    std::uint8_t driverStatus = 0; // DRIVER_*
    std::vector<std::uint8_t> sense;
    // Copied to the buffer of a data-in command; what it lacks of the length asked for is
    // the residual the kernel reports.
    std::vector<std::uint8_t> data;
    int ioctlError = 0;  // SG_IO itself fails with this errno
    bool hang = false;   // never completes (until a device reset or finishHanging)
    int durationMs = -1; // what the kernel reports it took; -1: the time the caller polled
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

// One SCSI device; a tape drive is reached through its tape node and its generic node.
struct FakeDevice {
    sg_scsi_id id{}; // SG_GET_SCSI_ID reply (host_no, channel, scsi_id, lun, scsi_type)
    std::array<std::uint8_t, 36> inquiry{};
    bool inquiryFails = false;
    int resetError = 0; // errno SG_SCSI_RESET fails with even for a privileged caller
    // What a command still running gets as its reply when a device reset is accepted: the
    // adapter hands it back as reset; behind a USB bridge it may have completed first.
    KernelReply resetReply = kernelReply(0, 0x08 /* DID_RESET */);
    // Unplugged: its nodes report a hang-up, reads and opens fail with ENODEV.
    bool detached = false;
    std::function<KernelReply(const sg_io_hdr_t&)> onCommand;
};

// Answers like the kernel's sg and st drivers do for the devices the test puts at paths,
// with the sysfs entries that describe them:
// - the tape driver refuses SG_IO for every command to a caller without raw I/O rights (the
//   default: a user in the tape group, EPERM); the generic node opened read-write takes
//   every command, opened read-only only the commands the kernel's filter lets anyone send;
// - SG_SCSI_RESET needs CAP_SYS_ADMIN and CAP_SYS_RAWIO (EACCES); a kernel without the
//   no-escalation flag refuses it with EINVAL before it looks at the rights, and a reset
//   while the adapter recovers from an error is refused with EAGAIN. An accepted device reset
//   ends the device's running command with its `resetReply`;
// - a command the caller gives up stays the kernel's: its reply comes with a later read on
//   the same descriptor (into the buffers it was given); closing the descriptor drops it;
// - a tape node allows one open at a time (EBUSY); any node can refuse every open;
// - every device has a sysfs state ("running"; a test may set "offline");
// - the clock runs only while a caller polls for a reply.
// Thread-safe: the abort tests call into it from two threads.
class FakeKernel : public SgIo {
public:
    // A node for a device, without sysfs entries.
    FakeDevice& add(const std::string& path, std::uint8_t type, int host, int target, int lun,
                    const char* vendorProductRevision);
    // The generic node /dev/sgN with its sysfs entries (/sys/class/scsi_generic/sgN/device).
    FakeDevice& addGeneric(int n, std::uint8_t type, int host, int target, int lun,
                           const char* vendorProductRevision);
    // A tape drive: /dev/nstN with its sysfs entries and, unless `sg` is negative, its
    // generic node /dev/sgM (both reach the same device).
    FakeDevice& addTape(int n, int sg, int host, int target, int lun,
                        const char* vendorProductRevision);
    FakeDevice& device(const std::string& path) { return *devices_.at(path); }
    // Every open of `path` fails with this errno (0: opens).
    void setOpenError(const std::string& path, int error);
    void addSysFile(const std::string& path, const std::string& text);
    // The group that owns a node (none: unknown).
    void setGroup(const std::string& path, const std::string& group);
    void addSysLink(const std::string& path, const std::string& target);
    bool sgDriverLoaded = true;
    bool rawIo = false;             // CAP_SYS_RAWIO
    bool sysAdmin = false;          // CAP_SYS_ADMIN
    bool knowsNoEscalation = true;  // SG_SCSI_RESET_NO_ESCALATE (kernel 3.19 and later)
    bool adapterRecovering = false; // the host is in its error recovery

    int open(const char* path, int flags) override;
    void close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    long write(int fd, const void* data, std::size_t length) override;
    long read(int fd, void* data, std::size_t length) override;
    int pollIn(int fd, int timeoutMs) override;
    std::string readSmallFile(const char* path) override;
    std::vector<std::string> listDirectory(const char* path) override;
    std::string readLink(const char* path) override;
    std::int64_t nowMs() override;
    std::string errorText(int error) override;
    std::string fileGroup(const char* path) override;

    // What the driver saw.
    std::vector<sg_io_hdr_t> headers;               // every command, as submitted
    std::vector<std::vector<std::uint8_t>> cdbs;    // their CDBs
    std::vector<std::vector<std::uint8_t>> dataOut; // what each carried to the device
    std::vector<std::string> commandPaths;          // the node each went to
    std::vector<std::pair<std::string, int>> opens; // path, flags (successful or not)
    std::vector<int> resets;                        // SG_SCSI_RESET values
    std::size_t resetCount() const;                 // thread-safe
    int openFds() const;
    bool isOpen(const std::string& path) const;
    // Ends every hanging command with `reply` (as the kernel's own time-out would).
    void finishHanging(const KernelReply& reply);
    // Commands submitted that hang. Thread-safe.
    std::size_t hangingCount() const;

private:
    struct Node {
        std::string path;
        int flags = 0;
    };
    struct Pending {
        sg_io_hdr_t hdr{};
        KernelReply reply;
        std::int64_t startMs = 0;
    };
    FakeDevice* deviceOf(int fd);
    void addSysfsDevice(const std::string& deviceDir, std::uint8_t type, int host, int target,
                        int lun, const char* vendorProductRevision);
    void complete(sg_io_hdr_t& hdr, const KernelReply& reply, std::int64_t startMs);
    KernelReply answer(int fd, FakeDevice& device, const sg_io_hdr_t& hdr);
    bool commandAllowed(int fd, std::uint8_t opcode) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::shared_ptr<FakeDevice>> devices_;
    std::map<std::string, int> openErrors_;
    std::map<std::string, std::string> files_;
    std::map<std::string, std::string> links_;
    std::map<std::string, std::string> groups_;
    std::map<int, Node> fds_;
    std::map<int, std::optional<Pending>> pending_;
    int nextFd_ = 10;
    std::int64_t clockMs_ = 1000;
};

} // namespace tarnvel::scsi::test
