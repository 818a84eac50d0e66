#pragma once

#include "formats/AudioFileWriter.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnvel {
class MessageSink;
}

namespace tarnvel::formats {

// Vorbis comments of a FLAC file: (field, value) pairs in their order.
using FlacTags = std::vector<std::pair<std::string, std::string>>;

// Writes a FLAC file through libFLAC (integer PCM of 16, 24 or 32 bits, any channel count
// libFLAC takes). STREAMINFO ends with the MD5 of the audio; the Vorbis comments given before
// create() are written with the file, and comments given again before finish() replace them
// in the padding kept for them (the file is rewritten only when they outgrow it). Failures
// are shown through the sink ("%s\n\n%s": message, file name) and returned as false / 0.
// Not thread-safe; one producer thread calls create, write and finish.
class FlacFileWriter final : public AudioFileWriter {
public:
    static constexpr int kDefaultLevel = 5;
    // Room kept after the comments, so that the final ones replace them in place.
    static constexpr unsigned kPaddingBytes = 8192;

    explicit FlacFileWriter(MessageSink& sink, int compressionLevel = kDefaultLevel);
    ~FlacFileWriter() override; // finishes an open file
    FlacFileWriter(const FlacFileWriter&) = delete;
    FlacFileWriter& operator=(const FlacFileWriter&) = delete;

    void setFileName(const std::string& name) override { name_ = name; }
    void setFormat(const WaveFormat& format) override { format_ = format; }
    const WaveFormat& format() const override { return format_; }
    void setTags(FlacTags tags) { tags_ = std::move(tags); }
    const FlacTags& tags() const { return tags_; }

    bool create() override;
    std::size_t write(const std::uint8_t* data, std::size_t bytes) override;
    // keepOpen: nothing to do (FLAC frames are complete as they are written); otherwise the
    // encoder ends the stream (STREAMINFO with the MD5) and the final comments are written.
    bool finish(bool keepOpen) override;
    bool isOpen() const override { return encoder_ != nullptr; }
    int splitCount() const override { return 0; }
    std::string partName(int n) const override { return n == 0 ? name_ : std::string(); }

    // A format FLAC can hold losslessly here: integer PCM of 16, 24 or 32 bits.
    static bool canHold(const WaveFormat& format);

private:
    class Encoder;
    void showError(const char* text, const std::string& detail);

    MessageSink& sink_;
    int level_;
    std::string name_;
    WaveFormat format_;
    FlacTags tags_;
    FlacTags writtenTags_;
    std::unique_ptr<Encoder> encoder_;
    std::vector<std::int32_t> samples_;
};

// Reads a FLAC file to its end: the audio in the layout a WAV "data" chunk holds (little
// endian, 8/16/24/32 bits), given to `onData` in pieces, and libFLAC's check of the decoded
// audio against the MD5 in STREAMINFO.
struct FlacReadResult {
    bool ok = false;          // decoded to its end without an error
    bool md5Checked = false;  // the file carries an MD5 (an all-zero one means none)
    bool md5Matches = false;  // ... and the decoded audio matches it
    WaveFormat format;        // from STREAMINFO
    std::uint64_t frames = 0; // samples per channel decoded
    std::string error;        // why not ok
};
FlacReadResult readFlacFile(const std::string& path,
                            const std::function<void(const std::uint8_t*, std::size_t)>& onData);

// The sample format (as a WAV file would hold the decoded audio) and the samples per channel
// STREAMINFO states; false when the file cannot be read as FLAC.
bool readFlacStreamInfo(const std::string& path, WaveFormat& format, std::uint64_t& frames);

// The name ends in ".flac" (any letter case).
bool hasFlacExtension(const std::string& name);

// The Vorbis comments of a FLAC file; false when it cannot be read.
bool readFlacTags(const std::string& path, FlacTags& tags);

} // namespace tarnvel::formats
