#include "sim/DriveSelect.h"

#include "dat/DatMessages.h"
#include "scsi/ReplayBackend.h"
#include "scsi/ScsiStatus.h"
#include "sim/SimulatedDrive.h"

#include <cstdio>

namespace tarnvel::sim {

namespace {

constexpr char kSimPrefix[] = "sim:";
constexpr char kImagePrefix[] = "image:";
constexpr char kReplayPrefix[] = "replay:";

std::string format(const MessagePair& message, const std::string& argument)
{
    char text[512];
    std::snprintf(text, sizeof text, tr(message), argument.c_str());
    return text;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// No drive qualified. The error gains a line for every device that could not be used (`only`
// that one when not negative), so that a present drive is never called missing, and drives
// switched to audio mode on the way go back to data mode (a refusal adds its error line).
void giveUp(SelectedDrive& selected, std::string error, int only = -1)
{
    auto addLine = [&error](const std::string& line) {
        error += (error.empty() ? "" : "\n") + line;
    };
    dat::DatDrive& drive = *selected.drive;
    for (int d = 0; d < drive.deviceCount(); ++d) {
        const std::string problem = drive.deviceProblem(d);
        if (!problem.empty() && (only < 0 || d == only))
            addLine(problem);
    }
    while (!drive.restoreDataMode()) {
        char line[256];
        std::snprintf(line, sizeof line, tr(dat::msg::kDriveErrorLine), drive.lastCommandName(),
                      drive.statusText(), drive.senseSummary());
        addLine(std::string(tr(dat::msg::kDataModeNotRestored)) + line);
    }
    selected.error = std::move(error);
    selected.drive.reset();
}

} // namespace

DriveSpec parseDriveSpec(const std::string& spec)
{
    DriveSpec d;
    if (spec.empty())
        return d;
    if (startsWith(spec, kSimPrefix)) {
        d.kind = DriveSpec::Kind::Simulated;
        d.path = spec.substr(sizeof kSimPrefix - 1);
    } else if (startsWith(spec, kImagePrefix)) {
        d.kind = DriveSpec::Kind::Image;
        d.path = spec.substr(sizeof kImagePrefix - 1);
    } else if (startsWith(spec, kReplayPrefix)) {
        d.kind = DriveSpec::Kind::Replay;
        d.path = spec.substr(sizeof kReplayPrefix - 1);
    } else if (startsWith(spec, "/dev/sg") || startsWith(spec, "/dev/nst")) {
        d.kind = DriveSpec::Kind::Device;
        d.path = spec;
    } else {
        d.kind = DriveSpec::Kind::Unknown;
        d.path = spec;
    }
    return d;
}

bool isSimulatedSpec(const std::string& spec)
{
    const DriveSpec::Kind kind = parseDriveSpec(spec).kind;
    return kind == DriveSpec::Kind::Simulated || kind == DriveSpec::Kind::Image ||
           kind == DriveSpec::Kind::Replay;
}

bool isReplaySpec(const std::string& spec)
{
    return parseDriveSpec(spec).kind == DriveSpec::Kind::Replay;
}

std::string selectionSpec(const std::string& spec, const dat::DatDrive& drive)
{
    if (isReplaySpec(spec) && drive.recordedSession() != nullptr)
        return drive.recordedSession()->drive;
    return spec;
}

std::unique_ptr<dat::DatDrive> openDriveObject(const DriveRequest& request, std::string& error)
{
    std::unique_ptr<dat::DatDrive> drive;
    const DriveSpec spec = parseDriveSpec(request.spec);
    if (spec.kind == DriveSpec::Kind::Replay) {
        scsi::ReplayBackend::Options options;
        options.fast = request.fastReplay;
        options.differs = request.replayDiffers;
        auto replay = scsi::ReplayBackend::open(spec.path, std::move(options), error);
        if (!replay)
            return nullptr;
        drive = std::make_unique<dat::DatDrive>(std::move(replay));
    } else if (spec.kind == DriveSpec::Kind::Simulated || spec.kind == DriveSpec::Kind::Image) {
        SimOptions options;
        options.realtime = request.realtime;
        std::unique_ptr<SimulatedDrive> sim =
            spec.kind == DriveSpec::Kind::Image
                ? SimulatedDrive::openImage(spec.path, options, error)
                : SimulatedDrive::open(spec.path, options, error);
        if (!sim)
            return nullptr;
        drive = std::make_unique<dat::DatDrive>(false, nullptr);
        drive->addTarget(std::shared_ptr<SimulatedDrive>(std::move(sim)));
    } else {
        if (spec.kind == DriveSpec::Kind::Unknown) {
            error = format(dat::msg::kNoSuchDevice, request.spec);
            return nullptr;
        }
        const bool aspi = startsWith(request.spec, "/dev/sg");
        drive = std::make_unique<dat::DatDrive>(aspi, request.kernel ? request.kernel
                                                                     : scsi::linuxSgIo());
        if (drive->status() != scsi::kStartupOk) {
            error = drive->statusText();
            return nullptr;
        }
    }
    drive->scanDevices(scsi::kTypeSequentialAccess);
    drive->setDriveSpec(request.spec);
    drive->setFullLog(request.fullLog);
    if (!request.logFile.empty())
        drive->setLogFile(request.logFile.c_str());
    return drive;
}

SelectedDrive selectDrive(const DriveRequest& request)
{
    SelectedDrive selected;
    selected.drive = openDriveObject(request, selected.error);
    if (!selected.drive)
        return selected;
    dat::DatDrive& drive = *selected.drive;
    const std::string spec = selectionSpec(request.spec, drive);
    if (drive.deviceCount() == 0) {
        selected.error = spec.empty() || isSimulatedSpec(spec)
                             ? tr(dat::msg::kTapeDriveNotFound)
                             : format(dat::msg::kNoSuchDevice, spec);
        selected.drive.reset();
        return selected;
    }
    if (spec.empty() || isSimulatedSpec(spec)) {
        for (int d = 0; d < drive.deviceCount(); ++d) {
            // A device that cannot be opened is not tried (its problem goes in the error).
            if (drive.deviceProblem(d).empty() && drive.identify(d)) {
                selected.index = d;
                return selected;
            }
        }
        giveUp(selected, tr(dat::msg::kAudioDriveNotFound));
        return selected;
    }
    for (int d = 0; d < drive.deviceCount(); ++d) {
        if (drive.devicePath(d) != spec)
            continue;
        if (drive.deviceProblem(d).empty() && drive.identify(d)) {
            selected.index = d;
            return selected;
        }
        // A device that cannot be used is named by its problem line alone.
        giveUp(selected,
               drive.deviceProblem(d).empty() ? format(dat::msg::kNotAudioCapable, spec)
                                              : std::string(),
               d);
        return selected;
    }
    giveUp(selected, format(dat::msg::kNoSuchDevice, spec));
    return selected;
}

} // namespace tarnvel::sim
