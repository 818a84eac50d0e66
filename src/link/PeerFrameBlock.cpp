#include "link/PeerFrameBlock.h"

#include "common/ByteOrder.h"

#include <cstring>

namespace tarnvel::link {

namespace {

constexpr std::size_t kRateOffset = 5826;
constexpr std::size_t kBitsOffset = 5830;
constexpr std::size_t kEmphasisOffset = 5834;
constexpr std::size_t kCopyOffset = 5835;
constexpr std::size_t kIdOffset = 5836;

bool knownRate(std::uint32_t rate)
{
    for (std::uint32_t r : {32000u, 44100u, 48000u, 64000u, 88200u, 96000u})
        if (rate == r)
            return true;
    return false;
}

bool knownIdChange(std::uint32_t code)
{
    return code <= 799 || code == 888 || code == 999 || code == 1111;
}

} // namespace

std::uint32_t startNumberAsSent(std::uint32_t idChange)
{
    // A START number no tape carries (800..998) comes from a damaged program number: the
    // START itself is there, its number is not.
    if (idChange > 799 && idChange < 999)
        return 888;
    return idChange;
}

void encodePeerBlock(const PeerFrameBlock& block, std::uint8_t* out)
{
    std::memset(out, 0, kPeerBlockBytes);
    writeLe32(out, block.byteCount);
    const std::size_t n =
        block.byteCount <= kPeerPayloadBytes ? block.byteCount : kPeerPayloadBytes;
    std::memcpy(out + 4, block.payload.data(), n); // the rest of the payload stays zero
    writeLe32(out + kRateOffset, block.rate);
    writeLe32(out + kBitsOffset, block.bits);
    out[kEmphasisOffset] = block.emphasis;
    out[kCopyOffset] = block.copyBits;
    writeLe32(out + kIdOffset, block.idChange);
}

bool decodePeerBlock(const std::uint8_t* data, std::size_t size, bool wholeFrames,
                     PeerFrameBlock& block, std::string& error)
{
    if (data == nullptr || size != kPeerBlockBytes) {
        error = "a block of " + std::to_string(size) + " bytes instead of 5840";
        return false;
    }
    PeerFrameBlock b;
    b.byteCount = readLe32(data);
    const std::uint32_t limit = wholeFrames ? kPeerPayloadBytes : dat::kAudioBytes;
    if (b.byteCount > limit) {
        error = "a byte count of " + std::to_string(b.byteCount) + " (at most " +
                std::to_string(limit) + ")";
        return false;
    }
    std::memcpy(b.payload.data(), data + 4, b.byteCount);
    b.rate = readLe32(data + kRateOffset);
    b.bits = readLe32(data + kBitsOffset);
    b.emphasis = data[kEmphasisOffset];
    b.copyBits = data[kCopyOffset];
    b.idChange = startNumberAsSent(readLe32(data + kIdOffset));
    if (b.byteCount != 0) {
        if (!knownRate(b.rate)) {
            error = "a sampling rate of " + std::to_string(b.rate) + " Hz";
            return false;
        }
        if (b.bits != 12 && b.bits != 16 && b.bits != 24) {
            error = "a bit length of " + std::to_string(b.bits);
            return false;
        }
        if (b.emphasis > 1 || b.copyBits > 3) {
            error = "emphasis or copy bits out of range";
            return false;
        }
        if (!knownIdChange(b.idChange)) {
            error = "an unknown ID code " + std::to_string(b.idChange);
            return false;
        }
    }
    block = b;
    return true;
}

} // namespace tarnvel::link
