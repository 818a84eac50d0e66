#pragma once

#include "common/Message.h"

// User-visible texts of the drive layer.
namespace tarnvel::dat::msg {

// Unit status as the main window shows it.
inline constexpr MessagePair kStatusReady{"", " Ready"};
inline constexpr MessagePair kStatusBusy{"", " Busy"};
inline constexpr MessagePair kStatusNotReady{"", " Not Ready"};
inline constexpr MessagePair kStatusNoTape{"", " No Tape"};
inline constexpr MessagePair kStatusEjected{"", " Ejected"};
inline constexpr MessagePair kStatusReset{"", " Reset"};
inline constexpr MessagePair kStatusTapeChanged{"", " Tape Changed"};
inline constexpr MessagePair kStatusHardwareError{"", " Hardware Error"};
inline constexpr MessagePair kStatusUnknown{"", " ???"};
inline constexpr MessagePair kStatusDetail{"", "%02X %s"};

inline constexpr MessagePair kLoading{"", " Loading..."};

// Failed frame reads the play path names itself.
inline constexpr MessagePair kEndOfData{"", "End of Data 00 05"};
inline constexpr MessagePair kUnknownFormat{"", "Unknown Format 30 01"};

// The error line after a failed drive operation: command name, status name, sense summary.
inline constexpr MessagePair kDriveErrorLine{"", " %s %s %s"};

// Drive selection.
inline constexpr MessagePair kTapeDriveNotFound{"", "Tape drive not found."};
inline constexpr MessagePair kAudioDriveNotFound{"", "Audio capable tape drive not found."};
inline constexpr MessagePair kNoSuchDevice{"", "No drive at %s."};
inline constexpr MessagePair kNotAudioCapable{"", "The drive at %s is not audio capable."};
inline constexpr MessagePair kTapeNotReady{"", "The tape did not become ready."};
// A drive that refused to leave audio mode at the end of a run (the error line follows).
inline constexpr MessagePair kDataModeNotRestored{"",
                                                  "Unable to switch the drive back to data mode."};

// Command-line drive commands.
inline constexpr MessagePair kCliAudioMode{"", "  audio mode"};
inline constexpr MessagePair kCliNoAudioMode{"", "  no audio mode"};
inline constexpr MessagePair kCliPositionLine{"", "PNo %03X  Index %02X  PGM%s  ABS%s  RUN%s"};
inline constexpr MessagePair kCliNoPosition{"", "No position."};
inline constexpr MessagePair kCliFrameLine{"", "%s  %3s  %s"};
inline constexpr MessagePair kCliIdsHeader{"", "; No. ID   PNo.  ABS Time     (sec)"};
inline constexpr MessagePair kCliIdLine{"", "%4d %-6s%4s %s %6d"};
inline constexpr MessagePair kCliBadAbsTime{"", "\"%s\" is not an ABS time (HH:MM:SS:FF)."};
inline constexpr MessagePair kCliLocateWhat{"", "Give --pno N or --abs HH:MM:SS:FF."};
inline constexpr MessagePair kCliPnoNotFound{"", "Program number %d not found."};
inline constexpr MessagePair kCliAbsNotFound{"", "ABS time not found."};
inline constexpr MessagePair kCliNoProgramBefore{"", "There is no program number before this one."};
inline constexpr MessagePair kCliNoProgramAfter{"", "There is no program number after this one."};
inline constexpr MessagePair kCliNoDriveHint{
    "", "To try the program without a drive: tarnvel-cli sim demo demo.tvs, then use "
        "--drive sim:demo.tvs with any drive command."};

} // namespace tarnvel::dat::msg
