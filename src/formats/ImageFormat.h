#pragma once

#include <cstddef>
#include <cstdint>

// Layout of a tape image file: a small chunked header ("TVI ", size, "IMG ", then the "info",
// "cmt " and "data" chunks), followed by whole 5822-byte frames. Integers are little-endian.
namespace tarnvel::formats {

inline constexpr std::size_t kImageHeaderBytes = 124;
inline constexpr std::size_t kImageCommentBytes = 80;
inline constexpr std::size_t kImageInfoBytes = 8; // frame count, error frame count

// Offsets in the header as written.
inline constexpr std::size_t kImageOffFileId = 0;     // "TVI "
inline constexpr std::size_t kImageOffRiffSize = 4;   // file size - 8
inline constexpr std::size_t kImageOffFormType = 8;   // "IMG "
inline constexpr std::size_t kImageOffInfoId = 12;    // "info"
inline constexpr std::size_t kImageOffInfoSize = 16;  // 8
inline constexpr std::size_t kImageOffFrames = 20;    // frame count
inline constexpr std::size_t kImageOffErrFrames = 24; // error frame count
inline constexpr std::size_t kImageOffCmtId = 28;     // "cmt "
inline constexpr std::size_t kImageOffCmtSize = 32;   // 80
inline constexpr std::size_t kImageOffComment = 36;   // 80 bytes, NUL-padded
inline constexpr std::size_t kImageOffDataId = 116;   // "data"
inline constexpr std::size_t kImageOffDataSize = 120; // file size - 124

// The writer stops appending once the file is this large, so that the sizes fit 32 bits.
inline constexpr std::uint64_t kImageSizeLimit = 0xFFF00000u;
// Bytes between two periodic header updates and free-space checks (~10 s of tape).
inline constexpr std::uint64_t kImageCheckInterval = 1940666;
// Free bytes the periodic check asks for, and what it leaves unused when space runs short.
inline constexpr std::uint64_t kImageMinFreeBytes = 1100000;
inline constexpr std::uint64_t kImageFreeReserve = 1000000;

} // namespace tarnvel::formats
