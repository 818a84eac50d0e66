#pragma once

#include "formats/ImageReader.h"
#include "formats/WaveFileReader.h"
#include "record/RecFileList.h"
#include "record/Recorder.h"

#include <functional>
#include <optional>
#include <string>

namespace tarnvel {
class MessageSink;
}

// The record loop's file sources: the WAV list (its entries opened one by one) and the tape
// image.
namespace tarnvel::record {

// The name of the list's END ID pseudo-entry (a name beginning with a blank is never a file).
inline constexpr const char* kEndIdEntryName = " END ID";
// Silence before the END ID entry, in frames: the END ID run.
inline constexpr int kEndIdEntryFrames = 300;

// One list entry opened for recording (OpenNextFile).
struct OpenedEntry {
    std::string name; // RecSourceName: the file's path, or " END ID"
    RecordFormat format;
    int pNo = 0;
    std::uint32_t preSilenceBytes = 0; // delivered before the file's samples
    std::uint32_t postSilenceBytes = 0;
    // The ID the entry's first frame gets (START, END, or none when the program goes on).
    int idKind = kPendingNone;
    int idPNo = 0;
};

class WaveListSource final : public RecordSource {
public:
    using NextEntry = std::function<std::optional<RecFileEntry>(bool first)>;

    WaveListSource() = default;
    // Window thread: the list the entries come from (RecFileList::nextFileEntry).
    void setList(NextEntry next) { next_ = std::move(next); }

    // Window thread, no producer running. Opens the next entry of the list (the first with
    // `first`, where `preSilenceSec` is the pending pre-silence) and takes its format,
    // silences and ID. `keepOpen`: the record loop reads the file; otherwise only its header
    // is read (the sound output plays it). false at the end of the list, or when the entry
    // cannot be opened (failedName() then names it).
    bool openNext(bool first, int preSilenceSec, bool keepOpen);
    const OpenedEntry& current() const { return current_; }
    // The entry that could not be opened ("" at the end of the list).
    const std::string& failedName() const { return failedName_; }
    void close();

    // RecordSource, producer thread: the file's samples framed by its silences; a request is
    // filled across the silence boundaries.
    bool wholeFrames() const override { return false; }
    std::uint32_t read(std::uint8_t* buffer, std::uint32_t bytes) override;
    const std::string& failure() const override { return failure_; }

private:
    NextEntry next_;
    formats::WaveFileReader reader_;
    OpenedEntry current_;
    std::string failedName_;
    std::string failure_;
    int lastPNo_ = 0;
    std::optional<RecordFormat> lastFormat_; // of the entry opened before
    bool fileEntry_ = false;                 // a real file (not the END ID silence)
};

class ImageSource final : public RecordSource {
public:
    explicit ImageSource(MessageSink& sink) : reader_(sink) {}

    // Window thread. Opens the image (its faults are shown through the sink).
    bool open(const std::string& path);
    // The image's first stored frame lies in the lead-in: it carries its own lead-in.
    bool startsWithLeadIn();
    void close() { reader_.close(); }
    const std::string& path() const { return reader_.fileName(); }

    bool wholeFrames() const override { return true; }
    std::uint32_t read(std::uint8_t* buffer, std::uint32_t bytes) override;
    const std::string& failure() const override { return failure_; }

private:
    formats::ImageReader reader_;
    std::string failure_;
};

} // namespace tarnvel::record
