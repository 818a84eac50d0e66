#pragma once

#include "common/Message.h"

// User-visible texts of the file formats: WAV reader and writer, cue file, virtual ID file.
namespace tarnvel::formats::msg {

// WAV reader: the reason a file cannot be played or registered (shown by the caller).
inline constexpr MessagePair kFileNotFound{"", "file not found"};
// Other reasons a name cannot be opened, in the same style.
inline constexpr MessagePair kPermissionDenied{"", "permission denied"};
inline constexpr MessagePair kIsADirectory{"", "is a directory"};
inline constexpr MessagePair kNotARegularFile{"", "not a regular file"};
inline constexpr MessagePair kUnableToReadHeader{"", "Unable to read file.  (header)"};
inline constexpr MessagePair kNotWaveFile{"", "Not Wave file"};
inline constexpr MessagePair kUnknownFmtSize{"", "Unknown Wave format.  (fmtsize=%d, filesize=%d)"};
inline constexpr MessagePair kUnableToReadFmt{"", "Unable to read file.  (fmt)"};
inline constexpr MessagePair kNotPcmData{"", "Unknown Wave format.  (Not PCM data)"};
inline constexpr MessagePair kNoData{"", "Unknown Wave format.  (No data)"};
inline constexpr MessagePair kOthers{"", "Unknown Wave format.  (others)"};
inline constexpr MessagePair kFileSeekError{"", "file seek error"};

// A format as the sound output shows it: rate, "F" for float, bits, "Mono" or "Stereo".
inline constexpr MessagePair kFormatText{"", "%5ds/s %s%2dbit %s"};
inline constexpr MessagePair kMono{"", "Mono"};
inline constexpr MessagePair kStereo{"", "Stereo"};
inline constexpr MessagePair kChannelCount{"", "%dch"};

// A header the sound devices cannot play, shown with the fields as they are.
inline constexpr MessagePair kUnplayableChannels{"", "cannot be played: %d channels (1 or 2 play)"};
inline constexpr MessagePair kUnplayableBits{
    "", "cannot be played: %s%d bits a sample (8, 16, 24, 32 or F32 play)"};
inline constexpr MessagePair kUnplayableRate{"", "cannot be played: sampling rate %u Hz"};
inline constexpr MessagePair kUnplayableBlockAlign{
    "", "cannot be played: block size %d does not match the channels and bits"};

// WAV writer; shown as "%s\n\n%s" with the file name.
inline constexpr MessagePair kExtentNotWav{"", "File extent is not 'WAV'."};
inline constexpr MessagePair kUnableToCreate{"", "Unable to create file."};
inline constexpr MessagePair kUnableToWrite{"", "Unable to write file."};
inline constexpr MessagePair kUnableToClose{"", "Unable to close."};
// All ten files of a split recording are full: writing stops, and the user must know why.
inline constexpr MessagePair kSplitLimit{
    "", "Unable to write file.  (the recording has filled all ten split files)"};

// Cue and virtual ID files; shown as "%s\n\n%s" with the path.
inline constexpr MessagePair kUnableToOpen{"", "Unable to open file."};
inline constexpr MessagePair kUnableToRegisterId{"", "Unable to register ID."};
// Cue file lines refused for a value outside the list's ranges.
inline constexpr MessagePair kCuePNoRange{"", "program number %s is not 0-799"};
inline constexpr MessagePair kCueSilenceRange{"", "silence %s is not 0-%d seconds"};
inline constexpr MessagePair kCueEntryLeftOut{"", "; %s was left out"};
inline constexpr MessagePair kCueLineProblem{"", "line %d: %s"};
inline constexpr MessagePair kCueLinesRefused{"", "These lines of the cue file were refused:"};
// Virtual ID file rows that were refused or replaced an earlier row ("line N: why").
inline constexpr MessagePair kVidLinesNotAsWritten{
    "", "These lines of the virtual ID file were not loaded as written:"};
inline constexpr MessagePair kVidLineNote{"", "line %d: %s"};
inline constexpr MessagePair kVidMissingFields{"", "refused: a field is missing"};
inline constexpr MessagePair kVidUnknownKind{"", "refused: unknown ID kind \"%s\""};
inline constexpr MessagePair kVidBadPNo{"", "refused: program number %s is not 1-799 or -"};
inline constexpr MessagePair kVidNumberOnSkipOrEnd{
    "", "refused: SKIP and END IDs carry no program number (%s)"};
inline constexpr MessagePair kVidBadAbs{"", "refused: ABS time %s is not HHhMMmSSsFF"};
inline constexpr MessagePair kVidBadSeconds{"", "refused: second %s is not a number"};
inline constexpr MessagePair kVidTableFull{"", "refused: the list is full"};
inline constexpr MessagePair kVidReplacedPNo{"", "replaces line %d (the same program number)"};
inline constexpr MessagePair kVidReplacedAbs{"", "replaces line %d (the same ABS time)"};
inline constexpr MessagePair kVidReplacedEnd{"", "replaces the END ID of line %d"};
// A path the line-based cue file cannot hold (leading blank or ";", line breaks, too long).
inline constexpr MessagePair kPathNotStorable{"", "This file name cannot be stored in a cue file."};

} // namespace tarnvel::formats::msg
