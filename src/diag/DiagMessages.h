#pragma once

#include "common/Message.h"

// Texts of the drive check: step names, what each step found, and plain explanations of what
// went wrong and what to do.
namespace tarnvel::diag::msg {

// Step names.
inline constexpr MessagePair kStepDevice{"", "Device"};
inline constexpr MessagePair kStepPermissions{"", "Permissions"};
inline constexpr MessagePair kStepInquiry{"", "Inquiry"};
inline constexpr MessagePair kStepTestUnitReady{"", "Test unit ready"};
inline constexpr MessagePair kStepAudioMode{"", "Audio mode"};
inline constexpr MessagePair kStepDataMode{"", "Back to data mode"};
inline constexpr MessagePair kStepModeSense{"", "Mode sense"};
inline constexpr MessagePair kStepUnitStatus{"", "Unit status"};
inline constexpr MessagePair kStepLoad{"", "Load"};
inline constexpr MessagePair kStepPosition{"", "Position"};
inline constexpr MessagePair kStepRead{"", "Read 100 frames"};
inline constexpr MessagePair kStepLocatePno{"", "Locate program number"};
inline constexpr MessagePair kStepLocateAbs{"", "Locate ABS time"};
inline constexpr MessagePair kStepFastForward{"", "Fast forward"};
inline constexpr MessagePair kStepRecord{"", "Record 10 seconds"};
inline constexpr MessagePair kStepReadBack{"", "Read back"};
inline constexpr MessagePair kStepRewind{"", "Rewind"};
inline constexpr MessagePair kStepRestore{"", "Data mode restored"};

inline constexpr MessagePair kPass{"", "PASS"};
inline constexpr MessagePair kFail{"", "FAIL"};
inline constexpr MessagePair kSkip{"", "SKIP"};

// The report.
inline constexpr MessagePair kReportTitle{"", "Tarnvel drive check"};
inline constexpr MessagePair kReportWrites{"", "Writes: none (a read-only check)"};
inline constexpr MessagePair kReportWritesTone{
    "", "Writes: 10 seconds of a tone with a START ID at the end of the recording (--write)"};
inline constexpr MessagePair kSummaryBegin{"", "---- Summary (paste this into a bug report) ----"};
inline constexpr MessagePair kSummaryEnd{"", "---- End of summary ----"};
inline constexpr MessagePair kSummaryCounts{"", "Result: %d passed, %d failed, %d skipped"};
inline constexpr MessagePair kExchangeIntro{
    "", "The full command exchange follows (every CDB, the data both ways in hex, status, sense "
        "and time); `tarnvel-cli --drive replay:THIS-FILE drive-check` replays it."};
inline constexpr MessagePair kWriteWarning{
    "", "This check records 10 seconds of a tone with a START ID at the end of the recording on "
        "the tape in the drive (over an END ID there)."};

// Device and permissions.
inline constexpr MessagePair kNoDrive{"", "No tape drive was found."};
inline constexpr MessagePair kExplainNoDrive{
    "", "Check that the drive is switched on and connected, then look for it with `ls "
        "/sys/class/scsi_tape/` and `cat /proc/scsi/scsi`. Switch the drive on before the "
        "computer, or rescan the bus (for example `echo \"- - -\" | sudo tee "
        "/sys/class/scsi_host/host*/scan`)."};
inline constexpr MessagePair kNodeLine{"", "Node: %s"};
inline constexpr MessagePair kCommandsThrough{"", "Commands go through: %s"};
inline constexpr MessagePair kModeSpti{"", "Mode: SPTI (the tape device, held while in use)"};
inline constexpr MessagePair kModeAspi{"", "Mode: ASPI (the SCSI generic device)"};
inline constexpr MessagePair kInProcess{"", "A simulated drive inside the program"};
inline constexpr MessagePair kAddressLine{"", "Address: host %d, target %d, LUN %d"};
inline constexpr MessagePair kOtherDevice{"", "Also found: %s"};
inline constexpr MessagePair kGroupLine{"", "Group of the device: %s"};
inline constexpr MessagePair kNodeOpens{"", "The device opens for commands."};
inline constexpr MessagePair kNoRightsNeeded{"", "A simulated drive needs no rights."};
inline constexpr MessagePair kExplainJoinGroup{
    "", "Add yourself to the group %s and log in again: sudo usermod -aG %s $USER"};
inline constexpr MessagePair kExplainUdevRule{
    "", "If the generic device is not in the group tape, a udev rule gives it to that group, "
        "for example in /etc/udev/rules.d/60-tape-generic.rules:\n  SUBSYSTEM==\"scsi_generic\", "
        "SUBSYSTEMS==\"scsi\", ATTRS{type}==\"1\", GROUP=\"tape\", MODE=\"0660\"\nthen: sudo "
        "udevadm control --reload && sudo udevadm trigger"};
inline constexpr MessagePair kExplainBusy{
    "", "Another program has the drive open (a backup program, `mt`, another copy of Tarnvel). "
        "Close it and run the check again."};
inline constexpr MessagePair kExplainRawIo{
    "", "The drive has no SCSI generic device, and the tape driver takes raw commands from the "
        "administrator only. Load the generic driver: sudo modprobe sg (and add sg to "
        "/etc/modules-load.d/ to keep it)."};
inline constexpr MessagePair kSkipUnusable{"", "The drive cannot be used (see %s)."};
inline constexpr MessagePair kSkipNoAnswer{"", "The drive does not answer (see %s)."};
inline constexpr MessagePair kSkipNoAudioMode{"", "The drive is not in audio mode (see %s)."};
inline constexpr MessagePair kSkipNoTape{"", "No tape is ready in the drive (see %s); put in a "
                                             "recorded tape to check reading and winding."};
inline constexpr MessagePair kSkipBlank{"", "Nothing is recorded on the tape (see %s)."};
inline constexpr MessagePair kSkipNoFrames{"", "No frame could be read (see %s)."};
inline constexpr MessagePair kSkipStopped{"", "The check was stopped."};
inline constexpr MessagePair kSkipNoWrite{"", "Not asked for: the check writes only with --write."};

// Drive answers.
inline constexpr MessagePair kFailedCommand{"", "Failed command:%s"};
inline constexpr MessagePair kVendorLine{"", "Vendor: %s"};
inline constexpr MessagePair kProductLine{"", "Product: %s"};
inline constexpr MessagePair kFirmwareLine{"", "Firmware: %s"};
inline constexpr MessagePair kTypeLine{"", "Device type: %d (%s)"};
inline constexpr MessagePair kSdt9000{"", "An SDT-9000: it stays in audio mode at the end."};
inline constexpr MessagePair kNotTape{"", "This is no tape drive (device type %d)."};
inline constexpr MessagePair kExplainNoAnswer{
    "", "The drive did not answer the command. Check the cable, the terminator and the power; "
        "the host and driver status above tell what the system saw."};
inline constexpr MessagePair kUnitStatusLine{"", "Unit status:%s"};
inline constexpr MessagePair kUnitAttentionNormal{
    "", "A unit attention is normal after the drive was switched on, reset or given a tape."};
inline constexpr MessagePair kExplainHardware{
    "", "The drive reports a hardware error: switch it off and on, then run the check again."};
inline constexpr MessagePair kModeSelectLine{"",
                                             "MODE SELECT density 0x%02X, block length 512: %s"};
inline constexpr MessagePair kAccepted{"", "accepted"};
inline constexpr MessagePair kRefused{"", "refused"};
inline constexpr MessagePair kDensityReadBack{"", "Density read back: 0x%02X"};
inline constexpr MessagePair kExplainNoAudio{
    "", "The drive did not take audio mode (density 0x80): it is no audio-capable DDS drive, its "
        "firmware has no audio mode, or it wants a tape in first. A default density of the tape "
        "driver can also take it out of audio mode (see \"A default density of the tape driver\" "
        "in the manual)."};
inline constexpr MessagePair kExplainNoDataMode{
    "", "The drive refused to go back to data mode; backup software may find it in audio mode. "
        "Switch it off and on."};
inline constexpr MessagePair kAudioAgain{"", "Audio mode again: %s"};
inline constexpr MessagePair kModeDataLine{"", "Mode data: %s"};
inline constexpr MessagePair kModeFields{
    "", "Medium type 0x%02X, device-specific 0x%02X%s, density 0x%02X, blocks %u, block length %u"};
inline constexpr MessagePair kWriteProtected{"", " (write-protected)"};
inline constexpr MessagePair kExplainModeData{
    "", "The drive reports another density or block length than audio mode asks for."};
inline constexpr MessagePair kNotReadyLong{"", "The tape did not become ready within 30 seconds."};
inline constexpr MessagePair kLoadedIn{"", "Loaded and ready in %s"};
inline constexpr MessagePair kPositionRaw{"", "Reply: %s"};
inline constexpr MessagePair kSdt9000NoPosition{
    "", "An SDT-9000 reports no position after a load until it has read a frame."};
inline constexpr MessagePair kFormatLine{"", "Format: %s"};
inline constexpr MessagePair kIdsLine{"", "IDs: %s"};
inline constexpr MessagePair kFlagsNone{"", "Error flags: none"};
inline constexpr MessagePair kFlagsLine{
    "", "Error flags: %d frames interpolated (left only %d, right only %d, both %d)"};
inline constexpr MessagePair kFlaggedAt{"", "Interpolated at: %s"};
inline constexpr MessagePair kUnreadableLine{"",
                                             "Unreadable frames (medium error): %d, at frames %s"};
inline constexpr MessagePair kAbsFirstLast{"", "ABS time of the first frame %s, of the last %s"};
inline constexpr MessagePair kFramesRead{"", "Frames read: %d"};
inline constexpr MessagePair kEndAfter{"", "The recording ends after %d frames (%s)."};
inline constexpr MessagePair kBlankTape{"", "The tape is blank here: %s"};
inline constexpr MessagePair kExplainBlank{
    "", "Nothing is recorded where the tape starts; put in a recorded tape to check reading."};
inline constexpr MessagePair kExplainReadFailed{
    "", "The drive could not read frames in audio mode. A tape recorded on a DAT deck should "
        "read; \"Unknown Format 30 01\" on a recorded tape means the drive is not in audio mode."};
inline constexpr MessagePair kTooManyUnreadable{
    "", "Ten frames in a row could not be read: a damaged tape or dirty heads (use a cleaning "
        "cassette)."};
inline constexpr MessagePair kTargetLine{"", "Target: %s"};
inline constexpr MessagePair kStoppedAt{"", "Stopped at: %s"};
inline constexpr MessagePair kTookLine{"", "Took: %s"};
inline constexpr MessagePair kPnoNotOnTape{
    "", "Program number %d is not on this tape: the search ended elsewhere."};
inline constexpr MessagePair kAbsOff{"", "%d frames from the target"};
inline constexpr MessagePair kExplainAbsFar{
    "", "The drive stopped far from the time asked for: its locate by ABS time may not work in "
        "audio mode."};
inline constexpr MessagePair kExplainMotion{"", "The motion ended with an error (see above)."};
inline constexpr MessagePair kNoPositionAfter{"", "No position could be read after the motion."};
inline constexpr MessagePair kNotAtEnd{
    "", "The fast forward did not stop at the end of the recording (an END ID, or where nothing "
        "more is recorded): nothing was recorded, so that no recording is overwritten."};
inline constexpr MessagePair kRecordedAt{"", "Recorded %d frames from ABS %s as program %d"};
inline constexpr MessagePair kExplainWriteFailed{
    "", "The drive could not record: a write-protected cassette (\"Data Protect 27 00\"), the "
        "end of the tape, or a drive that does not write in audio mode."};
inline constexpr MessagePair kReadBackLine{"", "Compared %d frames: %d differ"};
inline constexpr MessagePair kExplainReadBack{
    "", "What was read back is not what was recorded: dirty heads, a worn tape, or a drive that "
        "does not record audio correctly."};
inline constexpr MessagePair kRestoreLine{"", "MODE SELECT density 0x00 (data mode): %s"};
inline constexpr MessagePair kRestoreNothing{"", "The drive was not switched to audio mode."};
inline constexpr MessagePair kAudioModeForDeck{"", "Audio mode set again for the deck: %s"};

// The desktop program: Help → "Check the drive...".
inline constexpr MessagePair kUserManualMenu{"", "User manual"};
inline constexpr MessagePair kCheckDriveMenu{"", "Check the drive..."};
inline constexpr MessagePair kWindowTitle{"", "Check the drive"};
inline constexpr MessagePair kWindowIntro{
    "", "The check tests the drive step by step: its device and rights, its answers, audio mode, "
        "the tape (load, position, reading 100 frames, searches, winding), and puts the drive "
        "back in audio mode for the deck at the end. It does not record. Put in a recorded tape "
        "first. Save the report and send it with a bug report."};
inline constexpr MessagePair kStart{"", "Start"};
inline constexpr MessagePair kStop{"", "Stop"};
inline constexpr MessagePair kSaveReport{"", "Save report..."};
inline constexpr MessagePair kClose{"", "Close"};
inline constexpr MessagePair kRunningStep{"", "Checking: %s..."};
inline constexpr MessagePair kStopping{"", "Stopping after this step..."};
inline constexpr MessagePair kFinished{"", "Done: %d passed, %d failed, %d skipped."};
inline constexpr MessagePair kDeckBusy{"", "Stop the deck first: the check needs the drive."};
inline constexpr MessagePair kReportFiles{"", "Text files (*.txt)"};

// The command line.
inline constexpr MessagePair kWriteNeedsYes{
    "", "--write records on the tape in the drive: give --yes as well to confirm."};
inline constexpr MessagePair kReportSaved{"", "Report: %s"};
inline constexpr MessagePair kReportNotSaved{"", "Unable to write the report %s: %s"};

} // namespace tarnvel::diag::msg
