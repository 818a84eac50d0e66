#pragma once

#include "common/MessageSink.h"

#include <cstdint>
#include <string>

// Free-space check before and while files are written (WAV files, tape images).
namespace tarnvel::formats {

// Bytes available to this user on the file system that holds `path` (a file that need not
// exist yet; a relative path is taken from the current directory). 0 when it cannot be told.
std::uint64_t freeDiskBytes(const std::string& path);

// The mount point of the file system that holds `path` ("/" when it cannot be told); it
// stands for the drive in messages.
std::string diskOf(const std::string& path);

// True when at least `needed` bytes are free for `path`. Otherwise shows "Insufficient disk
// space on disk" with the disk, the free and the needed megabytes through `sink` (caption
// empty = program title) and returns false. The free bytes seen go to `*freeBytes` either way.
bool checkDiskSpace(const std::string& path, std::uint64_t needed, const std::string& caption,
                    MessageSink& sink, std::uint64_t* freeBytes = nullptr);

} // namespace tarnvel::formats
