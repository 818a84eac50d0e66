#pragma once

#include "engine/PlayToFile.h"

#include <string>
#include <utility>
#include <vector>

// The report of an archive run (BASE.log): what was read, with what, and a SHA-256 of the
// audio of every WAV file written; its last line is a SHA-256 of the text above it, so that
// a later check can tell an unchanged archive from a damaged or edited one.
namespace tarnvel::engine {

struct ArchiveRun {
    std::string program;                                       // "Tarnvel 0.1.0"
    std::string drive;                                         // "[0:3] TARNVEL DAT SIMULATOR 1.00"
    std::vector<std::pair<std::string, std::string>> settings; // that shape the audio
    std::string started;                                       // local time "2026-12-10 15:56:22"
    std::string ended;
    std::string cueFile;
    std::string outcome; // how the run ended (" End of Tape", an error text, ...)
    std::string label;   // the tape's label, when given
    // Lines added to each file's entry, in the order of the files (the quality check's IDs
    // and figures); may be shorter than the list of files.
    std::vector<std::vector<std::string>> fileNotes;
};

// The SHA-256 of the samples of a WAV file (its "data" chunk payload).
bool waveDataSha256(const std::string& path, std::string& hex, std::string& error);

// Writes the report. False with `error` when it or a file's hash cannot be made.
bool writeArchiveReport(const std::string& path, const ArchiveRun& run,
                        const std::vector<WrittenFile>& files, std::string& error);

struct VerifiedFile {
    enum class Result { Ok, Mismatch, Missing } result = Result::Ok;
    std::string name;
    std::string detail;
};

struct ArchiveVerification {
    bool readable = false;     // the report could be read and parsed
    bool reportIntact = false; // its own hash matches its text
    std::vector<VerifiedFile> files;
    bool allGood() const
    {
        if (!readable || !reportIntact)
            return false;
        for (const auto& f : files)
            if (f.result != VerifiedFile::Result::Ok)
                return false;
        return true;
    }
};

// Re-reads every file the report lists (a file moved together with the report is found in
// the report's folder) and checks the hashes and the report's own hash.
ArchiveVerification verifyArchiveReport(const std::string& path, std::string& error);

} // namespace tarnvel::engine
