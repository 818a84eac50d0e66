#pragma once

#include "common/Message.h"
#include "common/MessageSink.h"
#include "dat/DatFrame.h"
#include "dat/TimeCode.h"
#include "formats/ImageFormat.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarnvel::formats {

// Reads a tape image. Open checks the whole structure before any frame is used: both header
// forms (with and without the "IMG " form type), the chunk walk, and that the data chunk holds
// exactly the frames the header counts and ends at the end of the file. Failures close the
// file and, unless probing or quiet, are shown through the sink as "message\n\nfile name";
// the last failure's message (without the name) stays in errorText() either way.
// Thread: one thread at a time.
class ImageReader {
public:
    explicit ImageReader(MessageSink& sink) : sink_(sink) {}
    ~ImageReader() { close(); }
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    // Normal mode: the file stays open at the first frame. Probe mode: no messages; the first
    // and last ABS times are taken and the file is closed again. An image of one frame (or
    // none) cannot be probed. Header values stay readable after the file is closed.
    bool open(const std::string& fileName, bool probe);

    // The next frame that carries an ABS time (frames without one are skipped): returns n, or
    // 0 at the end of the data or after a read error (the file is then closed). n must be
    // kFrameBytes.
    std::size_t readFrame(std::uint8_t* buffer, std::size_t n, bool quiet);
    std::size_t readFrame(dat::DatFrame& frame, bool quiet)
    {
        return readFrame(frame.data(), dat::kFrameBytes, quiet);
    }

    // The next frame as stored, frames without an ABS time included (for tools that keep every
    // frame in place, such as a merge): false at the end of the data or after a read error
    // (the file is then closed and errorText() says so). Shares readFrame's position.
    bool readStoredFrame(dat::DatFrame& frame);
    // The same without a copy: the frame in the reader's buffer, valid until the next read or
    // close; nullptr where readStoredFrame gives false.
    const dat::DatFrame* nextStoredFrame();

    // Frame `index` of the data chunk as stored, without skipping (for dumps). False when the
    // index is beyond the frame count or the read fails; does not move readFrame's position.
    bool readFrameAt(std::uint32_t index, dat::DatFrame& frame);

    void close();

    bool isOpen() const { return fd_ >= 0; }
    std::uint32_t frameCount() const { return frameCount_; }
    std::uint32_t errorFrameCount() const { return errorFrameCount_; }
    const std::string& comment() const { return comment_; }
    // Probe results; kNoValue when absent.
    const dat::TimeCode& firstAbs() const { return firstAbs_; }
    const dat::TimeCode& lastAbs() const { return lastAbs_; }
    std::uint64_t remainingBytes() const { return remaining_; }
    const std::string& errorText() const { return errorText_; }
    const std::string& fileName() const { return fileName_; }

private:
    bool fail(const MessagePair& message, bool quiet, const std::string& reason = {});
    bool readHeader(bool quiet);
    bool probeTimes();
    bool fill();

    MessageSink& sink_;
    std::string fileName_;
    std::string errorText_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint64_t dataOffset_ = 0; // file offset of the first frame
    std::uint64_t dataSize_ = 0;
    std::uint64_t remaining_ = 0; // data bytes not yet read
    std::uint32_t frameCount_ = 0;
    std::uint32_t errorFrameCount_ = 0;
    std::string comment_;
    dat::TimeCode firstAbs_ = dat::kNoValue;
    dat::TimeCode lastAbs_ = dat::kNoValue;
    // Read-ahead of whole frames, so that sequential reading costs one system call per batch.
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferPos_ = 0;
    std::size_t bufferLen_ = 0;
};

// The header fields and chunk places of an image, as read before any size is checked.
struct ImageLayout {
    std::uint32_t riffSize = 0;
    std::uint32_t frameCount = 0;
    std::uint32_t errorFrameCount = 0;
    std::uint64_t frameCountOffset = 0; // file offset of the frame count field
    std::uint64_t dataSizeOffset = 0;   // file offset of the data chunk's size field
    std::uint64_t dataOffset = 0;       // first frame
    std::uint32_t dataSize = 0;
    std::string comment;
    // The data chunk holds exactly the frames counted and ends where the file ends.
    bool consistent(std::uint64_t fileSize) const;
};

// Reads the header forms and walks the chunks up to "data". Returns the failure's message, or
// nullptr with `layout` filled.
const MessagePair* walkImageHeader(int fd, std::uint64_t fileSize, ImageLayout& layout);

// What an image holds against what its header counts: a crash or power loss leaves an image
// whose header was last brought up to date some frames ago, possibly with half a frame at the
// end. The reader refuses such a file; these tell the user why and rewrite the header.
struct ImageDiagnosis {
    bool structureRead = false; // the header and the chunks up to "data" could be read
    bool consistent = false;    // the reader would accept the sizes
    std::uint32_t headerFrames = 0;
    std::uint64_t wholeFrames = 0;  // whole frames after the data chunk's header
    std::uint64_t partialBytes = 0; // bytes of a partial last frame
};
ImageDiagnosis diagnoseImage(const std::string& fileName);
// "The header counts N frames, the file holds M whole frames." and the partial frame's bytes.
std::string imageDiagnosisText(const ImageDiagnosis& diagnosis);

enum class ImageRepair { Repaired, NothingToRepair, Failed };
// Rewrites the sizes and the frame count from the whole frames present, dropping a partial
// last frame; the comment and the error frame count stay as they are. Failures are shown
// through `sink` as "message\n\nfile name". `found` gets what was found before the repair.
ImageRepair repairImage(const std::string& fileName, MessageSink& sink,
                        ImageDiagnosis* found = nullptr);

// The Property text of an image opened in probe mode: frame count, their duration, first and
// last ABS time, error frames and comment.
std::string imagePropertyText(const ImageReader& reader);

} // namespace tarnvel::formats
