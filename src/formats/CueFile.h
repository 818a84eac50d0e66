#pragma once

#include "formats/LineReader.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvel {
class MessageSink;
}

namespace tarnvel::formats {

// The cue file (".TVC"): the record-from-file list as text, so that a list with its
// program numbers, formats, emphasis, copy bits and silences can be saved and loaded.
// Two header lines, then three lines per entry: the WAV path, "PNo/Format/Emph/Copy" and
// "Time/Silence". Entries carry the list's own column texts; the file's format texts
// ("32000 / 16 (LP)") read back as the list's ("32000 LP").
inline constexpr const char* kCueDefaultName = "CUE.TVC";
inline constexpr std::size_t kCueMaxLine = 360;
// The ranges the record-from-file list keeps: program numbers 0-799 (0: no START ID), the
// silence after an entry in its three-character column, the pre-silence in its two.
inline constexpr int kCueMaxPNo = 799;
inline constexpr int kCueMaxSilence = 999;
inline constexpr int kCueMaxPreSilence = 99;

// One list entry as its column texts.
struct CueEntry {
    std::string path;    // the full path (column 7)
    std::string pno;     // column 0, e.g. "  5"; may be empty
    std::string time;    // column 2, "%02dm%02ds"
    std::string format;  // column 3, e.g. "44100", "32000 LP", "48000 / F32"
    std::string emph;    // column 4, "On" or "Off"
    std::string copy;    // column 5, "Permit", "Prohibit" or "Once"
    std::string silence; // column 6, "%3s"
};

// The format text the file holds for a list's format text.
std::string cueFormatText(const std::string& listFormat);

// Writes the file anew. A path the line format cannot hold (empty, beginning with a blank
// or ";", with a line break, longer than a line) is refused before anything is written.
// Failures are shown through `sink` as "%s\n\n%s" with the path; a failed write leaves a
// partial file.
bool writeCueFile(const std::string& path, int preSilenceSec, const std::vector<CueEntry>& entries,
                  MessageSink& sink);

// One entry as read: the path and whatever its attribute lines set.
struct CueRecord {
    std::string path;
    bool failed = false; // an attribute line was refused: the entry is dropped
    std::optional<std::string> pno, time, format, emph, copy, silence;
};

// Reads a cue file entry by entry, so that the list can register each file (and stop at a
// refused one) before the next is read.
class CueReader {
public:
    CueReader() = default;
    ~CueReader();
    CueReader(const CueReader&) = delete;
    CueReader& operator=(const CueReader&) = delete;

    // false after "Unable to open file.\n\n<path>" through `sink`. Relative paths in the file
    // are then taken from the cue file's folder, so that a list moved with its files loads.
    bool open(const std::string& path, MessageSink& sink);
    // Reads from a stream the caller owns (tests, fuzzing); relative paths stay as written.
    void attach(std::FILE* stream);

    // The next entry with its attribute lines; nullopt at the end of the file.
    std::optional<CueRecord> next();
    // The header's "Silence" (pre-silence text), once the lines before the first entry
    // have been read.
    const std::optional<std::string>& preSilence() const { return preSilence_; }
    // Lines refused so far for a value outside the list's ranges, as "line N: why".
    const std::vector<std::string>& problems() const { return problems_; }

private:
    void noteProblem(const std::string& text);
    std::string entryPath(const std::string& line) const;

    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::optional<LineReader> lines_;
    std::string folder_; // the cue file's folder, absolute; empty for an attached stream
    std::optional<std::string> pendingPath_; // a path line read ahead
    std::optional<std::string> preSilence_;
    std::vector<std::string> problems_;
};

// Applies one attribute line to `record`, or to `preSilence` when no entry has started.
// false when the line fails: a value outside the list's ranges (`problem` says why). A key is
// never taken as the value of the key before it. Program number "BB" (a file an archive began
// in the lead-in or without START IDs) reads as 0: the file is recorded without a START ID.
bool parseCueAttributes(std::string_view line, CueRecord* record,
                        std::optional<std::string>& preSilence, std::string* problem = nullptr);

} // namespace tarnvel::formats
