#include "sim/ImageTape.h"

#include "formats/ImageMessages.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "sim/SimMessages.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel::sim {

namespace {

constexpr std::size_t kEntryBytes = 64;
constexpr std::size_t kEntrySubcode = 2;

} // namespace

void ImageTape::FreeBytes::operator()(std::uint8_t* p) const
{
    std::free(p);
}

ImageTape::~ImageTape() = default;

std::unique_ptr<ImageTape> ImageTape::open(const std::string& path, std::string& error)
{
    // The image reader would only say "Unable to open file.": name the reason.
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        error = formats::stringPrintf(tr(kSimFileOpenFailed), path.c_str(), failure.text().c_str());
        return nullptr;
    }
    ::close(fd);
    std::unique_ptr<ImageTape> tape(new ImageTape);
    tape->path_ = path;
    tape->reader_ = std::make_unique<formats::ImageReader>(tape->sink_);
    if (!tape->reader_->open(path, false)) {
        error = tape->reader_->errorText() + " (" + path + ")";
        return nullptr;
    }
    tape->frames_ = tape->reader_->frameCount();
    if (tape->frames_ == 0) {
        error = formats::stringPrintf(tr(kSimImageEmpty), path.c_str());
        return nullptr;
    }
    tape->subcodes_.reset(static_cast<std::uint8_t*>(
        std::calloc(static_cast<std::size_t>(tape->frames_), kEntryBytes)));
    if (!tape->subcodes_) {
        error = formats::stringPrintf(tr(kSimFileOpenFailed), path.c_str(), std::strerror(ENOMEM));
        return nullptr;
    }
    return tape;
}

const std::uint8_t* ImageTape::subcode(std::int64_t frame) const
{
    if (!isRecorded(frame))
        return nullptr;
    std::uint8_t* entry = subcodes_.get() + static_cast<std::size_t>(frame) * kEntryBytes;
    if (entry[0] == 0) {
        if (!reader_->readFrameAt(static_cast<std::uint32_t>(frame), scratch_))
            return nullptr; // a read error: looked at again next time
        std::memcpy(entry + kEntrySubcode, scratch_.data() + dat::kSubcodeOffset,
                    dat::kSubcodeBytes);
        entry[0] = 1;
    }
    return entry + kEntrySubcode;
}

std::int64_t ImageTape::nextUnrecorded(std::int64_t from) const
{
    return from < frames_ ? frames_ : std::min(from, lengthFrames());
}

bool ImageTape::readFrame(std::int64_t frame, std::uint8_t* out, std::string& error) const
{
    if (!isRecorded(frame)) {
        std::memset(out, 0, dat::kFrameBytes);
        return false;
    }
    if (!reader_->readFrameAt(static_cast<std::uint32_t>(frame), scratch_)) {
        error = std::string(tr(formats::kMsgImageReadFailed)) + " (" + path_ + ")";
        return false;
    }
    std::memcpy(out, scratch_.data(), dat::kFrameBytes);
    return true;
}

bool ImageTape::writeFrame(std::int64_t, const std::uint8_t*, std::string& error)
{
    error = formats::stringPrintf(tr(kSimCassetteReadOnly), path_.c_str());
    return false;
}

} // namespace tarnvel::sim
