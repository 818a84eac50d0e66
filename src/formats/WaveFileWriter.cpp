#include "formats/WaveFileWriter.h"

#include "common/ByteOrder.h"
#include "common/Message.h"
#include "common/MessageSink.h"
#include "formats/DiskSpace.h"
#include "formats/FormatMessages.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel::formats {

namespace {

constexpr std::uint64_t kFourGiB = 0x100000000ULL;
constexpr std::uint64_t kDiskReserve = 1000000;
// Larger writes are cut so that the split and disk checks see every 16 MiB.
constexpr std::size_t kMaxChunk = 16u << 20;

// Start of the last path component: dots in folder names never count as an extension.
std::size_t baseNameStart(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The extension dot: the last one in the file's own name, not its first character.
std::size_t extensionDot(const std::string& name)
{
    const std::size_t base = baseNameStart(name);
    const std::size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot <= base) ? std::string::npos : dot;
}

} // namespace

WaveFileWriter::WaveFileWriter(MessageSink& sink) : sink_(sink) {}

WaveFileWriter::~WaveFileWriter()
{
    if (isOpen())
        finish(false);
}

void WaveFileWriter::setFileName(const std::string& name)
{
    targetName_ = name;
    currentName_ = name;
    splitCount_ = 0;
}

void WaveFileWriter::setSplitBytes(std::uint64_t bytes)
{
    splitBytes_ = std::clamp<std::uint64_t>(bytes, kHeaderBytes + 1, kSplitBytes);
}

bool WaveFileWriter::hasWavExtension(const std::string& name)
{
    const std::size_t dot = extensionDot(name);
    return dot != std::string::npos && name.size() - dot == 4 &&
           strncasecmp(name.c_str() + dot + 1, "WAV", 3) == 0;
}

std::string WaveFileWriter::withWavExtension(const std::string& name)
{
    const std::size_t dot = extensionDot(name);
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".WAV";
}

std::uint64_t WaveFileWriter::checkPointAdvance(std::uint64_t checkStep, std::uint64_t freeBytes)
{
    if (freeBytes < kFourGiB && 2 * checkStep > freeBytes && freeBytes > kDiskReserve)
        return freeBytes - kDiskReserve;
    return checkStep;
}

void WaveFileWriter::showError(const char* text, const std::string& name, int error)
{
    // The system's reason (a full disk, a missing folder) follows the message when known.
    const std::string said =
        error != 0 ? stringPrintf("%s  (%s)", text, std::strerror(error)) : std::string(text);
    sink_.showMessage(stringPrintf("%s\n\n%s", said.c_str(), name.c_str()), MessageIcon::Warning);
}

void WaveFileWriter::closeFd()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void WaveFileWriter::setExtraChunk(const std::string& id, std::vector<std::uint8_t> body)
{
    extraId_ = id.substr(0, 4);
    extraBody_ = std::move(body);
    if (extraBody_.size() & 1)
        extraBody_.push_back(0); // chunks keep the even alignment
}

bool WaveFileWriter::updateExtraChunk(const std::vector<std::uint8_t>& body)
{
    std::vector<std::uint8_t> padded = body;
    if (padded.size() & 1)
        padded.push_back(0);
    if (extraId_.empty() || padded.size() != extraBody_.size())
        return false;
    extraBody_ = std::move(padded);
    if (extraOffset_ != 0)
        std::memcpy(header_.data() + extraOffset_ + 8, extraBody_.data(), extraBody_.size());
    return true;
}

void WaveFileWriter::buildHeader()
{
    const std::uint16_t blockAlign =
        static_cast<std::uint16_t>(format_.channels * format_.bitsPerSample / 8);
    // Float data gets the extended "fmt " body (cbSize 0) and a "fact" chunk with the sample
    // frame count, which readers of non-PCM files expect.
    const bool isFloat = format_.isFloat();
    const std::size_t fmtBody = isFloat ? 18 : 16;
    const std::size_t fact = isFloat ? kFactChunkBytes : 0;
    const std::size_t extra = extraId_.empty() ? 0 : 8 + extraBody_.size();
    header_.assign(kHeaderBytes + (fmtBody - 16) + fact + extra, 0);
    factOffset_ = fact != 0 ? 20 + fmtBody : 0;
    extraOffset_ = extra != 0 ? 20 + fmtBody + fact : 0;
    std::uint8_t* h = header_.data();
    std::memcpy(h, "RIFF", 4);
    writeLe32(h + 4, static_cast<std::uint32_t>(header_.size() - 8));
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    writeLe32(h + 16, static_cast<std::uint32_t>(fmtBody));
    writeLe16(h + 20, format_.formatTag);
    writeLe16(h + 22, format_.channels);
    writeLe32(h + 24, format_.samplesPerSec);
    writeLe32(h + 28, format_.blockAlign * format_.samplesPerSec);
    writeLe16(h + 32, blockAlign);
    writeLe16(h + 34, format_.bitsPerSample);
    if (fact != 0) {
        std::memcpy(h + factOffset_, "fact", 4);
        writeLe32(h + factOffset_ + 4, 4);
        writeLe32(h + factOffset_ + 8, 0);
    }
    if (extra != 0) {
        std::memcpy(h + extraOffset_, extraId_.data(), extraId_.size());
        writeLe32(h + extraOffset_ + 4, static_cast<std::uint32_t>(extraBody_.size()));
        std::memcpy(h + extraOffset_ + 8, extraBody_.data(), extraBody_.size());
    }
    std::memcpy(h + header_.size() - 8, "data", 4);
    writeLe32(h + header_.size() - 4, 0);
}

std::string WaveFileWriter::splitFileName(const std::string& name, int n)
{
    return name.substr(0, name.rfind('.')) + "_" + static_cast<char>('0' + n) + ".WAV";
}

bool WaveFileWriter::create()
{
    if (isOpen())
        finish(false);
    currentName_ = targetName_;
    splitCount_ = 0;
    return createFile();
}

bool WaveFileWriter::createFile()
{
    buildHeader();
    if (!hasWavExtension(currentName_)) {
        showError(tr(msg::kExtentNotWav), currentName_);
        targetName_ = withWavExtension(currentName_);
        currentName_ = targetName_;
        return false;
    }
    if (!checkDiskSpace(currentName_, header_.size(), {}, sink_, &freeBytesSeen_))
        return false;

    OpenFailure failure;
    fd_ = createRegularFile(currentName_, true, failure);
    if (fd_ < 0) {
        sink_.showMessage(stringPrintf("%s  (%s)\n\n%s", tr(msg::kUnableToCreate),
                                       failure.text().c_str(), currentName_.c_str()),
                          MessageIcon::Warning);
        return false;
    }
    errno = 0;
    if (writeAll(fd_, header_.data(), header_.size()) != header_.size()) {
        const int error = errno;
        closeFd();
        showError(tr(msg::kUnableToWrite), currentName_, error);
        ::unlink(currentName_.c_str());
        return false;
    }
    bytesWritten_ = header_.size();
    checkStep_ = 5ULL * format_.blockAlign * format_.samplesPerSec;
    nextCheckPoint_ = header_.size() + checkStep_;
    return true;
}

bool WaveFileWriter::splitToNextFile()
{
    ++splitCount_;
    if (splitCount_ > kMaxSplits) {
        finish(false);
        showError(tr(msg::kSplitLimit), currentName_);
        return false;
    }
    if (!finish(false))
        return false;
    currentName_ = splitFileName(targetName_, splitCount_);
    return createFile();
}

std::size_t WaveFileWriter::write(const std::uint8_t* data, std::size_t bytes)
{
    if (bytes == 0 || !isOpen())
        return 0;
    for (std::size_t done = 0; done < bytes;) {
        const std::size_t n = writeChunk(data + done, std::min(bytes - done, kMaxChunk));
        if (n == 0)
            return 0;
        done += n;
    }
    return bytes;
}

std::size_t WaveFileWriter::writeChunk(const std::uint8_t* data, std::size_t bytes)
{
    if (bytesWritten_ >= splitBytes_ && !splitToNextFile())
        return 0;
    if (bytesWritten_ > nextCheckPoint_) {
        if (!finish(true))
            return 0;
        if (!checkDiskSpace(currentName_, kPeriodicCheckBytes, {}, sink_, &freeBytesSeen_))
            return 0;
        nextCheckPoint_ += checkPointAdvance(checkStep_, freeBytesSeen_);
    }
    errno = 0;
    if (writeAll(fd_, data, bytes) != bytes) {
        const int error = errno;
        // Cut a partial block off again so that the file matches the header it will get;
        // if that fails too, the header still tells readers where the samples end.
        const auto end = static_cast<off_t>(bytesWritten_);
        if (ftruncate(fd_, end) != 0)
            errno = 0;
        lseek(fd_, end, SEEK_SET);
        showError(tr(msg::kUnableToWrite), currentName_, error);
        return 0;
    }
    bytesWritten_ += bytes;
    return bytes;
}

bool WaveFileWriter::finish(bool keepOpen)
{
    if (!isOpen())
        return true;
    bool padded = false;
    if (!keepOpen && (bytesWritten_ & 1) != 0) {
        const std::uint8_t zero = 0;
        if (pwriteAll(fd_, &zero, 1, static_cast<off_t>(bytesWritten_)) == 1) {
            ++bytesWritten_;
            padded = true;
        }
    }
    const std::uint64_t dataBytes = bytesWritten_ - header_.size() - (padded ? 1 : 0);
    writeLe32(header_.data() + 4, static_cast<std::uint32_t>(bytesWritten_ - 8));
    writeLe32(header_.data() + header_.size() - 4, static_cast<std::uint32_t>(dataBytes));
    if (factOffset_ != 0 && format_.blockAlign != 0)
        writeLe32(header_.data() + factOffset_ + 8,
                  static_cast<std::uint32_t>(dataBytes / format_.blockAlign));
    errno = 0;
    if (pwriteAll(fd_, header_.data(), header_.size(), 0) != header_.size()) {
        const int error = errno;
        if (!keepOpen)
            closeFd();
        showError(tr(msg::kUnableToWrite), currentName_, error);
        return false;
    }
    if (keepOpen)
        return true;
    // The final close also waits for the disk, so that a reported success means the
    // recording is stored.
    int error = 0;
    const bool synced = fdatasync(fd_) == 0 || errno == EINVAL;
    if (!synced)
        error = errno;
    const bool closed = ::close(fd_) == 0;
    if (!closed && error == 0)
        error = errno;
    fd_ = -1;
    if (!synced || !closed) {
        showError(tr(msg::kUnableToClose), currentName_, error);
        return false;
    }
    return true;
}

} // namespace tarnvel::formats
