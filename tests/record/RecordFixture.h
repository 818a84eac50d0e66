#pragma once

#include "app/Settings.h"
#include "dat/DatDrive.h"
#include "dat/RecSubcode.h"
#include "record/Recorder.h"

#include <atomic>
#include <cstdint>
#include <vector>

// The recording core without a deck: frames are built for a drive object that holds no
// device (its tracker does the bookkeeping) and kept in memory instead of going to tape.
namespace tarnvel::record::test {

class MemorySink : public FrameSink {
public:
    int putFrame(const dat::DatFrame& frame) override
    {
        frames.push_back(frame);
        if (failAfter >= 0 && static_cast<int>(frames.size()) >= failAfter)
            return failState;
        return kFine;
    }
    std::vector<dat::DatFrame> frames;
    int failAfter = -1; // the writer fails once this many frames were queued
    int failState = kWriteFailed;
};

// Little-endian helpers for building and reading sample buffers.
inline void putLe16(std::vector<std::uint8_t>& out, int v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline std::int16_t le16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

// `pairs` stereo pairs of 16-bit samples: left k, right -k (offset by `base`).
inline std::vector<std::uint8_t> ramp16(std::size_t pairs, int base = 0)
{
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k < pairs; ++k) {
        putLe16(out, base + static_cast<int>(k));
        putLe16(out, -(base + static_cast<int>(k)));
    }
    return out;
}

struct RecorderRig {
    dat::DatDrive drive{false, nullptr};
    MemorySink sink;
    std::atomic<bool> stopRequested{false};
    Recorder rec{drive, 0, sink, stopRequested};

    void begin(const RecordFormat& format, RecordSource* source = nullptr, bool loop = false,
               dat::TimeCode abs = {0, 0, 0, 0})
    {
        RecordSetup s;
        s.format = format;
        s.source = source;
        s.recordLoop = loop;
        rec.begin(s, abs);
    }
};

inline RecordFormat pcm16(int rate)
{
    return *formatFromWave(
        formats::WaveFormat::make(formats::kWaveFormatPcm, 2, static_cast<std::uint32_t>(rate), 16),
        false, false, 0);
}

} // namespace tarnvel::record::test
