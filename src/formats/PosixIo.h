#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>

// Whole-buffer POSIX reads and writes: they retry partial transfers and EINTR, and return the
// bytes actually moved (less than asked only at end of file or on an error).
namespace tarnvel::formats {

std::size_t writeAll(int fd, const std::uint8_t* data, std::size_t n);
std::size_t pwriteAll(int fd, const std::uint8_t* data, std::size_t n, off_t offset);
std::size_t preadAll(int fd, std::uint8_t* data, std::size_t n, off_t offset);

// Why a file could not be opened as a regular file.
enum class OpenProblem { None, NotFound, PermissionDenied, IsDirectory, NotRegularFile, Other };

struct OpenFailure {
    OpenProblem problem = OpenProblem::None;
    int systemError = 0; // errno, for Other
    // "file not found", "permission denied", "is a directory", "not a regular file", or the
    // system's text for anything else; empty for None.
    std::string text() const;
};

// Opens an existing regular file (O_RDONLY or O_RDWR in `flags`) without blocking: a FIFO or
// a device given as a name is refused instead of waiting for a peer. Returns the descriptor
// (close-on-exec), or -1 with the reason in `failure`.
int openRegularFile(const std::string& path, int flags, OpenFailure& failure);

// Opens a file for writing, creating it when it is absent (mode 0666 less the umask) and
// emptying it when `truncate`, without blocking: a name that is a FIFO, a device or a folder
// is refused (NotRegularFile, IsDirectory) instead of being written to or waited on. Returns
// the descriptor (close-on-exec, blocking again), or -1 with the reason in `failure` (a missing
// folder is Other, with the system's text).
int createRegularFile(const std::string& path, bool truncate, OpenFailure& failure);
// createRegularFile (emptied) as a stdio stream for writing; nullptr with the reason.
std::FILE* createRegularStream(const std::string& path, OpenFailure& failure);

} // namespace tarnvel::formats
