#include "formats/WaveFileReader.h"

#include "common/ByteOrder.h"
#include "formats/FormatMessages.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::formats {

namespace {

constexpr std::uint32_t kMinFmtSize = 16;
constexpr std::uint32_t kMaxFmtSize = 50;

bool idIs(const std::uint8_t* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

// Chunk ids are four printable ASCII characters; a pad byte (0) in front of one is not.
bool plausibleChunkId(const std::uint8_t* p)
{
    return std::all_of(p, p + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// The extensible header other tools write for 24-bit and multichannel audio: read as the
// plain header when its sub-format is PCM or IEEE float with a layout the program plays
// (one or two channels; 8, 16, 24 or 32-bit PCM, 32-bit float). The tag becomes the
// sub-format's, so that nothing after the reader needs to know the difference.
bool takeExtensible(const std::uint8_t* fmt, std::uint32_t fmtSize, WaveFormat& format)
{
    // cbSize (2), valid bits (2), channel mask (4), sub-format GUID (16).
    constexpr std::uint32_t kExtensibleSize = 40;
    static constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (fmtSize < kExtensibleSize || readLe16(fmt + 16) < 22)
        return false;
    const std::uint8_t* guid = fmt + 24;
    if (std::memcmp(guid + 2, kGuidTail, sizeof kGuidTail) != 0)
        return false;
    const std::uint16_t tag = readLe16(guid);
    const std::uint16_t bits = format.bitsPerSample;
    const std::uint16_t validBits = readLe16(fmt + 18);
    const bool pcm = tag == kWaveFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool ieee = tag == kWaveFormatIeeeFloat && bits == 32;
    if ((!pcm && !ieee) || format.channels < 1 || format.channels > 2 || validBits > bits)
        return false;
    format.formatTag = tag;
    return true;
}

bool readAt(std::FILE* f, std::uint64_t offset, std::uint8_t* out, std::size_t n)
{
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

} // namespace

WaveFileReader::~WaveFileReader()
{
    close();
}

void WaveFileReader::close()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool WaveFileReader::fail(const std::string& text)
{
    errorText_ = text;
    close();
    return false;
}

void WaveFileReader::setSilencePadding(std::uint32_t preBytes, std::uint32_t postBytes)
{
    preSilence_ = preBytes;
    postSilence_ = postBytes;
}

void WaveFileReader::setPosition(std::uint32_t bytes)
{
    position_ = std::min(bytes, dataLength_);
    resetPending_ = true;
}

bool WaveFileReader::readHeader(const std::string& fileName)
{
    close();
    errorText_.clear();
    dataOffset_ = 0;
    dataLength_ = 0;
    remaining_ = 0;
    position_ = 0;
    startPosition_ = 0;
    resetPending_ = false;
    format_ = WaveFormat{};
    silenceByte_ = 0;
    if (fileName.empty())
        return false;
    if (fileName[0] == ' ') {
        // A silence entry of the file list: only the pre-silence is played.
        dataLength_ = 1;
        return true;
    }

    // Non-blocking open so that a FIFO or device given as a name cannot hang the caller.
    OpenFailure failure;
    const int fd = openRegularFile(fileName, O_RDONLY, failure);
    if (fd < 0)
        return fail(failure.text());
    struct stat st {};
    if (fstat(fd, &st) != 0 || (file_ = fdopen(fd, "rb")) == nullptr) {
        ::close(fd);
        return fail(tr(msg::kUnableToReadHeader));
    }
    const auto fileLength = static_cast<std::uint64_t>(st.st_size);

    std::uint8_t head[20];
    if (std::fread(head, 1, sizeof head, file_) != sizeof head)
        return fail(tr(msg::kUnableToReadHeader));
    if (!idIs(head, "RIFF") || !idIs(head + 8, "WAVE") || !idIs(head + 12, "fmt "))
        return fail(tr(msg::kNotWaveFile));

    const std::uint32_t fmtSize = readLe32(head + 16);
    const std::uint32_t riffSize = readLe32(head + 4);
    if (fmtSize > kMaxFmtSize || fmtSize < kMinFmtSize || riffSize == 0)
        return fail(stringPrintf(tr(msg::kUnknownFmtSize), static_cast<int>(fmtSize),
                                 static_cast<int>(riffSize)));

    std::uint8_t fmt[kMaxFmtSize];
    if (std::fread(fmt, 1, fmtSize, file_) != fmtSize)
        return fail(tr(msg::kUnableToReadFmt));
    format_.formatTag = readLe16(fmt);
    format_.channels = readLe16(fmt + 2);
    format_.samplesPerSec = readLe32(fmt + 4);
    format_.avgBytesPerSec = readLe32(fmt + 8);
    format_.blockAlign = readLe16(fmt + 12);
    format_.bitsPerSample = readLe16(fmt + 14);
    format_.cbSize = 0;
    if (format_.formatTag == kWaveFormatExtensible && !takeExtensible(fmt, fmtSize, format_))
        return fail(tr(msg::kNotPcmData));
    if (format_.formatTag != kWaveFormatPcm && format_.formatTag != kWaveFormatIeeeFloat)
        return fail(tr(msg::kNotPcmData));

    // Walk the chunks up to "data". Sizes are taken as they stand; after an odd-sized chunk
    // the RIFF pad byte is skipped only when the header at the stated size is not a chunk
    // id, so that files with and without pad bytes both read.
    std::uint64_t offset = 20 + std::uint64_t{fmtSize};
    bool lastWasOdd = (fmtSize & 1) != 0;
    std::uint8_t chunk[8];
    for (;;) {
        if (!readAt(file_, offset, chunk, sizeof chunk))
            return fail(tr(msg::kNoData));
        if (lastWasOdd && !plausibleChunkId(chunk)) {
            std::uint8_t padded[8];
            if (chunk[0] == 0 && readAt(file_, offset + 1, padded, sizeof padded) &&
                plausibleChunkId(padded)) {
                offset += 1;
                std::memcpy(chunk, padded, sizeof chunk);
            }
        }
        offset += 8;
        const std::uint32_t size = readLe32(chunk + 4);
        if (idIs(chunk, "data")) {
            dataOffset_ = offset;
            const std::uint64_t available = fileLength > offset ? fileLength - offset : 0;
            dataLength_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, available));
            break;
        }
        if (idIs(chunk, "fact") && size == 4) {
            std::uint8_t factBody[4];
            if (std::fread(factBody, 1, sizeof factBody, file_) != sizeof factBody)
                return fail(tr(msg::kOthers));
            offset += 4;
            lastWasOdd = false;
        } else {
            offset += size;
            lastWasOdd = (size & 1) != 0;
        }
    }

    if (format_.bitsPerSample == 8)
        silenceByte_ = 128;
    resetPending_ = true;
    return true;
}

std::size_t WaveFileReader::readData(std::uint8_t* buffer, std::size_t bytes)
{
    if (resetPending_ && file_ != nullptr) {
        resetPending_ = false;
        if (fseeko(file_, static_cast<off_t>(dataOffset_ + position_), SEEK_SET) != 0) {
            fail(tr(msg::kFileSeekError));
            return 0;
        }
        remaining_ = dataLength_ - position_;
        startPosition_ = position_;
    }
    if (preSilence_ > 0) {
        std::memset(buffer, silenceByte_, bytes);
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(preSilence_, bytes));
        preSilence_ -= n;
        return n;
    }
    if (file_ == nullptr)
        return 0;

    const auto k = static_cast<std::uint32_t>(std::min<std::size_t>(remaining_, bytes));
    remaining_ -= k;
    if (k > 0 && std::fread(buffer, 1, k, file_) != k) {
        close();
        return 0;
    }
    if (k > 0 && k < bytes)
        std::memset(buffer + k, silenceByte_, bytes - k);
    if (k == 0 && postSilence_ > 0) {
        std::memset(buffer, silenceByte_, bytes);
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(postSilence_, bytes));
        postSilence_ -= n;
        return n;
    }
    return k;
}

} // namespace tarnvel::formats
