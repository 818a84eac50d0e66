#pragma once

#include "scsi/CommandExchange.h"
#include "scsi/InProcessBackend.h"
#include "scsi/ScsiBackend.h"
#include "scsi/ScsiDevice.h"
#include "scsi/ScsiStatus.h"
#include "scsi/ScsiTarget.h"
#include "scsi/SgIo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// The SCSI transport: finds devices, keeps a table of them and runs one command at a time
// on a chosen device, leaving the status bytes and sense data of the last command behind,
// with a readable account of it (the command log).
namespace tarnvel::scsi {

class TextBuilder;

class ScsiTransport {
public:
    static constexpr int kMaxDevices = 16;
    static constexpr int kMaxHostAdapters = 8;
    static constexpr std::size_t kLogTextBytes = 2000;
    static constexpr std::size_t kSenseSummaryBytes = 30;
    // Time-outs given with commands: most answer at once; motion without the immediate bit
    // can take minutes on a long tape.
    static constexpr std::uint32_t kDefaultTimeoutMs = 30000;
    static constexpr std::uint32_t kMotionTimeoutMs = 600000;

    // `forceAspi`: ASPI mode (/dev/sgN) instead of SPTI mode (/dev/nstN). `kernel`: the
    // kernel interface of those back-ends; null leaves kernel devices out entirely (only
    // in-process targets are listed).
    ScsiTransport(bool forceAspi, std::shared_ptr<SgIo> kernel);
    explicit ScsiTransport(bool forceAspi) : ScsiTransport(forceAspi, linuxSgIo()) {}
    // Devices of one back-end of the caller's (a replay of a recorded exchange) in place of
    // the kernel's; in-process targets may be added as well.
    explicit ScsiTransport(std::unique_ptr<ScsiBackend> backend);
    virtual ~ScsiTransport();
    ScsiTransport(const ScsiTransport&) = delete;
    ScsiTransport& operator=(const ScsiTransport&) = delete;

    // Registers an in-process target (the simulated drive); it is listed by the next scan,
    // after the kernel's devices. The transport keeps it alive.
    void addTarget(std::shared_ptr<ScsiTarget> target);

    bool isSpti() const;
    // Finds devices of a peripheral type (kTypeAny: all); replaces the tables. Returns the
    // device count (0-16); with none at all `status` is kSsNoAdapters. Devices whose node
    // cannot be used are listed too (see `deviceProblem`).
    int scanDevices(std::uint8_t wantedType);
    int deviceCount() const { return deviceCount_; }
    // A copy of entry `index`; all zero outside the table.
    ScsiDeviceEntry getDevice(int index) const;
    // The device node behind entry `index` ("/dev/sg3", "/dev/nst0"); empty for in-process
    // targets and outside the table.
    std::string devicePath(int index) const;
    // The node commands of entry `index` go through when it is another ("/dev/sg3" of
    // "/dev/nst0"); empty otherwise.
    std::string commandPath(int index) const;
    // Why entry `index` cannot be used now ("/dev/sg3: Permission denied (...)"), or empty.
    std::string deviceProblem(int index) const;
    // The group that owns the node of entry `index` (the one that could not be opened, if
    // one could not), or empty when unknown.
    std::string deviceGroup(int index) const;
    // True while a command to entry `index` was given up at its deadline and the kernel has
    // not answered it yet: commands to it fail without being sent ("The drive does not
    // answer; waiting for the system to recover it...").
    bool waitingForRecovery(int index) const;
    // Lets go of entry `index` (its nodes close, the claim on the drive ends) until the next
    // command to it. A command to one device lets go of all others by itself: only the drive
    // in use is held.
    void releaseDevice(int index);
    int hostAdapterCount() const { return hostAdapterCount_; }
    HostAdapterEntry getHostAdapter(int index) const;

    // Runs one command; returns its status byte (kSsComp on success) and sets `status`,
    // `statusText`, `haStatus`, `targetStatus`, `senseData` and `lastOpcode`. Allocates
    // nothing. Thread: one command at a time (callers serialise); see `abort`.
    std::uint8_t execute(int device, DataDirection direction, const std::uint8_t* cdb,
                         std::size_t cdbLength, std::uint8_t* buffer, std::uint32_t length,
                         std::uint32_t timeoutMs = kDefaultTimeoutMs);
    // The command wrapper's steps: name the command in progress, execute, log. An abort
    // that arrives once the command is named applies to it.
    std::uint8_t runCommand(const char* name, int device, DataDirection direction,
                            const std::uint8_t* cdb, std::size_t cdbLength, std::uint8_t* buffer,
                            std::uint32_t length, std::uint32_t timeoutMs = kDefaultTimeoutMs);
    // Asks the running command to end (ASPI mode and in-process targets; nothing under
    // SPTI). On a kernel device this is a reset of the drive (see `abortResetsDevice`); ask
    // the user first (runAbortDialog). Thread: any; the only call meant to arrive while a
    // command runs.
    void abort();
    // True when `abort` would reset the drive running the command (its whole state, not only
    // the command). Thread: any.
    bool abortResetsDevice() const;
    // After `abort`: why the running command could not be aborted ("Unable to abort the
    // command (no permission)"), or empty. Cleared when the next command is named. Thread: any.
    std::string abortProblem() const;
    // What the last reset made by `abort` did to its command (None when there was none since
    // the last call), and the text that tells it. Thread: any.
    AbortOutcome takeAbortOutcome();
    static const char* abortOutcomeText(AbortOutcome outcome);
    // Bus reset behind a device; writes the result line into `logText`.
    std::uint8_t resetBus(int device);

    int status() const { return status_; }
    const char* statusText() const { return statusText_; }
    std::uint8_t haStatus() const { return haStatus_; }
    std::uint8_t targetStatus() const { return targetStatus_; }
    // The kernel's host and driver bytes of the last command, raw (0 for in-process targets
    // and failed system calls); hostStatusName and driverStatusName name them.
    std::uint8_t hostStatus() const { return hostStatus_; }
    std::uint8_t driverStatus() const { return driverStatus_; }
    std::uint8_t lastOpcode() const { return lastOpcode_; }
    // Sense bytes 0-13 of the last command (fixed format).
    const std::uint8_t* senseData() const { return sense_.data(); }
    std::uint8_t senseKey() const { return sense_[2] & 0x0F; }
    std::uint8_t senseAsc() const { return sense_[12]; }
    std::uint8_t senseAscq() const { return sense_[13]; }
    const char* senseSummary() const { return senseSummary_.data(); }
    const char* logText() const { return logText_.data(); }
    const char* lastCommandName() const { return lastCommandName_; }
    // Name of the command being executed, or empty when idle. Thread: any.
    std::string commandInProgressName() const;

    // The command log.
    // Builds `logText`, `senseSummary` and `lastCommandName` for the last command, clears
    // the command in progress and writes the entry to the log file when it is open.
    void logCommand(int device);
    // Opens the log (appending, with a header) when a name is given and none is open;
    // closes it when null is given and one is open.
    void setLogFile(const char* name);
    void writeLog(const char* text);
    bool logging() const { return logFile_ != nullptr; }

    // The whole exchange (CommandExchange.h): with `setFullLog`, the log file gets every
    // command's CDB, data, status, sense and time as well, from when it opens (or from now,
    // when it is open). A capture gets the same from now on, with a session header of its own
    // (a drive check's report); null ends it. Recording costs a text of the data per command.
    void setFullLog(bool on);
    bool fullLog() const { return fullLog_; }
    void setExchangeCapture(std::FILE* file);
    // The drive specification the run was given, for the session header.
    void setDriveSpec(const std::string& spec) { driveSpec_ = spec; }
    // What a session header written now says: the date, program and system (as recorded, when
    // the devices are a replay's), the drive specification and the device table.
    ExchangeSession exchangeSession() const;
    // The session a replay back-end answers from; null for other devices.
    const ExchangeSession* recordedSession() const;
    // When the last command recorded into the capture ended, in microseconds since the capture
    // began (a replayed command's as recorded): the clock a drive check times motions by, so
    // that its replay shows the same times.
    std::int64_t captureClockUs() const { return captureClockUs_; }

protected:
    // Names the command about to be executed; an abort from now on applies to it.
    void setCommandInProgress(const char* name);
    // Replaces `logText` (truncated to its size).
    void setLogText(std::string_view text);
    // The device was reset since its mode was last set (a reset we made, one the kernel
    // reports, a unit attention for a reset or power on): what depends on the mode must set
    // it again first. `modeChecked` clears it.
    bool modeCheckDue(int device) const;
    void modeChecked(int device);
    // A command the wrapper does not send: it fails with `failure` (and `note` in the log),
    // logged like a sent one.
    std::uint8_t failWithoutSending(const char* name, int device, std::uint8_t opcode,
                                    const MessagePair& failure, const MessagePair* note);

private:
    struct DeviceSlot {
        ScsiBackend* backend = nullptr;
        int handle = -1;
    };
    void clearTables();
    void applyResult(int device, const ScsiResult& result);
    void appendResultLines(TextBuilder& log, TextBuilder& summary);
    void writeLogHeader();
    struct ExchangeSink {
        std::FILE* file = nullptr;
        std::int64_t epochUs = 0;
        long count = 0;
    };
    void startSink(ExchangeSink& sink, std::FILE* file);
    bool recordingExchange() const
    {
        return fullLogSink_.file != nullptr || captureSink_.file != nullptr;
    }
    void recordExchange(int device, const ScsiCommand& command, const ScsiResult& result,
                        std::int64_t startUs, std::int64_t endUs);

    bool forceAspi_;
    std::string logFileName_;
    AbortState abort_;
    std::uint8_t lastOpcode_ = 0;
    const char* statusText_ = "";
    const char* lastCommandName_ = "";
    std::array<char, kSenseSummaryBytes> senseSummary_{};
    int hostAdapterCount_ = 0;
    int deviceCount_ = 0;
    std::array<HostAdapterEntry, kMaxHostAdapters> hostAdapters_{};
    std::uint8_t haStatus_ = 0;
    std::uint8_t targetStatus_ = 0;
    int status_ = kStartupOk;
    std::FILE* logFile_ = nullptr;
    std::array<ScsiDeviceEntry, kMaxDevices> devices_{};
    std::array<DeviceSlot, kMaxDevices> slots_{};
    std::array<std::uint8_t, kFullSenseBytes> sense_{};
    const MessagePair* failure_ = nullptr; // what the last failure was, beyond status bytes
    int systemError_ = 0;                  // errno of the last command's failed system call
    std::uint8_t hostStatus_ = 0;          // the kernel's host byte (DID_*)
    std::uint8_t driverStatus_ = 0;        // the kernel's driver byte (DRIVER_*)
    bool answeredAtOnce_ = false;
    bool residualReported_ = false;
    std::int32_t residual_ = 0; // as the adapter reports it
    const MessagePair* note_ = nullptr;
    bool lateReply_ = false;
    std::uint8_t lateTargetStatus_ = 0;
    std::uint8_t lateHostStatus_ = 0;
    std::uint8_t lateDriverStatus_ = 0;
    std::array<bool, kMaxDevices> modeCheckDue_{};
    std::atomic<const char*> commandInProgress_{nullptr};
    std::array<char, kLogTextBytes> logText_{};
    bool useSpti_ = false;
    std::unique_ptr<ScsiBackend> kernel_;
    std::unique_ptr<InProcessBackend> inProcess_;
    std::atomic<ScsiBackend*> runningBackend_{nullptr};
    bool fullLog_ = false;
    ExchangeSink fullLogSink_;
    ExchangeSink captureSink_;
    std::int64_t captureClockUs_ = 0;
    std::string driveSpec_;
};

} // namespace tarnvel::scsi
