#pragma once

#include "formats/WaveFormat.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The quality-control figures and pictures of one WAV file, made in one pass over its
// samples: loudness, loudness range and true peak (by libebur128), sample peak, DC offset,
// clipped runs, digital silence, a min/max overview per picture column and a spectrogram
// (by FFTW). The caller feeds blocks in order; nothing is kept of the audio itself.
namespace tarnvel::qc {

// Digital silence (every channel exactly zero) is listed from this length on.
inline constexpr double kSilenceSeconds = 2.0;
// Consecutive samples at full scale that count as clipped: a single one (or two) is what a
// recording normalised to 0 dBFS holds at its peaks.
inline constexpr std::uint32_t kClipRunSamples = 3;
// Positions listed per file (counts are always complete).
inline constexpr std::size_t kMaxListedStretches = 100;
// Levels of the spectrogram and of absent peaks: "minus infinity" in the figures.
inline constexpr double kFloorDb = -140.0;

struct ChannelFigures {
    double samplePeak = 0; // 1.0 = full scale
    double truePeak = 0;   // 1.0 = 0 dBTP
    double dcOffset = 0;   // mean sample value, 1.0 = full scale
    std::uint64_t clippedSamples = 0;
    std::uint32_t clipRuns = 0;
};

// A stretch of sample frames; `channel` -1 for all channels.
struct SampleStretch {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    int channel = -1;
};

struct AudioFigures {
    formats::WaveFormat format;
    std::uint64_t sampleFrames = 0;
    double loudness = kFloorDb; // integrated, LUFS; kFloorDb when nothing passes the gate
    double loudnessRange = 0;   // LU
    std::vector<ChannelFigures> channels;
    std::vector<SampleStretch> silences; // digital silence longer than kSilenceSeconds
    std::uint32_t silenceCount = 0;      // all of them, also those not listed
    std::vector<SampleStretch> clipRuns; // the first kMaxListedStretches, in order
    double seconds() const
    {
        return format.samplesPerSec ? static_cast<double>(sampleFrames) / format.samplesPerSec : 0;
    }
};

// Minimum and maximum per picture column and channel, 1.0 = full scale.
struct WaveOverview {
    int columns = 0;
    int channels = 0;
    std::vector<float> minimum; // [column * channels + channel]
    std::vector<float> maximum;
};

// Mean power per picture column and frequency bin (bin k is k * rate / fftSize Hz), in dB
// relative to a full-scale sine, averaged over the channels.
struct Spectrogram {
    int columns = 0;
    int bins = 0;
    double binHz = 0;
    std::vector<float> level; // [column * bins + bin]
};

struct AnalysisOptions {
    int columns = 1200;           // picture columns (overview and spectrogram)
    int fftSize = 1024;           // spectrogram window (Hann)
    int maxWindowsPerColumn = 16; // a long file's column averages this many windows at most
    const std::atomic<bool>* stop = nullptr; // set: reading files ends early ("interrupted")
};

class WaveAnalysis {
public:
    WaveAnalysis();
    ~WaveAnalysis();
    WaveAnalysis(const WaveAnalysis&) = delete;
    WaveAnalysis& operator=(const WaveAnalysis&) = delete;

    // Prepares for `sampleFrames` frames of `format` (the pictures' columns need the length
    // in advance). False with `error` for a format it cannot measure.
    bool start(const formats::WaveFormat& format, std::uint64_t sampleFrames,
               const AnalysisOptions& options, std::string& error);
    // The next `frames` interleaved frames, 1.0 = full scale. Frames beyond the announced
    // length are ignored.
    void add(const float* samples, std::size_t frames);
    // Completes the figures; frames announced but never added count as silence.
    void finish();

    const AudioFigures& figures() const { return figures_; }
    const WaveOverview& overview() const { return overview_; }
    const Spectrogram& spectrogram() const { return spectrogram_; }

private:
    void addSpectrumSamples(const float* samples, std::size_t frames);
    void computeWindow(std::size_t window);
    void endClipRun(int channel);
    void endSilence();

    struct Fft;
    std::unique_ptr<Fft> fft_;
    struct Meter;
    std::unique_ptr<Meter> meter_;

    AnalysisOptions options_;
    AudioFigures figures_;
    WaveOverview overview_;
    Spectrogram spectrogram_;
    int channels_ = 0;
    std::uint64_t position_ = 0;
    float clipLevel_ = 1.0f;
    std::vector<double> sums_;
    std::vector<std::uint64_t> clipStart_, clipLength_;
    std::uint64_t silenceStart_ = 0, silenceLength_ = 0;

    // Spectrogram windows: start frame and column, in order of start.
    struct Window {
        std::uint64_t start;
        int column;
    };
    std::vector<Window> windows_;
    std::size_t nextWindow_ = 0;
    std::vector<int> windowsInColumn_;
    std::vector<double> power_;  // [column * bins + bin], summed
    std::vector<float> history_; // frames from historyStart_ on, interleaved
    std::uint64_t historyStart_ = 0;
};

// Converts `frames` interleaved frames of WAV data in `format` (PCM 8/16/24/32-bit, float
// 32-bit) into floats, 1.0 = full scale.
void decodeSamples(const std::uint8_t* data, std::size_t frames, const formats::WaveFormat& format,
                   float* out);

// One file written in parts (the first and its continuations) read and measured as one.
struct FileAnalysis {
    bool ok = false;
    std::string error;
    AudioFigures figures;
    WaveOverview overview;
    Spectrogram spectrogram;
};
FileAnalysis analyseWaveFiles(const std::vector<std::string>& parts,
                              const AnalysisOptions& options = {});

} // namespace tarnvel::qc
