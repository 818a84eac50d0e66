#include "formats/PosixIo.h"

#include "formats/FormatMessages.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::formats {

std::size_t writeAll(int fd, const std::uint8_t* data, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::write(fd, data + done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

std::size_t pwriteAll(int fd, const std::uint8_t* data, std::size_t n, off_t offset)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fd, data + done, n - done, offset + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

std::size_t preadAll(int fd, std::uint8_t* data, std::size_t n, off_t offset)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, data + done, n - done, offset + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

int openRegularFile(const std::string& path, int flags, OpenFailure& failure)
{
    failure = {};
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        failure.systemError = errno;
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            failure.problem = OpenProblem::NotFound;
            break;
        case EACCES:
        case EPERM:
            failure.problem = OpenProblem::PermissionDenied;
            break;
        case EISDIR:
            failure.problem = OpenProblem::IsDirectory;
            break;
        default:
            failure.problem = OpenProblem::Other;
            break;
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        failure = {OpenProblem::Other, errno};
    } else if (S_ISDIR(st.st_mode)) {
        failure.problem = OpenProblem::IsDirectory;
    } else if (!S_ISREG(st.st_mode)) {
        failure.problem = OpenProblem::NotRegularFile;
    }
    if (failure.problem != OpenProblem::None) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int createRegularFile(const std::string& path, bool truncate, OpenFailure& failure)
{
    failure = {};
    // No O_TRUNC yet: it must not reach anything but a regular file.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        failure.systemError = errno;
        switch (errno) {
        case ENXIO: // a FIFO nobody reads
            failure.problem = OpenProblem::NotRegularFile;
            break;
        case EACCES:
        case EPERM:
            failure.problem = OpenProblem::PermissionDenied;
            break;
        case EISDIR:
            failure.problem = OpenProblem::IsDirectory;
            break;
        default:
            failure.problem = OpenProblem::Other;
            break;
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        failure = {OpenProblem::Other, errno};
    else if (S_ISDIR(st.st_mode))
        failure.problem = OpenProblem::IsDirectory;
    else if (!S_ISREG(st.st_mode))
        failure.problem = OpenProblem::NotRegularFile;
    else if (truncate && ::ftruncate(fd, 0) != 0)
        failure = {OpenProblem::Other, errno};
    else if (const int flags = ::fcntl(fd, F_GETFL);
             flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        failure = {OpenProblem::Other, errno};
    if (failure.problem != OpenProblem::None) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::FILE* createRegularStream(const std::string& path, OpenFailure& failure)
{
    const int fd = createRegularFile(path, true, failure);
    if (fd < 0)
        return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
        failure = {OpenProblem::Other, errno};
        ::close(fd);
    }
    return f;
}

std::string OpenFailure::text() const
{
    switch (problem) {
    case OpenProblem::None:
        return {};
    case OpenProblem::NotFound:
        return tr(msg::kFileNotFound);
    case OpenProblem::PermissionDenied:
        return tr(msg::kPermissionDenied);
    case OpenProblem::IsDirectory:
        return tr(msg::kIsADirectory);
    case OpenProblem::NotRegularFile:
        return tr(msg::kNotARegularFile);
    case OpenProblem::Other:
        break;
    }
    return std::strerror(systemError);
}

} // namespace tarnvel::formats
