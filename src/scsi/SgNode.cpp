#include "scsi/SgNode.h"

#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"
#include "scsi/SgHeader.h"

#include <cerrno>
#include <fcntl.h>

namespace tarnvel::scsi {

namespace {
// Read-only on the tape node: the tape driver refuses a read-write open of a write-protected
// tape, and only the claim (or, as a fallback, SG_IO) is wanted from it. Non-blocking: the
// tape driver refuses a blocking open of a drive without tape.
constexpr int kTapeFlags = O_RDONLY | O_NONBLOCK;
// Read-write on the generic node: the sg driver filters commands on read-only opens.
constexpr int kGenericFlags = O_RDWR | O_NONBLOCK;
} // namespace

SgNode::SgNode(SgIo& io, Kind kind, std::string path, std::string claimPath)
    : io_(io), kind_(kind), path_(std::move(path)), claimPath_(std::move(claimPath)),
      claimWanted_(!claimPath_.empty())
{
}

SgNode::~SgNode()
{
    close();
    if (claimFd_ >= 0)
        io_.close(claimFd_);
}

void SgNode::close()
{
    if (fd_ >= 0)
        io_.close(fd_);
    fd_ = -1;
}

int SgNode::ensureOpen()
{
    if (claimWanted_ && claimFd_ < 0) {
        const int fd = io_.open(claimPath_.c_str(), kTapeFlags);
        if (fd == -EBUSY) {
            problem_ = EBUSY;
            problemOnClaim_ = true;
            return fd;
        }
        if (fd >= 0)
            claimFd_ = fd;
        else
            claimWanted_ = false; // not ours to claim (no rights, no tape driver): not tried again
    }
    problemOnClaim_ = false;
    if (fd_ >= 0)
        return 0;
    const int fd = io_.open(path_.c_str(), kind_ == Kind::Tape ? kTapeFlags : kGenericFlags);
    if (fd < 0) {
        problem_ = -fd;
        return fd;
    }
    fd_ = fd;
    problem_ = 0;
    return 0;
}

int SgNode::reset(int what)
{
    if (fd_ < 0)
        return -EBADF;
    int value = what | kSgResetNoEscalate;
    return io_.ioctl(fd_, SG_SCSI_RESET, &value);
}

void SgNode::noteOutcome(const ScsiResult& result)
{
    if (result.systemError == EACCES || result.systemError == EPERM || result.systemError == EBUSY)
        problem_ = result.systemError;
    else if (result.systemError == 0)
        problem_ = 0;
}

void SgNode::execute(const ScsiCommand& command, AbortState* abort, ScsiResult& result)
{
    const int opened = ensureOpen();
    if (opened < 0) {
        mapSystemError(opened, result);
        return;
    }
    if (kind_ == Kind::Generic) {
        executeAsync(command, abort, result);
    } else {
        std::uint8_t sense[kSgSenseBufferBytes] = {};
        sg_io_hdr_t hdr;
        prepareSgHeader(hdr, command, sense, 0);
        const int rc = io_.ioctl(fd_, SG_IO, &hdr);
        if (rc < 0)
            mapSystemError(rc, result);
        else
            mapSgResult(hdr, sense, result);
    }
    noteOutcome(result);
}

void SgNode::executeAsync(const ScsiCommand& command, AbortState* abort, ScsiResult& result)
{
    std::uint8_t sense[kSgSenseBufferBytes] = {};
    sg_io_hdr_t hdr;
    prepareSgHeader(hdr, command, sense, ++packId_);
    const long written = io_.write(fd_, &hdr, sizeof hdr);
    if (written < 0) {
        mapSystemError(static_cast<int>(written), result);
        return;
    }
    const std::int64_t timeoutMs =
        command.timeoutMs > 0 ? command.timeoutMs : kKernelDefaultTimeoutMs;
    const std::int64_t deadline = io_.nowMs() + timeoutMs + kDeadlineMarginMs;
    for (;;) {
        const int ready = io_.pollIn(fd_, kPollMs);
        if (ready > 0) {
            const long n = io_.read(fd_, &hdr, sizeof hdr);
            if (n < 0)
                mapSystemError(static_cast<int>(n), result);
            else
                mapSgResult(hdr, sense, result);
            return;
        }
        if (ready < 0) {
            mapSystemError(ready, result);
            return;
        }
        if (abort != nullptr && abort->requested.exchange(false)) {
            // A device reset makes the drive drop the command; the kernel must not escalate
            // it to resets of the bus or host, which would hit other devices.
            const int rc = reset(SG_SCSI_RESET_DEVICE);
            if (rc >= 0) {
                close();
                result.status = kSsAborted;
                return;
            }
            // Refused (no rights, or a kernel that cannot reset without escalating): the
            // command goes on to its end or deadline, and the caller is told.
            abort->refusedError.store(-rc);
        }
        if (io_.nowMs() >= deadline) {
            close();
            result.status = kSsErr;
            result.haStatus = kHaStatusTimeout;
            result.targetStatus = 0;
            result.sense.fill(0);
            result.failure = &msg::kTimedOut;
            return;
        }
    }
}

} // namespace tarnvel::scsi
