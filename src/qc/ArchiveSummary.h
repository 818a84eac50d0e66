#pragma once

#include "dat/IdTable.h"
#include "engine/ArchiveReport.h"
#include "qc/WaveAnalysis.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the quality check knows of an archive besides its audio: the run (tape, drive, program,
// times, outcome) and per file its tape data, error frames and IDs, each with its ABS time.
// It comes from the run that just ended or from the report of an earlier one.
namespace tarnvel::qc {

struct ErrorMark {
    int abs = 0; // ABS time in frames
    bool left = false;
    bool right = false;
};

struct IdMark {
    int pNo = 0; // 1-799, 888 START without number, 999 SKIP
    int abs = 0; // ABS time in frames
};

struct ArchivedFile {
    std::string name;               // as the run or the report names it
    std::vector<std::string> parts; // the files to read: the first and its continuations
    std::string programText;        // "01", "BB", "--"
    std::string dateText;           // "24/05/17 14:30:19" or "none"
    std::string formatText;         // "48000 / 16 (16)"
    bool emphasis = false;
    std::string copyText;  // "Permit", "Prohibit", "Once"
    std::string startText; // as the report writes it, " 00h00m01s23 <0.3sec"
    int startAbs = 0;      // ABS time of the first frame in frames (negative in the lead-in)
    std::uint32_t frames = 0;
    int seconds = 0;
    std::uint32_t errorsLeft = 0, errorsRight = 0, errorsAbs = 0;
    std::vector<ErrorMark> errors;
    bool idsKnown = false; // reports of older versions do not list a file's IDs
    std::vector<IdMark> ids;
};

struct ArchiveSummary {
    std::string label; // the tape's label, when one was given
    std::string program;
    std::string drive;
    std::string started;
    std::string ended;
    std::string outcome;
    std::string cueFile;
    std::vector<ArchivedFile> files;
};

// Where a file's samples lie on the tape: its frames run on from its first ABS time.
struct FileTimeline {
    int startAbs = 0;
    std::uint32_t frames = 0;
    std::uint64_t sampleFrames = 0;

    // ABS time (in frames, fractional) of a sample frame.
    double absOfSample(std::uint64_t sample) const
    {
        return sampleFrames == 0 ? startAbs
                                 : startAbs + static_cast<double>(sample) * frames /
                                                  static_cast<double>(sampleFrames);
    }
    // Position of an ABS time in the file, 0..1 (outside: clamped).
    double fractionOfAbs(double abs) const;
};

// The ABS frame count of a time as the report writes it (" 00h01m02s03", "-00h00m03s08" in
// the lead-in), with whatever follows it (" <0.3sec"). False for anything else.
bool parseAbsText(std::string_view text, int& frames);
// "00h01m02s03", "-00h00m03s08" for a negative count.
std::string absFramesText(int frames);

// A file this run wrote, with the IDs of `ids` (the drive's table of the IDs the run met) that
// lie within it.
ArchivedFile describeWrittenFile(const engine::WrittenFile& file, const dat::IdTable& ids);

// The run that just ended: its report's header and every file written, with the IDs of `ids`.
ArchiveSummary summarizeRun(const engine::ArchiveRun& run,
                            const std::vector<engine::WrittenFile>& files, const dat::IdTable& ids);

// The lines the report adds to a file's entry: its IDs, and its figures when measured.
std::vector<std::string> reportLines(const ArchivedFile& file, const AudioFigures* figures);

// Reads the report of an archive. Files are looked for as listed (relative to the report's
// folder) and, when not there, in the report's folder (moved together with it).
bool readArchiveReport(const std::string& path, ArchiveSummary& summary, std::string& error);

} // namespace tarnvel::qc
