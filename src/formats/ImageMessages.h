#pragma once

#include "common/Message.h"

#include <string>

// Messages of the tape image files and of the free-space check.
namespace tarnvel::formats {

inline constexpr MessagePair kMsgImageCreateFailed{"", "Unable to create file."};
inline constexpr MessagePair kMsgImageWriteFailed{"", "Unable to write file."};
inline constexpr MessagePair kMsgImageSizeLimit{"", "File size is beyond the limit."};
inline constexpr MessagePair kMsgImageSeekFailed{"", "Unable to seek."};
inline constexpr MessagePair kMsgImageCloseFailed{"", "Unable to close."};
inline constexpr MessagePair kMsgImageOpenFailed{"", "Unable to open file."};
inline constexpr MessagePair kMsgImageReadFailed{"", "Unable to read file."};
inline constexpr MessagePair kMsgImageInvalidFormat{"", "Invalid format."};
// Record-from-file dialog and the image property text.
inline constexpr MessagePair kMsgImageExtent{"", "File extent is not 'TVI'."};
inline constexpr MessagePair kMsgImageOpenOrFormat{"", "Unable to open file or invalid format."};
inline constexpr MessagePair kMsgImageProperty{"", "Frame: %d %s (%s - %s)  Err: %d\nComment:\n%s"};
// Command-line dump of a frame beyond the image's end: index, frame count.
inline constexpr MessagePair kMsgImageFrameOutOfRange{
    "", "Frame %u is beyond the end of the image (%u frames)."};
// An image whose header disagrees with the frames it holds (a crash while writing).
inline constexpr MessagePair kMsgImageFramesDisagree{
    "", "The header counts %u frames, the file holds %llu whole frames"};
inline constexpr MessagePair kMsgImagePartialFrame{"", " and %llu bytes of a partial frame"};
inline constexpr MessagePair kMsgImageRepairHint{
    "", "Rewrite the header from the whole frames with: tarnvel-cli image repair %s"};
inline constexpr MessagePair kMsgImageRepaired{
    "", "Header rewritten: %llu frames (it counted %u); %llu bytes of a partial frame dropped."};
inline constexpr MessagePair kMsgImageNothingToRepair{
    "", "The header matches the frames; nothing to repair."};
// A message with its file name, or with a detail.
inline constexpr MessagePair kMsgWithDetail{"", "%s\n\n%s"};

// Free-space check: text, disk, second text, free MB, hundredths, path, needed MB, hundredths.
inline constexpr MessagePair kMsgDiskSpaceLow{"", "%s %s %s  (%d.%02dMB)\n\n%s  (%d.%02dMB)"};
inline constexpr MessagePair kMsgDiskSpaceInsufficient{"", "Insufficient disk space on disk"};
inline constexpr MessagePair kMsgDiskSpaceTail{"", ""};

// "%s\n\n%s" filled with the message (current language) and the file name or detail.
inline std::string messageWithDetail(const MessagePair& message, const std::string& detail)
{
    std::string text = tr(kMsgWithDetail);
    const std::size_t first = text.find("%s");
    if (first == std::string::npos)
        return text;
    const std::string m = tr(message);
    text.replace(first, 2, m);
    const std::size_t second = text.find("%s", first + m.size());
    if (second != std::string::npos)
        text.replace(second, 2, detail);
    return text;
}

} // namespace tarnvel::formats
