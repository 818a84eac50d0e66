#include "scsi/SgAspiBackend.h"

#include "scsi/ScsiStatus.h"
#include "scsi/SgHeader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>

namespace tarnvel::scsi {

namespace {
constexpr std::uint32_t kInquiryTimeoutMs = 10000;
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK;
} // namespace

SgAspiBackend::SgAspiBackend(std::shared_ptr<SgIo> io) : io_(std::move(io)) {}

SgAspiBackend::~SgAspiBackend()
{
    closeAll();
}

bool SgAspiBackend::driverPresent()
{
    const int fd = io_->open("/sys/class/scsi_generic", O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    io_->close(fd);
    return true;
}

void SgAspiBackend::closeAll()
{
    for (Device& d : devices_)
        if (d.fd >= 0)
            io_->close(d.fd);
    devices_.clear();
    adapters_.clear();
}

void SgAspiBackend::addAdapter(int fd, std::uint8_t hostNumber)
{
    for (const HostAdapterEntry& a : adapters_)
        if (a.hostNumber == hostNumber)
            return;
    if (static_cast<int>(adapters_.size()) >= kMaxAdapters)
        return;
    HostAdapterEntry a;
    a.hostNumber = hostNumber;
    char path[64];
    std::snprintf(path, sizeof path, "/sys/class/scsi_host/host%u/proc_name", hostNumber);
    const std::string name = io_->readSmallFile(path);
    std::memcpy(a.identifier.data(), name.data(), std::min(name.size(), a.identifier.size() - 1));
    int maxBytes = 0;
    if (io_->ioctl(fd, BLKSECTGET, &maxBytes) >= 0 && maxBytes > 0)
        a.maxTransferLength = static_cast<std::uint32_t>(maxBytes);
    adapters_.push_back(a);
}

void SgAspiBackend::scan(std::uint8_t wantedType, const AddDevice& add)
{
    closeAll();
    for (int n = 0; n < kPaths; ++n) {
        char path[32];
        std::snprintf(path, sizeof path, "/dev/sg%d", n);
        const int fd = io_->open(path, kOpenFlags);
        if (fd < 0)
            continue;
        sg_scsi_id id{};
        if (io_->ioctl(fd, SG_GET_SCSI_ID, &id) < 0 ||
            (wantedType != kTypeAny && id.scsi_type != wantedType)) {
            io_->close(fd);
            continue;
        }
        const int handle = static_cast<int>(devices_.size());
        devices_.push_back({path, fd});
        addAdapter(fd, static_cast<std::uint8_t>(id.host_no));

        ScsiDeviceEntry entry;
        entry.hostAdapter = static_cast<std::uint8_t>(id.host_no);
        entry.target = static_cast<std::uint8_t>(id.scsi_id);
        entry.lun = static_cast<std::uint8_t>(id.lun);
        entry.deviceType = static_cast<std::uint8_t>(id.scsi_type & 0x1F);
        entry.pathCharacter = '?';
        // A device whose INQUIRY fails is still listed, without names.
        std::uint8_t inquiry[36] = {};
        const std::uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof inquiry, 0};
        ScsiResult result;
        std::atomic<bool> noAbort{false};
        execute(handle,
                {DataDirection::In, cdb, sizeof cdb, inquiry, sizeof inquiry, kInquiryTimeoutMs},
                noAbort, result);
        if (result.status == kSsComp)
            setIdentification(entry, inquiry);
        if (!add(entry, handle))
            return;
    }
}

void SgAspiBackend::execute(int handle, const ScsiCommand& command,
                            std::atomic<bool>& abortRequested, ScsiResult& result)
{
    if (handle < 0 || handle >= static_cast<int>(devices_.size())) {
        result.status = kSsNoDevice;
        return;
    }
    Device& device = devices_[handle];
    if (device.fd < 0) {
        // An abort closed it; the device may have gone since.
        device.fd = io_->open(device.path.c_str(), kOpenFlags);
        if (device.fd < 0) {
            mapSystemError(device.fd, result);
            return;
        }
    }
    std::uint8_t sense[kSgSenseBufferBytes] = {};
    sg_io_hdr_t hdr;
    prepareSgHeader(hdr, command, sense, ++packId_);
    const long written = io_->write(device.fd, &hdr, sizeof hdr);
    if (written < 0) {
        mapSystemError(static_cast<int>(written), result);
        return;
    }
    for (;;) {
        const int ready = io_->pollIn(device.fd, kPollMs);
        if (ready > 0) {
            const long n = io_->read(device.fd, &hdr, sizeof hdr);
            if (n < 0) {
                mapSystemError(static_cast<int>(n), result);
                return;
            }
            mapSgResult(hdr, sense, result);
            return;
        }
        if (ready < 0) {
            mapSystemError(ready, result);
            return;
        }
        if (abortRequested.exchange(false)) {
            // A device reset makes the drive drop the command. Closing the descriptor then
            // orphans the request: the sg driver discards its reply and never copies data
            // into our buffer after we have returned.
            int what = SG_SCSI_RESET_DEVICE;
            if (io_->ioctl(device.fd, SG_SCSI_RESET, &what) >= 0) {
                io_->close(device.fd);
                device.fd = -1;
                result.status = kSsAborted;
                return;
            }
            // The reset was refused: keep waiting; the command's own time-out ends it.
        }
    }
}

std::string SgAspiBackend::devicePath(int handle) const
{
    if (handle < 0 || handle >= static_cast<int>(devices_.size()))
        return {};
    return devices_[handle].path;
}

bool SgAspiBackend::resetBus(int handle, std::string& errorText)
{
    if (handle < 0 || handle >= static_cast<int>(devices_.size()) || devices_[handle].fd < 0) {
        errorText = io_->errorText(ENODEV);
        return false;
    }
    int what = SG_SCSI_RESET_BUS;
    const int rc = io_->ioctl(devices_[handle].fd, SG_SCSI_RESET, &what);
    if (rc < 0) {
        errorText = io_->errorText(-rc);
        return false;
    }
    return true;
}

} // namespace tarnvel::scsi
