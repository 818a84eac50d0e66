#include "dat/DatFrame.h"

#include <cstring>

namespace tarnvel::dat {

const char* packItemName(std::uint8_t item)
{
    static constexpr const char* kNames[] = {"",
                                             "Program Time",
                                             "Absolute Time",
                                             "Running Time / Pro R-Time",
                                             "Table of Contents",
                                             "Date",
                                             "CataloguNumber",
                                             "International Standard Recording Code",
                                             "Pro Binary"};
    return item < std::size(kNames) ? kNames[item] : "";
}

std::uint8_t computePackParity(const std::uint8_t* pack)
{
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < kPackBytes - 1; ++i)
        x ^= pack[i];
    return x;
}

void packParity(std::uint8_t* pack)
{
    pack[kPackBytes - 1] = computePackParity(pack);
}

int sampleRateOf(int sampleF)
{
    switch (sampleF) {
    case 0:
        return 48000;
    case 1:
        return 44100;
    case 2:
        return 32000;
    default:
        return 0;
    }
}

std::size_t audioBytesOf(int sampleF)
{
    switch (sampleF) {
    case 1:
        return kAudioBytes44k;
    case 2:
        return kAudioBytes32k;
    default:
        return kAudioBytes;
    }
}

bool isDecimalProgramDigits(std::uint16_t digits)
{
    return ((digits >> 8) & 0x0F) <= 9 && ((digits >> 4) & 0x0F) <= 9 && (digits & 0x0F) <= 9 &&
           digits <= 0x0FFF;
}

SubcodeBlock SubcodeBlock::fromBytes(const std::uint8_t* p)
{
    SubcodeBlock b;
    std::memcpy(b.bytes.data(), p, kSubcodeBytes);
    return b;
}

SubcodePack SubcodeBlock::pack(std::size_t i) const
{
    SubcodePack p;
    std::memcpy(p.bytes.data(), packData(i), kPackBytes);
    return p;
}

void SubcodeBlock::setPack(std::size_t i, const SubcodePack& p)
{
    std::memcpy(packData(i), p.bytes.data(), kPackBytes);
}

MainIdFields SubcodeBlock::mainIdFields() const
{
    const std::uint8_t b0 = bytes[kMainIdOffset];
    const std::uint8_t b1 = bytes[kMainIdOffset + 1];
    return {(b0 >> 6) & 3, (b0 >> 4) & 3, (b0 >> 2) & 3, b0 & 3,
            (b1 >> 6) & 3, (b1 >> 4) & 3, (b1 >> 2) & 3, b1 & 3};
}

std::uint16_t decodeProgramDigits(const SubcodeBlock& block)
{
    const std::uint8_t flags = block.subIdFlags();
    std::uint16_t digits = kPNoDigitsNone;
    if (flags & kSubIdSkip)
        digits = kPNoDigitsSkip;
    if (flags & kSubIdStart)
        digits = kPNoDigitsStart;
    if (flags & kSubIdPriority)
        digits = block.subIdDigits();
    return digits;
}

const std::uint8_t* findAbsPack(const SubcodeBlock& block)
{
    for (std::size_t i = 0; i < kPackCount; ++i) {
        const std::uint8_t* p = block.packData(i);
        if ((p[0] >> 4) == static_cast<std::uint8_t>(PackItem::AbsoluteTime))
            return p + 3;
    }
    return nullptr;
}

std::uint8_t* findAbsPack(SubcodeBlock& block)
{
    return const_cast<std::uint8_t*>(findAbsPack(static_cast<const SubcodeBlock&>(block)));
}

std::optional<TimeCode> absTimeOf(const SubcodeBlock& block)
{
    const std::uint8_t* t = findAbsPack(block);
    if (t == nullptr)
        return std::nullopt;
    return TimeCode::fromBytes(t);
}

TimeCode decodedAbsTime(const SubcodeBlock& block)
{
    const std::optional<SubcodePack> p = lastPackWithItem(block, PackItem::AbsoluteTime);
    return p ? p->time() : kNoValue;
}

std::optional<SubcodePack> lastPackWithItem(const SubcodeBlock& block, PackItem item)
{
    std::optional<SubcodePack> found;
    for (std::size_t i = 0; i < kPackCount; ++i) {
        if ((block.packData(i)[0] >> 4) == static_cast<std::uint8_t>(item))
            found = block.pack(i);
    }
    return found;
}

DatFrame DatFrame::fromBytes(const std::uint8_t* p)
{
    DatFrame f;
    std::memcpy(f.data(), p, kFrameBytes);
    return f;
}

} // namespace tarnvel::dat
