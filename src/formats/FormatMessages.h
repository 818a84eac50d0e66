#pragma once

#include "common/Message.h"

// User-visible texts of the file formats: WAV reader and writer, cue file, virtual ID file.
namespace tarnvel::formats::msg {

// WAV reader: the reason a file cannot be played or registered (shown by the caller).
inline constexpr MessagePair kFileNotFound{"", "file not found"};
inline constexpr MessagePair kUnableToReadHeader{"", "Unable to read file.  (header)"};
inline constexpr MessagePair kNotWaveFile{"", "Not Wave file"};
inline constexpr MessagePair kUnknownFmtSize{"", "Unknown Wave format.  (fmtsize=%d, fizesize=%d)"};
inline constexpr MessagePair kUnableToReadFmt{"", "Unable to read file.  (fmt)"};
inline constexpr MessagePair kNotPcmData{"", "Unknown Wave format.  (Not PCM data)"};
inline constexpr MessagePair kNoData{"", "Unknown Wave format.  (No data)"};
inline constexpr MessagePair kOthers{"", "Unknown Wave format.  (others)"};
inline constexpr MessagePair kFileSeekError{"", "file seek error"};

// A format as the sound output shows it: rate, "F" for float, bits, "Mono" or "Stereo".
inline constexpr MessagePair kFormatText{"", "%5ds/s %s%2dbit %s"};
inline constexpr MessagePair kMono{"", "Mono"};
inline constexpr MessagePair kStereo{"", "Stereo"};

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
// A path the line-based cue file cannot hold (leading blank or ";", line breaks, too long).
inline constexpr MessagePair kPathNotStorable{"", "This file name cannot be stored in a cue file."};

} // namespace tarnvel::formats::msg
