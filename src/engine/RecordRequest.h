#pragma once

#include "record/RecFileList.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What starts a recording from files, and what a running recording shows besides the deck's
// displays.
namespace tarnvel::engine {

// The record-from-file dialog's decision at OK, as the deck takes it.
struct RecordFromFileRequest {
    enum class Mode { WaveList, Image };
    Mode mode = Mode::WaveList;
    // WAV list: the entries one by one (RecFileList::nextFileEntry), the END ID pseudo-entry
    // included when "Write END ID" is on.
    std::function<std::optional<record::RecFileEntry>(bool first)> nextEntry;
    bool withSound = false; // "with output to Sound device" (RecFromFileOnly off)
    int preSilenceSec = 0;  // silence before the first file
    // Image: the file, and whether it is recorded where the tape stands (no rewind and no
    // lead-in: OK with Shift, confirmed).
    std::string imagePath;
    bool imageHere = false;
    // The user agreed to switch Auto ID off for a list recorded with sound.
    bool disableAutoId = false;
};

// The request for the record-from-file dialog's decision at OK; the WAV list's entries come
// from `list`, which must live until the recording has ended.
inline RecordFromFileRequest fileRequest(const record::RecFileDecision& decision,
                                         record::RecFileList& list)
{
    RecordFromFileRequest r;
    if (decision.mode == record::RecFileMode::Image) {
        r.mode = RecordFromFileRequest::Mode::Image;
        r.imagePath = decision.recSourceName;
        r.imageHere = decision.imageWithoutRewind;
        return r;
    }
    r.nextEntry = [&list](bool first) { return list.nextFileEntry(first); };
    r.withSound = !decision.recFromFileOnly;
    r.preSilenceSec = decision.preSilenceSec;
    r.disableAutoId = decision.disableAutoId;
    return r;
}

// A recording run as the command line's progress line shows it (window thread).
struct RecordProgress {
    bool active = false;
    std::string sourceName;   // the file being recorded ("" for the sound input)
    std::uint32_t frames = 0; // frames of this run the drive has taken (written to tape)
    std::uint32_t queued = 0; // frames of this run handed to the writer (written or waiting)
    std::uint32_t ringFill = 0;
    std::uint32_t ringSlots = 0;
};

} // namespace tarnvel::engine
