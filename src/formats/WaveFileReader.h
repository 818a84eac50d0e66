#pragma once

#include "formats/WaveFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tarnvel::formats {

// Reads PCM and IEEE-float WAV files for playback and for recording from files.
// readHeader checks and measures a file; readData then delivers its samples, framed by the
// requested silence. Failures leave a reason in errorText() (English) for the caller to show.
// One thread at a time; readData may run on a sound or engine thread once readHeader is done.
class WaveFileReader {
public:
    WaveFileReader() = default;
    ~WaveFileReader();
    WaveFileReader(const WaveFileReader&) = delete;
    WaveFileReader& operator=(const WaveFileReader&) = delete;

    // Checks the file and leaves it open for readData. A name beginning with a blank stands
    // for "no file": it succeeds with data length 1 and yields only the pre-silence.
    bool readHeader(const std::string& fileName);

    // Fills `buffer` with up to `bytes` bytes: pre-silence, then samples, then post-silence.
    // Returns the bytes delivered; 0 at the end or on a read error (the file is closed then).
    std::size_t readData(std::uint8_t* buffer, std::size_t bytes);

    void setSilencePadding(std::uint32_t preBytes, std::uint32_t postBytes);
    void close();

    const std::string& errorText() const { return errorText_; }
    const WaveFormat& format() const { return format_; }
    bool isOpen() const { return file_ != nullptr; }
    std::uint64_t dataOffset() const { return dataOffset_; }
    std::uint32_t dataLength() const { return dataLength_; }

    // Bytes of the data already played; the next readData starts there.
    std::uint32_t position() const { return position_; }
    void setPosition(std::uint32_t bytes);
    std::uint32_t startPosition() const { return startPosition_; }
    std::uint32_t remaining() const { return remaining_; }

    // 0, or 128 for 8-bit data (set by readHeader; the player may set it for its format).
    std::uint8_t silenceByte() const { return silenceByte_; }
    void setSilenceByte(std::uint8_t value) { silenceByte_ = value; }

private:
    bool fail(const std::string& text);

    std::FILE* file_ = nullptr;
    std::string errorText_;
    WaveFormat format_;
    std::uint64_t dataOffset_ = 0;
    std::uint32_t dataLength_ = 0;
    std::uint32_t remaining_ = 0;
    std::uint32_t position_ = 0;
    std::uint32_t startPosition_ = 0;
    std::uint32_t preSilence_ = 0;
    std::uint32_t postSilence_ = 0;
    std::uint8_t silenceByte_ = 0;
    bool resetPending_ = false;
};

} // namespace tarnvel::formats
