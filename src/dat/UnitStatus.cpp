#include "dat/UnitStatus.h"

#include "dat/DatMessages.h"

#include <cstdio>

namespace tarnvel::dat {

const char* unitStatusLogName(UnitStatus status)
{
    static constexpr const char* kNames[] = {"READY",        "BUSY",         "NOT_READY",
                                             "TAPE_NONE",    "TAPE_EJECTED", "RESET",
                                             "TAPE_CHANGED", "HARDWARE_ERR"};
    if (status <= kUnitHardwareErr)
        return kNames[status];
    if (status == kUnitUndefined)
        return "UNDEFINED";
    return "???";
}

const char* unitStatusText(UnitStatus status)
{
    static constexpr const MessagePair* kTexts[] = {
        &msg::kStatusReady,       &msg::kStatusBusy,         &msg::kStatusNotReady,
        &msg::kStatusNoTape,      &msg::kStatusEjected,      &msg::kStatusReset,
        &msg::kStatusTapeChanged, &msg::kStatusHardwareError};
    if (status <= kUnitHardwareErr)
        return tr(*kTexts[status]);
    if (status == kUnitSenseKeyBase)
        return "";
    return tr(msg::kStatusUnknown);
}

std::string unitStatusDetail(UnitStatus status, const char* senseSummary)
{
    if (status <= kUnitHardwareErr || status == kUnitSenseKeyBase)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, tr(msg::kStatusDetail), status, senseSummary);
    return text;
}

} // namespace tarnvel::dat
