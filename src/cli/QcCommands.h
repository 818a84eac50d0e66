#pragma once

#include "qc/ArchiveSummary.h"
#include "qc/WaveAnalysis.h"

#include <string>
#include <vector>

// The quality check as the command line runs it, for `qc` and for `archive`.
namespace tarnvel::cli {

// Measures every file of an archive, with a progress line on a terminal and a line of figures
// per file; Ctrl-C ends it early (the files not yet measured say "interrupted").
std::vector<qc::FileAnalysis> measureArchive(const qc::ArchiveSummary& summary);

// Writes BASE.html and its pictures in BASE.qc/; says where, or why not on stderr.
bool writeQcPageOf(const std::string& base, const std::string& reportName,
                   const qc::ArchiveSummary& summary,
                   const std::vector<qc::FileAnalysis>& analyses);

} // namespace tarnvel::cli
