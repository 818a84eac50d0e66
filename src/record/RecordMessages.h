#pragma once

#include "common/Message.h"

// User-visible texts of recording, the lead-in and ID writing. Texts that begin with a blank
// go to the status lines.
namespace tarnvel::record::msg {

// Starting a recording.
inline constexpr MessagePair kUnableToOpenFile{"", "Unable to open file.\n\n%s"};
inline constexpr MessagePair kUnsupportedInput{
    "", "Unable to record.\n\n(Unsupported format:  %5ds/s %s%2dbit)"};
inline constexpr MessagePair kUnableToRecordDetail{"", "Unable to record.\n\n(%s)"};
inline constexpr MessagePair kUnableToPlayFile{"", "Unable to play.\n (%s)\n\n%s"};
inline constexpr MessagePair kUnableToRewind{"", "Unable to rewind.\n\nUnable to record."};
inline constexpr MessagePair kAbsNotFoundRecord{"", "ABS Time not found.\n\nUnable to record."};
inline constexpr MessagePair kUnableToReadFile{"", "Unable to read file.\n\n%s"};
inline constexpr MessagePair kRewinding{"", " Rewinding..."};
inline constexpr MessagePair kPositioning{"", " Positioning..."};
inline constexpr MessagePair kRecord{"", " [Record]"};
inline constexpr MessagePair kRecordFrom{"", " [Record] << %s"};
inline constexpr MessagePair kRecordFromPeer{"", " [Record] << %s%s"};
inline constexpr MessagePair kWave{"", "Wave"};
inline constexpr MessagePair kImage{"", "Image"};
inline constexpr MessagePair kRecFormat{"", "%5d / %2d"};
inline constexpr MessagePair kSaveWaveTitle{"", "Record to Wave file"};
inline constexpr MessagePair kSaveWaveFilter{"", "Wave file (*.WAV)|*.WAV"};

// The other instance.
inline constexpr MessagePair kPeerSourceName{"", "<DAT>"};
inline constexpr MessagePair kPeerBlockRefused{
    "", "Recording stopped: the other instance sent a block that cannot be used (%s)."};
// The sending instance closed the link before its end block (stopped, killed or crashed).
inline constexpr MessagePair kPeerSenderStopped{
    "", "Recording stopped: the other instance stopped sending before the end of its copy."};

// Lead-in.
inline constexpr MessagePair kNewTapeDetected{
    "", "New tape is detected.\nFor correct operation, it is necessary to write Lead-in "
        "area.\n\n"};
inline constexpr MessagePair kWriteLeadInQuestion{"", "Write Lead-in area?"};
inline constexpr MessagePair kWait{"", " Wait..."};
inline constexpr MessagePair kWritingLeadIn{"", " Writing Lead-in"};

// ID write and erase.
inline constexpr MessagePair kWriteIdStatus{"", " [Write ID]"};
inline constexpr MessagePair kEraseIdStatus{"", " [Erase ID]"};
inline constexpr MessagePair kReading{"", " Reading..."};
inline constexpr MessagePair kWriting{"", " Writing..."};
inline constexpr MessagePair kWithFailure{"", "%s\n\n%s"};
inline constexpr MessagePair kIdFailed{"", "Write/Erase ID failed."};
inline constexpr MessagePair kAbsNotFound{"", "ABS Time not found."};
inline constexpr MessagePair kLeadInOrTooClose{"", "Lead-in area, or too close."};
inline constexpr MessagePair kIdNotFound{"", "ID not found."};
inline constexpr MessagePair kUnableToReadData{"", "Unable to read data."};
inline constexpr MessagePair kUnableToEraseEnd{
    "", "Unable to erase END ID.\n\nPlease overwrite with Recording."};
inline constexpr MessagePair kIdNoiseWarning{
    "", "When Write/Erase ID, it will be written a unrecoverable noise at the end of the ID\n"
        "because of the restriction of write method of the DDS drive.\n\nContinue?"};
// An END ID cannot be erased: it is asked for like the other IDs.
inline constexpr MessagePair kEndIdQuestion{
    "", "An END ID ends play and archiving at this point; it cannot be erased, only recorded "
        "over.\n\nWrite END ID?"};
// A START ID needs a number the tape can carry.
inline constexpr MessagePair kPNoOutOfRange{"", "Program number must be 1-799."};
// The frames read back do not hold the frame the ID was to start at.
inline constexpr MessagePair kIdFrameNotRead{"", "The ID position was not found on the tape."};

// Virtual ID mode.
inline constexpr MessagePair kVirtualIdQuestion{
    "", "Current ID mode is Virtual ID Mode, therefore, ID will not be written to the tape.\n\n"
        "Do you want to turn off Virtual ID Mode?   (If you click NO, it will be recorded with "
        "Virtual ID mode.)"};

} // namespace tarnvel::record::msg
