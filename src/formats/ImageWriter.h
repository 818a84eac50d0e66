#pragma once

#include "common/Message.h"
#include "common/MessageSink.h"
#include "dat/DatFrame.h"
#include "formats/ImageFormat.h"

#include <array>
#include <cstdint>
#include <string>

namespace tarnvel::formats {

// Writes a tape image: Create, then Append for every frame to keep, then Finalise. Every
// kImageCheckInterval bytes the header is brought up to date and synced, and the free space is
// checked, so that a crash or a full disk leaves a valid image of the frames up to there.
// Failures are shown through the sink as "message\n\nfile name".
// Thread: one thread at a time (the engine's writer thread); no locking inside.
class ImageWriter {
public:
    // The file-size limit and the periodic check; tests use small values.
    struct Limits {
        std::uint64_t sizeLimit = kImageSizeLimit;
        std::uint64_t checkInterval = kImageCheckInterval;
        std::uint64_t minFreeBytes = kImageMinFreeBytes;
    };

    explicit ImageWriter(MessageSink& sink) : sink_(sink) {}
    ImageWriter(MessageSink& sink, const Limits& limits) : sink_(sink), limits_(limits) {}
    // Finalises and closes an image that is still open, so that no frame is lost.
    ~ImageWriter();
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;

    // Creates the file anew (an open image is finalised first) and writes the header.
    // `comment` is cut to 80 bytes. False after a message.
    bool create(const std::string& fileName, const std::string& comment);

    // Appends one frame of kFrameBytes; returns n, or 0 when nothing was written: no open
    // file, a size other than a frame, the size limit, too little free space, a write error.
    std::size_t append(const std::uint8_t* frame, std::size_t n);
    std::size_t append(const dat::DatFrame& frame)
    {
        return append(frame.data(), dat::kFrameBytes);
    }

    // Appends `frames` whole frames copied from another file at `offset` (an image's data), in
    // the kernel where the file systems allow (copy_file_range), else through a buffer. Returns
    // the frames appended: all, or 0 after a message as for append (the image then holds the
    // frames before the call).
    std::size_t appendCopy(int fromFd, std::uint64_t offset, std::size_t frames);

    // The number of frames that had a non-zero error byte on tape; goes into the header at the
    // next finalise (also the periodic ones).
    void setErrorFrameCount(std::uint32_t count) { errorFrames_ = count; }

    // Rewrites the header from the bytes written. With keepOpen the file stays open for more
    // frames (and is synced to disk); otherwise it is closed. False after a message.
    bool finalise(bool keepOpen);

    bool isOpen() const { return fd_ >= 0; }
    std::uint64_t bytesWritten() const { return bytesWritten_; }
    std::uint32_t frameCount() const
    {
        return static_cast<std::uint32_t>((bytesWritten_ - kImageHeaderBytes) / dat::kFrameBytes);
    }
    const std::string& fileName() const { return fileName_; }

private:
    void fail(const MessagePair& message, const std::string& reason = {});
    void failWithErrno(const MessagePair& message, int error);
    bool beforeWrite(std::uint64_t bytes);
    std::size_t failWrite(int error);
    void closeFile();
    bool writeHeader();

    MessageSink& sink_;
    Limits limits_;
    std::string fileName_;
    std::array<std::uint8_t, kImageHeaderBytes> header_{};
    int fd_ = -1;
    std::uint64_t bytesWritten_ = kImageHeaderBytes;
    std::uint64_t nextCheck_ = 0;
    std::uint32_t errorFrames_ = 0;
};

} // namespace tarnvel::formats
