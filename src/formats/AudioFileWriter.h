#pragma once

#include "formats/WaveFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>

// What the playback to files writes through, whatever the container (WAV, Broadcast Wave,
// FLAC): the division at IDs, the cue list and the report do not care which.
namespace tarnvel::formats {

class AudioFileWriter {
public:
    virtual ~AudioFileWriter() = default;

    virtual void setFileName(const std::string& name) = 0;
    virtual void setFormat(const WaveFormat& format) = 0;
    virtual const WaveFormat& format() const = 0;
    // Creates the file anew with the current format; false after a message.
    virtual bool create() = 0;
    // Appends interleaved little-endian samples in the format's layout (as a WAV "data"
    // chunk holds them); returns `bytes`, or 0 after a message.
    virtual std::size_t write(const std::uint8_t* data, std::size_t bytes) = 0;
    // keepOpen: make what was written readable and go on; otherwise complete and close.
    virtual bool finish(bool keepOpen) = 0;
    virtual bool isOpen() const = 0;
    // Continuation files of the current one (a WAV file splits before 2 GiB) and the name of
    // the n-th part (0: the file itself).
    virtual int splitCount() const = 0;
    virtual std::string partName(int n) const = 0;
};

} // namespace tarnvel::formats
