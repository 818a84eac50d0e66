#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnvel::scsi {

// Data phase direction, with the values the transport's callers pass (ASPI SRB_DIR_*).
enum class DataDirection : std::uint8_t { None = 0, In = 8, Out = 16 };

// SCSI status bytes a target returns.
inline constexpr std::uint8_t kTargetGood = 0x00;
inline constexpr std::uint8_t kTargetCheckCondition = 0x02;
inline constexpr std::uint8_t kTargetBusy = 0x08;

// What a target answers to one command: the SCSI status byte and, with CHECK CONDITION,
// fixed-format sense data (at least the 14 bytes the transport keeps).
struct TargetReply {
    std::uint8_t status = kTargetGood;
    std::array<std::uint8_t, 18> sense{};
    std::uint32_t transferred = 0; // bytes actually moved in the data phase
};

// What a target did with an abort request.
enum class AbortAnswer {
    Taken,      // a command is running and ends early
    Idle,       // no command is running (not started yet, or already ended)
    Unsupported // this target cannot abort
};

// An in-process SCSI target (the simulated drive). The transport's in-process back-end lists
// every registered target as a device and sends each command to `command`.
// Thread: one command at a time (the transport's callers serialise commands); `abort` may
// come from another thread while a command runs.
class ScsiTarget {
public:
    virtual ~ScsiTarget() = default;

    // Host adapter, target id and LUN the target shows in the device table.
    virtual std::uint8_t hostAdapter() const = 0;
    virtual std::uint8_t targetId() const = 0;

    virtual TargetReply command(const std::uint8_t* cdb, std::size_t cdbLength,
                                DataDirection direction, std::uint8_t* buffer,
                                std::uint32_t length) = 0;

    // Asks a running command to end early (a long motion); it then ends with an abort status.
    virtual AbortAnswer abort() { return AbortAnswer::Unsupported; }
};

} // namespace tarnvel::scsi
