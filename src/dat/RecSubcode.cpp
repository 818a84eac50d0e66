#include "dat/RecSubcode.h"

#include <algorithm>

namespace tarnvel::dat {

namespace {

// Pack 1 carries the ABS time while recording: block bytes 8-15, time at 11-14.
constexpr std::size_t kRecAbsPack = 1;
constexpr std::size_t kRecAbsTime = kRecAbsPack * kPackBytes + 3;
constexpr std::size_t kDatePackIndex = 4;

std::uint8_t* recAbsPack(SubcodeBlock& block)
{
    return block.packData(kRecAbsPack);
}

} // namespace

void initRecSubcode(SubcodeBlock& block, RecSubcodeState& state, std::uint8_t idControl,
                    std::optional<TimeCode> absSource, int copy, int quantize, int sourceRate,
                    bool emphasis, int idCode)
{
    const TimeCode kept = TimeCode::fromBytes(&block.bytes[kRecAbsTime]);
    block.bytes.fill(0);
    (absSource ? *absSource : kept).toBytes(&block.bytes[kRecAbsTime]);

    int formatId = 0;
    if (sourceRate > 48000) {
        formatId = 1;
        sourceRate /= 2;
    }
    const int sampleF = sourceRate == 44100 ? 1 : sourceRate == 32000 ? 2 : 0;
    block.bytes[kMainIdOffset] =
        static_cast<std::uint8_t>((formatId << 6) | ((emphasis ? 1 : 0) << 4) | (sampleF << 2));
    block.bytes[kMainIdOffset + 1] =
        static_cast<std::uint8_t>(((quantize & 3) << 6) | ((copy & 3) << 2));

    state.idRunFramesLeft = 0;
    startIdRun(block, state, idControl, idCode);
}

void startIdRun(SubcodeBlock& block, RecSubcodeState& state, std::uint8_t idControl, int idCode)
{
    std::uint8_t* pack = recAbsPack(block);
    if (state.idRunFramesLeft == 0) {
        state.idGuardFrames = 0;
        std::uint8_t* sub = &block.bytes[kSubIdOffset];
        sub[0] = 0;
        sub[1] = 0;
        sub[2] = 0xAA;
        sub[3] = 0;
        if (idCode == kIdCodeEnd) {
            sub[0] = kSubIdPriority;
            sub[2] = 0xEE;
            state.idRunFramesLeft = kEndRunFrames;
        } else if (idCode == kIdCodeLeadIn) {
            sub[0] = kSubIdPriority;
            sub[2] = 0xBB;
            state.idRunFramesLeft = kLeadInRunFrames;
        } else if ((idControl & 0xF0) == kIdControlStart) {
            if (idCode >= 1 && idCode <= kMaxProgramNumber) {
                sub[0] = kSubIdPriority | kSubIdStart;
                sub[1] = static_cast<std::uint8_t>((idCode / 100) << 4);
                sub[2] = intToBcd(idCode % 100);
                state.idRunFramesLeft = kStartRunFrames;
            }
        } else if ((idControl & 0xF0) == kIdControlSkip) {
            sub[0] = kSubIdSkip; // no PRIORITY: reads back as 999
            state.idRunFramesLeft = kSkipRunFrames;
        }
        sub[1] |= 1; // number of packs
        pack[0] = static_cast<std::uint8_t>(0x20 + ((sub[1] >> 4) & 7));
        pack[1] = sub[2];
        pack[2] = 0xAA;
    }
    packParity(pack);
}

bool advanceRecSubcode(SubcodeBlock& block, RecSubcodeState& state)
{
    std::uint8_t* pack = recAbsPack(block);
    std::uint8_t* sub = &block.bytes[kSubIdOffset];
    const TimeCode t = TimeCode::fromBytes(&block.bytes[kRecAbsTime]);
    (sub[2] == 0xBB ? prevFrame(t) : nextFrame(t)).toBytes(&block.bytes[kRecAbsTime]);
    pack[0] = static_cast<std::uint8_t>(0x20 + (pack[0] & 0x0F));

    bool runEnded = false;
    if (state.idRunFramesLeft > 0 && --state.idRunFramesLeft == 0) {
        runEnded = sub[2] == 0xBB || sub[2] == 0xEE;
        sub[0] = 0;
        sub[1] = 1;
        sub[2] = 0xAA;
        pack[0] = 0x20;
        pack[1] = 0xAA;
    }
    packParity(pack);
    return runEnded;
}

void setDatePack(SubcodeBlock& block, bool enabled, const std::tm& now)
{
    std::uint8_t* p = block.packData(kDatePackIndex);
    if (!enabled) {
        std::fill(p, p + kPackBytes, std::uint8_t{0});
        return;
    }
    p[0] = static_cast<std::uint8_t>(0x50 + std::clamp(now.tm_wday, 0, 6) + 1);
    p[1] = intToBcd(now.tm_year % 100);
    p[2] = intToBcd(now.tm_mon + 1);
    p[3] = intToBcd(now.tm_mday);
    p[4] = intToBcd(now.tm_hour);
    p[5] = intToBcd(now.tm_min);
    p[6] = intToBcd(now.tm_sec);
    packParity(p);
}

void setDatePack(SubcodeBlock& block, bool enabled)
{
    std::tm now{};
    if (enabled) {
        const std::time_t t = std::time(nullptr);
        localtime_r(&t, &now);
    }
    setDatePack(block, enabled, now);
}

} // namespace tarnvel::dat
