#pragma once

#include <cstdint>

// The Linux SCSI layer's own status codes in an sg reply: the host byte (what the adapter and
// its driver saw: no connection, a transport error, a reset) and the driver byte. The log
// shows them raw with their names, since the host adapter values of the command log know only
// a few of them; a drive check shows the names too.
namespace tarnvel::scsi {

class TextBuilder;

// Host codes (DID_*).
inline constexpr std::uint8_t kDidOk = 0x00;
inline constexpr std::uint8_t kDidNoConnect = 0x01;
inline constexpr std::uint8_t kDidBusBusy = 0x02;
inline constexpr std::uint8_t kDidTimeOut = 0x03;
inline constexpr std::uint8_t kDidBadTarget = 0x04;
inline constexpr std::uint8_t kDidAbort = 0x05;
inline constexpr std::uint8_t kDidParity = 0x06;
inline constexpr std::uint8_t kDidError = 0x07;
inline constexpr std::uint8_t kDidReset = 0x08;
inline constexpr std::uint8_t kDidBadIntr = 0x09;
inline constexpr std::uint8_t kDidPassthrough = 0x0A;
inline constexpr std::uint8_t kDidSoftError = 0x0B;
inline constexpr std::uint8_t kDidImmRetry = 0x0C;
inline constexpr std::uint8_t kDidRequeue = 0x0D;
inline constexpr std::uint8_t kDidTransportDisrupted = 0x0E;
inline constexpr std::uint8_t kDidTransportFailfast = 0x0F;
inline constexpr std::uint8_t kDidTargetFailure = 0x10;
inline constexpr std::uint8_t kDidNexusFailure = 0x11;
inline constexpr std::uint8_t kDidAllocFailure = 0x12;
inline constexpr std::uint8_t kDidMediumError = 0x13;
inline constexpr std::uint8_t kDidTransportMarginal = 0x14;

// Driver codes (DRIVER_*, low nibble) and the suggestions older kernels add (high nibble).
inline constexpr std::uint8_t kDriverOk = 0x00;
inline constexpr std::uint8_t kDriverTimeout = 0x06;
inline constexpr std::uint8_t kDriverSense = 0x08;
inline constexpr std::uint8_t kDriverStatusMask = 0x0F;

// "DID_ERROR"; "DID_0x2A" style text is not given: unknown codes answer "DID_?".
const char* hostStatusName(std::uint8_t host);
// A short reason a user can act on ("the drive is not connected or was switched off"), or
// empty for DID_OK. `answeredAtOnce`: the reply came long before the command's time-out, which
// turns a DID_TIME_OUT into a selection that nobody answered.
const char* hostStatusReason(std::uint8_t host, bool answeredAtOnce = false);
// "DRIVER_SENSE"; unknown codes answer "DRIVER_?".
const char* driverStatusName(std::uint8_t driver);
// "SUGGEST_RETRY" for the high nibble, or empty when it is 0.
const char* driverSuggestionName(std::uint8_t driver);

// True when the host and driver bytes say more than "fine" or "sense data follows".
bool kernelStatusWorthShowing(std::uint8_t host, std::uint8_t driver);

// Appends "Host status: 0x07 DID_ERROR (transport error on the adapter)\nDriver status: 0x00
// DRIVER_OK" (the suggestion after the driver name when there is one). Never allocates.
void appendKernelStatus(TextBuilder& text, std::uint8_t host, std::uint8_t driver,
                        bool answeredAtOnce = false);

} // namespace tarnvel::scsi
