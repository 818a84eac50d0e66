#pragma once

#include "qc/ArchiveSummary.h"
#include "qc/QcPage.h"
#include "qc/QcPictures.h"
#include "qc/WaveAnalysis.h"

#include <functional>
#include <string>
#include <vector>

// The quality check of an archive: every file measured, its pictures drawn into BASE.qc/ and
// the page BASE.html written beside the report. The archive runs it once its files are
// closed; `tarnvel-cli qc BASE.log` runs it for an existing archive.
namespace tarnvel::qc {

struct QcOptions {
    AnalysisOptions analysis;
    WaveLayout wave;
    SpectrumLayout spectrum;
    // Files measured side by side (each file by one thread).
    unsigned threads = 1;
    // Called after each file (from the measuring threads, one call at a time).
    std::function<void(std::size_t done, std::size_t count)> progress;
};

// Every file of the archive measured, in the summary's order. A file that cannot be read
// gets its reason (`ok` false) and the others are still measured.
std::vector<FileAnalysis> analyseArchive(const ArchiveSummary& summary, const QcOptions& options);

// The page of archive `base` (its path without extension: "/tapes/T017"): BASE.html and
// the pictures in BASE.qc/ (pictures of an earlier page there are replaced).
bool writeQcPage(const std::string& base, const ArchiveSummary& summary,
                 const std::vector<FileAnalysis>& analyses, const PageHeader& header,
                 const QcOptions& options, std::string& error);

std::string qcPagePath(const std::string& base);
std::string qcFolderPath(const std::string& base);
// "Tarnvel 0.1.0": the program that makes the page.
std::string qcProgramName();

} // namespace tarnvel::qc
