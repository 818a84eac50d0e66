#include "scsi/ScsiTransport.h"

#include "scsi/CommandLog.h"
#include "scsi/KernelStatus.h"
#include "scsi/ScsiMessages.h"
#include "scsi/SgAspiBackend.h"
#include "scsi/SgSptiBackend.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sys/utsname.h>

namespace tarnvel::scsi {

namespace {
constexpr std::size_t kMaxCdbLength = 16;
constexpr std::size_t kErrorTextChars = 80;

// Why a device reset meant as an abort was refused (`error`: its errno; 0 appends nothing).
void appendAbortProblem(TextBuilder& text, int error)
{
    if (error == 0)
        return;
    if (error == EACCES || error == EPERM) {
        text.append(tr(msg::kAbortNoPermission));
        return;
    }
    if (error == EINVAL) {
        text.append(tr(msg::kAbortNotSupported));
        return;
    }
    char reason[128];
    text.appendf(tr(msg::kAbortFailed), explainResetError(error, reason, sizeof reason));
}

std::int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string localDateTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string systemName()
{
    utsname u{};
    if (::uname(&u) != 0)
        return "unknown";
    return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

// Unit attention "power on, reset or bus device reset occurred".
bool isUnitAttentionReset(const std::array<std::uint8_t, kFullSenseBytes>& sense)
{
    return (sense[2] & 0x0F) == 0x06 && sense[12] == 0x29;
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

ScsiTransport::ScsiTransport(std::unique_ptr<ScsiBackend> backend)
    : forceAspi_(false), inProcess_(std::make_unique<InProcessBackend>())
{
    statusText_ = scsi::statusText(kSsComp);
    if (backend) {
        useSpti_ = backend->isSpti();
        forceAspi_ = !useSpti_;
        kernel_ = std::move(backend);
    }
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

std::string ScsiTransport::deviceGroup(int index) const
{
    if (index < 0 || index >= deviceCount_ || slots_[index].backend == nullptr)
        return {};
    return slots_[index].backend->nodeGroup(slots_[index].handle);
}

bool ScsiTransport::waitingForRecovery(int index) const
{
    if (index < 0 || index >= deviceCount_ || slots_[index].backend == nullptr)
        return false;
    return slots_[index].backend->waitingForRecovery(slots_[index].handle);
}

void ScsiTransport::releaseDevice(int index)
{
    if (index >= 0 && index < deviceCount_ && slots_[index].backend != nullptr)
        slots_[index].backend->release(slots_[index].handle);
}

bool ScsiTransport::modeCheckDue(int device) const
{
    return device >= 0 && device < kMaxDevices && modeCheckDue_[device];
}

void ScsiTransport::modeChecked(int device)
{
    if (device >= 0 && device < kMaxDevices)
        modeCheckDue_[device] = false;
}

HostAdapterEntry ScsiTransport::getHostAdapter(int index) const
{
    if (index < 0 || index >= hostAdapterCount_)
        return {};
    return hostAdapters_[index];
}

void ScsiTransport::applyResult(int device, const ScsiResult& result)
{
    status_ = result.status;
    statusText_ = scsi::statusText(result.status);
    haStatus_ = result.haStatus;
    targetStatus_ = result.targetStatus;
    sense_ = result.sense;
    failure_ = result.failure;
    systemError_ = result.systemError;
    hostStatus_ = result.hostStatus;
    driverStatus_ = result.driverStatus;
    answeredAtOnce_ = result.answeredAtOnce;
    residualReported_ = result.residualReported;
    residual_ = result.residual;
    note_ = result.note;
    lateReply_ = result.lateReply;
    lateTargetStatus_ = result.lateTargetStatus;
    lateHostStatus_ = result.lateHostStatus;
    lateDriverStatus_ = result.lateDriverStatus;
    // A reset, whoever made it, may have put the drive back into its power-on mode.
    const bool reset = result.deviceReset || (result.targetStatus == kTargetCheckCondition &&
                                              isUnitAttentionReset(result.sense));
    if (reset && device >= 0 && device < kMaxDevices)
        modeCheckDue_[device] = true;
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
        // Only the drive in use is held, so that other programs can use the others.
        for (int other = 0; other < deviceCount_; ++other)
            if (other != device && slots_[other].backend != nullptr)
                slots_[other].backend->release(slots_[other].handle);
        const ScsiCommand command{direction, cdb, cdbLength, buffer, length, timeoutMs};
        const std::int64_t startUs = recordingExchange() ? nowUs() : 0;
        runningBackend_.store(slot.backend);
        slot.backend->execute(slot.handle, command, abort_, result);
        runningBackend_.store(nullptr);
        if (recordingExchange())
            recordExchange(device, command, result, startUs, nowUs());
    }
    applyResult(device, result);
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

std::uint8_t ScsiTransport::failWithoutSending(const char* name, int device, std::uint8_t opcode,
                                               const MessagePair& failure, const MessagePair* note)
{
    setCommandInProgress(name);
    lastOpcode_ = opcode;
    ScsiResult result;
    result.status = kSsErr;
    result.failure = &failure;
    result.note = note;
    applyResult(-1, result);
    logCommand(device);
    return result.status;
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

bool ScsiTransport::abortResetsDevice() const
{
    const ScsiBackend* backend = runningBackend_.load();
    return backend != nullptr ? backend->abortResetsDevice()
                              : (kernel_ != nullptr && kernel_->abortResetsDevice());
}

std::string ScsiTransport::abortProblem() const
{
    char text[256];
    TextBuilder b(text, sizeof text);
    appendAbortProblem(b, abort_.refusedError.load());
    return b.text();
}

AbortOutcome ScsiTransport::takeAbortOutcome()
{
    return abort_.outcome.exchange(AbortOutcome::None);
}

const char* ScsiTransport::abortOutcomeText(AbortOutcome outcome)
{
    switch (outcome) {
    case AbortOutcome::Stopped:
        return tr(msg::kResetStopped);
    case AbortOutcome::StoppedBehindBridge:
        return tr(msg::kResetStoppedBehindBridge);
    case AbortOutcome::CompletedBeforeReset:
        return tr(msg::kResetAfterCompletion);
    case AbortOutcome::NoReply:
        return tr(msg::kResetNoReply);
    case AbortOutcome::None:
        break;
    }
    return "";
}

std::uint8_t ScsiTransport::resetBus(int device)
{
    std::string error;
    bool ok = false;
    if (device >= 0 && device < deviceCount_ && slots_[device].backend != nullptr) {
        const std::int64_t startUs = nowUs();
        ok = slots_[device].backend->resetBus(slots_[device].handle, error);
        const std::int64_t endUs = nowUs();
        for (ExchangeSink* sink : {&fullLogSink_, &captureSink_}) {
            if (sink->file == nullptr)
                continue;
            writeExchangeBusReset(sink->file, ++sink->count, device, startUs - sink->epochUs,
                                  endUs - startUs, ok ? "" : error.c_str());
            std::fflush(sink->file);
        }
    } else {
        error = tr(msg::kDeviceUnavailable);
    }
    ScsiResult result;
    result.status = ok ? kSsComp : kSsErr;
    applyResult(-1, result);
    // Every device on that bus was reset, this one among them.
    if (ok) {
        const std::uint8_t host = devices_[device].hostAdapter;
        for (int d = 0; d < deviceCount_; ++d)
            if (slots_[d].backend == slots_[device].backend && devices_[d].hostAdapter == host)
                modeCheckDue_[d] = true;
    }
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
    if (status_ == kSsComp)
        log.append("SS_COMP");
    else
        appendResultLines(log, summary);
    if (note_ != nullptr) {
        log.append("\n");
        log.append(tr(*note_));
    }
    if (lateReply_) {
        log.appendf("\nTargStat: 0x%02X\n", lateTargetStatus_);
        appendKernelStatus(log, lateHostStatus_, lateDriverStatus_);
    }
    if (const int refused = abort_.refusedError.load(); refused != 0) {
        log.append("\n");
        appendAbortProblem(log, refused);
    }
    log.append("\n\n");
    writeLog(log.text());
}

void ScsiTransport::appendResultLines(TextBuilder& log, TextBuilder& summary)
{
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
    // The kernel's own codes, which the host adapter table above names only in part.
    if (kernelStatusWorthShowing(hostStatus_, driverStatus_)) {
        log.append("\n");
        appendKernelStatus(log, hostStatus_, driverStatus_, answeredAtOnce_);
    }
    // Failures the status bytes cannot tell (a time-out, a failed system call, a short
    // transfer); a host code without one of its own names itself.
    if (targetStatus_ != kTargetCheckCondition && status_ != kSsAborted) {
        if (failure_ != nullptr) {
            log.append("\n");
            log.append(tr(*failure_));
            summary.clear();
            summary.append(tr(*failure_));
        } else if (hostStatus_ != kDidOk) {
            summary.clear();
            summary.append(hostStatusName(hostStatus_));
        }
    }
    if (systemError_ != 0) {
        char reason[128];
        log.append("\n");
        if (failure_ == &msg::kHeaderRefused)
            log.append(tr(msg::kExplainHeaderSize));
        else
            log.append(explainSystemError(systemError_, reason, sizeof reason));
    }
    // As the adapter reports it, even when it is 0: some adapters never report one, and a
    // field report must show which case it is.
    if (residualReported_ && status_ != kSsAborted)
        log.appendf("\nResidual: %d bytes not transferred (as the adapter reports it)",
                    static_cast<int>(residual_));
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
        if (fullLog_)
            startSink(fullLogSink_, logFile_);
        return;
    }
    if (logFile_ != nullptr) {
        fullLogSink_ = {};
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

// --- The whole exchange -----------------------------------------------------------------------

void ScsiTransport::setFullLog(bool on)
{
    fullLog_ = on;
    if (!on)
        fullLogSink_ = {};
    else if (logFile_ != nullptr && fullLogSink_.file == nullptr)
        startSink(fullLogSink_, logFile_);
}

void ScsiTransport::setExchangeCapture(std::FILE* file)
{
    captureSink_ = {};
    captureClockUs_ = 0;
    if (file != nullptr)
        startSink(captureSink_, file);
}

void ScsiTransport::startSink(ExchangeSink& sink, std::FILE* file)
{
    sink.file = file;
    sink.epochUs = nowUs();
    sink.count = 0;
    writeExchangeSession(file, exchangeSession());
}

const ExchangeSession* ScsiTransport::recordedSession() const
{
    return kernel_ ? kernel_->recordedSession() : nullptr;
}

ExchangeSession ScsiTransport::exchangeSession() const
{
    ExchangeSession s;
    if (const ExchangeSession* recorded = recordedSession()) {
        s.started = recorded->started;
        s.program = recorded->program;
        s.system = recorded->system;
        s.drive = recorded->drive;
        s.replayedFrom = recorded->replayedFrom;
    } else {
        s.started = localDateTime();
        s.program = "Tarnvel " TARNVEL_VERSION;
        s.system = systemName();
        s.drive = driveSpec_;
    }
    s.spti = useSpti_;
    s.adapters.assign(hostAdapters_.begin(), hostAdapters_.begin() + hostAdapterCount_);
    for (int d = 0; d < deviceCount_; ++d)
        s.devices.push_back(
            {devices_[d], devicePath(d), commandPath(d), deviceGroup(d), deviceProblem(d)});
    return s;
}

void ScsiTransport::recordExchange(int device, const ScsiCommand& command, const ScsiResult& result,
                                   std::int64_t startUs, std::int64_t endUs)
{
    // What reached the buffer of a data-in command: all of it on success, the part the
    // adapter reports as transferred otherwise.
    std::uint32_t received = 0;
    if (command.direction == DataDirection::In &&
        (result.status == kSsComp || result.residualReported)) {
        received = command.length;
        if (result.residualReported && result.residual > 0)
            received -= std::min(command.length, static_cast<std::uint32_t>(result.residual));
    }
    const DeviceSlot& slot = slots_[device];
    const std::string problem = slot.backend->deviceProblem(slot.handle);
    const bool waiting = slot.backend->waitingForRecovery(slot.handle);
    for (ExchangeSink* sink : {&fullLogSink_, &captureSink_}) {
        if (sink->file == nullptr)
            continue;
        const bool replayed = result.recordedTookUs >= 0;
        const std::int64_t at = replayed ? result.recordedAtUs : startUs - sink->epochUs;
        const std::int64_t took = replayed ? result.recordedTookUs : endUs - startUs;
        writeExchangeCommand(sink->file, ++sink->count, device, at, took, command, received, result,
                             problem.c_str(), waiting);
        if (sink == &captureSink_)
            captureClockUs_ = at + took;
        if (sink == &fullLogSink_)
            std::fflush(sink->file);
    }
}

} // namespace tarnvel::scsi
