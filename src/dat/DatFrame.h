#pragma once

#include "dat/TimeCode.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

// The 5822-byte DAT frame as the drive reads and writes it: 5760 audio bytes, then the
// 62-byte subcode block (seven 8-byte packs at block bytes 0-55, Sub ID at 56-59, Main ID at
// 60-61). Every type here is a plain byte array with named accessors: no padding, alignment
// 1, so a std::vector<DatFrame> is a contiguous run of frames as they lie in an image file.
namespace tarnvel::dat {

inline constexpr std::size_t kFrameBytes = 5822;
inline constexpr std::size_t kAudioBytes = 5760;    // 1440 stereo pairs at 48 kHz
inline constexpr std::size_t kAudioBytes44k = 5292; // 1323 pairs at 44.1 kHz
inline constexpr std::size_t kAudioBytes32k = 3840; // 960 pairs at 32 kHz
inline constexpr std::size_t kSubcodeOffset = 5760; // frame offset of the subcode block
inline constexpr std::size_t kSubcodeBytes = 62;
inline constexpr std::size_t kPackCount = 7;
inline constexpr std::size_t kPackBytes = 8;
inline constexpr std::size_t kSubIdOffset = 56;  // block offset of Sub ID byte 0
inline constexpr std::size_t kMainIdOffset = 60; // block offset of Main ID byte 0

// Sub ID byte 0 flags.
inline constexpr std::uint8_t kSubIdPriority = 0x80; // program-number digits are valid
inline constexpr std::uint8_t kSubIdStart = 0x40;
inline constexpr std::uint8_t kSubIdSkip = 0x20;
inline constexpr std::uint8_t kSubIdToc = 0x10;
// Sub ID byte 3 flags (set by the drive when reading).
inline constexpr std::uint8_t kSubIdInterpolatedLeft = 0x40;
inline constexpr std::uint8_t kSubIdInterpolatedRight = 0x20;

// Pack item codes.
enum class PackItem : std::uint8_t {
    Empty = 0,
    ProgramTime = 1,
    AbsoluteTime = 2,
    RunningTime = 3,
    TableOfContents = 4,
    Date = 5,
    CatalogueNumber = 6,
    Isrc = 7,
    ProBinary = 8,
};

// Name of a pack item as the subcode dump shows it; "" for item 0 and codes 9-15.
const char* packItemName(std::uint8_t item);

// XOR of pack bytes 0-6; `packParity` stores it in byte 7.
std::uint8_t computePackParity(const std::uint8_t* pack);
void packParity(std::uint8_t* pack);

// One 8-byte subcode pack (a copy; the block holds the bytes).
struct SubcodePack {
    std::array<std::uint8_t, kPackBytes> bytes{};

    std::uint8_t item() const { return bytes[0] >> 4; }
    // Time packs (items 1-3): program-number digits as hundreds × 256 + tens × 16 + units,
    // the index byte, and the time in bytes 3-6.
    std::uint16_t programDigits() const
    {
        return static_cast<std::uint16_t>(((bytes[0] & 0x0F) << 8) | bytes[1]);
    }
    std::uint8_t index() const { return bytes[2]; }
    TimeCode time() const { return TimeCode::fromBytes(&bytes[3]); }
    bool parityOk() const { return computePackParity(bytes.data()) == bytes[7]; }
};

// Main ID fields, each a 2-bit value.
struct MainIdFields {
    int formatId = 0; // 0 standard; 1 high-rate frame
    int emphasis = 0; // 0 off; 1 on
    int sampleF = 0;  // 0 48000, 1 44100, 2 32000
    int nofCh = 0;
    int quantize = 0; // 0 16-bit; 1 12-bit (long play)
    int trPitch = 0;
    int copy = 0; // see kCopy*
    int pack = 0;
};

inline constexpr int kCopyPermit = 0;
inline constexpr int kCopyReserved = 1;
inline constexpr int kCopyProhibit = 2;
inline constexpr int kCopyOnce = 3;

// Sample rate coded by SampleF; 0 for the unused code 3.
int sampleRateOf(int sampleF);
// Audio bytes of a frame at the rate coded by SampleF (the rest of the 5760 is padding).
std::size_t audioBytesOf(int sampleF);

// Program-number digit codes (hundreds × 256 + tens × 16 + units).
inline constexpr std::uint16_t kPNoDigitsNone = 0x0AA;
inline constexpr std::uint16_t kPNoDigitsLeadIn = 0x0BB;
inline constexpr std::uint16_t kPNoDigitsEnd = 0x0EE;
inline constexpr std::uint16_t kPNoDigitsStart = 0x888; // START without PRIORITY
inline constexpr std::uint16_t kPNoDigitsSkip = 0x999;  // SKIP without PRIORITY
inline constexpr int kMaxProgramNumber = 799;

// True when all three digits are 0-9 (no none/lead-in/END code).
bool isDecimalProgramDigits(std::uint16_t digits);
// Lead-in (tens and units 0xBB) and END (0xEE) codes, whatever the hundreds digit.
inline bool isLeadInDigits(std::uint16_t digits)
{
    return (digits & 0xFF) == 0xBB;
}
inline bool isEndDigits(std::uint16_t digits)
{
    return (digits & 0xFF) == 0xEE;
}

class SubcodeBlock {
public:
    std::array<std::uint8_t, kSubcodeBytes> bytes{};

    static SubcodeBlock fromBytes(const std::uint8_t* p);

    std::uint8_t* packData(std::size_t i) { return &bytes[i * kPackBytes]; }
    const std::uint8_t* packData(std::size_t i) const { return &bytes[i * kPackBytes]; }
    SubcodePack pack(std::size_t i) const;
    void setPack(std::size_t i, const SubcodePack& p);

    std::uint8_t subId(std::size_t i) const { return bytes[kSubIdOffset + i]; }
    std::uint8_t mainId(std::size_t i) const { return bytes[kMainIdOffset + i]; }
    std::uint8_t subIdFlags() const { return bytes[kSubIdOffset]; }
    // Program-number digits as the Sub ID carries them (bytes 57-58), codes included.
    std::uint16_t subIdDigits() const
    {
        return static_cast<std::uint16_t>(((bytes[57] >> 4) << 8) | bytes[58]);
    }
    MainIdFields mainIdFields() const;
};

// The program-number digits a frame stands for: none (0x0AA) by default, 999 for SKIP,
// 888 for START (START wins), and the Sub ID digits when PRIORITY is set (PRIORITY wins).
std::uint16_t decodeProgramDigits(const SubcodeBlock& block);

// ABS time of the first pack with item 2 (the one the recorder steps), if any.
std::optional<TimeCode> absTimeOf(const SubcodeBlock& block);
// ABS time as a reader decodes it: the last pack with item 2 counts; kNoValue without one.
// A frame whose decoded hours byte is 0xAA has no ABS time.
TimeCode decodedAbsTime(const SubcodeBlock& block);
// The last pack carrying `item` (the last one counts when several do), if any.
std::optional<SubcodePack> lastPackWithItem(const SubcodeBlock& block, PackItem item);

// Address of bytes 3-6 (the time) of the first pack with item code 2, or nullptr.
std::uint8_t* findAbsPack(SubcodeBlock& block);
const std::uint8_t* findAbsPack(const SubcodeBlock& block);

struct DatFrame {
    std::array<std::uint8_t, kAudioBytes> audio{};
    SubcodeBlock subcode;

    // The 5822 bytes as they go to the drive or a file.
    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(this); }
    const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(this); }
    static DatFrame fromBytes(const std::uint8_t* p);

    // 16-bit audio word i (0..2879), little-endian as the sound device takes it.
    std::uint16_t audioWord(std::size_t i) const
    {
        return static_cast<std::uint16_t>(audio[2 * i] | (audio[2 * i + 1] << 8));
    }
};

static_assert(sizeof(SubcodePack) == kPackBytes);
static_assert(sizeof(SubcodeBlock) == kSubcodeBytes && alignof(SubcodeBlock) == 1);
static_assert(sizeof(DatFrame) == kFrameBytes && alignof(DatFrame) == 1);
static_assert(offsetof(DatFrame, subcode) == kSubcodeOffset);
static_assert(std::is_standard_layout_v<DatFrame> && std::is_trivially_copyable_v<DatFrame>);

} // namespace tarnvel::dat
