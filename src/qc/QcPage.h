#pragma once

#include "qc/ArchiveSummary.h"
#include "qc/QcPictures.h"
#include "qc/WaveAnalysis.h"

#include <string>
#include <string_view>
#include <vector>

// The quality-control page: one HTML file without scripts or outside resources, its pictures
// beside it, readable from the file system at any window width.
namespace tarnvel::qc {

// One file of the page: what the archive says of it, what was measured, and its pictures.
struct PageFile {
    const ArchivedFile* file = nullptr;
    const FileAnalysis* analysis = nullptr;
    std::string waveImage; // relative to the page, as a URL path; empty: not drawn
    std::string spectrumImage;
    std::vector<Tick> timeTicks;
    std::vector<Tick> frequencyTicks;
    WaveLayout wave;
    SpectrumLayout spectrum;
};

struct PageHeader {
    std::string title;      // the tape's label, or the archive's base name
    std::string reportName; // the report the page belongs to (file name), may be empty
    std::string madeBy;     // "Tarnvel 0.1.0"
    std::string madeAt;     // local time "2026-12-10 15:56:22"
};

std::string qcPageHtml(const ArchiveSummary& summary, const std::vector<PageFile>& files,
                       const PageHeader& header);

// Text for HTML content and attribute values.
std::string htmlEscaped(std::string_view text);
// A relative path as a URL path: every byte but letters, digits, "-._~/" percent-encoded.
std::string urlPath(std::string_view path);

} // namespace tarnvel::qc
