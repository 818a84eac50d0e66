#include "record/RecordFormat.h"

#include "app/Settings.h"
#include "dat/DatFrame.h"

#include <cstdlib>

namespace tarnvel::record {

std::uint32_t frameAudioBytesForRate(int rate)
{
    if (rate > 48000)
        rate /= 2;
    if (rate == 44100)
        return static_cast<std::uint32_t>(dat::kAudioBytes44k);
    if (rate == 32000)
        return static_cast<std::uint32_t>(dat::kAudioBytes32k);
    return static_cast<std::uint32_t>(dat::kAudioBytes);
}

std::uint32_t RecordFormat::sourceBytesPerFrame() const
{
    if (longPlay())
        return 2 * frameAudioBytes;
    if (extended()) // a pair of frames carries frameAudioBytes / 4 sample pairs
        return frameAudioBytes / 4 * source.blockAlign / 2;
    return frameAudioBytes;
}

std::uint32_t RecordFormat::sourceBytesPerBlock(std::uint32_t frames) const
{
    // 24-bit audio fills frames in pairs: a block of whole pairs never leaves a pair half
    // filled (at 44.1 kHz a pair holds 1323 sample pairs, an odd number).
    if (extended())
        return (frames + 1) / 2 * (frameAudioBytes / 4 * source.blockAlign);
    return frames * sourceBytesPerFrame();
}

std::uint32_t RecordFormat::silenceBytes(int frames) const
{
    if (frames <= 0)
        return 0;
    // Whole sample pairs: half a 44.1 kHz frame pair is not.
    if (extended())
        return static_cast<std::uint32_t>(frames) * (frameAudioBytes / 4) / 2 * source.blockAlign;
    return static_cast<std::uint32_t>(frames) * sourceBytesPerFrame();
}

RecordFormat formatFromSettings(const app::Settings& s)
{
    RecordFormat f;
    f.datRate = s.RecSamplingFreq;
    f.bitLength = s.RecBitLen;
    std::uint16_t tag = formats::kWaveFormatPcm;
    int bits = s.RecBitLen;
    if (bits == 12) {
        bits = 16;
    } else if (bits == 24) {
        const int ext = s.ExtendedFormatBitLen;
        bits = std::abs(ext) == 32 ? 32 : 24;
        if (ext < 0) {
            tag = formats::kWaveFormatIeeeFloat;
            bits = 32;
        }
    } else if (bits != 16) {
        // Only a hand-edited file holds another length: record 16-bit frames.
        bits = 16;
        f.bitLength = 16;
    }
    f.source = formats::WaveFormat::make(tag, 2, static_cast<std::uint32_t>(f.datRate),
                                         static_cast<std::uint16_t>(bits));
    f.sampleKind = tag == formats::kWaveFormatIeeeFloat ? -32 : bits;
    f.frameAudioBytes = frameAudioBytesForRate(f.datRate);
    f.emphasis = s.RecEmphBits != 0;
    f.copyBits = s.RecCopyBits & 3;
    return f;
}

std::optional<RecordFormat> formatFromWave(const formats::WaveFormat& wave, bool longPlay,
                                           bool emphasis, int copyBits)
{
    const bool isFloat = wave.formatTag == formats::kWaveFormatIeeeFloat;
    if ((wave.formatTag != formats::kWaveFormatPcm && !isFloat) || wave.channels != 2)
        return std::nullopt;
    const int bits = wave.bitsPerSample;
    if (isFloat ? bits != 32 : (bits != 16 && bits != 24 && bits != 32))
        return std::nullopt;
    const int rate = static_cast<int>(wave.samplesPerSec);
    const int tapeRate = rate > 48000 ? rate / 2 : rate;
    if (tapeRate != 32000 && tapeRate != 44100 && tapeRate != 48000)
        return std::nullopt;
    if (wave.blockAlign != 2 * bits / 8)
        return std::nullopt;
    RecordFormat f;
    f.source = wave;
    f.datRate = rate;
    f.bitLength = bits > 16 ? 24 : 16;
    if (longPlay && bits == 16 && rate == 32000)
        f.bitLength = 12;
    f.sampleKind = isFloat ? -32 : bits;
    f.frameAudioBytes = frameAudioBytesForRate(rate);
    f.emphasis = emphasis;
    f.copyBits = copyBits & 3;
    return f;
}

int framesForSeconds(int seconds, const RecordFormat& f)
{
    if (seconds <= 0)
        return 0;
    int frames = seconds * 4 * 5 * 5 / 3;
    if (f.longPlay())
        frames /= 2;
    if (f.datRate > 48000 || f.bitLength >= 24)
        frames *= 2;
    return frames;
}

} // namespace tarnvel::record
