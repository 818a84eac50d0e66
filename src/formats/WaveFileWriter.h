#pragma once

#include "formats/AudioFileWriter.h"
#include "formats/WaveFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnvel {
class MessageSink;
}

namespace tarnvel::formats {

// Writes a canonical 44-byte-header WAV file while a tape plays to file or a sound input
// records. Long recordings continue in NAME_1.WAV .. NAME_9.WAV before a file reaches 2 GiB;
// every 5 seconds of audio the header is brought up to date and the free disk space checked,
// so that a crash or a full disk leaves a readable file. Failures are shown through the sink
// ("%s\n\n%s": message, file name) and returned as false / 0 bytes.
// Not thread-safe; one producer thread calls create, write and finish.
class WaveFileWriter final : public AudioFileWriter {
public:
    static constexpr std::size_t kHeaderBytes = 44;
    // A file is split once it holds this many bytes, so that it stays below 2 GiB plus a block.
    static constexpr std::uint64_t kSplitBytes = 0x7FF00001;
    static constexpr int kMaxSplits = 9;
    static constexpr std::uint64_t kPeriodicCheckBytes = 1100000;
    // The "fact" chunk of float files: id, size, sample frame count.
    static constexpr std::size_t kFactChunkBytes = 12;

    explicit WaveFileWriter(MessageSink& sink);
    ~WaveFileWriter() override; // finishes an open file
    WaveFileWriter(const WaveFileWriter&) = delete;
    WaveFileWriter& operator=(const WaveFileWriter&) = delete;

    // The target; a new name starts a new series of split files.
    void setFileName(const std::string& name) override;
    // The target name: after create() refused an extension, the corrected ".WAV" name.
    const std::string& fileName() const { return targetName_; }
    // The file being written: the target or one of its split continuations.
    const std::string& currentFileName() const { return currentName_; }
    void setFormat(const WaveFormat& format) override { format_ = format; }
    const WaveFormat& format() const override { return format_; }
    // A chunk written between "fmt " and "data" of every file (a Broadcast Wave "bext");
    // an empty id writes the canonical 44-byte header.
    void setExtraChunk(const std::string& id, std::vector<std::uint8_t> body);
    // Replaces the extra chunk's body by one of the same size (a description completed at
    // the end); it reaches the file with the next header update. False for another size.
    bool updateExtraChunk(const std::vector<std::uint8_t>& body);
    // Bytes before the samples: 44; for float data 2 more (cbSize) and the "fact" chunk; and
    // the extra chunk.
    std::size_t headerBytes() const { return header_.size(); }
    // Lowers the split size (small media, tests); never above kSplitBytes.
    void setSplitBytes(std::uint64_t bytes);

    // Creates the file anew with the current format. false after a message; when the name
    // lacked the ".WAV" extension, fileName() holds the corrected name for a retry.
    bool create() override;
    // Appends audio; returns `bytes`, or 0 after a message (the file keeps its last header).
    std::size_t write(const std::uint8_t* data, std::size_t bytes) override;
    // keepOpen: bring the header up to date and go on writing. Otherwise pad to an even
    // length, complete the header and close. Without an open file: true, nothing to do.
    bool finish(bool keepOpen) override;

    bool isOpen() const override { return fd_ >= 0; }
    std::uint64_t bytesWritten() const { return bytesWritten_; } // header included
    int splitCount() const override { return splitCount_; }
    std::string partName(int n) const override
    {
        return n == 0 ? targetName_ : splitFileName(targetName_, n);
    }
    std::uint64_t nextCheckPoint() const { return nextCheckPoint_; }
    std::uint64_t freeBytesSeen() const { return freeBytesSeen_; }

    // How far the next disk check moves after one that saw `freeBytes`: one check step,
    // or, when less than 4 GiB are free and two steps would not fit, up to 1000000 bytes
    // before the disk is full.
    static std::uint64_t checkPointAdvance(std::uint64_t checkStep, std::uint64_t freeBytes);
    // The name with its extension replaced by ".WAV" (".WAV" appended when it has none).
    static std::string withWavExtension(const std::string& name);
    static bool hasWavExtension(const std::string& name);
    // The n-th continuation (1-9) of a ".WAV" name: "TAKE.WAV" -> "TAKE_1.WAV".
    static std::string splitFileName(const std::string& name, int n);

private:
    bool createFile();
    bool splitToNextFile();
    std::size_t writeChunk(const std::uint8_t* data, std::size_t bytes);
    bool writeHeader();
    void buildHeader();
    void showError(const char* text, const std::string& name, int error = 0);
    void closeFd();

    MessageSink& sink_;
    std::string targetName_;
    std::string currentName_;
    WaveFormat format_;
    std::vector<std::uint8_t> header_ = std::vector<std::uint8_t>(kHeaderBytes);
    std::string extraId_;
    std::vector<std::uint8_t> extraBody_;
    std::size_t factOffset_ = 0;  // where the "fact" chunk starts in the header; 0: none
    std::size_t extraOffset_ = 0; // where the extra chunk starts; 0: none
    int fd_ = -1;
    std::uint64_t bytesWritten_ = 0;
    std::uint64_t nextCheckPoint_ = 0;
    std::uint64_t checkStep_ = 0;
    std::uint64_t freeBytesSeen_ = 0;
    std::uint64_t splitBytes_ = kSplitBytes;
    int splitCount_ = 0;
};

} // namespace tarnvel::formats
