#pragma once

#include "common/Message.h"

// User-visible texts of the record-from-file list and the ID list.
namespace tarnvel::record::msg {

// Record-from-file list: column titles.
inline constexpr MessagePair kColPNo{"", "PNo"};
inline constexpr MessagePair kColWaveFile{"", " Wave file"};
inline constexpr MessagePair kColTime{"", " Time"};
inline constexpr MessagePair kColFormat{"", "  Format"};
inline constexpr MessagePair kColEmph{"", "Emph"};
inline constexpr MessagePair kColCopy{"", " Copy"};
inline constexpr MessagePair kColSilence{"", "Silence"};

// Record-from-file list: messages.
inline constexpr MessagePair kUnableToOpenFile{"", "Unable to open file."};
inline constexpr MessagePair kUnsupportedFormat{"", "Unsupported format."};
inline constexpr MessagePair kComplaintRateBits{"", " [%d / %d]\n"};
inline constexpr MessagePair kComplaintFloatRate{"", " [%d / F32]\n"};
// A float file whose samples are not 32 bits.
inline constexpr MessagePair kComplaintFloatBits{"", " [%d / F%d]\n"};
inline constexpr MessagePair kComplaintNotPcm{"", " [Not PCM file]\n"};
inline constexpr MessagePair kComplaintNotStereo{"", " [Not Stereo]\n"};
// A header whose block size does not follow from its channels and bits: no sample can be read.
inline constexpr MessagePair kComplaintBlockAlign{"", " [block size %d, not %d]\n"};
// The 100th file: the list has no room for it.
inline constexpr MessagePair kListFull{"", "A list holds at most 99 files."};
inline constexpr MessagePair kUnableToPlay{"", "Unable to play."};
inline constexpr MessagePair kPleaseInputFileName{"", "Please input file name."};
inline constexpr MessagePair kExtentNotTvi{"", "File extent is not 'TVI'."};
inline constexpr MessagePair kUnableToRegisterFile{"", "Unable to register file."};
inline constexpr MessagePair kTotalRecTime{"", "Total Rec Time:"};
// The two questions of the OK button.
inline constexpr MessagePair kDisableAutoId{
    "", "Disable Auto ID function because of Record from Wave file.\n\n Are you sure?"};
inline constexpr MessagePair kImageWithoutRewind{
    "", "Rewinding is not performed before recording Image file.\nIt may be created a tape with "
        "illegal format.\n\n Are you sure?"};
// Command line: a list with a refused file is not saved.
inline constexpr MessagePair kCueNotWritten{
    "", "No cue file written: not every file could be registered."};

// ID list: column titles and questions.
inline constexpr MessagePair kColNo{"", "No."};
inline constexpr MessagePair kColId{"", "  ID"};
inline constexpr MessagePair kColIdPNo{"", " PNo"};
inline constexpr MessagePair kColAbsTime{"", "  ABS Time"};
inline constexpr MessagePair kColSec{"", "  (sec)"};
inline constexpr MessagePair kClearAllIds{"", "Clear all ID list.\n\n Are you sure?"};
inline constexpr MessagePair kClearAllVirtualIds{"",
                                                 "Clear all Virtual ID list.\n\n Are you sure?"};
inline constexpr MessagePair kVirtualListModified{
    "", "Virtual ID list has been modified.\n\nSave to file?"};

} // namespace tarnvel::record::msg
