#include "qc/WaveAnalysis.h"

#include "common/ByteOrder.h"
#include "formats/FlacFileWriter.h"
#include "formats/WaveFileReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ebur128.h>
#include <fftw3.h>
#include <limits>
#include <mutex>

namespace tarnvel::qc {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxChannels = 8;
constexpr std::size_t kReadFrames = 16384;

// FFTW's planner is not thread-safe (executing a plan is): files may be measured side by side.
std::mutex& plannerMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

struct WaveAnalysis::Fft {
    explicit Fft(int size) : n(size), window(static_cast<std::size_t>(size))
    {
        in = fftwf_alloc_real(static_cast<std::size_t>(n));
        out = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
        {
            std::lock_guard lock(plannerMutex());
            plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
        }
        for (int i = 0; i < n; ++i) // periodic Hann: its coherent gain is exactly 1/2
            window[static_cast<std::size_t>(i)] =
                static_cast<float>(0.5 * (1.0 - std::cos(2.0 * kPi * i / n)));
    }
    ~Fft()
    {
        {
            std::lock_guard lock(plannerMutex());
            fftwf_destroy_plan(plan);
        }
        fftwf_free(in);
        fftwf_free(out);
    }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    int n;
    std::vector<float> window;
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
};

struct WaveAnalysis::Meter {
    explicit Meter(ebur128_state* s) : state(s) {}
    ~Meter() { ebur128_destroy(&state); }
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;
    ebur128_state* state;
};

WaveAnalysis::WaveAnalysis() = default;
WaveAnalysis::~WaveAnalysis() = default;

bool WaveAnalysis::start(const formats::WaveFormat& format, std::uint64_t sampleFrames,
                         const AnalysisOptions& options, std::string& error)
{
    if (format.channels < 1 || format.channels > kMaxChannels) {
        error = "unsupported number of channels: " + std::to_string(format.channels);
        return false;
    }
    if (format.samplesPerSec < 1000 || format.samplesPerSec > 768000) {
        error = "unsupported sampling rate: " + std::to_string(format.samplesPerSec);
        return false;
    }
    if (options.columns < 1 || options.fftSize < 16 || (options.fftSize & (options.fftSize - 1)) ||
        options.maxWindowsPerColumn < 1) {
        error = "invalid analysis options";
        return false;
    }
    ebur128_state* state = ebur128_init(format.channels, format.samplesPerSec,
                                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) {
        error = "the loudness meter could not be set up";
        return false;
    }
    meter_ = std::make_unique<Meter>(state);
    fft_ = std::make_unique<Fft>(options.fftSize);

    options_ = options;
    channels_ = format.channels;
    position_ = 0;
    figures_ = AudioFigures{};
    figures_.format = format;
    figures_.sampleFrames = sampleFrames;
    figures_.channels.assign(static_cast<std::size_t>(channels_), ChannelFigures{});
    const int bits = format.bitsPerSample;
    clipLevel_ =
        format.isFloat()
            ? 1.0f
            : static_cast<float>((std::ldexp(1.0, bits - 1) - 1.0) / std::ldexp(1.0, bits - 1));
    sums_.assign(static_cast<std::size_t>(channels_), 0.0);
    clipStart_.assign(static_cast<std::size_t>(channels_), 0);
    clipLength_.assign(static_cast<std::size_t>(channels_), 0);
    silenceStart_ = 0;
    silenceLength_ = 0;

    const auto columns = static_cast<int>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(options.columns, sampleFrames)));
    overview_ = WaveOverview{};
    overview_.columns = columns;
    overview_.channels = channels_;
    const auto cells = static_cast<std::size_t>(columns) * static_cast<std::size_t>(channels_);
    overview_.minimum.assign(cells, std::numeric_limits<float>::infinity());
    overview_.maximum.assign(cells, -std::numeric_limits<float>::infinity());

    // Spectrogram windows: within a wide column, up to maxWindowsPerColumn spread evenly over
    // it; a column narrower than a window gets one window centred on it.
    const auto n = static_cast<std::uint64_t>(options.fftSize);
    spectrogram_ = Spectrogram{};
    spectrogram_.columns = columns;
    spectrogram_.bins = options.fftSize / 2 + 1;
    spectrogram_.binHz = static_cast<double>(format.samplesPerSec) / options.fftSize;
    windows_.clear();
    windowsInColumn_.assign(static_cast<std::size_t>(columns), 0);
    const std::uint64_t total = sampleFrames;
    for (int c = 0; c < columns; ++c) {
        const std::uint64_t s0 = total * static_cast<std::uint64_t>(c) / columns;
        const std::uint64_t s1 = total * static_cast<std::uint64_t>(c + 1) / columns;
        const std::uint64_t length = s1 - s0;
        const std::size_t before = windows_.size();
        if (total <= n) {
            windows_.push_back({0, c});
        } else if (length >= n) {
            const std::uint64_t m =
                std::clamp<std::uint64_t>(length / n, 1, options.maxWindowsPerColumn);
            for (std::uint64_t k = 0; k < m; ++k)
                windows_.push_back(
                    {m == 1 ? s0 + (length - n) / 2 : s0 + k * (length - n) / (m - 1), c});
        } else {
            const std::uint64_t centre = s0 + length / 2;
            windows_.push_back({std::min(centre > n / 2 ? centre - n / 2 : 0, total - n), c});
        }
        windowsInColumn_[static_cast<std::size_t>(c)] = static_cast<int>(windows_.size() - before);
    }
    nextWindow_ = 0;
    power_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(spectrogram_.bins),
                  0.0);
    history_.clear();
    historyStart_ = 0;
    return true;
}

void WaveAnalysis::add(const float* samples, std::size_t frames)
{
    if (!meter_ || position_ >= figures_.sampleFrames)
        return;
    frames = static_cast<std::size_t>(
        std::min<std::uint64_t>(frames, figures_.sampleFrames - position_));
    if (frames == 0)
        return;
    ebur128_add_frames_float(meter_->state, samples, frames);
    addSpectrumSamples(samples, frames);

    const std::uint64_t total = figures_.sampleFrames;
    const auto columns = static_cast<std::uint64_t>(overview_.columns);
    const auto ch = static_cast<std::size_t>(channels_);
    std::size_t done = 0;
    while (done < frames) {
        // One stretch inside one picture column at a time.
        const std::uint64_t at = position_ + done;
        const std::uint64_t column = at * columns / total;
        // First frame of the next column: the smallest s with s * columns / total > column.
        const std::uint64_t next = ((column + 1) * total + columns - 1) / columns;
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(next - at, frames - done));
        const float* block = samples + done * ch;
        for (std::size_t c = 0; c < ch; ++c) {
            float lo = overview_.minimum[column * ch + c];
            float hi = overview_.maximum[column * ch + c];
            double sum = 0;
            std::uint64_t& run = clipLength_[c];
            for (std::size_t i = 0; i < count; ++i) {
                const float x = block[i * ch + c];
                lo = std::min(lo, x);
                hi = std::max(hi, x);
                sum += x;
                if (x >= clipLevel_ || x <= -1.0f) {
                    if (run++ == 0)
                        clipStart_[c] = at + i;
                } else if (run != 0) {
                    endClipRun(static_cast<int>(c));
                }
            }
            overview_.minimum[column * ch + c] = lo;
            overview_.maximum[column * ch + c] = hi;
            sums_[c] += sum;
        }
        for (std::size_t i = 0; i < count; ++i) {
            bool zero = true;
            for (std::size_t c = 0; c < ch; ++c)
                zero = zero && block[i * ch + c] == 0.0f;
            if (zero) {
                if (silenceLength_++ == 0)
                    silenceStart_ = at + i;
            } else if (silenceLength_ != 0) {
                endSilence();
            }
        }
        done += count;
    }
    position_ += frames;
}

void WaveAnalysis::endClipRun(int channel)
{
    const auto c = static_cast<std::size_t>(channel);
    const std::uint64_t length = clipLength_[c];
    clipLength_[c] = 0;
    if (length < kClipRunSamples)
        return;
    ChannelFigures& f = figures_.channels[c];
    f.clippedSamples += length;
    ++f.clipRuns;
    if (figures_.clipRuns.size() < kMaxListedStretches)
        figures_.clipRuns.push_back({clipStart_[c], length, channel});
}

void WaveAnalysis::endSilence()
{
    const std::uint64_t length = silenceLength_;
    silenceLength_ = 0;
    if (static_cast<double>(length) <= kSilenceSeconds * figures_.format.samplesPerSec)
        return;
    ++figures_.silenceCount;
    if (figures_.silences.size() < kMaxListedStretches)
        figures_.silences.push_back({silenceStart_, length, -1});
}

void WaveAnalysis::addSpectrumSamples(const float* samples, std::size_t frames)
{
    const auto ch = static_cast<std::size_t>(channels_);
    const std::uint64_t from = position_;
    const std::uint64_t to = position_ + frames;
    const auto n = static_cast<std::uint64_t>(options_.fftSize);
    if (nextWindow_ >= windows_.size())
        return;
    // The history holds the frames from the next window's start up to `from`.
    if (history_.empty())
        historyStart_ = std::max(from, windows_[nextWindow_].start);
    if (historyStart_ < to) {
        const std::uint64_t skip = historyStart_ > from ? historyStart_ - from : 0;
        history_.insert(history_.end(), samples + skip * ch, samples + frames * ch);
    }
    while (nextWindow_ < windows_.size() && windows_[nextWindow_].start + n <= to)
        computeWindow(nextWindow_++);
    const std::uint64_t keep = nextWindow_ < windows_.size() ? windows_[nextWindow_].start : to;
    const std::uint64_t held = history_.size() / ch;
    if (keep >= historyStart_ + held) {
        history_.clear();
        historyStart_ = keep;
    } else if (keep > historyStart_) {
        history_.erase(history_.begin(),
                       history_.begin() + static_cast<std::ptrdiff_t>((keep - historyStart_) * ch));
        historyStart_ = keep;
    }
}

void WaveAnalysis::computeWindow(std::size_t index)
{
    const Window& w = windows_[index];
    const auto ch = static_cast<std::size_t>(channels_);
    const auto n = static_cast<std::size_t>(options_.fftSize);
    const std::size_t held = history_.size() / ch;
    const std::size_t offset = static_cast<std::size_t>(w.start - historyStart_);
    const auto bins = static_cast<std::size_t>(spectrogram_.bins);
    double* power = power_.data() + static_cast<std::size_t>(w.column) * bins;
    for (std::size_t c = 0; c < ch; ++c) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = offset + i;
            // Past the end of a file shorter than a window: zeros.
            fft_->in[i] = k < held ? history_[k * ch + c] * fft_->window[i] : 0.0f;
        }
        fftwf_execute(fft_->plan);
        for (std::size_t b = 0; b < bins; ++b) {
            const double re = fft_->out[b][0];
            const double im = fft_->out[b][1];
            power[b] += re * re + im * im;
        }
    }
}

void WaveAnalysis::finish()
{
    if (!meter_)
        return;
    // Frames announced but not delivered (a file cut short): silence.
    if (position_ < figures_.sampleFrames) {
        std::vector<float> zeros(kReadFrames * static_cast<std::size_t>(channels_), 0.0f);
        while (position_ < figures_.sampleFrames)
            add(zeros.data(), kReadFrames);
    }
    while (nextWindow_ < windows_.size())
        computeWindow(nextWindow_++);
    for (int c = 0; c < channels_; ++c)
        if (clipLength_[static_cast<std::size_t>(c)] != 0)
            endClipRun(c);
    if (silenceLength_ != 0)
        endSilence();
    for (std::size_t i = 0; i < overview_.minimum.size(); ++i) {
        if (overview_.minimum[i] > overview_.maximum[i]) // a column without frames (empty file)
            overview_.minimum[i] = overview_.maximum[i] = 0.0f;
    }

    double value = 0;
    if (ebur128_loudness_global(meter_->state, &value) == EBUR128_SUCCESS && std::isfinite(value))
        figures_.loudness = std::max(kFloorDb, value);
    if (ebur128_loudness_range(meter_->state, &value) == EBUR128_SUCCESS && std::isfinite(value))
        figures_.loudnessRange = value;
    for (int c = 0; c < channels_; ++c) {
        ChannelFigures& f = figures_.channels[static_cast<std::size_t>(c)];
        if (ebur128_sample_peak(meter_->state, static_cast<unsigned>(c), &value) == EBUR128_SUCCESS)
            f.samplePeak = value;
        if (ebur128_true_peak(meter_->state, static_cast<unsigned>(c), &value) == EBUR128_SUCCESS)
            f.truePeak = value;
        if (figures_.sampleFrames > 0)
            f.dcOffset =
                sums_[static_cast<std::size_t>(c)] / static_cast<double>(figures_.sampleFrames);
    }

    // Mean power per column; a full-scale sine reads 0 dB (Hann window: amplitude N/4).
    const auto bins = static_cast<std::size_t>(spectrogram_.bins);
    const double n = options_.fftSize;
    const double scale = 16.0 / (n * n);
    spectrogram_.level.assign(power_.size(), static_cast<float>(kFloorDb));
    for (std::size_t col = 0; col < static_cast<std::size_t>(spectrogram_.columns); ++col) {
        const double count = windowsInColumn_[col] * static_cast<double>(channels_);
        for (std::size_t b = 0; b < bins; ++b) {
            const double p = power_[col * bins + b] * scale / std::max(1.0, count);
            spectrogram_.level[col * bins + b] =
                static_cast<float>(p > 0 ? std::max(kFloorDb, 10.0 * std::log10(p)) : kFloorDb);
        }
    }
    meter_.reset();
}

void decodeSamples(const std::uint8_t* data, std::size_t frames, const formats::WaveFormat& format,
                   float* out)
{
    const std::size_t count = frames * format.channels;
    switch (format.isFloat() ? 0 : format.bitsPerSample) {
    case 0:
        for (std::size_t i = 0; i < count; ++i) {
            float v;
            const std::uint32_t bits = readLe32(data + 4 * i);
            std::memcpy(&v, &bits, sizeof v);
            out[i] = v;
        }
        break;
    case 8:
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<float>(static_cast<int>(data[i]) - 128) * (1.0f / 128.0f);
        break;
    case 16:
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<float>(static_cast<std::int16_t>(readLe16(data + 2 * i))) *
                     (1.0f / 32768.0f);
        break;
    case 24:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = data + 3 * i;
            const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                     static_cast<std::uint32_t>(p[1]) << 16 |
                                                     static_cast<std::uint32_t>(p[2]) << 24) >>
                           8;
            out[i] = static_cast<float>(v) * (1.0f / 8388608.0f);
        }
        break;
    default: // 32
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<float>(
                static_cast<double>(static_cast<std::int32_t>(readLe32(data + 4 * i))) *
                (1.0 / 2147483648.0));
        break;
    }
}

namespace {

// A FLAC file is one part: decoded by libFLAC and measured as its WAV twin would be.
FileAnalysis analyseFlacFile(const std::string& path, const AnalysisOptions& options)
{
    FileAnalysis result;
    formats::WaveFormat format;
    std::uint64_t total = 0;
    if (!formats::readFlacStreamInfo(path, format, total)) {
        result.error = path + ": not a FLAC file";
        return result;
    }
    WaveAnalysis analysis;
    if (!analysis.start(format, total, options, result.error))
        return result;
    std::vector<float> samples;
    bool stopped = false;
    const formats::FlacReadResult read = formats::readFlacFile(path, [&](const std::uint8_t* data,
                                                                         std::size_t bytes) {
        if (stopped || (options.stop != nullptr && options.stop->load(std::memory_order_relaxed))) {
            stopped = true;
            return;
        }
        const std::size_t frames = bytes / format.blockAlign;
        samples.resize(frames * format.channels);
        decodeSamples(data, frames, format, samples.data());
        analysis.add(samples.data(), frames);
    });
    if (stopped) {
        result.error = "interrupted";
        return result;
    }
    if (!read.ok) {
        result.error = path + ": " + read.error;
        return result;
    }
    analysis.finish();
    result.ok = true;
    result.figures = analysis.figures();
    result.overview = analysis.overview();
    result.spectrogram = analysis.spectrogram();
    return result;
}

} // namespace

FileAnalysis analyseWaveFiles(const std::vector<std::string>& parts, const AnalysisOptions& options)
{
    FileAnalysis result;
    if (parts.empty()) {
        result.error = "no file";
        return result;
    }
    if (formats::hasFlacExtension(parts[0]))
        return analyseFlacFile(parts[0], options);
    formats::WaveFormat format;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        formats::WaveFileReader reader;
        if (!reader.readHeader(parts[i])) {
            result.error = parts[i] + ": " + reader.errorText();
            return result;
        }
        const formats::WaveFormat& f = reader.format();
        const bool pcm = !f.isFloat() && (f.bitsPerSample == 8 || f.bitsPerSample == 16 ||
                                          f.bitsPerSample == 24 || f.bitsPerSample == 32);
        const bool ieee = f.isFloat() && f.bitsPerSample == 32;
        if ((!pcm && !ieee) || f.channels < 1 || f.blockAlign != f.channels * f.bitsPerSample / 8) {
            result.error = parts[i] + ": a sample format the check does not read";
            return result;
        }
        if (i == 0)
            format = f;
        else if (!(f == format)) {
            result.error = parts[i] + ": not in the format of " + parts[0];
            return result;
        }
        total += reader.dataLength() / f.blockAlign;
    }

    WaveAnalysis analysis;
    if (!analysis.start(format, total, options, result.error))
        return result;
    std::vector<std::uint8_t> bytes(kReadFrames * format.blockAlign);
    std::vector<float> samples(kReadFrames * format.channels);
    for (const std::string& part : parts) {
        formats::WaveFileReader reader;
        if (!reader.readHeader(part)) {
            result.error = part + ": " + reader.errorText();
            return result;
        }
        std::uint64_t left = reader.dataLength() / format.blockAlign;
        while (left > 0) {
            if (options.stop != nullptr && options.stop->load(std::memory_order_relaxed)) {
                result.error = "interrupted";
                return result;
            }
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(left, kReadFrames) * format.blockAlign);
            if (reader.readData(bytes.data(), want) != want) {
                result.error = part + ": unable to read the audio data";
                return result;
            }
            const std::size_t frames = want / format.blockAlign;
            decodeSamples(bytes.data(), frames, format, samples.data());
            analysis.add(samples.data(), frames);
            left -= frames;
        }
    }
    analysis.finish();
    result.ok = true;
    result.figures = analysis.figures();
    result.overview = analysis.overview();
    result.spectrogram = analysis.spectrogram();
    return result;
}

} // namespace tarnvel::qc
