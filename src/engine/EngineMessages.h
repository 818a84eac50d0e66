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

// Abort of a running drive command.
inline constexpr MessagePair kTryAbort{"", "Now executing SCSI command above.\n Try to abort?"};
inline constexpr MessagePair kAbortFailed{
    "", "Abort failed.\n Try to abort again?\n\n(If you click NO, then close as it stands.)"};
inline constexpr MessagePair kCommandAndQuestion{"", "%s\n\n%s"};

} // namespace tarnvel::engine::msg
