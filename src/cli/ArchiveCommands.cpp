#include "app/InstanceLock.h"
#include "app/ProgramIdentity.h"
#include "cli/ArchiveRun.h"
#include "cli/CliContext.h"
#include "cli/CliInterrupt.h"
#include "cli/CliSupport.h"
#include "cli/DeckSession.h"
#include "cli/QcCommands.h"
#include "engine/ArchiveJson.h"
#include "engine/ArchiveReport.h"
#include "engine/EngineMessages.h"
#include "engine/LinkPeerSender.h"
#include "engine/PlayToFile.h"
#include "formats/FlacFileWriter.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "qc/QualityCheck.h"
#include "sound/AudioBackend.h"
#include "sound/NullAudioBackend.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

// The archivist's commands: a tape to WAV files with their cue list and a verifiable report,
// a tape to an image file, and the check of an archive made earlier.
namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

struct ImageOptions {
    std::string file;
    std::string comment;
    bool here = false;
    int retries = 0;
};

std::string localTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string{} : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// How the run ended, in the words of the report.
std::string outcomeOf(const DeckSession& s, const engine::PlayToFile& ptf)
{
    switch (s.deck->pipeline().stopReason()) {
    case engine::PlayStop::EndId:
        return "stopped at the END ID";
    case engine::PlayStop::EndOfTape:
        return "end of the recording";
    case engine::PlayStop::None:
        return "stopped by the user";
    case engine::PlayStop::Mem2:
        return "stopped at the Mem2 time";
    default: {
        // A drive error is on the error line; a file that could not be written said why in a
        // message of its writer.
        std::string why = trimmed(s.view->errorText());
        if (why.empty())
            why = ptf.lastMessage();
        return "stopped by an error: " + why;
    }
    }
}

// The quality check's figures as the JSON carries them.
engine::FileQuality qualityOf(const qc::AudioFigures& f)
{
    engine::FileQuality q;
    if (f.loudness > qc::kFloorDb)
        q.loudness = f.loudness;
    q.loudnessRange = f.loudnessRange;
    for (const qc::ChannelFigures& c : f.channels)
        q.channels.push_back({c.samplePeak, c.truePeak, c.dcOffset, c.clippedSamples, c.clipRuns});
    q.silences = f.silenceCount;
    return q;
}

// The null device, paced in real time or as fast as the run goes.
std::shared_ptr<sound::AudioBackendProvider> nullDevice(bool realTime)
{
    sound::NullDeviceOptions o;
    o.realTime = realTime;
    return std::make_shared<sound::NullBackendProvider>(o);
}

std::string baseName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

// The sound output of a run that also plays: the system's, or the null device without one.
std::shared_ptr<sound::AudioBackendProvider> audioOf(bool withSound, const app::Settings& s)
{
    if (!withSound)
        return nullDevice(false);
    auto system = sound::systemAudioBackends();
    auto backend = system->create(static_cast<sound::SoundDriverType>(s.PlayRecDriverType));
    std::vector<sound::AudioDeviceInfo> devices;
    std::string error;
    if (backend && backend->listDevices(devices, error))
        for (const auto& d : devices)
            if (d.outputChannels > 0)
                return system;
    std::cerr << "No sound output device: playing to the null device.\n";
    return nullDevice(true);
}

struct RunResult {
    int exitCode = 0;
    bool started = false; // false: the start failed and said why
};

// Runs a playback to file on an open session and follows it with a progress line.
RunResult runToFile(DeckSession& s, engine::PlayToFile& ptf,
                    const engine::PlayToFileRequest& request,
                    const std::function<std::string()>& lead = {})
{
    ptf.setRequest(request);
    s.deck->setPlayToFileController(&ptf);
    const auto started = std::chrono::steady_clock::now();
    s.view->setLiveExtra([&] {
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::uint32_t frames = request.destination == engine::PlayDestination::Image
                                         ? ptf.imageFrames()
                                         : ptf.framesInFile();
        const std::string reread = ptf.rereadStatus();
        if (!reread.empty())
            return (lead ? lead() : std::string()) + "  " + reread;
        return (lead ? lead() : std::string()) +
               stringPrintf("  %s  %u frames  x%.1f", baseName(ptf.currentFile()).c_str(), frames,
                            wall > 0 ? ptf.audioSeconds() / wall : 0.0);
    });
    const std::uint64_t ends = s.deck->playEnds();
    s.deck->playToFile({});
    RunResult r;
    if (!s.deck->state().running.load() && s.deck->playEnds() == ends) {
        r.exitCode = 1;
    } else {
        r.started = true;
        r.exitCode = s.followPlayback(ends);
    }
    s.view->setLiveExtra({});
    s.deck->setPlayToFileController(nullptr);
    if (ptf.writeFailed())
        r.exitCode = 1;
    return r;
}

std::string absoluteFromHere(const std::string& name)
{
    std::error_code ec;
    return std::filesystem::absolute(name, ec).lexically_normal().string();
}

struct OutputName {
    std::string given;    // as typed, without the known ending (for messages)
    std::string absolute; // empty after a refusal, which was printed
};

// The output name of `archive` or `image create` without a known extension of the files made
// from it (`extensions`, any letter case), made absolute, its folder made when missing (as
// mkdir -p). An empty name, or one that names a folder, is refused: it would give hidden
// files such as ".TVC".
OutputName outputName(const std::string& given, std::initializer_list<const char*> extensions)
{
    std::string name = given;
    const std::string file = std::filesystem::path(name).filename().string();
    if (file.empty() || file == "." || file == "..") {
        std::cerr << stringPrintf("\"%s\" names no file: give a file name, for example "
                                  "concert or tapes/concert.",
                                  printable(given).c_str())
                  << "\n";
        return {};
    }
    for (const char* ext : extensions) {
        const std::size_t n = std::strlen(ext);
        if (file.size() > n && strcasecmp(file.c_str() + file.size() - n, ext) == 0) {
            name.erase(name.size() - n);
            break;
        }
    }
    OutputName out{name, absoluteFromHere(name)};
    const std::filesystem::path folder = std::filesystem::path(out.absolute).parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            std::cerr << stringPrintf("Unable to create the folder %s (%s).",
                                      printable(folder.string()).c_str(), ec.message().c_str())
                      << "\n";
            return {};
        }
    }
    return out;
}

// The run's re-reading in one line.
std::string rereadSummary(const engine::PlayToFile& ptf)
{
    return stringPrintf("Re-read %u bad frames, recovered %u", ptf.framesReread(),
                        ptf.framesRecovered());
}

// 128 + the signal when the run was interrupted, else `code`.
int exitOf(int code)
{
    return interrupted() ? interruptExitCode() : code;
}

} // namespace

int archive(const CliContext& ctx, const ArchiveOptions& opt, ArchiveFigures* figures)
{
    // The names first: nothing moves when an output cannot be written.
    const OutputName names = outputName(opt.base, {".WAV", ".flac", ".TVC", ".log", ".json"});
    if (names.absolute.empty())
        return 1;
    const std::string& base = names.absolute;
    const std::string reportName = base + ".log";
    if (!opt.noReport &&
        (!mayReplace(ctx, names.given + ".log") || !mayReplace(ctx, names.given + ".json")))
        return 1;
    if (!opt.noQc && !mayReplace(ctx, names.given + ".html"))
        return 1;
    // A signal stops the run as the Stop button does; the exit status still says so.
    InterruptScope interrupt;
    int exitCode = 0;
    DeckSession s(ctx);
    app::Settings probe;
    if (!loadRunSettings(ctx, probe, exitCode))
        return exitCode;
    if (opt.flac)
        if (const std::string why = engine::PlayToFile::flacRefusal(probe); !why.empty())
            return failWith(why);
    if (!s.open(audioOf(opt.withSound, probe), exitCode))
        return exitOf(exitCode);
    if (!opt.fromHere) {
        s.deck->rewind();
        if (!s.view->errorText().empty())
            return exitOf(1);
        s.settle();
    }
    if (interrupted())
        return reportInterrupted({});
    engine::PlayToFileRequest r;
    r.destination = engine::PlayDestination::Wave;
    r.waveBase = base;
    r.withSound = opt.withSound;
    r.divide = !opt.noDivide;
    r.preReadTenths = opt.preRead.value_or(s.settings.PreReadIDsec10);
    r.retries = opt.retries;
    engine::PlayToFile ptf(*s.deck, s.settings);
    ptf.setBroadcastWave(opt.bwf);
    ptf.setFlac(opt.flac, opt.flacLevel);
    ptf.setLabel(opt.label);
    const std::string started = localTime();
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult result = runToFile(s, ptf, r, opt.liveLead);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!result.started)
        return exitOf(result.exitCode); // said why; nothing was archived
    const int rc = exitOf(result.exitCode);

    if (ptf.extendedPairsSeen())
        std::cerr << "Warning: the tape holds 24-bit frame pairs, archived here as "
                     "high-rate 16-bit audio. Archive it again with --set ExtendedFormatMode=1.\n";

    // The summary.
    std::uint64_t errorFrames = 0;
    int seconds = 0;
    for (const engine::WrittenFile& f : ptf.writtenFiles()) {
        std::cout << stringPrintf("%-32s PNo %-3s %02dh%02dm%02ds %7u frames  errors L%u R%u A%u",
                                  baseName(f.name).c_str(), f.programText.c_str(), f.seconds / 3600,
                                  f.seconds / 60 % 60, f.seconds % 60, f.frames, f.errorsLeft,
                                  f.errorsRight, f.errorsAbs)
                  << "\n";
        errorFrames += f.errorFrames.size();
        seconds += f.seconds;
        if (figures != nullptr) {
            figures->errorsLeft += f.errorsLeft;
            figures->errorsRight += f.errorsRight;
            figures->errorsAbs += f.errorsAbs;
        }
    }
    if (figures != nullptr) {
        figures->files = static_cast<int>(ptf.writtenFiles().size());
        figures->seconds = seconds;
        figures->errorFrames = errorFrames;
    }
    if (ptf.writtenFiles().empty()) {
        std::cerr << "Nothing was archived.\n";
        return rc != 0 ? rc : 1;
    }
    std::cout << stringPrintf("%zu files, %02dh%02dm%02ds, %llu error frames; cue list %s",
                              ptf.writtenFiles().size(), seconds / 3600, seconds / 60 % 60,
                              seconds % 60, static_cast<unsigned long long>(errorFrames),
                              ptf.cueName().c_str())
              << "\n"
              << stringPrintf("Archived in %.2f s (%.0f times real time)", took,
                              took > 0 ? ptf.audioSeconds() / took : 0.0)
              << "\n";
    if (opt.retries > 0)
        std::cout << rereadSummary(ptf) << "\n";
    if (opt.noReport && opt.noQc)
        return rc;

    engine::ArchiveRun run;
    run.program = engine::PlayToFile::programName();
    const scsi::ScsiDeviceEntry e = s.deck->drive()->getDevice(s.deck->driveIndex());
    run.drive =
        stringPrintf("[%d:%d] %s %s %s", e.hostAdapter, e.target, trimmed(e.vendorText()).c_str(),
                     trimmed(e.productText()).c_str(), trimmed(e.revisionText()).c_str());
    run.driveVendor = trimmed(e.vendorText());
    run.driveProduct = trimmed(e.productText());
    run.driveFirmware = trimmed(e.revisionText());
    const app::Settings& st = s.settings;
    run.settings = {
        {"EnableErrorMute", std::to_string(st.EnableErrorMute)},
        {"EnableDeEmphasis", std::to_string(st.EnableDeEmphasis)},
        {"DitherType", std::to_string(st.DitherType)},
        {"ErrorStopCounter", std::to_string(st.ErrorStopCounter)},
        {"AbsTimeErrorStopCounter", std::to_string(st.AbsTimeErrorStopCounter)},
        {"WriteAbsTimeErrorFrameToFile", std::to_string(st.WriteAbsTimeErrorFrameToFile)},
        {"ResetErrorAtID", std::to_string(st.ResetErrorAtID)},
        {"EnableSkipPlay", std::to_string(st.EnableSkipPlay)},
        {"EnableDivideFileAtID", std::to_string(r.divide)},
        {"PreReadIDsec10", std::to_string(r.preReadTenths)},
        {"ExtendedFormatMode", std::to_string(st.ExtendedFormatMode)},
        {"ExtendedFormatBitLen", std::to_string(st.ExtendedFormatBitLen)}};
    if (opt.retries > 0)
        run.settings.emplace_back("Retries", std::to_string(opt.retries));
    run.started = started;
    run.ended = localTime();
    run.cueFile = ptf.cueName();
    run.outcome = outcomeOf(s, ptf);
    run.retries = opt.retries;
    run.label = opt.label;

    // The quality check of the closed files, and the IDs the run met for the report and page.
    const qc::ArchiveSummary summary =
        qc::summarizeRun(run, ptf.writtenFiles(),
                         *s.deck->drive()->getTable(s.deck->driveIndex(), s.deck->virtualIdMode()));
    std::vector<qc::FileAnalysis> analyses;
    bool qcInterrupted = false;
    if (!opt.noQc) {
        // Ctrl-C (the run's scope) ends the check, not the report.
        const auto q0 = std::chrono::steady_clock::now();
        analyses = measureArchive(summary);
        qcInterrupted = interrupted();
        std::cout
            << stringPrintf(
                   "Checked in %.2f s",
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - q0).count())
            << "\n";
    }
    for (std::size_t i = 0; i < summary.files.size(); ++i) {
        const qc::AudioFigures* measured =
            i < analyses.size() && analyses[i].ok ? &analyses[i].figures : nullptr;
        run.fileNotes.push_back(qc::reportLines(summary.files[i], measured));
        run.fileQuality.push_back(measured ? std::optional(qualityOf(*measured)) : std::nullopt);
    }

    std::string error;
    if (!opt.noReport) {
        std::vector<std::vector<engine::FileHashes>> hashes;
        if (!engine::writeArchiveReport(reportName, run, ptf.writtenFiles(), hashes, error)) {
            std::cerr << printable(error) << "\n";
            return rc != 0 ? rc : 1;
        }
        std::cout << "Report " << reportName << "\n";
        if (!engine::writeArchiveJson(base + ".json", run, ptf.writtenFiles(), hashes, error)) {
            std::cerr << printable(error) << "\n";
            return rc != 0 ? rc : 1;
        }
        std::cout << "Metadata " << base << ".json\n";
        if (figures != nullptr)
            figures->report = reportName;
    }
    if (qcInterrupted) {
        std::cerr << "Quality check interrupted: no page"
                  << (opt.noReport ? "" : " (tarnvel-cli qc " + reportName + " makes it)") << "\n";
        return interruptExitCode();
    }
    if (!opt.noQc && !writeQcPageOf(base, opt.noReport ? std::string() : baseName(reportName),
                                    summary, analyses))
        return 1;
    return rc;
}

namespace {

int imageCreate(const CliContext& ctx, const ImageOptions& opt)
{
    const std::string name = outputName(opt.file, {".TVI"}).absolute;
    if (name.empty())
        return 1;
    InterruptScope interrupt;
    int exitCode = 0;
    DeckSession s(ctx);
    if (!s.open(nullDevice(false), exitCode))
        return exitOf(exitCode);
    engine::PlayToFileRequest r;
    r.destination = engine::PlayDestination::Image;
    r.imageName = name;
    r.imageComment = opt.comment;
    r.imageFromHere = opt.here;
    r.retries = opt.retries;
    engine::PlayToFile ptf(*s.deck, s.settings);
    const RunResult result = runToFile(s, ptf, r);
    if (!result.started)
        return exitOf(result.exitCode); // said why; no image was made
    std::cout << stringPrintf("%s: %u frames", ptf.imageFileName().c_str(), ptf.imageFrames())
              << "\n";
    if (opt.retries > 0)
        std::cout << rereadSummary(ptf) << "\n";
    return exitOf(result.exitCode);
}

int copyToPeer(const CliContext& ctx, bool image, bool fromHere)
{
    // The same folder check as serve's: a folder another user made first could hold a
    // socket of theirs that would receive the tape.
    std::string error;
    const std::string folder = app::runtimeFolderPath();
    if (!app::prepareRuntimeFolder(folder, error))
        return failWith(error);
    int exitCode = 0;
    DeckSession s(ctx);
    if (!s.open(nullDevice(false), exitCode))
        return exitCode;
    engine::LinkPeerSender sender(s.loop, folder, app::programTitle(ctx.instance));
    if (!sender.peerRunning())
        return failWith(stringPrintf("%s does not run (start it with: tarnvel-cli --instance %d "
                                     "--drive ... serve).",
                                     sender.peerName().c_str(), ctx.instance == 1 ? 2 : 1));
    // An image copy rewinds by itself; an audio copy starts at the beginning too unless asked
    // (a tape left at its end by an archive would copy nothing).
    if (!image && !fromHere) {
        s.deck->rewind();
        if (!s.view->errorText().empty())
            return 1;
        s.settle();
    }
    engine::PlayToFileRequest r;
    r.destination = image ? engine::PlayDestination::PeerImage : engine::PlayDestination::PeerAudio;
    engine::PlayToFile ptf(*s.deck, s.settings);
    ptf.setPeer(&sender);
    const RunResult result = runToFile(s, ptf, r);
    const int rc = exitOf(result.exitCode);
    if (result.started && rc == 0 && sender.blocksSent() == 0)
        return failWith("Nothing was copied: no frames were played from where the tape stands.");
    return rc;
}

// A FLAC file on its own: libFLAC decodes it and checks the audio against the MD5 it carries,
// so damage is found without the report.
bool verifyFlacFile(const std::string& path)
{
    const formats::FlacReadResult r = formats::readFlacFile(path, {});
    const char* word = !r.ok ? "MISMATCH" : r.md5Checked ? "OK      " : "NO MD5  ";
    std::string detail = r.error;
    if (r.ok && !r.md5Checked)
        detail = "the file carries no MD5 of its audio: it decodes, but cannot be checked";
    std::cout << word << " " << printable(path)
              << (detail.empty() ? "" : "  (" + printable(detail) + ")") << "\n";
    return r.ok && r.md5Checked;
}

int verifyJson(const std::string& path,
               const std::map<std::string, std::pair<std::string, std::string>>& hashed)
{
    std::string error;
    const engine::JsonVerification v = engine::verifyArchiveJson(
        path, hashed,
        [](const std::string& file, const std::string& why) {
            std::cout << "MISMATCH " << printable(file) << "  (JSON: " << printable(why) << ")\n";
        },
        error);
    if (!v.readable) {
        std::cout << "EDITED   json " << printable(path) << "  (" << printable(error) << ")\n";
        return 1;
    }
    std::cout << (v.allGood() ? "OK       json " : "MISMATCH json ") << printable(path) << "\n";
    return v.allGood() ? 0 : 1;
}

} // namespace

int verify(const std::string& report)
{
    // Why a name is not a report file is said first (a folder, a FIFO, a missing file).
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(report, O_RDONLY, failure);
    if (fd < 0)
        return failWith(printable(report) + ": " + failure.text(), 1);
    ::close(fd);
    std::string error;
    std::map<std::string, std::pair<std::string, std::string>> hashed;
    // Each file as it is checked: a long archive shows its progress.
    const engine::ArchiveVerification v = engine::verifyArchiveReport(
        report,
        [&hashed](const engine::VerifiedFile& f) {
            if (!f.wholeHex.empty())
                hashed[baseName(f.name)] = {f.wholeHex, f.dataHex};
            const char* word = f.result == engine::VerifiedFile::Result::Ok        ? "OK      "
                               : f.result == engine::VerifiedFile::Result::Missing ? "MISSING "
                                                                                   : "MISMATCH";
            // Names come from the report file: shown escaped.
            std::cout << word << " " << printable(f.name)
                      << (f.detail.empty() ? "" : "  (" + printable(f.detail) + ")") << "\n";
        },
        error);
    if (!v.readable)
        return failWith(printable(error), 1);
    std::cout << (v.reportIntact ? "OK       report " : "EDITED   report ") << printable(report)
              << "\n";
    // The JSON beside the report states the same hashes: checked against the files too.
    std::string json = report;
    if (json.size() > 4 && strcasecmp(json.c_str() + json.size() - 4, ".log") == 0)
        json.replace(json.size() - 4, 4, ".json");
    struct stat st {};
    if (json == report || ::lstat(json.c_str(), &st) != 0)
        return v.allGood() ? 0 : 1;
    return verifyJson(json, hashed) == 0 && v.allGood() ? 0 : 1;
}

namespace {

int verifyNames(const std::vector<std::string>& names)
{
    int rc = 0;
    for (const std::string& name : names) {
        if (formats::hasFlacExtension(name)) {
            formats::OpenFailure failure;
            const int fd = formats::openRegularFile(name, O_RDONLY, failure);
            if (fd < 0) {
                failWith(printable(name) + ": " + failure.text(), 1);
                rc = 1;
                continue;
            }
            ::close(fd);
            if (!verifyFlacFile(name))
                rc = 1;
        } else if (name.size() > 5 && strcasecmp(name.c_str() + name.size() - 5, ".json") == 0) {
            if (verifyJson(name, {}) != 0)
                rc = 1;
        } else if (verify(name) != 0) {
            rc = 1;
        }
    }
    return rc;
}

} // namespace

void addArchiveCommands(CLI::App& app, CliContext& ctx)
{
    auto a = std::make_shared<ArchiveOptions>();
    auto* archiveCmd = app.add_subcommand(
        "archive", "Copy the tape to WAV files (BASE01.WAV, ...), a cue list BASE.TVC, a "
                   "report BASE.log with a SHA-256 of every file and a quality-control page "
                   "BASE.html");
    archiveCmd
        ->add_option("BASE", a->base,
                     "Base of the file names (relative: from here; a .WAV, .TVC or .log ending "
                     "is dropped; a missing folder is made)")
        ->required();
    archiveCmd->footer(
        "24-bit tapes (44100 / 24, 48000 / 24) are archived as 24-bit WAV files only with "
        "--set ExtendedFormatMode=1 (the sample kind: --set ExtendedFormatBitLen=24, 32 or -32 "
        "for float); without it their frame pairs read as 88200 or 96000 Hz 16-bit audio, and "
        "archive warns when it meets them.");
    auto divideFlag = std::make_shared<bool>(false);
    auto* divide =
        archiveCmd->add_flag("--divide", *divideFlag, "A file per program number (default)");
    archiveCmd->add_flag("--no-divide", a->noDivide, "One file for the whole tape")
        ->excludes(divide);
    archiveCmd
        ->add_option("--preread", a->preRead,
                     "Start a new file this many tenths of a second before its START ID (0-5)")
        ->check(between(0, 5));
    archiveCmd->add_flag("--with-sound", a->withSound, "Play through the sound output meanwhile");
    archiveCmd->add_flag("--from-here", a->fromHere, "Start where the tape stands (no rewind)");
    auto* bwf = archiveCmd->add_flag(
        "--bwf", a->bwf, "Write Broadcast Wave files (a bext chunk with the coding history)");
    auto* flac =
        archiveCmd
            ->add_flag(
                "--flac", a->flac,
                "Write FLAC files (BASE01.flac, ...) with the tape's facts as tags instead of "
                "WAV files")
            ->excludes(bwf);
    archiveCmd
        ->add_option("--flac-level", a->flacLevel,
                     "FLAC compression level, 0 (fastest) to 8 (smallest); default 5")
        ->check(between(0, 8))
        ->needs(flac);
    archiveCmd->add_flag("--no-report", a->noReport, "Write no BASE.log report");
    archiveCmd->add_flag("--no-qc", a->noQc,
                         "Write no quality-control page BASE.html (and no figures in the report)");
    archiveCmd->add_option("--label", a->label, "The tape's label, for the report and the page");
    archiveCmd
        ->add_option("--retries", a->retries,
                     "Read a stretch of error frames again up to this many times, keeping the "
                     "best read of every frame (0: no re-reading; an unreadable frame then ends "
                     "the run)")
        ->check(between(0, 99));
    archiveCmd->callback([&ctx, a] { ctx.exitCode = archive(ctx, *a); });

    auto i = std::make_shared<ImageOptions>();
    CLI::App* image = app.get_subcommand("image");
    auto* create = image->add_subcommand(
        "create", "Copy the tape to an image file, every frame with its subcode");
    create
        ->add_option("FILE", i->file,
                     "Image file (.TVI is added; relative: from here; a missing folder is made)")
        ->required();
    create->add_option("--comment", i->comment, "Comment stored in the image (80 characters)");
    create->add_flag("--here", i->here,
                     "Start where the tape stands (the ABS time then does not "
                     "start at 00:00:00:00)");
    create
        ->add_option("--retries", i->retries,
                     "Read a stretch of error frames again up to this many times, keeping the "
                     "best read of every frame (0: no re-reading; an unreadable frame then ends "
                     "the image)")
        ->check(between(0, 99));
    create->callback([&ctx, i] { ctx.exitCode = imageCreate(ctx, *i); });

    auto byImage = std::make_shared<bool>(false);
    auto peerFromHere = std::make_shared<bool>(false);
    auto* peer = app.add_subcommand("copy-to-peer", "Play this tape from its beginning into the "
                                                    "other instance's recorder (see serve)");
    auto* imageFlag = peer->add_flag("--image", *byImage,
                                     "Duplicate whole frames (an image copy) instead of audio");
    peer->add_flag("--from-here", *peerFromHere,
                   "Start where the tape stands (no rewind; audio copies only)")
        ->excludes(imageFlag);
    peer->callback(
        [&ctx, byImage, peerFromHere] { ctx.exitCode = copyToPeer(ctx, *byImage, *peerFromHere); });

    auto report = std::make_shared<std::vector<std::string>>();
    auto* v = app.add_subcommand(
        "verify", "Check an archive against its report (every file's SHA-256, a FLAC file's "
                  "MD5, the JSON's hashes and the report's own), or FLAC files by their MD5");
    v->add_option("REPORT", *report, "The BASE.log of an archive, or .flac files")->required();
    v->callback([&ctx, report] { ctx.exitCode = verifyNames(*report); });
}

} // namespace tarnvel::cli
