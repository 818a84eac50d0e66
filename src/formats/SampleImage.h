#pragma once

#include "common/MessageSink.h"
#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tarnvel::formats {

// A small demo tape built with the recorder's subcode rules: 48 kHz 16-bit tones (1 kHz
// left, 500 Hz right), ABS time from 00h00m00s00, a START ID for program 1 at the first
// frame and for program 2 halfway, and a fixed recording date. Deterministic, so that tests,
// benchmarks and demonstrations can rely on its bytes.
class SampleTape {
public:
    explicit SampleTape(std::uint32_t frames);
    // The next frame; call `frames` times.
    const dat::DatFrame& next();

private:
    std::uint32_t frames_;
    std::uint32_t index_ = 0;
    dat::DatFrame frame_;
    dat::RecSubcodeState state_;
};

// Writes SampleTape(frames) as an image with the comment "Tarnvel sample image". A `stop` flag,
// when given, is read before each frame: once set, the image is closed with the frames written so
// far (its header matching them) and false is returned.
bool writeSampleImage(const std::string& fileName, std::uint32_t frames, MessageSink& sink,
                      const std::atomic<bool>* stop = nullptr);

} // namespace tarnvel::formats
