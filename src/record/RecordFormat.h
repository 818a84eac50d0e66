#pragma once

#include "formats/WaveFormat.h"

#include <cstdint>
#include <optional>

namespace tarnvel::app {
struct Settings;
}

// The format of a recording: what the source delivers and what goes to tape.
namespace tarnvel::record {

struct RecordFormat {
    formats::WaveFormat source;           // the source's samples (PCM or float, stereo)
    int datRate = 48000;                  // the tape's rate; above 48000 the frames are high-rate
    int bitLength = 16;                   // 12 (long play at 32000 Hz), 16 or 24
    int sampleKind = 16;                  // source samples: 16, 24, 32, or -32 for float
    std::uint32_t frameAudioBytes = 5760; // audio bytes of one tape frame: 5760, 5292 or 3840
    bool emphasis = false;
    int copyBits = 0; // 0 permit, 1 reserved, 2 prohibit, 3 once

    // Long play: 12-bit frames at 32000 Hz, each holding two blocks of source audio.
    bool longPlay() const { return datRate == 32000 && bitLength == 12; }
    bool extended() const { return bitLength == 24; }
    // The rate the Main ID is built from: doubled for 24-bit frame pairs.
    int subcodeRate() const { return extended() ? datRate * 2 : datRate; }
    // Source bytes that make one tape frame on average (a 24-bit block of one frame's worth
    // of words makes two frames; at 44.1 kHz that is not a whole number of sample pairs).
    std::uint32_t sourceBytesPerFrame() const;
    // The size of a buffer handed to the recorder that makes `frames` tape frames: for 24-bit
    // audio whole frame pairs (rounded up), so that no frame of a pair is left short.
    std::uint32_t sourceBytesPerBlock(std::uint32_t frames) const;
    // Source bytes of `frames` tape frames of silence.
    std::uint32_t silenceBytes(int frames) const;

    bool operator==(const RecordFormat&) const = default;
};

// Audio bytes of one tape frame at a rate (rates above 48000 are halved first).
std::uint32_t frameAudioBytesForRate(int rate);

// The sound input's format from the settings: RecSamplingFreq, RecBitLen (12 captured as 16;
// 24 captured with ExtendedFormatBitLen's bits, as float when it is negative), RecEmphBits,
// RecCopyBits.
RecordFormat formatFromSettings(const app::Settings& settings);

// The format of a WAV file of the list: 16-bit files as they are (long play only at 32000 Hz
// when asked for), deeper files as 24-bit frame pairs. Nothing for a format that cannot be
// recorded (not stereo PCM/float, or a rate without a frame size).
std::optional<RecordFormat> formatFromWave(const formats::WaveFormat& wave, bool longPlay,
                                           bool emphasis, int copyBits);

// Tape frames for a number of seconds: 100 every 3 seconds, halved in long play, doubled
// for 24-bit and for rates above 48000 Hz.
int framesForSeconds(int seconds, const RecordFormat& format);

} // namespace tarnvel::record
