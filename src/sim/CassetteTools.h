#pragma once

#include "dat/TimeCode.h"
#include "sim/Cassette.h"

#include <cstdint>
#include <string>
#include <vector>

// What the sim commands do to cassette files: make them, damage them, describe them.
namespace tarnvel::sim {

// A recorded cassette holding the frames of a tape image from the beginning of the tape, byte
// for byte (so a copy of a damaged tape keeps its interpolation flags). `minutes` 0 takes 60
// minutes, or the image's length rounded up when that is longer. The cassette is built under a
// temporary name and takes its name only when complete.
bool createCassetteFromImage(const std::string& path, int minutes, const std::string& imagePath,
                             std::uint32_t& framesCopied, std::string& error);

// "A-B" or "A" (frame indices).
bool parseFrameRange(const std::string& text, std::uint32_t& first, std::uint32_t& last);

// Adds one fault to a cassette that no drive holds.
bool addCassetteFault(const std::string& path, const Fault& fault, std::string& error);

// An ID as the tape carries it, at the first frame of its run.
struct CassetteId {
    enum class Kind { LeadIn, Start, Skip, End };
    Kind kind = Kind::Start;
    std::int64_t frame = 0;
    int program = 0; // START: 1-799, or 0 for a START without number
    dat::TimeCode abs = dat::kNoValue;
    bool hasDate = false;
    std::uint8_t date[6] = {}; // BCD year, month, day, hour, minute, second
};

struct CassetteSummary {
    int minutes = 0;
    std::int64_t lengthFrames = 0;
    std::int64_t recordedFrames = 0;
    std::int64_t recordedEnd = 0; // one past the last recorded frame
    int stretches = 0;            // runs of recorded frames
    std::vector<CassetteId> ids;
    std::vector<Fault> faults;
};

CassetteSummary summarizeCassette(const Cassette& cassette);
bool summarizeCassette(const std::string& path, CassetteSummary& summary, std::string& error);
// The lines `sim info` prints.
std::vector<std::string> cassetteInfoLines(const CassetteSummary& summary);

} // namespace tarnvel::sim
