#pragma once

#include <cstdint>
#include <string>

// The drive's unit status as TEST UNIT READY reports it.
namespace tarnvel::dat {

using UnitStatus = std::uint8_t;
inline constexpr UnitStatus kUnitReady = 0;
inline constexpr UnitStatus kUnitBusy = 1;
inline constexpr UnitStatus kUnitNotReady = 2;
inline constexpr UnitStatus kUnitTapeNone = 3;
inline constexpr UnitStatus kUnitTapeEjected = 4;
inline constexpr UnitStatus kUnitReset = 5;
inline constexpr UnitStatus kUnitTapeChanged = 6;
inline constexpr UnitStatus kUnitHardwareErr = 7;
// 0xF0 + sense key for the keys without a state of their own (0xF0: no sense).
inline constexpr UnitStatus kUnitSenseKeyBase = 0xF0;
inline constexpr UnitStatus kUnitUndefined = 0xFF;

// "READY", "BUSY", ... for the command log; "???" for 0xF0-0xFE.
const char* unitStatusLogName(UnitStatus status);
// The main window's status text: " Ready", ...; "" for 0xF0; " ???" for the rest.
const char* unitStatusText(UnitStatus status);
// The detail line "%02X %s" (status, sense summary) for codes outside the table; empty for
// the table's codes and for 0xF0.
std::string unitStatusDetail(UnitStatus status, const char* senseSummary);

} // namespace tarnvel::dat
