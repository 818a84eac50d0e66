#include "FakeKernel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/scsi.h>

namespace tarnvel::scsi::test {

FakeDevice& FakeKernel::add(const std::string& path, std::uint8_t type, int host, int target,
                            int lun, const char* vendorProductRevision)
{
    FakeDevice& d = devices_[path];
    d.id.host_no = host;
    d.id.scsi_id = target;
    d.id.lun = lun;
    d.id.scsi_type = type;
    d.inquiry[0] = type;
    std::memcpy(d.inquiry.data() + 8, vendorProductRevision,
                std::min<std::size_t>(28, std::strlen(vendorProductRevision)));
    return d;
}

int FakeKernel::open(const char* path, int flags)
{
    std::lock_guard lock(mutex_);
    opens.emplace_back(path, flags);
    if (std::string(path) == "/sys/class/scsi_generic")
        return sgDriverLoaded ? nextFd_++ : -ENOENT;
    if (!devices_.count(path))
        return -ENOENT;
    const int fd = nextFd_++;
    fds_[fd] = path;
    return fd;
}

void FakeKernel::close(int fd)
{
    std::lock_guard lock(mutex_);
    fds_.erase(fd);
    pending_.erase(fd); // an orphaned request: its reply is dropped
}

std::size_t FakeKernel::resetCount() const
{
    std::lock_guard lock(mutex_);
    return resets.size();
}

int FakeKernel::openFds() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(fds_.size());
}

void FakeKernel::finishHanging(const KernelReply& reply)
{
    std::lock_guard lock(mutex_);
    for (auto& [fd, p] : pending_)
        if (p && p->reply.hang)
            p->reply = reply;
    changed_.notify_all();
}

FakeDevice* FakeKernel::deviceOf(int fd)
{
    auto it = fds_.find(fd);
    return it == fds_.end() ? nullptr : &devices_[it->second];
}

KernelReply FakeKernel::answer(FakeDevice& device, const sg_io_hdr_t& hdr)
{
    headers.push_back(hdr);
    cdbs.emplace_back(hdr.cmdp, hdr.cmdp + hdr.cmd_len);
    if (hdr.cmdp[0] == 0x12) {
        KernelReply r;
        if (device.inquiryFails) {
            r.status = 0x02;
            r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0};
            return r;
        }
        r.data.assign(device.inquiry.begin(), device.inquiry.end());
        return r;
    }
    return device.onCommand ? device.onCommand(hdr) : KernelReply{};
}

void FakeKernel::complete(sg_io_hdr_t& hdr, const KernelReply& reply)
{
    hdr.status = reply.status;
    hdr.masked_status = static_cast<unsigned char>((reply.status >> 1) & 0x7F);
    hdr.host_status = reply.hostStatus;
    hdr.driver_status = reply.driverStatus;
    if (!reply.sense.empty()) {
        hdr.driver_status |= 0x08; // DRIVER_SENSE
        const std::size_t n = std::min<std::size_t>(reply.sense.size(), hdr.mx_sb_len);
        std::memcpy(hdr.sbp, reply.sense.data(), n);
        hdr.sb_len_wr = static_cast<unsigned char>(n);
    }
    if (hdr.dxfer_direction == SG_DXFER_FROM_DEV && !reply.data.empty()) {
        const std::size_t n = std::min<std::size_t>(reply.data.size(), hdr.dxfer_len);
        std::memcpy(hdr.dxferp, reply.data.data(), n);
        hdr.resid = static_cast<int>(hdr.dxfer_len - n);
    }
    const bool ok = reply.status == 0 && reply.hostStatus == 0 && (reply.driverStatus & 0x0F) == 0;
    hdr.info = ok ? SG_INFO_OK : SG_INFO_CHECK;
}

int FakeKernel::ioctl(int fd, unsigned long request, void* arg)
{
    std::lock_guard lock(mutex_);
    FakeDevice* device = deviceOf(fd);
    if (device == nullptr)
        return -EBADF;
    switch (request) {
    case SG_GET_SCSI_ID:
        std::memcpy(arg, &device->id, sizeof device->id);
        return 0;
    case SCSI_IOCTL_GET_IDLUN: {
        const int id = (device->id.scsi_id & 0xFF) | ((device->id.lun & 0xFF) << 8) |
                       ((device->id.channel & 0xFF) << 16) | ((device->id.host_no & 0xFF) << 24);
        std::memcpy(arg, &id, sizeof id);
        return 0;
    }
    case BLKSECTGET:
        *static_cast<int*>(arg) = 65536;
        return 0;
    case SG_SCSI_RESET:
        resets.push_back(*static_cast<int*>(arg));
        if (device->resetError != 0)
            return -device->resetError;
        changed_.notify_all();
        return 0;
    case SG_IO: {
        auto* hdr = static_cast<sg_io_hdr_t*>(arg);
        const KernelReply reply = answer(*device, *hdr);
        if (reply.ioctlError != 0)
            return -reply.ioctlError;
        complete(*hdr, reply);
        return 0;
    }
    default:
        return -ENOTTY;
    }
}

long FakeKernel::write(int fd, const void* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    FakeDevice* device = deviceOf(fd);
    if (device == nullptr)
        return -EBADF;
    if (length != sizeof(sg_io_hdr_t))
        return -EINVAL;
    Pending p;
    std::memcpy(&p.hdr, data, sizeof p.hdr);
    p.reply = answer(*device, p.hdr);
    if (p.reply.ioctlError != 0)
        return -p.reply.ioctlError;
    pending_[fd] = p;
    return static_cast<long>(length);
}

int FakeKernel::pollIn(int fd, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    auto ready = [&] {
        auto it = pending_.find(fd);
        return it != pending_.end() && it->second && !it->second->reply.hang;
    };
    changed_.wait_for(lock, std::chrono::milliseconds(std::min(timeoutMs, 5)), ready);
    return ready() ? 1 : 0;
}

long FakeKernel::read(int fd, void* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    auto it = pending_.find(fd);
    if (it == pending_.end() || !it->second || length != sizeof(sg_io_hdr_t))
        return -EAGAIN;
    sg_io_hdr_t hdr = it->second->hdr;
    complete(hdr, it->second->reply);
    pending_.erase(it);
    std::memcpy(data, &hdr, sizeof hdr);
    return static_cast<long>(length);
}

std::string FakeKernel::readSmallFile(const char* path)
{
    std::lock_guard lock(mutex_);
    auto it = files_.find(path);
    return it == files_.end() ? std::string() : it->second;
}

std::string FakeKernel::errorText(int error)
{
    return std::strerror(error);
}

} // namespace tarnvel::scsi::test
