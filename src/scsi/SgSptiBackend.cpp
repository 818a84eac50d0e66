#include "scsi/SgSptiBackend.h"

#include "scsi/ScsiStatus.h"
#include "scsi/SgHeader.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <scsi/scsi.h>

namespace tarnvel::scsi {

namespace {
constexpr std::uint32_t kInquiryTimeoutMs = 10000;

// SCSI_IOCTL_GET_IDLUN reply: id | lun << 8 | channel << 16 | host << 24.
struct IdLun {
    int devId = 0;
    int hostUniqueId = 0;
};
} // namespace

SgSptiBackend::SgSptiBackend(std::shared_ptr<SgIo> io) : io_(std::move(io)) {}

SgSptiBackend::~SgSptiBackend()
{
    closeAll();
}

void SgSptiBackend::closeAll()
{
    for (int fd : fds_)
        io_->close(fd);
    fds_.clear();
    paths_.clear();
}

std::string SgSptiBackend::devicePath(int handle) const
{
    if (handle < 0 || handle >= static_cast<int>(paths_.size()))
        return {};
    return paths_[handle];
}

void SgSptiBackend::scan(std::uint8_t wantedType, const AddDevice& add)
{
    closeAll();
    // Without O_NONBLOCK the tape driver refuses to open a drive that holds no tape.
    const int flags = (wantedType == kTypeCdRom ? O_RDONLY : O_RDWR) | O_NONBLOCK;
    for (int n = 0; n < kPaths; ++n) {
        char path[32];
        std::snprintf(path, sizeof path, "/dev/nst%d", n);
        const int fd = io_->open(path, flags);
        if (fd < 0)
            continue;
        const int handle = static_cast<int>(fds_.size());
        fds_.push_back(fd);
        paths_.push_back(path);

        std::uint8_t inquiry[300] = {};
        const std::uint8_t cdb[6] = {0x12, 0, 0, 0, 44, 0};
        ScsiResult result;
        std::atomic<bool> noAbort{false};
        execute(handle, {DataDirection::In, cdb, sizeof cdb, inquiry, 44, kInquiryTimeoutMs},
                noAbort, result);
        const std::uint8_t type = inquiry[0] & 0x1F;
        const bool accepted =
            result.status == kSsComp && (wantedType == kTypeAny || type == wantedType ||
                                         (wantedType == kTypeCdRom && type == kTypeWorm));
        if (!accepted) {
            // A node that is not taken is not kept open until the next scan.
            io_->close(fd);
            fds_.pop_back();
            paths_.pop_back();
            continue;
        }
        ScsiDeviceEntry entry;
        entry.deviceType = type;
        entry.pathCharacter = static_cast<char>('0' + n);
        setIdentification(entry, inquiry);
        IdLun idLun;
        if (io_->ioctl(fd, SCSI_IOCTL_GET_IDLUN, &idLun) >= 0) {
            const auto id = static_cast<unsigned>(idLun.devId);
            entry.target = static_cast<std::uint8_t>(id & 0xFF);
            entry.lun = static_cast<std::uint8_t>((id >> 8) & 0xFF);
            entry.hostAdapter = static_cast<std::uint8_t>((id >> 24) & 0xFF);
        }
        if (!add(entry, handle))
            return;
    }
}

void SgSptiBackend::execute(int handle, const ScsiCommand& command,
                            std::atomic<bool>& /*abortRequested*/, ScsiResult& result)
{
    if (handle < 0 || handle >= static_cast<int>(fds_.size())) {
        result.status = kSsNoDevice;
        return;
    }
    std::uint8_t sense[kSgSenseBufferBytes] = {};
    sg_io_hdr_t hdr;
    prepareSgHeader(hdr, command, sense, 0);
    const int rc = io_->ioctl(fds_[handle], SG_IO, &hdr);
    if (rc < 0) {
        mapSystemError(rc, result);
        return;
    }
    mapSgResult(hdr, sense, result);
}

bool SgSptiBackend::resetBus(int handle, std::string& errorText)
{
    if (handle < 0 || handle >= static_cast<int>(fds_.size())) {
        errorText = io_->errorText(ENODEV);
        return false;
    }
    int what = SG_SCSI_RESET_BUS;
    const int rc = io_->ioctl(fds_[handle], SG_SCSI_RESET, &what);
    if (rc < 0) {
        errorText = io_->errorText(-rc);
        return false;
    }
    return true;
}

} // namespace tarnvel::scsi
