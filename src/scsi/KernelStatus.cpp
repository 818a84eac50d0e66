#include "scsi/KernelStatus.h"

#include "scsi/CommandLog.h"

#include <iterator>

namespace tarnvel::scsi {

namespace {

struct HostCode {
    const char* name;
    const char* reason;
};

// Indexed by the host code; the reasons are what the code most often means for a tape drive
// on a parallel bus or behind a USB bridge.
constexpr HostCode kHostCodes[] = {
    {"DID_OK", ""},
    {"DID_NO_CONNECT", "the drive is not connected or was switched off"},
    {"DID_BUS_BUSY", "the bus stayed busy"},
    {"DID_TIME_OUT", "the command timed out"},
    {"DID_BAD_TARGET", "no such device on the adapter"},
    {"DID_ABORT", "the command was aborted (by a reset or by the adapter)"},
    {"DID_PARITY", "parity error on the bus (check the cable and the termination)"},
    {"DID_ERROR", "transport error on the adapter"},
    {"DID_RESET", "the bus or the drive was reset"},
    {"DID_BAD_INTR", "unexpected interrupt on the adapter"},
    {"DID_PASSTHROUGH", "internal code of the SCSI layer"},
    {"DID_SOFT_ERROR", "transport error on the adapter (it asked for a retry)"},
    {"DID_IMM_RETRY", "the adapter asked for a retry"},
    {"DID_REQUEUE", "the adapter asked for a retry"},
    {"DID_TRANSPORT_DISRUPTED", "the link to the drive was disrupted and is being recovered"},
    {"DID_TRANSPORT_FAILFAST", "the link to the drive failed"},
    {"DID_TARGET_FAILURE", "permanent failure of the drive"},
    {"DID_NEXUS_FAILURE", "the drive refused this connection (reserved by another host)"},
    {"DID_ALLOC_FAILURE", "space allocation on the device failed"},
    {"DID_MEDIUM_ERROR", "medium error"},
    {"DID_TRANSPORT_MARGINAL", "the link to the drive is unreliable"},
};

constexpr const char* kDriverNames[16] = {
    "DRIVER_OK",    "DRIVER_BUSY",    "DRIVER_SOFT",    "DRIVER_MEDIA",
    "DRIVER_ERROR", "DRIVER_INVALID", "DRIVER_TIMEOUT", "DRIVER_HARD",
    "DRIVER_SENSE", "DRIVER_?",       "DRIVER_?",       "DRIVER_?",
    "DRIVER_?",     "DRIVER_?",       "DRIVER_?",       "DRIVER_?",
};

constexpr const char* kSuggestionNames[16] = {
    "",          "SUGGEST_RETRY", "SUGGEST_ABORT", "SUGGEST_REMAP", "SUGGEST_DIE", "SUGGEST_?",
    "SUGGEST_?", "SUGGEST_?",     "SUGGEST_SENSE", "SUGGEST_?",     "SUGGEST_?",   "SUGGEST_?",
    "SUGGEST_?", "SUGGEST_?",     "SUGGEST_?",     "SUGGEST_?",
};

} // namespace

const char* hostStatusName(std::uint8_t host)
{
    return host < std::size(kHostCodes) ? kHostCodes[host].name : "DID_?";
}

const char* hostStatusReason(std::uint8_t host, bool answeredAtOnce)
{
    // A time-out long before the command's own: the adapter's selection went unanswered.
    if (host == kDidTimeOut && answeredAtOnce)
        return "no answer to selection: the drive is probably switched off";
    return host < std::size(kHostCodes) ? kHostCodes[host].reason : "unknown host code";
}

const char* driverStatusName(std::uint8_t driver)
{
    return kDriverNames[driver & kDriverStatusMask];
}

const char* driverSuggestionName(std::uint8_t driver)
{
    return kSuggestionNames[driver >> 4];
}

bool kernelStatusWorthShowing(std::uint8_t host, std::uint8_t driver)
{
    return host != kDidOk || (driver & ~kDriverSense) != 0;
}

void appendKernelStatus(TextBuilder& text, std::uint8_t host, std::uint8_t driver,
                        bool answeredAtOnce)
{
    text.appendf("Host status: 0x%02X %s", host, hostStatusName(host));
    if (host != kDidOk)
        text.appendf(" (%s)", hostStatusReason(host, answeredAtOnce));
    text.appendf("\nDriver status: 0x%02X %s", driver, driverStatusName(driver));
    if ((driver >> 4) != 0)
        text.appendf(" %s", driverSuggestionName(driver));
}

} // namespace tarnvel::scsi
