#include "app/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tarnvel::app {

std::string runtimeFolderPath(const char* xdgRuntimeDir, unsigned uid)
{
    if (xdgRuntimeDir != nullptr && xdgRuntimeDir[0] == '/') {
        std::string dir = xdgRuntimeDir;
        if (dir.back() != '/')
            dir += '/';
        return dir + "tarnvel/";
    }
    // /tmp is shared: the uid in the name keeps users apart, the ownership check in
    // prepareRuntimeFolder keeps another user from planting the folder first.
    return "/tmp/tarnvel-" + std::to_string(uid) + "/";
}

std::string runtimeFolderPath()
{
    return runtimeFolderPath(std::getenv("XDG_RUNTIME_DIR"), static_cast<unsigned>(::getuid()));
}

bool prepareRuntimeFolder(const std::string& folder, std::string& error)
{
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + ": not a directory";
        return false;
    }
    if (st.st_uid != ::getuid()) {
        error = path + ": owned by another user";
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

InstanceLock::~InstanceLock()
{
    release();
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), instance_(std::exchange(other.instance_, 0))
{
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        instance_ = std::exchange(other.instance_, 0);
    }
    return *this;
}

void InstanceLock::release()
{
    if (fd_ >= 0) {
        // Closing the descriptor drops the lock; the file stays for the next start.
        ::close(fd_);
        fd_ = -1;
    }
    instance_ = 0;
}

InstanceClaim InstanceLock::claim(const std::string& folder, std::string& error)
{
    release();
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const char* names[2] = {kFirstInstanceLock, kSecondInstanceLock};
    for (int i = 0; i < 2; ++i) {
        const std::string path = dir + names[i];
        // Close-on-exec: a program we start (the mixer) must not inherit the lock.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error = path + ": " + std::strerror(errno);
            return InstanceClaim::Failed;
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0) {
            fd_ = fd;
            instance_ = i + 1;
            return i == 0 ? InstanceClaim::First : InstanceClaim::Second;
        }
        const int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK) {
            error = path + ": " + std::strerror(err);
            return InstanceClaim::Failed;
        }
    }
    return InstanceClaim::BothTaken;
}

InstanceClaim claimInstance(InstanceLock& lock, std::string& error)
{
    const std::string folder = runtimeFolderPath();
    if (!prepareRuntimeFolder(folder, error))
        return InstanceClaim::Failed;
    return lock.claim(folder, error);
}

} // namespace tarnvel::app
