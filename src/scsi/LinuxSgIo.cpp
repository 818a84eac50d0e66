#include "scsi/SgIo.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
        // Retrying after EINTR is safe for the calls made here: SG_IO goes only to tape nodes,
        // whose driver waits for a sent command without letting signals in, so EINTR means
        // nothing was sent. On a generic node an interrupted SG_IO leaves its command running
        // and a retry would send it again: a READ or WRITE would skip or double a frame.
        // Commands to generic nodes therefore go by write(), poll() and read(), which never
        // send anything twice.
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
    std::vector<std::string> listDirectory(const char* path) override
    {
        std::vector<std::string> names;
        DIR* dir = ::opendir(path);
        if (dir == nullptr)
            return names;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }
    std::string readLink(const char* path) override
    {
        char buf[512];
        const ssize_t n = ::readlink(path, buf, sizeof buf);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf)
            return {};
        return std::string(buf, static_cast<std::size_t>(n));
    }
    std::int64_t nowMs() override
    {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    std::string errorText(int error) override
    {
        char buf[128];
        // GNU strerror_r returns the text (possibly not in buf).
        return strerror_r(error, buf, sizeof buf);
    }
    std::string fileGroup(const char* path) override
    {
        struct stat st {};
        if (::stat(path, &st) != 0)
            return {};
        std::vector<char> buf(16384);
        group g{};
        group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) != 0 || found == nullptr)
            return std::to_string(st.st_gid);
        return found->gr_name;
    }
};

} // namespace

std::shared_ptr<SgIo> linuxSgIo()
{
    return std::make_shared<LinuxSgIo>();
}

} // namespace tarnvel::scsi
