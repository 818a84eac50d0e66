#include "cli/QcCommands.h"

#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "formats/StringPrintf.h"
#include "qc/FigureText.h"
#include "qc/QualityCheck.h"

#include <CLI/CLI.hpp>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>
#include <unistd.h>

// `qc BASE.log`: the quality-control page of an existing archive, made again from the files
// beside its report.
namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

std::string localTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

// A report "T017.log" belongs to the archive "T017".
std::string baseOfReport(const std::string& report)
{
    const std::filesystem::path p(report);
    return p.extension() == ".log" ? (p.parent_path() / p.stem()).string() : report;
}

std::string figuresLine(const qc::ArchivedFile& file, const qc::FileAnalysis& a)
{
    std::string line = stringPrintf("%-32s ", printable(fileName(file.name)).c_str());
    if (!a.ok)
        return line + "not measured: " + printable(a.error);
    const qc::AudioFigures& f = a.figures;
    line +=
        qc::loudnessText(f.loudness) + stringPrintf("  LRA %.1f LU  true peak", f.loudnessRange);
    std::uint64_t clipped = 0;
    const int n = static_cast<int>(f.channels.size());
    for (int c = 0; c < n; ++c) {
        const qc::ChannelFigures& ch = f.channels[static_cast<std::size_t>(c)];
        line += " " + qc::channelName(c, n) + " " + qc::levelText(ch.truePeak, "dBTP");
        clipped += ch.clipRuns;
    }
    return line + stringPrintf("  clipped runs %llu  silences %u",
                               static_cast<unsigned long long>(clipped), f.silenceCount);
}

int qcCommand(const std::string& report, const std::string& label)
{
    qc::ArchiveSummary summary;
    std::string error;
    if (!qc::readArchiveReport(report, summary, error)) {
        std::cerr << printable(error) << "\n";
        return 1;
    }
    if (!label.empty())
        summary.label = label;
    InterruptScope scope;
    const std::vector<qc::FileAnalysis> analyses = measureArchive(summary);
    if (interrupted())
        return reportInterrupted({});
    if (!writeQcPageOf(baseOfReport(report), fileName(report), summary, analyses))
        return 1;
    for (const qc::FileAnalysis& a : analyses)
        if (!a.ok)
            return 1;
    return 0;
}

} // namespace

std::vector<qc::FileAnalysis> measureArchive(const qc::ArchiveSummary& summary)
{
    qc::QcOptions options;
    options.analysis.stop = &interruptFlag();
    options.threads = std::max(1u, std::thread::hardware_concurrency());
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    if (terminal)
        options.progress = [](std::size_t done, std::size_t count) {
            std::cout << stringPrintf("\rChecking the files: %zu of %zu", done, count)
                      << std::flush;
        };
    std::vector<qc::FileAnalysis> analyses = qc::analyseArchive(summary, options);
    if (terminal)
        std::cout << "\r\x1b[K";
    for (std::size_t i = 0; i < analyses.size(); ++i)
        std::cout << figuresLine(summary.files[i], analyses[i]) << "\n";
    return analyses;
}

bool writeQcPageOf(const std::string& base, const std::string& reportName,
                   const qc::ArchiveSummary& summary, const std::vector<qc::FileAnalysis>& analyses)
{
    qc::PageHeader header;
    header.title = summary.label.empty() ? fileName(base) : summary.label;
    header.reportName = reportName;
    header.madeBy = qc::qcProgramName();
    header.madeAt = localTime();
    std::string error;
    if (!qc::writeQcPage(base, summary, analyses, header, qc::QcOptions{}, error)) {
        std::cerr << printable(error) << "\n";
        return false;
    }
    std::cout << "Quality check page " << printable(qc::qcPagePath(base)) << "\n";
    return true;
}

void addQcCommands(CLI::App& app, CliContext& ctx)
{
    auto report = std::make_shared<std::string>();
    auto label = std::make_shared<std::string>();
    auto* q = app.add_subcommand(
        "qc", "Make the quality-control page BASE.html (pictures in BASE.qc/) of an archive "
              "again, from the files beside its report");
    q->add_option("REPORT", *report, "The BASE.log of an archive")->required();
    q->add_option("--label", *label, "The tape's label for the page's title");
    q->callback([&ctx, report, label] { ctx.exitCode = qcCommand(*report, *label); });
}

} // namespace tarnvel::cli
