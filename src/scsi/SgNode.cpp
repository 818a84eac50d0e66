#include "scsi/SgNode.h"

#include "scsi/KernelStatus.h"
#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"
#include "scsi/SgHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace tarnvel::scsi {

namespace {
// Read-only on the tape node: the tape driver refuses a read-write open of a write-protected
// tape, and only the claim (or, as a fallback, SG_IO) is wanted from it. Non-blocking: the
// tape driver refuses a blocking open of a drive without tape.
constexpr int kTapeFlags = O_RDONLY | O_NONBLOCK;
// Read-write on the generic node: the sg driver filters commands on read-only opens.
constexpr int kGenericFlags = O_RDWR | O_NONBLOCK;

// A 32-bit program passes the 32-bit layout of the header to write() and read(); a 64-bit
// kernel before 5.6 reads only its own layout there and refuses the shorter header.
constexpr bool kCompatBuild = sizeof(void*) < 8;

bool isOfflineState(const std::string& state)
{
    // An empty answer: the device's folder is gone (it was removed).
    return state.empty() || state == "offline" || state == "transport-offline";
}
} // namespace

SgNode::SgNode(SgIo& io, Kind kind, std::string path, std::string claimPath,
               std::string sysfsDevice)
    : io_(io), kind_(kind), path_(std::move(path)), claimPath_(std::move(claimPath)),
      statePath_(sysfsDevice.empty() ? std::string() : sysfsDevice + "/state"),
      claimWanted_(!claimPath_.empty())
{
}

SgNode::~SgNode()
{
    // A command still held by the kernel becomes an orphan: the sg driver drops its reply
    // instead of copying into our buffers.
    close();
    if (claimFd_ >= 0)
        io_.close(claimFd_);
}

void SgNode::close()
{
    if (fd_ >= 0)
        io_.close(fd_);
    fd_ = -1;
    stalled_ = false;
}

void SgNode::release()
{
    if (stalled_)
        return;
    close();
    if (claimFd_ >= 0)
        io_.close(claimFd_);
    claimFd_ = -1;
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

bool SgNode::deviceOffline()
{
    return !statePath_.empty() && isOfflineState(io_.readSmallFile(statePath_.c_str()));
}

bool SgNode::settleGivenUp(ScsiResult& result)
{
    const int ready = io_.pollIn(fd_, 0);
    if (ready > 0) {
        // The reply goes into the buffers the command was given, which are ours.
        sg_io_hdr_t hdr{};
        const long n = io_.read(fd_, &hdr, sizeof hdr);
        if (n < 0) {
            close(); // the device was removed (ENODEV)
            result.note = &msg::kDriveGone;
            return true;
        }
        stalled_ = false;
        result.note = &msg::kLateReply;
        result.lateReply = true;
        result.lateTargetStatus = hdr.status;
        result.lateHostStatus = hdr.host_status;
        result.lateDriverStatus = static_cast<std::uint8_t>(hdr.driver_status);
        // The kernel's error handling may have reset the drive to get the command back.
        if (hdr.host_status != kDidOk)
            result.deviceReset = true;
        return true;
    }
    if (ready < 0 || deviceOffline()) {
        // Offline or gone, the drive runs nothing more: commands may go (and fail at once).
        close();
        result.note = &msg::kDriveGone;
        return true;
    }
    return false;
}

void SgNode::execute(const ScsiCommand& command, AbortState* abort, ScsiResult& result)
{
    if (stalled_ && !settleGivenUp(result)) {
        result.status = kSsErr;
        result.failure = &msg::kNotAnswering;
        result.note = &msg::kWaitingForRecovery;
        return;
    }
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
    const bool hasData = command.length > 0 && command.direction != DataDirection::None;
    if (hasData && data_.size() < command.length)
        data_.resize(command.length);
    if (hasData && command.direction == DataDirection::Out)
        std::memcpy(data_.data(), command.buffer, command.length);
    else if (hasData)
        std::memset(data_.data(), 0, command.length); // a short reply leaves nothing stale
    ScsiCommand own = command;
    own.buffer = hasData ? data_.data() : nullptr;
    sense_.fill(0);
    sg_io_hdr_t hdr;
    prepareSgHeader(hdr, own, sense_.data(), ++packId_);
    const long written = io_.write(fd_, &hdr, sizeof hdr);
    if (written < 0) {
        mapHeaderWriteError(static_cast<int>(written), kCompatBuild, result);
        return;
    }
    const std::int64_t timeoutMs =
        command.timeoutMs > 0 ? command.timeoutMs : kKernelDefaultTimeoutMs;
    const std::int64_t deadline = io_.nowMs() + timeoutMs + kDeadlineMarginMs;
    bool resetMade = false;
    for (;;) {
        const int ready = io_.pollIn(fd_, kPollMs);
        if (ready > 0) {
            const long n = io_.read(fd_, &hdr, sizeof hdr);
            if (n < 0) {
                mapSystemError(static_cast<int>(n), result);
                return;
            }
            mapSgResult(hdr, sense_.data(), result);
            if (hasData && command.direction == DataDirection::In) {
                const std::int64_t resid = std::clamp<std::int64_t>(hdr.resid, 0, command.length);
                std::memcpy(command.buffer, data_.data(),
                            static_cast<std::size_t>(command.length - resid));
            }
            if (resetMade) {
                // Say what the reset did: a drive behind a USB bridge finishes the command first
                // and may then report it as aborted all the same.
                result.deviceReset = true;
                AbortOutcome outcome = AbortOutcome::CompletedBeforeReset;
                if (result.status == kSsComp) {
                    result.note = &msg::kResetAfterCompletion;
                } else {
                    result.status = kSsAborted;
                    outcome = behindUsbBridge_ ? AbortOutcome::StoppedBehindBridge
                                               : AbortOutcome::Stopped;
                    result.note =
                        behindUsbBridge_ ? &msg::kResetStoppedBehindBridge : &msg::kResetStopped;
                }
                abort->outcome.store(outcome);
            }
            return;
        }
        if (ready < 0) {
            mapSystemError(ready, result);
            close();
            return;
        }
        if (abort != nullptr && abort->requested.exchange(false)) {
            // A logical unit reset: the drive drops what it is doing and its state (its mode
            // among it). The kernel must not escalate it to resets of the bus or host, which
            // would hit other devices. The command's reply still comes and says what happened.
            const int rc = reset(SG_SCSI_RESET_DEVICE);
            if (rc >= 0)
                resetMade = true;
            else
                abort->refusedError.store(-rc); // the command goes on to its end or deadline
        }
        if (io_.nowMs() >= deadline) {
            // Given up, but still the kernel's: the node keeps it (and its buffers) until its
            // reply comes, and sends nothing more meanwhile.
            stalled_ = true;
            result.status = kSsErr;
            result.haStatus = kHaStatusTimeout;
            result.targetStatus = 0;
            result.sense.fill(0);
            result.failure = &msg::kTimedOut;
            result.note = &msg::kWaitingForRecovery;
            if (resetMade) {
                result.deviceReset = true;
                abort->outcome.store(AbortOutcome::NoReply);
            }
            return;
        }
    }
}

} // namespace tarnvel::scsi
