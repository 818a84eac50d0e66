#include "scsi/SgIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarnvel::scsi {

namespace {

// Straight system calls; EINTR is retried here so that callers never see it.
class LinuxSgIo final : public SgIo {
public:
    int open(const char* path, int flags) override
    {
        int fd;
        do {
            fd = ::open(path, flags | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? -errno : fd;
    }
    void close(int fd) override { ::close(fd); }
    int ioctl(int fd, unsigned long request, void* arg) override
    {
        int rc;
        do {
            rc = ::ioctl(fd, request, arg);
        } while (rc < 0 && errno == EINTR);
        return rc < 0 ? -errno : rc;
    }
    long write(int fd, const void* data, std::size_t length) override
    {
        ssize_t n;
        do {
            n = ::write(fd, data, length);
        } while (n < 0 && errno == EINTR);
        return n < 0 ? -errno : n;
    }
    long read(int fd, void* data, std::size_t length) override
    {
        ssize_t n;
        do {
            n = ::read(fd, data, length);
        } while (n < 0 && errno == EINTR);
        return n < 0 ? -errno : n;
    }
    int pollIn(int fd, int timeoutMs) override
    {
        pollfd p{fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0)
            return errno == EINTR ? 0 : -errno;
        return rc;
    }
    std::string readSmallFile(const char* path) override
    {
        const int fd = open(path, O_RDONLY);
        if (fd < 0)
            return {};
        char buf[256];
        const long n = read(fd, buf, sizeof buf - 1);
        ::close(fd);
        if (n <= 0)
            return {};
        std::string text(buf, static_cast<std::size_t>(n));
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text;
    }
    std::string errorText(int error) override
    {
        char buf[128];
        // GNU strerror_r returns the text (possibly not in buf).
        return strerror_r(error, buf, sizeof buf);
    }
};

} // namespace

std::shared_ptr<SgIo> linuxSgIo()
{
    return std::make_shared<LinuxSgIo>();
}

} // namespace tarnvel::scsi
