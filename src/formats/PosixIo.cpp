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
