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

std::size_t ImageWriter::append(const std::uint8_t* frame, std::size_t n)
{
    // Anything but whole frames would break the frame count invariant of the file.
    if (!isOpen() || n != dat::kFrameBytes)
        return 0;
    if (bytesWritten_ > limits_.sizeLimit) {
        fail(kMsgImageSizeLimit);
        return 0;
    }
    if (bytesWritten_ > nextCheck_) {
        if (!finalise(true))
            return 0;
        std::uint64_t freeBytes = 0;
        if (!checkDiskSpace(fileName_, limits_.minFreeBytes, {}, sink_, &freeBytes))
            return 0;
        // Check more often when the disk is nearly full.
        nextCheck_ += freeBytes < 2 * limits_.checkInterval && freeBytes > kImageFreeReserve
                          ? freeBytes - kImageFreeReserve
                          : limits_.checkInterval;
    }
    errno = 0;
    if (writeAll(fd_, frame, n) != n) {
        const int error = errno;
        // Cut back to the last whole frame and bring the header up to date, so that the image
        // holds every frame written so far and still opens.
        if (::ftruncate(fd_, static_cast<off_t>(bytesWritten_)) == 0)
            writeHeader();
        closeFile();
        failWithErrno(kMsgImageWriteFailed, error);
        return 0;
    }
    bytesWritten_ += n;
    return n;
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
