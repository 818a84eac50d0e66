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
inline constexpr MessagePair kPermissionDenied{"", "Permission denied"};
inline constexpr MessagePair kDeviceBusy{"", "Device busy"};
inline constexpr MessagePair kNoRawIo{"", "No raw I/O rights"};
inline constexpr MessagePair kIncompleteTransfer{"", "Incomplete data transfer"};

// What a failed open or call on a device node means; the drive list and the log show them
// after the node's path ("/dev/sg3: ...").
inline constexpr MessagePair kExplainPermission{
    "", "Permission denied (add the user to the group that owns it, usually tape)"};
inline constexpr MessagePair kExplainBusy{"", "busy (another program has the drive open)"};
inline constexpr MessagePair kExplainRawIo{"", "needs raw I/O rights; use the generic node"};
inline constexpr MessagePair kPathProblem{"", "%s: %s"};

// An abort the kernel refused (device resets need administrator rights).
inline constexpr MessagePair kAbortNoPermission{"", "Unable to abort the command (no permission)"};
inline constexpr MessagePair kAbortFailed{"", "Unable to abort the command (%s)"};

// A found device: host adapter, target, vendor, product, revision.
inline constexpr MessagePair kDeviceLine{"", "[%d:%d] %s %s %s"};

} // namespace tarnvel::scsi::msg
