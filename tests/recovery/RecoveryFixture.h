#pragma once

#include "common/ByteOrder.h"
#include "common/MessageSink.h"
#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"
#include "formats/ImageReader.h"
#include "formats/ImageWriter.h"
#include "recovery/FrameCondition.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Tapes for the recovery tests: a recording of changing audio (a tone and noise, never the
// same twice), its frames with the recorder's subcode, and images of it read with damage.
namespace tarnvel::recovery::test {

// Sample n of a channel of the recording.
inline std::int16_t recordingSample(std::uint64_t n, int channel)
{
    std::uint64_t x = n * 2 + static_cast<std::uint64_t>(channel) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    const double tone = 6000.0 * std::sin(static_cast<double>(n) * (channel == 0 ? 0.031 : 0.047));
    return static_cast<std::int16_t>(tone + static_cast<double>(x % 4001) - 2000.0);
}

// What one read of a stretch of frames gave.
struct Damage {
    std::uint32_t first = 0, last = 0;
    char kind = 'L'; // 'L', 'R', 'B' (both channels concealed), 'U' (unreadable: a stand-in)
};

// Frames of a tape: `count` frames of the recording from sample `firstSample`, ABS time from
// `firstAbs`, START IDs at the frames in `starts` (numbered 1, 2, ...); `silence` (first frame,
// frames) inserts digital silence there, as a copy that paused.
struct TapeLayout {
    std::uint32_t count = 0;
    std::uint64_t firstSample = 0;
    int firstAbs = 0;
    std::vector<std::uint32_t> starts{0};
    std::uint32_t silenceAt = 0, silenceFrames = 0;
    std::int64_t skipAfterSilence = 0; // samples of the recording left out after the pause
};

inline std::vector<dat::DatFrame> tapeFrames(const TapeLayout& t)
{
    std::vector<dat::DatFrame> frames;
    dat::DatFrame frame;
    dat::RecSubcodeState state;
    dat::initRecSubcode(frame.subcode, state, dat::kIdControlNone, dat::framesToAbs(t.firstAbs), 0,
                        0, 48000, false, dat::kIdCodeNone);
    std::uint64_t n = t.firstSample;
    int program = 0;
    for (std::uint32_t i = 0; i < t.count; ++i) {
        for (std::uint32_t s : t.starts)
            if (s == i)
                dat::startIdRun(frame.subcode, state, dat::kIdControlStart, ++program);
        const bool silent =
            t.silenceFrames > 0 && i >= t.silenceAt && i < t.silenceAt + t.silenceFrames;
        if (t.silenceFrames > 0 && i == t.silenceAt + t.silenceFrames)
            n = static_cast<std::uint64_t>(static_cast<std::int64_t>(n) + t.skipAfterSilence);
        for (std::size_t k = 0; k < 1440; ++k) {
            for (int c = 0; c < 2; ++c) {
                const std::int16_t v = silent ? 0 : recordingSample(n, c);
                writeLe16(&frame.audio[4 * k + 2 * static_cast<std::size_t>(c)],
                          static_cast<std::uint16_t>(v));
            }
            if (!silent)
                ++n;
        }
        frames.push_back(frame);
        dat::advanceRecSubcode(frame.subcode, state);
    }
    return frames;
}

// A read of the frames with damage: a concealed channel holds a constant (as a drive's
// interpolation would, anything but the recording) and is flagged; an unreadable frame is a
// stand-in.
inline std::vector<dat::DatFrame> damaged(std::vector<dat::DatFrame> frames,
                                          const std::vector<Damage>& damage)
{
    for (const Damage& d : damage)
        for (std::uint32_t i = d.first; i <= d.last && i < frames.size(); ++i) {
            dat::DatFrame& f = frames[i];
            const FrameCondition was = FrameCondition::of(f);
            if (d.kind == 'U') {
                makeUnreadableStandIn(f);
                continue;
            }
            const bool left = d.kind == 'L' || d.kind == 'B';
            const bool right = d.kind == 'R' || d.kind == 'B';
            for (std::size_t k = 0; k < 1440; ++k) {
                if (left)
                    writeLe16(&f.audio[4 * k], 0x1357);
                if (right)
                    writeLe16(&f.audio[4 * k + 2], 0x2468);
            }
            setInterpolationFlags(f, was.left || left, was.right || right);
        }
    return frames;
}

inline void writeImage(const std::string& path, const std::vector<dat::DatFrame>& frames)
{
    CollectingMessageSink sink;
    formats::ImageWriter w(sink);
    ASSERT_TRUE(w.create(path, "test"));
    for (const dat::DatFrame& f : frames)
        ASSERT_EQ(w.append(f), dat::kFrameBytes);
    ASSERT_TRUE(w.finalise(false));
}

inline std::vector<dat::DatFrame> readImage(const std::string& path)
{
    CollectingMessageSink sink;
    formats::ImageReader r(sink);
    std::vector<dat::DatFrame> frames;
    EXPECT_TRUE(r.open(path, false)) << path;
    dat::DatFrame f;
    while (r.readStoredFrame(f))
        frames.push_back(f);
    EXPECT_EQ(frames.size(), r.frameCount());
    return frames;
}

} // namespace tarnvel::recovery::test
