#include "qc/PlayToFileCheck.h"

#include "app/ProgramIdentity.h"
#include "qc/QualityCheck.h"

#include <ctime>
#include <filesystem>

namespace tarnvel::qc {

namespace {

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

} // namespace

std::string runOutcome(engine::PlayStop stop, const std::string& errorText)
{
    switch (stop) {
    case engine::PlayStop::EndId:
        return "stopped at the END ID";
    case engine::PlayStop::EndOfTape:
        return "end of the recording";
    case engine::PlayStop::None:
        return "stopped by the user";
    case engine::PlayStop::Mem2:
        return "stopped at the Mem2 time";
    default:
        return "stopped by an error: " + trimmed(errorText);
    }
}

PlayToFileCheck::PlayToFileCheck(engine::PlayToFile& inner, engine::Deck& deck,
                                 engine::UiThread& ui)
    : inner_(inner), deck_(deck), ui_(ui)
{
}

PlayToFileCheck::~PlayToFileCheck()
{
    *alive_ = false;
    stopCheck();
}

void PlayToFileCheck::stopCheck()
{
    if (worker_.joinable()) {
        stop_ = true;
        worker_.join();
    }
    stop_ = false;
}

bool PlayToFileCheck::setUp(engine::Modifiers modifiers)
{
    started_ = localTime();
    return inner_.setUp(modifiers);
}

void PlayToFileCheck::finish()
{
    inner_.finish();
    if (inner_.request().destination != engine::PlayDestination::Wave ||
        inner_.writtenFiles().empty())
        return;

    // Everything the check needs, copied now: the drive's tables belong to the deck.
    engine::ArchiveRun run;
    run.program = qcProgramName();
    if (dat::DatDrive* drive = deck_.drive()) {
        const scsi::ScsiDeviceEntry e = drive->getDevice(deck_.driveIndex());
        run.drive = app::deviceLineText(e.hostAdapter, e.target, trimmed(e.vendorText()),
                                        trimmed(e.productText()), trimmed(e.revisionText()));
    }
    run.started = started_;
    run.ended = localTime();
    run.outcome = runOutcome(deck_.pipeline().stopReason(), {});
    run.cueFile = inner_.cueName();
    dat::IdTable ids;
    if (dat::DatDrive* drive = deck_.drive())
        if (const dat::IdTable* t = drive->getTable(deck_.driveIndex(), deck_.virtualIdMode()))
            ids = *t;
    ArchiveSummary summary = summarizeRun(run, inner_.writtenFiles(), ids);
    std::filesystem::path base(inner_.cueName());
    base.replace_extension();

    stopCheck(); // an earlier run's check, if still busy
    finished_ = std::make_shared<std::atomic<bool>>(false);
    worker_ = std::thread([this, summary = std::move(summary), base = base.string(),
                           finished = finished_, alive = alive_] {
        QcOptions options;
        options.analysis.stop = &stop_;
        const std::vector<FileAnalysis> analyses = analyseArchive(summary, options);
        std::string error;
        std::string page;
        if (stop_.load()) {
            error = "interrupted";
        } else {
            PageHeader header;
            header.title = std::filesystem::path(base).filename().string();
            header.madeBy = qcProgramName();
            header.madeAt = localTime();
            if (writeQcPage(base, summary, analyses, header, options, error))
                page = qcPagePath(base);
        }
        finished->store(true);
        ui_.post([this, alive, page, error] {
            if (!*alive)
                return;
            if (!page.empty())
                page_ = page;
            if (pageReady_)
                pageReady_(page, error);
        });
    });
}

} // namespace tarnvel::qc
