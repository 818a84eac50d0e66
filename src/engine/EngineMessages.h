#pragma once

#include "common/Message.h"

// User-visible texts of the deck engine. Texts that begin with a blank go to the status
// lines, which indent by one blank.
namespace tarnvel::engine::msg {

// Playback.
inline constexpr MessagePair kPlay{"", " [Play]"};
inline constexpr MessagePair kPlayToFile{"", " [Play] >> %s"};
inline constexpr MessagePair kPlayToPeer{"", " [Play] >> %s%s"};
inline constexpr MessagePair kWave{"", "Wave"};
inline constexpr MessagePair kImage{"", "Image"};
inline constexpr MessagePair kUnableToPlay{"", "Unable to play."};
inline constexpr MessagePair kMessageWithDetail{"", "%s\n\n(%s)"};
inline constexpr MessagePair kErrorLimit{"", " error frames exceed limit."};
inline constexpr MessagePair kErrorLimitLeft{"", "%s (L)"};
inline constexpr MessagePair kErrorLimitRight{"", "%s (R)"};
inline constexpr MessagePair kErrorLimitAbs{"", "%s (A)"};
inline constexpr MessagePair kMem2Stop{"", " Mem2 Stop"};
inline constexpr MessagePair kEndOfTape{"", " End of Tape"};
inline constexpr MessagePair kStopped{"", " Stopped"};
inline constexpr MessagePair kStoppedOrError{"", " Stopped or Error"};
inline constexpr MessagePair kFormatText{"", "%d / %d"};
inline constexpr MessagePair kCopyTexts[4]{
    {"", " Permit "}, {"", "Reserved"}, {"", "Prohibit"}, {"", " Once   "}};
inline constexpr MessagePair kTimeZero{"", " 00h00m00s00"};
inline constexpr MessagePair kScsiStatusCaption{"", "%s - SCSI Status"};

// Transport.
inline constexpr MessagePair kEject{"", " [Eject]"};
inline constexpr MessagePair kRewind{"", " [Rewind]"};
inline constexpr MessagePair kFastForward{"", " [F.Forward]"};
inline constexpr MessagePair kSearch{"", " [Search]"};
inline constexpr MessagePair kPrevPNo{"", " [Prev. PNo]"};
inline constexpr MessagePair kNextPNo{"", " [Next PNo]"};
inline constexpr MessagePair kSearchBoxAbs{"", "ABS Time:"};
inline constexpr MessagePair kSearchBoxPNo{"", "PNo.%d "};
inline constexpr MessagePair kSearchTo{"", "Search to"};
inline constexpr MessagePair kIdGroupVirtual{"", " ID (Virtual) "};
inline constexpr MessagePair kIdGroup{"", " ID "};

// Playback to file.
inline constexpr MessagePair kPleaseInputFileName{"", "Please input file name."};
inline constexpr MessagePair kImageFromHere{
    "", "Rewinding is not performed before create Image file.\nABS Time does not start from "
        "00:00:00:00.\n\n Are you sure?"};
inline constexpr MessagePair kDivideAtId{"", "Divide at each ID (PNo)"};
inline constexpr MessagePair kDivideAtVirtualId{"", "Divide at each V.ID (PNo)"};
inline constexpr MessagePair kSameFileExists{
    "", "Same file already exists.\n\n Overwrite and continue?"};
inline constexpr MessagePair kUnableToCreateFile{"", "Unable to create file."};
inline constexpr MessagePair kUnableToWriteFile{"", "Unable to write file."};
inline constexpr MessagePair kUnableToRewind{"", "Unable to rewind."};
inline constexpr MessagePair kTargetNotReady{"", "Target DAT is Not Ready."};
// The other instance stopped taking blocks in mid-copy (stopped, closed or gone).
inline constexpr MessagePair kPeerLost{"", "The copy ended: %s no longer takes frames."};
inline constexpr MessagePair kPositioning{"", " Positioning..."};
inline constexpr MessagePair kRewinding{"", " Rewinding..."};
inline constexpr MessagePair kChecking{"", " Checking %s..."};
inline constexpr MessagePair kNameAndText{"", "%s\n\n%s"};
inline constexpr MessagePair kPeerImageMark{"", "/I"};

} // namespace tarnvel::engine::msg
