#include "engine/ExtendedFormat.h"

#include "common/ByteOrder.h"

#include <bit>

namespace tarnvel::engine {

bool isLowByteFrame(const std::uint8_t* audio, std::uint32_t frameAudioBytes)
{
    unsigned highBits = 0;
    for (std::uint32_t i = 1; i < frameAudioBytes; i += 2)
        highBits |= audio[i];
    return highBits == 0;
}

PairOrder pairOrder(const std::uint8_t* first, const std::uint8_t* second,
                    std::uint32_t frameAudioBytes)
{
    const bool firstLow = isLowByteFrame(first, frameAudioBytes);
    const bool secondLow = isLowByteFrame(second, frameAudioBytes);
    if (!firstLow && secondLow)
        return PairOrder::InOrder;
    if (firstLow && !secondLow)
        return PairOrder::Reversed;
    return PairOrder::Unknown;
}

std::uint32_t extendedBlockBytes(std::uint32_t frameAudioBytes, int bitLen)
{
    const std::uint32_t samples = frameAudioBytes / 2;
    return extendedBitLen(bitLen) == kExtendedBits24 ? samples * 3 : samples * 4;
}

void assembleExtended(const std::uint8_t* upperFrame, const std::uint8_t* lowFrame,
                      std::uint32_t frameAudioBytes, int bitLen, std::uint8_t* out)
{
    const std::uint32_t samples = frameAudioBytes / 2;
    switch (extendedBitLen(bitLen)) {
    case kExtendedBits32:
        for (std::uint32_t i = 0; i < samples; ++i, out += 4) {
            out[0] = 0;
            out[1] = lowFrame[2 * i];
            out[2] = upperFrame[2 * i];
            out[3] = upperFrame[2 * i + 1];
        }
        break;
    case kExtendedFloat32:
        for (std::uint32_t i = 0; i < samples; ++i, out += 4) {
            const auto word = static_cast<std::int16_t>(readLe16(upperFrame + 2 * i));
            // A 24-bit integer is exact in a float's 24-bit mantissa, and so is the scaling.
            const float value = static_cast<float>(word * 256 + lowFrame[2 * i]) * 0x1p-23f;
            writeLe32(out, std::bit_cast<std::uint32_t>(value));
        }
        break;
    default:
        for (std::uint32_t i = 0; i < samples; ++i, out += 3) {
            out[0] = lowFrame[2 * i];
            out[1] = upperFrame[2 * i];
            out[2] = upperFrame[2 * i + 1];
        }
        break;
    }
}

} // namespace tarnvel::engine
