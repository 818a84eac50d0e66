#pragma once

#include <cstddef>
#include <cstdint>

// The status byte every transport operation returns, with the values the drive layer and
// the command log know (ASPI status values), and the start-up codes of the transport.
namespace tarnvel::scsi {

inline constexpr std::uint8_t kSsPending = 0x00;
inline constexpr std::uint8_t kSsComp = 0x01;
inline constexpr std::uint8_t kSsAborted = 0x02;
inline constexpr std::uint8_t kSsErr = 0x04;
inline constexpr std::uint8_t kSsInvalidCmd = 0x80;
inline constexpr std::uint8_t kSsInvalidHa = 0x81;
inline constexpr std::uint8_t kSsNoDevice = 0x82;
inline constexpr std::uint8_t kSsInvalidSrb = 0xE0;
inline constexpr std::uint8_t kSsBufferAlign = 0xE1;
inline constexpr std::uint8_t kSsIllegalMode = 0xE2;
inline constexpr std::uint8_t kSsNoAspi = 0xE3;
inline constexpr std::uint8_t kSsFailedInit = 0xE4;
inline constexpr std::uint8_t kSsAspiIsBusy = 0xE5;
inline constexpr std::uint8_t kSsBufferTooBig = 0xE6;
inline constexpr std::uint8_t kSsMismatchedComponents = 0xE7;
inline constexpr std::uint8_t kSsNoAdapters = 0xE8;
inline constexpr std::uint8_t kSsInsufficientResources = 0xE9;

// `Status` after construction: 1, or a negative start-up code.
inline constexpr int kStartupOk = 1;
inline constexpr int kStartupAspiNotFound = -1;

// Name of a status byte ("" for kSsComp, "Unknown Error" for values outside the table).
const char* statusText(std::uint8_t status);

// What a failed open or call on a device node means, and what to do about it (no rights,
// busy, the tape driver's refusal of raw commands); the system's text for other errors,
// written into `buffer`. Never allocates.
const char* explainSystemError(int error, char* buffer, std::size_t size);
// Why the kernel refused a reset: kernels before 3.19 refuse the no-escalation flag with
// EINVAL (before they look at the caller's rights), EAGAIN comes while the adapter is in its
// own error recovery; the system's text otherwise. Never allocates.
const char* explainResetError(int error, char* buffer, std::size_t size);

// Wanted peripheral device types of a scan.
inline constexpr std::uint8_t kTypeDirectAccess = 0;
inline constexpr std::uint8_t kTypeSequentialAccess = 1;
inline constexpr std::uint8_t kTypeWorm = 4;
inline constexpr std::uint8_t kTypeCdRom = 5;
inline constexpr std::uint8_t kTypeAny = 0xFF;

// Host adapter status values the transport sets itself.
inline constexpr std::uint8_t kHaStatusOk = 0x00;
inline constexpr std::uint8_t kHaStatusTimeout = 0x09;
inline constexpr std::uint8_t kHaStatusBusReset = 0x0E;
inline constexpr std::uint8_t kHaStatusParity = 0x0F;
inline constexpr std::uint8_t kHaStatusSelectionTimeout = 0x11;
inline constexpr std::uint8_t kHaStatusDataOverrun = 0x12; // data overrun/underrun
inline constexpr std::uint8_t kHaStatusUnknown = 0xFF;     // a kernel code with no counterpart

} // namespace tarnvel::scsi
