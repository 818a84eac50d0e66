#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The few kernel calls the SG_IO back-ends make, behind one small interface so that tests
// can answer as the kernel does (device nodes, sysfs and the clock). Every call returns a
// negative errno on failure.
namespace tarnvel::scsi {

class SgIo {
public:
    virtual ~SgIo() = default;

    virtual int open(const char* path, int flags) = 0; // a file descriptor
    virtual void close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual long write(int fd, const void* data, std::size_t length) = 0;
    virtual long read(int fd, void* data, std::size_t length) = 0;
    // > 0 when a reply can be read, 0 after `timeoutMs` without one.
    virtual int pollIn(int fd, int timeoutMs) = 0;
    // Contents of a small text file (sysfs attributes), without trailing blanks and newline;
    // empty when it cannot be read.
    virtual std::string readSmallFile(const char* path) = 0;
    // Names in a directory (without "." and ".."), in no particular order; empty when it
    // cannot be read.
    virtual std::vector<std::string> listDirectory(const char* path) = 0;
    // Target of a symbolic link; empty when it is none.
    virtual std::string readLink(const char* path) = 0;
    // A monotonic clock in milliseconds (command deadlines).
    virtual std::int64_t nowMs() = 0;
    // The kernel's text for an errno value.
    virtual std::string errorText(int error) = 0;
    // The name of the group that owns a file (a device node); empty when unknown.
    virtual std::string fileGroup(const char* /*path*/) { return {}; }
};

// The real kernel.
std::shared_ptr<SgIo> linuxSgIo();

} // namespace tarnvel::scsi
