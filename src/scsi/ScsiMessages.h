#pragma once

#include "common/Message.h"

// User-visible texts of the SCSI transport. Log entries and status names are fixed tables
// (CommandLog.cpp, ScsiStatus.cpp) and not translated.
namespace tarnvel::scsi::msg {

// Start-up code -1 in ASPI mode: the kernel's SCSI generic driver is missing.
inline constexpr MessagePair kAspiNotFound{"", "ASPI (SCSI generic driver sg) not found."};

// Short descriptions of failures the status bytes cannot tell; they stand in the sense
// summary of the error line (at most 29 characters).
inline constexpr MessagePair kTimedOut{"", "Command timed out"};
inline constexpr MessagePair kPassThroughFailed{"", "Pass-through call failed"};
inline constexpr MessagePair kDeviceUnavailable{"", "Device not available"};
inline constexpr MessagePair kInvalidRequest{"", "Invalid command request"};

// A found device: host adapter, target, vendor, product, revision.
inline constexpr MessagePair kDeviceLine{"", "[%d:%d] %s %s %s"};

} // namespace tarnvel::scsi::msg
