#include "support/FakeKernel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/scsi.h>

namespace tarnvel::scsi::test {

namespace {

bool isTapeNode(const std::string& path)
{
    return path.rfind("/dev/nst", 0) == 0 || path.rfind("/dev/st", 0) == 0;
}

// The kernel's filter for callers without raw I/O rights on a generic node opened read-only: a
// few read-only commands for anyone who could open the node.
bool readSafe(std::uint8_t opcode)
{
    switch (opcode) {
    case 0x00: // TEST UNIT READY
    case 0x03: // REQUEST SENSE
    case 0x08: // READ(6)
    case 0x12: // INQUIRY
    case 0x1A: // MODE SENSE(6)
    case 0x1B: // START STOP UNIT, which is LOAD UNLOAD on a tape
    case 0x2B: // SEEK(10), which is LOCATE on a tape
    case 0x3C: // READ BUFFER
    case 0x4D: // LOG SENSE
    case 0x5A: // MODE SENSE(10)
        return true;
    default:
        return false;
    }
}
} // namespace

void FakeKernel::addSysfsDevice(const std::string& deviceDir, std::uint8_t type, int host,
                                int target, int lun, const char* vendorProductRevision)
{
    const std::string vpr = vendorProductRevision;
    auto field = [&](std::size_t at, std::size_t n) {
        std::string f = at < vpr.size() ? vpr.substr(at, n) : std::string();
        while (!f.empty() && f.back() == ' ')
            f.pop_back();
        return f;
    };
    files_[deviceDir + "/type"] = std::to_string(type);
    files_[deviceDir + "/vendor"] = field(0, 8);
    files_[deviceDir + "/model"] = field(8, 16);
    files_[deviceDir + "/rev"] = field(24, 4);
    files_[deviceDir + "/state"] = "running";
    links_[deviceDir] = "../../../devices/pci0000:00/0000:00:10.0/host" + std::to_string(host) +
                        "/target" + std::to_string(host) + ":0:" + std::to_string(target) + "/" +
                        std::to_string(host) + ":0:" + std::to_string(target) + ":" +
                        std::to_string(lun);
}

FakeDevice& FakeKernel::add(const std::string& path, std::uint8_t type, int host, int target,
                            int lun, const char* vendorProductRevision)
{
    auto d = std::make_shared<FakeDevice>();
    d->id.host_no = host;
    d->id.scsi_id = target;
    d->id.lun = lun;
    d->id.scsi_type = type;
    d->inquiry[0] = type;
    std::memcpy(d->inquiry.data() + 8, vendorProductRevision,
                std::min<std::size_t>(28, std::strlen(vendorProductRevision)));
    devices_[path] = d;
    return *d;
}

FakeDevice& FakeKernel::addGeneric(int n, std::uint8_t type, int host, int target, int lun,
                                   const char* vendorProductRevision)
{
    const std::string sg = "sg" + std::to_string(n);
    addSysfsDevice("/sys/class/scsi_generic/" + sg + "/device", type, host, target, lun,
                   vendorProductRevision);
    files_["/sys/class/scsi_generic/" + sg + "/dev"] = "21:" + std::to_string(n);
    return add("/dev/" + sg, type, host, target, lun, vendorProductRevision);
}

FakeDevice& FakeKernel::addTape(int n, int sg, int host, int target, int lun,
                                const char* vendorProductRevision)
{
    const std::string nst = "nst" + std::to_string(n);
    const std::string dir = "/sys/class/scsi_tape/" + nst + "/device";
    addSysfsDevice(dir, 1, host, target, lun, vendorProductRevision);
    files_["/sys/class/scsi_tape/st" + std::to_string(n) + "/dev"] = "9:" + std::to_string(n);
    FakeDevice& d = add("/dev/" + nst, 1, host, target, lun, vendorProductRevision);
    if (sg >= 0) {
        files_[dir + "/scsi_generic/sg" + std::to_string(sg) + "/dev"] = "21:" + std::to_string(sg);
        addGeneric(sg, 1, host, target, lun, vendorProductRevision);
        devices_["/dev/sg" + std::to_string(sg)] = devices_.at("/dev/" + nst); // one device
    }
    return d;
}

void FakeKernel::setOpenError(const std::string& path, int error)
{
    std::lock_guard lock(mutex_);
    openErrors_[path] = error;
}

void FakeKernel::addSysFile(const std::string& path, const std::string& text)
{
    files_[path] = text;
}

void FakeKernel::setGroup(const std::string& path, const std::string& group)
{
    std::lock_guard lock(mutex_);
    groups_[path] = group;
}

std::string FakeKernel::fileGroup(const char* path)
{
    std::lock_guard lock(mutex_);
    const auto it = groups_.find(path);
    return it != groups_.end() ? it->second : std::string();
}

void FakeKernel::addSysLink(const std::string& path, const std::string& target)
{
    links_[path] = target;
}

int FakeKernel::open(const char* path, int flags)
{
    std::lock_guard lock(mutex_);
    opens.emplace_back(path, flags);
    const std::string p = path;
    if (p == "/sys/class/scsi_generic")
        return sgDriverLoaded ? nextFd_++ : -ENOENT;
    if (!devices_.count(p))
        return -ENOENT;
    if (devices_.at(p)->detached)
        return -ENODEV;
    if (auto e = openErrors_.find(p); e != openErrors_.end() && e->second != 0)
        return -e->second;
    if (isTapeNode(p))
        for (const auto& [fd, node] : fds_)
            if (node.path == p)
                return -EBUSY;
    const int fd = nextFd_++;
    fds_[fd] = {p, flags};
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

bool FakeKernel::isOpen(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    return std::any_of(fds_.begin(), fds_.end(),
                       [&](const auto& f) { return f.second.path == path; });
}

std::size_t FakeKernel::hangingCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(pending_.begin(), pending_.end(),
                      [](const auto& p) { return p.second && p.second->reply.hang; }));
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
    return it == fds_.end() ? nullptr : devices_.at(it->second.path).get();
}

bool FakeKernel::commandAllowed(int fd, std::uint8_t opcode) const
{
    if (rawIo)
        return true;
    const Node& node = fds_.at(fd);
    // The tape driver takes no SG_IO at all without raw I/O rights; the sg driver filters
    // only nodes opened read-only.
    if (isTapeNode(node.path))
        return false;
    return (node.flags & O_ACCMODE) == O_RDWR || readSafe(opcode);
}

KernelReply FakeKernel::answer(int fd, FakeDevice& device, const sg_io_hdr_t& hdr)
{
    headers.push_back(hdr);
    cdbs.emplace_back(hdr.cmdp, hdr.cmdp + hdr.cmd_len);
    const auto* out = static_cast<const std::uint8_t*>(hdr.dxferp);
    dataOut.emplace_back();
    if (hdr.dxfer_direction == SG_DXFER_TO_DEV && out != nullptr)
        dataOut.back().assign(out, out + hdr.dxfer_len);
    commandPaths.push_back(fds_.at(fd).path);
    if (!commandAllowed(fd, hdr.cmdp[0]))
        return kernelReply(0, 0, 0, {}, EPERM);
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

void FakeKernel::complete(sg_io_hdr_t& hdr, const KernelReply& reply, std::int64_t startMs)
{
    hdr.duration =
        static_cast<unsigned>(reply.durationMs >= 0 ? reply.durationMs : clockMs_ - startMs);
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
    hdr.resid = 0;
    if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
        const std::size_t n = std::min<std::size_t>(reply.data.size(), hdr.dxfer_len);
        if (n > 0)
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
        if (isTapeNode(fds_.at(fd).path))
            return -ENOTTY;
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
    case SG_SCSI_RESET: {
        const int value = *static_cast<int*>(arg);
        resets.push_back(value);
        // Older kernels check the value before the caller's rights.
        if ((value & 0x100) != 0 && !knowsNoEscalation)
            return -EINVAL;
        if (adapterRecovering && (fds_.at(fd).flags & O_NONBLOCK) != 0)
            return -EAGAIN;
        if (!rawIo || !sysAdmin)
            return -EACCES;
        if (device->resetError != 0)
            return -device->resetError;
        // The device drops what it runs: its commands come back with the reset's reply.
        for (auto& [pendingFd, p] : pending_)
            if (p && p->reply.hang && deviceOf(pendingFd) == device)
                p->reply = device->resetReply;
        changed_.notify_all();
        return 0;
    }
    case SG_IO: {
        auto* hdr = static_cast<sg_io_hdr_t*>(arg);
        const KernelReply reply = answer(fd, *device, *hdr);
        if (reply.ioctlError != 0)
            return -reply.ioctlError;
        complete(*hdr, reply, clockMs_);
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
    if (isTapeNode(fds_.at(fd).path))
        return -EINVAL; // the tape driver takes data, not sg headers
    if (length != sizeof(sg_io_hdr_t))
        return -EINVAL;
    Pending p;
    std::memcpy(&p.hdr, data, sizeof p.hdr);
    p.startMs = clockMs_;
    p.reply = answer(fd, *device, p.hdr);
    if (p.reply.ioctlError != 0)
        return -p.reply.ioctlError;
    pending_[fd] = p;
    return static_cast<long>(length);
}

int FakeKernel::pollIn(int fd, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    auto ready = [&] {
        if (FakeDevice* device = deviceOf(fd); device != nullptr && device->detached)
            return true; // a hang-up
        auto it = pending_.find(fd);
        return it != pending_.end() && it->second && !it->second->reply.hang;
    };
    changed_.wait_for(lock, std::chrono::milliseconds(std::min(timeoutMs, 2)), ready);
    if (ready())
        return 1;
    clockMs_ += timeoutMs; // the time the caller would have waited
    return 0;
}

long FakeKernel::read(int fd, void* data, std::size_t length)
{
    std::lock_guard lock(mutex_);
    if (FakeDevice* device = deviceOf(fd); device != nullptr && device->detached)
        return -ENODEV;
    auto it = pending_.find(fd);
    if (it == pending_.end() || !it->second || length != sizeof(sg_io_hdr_t))
        return -EAGAIN;
    sg_io_hdr_t hdr = it->second->hdr;
    complete(hdr, it->second->reply, it->second->startMs);
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

std::vector<std::string> FakeKernel::listDirectory(const char* path)
{
    std::lock_guard lock(mutex_);
    const std::string prefix = std::string(path) + "/";
    std::set<std::string> names;
    auto collect = [&](const auto& entries) {
        for (const auto& [p, value] : entries) {
            if (p.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string rest = p.substr(prefix.size());
            names.insert(rest.substr(0, rest.find('/')));
        }
    };
    collect(files_);
    collect(links_);
    return {names.begin(), names.end()};
}

std::string FakeKernel::readLink(const char* path)
{
    std::lock_guard lock(mutex_);
    auto it = links_.find(path);
    return it == links_.end() ? std::string() : it->second;
}

std::int64_t FakeKernel::nowMs()
{
    std::lock_guard lock(mutex_);
    return clockMs_;
}

std::string FakeKernel::errorText(int error)
{
    return std::strerror(error);
}

} // namespace tarnvel::scsi::test
