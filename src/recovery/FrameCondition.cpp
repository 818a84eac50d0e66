#include "recovery/FrameCondition.h"

#include <algorithm>
#include <cstring>

namespace tarnvel::recovery {

namespace {

constexpr std::size_t kFlagsByte = dat::kSubcodeOffset + dat::kSubIdOffset + 3;

bool isBcdByte(std::uint8_t b, std::uint8_t limit)
{
    return (b & 0x0F) <= 9 && (b >> 4) <= 9 && b < limit;
}

} // namespace

FrameCondition FrameCondition::of(const dat::DatFrame& frame)
{
    FrameCondition c;
    const std::uint8_t flags = frame.data()[kFlagsByte];
    c.left = (flags & dat::kSubIdInterpolatedLeft) != 0;
    c.right = (flags & dat::kSubIdInterpolatedRight) != 0;
    c.unreadable = isUnreadableStandIn(frame);
    return c;
}

int FrameCondition::rank() const
{
    if (unreadable)
        return 3;
    return (left ? 1 : 0) + (right ? 1 : 0);
}

bool isUnreadableStandIn(const dat::DatFrame& frame)
{
    const std::uint8_t both = dat::kSubIdInterpolatedLeft | dat::kSubIdInterpolatedRight;
    if ((frame.data()[kFlagsByte] & both) != both)
        return false;
    return std::all_of(frame.audio.begin(), frame.audio.end(),
                       [](std::uint8_t b) { return b == 0; });
}

void makeUnreadableStandIn(dat::DatFrame& frame)
{
    frame.audio.fill(0);
    setInterpolationFlags(frame, true, true);
}

void setInterpolationFlags(dat::DatFrame& frame, bool left, bool right)
{
    std::uint8_t& flags = frame.data()[kFlagsByte];
    flags = static_cast<std::uint8_t>(
        flags & ~(dat::kSubIdInterpolatedLeft | dat::kSubIdInterpolatedRight));
    if (left)
        flags |= dat::kSubIdInterpolatedLeft;
    if (right)
        flags |= dat::kSubIdInterpolatedRight;
}

bool channelsSeparable(const dat::SubcodeBlock& block)
{
    return block.mainIdFields().quantize == 0;
}

std::size_t audioPairs(const dat::SubcodeBlock& block)
{
    return dat::audioBytesOf(block.mainIdFields().sampleF) / 4;
}

void copyChannel(dat::DatFrame& to, const dat::DatFrame& from, int channel, std::size_t pairs)
{
    const std::size_t at = channel == kLeft ? 0 : 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        to.audio[4 * i + at] = from.audio[4 * i + at];
        to.audio[4 * i + at + 1] = from.audio[4 * i + at + 1];
    }
}

bool sameChannel(const dat::DatFrame& a, const dat::DatFrame& b, int channel, std::size_t pairs)
{
    const std::size_t at = channel == kLeft ? 0 : 2;
    for (std::size_t i = 0; i < pairs; ++i)
        if (a.audio[4 * i + at] != b.audio[4 * i + at] ||
            a.audio[4 * i + at + 1] != b.audio[4 * i + at + 1])
            return false;
    return true;
}

bool improveRead(dat::DatFrame& kept, const dat::DatFrame& again)
{
    const FrameCondition k = FrameCondition::of(kept);
    const FrameCondition a = FrameCondition::of(again);
    if (k.clean() || a.unreadable || (a.rank() >= 2 && !k.unreadable))
        return false;
    if (k.unreadable || !channelsSeparable(kept.subcode)) {
        if (a.rank() >= k.rank())
            return false;
        kept = again;
        return true;
    }
    const std::size_t pairs = audioPairs(kept.subcode);
    bool left = k.left;
    bool right = k.right;
    if (left && !a.left) {
        copyChannel(kept, again, kLeft, pairs);
        left = false;
    }
    if (right && !a.right) {
        copyChannel(kept, again, kRight, pairs);
        right = false;
    }
    if (left == k.left && right == k.right)
        return false;
    setInterpolationFlags(kept, left, right);
    return true;
}

int matchableAbs(const dat::SubcodeBlock& block)
{
    if ((block.subIdFlags() & dat::kSubIdPriority) != 0 && dat::isLeadInDigits(block.subIdDigits()))
        return -1;
    const auto pack = dat::lastPackWithItem(block, dat::PackItem::AbsoluteTime);
    if (!pack)
        return -1;
    const dat::TimeCode t = pack->time();
    if (!isBcdByte(t.hours, 0xA0) || !isBcdByte(t.minutes, 0x60) || !isBcdByte(t.seconds, 0x60) ||
        !isBcdByte(t.frame, 0x34))
        return -1;
    return dat::absToFrames(t);
}

} // namespace tarnvel::recovery
