#include "formats/ImageWriter.h"

#include "common/ByteOrder.h"
#include "formats/DiskSpace.h"
#include "formats/ImageMessages.h"
#include "formats/PosixIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnvel::formats {

namespace {

void putId(std::uint8_t* p, const char* id)
{
    std::memcpy(p, id, 4);
}

} // namespace

ImageWriter::~ImageWriter()
{
    if (isOpen())
        finalise(false);
}

void ImageWriter::fail(const MessagePair& message, const std::string& reason)
{
    // The reason (a full disk, a missing folder, not a regular file) follows the message.
    std::string text = messageWithDetail(message, fileName_);
    if (!reason.empty())
        text.insert(std::string(tr(message)).size(), "  (" + reason + ")");
    sink_.showMessage(text, MessageIcon::Warning);
}

void ImageWriter::failWithErrno(const MessagePair& message, int error)
{
    fail(message, error != 0 ? std::string(std::strerror(error)) : std::string());
}

void ImageWriter::closeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool ImageWriter::create(const std::string& fileName, const std::string& comment)
{
    if (isOpen())
        finalise(false);
    fileName_ = fileName;
    errorFrames_ = 0;
    bytesWritten_ = kImageHeaderBytes;

    header_.fill(0);
    putId(&header_[kImageOffFileId], "TVI ");
    writeLe32(&header_[kImageOffRiffSize], kImageHeaderBytes - 8);
    putId(&header_[kImageOffFormType], "IMG ");
    putId(&header_[kImageOffInfoId], "info");
    writeLe32(&header_[kImageOffInfoSize], kImageInfoBytes);
    putId(&header_[kImageOffCmtId], "cmt ");
    writeLe32(&header_[kImageOffCmtSize], kImageCommentBytes);
    std::memcpy(&header_[kImageOffComment], comment.data(),
                std::min(comment.size(), kImageCommentBytes));
    putId(&header_[kImageOffDataId], "data");

    OpenFailure failure;
    fd_ = createRegularFile(fileName, true, failure);
    if (fd_ < 0) {
        fail(kMsgImageCreateFailed, failure.text());
        return false;
    }
    errno = 0;
    if (writeAll(fd_, header_.data(), header_.size()) != header_.size()) {
        const int error = errno;
        closeFile();
        failWithErrno(kMsgImageWriteFailed, error);
        ::unlink(fileName.c_str()); // a regular file of ours: the broken start goes
        return false;
    }
    nextCheck_ = kImageHeaderBytes + limits_.checkInterval;
    return true;
}

// The size limit and the periodic header update and free-space check, before `bytes` more.
bool ImageWriter::beforeWrite(std::uint64_t bytes)
{
    if (bytesWritten_ > limits_.sizeLimit ||
        bytesWritten_ + bytes - dat::kFrameBytes > limits_.sizeLimit) {
        fail(kMsgImageSizeLimit);
        return false;
    }
    if (bytesWritten_ > nextCheck_) {
        if (!finalise(true))
            return false;
        std::uint64_t freeBytes = 0;
        if (!checkDiskSpace(fileName_, limits_.minFreeBytes, {}, sink_, &freeBytes))
            return false;
        // Check more often when the disk is nearly full.
        nextCheck_ += freeBytes < 2 * limits_.checkInterval && freeBytes > kImageFreeReserve
                          ? freeBytes - kImageFreeReserve
                          : limits_.checkInterval;
    }
    return true;
}

// Cuts back to the last whole frame and brings the header up to date, so that the image holds
// every frame written so far and still opens.
std::size_t ImageWriter::failWrite(int error)
{
    if (::ftruncate(fd_, static_cast<off_t>(bytesWritten_)) == 0)
        writeHeader();
    closeFile();
    failWithErrno(kMsgImageWriteFailed, error);
    return 0;
}

std::size_t ImageWriter::append(const std::uint8_t* frame, std::size_t n)
{
    // Anything but whole frames would break the frame count invariant of the file.
    if (!isOpen() || n != dat::kFrameBytes)
        return 0;
    if (!beforeWrite(n))
        return 0;
    errno = 0;
    if (writeAll(fd_, frame, n) != n)
        return failWrite(errno);
    bytesWritten_ += n;
    return n;
}

std::size_t ImageWriter::appendCopy(int fromFd, std::uint64_t offset, std::size_t frames)
{
    const std::uint64_t bytes = std::uint64_t{frames} * dat::kFrameBytes;
    if (!isOpen() || frames == 0)
        return 0;
    if (!beforeWrite(bytes))
        return 0;
    std::uint64_t done = 0;
    loff_t from = static_cast<loff_t>(offset);
    bool kernelCopy = true;
    std::vector<std::uint8_t> buffer;
    while (done < bytes) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes - done, 1u << 24));
        if (kernelCopy) {
            const ssize_t r = ::copy_file_range(fromFd, &from, fd_, nullptr, want, 0);
            if (r > 0) {
                done += static_cast<std::uint64_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            // Another file system, an old kernel, a file system that cannot: by hand.
            if (r < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                kernelCopy = false;
                continue;
            }
            return failWrite(r < 0 ? errno : 0); // an error, or the source ended early
        }
        if (buffer.empty())
            buffer.resize(1u << 20);
        const std::size_t chunk = std::min(want, buffer.size());
        errno = 0;
        if (preadAll(fromFd, buffer.data(), chunk, static_cast<off_t>(from)) != chunk ||
            writeAll(fd_, buffer.data(), chunk) != chunk)
            return failWrite(errno);
        from += static_cast<loff_t>(chunk);
        done += chunk;
    }
    bytesWritten_ += bytes;
    return frames;
}

bool ImageWriter::writeHeader()
{
    writeLe32(&header_[kImageOffRiffSize], static_cast<std::uint32_t>(bytesWritten_ - 8));
    writeLe32(&header_[kImageOffDataSize],
              static_cast<std::uint32_t>(bytesWritten_ - kImageHeaderBytes));
    writeLe32(&header_[kImageOffFrames], frameCount());
    writeLe32(&header_[kImageOffErrFrames], errorFrames_);
    // pwrite leaves the append position at the end of the file.
    return pwriteAll(fd_, header_.data(), header_.size(), 0) == header_.size();
}

bool ImageWriter::finalise(bool keepOpen)
{
    if (!isOpen())
        return false;
    if (!writeHeader()) {
        if (!keepOpen)
            closeFile();
        fail(kMsgImageWriteFailed);
        return false;
    }
    if (keepOpen) {
        // Make the consistent state durable; file systems that cannot sync are not an error.
        if (::fdatasync(fd_) != 0 && (errno == EIO || errno == ENOSPC || errno == EDQUOT)) {
            fail(kMsgImageWriteFailed);
            return false;
        }
        return true;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(kMsgImageCloseFailed);
        return false;
    }
    return true;
}

} // namespace tarnvel::formats
