#pragma once

#include "common/Message.h"
#include "scsi/ScsiDevice.h"
#include "scsi/ScsiTarget.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the transport asks of one kind of device access (ASPI-mode SG_IO, SPTI-mode SG_IO,
// in-process targets). One file per back-end; the transport owns the device table.
namespace tarnvel::scsi {

struct ExchangeSession;

// Sense bytes kept per command: the 14 of `SenseData` plus the field-replaceable-unit code
// and the sense-key-specific bytes, for the log.
inline constexpr std::size_t kSenseBytes = 14;
inline constexpr std::size_t kFullSenseBytes = 18;

struct ScsiCommand {
    DataDirection direction = DataDirection::None;
    const std::uint8_t* cdb = nullptr;
    std::size_t cdbLength = 0; // 1-16
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    std::uint32_t timeoutMs = 0;
};

struct ScsiResult {
    std::uint8_t status = 0; // a status byte (ScsiStatus.h)
    std::uint8_t haStatus = 0;
    std::uint8_t targetStatus = 0;
    std::array<std::uint8_t, kFullSenseBytes> sense{}; // fixed format
    // Set when the status bytes alone cannot tell what went wrong (time-out, system error).
    const MessagePair* failure = nullptr;
    int systemError = 0; // errno of a failed system call on the device
    // The kernel's own host and driver bytes (DID_*, DRIVER_*), raw; `answeredAtOnce`: the
    // reply came long before the command's time-out.
    std::uint8_t hostStatus = 0;
    std::uint8_t driverStatus = 0;
    bool answeredAtOnce = false;
    // The residual as the adapter reports it (some adapters do not), for commands with a data
    // phase that the kernel answered.
    bool residualReported = false;
    std::int32_t residual = 0;
    // The drive was reset (by us, by the kernel's error handling, or it says so in its sense
    // data): whatever mode it was switched to may be lost.
    bool deviceReset = false;
    // A further line for the log (what a reset did, a late reply, the drive gone).
    const MessagePair* note = nullptr;
    // A reply of a command given up at its deadline that came since: its status bytes.
    bool lateReply = false;
    std::uint8_t lateTargetStatus = 0;
    std::uint8_t lateHostStatus = 0;
    std::uint8_t lateDriverStatus = 0;
    // A replayed command: when it was recorded and how long it took (microseconds), so that a
    // replay's own exchange shows the times of the recording. Negative otherwise.
    std::int64_t recordedAtUs = -1;
    std::int64_t recordedTookUs = -1;
};

// What a device reset did to the command it was meant to stop.
enum class AbortOutcome : int {
    None,                 // no reset was made
    Stopped,              // the drive reports the command as stopped
    StoppedBehindBridge,  // the same, from a drive behind a USB bridge, which may finish first
    CompletedBeforeReset, // the command completed all the same
    NoReply,              // the command had not ended by its deadline
};

// Abort requests for the running command, shared by the transport and a back-end.
struct AbortState {
    std::atomic<bool> requested{false}; // set by `abort`; a back-end clears it when it acts
    std::atomic<int> refusedError{0};   // errno of a device reset the kernel refused
    std::atomic<AbortOutcome> outcome{AbortOutcome::None}; // set when a reset was made
};

class ScsiBackend {
public:
    virtual ~ScsiBackend() = default;

    // Called for every matching device with its entry and the back-end's handle for it; a
    // false answer (the table is full) ends the scan. Closes what an earlier scan opened.
    using AddDevice = std::function<bool(const ScsiDeviceEntry&, int handle)>;
    virtual void scan(std::uint8_t wantedType, const AddDevice& add) = 0;

    // Adapter entries found by the last scan.
    virtual std::vector<HostAdapterEntry> hostAdapters() const { return {}; }

    // Runs one command to its end. `abort.requested` may be set by another thread before or
    // while it runs; a back-end that can abort clears it when it acts on it. Allocates
    // nothing.
    virtual void execute(int handle, const ScsiCommand& command, AbortState& abort,
                         ScsiResult& result) = 0;

    // Asks a running command to end early (called from another thread after
    // `abort.requested` was set). Default: the back-end polls the flag itself or cannot abort.
    virtual void abortRunning() {}
    // True when acting on `abort.requested` means a reset of the drive (its whole state), not
    // the end of one command.
    virtual bool abortResetsDevice() const { return false; }

    // Lets go of a device that is not in use: its nodes are closed and the claim on it ends,
    // so that other programs can use the drive. Not while a command given up at its deadline
    // has not answered. The next command opens it again.
    virtual void release(int /*handle*/) {}
    // True while a command given up at its deadline has not answered and the device is still
    // there: no command is sent to it meanwhile.
    virtual bool waitingForRecovery(int /*handle*/) const { return false; }

    // Why the device cannot be used now (a user text), or empty when it can.
    virtual std::string deviceProblem(int /*handle*/) const { return {}; }

    // Bus reset behind a device; on failure `errorText` tells why.
    virtual bool resetBus(int handle, std::string& errorText) = 0;

    virtual bool isSpti() const { return false; }

    // Device node of a handle as the user names it (empty for in-process targets).
    virtual std::string devicePath(int /*handle*/) const { return {}; }
    // The node commands go through when it differs from `devicePath` (a tape's generic node).
    virtual std::string commandPath(int /*handle*/) const { return {}; }
    // The group that owns the device's node (the one that failed to open, if one did).
    virtual std::string nodeGroup(int /*handle*/) const { return {}; }

    // A back-end that replays a recorded exchange: the session it answers from (its header
    // names the replay in `replayedFrom`). Null for real devices.
    virtual const ExchangeSession* recordedSession() const { return nullptr; }
};

// Status byte for a target reply: GOOD is success, anything else an error that keeps the
// target status and the sense bytes.
void mapTargetReply(const TargetReply& reply, ScsiResult& result);

} // namespace tarnvel::scsi
