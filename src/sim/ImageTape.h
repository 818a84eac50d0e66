#pragma once

#include "common/MessageSink.h"
#include "dat/DatFrame.h"
#include "formats/ImageReader.h"
#include "sim/TapeMedium.h"

#include <cstdint>
#include <memory>
#include <string>

// A tape image seen as a write-protected tape: frame i of the image lies at tape frame i, as
// the tape it was read from held it from where the image began (its interpolation flags
// included), and a minute of blank tape follows. A drive over it plays, searches and reports
// positions as over that tape; writes are refused as on a write-protected cassette. Subcodes
// are read from the file as they are needed, so opening a long image costs nothing and the
// memory grows only with the frames looked at (64 bytes each).
namespace tarnvel::sim {

class ImageTape final : public TapeMedium {
public:
    static constexpr std::int64_t kBlankTailFrames = 2000;

    // An image that opens as the image reader checks it and holds at least one frame; else
    // nullptr with a user text.
    static std::unique_ptr<ImageTape> open(const std::string& path, std::string& error);
    ~ImageTape() override;
    ImageTape(const ImageTape&) = delete;
    ImageTape& operator=(const ImageTape&) = delete;

    const std::string& path() const override { return path_; }
    bool writeProtected() const override { return true; }
    std::int64_t lengthFrames() const override { return frames_ + kBlankTailFrames; }
    std::int64_t imageFrames() const { return frames_; }

    bool isRecorded(std::int64_t frame) const override { return frame >= 0 && frame < frames_; }
    const std::uint8_t* subcode(std::int64_t frame) const override;
    std::int64_t nextUnrecorded(std::int64_t from) const override;
    std::int64_t recordedEnd() const override { return frames_; }

    bool readFrame(std::int64_t frame, std::uint8_t* out, std::string& error) const override;
    bool writeFrame(std::int64_t frame, const std::uint8_t* in, std::string& error) override;

    // The image's damage is in its frames' flags; the drive adds none.
    ReadFault readFault(std::int64_t) override { return {}; }
    bool writeFailsAt(std::int64_t) const override { return false; }

    // Nothing is kept: each drive threads the image from its beginning.
    bool driveState(DriveState&) const override { return false; }
    bool setDriveState(const DriveState&, std::string&) override { return true; }
    bool flush(std::string&) override { return true; }

private:
    struct FreeBytes {
        void operator()(std::uint8_t* p) const;
    };
    ImageTape() = default;

    std::string path_;
    CollectingMessageSink sink_;
    std::unique_ptr<formats::ImageReader> reader_;
    std::int64_t frames_ = 0;
    mutable dat::DatFrame scratch_{};
    // Per frame: byte 0 is 1 once the subcode in bytes 2-63 was read (calloc'd, so the pages of
    // frames never looked at are never touched).
    std::unique_ptr<std::uint8_t, FreeBytes> subcodes_;
};

} // namespace tarnvel::sim
