#pragma once

#include "common/Message.h"

// Texts of the simulated drive, its cassettes and the sim commands.
namespace tarnvel::sim {

inline constexpr MessagePair kSimCassetteExists{"", "The file already exists: %s"};
inline constexpr MessagePair kSimCassetteCreateFailed{"", "Unable to create the cassette %s (%s)"};
inline constexpr MessagePair kSimCassetteOpenFailed{"", "Unable to open the cassette %s (%s)"};
inline constexpr MessagePair kSimCassetteInUse{
    "", "The cassette %s is held by another drive or program."};
inline constexpr MessagePair kSimNotACassette{"", "%s is not a cassette file."};
inline constexpr MessagePair kSimCassetteDamaged{"", "The cassette file %s is damaged (%s)."};
inline constexpr MessagePair kSimCassetteNewerVersion{
    "", "The cassette %s was made by a newer version (format %u)."};
inline constexpr MessagePair kSimCassetteIoFailed{"", "Unable to access the cassette %s (%s)"};
inline constexpr MessagePair kSimCassetteReadOnly{"", "The cassette %s is open for reading only."};
inline constexpr MessagePair kSimBadMinutes{"", "A cassette holds 1 to 600 minutes, not %d."};
inline constexpr MessagePair kSimTooManyFaults{"", "The cassette already holds %u faults."};
inline constexpr MessagePair kSimFaultOutOfRange{
    "", "Frames %u-%u lie outside the cassette (frames 0-%lld)."};
inline constexpr MessagePair kSimBadFaultKind{
    "", "Unknown fault kind \"%s\" (left, right, both or unreadable)."};
inline constexpr MessagePair kSimBadFrameRange{
    "", "\"%s\" is not a frame range (A-B, or one frame number)."};
inline constexpr MessagePair kSimDriveNotEmpty{"", "The drive already holds a cassette."};
inline constexpr MessagePair kSimImageTooLong{
    "", "The image holds %u frames; a %d-minute cassette holds only %lld."};
inline constexpr MessagePair kSimImageEmpty{"", "The image %s holds no frames."};

// sim info
inline constexpr MessagePair kSimInfoLength{"", "Length:          %d minutes (%lld frames)"};
inline constexpr MessagePair kSimInfoNeverRecorded{"", "Recorded:        never"};
inline constexpr MessagePair kSimInfoRecorded{"",
                                              "Recorded:        frames 0-%lld (%lld frames, %s)"};
inline constexpr MessagePair kSimInfoRecordedGaps{
    "", "Recorded:        %lld frames in %d stretches, last frame %lld"};
inline constexpr MessagePair kSimInfoIdsHeader{"", "IDs:"};
inline constexpr MessagePair kSimInfoNoIds{"", "IDs:             none"};
inline constexpr MessagePair kSimInfoFaultsHeader{"", "Faults:"};
inline constexpr MessagePair kSimInfoNoFaults{"", "Faults:          none"};
inline constexpr MessagePair kSimInfoFault{"", "  frames %u-%u  %s"};

} // namespace tarnvel::sim
