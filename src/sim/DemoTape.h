#pragma once

#include "sim/Cassette.h"

#include <cstdint>
#include <string>

namespace tarnvel::sim {

// Where things lie on the demo tape (tape frame indices).
struct DemoLayout {
    static constexpr std::int64_t kLeadInFrames = 108;      // lead-in ID run, ABS counting down
    static constexpr std::int64_t kFirstProgram = 174;      // ABS 00h00m02s00, as after a lead-in
    static constexpr std::int64_t kProgramFrames = 667;     // 20 seconds each
    static constexpr std::int64_t kSkipOffset = 400;        // SKIP ID 12 s into program 2
    static constexpr std::int64_t kEndFrames = 300;         // END ID run
    static constexpr std::int64_t programStart(int program) // 1..3
    {
        return kFirstProgram + (program - 1) * kProgramFrames;
    }
    static constexpr std::int64_t kSkipFrame = kFirstProgram + kProgramFrames + kSkipOffset;
    static constexpr std::int64_t kEndStart = kFirstProgram + 3 * kProgramFrames;
    static constexpr std::int64_t kRecordedEnd = kEndStart + kEndFrames;
};

// Records the demo tape onto a never recorded cassette, as the program itself would: a
// lead-in, three programs of generated music at 48 kHz with START IDs 1, 2 and 3 and date
// packs, a SKIP ID in program 2 and an END ID; a few frames carry interpolation faults.
bool recordDemoTape(Cassette& cassette, std::string& error);

// A new 60-minute cassette file holding the demo tape (built under a temporary name, named when
// complete).
bool createDemoCassette(const std::string& path, std::string& error);

} // namespace tarnvel::sim
