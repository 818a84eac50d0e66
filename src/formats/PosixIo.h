#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Whole-buffer POSIX reads and writes: they retry partial transfers and EINTR, and return the
// bytes actually moved (less than asked only at end of file or on an error).
namespace tarnvel::formats {

std::size_t writeAll(int fd, const std::uint8_t* data, std::size_t n);
std::size_t pwriteAll(int fd, const std::uint8_t* data, std::size_t n, off_t offset);
std::size_t preadAll(int fd, std::uint8_t* data, std::size_t n, off_t offset);

} // namespace tarnvel::formats
