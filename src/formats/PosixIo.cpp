#include "formats/PosixIo.h"

#include <cerrno>
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

} // namespace tarnvel::formats
