#include "scsi/ScsiStatus.h"

#include "scsi/ScsiMessages.h"

#include <cerrno>
#include <cstring>

namespace tarnvel::scsi {

const char* statusText(std::uint8_t status)
{
    switch (status) {
    case kSsPending:
        return "SS_PENDING";
    case kSsComp:
        return "";
    case kSsAborted:
        return "SS_ABORTED";
    case kSsErr:
        return "SS_ERR";
    case kSsInvalidCmd:
        return "SS_INVALID_CMD";
    case kSsInvalidHa:
        return "SS_INVALID_HA";
    case kSsNoDevice:
        return "SS_NO_DEVICE";
    case kSsInvalidSrb:
        return "SS_INVALID_SRB";
    case kSsBufferAlign:
        return "SS_BUFFER_ALIGN";
    case kSsIllegalMode:
        return "SS_ILLEGAL_MODE";
    case kSsNoAspi:
        return "SS_NO_ASPI";
    case kSsFailedInit:
        return "SS_FAILED_INIT";
    case kSsAspiIsBusy:
        return "SS_ASPI_IS_BUSY";
    case kSsBufferTooBig:
        return "SS_BUFFER_TOO_BIG";
    case kSsMismatchedComponents:
        return "SS_MISMATCHED_COMPONENTS";
    case kSsNoAdapters:
        return "SS_NO_ADAPTERS";
    case kSsInsufficientResources:
        return "SS_INSUFFICIENT_RESOURCES";
    default:
        return "Unknown Error";
    }
}

const char* explainSystemError(int error, char* buffer, std::size_t size)
{
    switch (error) {
    case EACCES:
        return tr(msg::kExplainPermission);
    case EBUSY:
        return tr(msg::kExplainBusy);
    case EPERM:
        return tr(msg::kExplainRawIo);
    case EAGAIN:
        return tr(msg::kExplainRecovering);
    default:
        // GNU strerror_r returns the text (possibly not in buffer).
        return strerror_r(error, buffer, size);
    }
}

const char* explainResetError(int error, char* buffer, std::size_t size)
{
    switch (error) {
    case EINVAL:
        return tr(msg::kExplainNotSupported);
    case EAGAIN:
        return tr(msg::kExplainRecovering);
    default:
        return strerror_r(error, buffer, size);
    }
}

} // namespace tarnvel::scsi
