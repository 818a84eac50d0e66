#include "formats/ImageReader.h"

#include "common/ByteOrder.h"
#include "formats/ImageMessages.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::formats {

namespace {

constexpr std::size_t kReadAheadFrames = 32;

bool isId(const std::uint8_t* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

bool hasAbsTime(const std::uint8_t* frame)
{
    const dat::SubcodeBlock block = dat::SubcodeBlock::fromBytes(frame + dat::kSubcodeOffset);
    return dat::decodedAbsTime(block).hours != 0xAA;
}

} // namespace

bool ImageReader::fail(const MessagePair& message, bool quiet, const std::string& reason)
{
    close();
    errorText_ = tr(message);
    if (!reason.empty())
        errorText_ += "  (" + reason + ")";
    if (!quiet)
        sink_.showMessage(stringPrintf(tr(kMsgWithDetail), errorText_.c_str(), fileName_.c_str()),
                          MessageIcon::Warning);
    return false;
}

void ImageReader::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    remaining_ = 0;
    bufferPos_ = bufferLen_ = 0;
}

bool ImageReader::open(const std::string& fileName, bool probe)
{
    close();
    fileName_ = fileName;
    errorText_.clear();
    comment_.clear();
    frameCount_ = errorFrameCount_ = 0;
    firstAbs_ = lastAbs_ = dat::kNoValue;

    // Only regular files, opened without blocking: a FIFO or a device could block or never end.
    OpenFailure failure;
    fd_ = openRegularFile(fileName, O_RDONLY, failure);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        const bool plain =
            failure.problem == OpenProblem::NotFound || failure.problem == OpenProblem::None;
        return fail(kMsgImageOpenFailed, probe, plain ? std::string() : failure.text());
    }
    fileSize_ = static_cast<std::uint64_t>(st.st_size);
    if (!readHeader(probe))
        return false;
    if (buffer_.empty())
        buffer_.resize(kReadAheadFrames * dat::kFrameBytes);
    if (!probe)
        return true;
    const bool ok = probeTimes();
    close();
    return ok;
}

const MessagePair* walkImageHeader(int fd, std::uint64_t fileSize, ImageLayout& layout)
{
    layout = {};
    std::uint8_t h[16];
    if (preadAll(fd, h, sizeof h, 0) != sizeof h)
        return &kMsgImageReadFailed;
    layout.riffSize = readLe32(&h[4]);
    std::uint32_t infoSize = 0;
    std::uint64_t pos = 0;
    if (isId(&h[0], "TVI ") && isId(&h[8], "IMG ") && isId(&h[12], "info")) {
        std::uint8_t s[4];
        if (preadAll(fd, s, 4, 16) != 4)
            return &kMsgImageReadFailed;
        infoSize = readLe32(s);
        pos = 20;
    } else if (isId(&h[0], "TVI ") && isId(&h[8], "info")) {
        // Older form without the form type.
        infoSize = readLe32(&h[12]);
        pos = 16;
    } else {
        return &kMsgImageInvalidFormat;
    }
    // The info chunk must at least hold both counts; anything after them is skipped.
    if (infoSize < kImageInfoBytes)
        return &kMsgImageInvalidFormat;
    std::uint8_t info[kImageInfoBytes];
    if (pos + infoSize > fileSize ||
        preadAll(fd, info, sizeof info, static_cast<off_t>(pos)) != sizeof info)
        return &kMsgImageReadFailed;
    layout.frameCountOffset = pos;
    layout.frameCount = readLe32(&info[0]);
    layout.errorFrameCount = readLe32(&info[4]);
    pos += infoSize;

    // Chunk walk up to "data"; every step moves on by at least 8 bytes, so it ends.
    for (;;) {
        std::uint8_t chunk[8];
        if (pos + 8 > fileSize || preadAll(fd, chunk, 8, static_cast<off_t>(pos)) != 8)
            return &kMsgImageInvalidFormat;
        const std::uint32_t size = readLe32(&chunk[4]);
        pos += 8;
        if (isId(chunk, "data")) {
            layout.dataSizeOffset = pos - 4;
            layout.dataOffset = pos;
            layout.dataSize = size;
            return nullptr;
        }
        if (isId(chunk, "cmt ") || isId(chunk, "LIST")) {
            // The comment holds at most 80 characters; a longer chunk is cut.
            char text[kImageCommentBytes] = {};
            const std::size_t want = std::min<std::size_t>(size, kImageCommentBytes);
            if (pos + size > fileSize || preadAll(fd, reinterpret_cast<std::uint8_t*>(text), want,
                                                  static_cast<off_t>(pos)) != want)
                return &kMsgImageInvalidFormat;
            layout.comment.assign(text, strnlen(text, want));
        }
        pos += size;
    }
}

bool ImageLayout::consistent(std::uint64_t fileSize) const
{
    return dataSize / dat::kFrameBytes == frameCount &&
           fileSize == static_cast<std::uint64_t>(riffSize) + 8 &&
           dataOffset + dataSize == fileSize;
}

bool ImageReader::readHeader(bool quiet)
{
    ImageLayout layout;
    if (const MessagePair* problem = walkImageHeader(fd_, fileSize_, layout))
        return fail(*problem, quiet);
    frameCount_ = layout.frameCount;
    errorFrameCount_ = layout.errorFrameCount;
    comment_ = layout.comment;
    if (!layout.consistent(fileSize_))
        return fail(kMsgImageInvalidFormat, quiet);
    dataOffset_ = layout.dataOffset;
    dataSize_ = remaining_ = layout.dataSize;
    return true;
}

ImageDiagnosis diagnoseImage(const std::string& fileName)
{
    ImageDiagnosis d;
    OpenFailure failure;
    const int fd = openRegularFile(fileName, O_RDONLY, failure);
    struct stat st {};
    if (fd < 0)
        return d;
    ImageLayout layout;
    if (::fstat(fd, &st) == 0 &&
        walkImageHeader(fd, static_cast<std::uint64_t>(st.st_size), layout) == nullptr) {
        const auto fileSize = static_cast<std::uint64_t>(st.st_size);
        d.structureRead = true;
        d.consistent = layout.consistent(fileSize);
        d.headerFrames = layout.frameCount;
        d.wholeFrames = (fileSize - layout.dataOffset) / dat::kFrameBytes;
        d.partialBytes = (fileSize - layout.dataOffset) % dat::kFrameBytes;
    }
    ::close(fd);
    return d;
}

std::string imageDiagnosisText(const ImageDiagnosis& d)
{
    std::string text = stringPrintf(tr(kMsgImageFramesDisagree), d.headerFrames,
                                    static_cast<unsigned long long>(d.wholeFrames));
    if (d.partialBytes != 0)
        text += stringPrintf(tr(kMsgImagePartialFrame),
                             static_cast<unsigned long long>(d.partialBytes));
    return text;
}

ImageRepair repairImage(const std::string& fileName, MessageSink& sink, ImageDiagnosis* found)
{
    const auto show = [&](const std::string& message) {
        sink.showMessage(stringPrintf(tr(kMsgWithDetail), message.c_str(), fileName.c_str()),
                         MessageIcon::Warning);
        return ImageRepair::Failed;
    };
    ImageDiagnosis d;
    OpenFailure failure;
    const int fd = openRegularFile(fileName, O_RDWR, failure);
    if (fd < 0) {
        const bool plain = failure.problem == OpenProblem::NotFound;
        return show(std::string(tr(kMsgImageOpenFailed)) +
                    (plain ? std::string() : "  (" + failure.text() + ")"));
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    ImageLayout layout;
    if (::fstat(fd, &st) != 0)
        return show(tr(kMsgImageReadFailed));
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (const MessagePair* problem = walkImageHeader(fd, fileSize, layout))
        return show(tr(*problem));
    d.structureRead = true;
    d.consistent = layout.consistent(fileSize);
    d.headerFrames = layout.frameCount;
    d.wholeFrames = (fileSize - layout.dataOffset) / dat::kFrameBytes;
    d.partialBytes = (fileSize - layout.dataOffset) % dat::kFrameBytes;
    if (found != nullptr)
        *found = d;
    if (d.consistent)
        return ImageRepair::NothingToRepair;

    const std::uint64_t dataBytes = d.wholeFrames * dat::kFrameBytes;
    const std::uint64_t newSize = layout.dataOffset + dataBytes;
    // Every size must fit the header's 32-bit fields.
    if (newSize - 8 > 0xFFFFFFFFu)
        return show(tr(kMsgImageSizeLimit));
    // The partial frame goes first: until the header is rewritten the image stays repairable.
    if (newSize != fileSize && ::ftruncate(fd, static_cast<off_t>(newSize)) != 0)
        return show(tr(kMsgImageWriteFailed));
    std::uint8_t field[4];
    const auto put = [&](std::uint64_t offset, std::uint32_t value) {
        writeLe32(field, value);
        return pwriteAll(fd, field, sizeof field, static_cast<off_t>(offset)) == sizeof field;
    };
    if (!put(kImageOffRiffSize, static_cast<std::uint32_t>(newSize - 8)) ||
        !put(layout.frameCountOffset, static_cast<std::uint32_t>(d.wholeFrames)) ||
        !put(layout.dataSizeOffset, static_cast<std::uint32_t>(dataBytes)) || ::fsync(fd) != 0)
        return show(tr(kMsgImageWriteFailed));
    return ImageRepair::Repaired;
}

bool ImageReader::probeTimes()
{
    if (frameCount_ < 2)
        return false;
    dat::DatFrame frame;
    if (readFrame(frame, true) != dat::kFrameBytes)
        return false;
    firstAbs_ = dat::decodedAbsTime(frame.subcode);
    const std::uint64_t firstIndex = (dataSize_ - remaining_) / dat::kFrameBytes - 1;
    // The last frame that carries an ABS time; frames without one are skipped as in reading.
    for (std::uint64_t i = frameCount_; i-- > firstIndex;) {
        std::uint8_t sub[dat::kSubcodeBytes];
        const off_t at =
            static_cast<off_t>(dataOffset_ + i * dat::kFrameBytes + dat::kSubcodeOffset);
        if (preadAll(fd_, sub, sizeof sub, at) != sizeof sub)
            return false;
        const dat::TimeCode t = dat::decodedAbsTime(dat::SubcodeBlock::fromBytes(sub));
        if (t.hours != 0xAA) {
            lastAbs_ = t;
            return true;
        }
    }
    return false;
}

bool ImageReader::fill()
{
    // Whole frames only; a partial frame at the end is a short read.
    const std::uint64_t whole = remaining_ - remaining_ % dat::kFrameBytes;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(whole, buffer_.size()));
    const off_t at = static_cast<off_t>(dataOffset_ + dataSize_ - remaining_);
    bufferPos_ = 0;
    bufferLen_ = want == 0 ? 0 : preadAll(fd_, buffer_.data(), want, at);
    return bufferLen_ >= dat::kFrameBytes;
}

std::size_t ImageReader::readFrame(std::uint8_t* buffer, std::size_t n, bool quiet)
{
    if (fd_ < 0 || n != dat::kFrameBytes)
        return 0;
    while (remaining_ > 0) {
        if (bufferLen_ - bufferPos_ < n && !fill()) {
            fail(kMsgImageReadFailed, quiet);
            return 0;
        }
        const std::uint8_t* frame = &buffer_[bufferPos_];
        bufferPos_ += n;
        remaining_ -= n;
        if (!hasAbsTime(frame))
            continue;
        std::memcpy(buffer, frame, n);
        return n;
    }
    return 0;
}

const dat::DatFrame* ImageReader::nextStoredFrame()
{
    if (fd_ < 0 || remaining_ < dat::kFrameBytes)
        return nullptr;
    if (bufferLen_ - bufferPos_ < dat::kFrameBytes && !fill()) {
        fail(kMsgImageReadFailed, true);
        return nullptr;
    }
    // A frame is bytes only (alignment 1, trivially copyable): the buffer holds it as it is.
    const auto* frame = reinterpret_cast<const dat::DatFrame*>(&buffer_[bufferPos_]);
    bufferPos_ += dat::kFrameBytes;
    remaining_ -= dat::kFrameBytes;
    return frame;
}

bool ImageReader::readStoredFrame(dat::DatFrame& frame)
{
    const dat::DatFrame* f = nextStoredFrame();
    if (f == nullptr)
        return false;
    frame = *f;
    return true;
}

bool ImageReader::readFrameAt(std::uint32_t index, dat::DatFrame& frame)
{
    if (fd_ < 0 || index >= frameCount_)
        return false;
    const off_t at = static_cast<off_t>(dataOffset_ + std::uint64_t{index} * dat::kFrameBytes);
    return preadAll(fd_, frame.data(), dat::kFrameBytes, at) == dat::kFrameBytes;
}

std::string imagePropertyText(const ImageReader& reader)
{
    const std::string duration = dat::timeText(dat::framesToAbs(reader.frameCount()));
    const std::string first = dat::timeText(reader.firstAbs());
    const std::string last = dat::timeText(reader.lastAbs());
    const char* fmt = tr(kMsgImageProperty);
    const auto format = [&](char* out, std::size_t size) {
        return std::snprintf(out, size, fmt, static_cast<int>(reader.frameCount()),
                             duration.c_str(), first.c_str(), last.c_str(),
                             static_cast<int>(reader.errorFrameCount()), reader.comment().c_str());
    };
    const int n = format(nullptr, 0);
    if (n <= 0)
        return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    format(text.data(), text.size() + 1);
    return text;
}

} // namespace tarnvel::formats
