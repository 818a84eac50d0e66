#include "scsi/ScsiStatus.h"

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

} // namespace tarnvel::scsi
