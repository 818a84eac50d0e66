#include "scsi/ScsiTransport.h"

#include "scsi/CommandLog.h"
#include "scsi/ScsiMessages.h"
#include "scsi/SgAspiBackend.h"
#include "scsi/SgSptiBackend.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace tarnvel::scsi {

namespace {
constexpr std::size_t kMaxCdbLength = 16;
constexpr std::size_t kErrorTextChars = 80;

// Why a device reset meant as an abort was refused (`error`: its errno; 0 appends nothing).
// Without the rights, or on a kernel that cannot reset without escalating, it says so.
void appendAbortProblem(TextBuilder& text, int error)
{
    if (error == 0)
        return;
    if (error == EACCES || error == EPERM || error == EINVAL) {
        text.append(tr(msg::kAbortNoPermission));
        return;
    }
    char reason[128];
    text.appendf(tr(msg::kAbortFailed), strerror_r(error, reason, sizeof reason));
}
} // namespace

void setIdentification(ScsiDeviceEntry& entry, const std::uint8_t* inquiry)
{
    auto copy = [&](auto& field, std::size_t offset) {
        const std::size_t n = field.size() - 1;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = inquiry[offset + i];
            field[i] = std::isprint(c) ? static_cast<char>(c) : ' ';
        }
        field[n] = '\0';
    };
    copy(entry.vendor, 8);
    copy(entry.product, 16);
    copy(entry.revision, 32);
}

ScsiTransport::ScsiTransport(bool forceAspi, std::shared_ptr<SgIo> kernel)
    : forceAspi_(forceAspi), inProcess_(std::make_unique<InProcessBackend>())
{
    statusText_ = scsi::statusText(kSsComp);
    if (!kernel)
        return;
    if (!forceAspi) {
        useSpti_ = true;
        kernel_ = std::make_unique<SgSptiBackend>(std::move(kernel));
        return;
    }
    auto aspi = std::make_unique<SgAspiBackend>(std::move(kernel));
    if (!aspi->driverPresent()) {
        status_ = kStartupAspiNotFound;
        statusText_ = tr(msg::kAspiNotFound);
        return;
    }
    kernel_ = std::move(aspi);
}

ScsiTransport::~ScsiTransport()
{
    setLogFile(nullptr);
}

void ScsiTransport::addTarget(std::shared_ptr<ScsiTarget> target)
{
    inProcess_->addTarget(std::move(target));
}

bool ScsiTransport::isSpti() const
{
    return useSpti_;
}

void ScsiTransport::clearTables()
{
    devices_.fill({});
    slots_.fill({});
    hostAdapters_.fill({});
    deviceCount_ = 0;
    hostAdapterCount_ = 0;
}

int ScsiTransport::scanDevices(std::uint8_t wantedType)
{
    clearTables();
    auto scanOne = [&](ScsiBackend& backend) {
        backend.scan(wantedType, [&](const ScsiDeviceEntry& entry, int handle) {
            if (deviceCount_ >= kMaxDevices)
                return false;
            devices_[deviceCount_] = entry;
            slots_[deviceCount_] = {&backend, handle};
            ++deviceCount_;
            return deviceCount_ < kMaxDevices;
        });
        for (const HostAdapterEntry& a : backend.hostAdapters()) {
            if (hostAdapterCount_ >= kMaxHostAdapters)
                break;
            hostAdapters_[hostAdapterCount_++] = a;
        }
    };
    if (kernel_)
        scanOne(*kernel_);
    if (!inProcess_->empty() && deviceCount_ < kMaxDevices)
        scanOne(*inProcess_);
    status_ = deviceCount_ > 0 ? kSsComp : kSsNoAdapters;
    statusText_ = scsi::statusText(static_cast<std::uint8_t>(status_));
    return deviceCount_;
}

ScsiDeviceEntry ScsiTransport::getDevice(int index) const
{
    if (index < 0 || index >= kMaxDevices)
        return {};
    return devices_[index];
}

std::string ScsiTransport::devicePath(int index) const
{
    if (index < 0 || index >= deviceCount_ || slots_[index].backend == nullptr)
        return {};
    return slots_[index].backend->devicePath(slots_[index].handle);
}

std::string ScsiTransport::commandPath(int index) const
{
    if (index < 0 || index >= deviceCount_ || slots_[index].backend == nullptr)
        return {};
    return slots_[index].backend->commandPath(slots_[index].handle);
}

std::string ScsiTransport::deviceProblem(int index) const
{
    if (index < 0 || index >= deviceCount_ || slots_[index].backend == nullptr)
        return {};
    return slots_[index].backend->deviceProblem(slots_[index].handle);
}

HostAdapterEntry ScsiTransport::getHostAdapter(int index) const
{
    if (index < 0 || index >= hostAdapterCount_)
        return {};
    return hostAdapters_[index];
}

void ScsiTransport::applyResult(const ScsiResult& result)
{
    status_ = result.status;
    statusText_ = scsi::statusText(result.status);
    haStatus_ = result.haStatus;
    targetStatus_ = result.targetStatus;
    sense_ = result.sense;
    failure_ = result.failure;
    systemError_ = result.systemError;
    residual_ = result.residual;
}

std::uint8_t ScsiTransport::execute(int device, DataDirection direction, const std::uint8_t* cdb,
                                    std::size_t cdbLength, std::uint8_t* buffer,
                                    std::uint32_t length, std::uint32_t timeoutMs)
{
    ScsiResult result;
    lastOpcode_ = (cdb != nullptr && cdbLength > 0) ? cdb[0] : 0;
    // An abort asked for while idle must not hit this command; one asked for since the
    // command was named must (runCommand cleared the flag before naming it).
    if (commandInProgress_.load() == nullptr) {
        abort_.requested.store(false);
        abort_.refusedError.store(0);
    }
    if (device < 0 || device >= deviceCount_ || slots_[device].backend == nullptr) {
        result.status = kSsNoDevice;
        result.failure = &msg::kDeviceUnavailable;
    } else if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
               (length > 0 && buffer == nullptr && direction != DataDirection::None)) {
        result.status = kSsInvalidSrb;
        result.failure = &msg::kInvalidRequest;
    } else {
        const DeviceSlot& slot = slots_[device];
        runningBackend_.store(slot.backend);
        slot.backend->execute(slot.handle, {direction, cdb, cdbLength, buffer, length, timeoutMs},
                              abort_, result);
        runningBackend_.store(nullptr);
    }
    applyResult(result);
    return result.status;
}

std::uint8_t ScsiTransport::runCommand(const char* name, int device, DataDirection direction,
                                       const std::uint8_t* cdb, std::size_t cdbLength,
                                       std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t timeoutMs)
{
    setCommandInProgress(name);
    const std::uint8_t status =
        execute(device, direction, cdb, cdbLength, buffer, length, timeoutMs);
    logCommand(device);
    return status;
}

void ScsiTransport::setCommandInProgress(const char* name)
{
    abort_.requested.store(false);
    abort_.refusedError.store(0);
    commandInProgress_.store(name);
}

void ScsiTransport::abort()
{
    abort_.requested.store(true);
    if (ScsiBackend* backend = runningBackend_.load())
        backend->abortRunning();
}

std::string ScsiTransport::abortProblem() const
{
    char text[256];
    TextBuilder b(text, sizeof text);
    appendAbortProblem(b, abort_.refusedError.load());
    return b.text();
}

std::uint8_t ScsiTransport::resetBus(int device)
{
    std::string error;
    bool ok = false;
    if (device >= 0 && device < deviceCount_ && slots_[device].backend != nullptr)
        ok = slots_[device].backend->resetBus(slots_[device].handle, error);
    else
        error = tr(msg::kDeviceUnavailable);
    ScsiResult result;
    result.status = ok ? kSsComp : kSsErr;
    applyResult(result);
    TextBuilder text(logText_.data(), logText_.size());
    if (ok) {
        text.appendf("SCSI Bus Reset   Status: %s", "SS_COMP");
    } else {
        if (error.size() > kErrorTextChars)
            error.resize(kErrorTextChars);
        text.appendf("SCSI Bus Reset   Status: SS_ERR  \n %s", error.c_str());
    }
    return result.status;
}

std::string ScsiTransport::commandInProgressName() const
{
    const char* name = commandInProgress_.load();
    return name != nullptr ? std::string(name) : std::string();
}

void ScsiTransport::setLogText(std::string_view text)
{
    const std::size_t n = std::min(text.size(), logText_.size() - 1);
    std::memcpy(logText_.data(), text.data(), n);
    logText_[n] = '\0';
}

void ScsiTransport::logCommand(int device)
{
    TextBuilder summary(senseSummary_.data(), senseSummary_.size());
    commandInProgress_.store(nullptr);
    const std::uint8_t type =
        (device >= 0 && device < deviceCount_) ? devices_[device].deviceType : kTypeAny;
    const CommandName name = commandName(lastOpcode_, type);
    lastCommandName_ = name.name;

    TextBuilder log(logText_.data(), logText_.size());
    log.appendf("Cmd: %s SCSI_%s   Status: ", name.hex, name.name);
    if (status_ == kSsComp) {
        log.append("SS_COMP");
    } else {
        log.append(statusText_);
        if (status_ == kSsAborted) {
            summary.append("Aborted");
        } else if (status_ == kSsErr) {
            log.append("\nHaStat: ");
            log.append(haStatusText(haStatus_));
            log.append("\nTargStat: ");
            log.append(targetStatusText(targetStatus_));
            if (targetStatus_ == kTargetCheckCondition) {
                log.append("\nSense data:\n");
                appendSenseLines(log, sense_.data());
                buildSenseSummary(summary, sense_.data());
            }
        }
        // Failures the status bytes cannot tell (a time-out, a failed system call, a short
        // transfer).
        if (failure_ != nullptr && targetStatus_ != kTargetCheckCondition) {
            log.append("\n");
            log.append(tr(*failure_));
            summary.clear();
            summary.append(tr(*failure_));
        }
        if (systemError_ != 0) {
            char reason[128];
            log.append("\n");
            log.append(explainSystemError(systemError_, reason, sizeof reason));
        }
        if (residual_ != 0)
            log.appendf("\nResidual: %u bytes not transferred", residual_);
    }
    if (const int refused = abort_.refusedError.load(); refused != 0) {
        log.append("\n");
        appendAbortProblem(log, refused);
    }
    log.append("\n\n");
    writeLog(log.text());
}

void ScsiTransport::writeLog(const char* text)
{
    if (logFile_ == nullptr)
        return;
    // Errors are ignored: the log must never stop the deck.
    std::fputs(text, logFile_);
    std::fflush(logFile_);
}

void ScsiTransport::setLogFile(const char* name)
{
    if (name != nullptr) {
        if (logFile_ != nullptr)
            return;
        logFile_ = std::fopen(name, "a");
        if (logFile_ == nullptr)
            return; // logging stays off
        logFileName_ = name;
        writeLogHeader();
        return;
    }
    if (logFile_ != nullptr) {
        std::fclose(logFile_);
        logFile_ = nullptr;
        logFileName_.clear();
    }
}

void ScsiTransport::writeLogHeader()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::fprintf(logFile_, "========== %02d-%02d-%02d %02d:%02d:%02d ==========\n",
                 local.tm_year % 100, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                 local.tm_sec);
    for (int a = 0; a < hostAdapterCount_; ++a) {
        const HostAdapterEntry& adapter = hostAdapters_[a];
        std::fprintf(logFile_, "[HA:%d] \"%16s\"\n", adapter.hostNumber, adapter.identifier.data());
        for (int d = 0; d < deviceCount_; ++d) {
            const ScsiDeviceEntry& e = devices_[d];
            if (e.hostAdapter != adapter.hostNumber)
                continue;
            std::fprintf(logFile_, " ID:%d LUN:%d Type:%d, \"%8s\" \"%16s\" \"%4s\"\n", e.target,
                         e.lun, e.deviceType, e.vendor.data(), e.product.data(), e.revision.data());
        }
    }
    std::fputs("\n", logFile_);
    std::fflush(logFile_);
}

} // namespace tarnvel::scsi
