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
inline constexpr MessagePair kNotConnected{"", "Drive not connected"};
inline constexpr MessagePair kNoSelection{"", "No answer to selection"};
inline constexpr MessagePair kAdapterRecovering{"", "Adapter recovering; try again"};
inline constexpr MessagePair kNotAnswering{"", "Drive does not answer"};
inline constexpr MessagePair kHeaderRefused{"", "Header refused (32-bit build)"};
inline constexpr MessagePair kAudioModeLost{"", "Audio mode lost after reset"};

// A command was given up at its deadline: the kernel still holds it (its error handling may
// run for minutes), so nothing more goes to the drive until its reply comes or the drive is
// gone. The status line and the log say so.
inline constexpr MessagePair kWaitingForRecovery{
    "", "The drive does not answer; waiting for the system to recover it..."};
// Log lines: what became of a command given up at its deadline, and of the drive.
inline constexpr MessagePair kLateReply{"", "The command given up at its deadline has ended:"};
inline constexpr MessagePair kDriveGone{"", "The drive is gone or offline; the command given up "
                                            "at its deadline will not answer."};
// A 32-bit program on a 64-bit kernel whose sg driver reads only its own header layout.
inline constexpr MessagePair kExplainHeaderSize{
    "", "the kernel's sg driver expects the header of a 64-bit program (kernels before 5.6); use "
        "a 64-bit build of Tarnvel"};
// After a reset the drive may be back in data mode; audio mode is set again before the next
// command that depends on it.
inline constexpr MessagePair kExplainModeLost{
    "", "The drive was reset; its audio mode could not be set again, so the command was not sent."};

// What a failed open or call on a device node means; the drive list and the log show them
// after the node's path ("/dev/sg3: ...").
inline constexpr MessagePair kExplainPermission{
    "", "Permission denied (add the user to the group that owns it, usually tape)"};
inline constexpr MessagePair kExplainBusy{"", "busy (another program has the drive open)"};
inline constexpr MessagePair kExplainRawIo{"", "needs raw I/O rights; use the generic node"};
inline constexpr MessagePair kPathProblem{"", "%s: %s"};

inline constexpr MessagePair kExplainRecovering{
    "", "the adapter is recovering from an error; try again"};
inline constexpr MessagePair kExplainNotSupported{"", "not supported by this kernel"};

// An abort the kernel refused (device resets need administrator rights; kernels before 3.19
// refuse the no-escalation flag; the adapter may be in its own error recovery).
inline constexpr MessagePair kAbortNoPermission{"", "Unable to abort the command (no permission)"};
inline constexpr MessagePair kAbortNotSupported{
    "", "Unable to abort the command (not supported by this kernel)"};
inline constexpr MessagePair kAbortFailed{"", "Unable to abort the command (%s)"};

// The abort dialog: Escape (or closing the window) while a drive command runs. The first
// question only waits; a reset of the drive is asked for separately, since it resets the
// drive's whole state, not one command.
inline constexpr MessagePair kCommandAndQuestion{"", "%s\n\n%s"};
inline constexpr MessagePair kTryAbort{"", "Now executing SCSI command above.\n Try to abort?"};
inline constexpr MessagePair kAbortFailedTryAgain{
    "", "Abort failed.\n Try to abort again?\n\n(If you click NO, then close as it stands.)"};
inline constexpr MessagePair kResetQuestion{
    "", "The command has not ended.\n Reset the drive to stop it?\n\n(A reset clears the "
        "drive's state; its audio mode is set again before the next command. If you click NO, "
        "then close as it stands.)"};
// What a reset did to the command (told after it, and written to the log).
inline constexpr MessagePair kResetStopped{"", "The drive was reset; the command was stopped."};
inline constexpr MessagePair kResetStoppedBehindBridge{
    "", "The drive was reset and reports the command as stopped; behind a USB bridge it may "
        "have run to its end first (check where the tape is)."};
inline constexpr MessagePair kResetAfterCompletion{
    "", "The drive was reset, but the command had already completed."};
inline constexpr MessagePair kResetNoReply{"", "The drive was reset, but the command has not "
                                               "ended."};

// Replaying a recorded exchange (--drive replay:FILE). The replay stops at the first command
// that differs from the recording; that command and every later one fail with the short text.
inline constexpr MessagePair kReplayStopped{"", "Replay differs"};
inline constexpr MessagePair kNotInRecording{"", "Device not in the recording"};
inline constexpr MessagePair kReplayDiffers{
    "", "Replay differs at command %ld: sent CDB %s, recorded CDB %s"};
inline constexpr MessagePair kReplayEnded{
    "", "Replay differs at command %ld: sent CDB %s, recorded CDB none (the recording ends)"};
inline constexpr MessagePair kReplayDataDiffers{
    "", "Replay differs at command %ld: sent CDB %s with other data than recorded (first "
        "difference at byte %u)"};
inline constexpr MessagePair kReplayBusReset{
    "", "Replay differs at command %ld: sent a bus reset, recorded CDB %s"};
inline constexpr MessagePair kReplayBadRecording{"", "Replay stops at command %ld: %s: %s"};
inline constexpr MessagePair kReplayFileProblem{"", "%s: %s"};

// A found device: host adapter, target, vendor, product, revision.
inline constexpr MessagePair kDeviceLine{"", "[%d:%d] %s %s %s"};

} // namespace tarnvel::scsi::msg
