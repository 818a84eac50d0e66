#include "scsi/SgHeader.h"

#include "scsi/KernelStatus.h"
#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnvel::scsi {

namespace {

// What the kernel uses when a command carries no time-out.
constexpr unsigned kKernelDefaultTimeoutMs = 60000;

bool isUnitAttentionReset(const std::uint8_t* fixedSense)
{
    return (fixedSense[2] & 0x0F) == 0x06 && fixedSense[12] == 0x29;
}

// Commands whose length field is an allocation length: the device may send less than asked
// for (an INQUIRY of 44 bytes to a device with 36). Every other data-in length is what the
// command must deliver.
bool lengthIsAllocation(std::uint8_t opcode)
{
    switch (opcode) {
    case 0x03: // REQUEST SENSE
    case 0x12: // INQUIRY
    case 0x1A: // MODE SENSE(6)
    case 0x1C: // RECEIVE DIAGNOSTIC RESULTS
    case 0x3C: // READ BUFFER
    case 0x4D: // LOG SENSE
    case 0x5A: // MODE SENSE(10)
    case 0xA0: // REPORT LUNS
        return true;
    default:
        return false;
    }
}

} // namespace

void prepareSgHeader(sg_io_hdr_t& hdr, const ScsiCommand& command, std::uint8_t* senseBuffer,
                     int packId)
{
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    if (command.length == 0 || command.direction == DataDirection::None)
        hdr.dxfer_direction = SG_DXFER_NONE;
    else if (command.direction == DataDirection::In)
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    else
        hdr.dxfer_direction = SG_DXFER_TO_DEV;
    hdr.cmd_len = static_cast<unsigned char>(command.cdbLength);
    hdr.mx_sb_len = static_cast<unsigned char>(kSgSenseBufferBytes);
    hdr.dxfer_len = hdr.dxfer_direction == SG_DXFER_NONE ? 0 : command.length;
    hdr.dxferp = hdr.dxfer_direction == SG_DXFER_NONE ? nullptr : command.buffer;
    // The kernel only reads the CDB.
    hdr.cmdp = const_cast<unsigned char*>(command.cdb);
    hdr.sbp = senseBuffer;
    hdr.timeout = command.timeoutMs;
    hdr.pack_id = packId;
}

std::uint8_t mapHostStatus(std::uint8_t host)
{
    switch (host) {
    case kDidOk:
        return kHaStatusOk;
    case kDidNoConnect:
    case kDidBadTarget:
        return kHaStatusSelectionTimeout;
    case kDidTimeOut:
        return kHaStatusTimeout;
    case kDidParity:
        return kHaStatusParity;
    case kDidReset:
        return kHaStatusBusReset;
    default:
        return kHaStatusUnknown;
    }
}

void senseToFixed(const std::uint8_t* sense, std::size_t length, std::uint8_t* fixed)
{
    std::memset(fixed, 0, kFullSenseBytes);
    if (length == 0)
        return;
    const std::uint8_t code = sense[0] & 0x7F;
    if (code != 0x72 && code != 0x73) {
        std::memcpy(fixed, sense, std::min(length, kFullSenseBytes));
        return;
    }
    // Descriptor format: key, ASC, ASCQ in bytes 1-3, then descriptors from byte 8.
    fixed[0] = static_cast<std::uint8_t>(code == 0x72 ? 0x70 : 0x71);
    fixed[7] = 10;
    if (length > 1)
        fixed[2] = sense[1] & 0x0F;
    if (length > 3) {
        fixed[12] = sense[2];
        fixed[13] = sense[3];
    }
    const std::size_t total = length > 7 ? std::min<std::size_t>(length, 8u + sense[7]) : 0;
    std::size_t at = 8;
    while (at + 2 <= total) {
        const std::uint8_t type = sense[at];
        const std::size_t descLength = 2u + sense[at + 1];
        if (at + descLength > total)
            break;
        if (type == 0x00 && descLength >= 12) {
            // Information: the low 32 bits go to bytes 3-6; VALID from the descriptor.
            std::memcpy(fixed + 3, sense + at + 8, 4);
            if (sense[at + 2] & 0x80)
                fixed[0] |= 0x80;
        } else if (type == 0x04 && descLength >= 4) {
            // Stream commands: FILEMARK, EOM, ILI.
            fixed[2] |= sense[at + 3] & 0xE0;
        }
        at += descLength;
    }
}

void mapSgResult(const sg_io_hdr_t& hdr, const std::uint8_t* senseBuffer, ScsiResult& result)
{
    const std::uint8_t driver = hdr.driver_status & kDriverStatusMask;
    const bool timedOut = hdr.host_status == kDidTimeOut || driver == kDriverTimeout;
    result.hostStatus = hdr.host_status;
    result.driverStatus = static_cast<std::uint8_t>(hdr.driver_status);
    // The kernel's own measure of the command against its time-out: a selection nobody
    // answers fails within a second or so, a command that ran out of time only after it.
    const unsigned timeoutMs = hdr.timeout > 0 ? hdr.timeout : kKernelDefaultTimeoutMs;
    result.answeredAtOnce = hdr.duration < timeoutMs / 2;
    result.targetStatus = hdr.status;
    result.haStatus = timedOut ? kHaStatusTimeout : mapHostStatus(hdr.host_status);
    const bool ok =
        hdr.status == 0 && hdr.host_status == kDidOk && (driver == 0 || driver == kDriverSense);
    result.status = ok ? kSsComp : kSsErr;
    result.sense.fill(0);
    result.residualReported = hdr.dxfer_direction != SG_DXFER_NONE;
    result.residual = result.residualReported ? hdr.resid : 0;
    if (hdr.host_status == kDidReset)
        result.deviceReset = true;
    if (ok && hdr.dxfer_direction == SG_DXFER_FROM_DEV && hdr.resid > 0 && hdr.cmdp != nullptr &&
        !lengthIsAllocation(hdr.cmdp[0])) {
        result.status = kSsErr;
        result.haStatus = kHaStatusDataOverrun;
        result.failure = &msg::kIncompleteTransfer;
        return;
    }
    if (!ok && hdr.sb_len_wr > 0) {
        senseToFixed(senseBuffer, std::min<std::size_t>(hdr.sb_len_wr, kSgSenseBufferBytes),
                     result.sense.data());
        if (hdr.status == kTargetCheckCondition && isUnitAttentionReset(result.sense.data()))
            result.deviceReset = true;
    }
    if (hdr.host_status == kDidTimeOut && result.answeredAtOnce)
        result.failure = &msg::kNoSelection;
    else if (timedOut)
        result.failure = &msg::kTimedOut;
    else if (hdr.host_status == kDidNoConnect || hdr.host_status == kDidBadTarget)
        result.failure = &msg::kNotConnected;
    else if (!ok && hdr.status == 0 && hdr.host_status == kDidOk)
        result.failure = &msg::kPassThroughFailed; // the driver failed without a reason
}

void mapSystemError(int negativeErrno, ScsiResult& result)
{
    result.status = kSsErr;
    result.haStatus = kHaStatusOk;
    result.targetStatus = 0;
    result.sense.fill(0);
    const int error = -negativeErrno;
    result.systemError = error;
    switch (error) {
    case ENODEV:
    case ENXIO:
    case EBADF:
    case ENOENT:
        result.failure = &msg::kDeviceUnavailable;
        break;
    case EACCES:
        result.failure = &msg::kPermissionDenied;
        break;
    case EPERM:
        result.failure = &msg::kNoRawIo;
        break;
    case EBUSY:
        result.failure = &msg::kDeviceBusy;
        break;
    case EAGAIN:
        result.failure = &msg::kAdapterRecovering;
        break;
    default:
        result.failure = &msg::kPassThroughFailed;
        break;
    }
}

void mapHeaderWriteError(int negativeErrno, bool compatBuild, ScsiResult& result)
{
    mapSystemError(negativeErrno, result);
    if (compatBuild && negativeErrno == -EINVAL)
        result.failure = &msg::kHeaderRefused;
}

} // namespace tarnvel::scsi
