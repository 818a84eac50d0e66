#pragma once

#include "engine/PlayToFile.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The report of an archive run (BASE.log): what was read, with what, and SHA-256 sums of every
// WAV file written (the whole file, and its audio data alone); its last line is a SHA-256 of
// the text above it, so that a later check can tell an unchanged archive from a damaged or
// edited one. Files are named relative to the report's own folder, so that an archive moved to
// storage is checked where it now lies.
namespace tarnvel::engine {

// The quality check's figures of one file, for the JSON.
struct FileQuality {
    std::optional<double> loudness; // integrated, LUFS; none when nothing passed the gate
    double loudnessRange = 0;       // LU
    struct Channel {
        double samplePeak = 0; // 1.0 = full scale
        double truePeak = 0;
        double dcOffset = 0;
        std::uint64_t clippedSamples = 0;
        std::uint32_t clipRuns = 0;
    };
    std::vector<Channel> channels;
    std::uint32_t silences = 0; // stretches of digital silence
};

struct ArchiveRun {
    std::string program;                                       // "Tarnvel 0.1.0"
    std::string drive;                                         // "[0:3] TARNVEL DAT SIMULATOR 1.00"
    std::string driveVendor, driveProduct, driveFirmware;      // from the inquiry
    std::vector<std::pair<std::string, std::string>> settings; // that shape the audio
    std::string started;                                       // local time "2026-12-10 15:56:22"
    std::string ended;
    std::string cueFile;
    std::string outcome; // how the run ended (" End of Tape", an error text, ...)
    std::string label;   // the tape's label, when given
    // Lines added to each file's entry, in the order of the files (the quality check's IDs
    // and figures); may be shorter than the list of files.
    std::vector<std::vector<std::string>> fileNotes;
    int retries = 0;     // re-reading passes over a bad stretch: each file then says its own
    // The quality check's figures, in the order of the files (for the JSON); may be shorter.
    std::vector<std::optional<FileQuality>> fileQuality;
};

// The hashes of one file written (a part of a split series is a file of its own).
struct FileHashes {
    std::string name; // as written
    std::uint64_t size = 0;
    std::string wholeHex; // SHA-256 of the file
    std::string dataHex;  // SHA-256 of the audio data (a FLAC file's: decoded, as WAV data)
};

// The SHA-256 of a WAV file as a whole and of its samples (its "data" chunk payload), in one
// pass over the file. For a FLAC file (".flac"): of the file and of the audio it decodes to,
// laid out as a WAV file's data (the hash of its WAV twin); a decoded audio that differs from
// the file's MD5 is an error.
bool waveFileSha256(const std::string& path, std::string& wholeHex, std::string& dataHex,
                    std::string& error);

// Writes the report: under a temporary name beside `path` first, moved over it once complete,
// so that a full disk or a crash never leaves a truncated report. False with `error` when it
// or a file's hash cannot be made (an existing `path` that is not a regular file included).
bool writeArchiveReport(const std::string& path, const ArchiveRun& run,
                        const std::vector<WrittenFile>& files, std::string& error);
// The same, giving the hashes it made: per file, its parts in order.
bool writeArchiveReport(const std::string& path, const ArchiveRun& run,
                        const std::vector<WrittenFile>& files,
                        std::vector<std::vector<FileHashes>>& hashes, std::string& error);

// Writes a file under a temporary name beside `path` and moves it over `path` once complete.
bool replaceWithText(const std::string& path, const std::string& text, std::string& error);

struct VerifiedFile {
    enum class Result { Ok, Mismatch, Missing } result = Result::Ok;
    std::string name; // the file checked: beside the report
    std::string detail;
    std::string wholeHex, dataHex; // what the file hashes to now, when it could be read
};

struct ArchiveVerification {
    bool readable = false;     // the report could be read and parsed
    bool reportIntact = false; // its own hash matches its text
    std::size_t files = 0;
    std::size_t problems = 0; // files not Ok
    bool allGood() const { return readable && reportIntact && problems == 0; }
};

// Checks every file the report lists, in the report's folder (whatever path it was written
// under), against its hashes, and the report's own hash. Each file's result goes to `onFile`
// as it is known; the report is read line by line, so memory stays bounded whatever it holds.
// Reports that carry only the audio-data hash (written before the whole-file hash) verify by
// that hash.
ArchiveVerification verifyArchiveReport(const std::string& path,
                                        const std::function<void(const VerifiedFile&)>& onFile,
                                        std::string& error);

} // namespace tarnvel::engine
