#pragma once

#include "dat/DatFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The block two running instances exchange while one plays its tape into the other's
// recorder: 5840 bytes, little-endian.
namespace tarnvel::link {

inline constexpr std::size_t kPeerBlockBytes = 5840;
inline constexpr std::size_t kPeerPayloadBytes = dat::kFrameBytes; // 5822

struct PeerFrameBlock {
    // Bytes of the payload in use; 0 marks the end of the stream.
    std::uint32_t byteCount = 0;
    // A whole frame for image duplication, else the audio bytes of one frame as played.
    std::array<std::uint8_t, kPeerPayloadBytes> payload{};
    std::uint32_t rate = 48000; // tape sampling rate in Hz
    std::uint32_t bits = 16;    // tape bits: 16, 12 (long play) or 24
    std::uint8_t emphasis = 0;  // 1: emphasised frames that the sender did not de-emphasise
    std::uint8_t copyBits = 0;  // 0..3
    std::uint32_t idChange = 0; // 0, 1..799 or 888 START, 999 SKIP, 1111 END
};

// The replies of the recording side: the peer state the sender waits on.
enum class PeerState : std::uint32_t {
    Refused = 0,
    Preparing = 1,
    Started = 2,
    ReadyForBlock = 3,
    Stopped = 4,
    Waiting = 65535, // the sender's own mark: no reply yet
};

// The ID code a block carries for a frame's `IdChange`: a START whose number no tape carries
// (800..998, a damaged program number) goes as a START without a number (888).
std::uint32_t startNumberAsSent(std::uint32_t idChange);

void encodePeerBlock(const PeerFrameBlock& block, std::uint8_t* out /* kPeerBlockBytes */);

// Checks a received block before anything uses it: the size, a byte count of at most a
// whole frame (`wholeFrames`) or the audio bytes of one frame, a rate from the tape table,
// 12, 16 or 24 bits, a flag byte of 0 or 1, copy bits up to 3 and a known ID code (a START
// numbered 800..998 is taken as one without a number). False with `error` naming the first
// fault.
bool decodePeerBlock(const std::uint8_t* data, std::size_t size, bool wholeFrames,
                     PeerFrameBlock& block, std::string& error);

} // namespace tarnvel::link
