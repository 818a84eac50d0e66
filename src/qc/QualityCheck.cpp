#include "qc/QualityCheck.h"

#include "formats/StringPrintf.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace tarnvel::qc {

using formats::stringPrintf;
namespace fs = std::filesystem;

namespace {

// The page's own pictures in its folder: "01-wave.png", "12-spectrum.png".
bool isPagePicture(const std::string& name)
{
    const auto dash = name.find('-');
    if (dash == 0 || dash == std::string::npos)
        return false;
    for (std::size_t i = 0; i < dash; ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    const std::string rest = name.substr(dash);
    return rest == "-wave.png" || rest == "-spectrum.png";
}

bool writeWhole(const std::string& path, const std::string& text, std::string& error)
{
    // Written beside the target and renamed over it: a reader never sees half a page.
    const std::string temp = path + stringPrintf(".part-%d", static_cast<int>(::getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            error = path + ": unable to write the page";
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        error = path + ": unable to write the page";
        return false;
    }
    return true;
}

} // namespace

std::string qcPagePath(const std::string& base)
{
    return base + ".html";
}

std::string qcFolderPath(const std::string& base)
{
    return base + ".qc";
}

std::string qcProgramName()
{
    return "Tarnvel " TARNVEL_VERSION;
}

std::vector<FileAnalysis> analyseArchive(const ArchiveSummary& summary, const QcOptions& options)
{
    const std::size_t count = summary.files.size();
    std::vector<FileAnalysis> results(count);
    std::atomic<std::size_t> next{0};
    std::mutex progressMutex;
    std::size_t done = 0;
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            results[i] = analyseWaveFiles(summary.files[i].parts, options.analysis);
            std::lock_guard lock(progressMutex);
            ++done;
            if (options.progress)
                options.progress(done, count);
        }
    };
    const unsigned threads =
        static_cast<unsigned>(std::min<std::size_t>(std::max(1u, options.threads), count));
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
    return results;
}

bool writeQcPage(const std::string& base, const ArchiveSummary& summary,
                 const std::vector<FileAnalysis>& analyses, const PageHeader& header,
                 const QcOptions& options, std::string& error)
{
    const fs::path folder = qcFolderPath(base);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        error = folder.string() + ": unable to create the folder of the pictures";
        return false;
    }
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (isPagePicture(entry.path().filename().string()))
            fs::remove(entry.path(), ec);

    const std::string folderUrl = urlPath(folder.filename().string()) + "/";
    std::vector<PageFile> pages(summary.files.size());
    for (std::size_t i = 0; i < summary.files.size(); ++i) {
        PageFile& p = pages[i];
        const ArchivedFile& file = summary.files[i];
        p.file = &file;
        p.analysis = i < analyses.size() ? &analyses[i] : nullptr;
        p.wave = options.wave;
        p.spectrum = options.spectrum;
        if (p.analysis == nullptr || !p.analysis->ok)
            continue;
        const FileAnalysis& a = *p.analysis;
        const FileTimeline timeline{file.startAbs, file.frames, a.figures.sampleFrames};
        p.timeTicks = timeTicks(timeline, 8);
        p.frequencyTicks = frequencyTicks(a.figures.format.samplesPerSec / 2.0, 6);
        const std::string stem = stringPrintf("%02zu", i + 1);
        const std::string wave = stem + "-wave.png";
        const std::string spectrum = stem + "-spectrum.png";
        if (!drawWaveform((folder / wave).string(), a.overview, file, timeline, p.timeTicks, p.wave,
                          error) ||
            !drawSpectrogram((folder / spectrum).string(), a.spectrogram, p.timeTicks,
                             p.frequencyTicks, p.spectrum, error))
            return false;
        p.waveImage = folderUrl + wave;
        p.spectrumImage = folderUrl + spectrum;
    }
    return writeWhole(qcPagePath(base), qcPageHtml(summary, pages, header), error);
}

} // namespace tarnvel::qc
