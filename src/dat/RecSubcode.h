#pragma once

#include "dat/DatFrame.h"
#include "dat/TimeCode.h"

#include <cstdint>
#include <ctime>
#include <optional>

// The recorder's subcode rules: the Main ID, the ABS time that runs on frame by frame, and
// ID runs (START, SKIP, END, lead-in) written over a fixed number of frames.
namespace tarnvel::dat {

// Id control (high nibble selects the ID).
inline constexpr std::uint8_t kIdControlNone = 0x00;
inline constexpr std::uint8_t kIdControlStart = 0x40;
inline constexpr std::uint8_t kIdControlSkip = 0x20;
// Id codes besides program numbers 1-799.
inline constexpr int kIdCodeNone = 0;
inline constexpr int kIdCodeEnd = 1111;
inline constexpr int kIdCodeLeadIn = 2222;
// Run lengths in frames.
inline constexpr int kStartRunFrames = 300;
inline constexpr int kSkipRunFrames = 33;
inline constexpr int kEndRunFrames = 300;
inline constexpr int kLeadInRunFrames = 108;

// Drive-side record state; the drive object owns one. `idGuardFrames` is also set by the ID
// table (it holds off ID deletion for a while after an ID was added).
struct RecSubcodeState {
    int idRunFramesLeft = 0; // frames left in the ID run being written
    int idGuardFrames = 0;
};

// Start of a recording (also of a lead-in). `absSource`: nullopt keeps the ABS time now in
// pack 1; a time (kNoValue included) is written there. `sourceRate` is doubled by the caller
// for 24-bit sources; above 48000 it is coded as a high-rate frame at half the rate.
void initRecSubcode(SubcodeBlock& block, RecSubcodeState& state, std::uint8_t idControl,
                    std::optional<TimeCode> absSource, int copy, int quantize, int sourceRate,
                    bool emphasis, int idCode);

// Starts an ID run unless one is being written (then only pack 1's parity is refreshed).
// A START with a code outside 1-799 writes no ID.
void startIdRun(SubcodeBlock& block, RecSubcodeState& state, std::uint8_t idControl, int idCode);

// After each written frame: steps the ABS time (down in the lead-in), counts the run down.
// True when an END or lead-in run has just ended.
bool advanceRecSubcode(SubcodeBlock& block, RecSubcodeState& state);

// Pack 4 becomes the date pack of `now` (local time) when enabled, else 8 zero bytes.
void setDatePack(SubcodeBlock& block, bool enabled);
void setDatePack(SubcodeBlock& block, bool enabled, const std::tm& now);

} // namespace tarnvel::dat
