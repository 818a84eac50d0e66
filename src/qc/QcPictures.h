#pragma once

#include "qc/ArchiveSummary.h"
#include "qc/WaveAnalysis.h"

#include <cstdint>
#include <string>
#include <vector>

// The pictures of the quality-control page, drawn with Cairo into PNG files. They hold no
// text: the page sets the axis labels beside them, so that they stay readable at any width.
namespace tarnvel::qc {

// A mark on an axis: where (0..1 from the left, or from the bottom) and its label.
struct Tick {
    double at = 0;
    std::string label;
};

// Round ABS times ("00h01m30s") across a file, about `wanted` of them.
std::vector<Tick> timeTicks(const FileTimeline& timeline, int wanted);
// Round frequencies ("5 kHz") from 0 up to `nyquist` Hz, at most `wanted` of them.
std::vector<Tick> frequencyTicks(double nyquist, int wanted);

// Channel colours as 0xRRGGBB: the waveform of a channel and its error marks.
std::uint32_t channelColour(int channel, int channels);
std::uint32_t channelTint(int channel, int channels);
inline constexpr std::uint32_t kStartIdColour = 0x1A7F37;
inline constexpr std::uint32_t kSkipIdColour = 0xB35C00;

// The layout of the waveform picture: per channel a marker row for its error frames above a
// lane with the waveform.
struct WaveLayout {
    int width = 1200;
    int markerRow = 10;
    int lane = 80;
    int height(int channels) const { return channels * (markerRow + lane); }
    int markerTop(int channel) const { return channel * (markerRow + lane); }
    int laneTop(int channel) const { return markerTop(channel) + markerRow; }
    // The picture column of a position 0..1, and the columns a frame of `frames` covers.
    int column(double fraction) const;
};

// The waveform overview with the error frames of `file` marked in their channel's colour and
// its IDs as lines across all lanes.
bool drawWaveform(const std::string& pngPath, const WaveOverview& overview,
                  const ArchivedFile& file, const FileTimeline& timeline,
                  const std::vector<Tick>& ticks, const WaveLayout& layout, std::string& error);

struct SpectrumLayout {
    int width = 1200;
    int height = 256;
    double floorDb = -140; // darkest
    double topDb = -20;    // brightest
};
// The spectrogram, 0 Hz at the bottom to half the rate at the top.
bool drawSpectrogram(const std::string& pngPath, const Spectrogram& spectrogram,
                     const std::vector<Tick>& timeTicks, const std::vector<Tick>& frequencyTicks,
                     const SpectrumLayout& layout, std::string& error);

} // namespace tarnvel::qc
