#include "sim/DriveSelect.h"

#include "dat/DatMessages.h"
#include "scsi/ScsiStatus.h"
#include "sim/SimulatedDrive.h"

#include <cstdio>

namespace tarnvel::sim {

namespace {

constexpr char kSimPrefix[] = "sim:";

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

} // namespace

bool isSimulatedSpec(const std::string& spec)
{
    return startsWith(spec, kSimPrefix);
}

std::unique_ptr<dat::DatDrive> openDriveObject(const DriveRequest& request, std::string& error)
{
    std::unique_ptr<dat::DatDrive> drive;
    if (isSimulatedSpec(request.spec)) {
        SimOptions options;
        options.realtime = request.realtime;
        std::unique_ptr<SimulatedDrive> sim =
            SimulatedDrive::open(request.spec.substr(sizeof kSimPrefix - 1), options, error);
        if (!sim)
            return nullptr;
        drive = std::make_unique<dat::DatDrive>(false, nullptr);
        drive->addTarget(std::shared_ptr<SimulatedDrive>(std::move(sim)));
    } else {
        const bool aspi = startsWith(request.spec, "/dev/sg");
        if (!request.spec.empty() && !aspi && !startsWith(request.spec, "/dev/nst")) {
            error = format(dat::msg::kNoSuchDevice, request.spec);
            return nullptr;
        }
        drive = std::make_unique<dat::DatDrive>(aspi, request.kernel ? request.kernel
                                                                     : scsi::linuxSgIo());
        if (drive->status() != scsi::kStartupOk) {
            error = drive->statusText();
            return nullptr;
        }
    }
    drive->scanDevices(scsi::kTypeSequentialAccess);
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
    if (drive.deviceCount() == 0) {
        selected.error = request.spec.empty() || isSimulatedSpec(request.spec)
                             ? tr(dat::msg::kTapeDriveNotFound)
                             : format(dat::msg::kNoSuchDevice, request.spec);
        selected.drive.reset();
        return selected;
    }
    if (request.spec.empty() || isSimulatedSpec(request.spec)) {
        for (int d = 0; d < drive.deviceCount(); ++d) {
            if (drive.identify(d)) {
                selected.index = d;
                return selected;
            }
        }
        selected.error = tr(dat::msg::kAudioDriveNotFound);
        selected.drive.reset();
        return selected;
    }
    for (int d = 0; d < drive.deviceCount(); ++d) {
        if (drive.devicePath(d) != request.spec)
            continue;
        if (drive.identify(d)) {
            selected.index = d;
            return selected;
        }
        selected.error = format(dat::msg::kNotAudioCapable, request.spec);
        selected.drive.reset();
        return selected;
    }
    selected.error = format(dat::msg::kNoSuchDevice, request.spec);
    selected.drive.reset();
    return selected;
}

} // namespace tarnvel::sim
