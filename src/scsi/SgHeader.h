#pragma once

#include "scsi/ScsiBackend.h"

#include <cstddef>
#include <cstdint>
#include <scsi/sg.h>

// Building an sg_io_hdr for a command and mapping the kernel's answer to status bytes,
// shared by the two SG_IO back-ends.
namespace tarnvel::scsi {

// Sense buffer the kernel may fill (descriptor-format sense can be longer than 18 bytes).
inline constexpr std::size_t kSgSenseBufferBytes = 32;

// SG_SCSI_RESET flag that keeps the kernel from escalating a device reset to target, bus and
// host resets (which would hit other devices); older system headers lack it.
#ifdef SG_SCSI_RESET_NO_ESCALATE
inline constexpr int kSgResetNoEscalate = SG_SCSI_RESET_NO_ESCALATE;
#else
inline constexpr int kSgResetNoEscalate = 0x100;
#endif

void prepareSgHeader(sg_io_hdr_t& hdr, const ScsiCommand& command, std::uint8_t* senseBuffer,
                     int packId);

// Maps a completed sg_io_hdr: target status as is, the host status to its ASPI counterpart
// (and raw, with the driver status), the sense bytes (converted to fixed format when the
// device sent descriptor format), the residual as reported. A data-in command that ends GOOD
// without delivering every byte is a failure (the tail of the buffer holds nothing the device
// sent), unless its length is an allocation length. A reset shown by the host status or by a
// unit attention marks the result.
void mapSgResult(const sg_io_hdr_t& hdr, const std::uint8_t* senseBuffer, ScsiResult& result);

// A failed system call on the device: an error without target status, naming the cause.
void mapSystemError(int negativeErrno, ScsiResult& result);

// A write() of the header that the sg driver refused. `compatBuild`: this is a 32-bit program,
// whose header a 64-bit kernel before 5.6 refuses with EINVAL (it expects its own layout).
void mapHeaderWriteError(int negativeErrno, bool compatBuild, ScsiResult& result);

// Fixed-format sense (18 bytes) from what the device returned, fixed or descriptor format.
void senseToFixed(const std::uint8_t* sense, std::size_t length, std::uint8_t* fixed18);

// Linux host status (DID_*) to the host adapter status values the log names.
std::uint8_t mapHostStatus(std::uint8_t linuxHostStatus);

} // namespace tarnvel::scsi
