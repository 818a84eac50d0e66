#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarnvel::scsi {

// One found device; all fields zero when the slot is empty.
struct ScsiDeviceEntry {
    std::uint8_t hostAdapter = 0; // host number (kernel devices) or adapter of an in-process target
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::uint8_t deviceType = 0;    // INQUIRY byte 0 bits 0-4
    std::uint8_t driveType = 0;     // always 0 here: tapes have no drive-letter type
    char pathCharacter = 0;         // '?' for ASPI-mode and in-process devices; the N of /dev/nstN
    std::array<char, 9> vendor{};   // INQUIRY bytes 8-15, NUL-terminated
    std::array<char, 17> product{}; // INQUIRY bytes 16-31
    std::array<char, 5> revision{}; // INQUIRY bytes 32-35

    std::string vendorText() const { return vendor.data(); }
    std::string productText() const { return product.data(); }
    std::string revisionText() const { return revision.data(); }
};

// One host adapter (ASPI mode and in-process targets; none in SPTI mode).
struct HostAdapterEntry {
    std::uint8_t hostNumber = 0;       // the number device entries carry in `hostAdapter`
    std::uint8_t ownScsiId = 0;        // the kernel does not report the initiator's id: 0
    std::array<char, 17> identifier{}; // driver name the kernel reports, NUL-terminated
    std::uint16_t alignmentMask = 0;   // SG_IO takes any buffer alignment
    std::uint8_t flags = 0;
    std::uint8_t maxTargets = 0; // not reported by the kernel: 0
    std::uint32_t maxTransferLength = 0;
};

// Fills an entry's identification strings from INQUIRY data (at least 36 bytes); trailing
// blanks are kept as the device sends them, other non-printable bytes become blanks.
void setIdentification(ScsiDeviceEntry& entry, const std::uint8_t* inquiry);

} // namespace tarnvel::scsi
