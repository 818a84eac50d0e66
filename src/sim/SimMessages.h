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
inline constexpr MessagePair kSimFileOpenFailed{"", "Unable to open %s (%s)"};
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
inline constexpr MessagePair kSimInfoId{"", "  frame %7lld  ABS%s  %s"};
inline constexpr MessagePair kSimInfoIdLeadIn{"", "Lead-in"};
inline constexpr MessagePair kSimInfoIdStart{"", "START ID %d"};
inline constexpr MessagePair kSimInfoIdStartNoNumber{"", "START ID without number"};
inline constexpr MessagePair kSimInfoIdSkip{"", "SKIP ID"};
inline constexpr MessagePair kSimInfoIdEnd{"", "END ID"};
inline constexpr MessagePair kSimInfoIdDate{"", "  recorded 20%02X-%02X-%02X %02X:%02X:%02X"};
inline constexpr MessagePair kSimInfoFaultsHeader{"", "Faults:"};
inline constexpr MessagePair kSimInfoNoFaults{"", "Faults:          none"};
inline constexpr MessagePair kSimInfoFault{"", "  frames %u-%u  %s"};
inline constexpr MessagePair kSimInfoFaultIntermittent{
    "", "  frames %u-%u  %s on a chance of %s per read (seed %u)"};

// sim commands
inline constexpr MessagePair kSimCreated{"",
                                         "Created the cassette %s (%d minutes, never recorded)."};
inline constexpr MessagePair kSimCreatedFromImage{
    "", "Created the cassette %s (%d minutes) holding the %u frames of %s."};
inline constexpr MessagePair kSimDemoCreated{
    "", "Created the demo cassette %s; put it in a simulated drive with --drive sim:%s"};
inline constexpr MessagePair kSimFaultAdded{"", "%s: frames %u-%u are now %s."};
inline constexpr MessagePair kSimFaultAddedIntermittent{
    "", "%s: frames %u-%u are now %s on a chance of %s per read (seed %u)."};
inline constexpr MessagePair kSimBadChance{
    "", "--chance takes a number above 0 and at most 1 (up to four decimals), not \"%s\"."};
inline constexpr MessagePair kSimDamageNothing{
    "", "Nothing to do: give --frames with --kind, or --write-fail-at."};

} // namespace tarnvel::sim
