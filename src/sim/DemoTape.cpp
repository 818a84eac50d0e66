#include "sim/DemoTape.h"

#include "common/ByteOrder.h"
#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"
#include "dat/TimeCode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <vector>

namespace tarnvel::sim {

namespace {

constexpr int kRate = 48000;
constexpr std::size_t kPairs = dat::kAudioBytes / 4;
constexpr double kTwoPi = 6.283185307179586;

double midiToHz(int note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// A small deterministic band: kick, hi-hat, bass, a chord pad and a lead melody that wanders
// over the scale of a four-chord progression. Each program is a different piece.
class DemoSynth {
public:
    struct Piece {
        double bpm;
        int root; // MIDI note of the key
        bool minor;
        std::array<int, 4> progression; // scale degrees (0-based) of the four bars' chords
        std::uint32_t seed;
    };

    DemoSynth(const Piece& piece, std::int64_t totalPairs) : piece_(piece), total_(totalPairs)
    {
        eighth_ = 60.0 / piece.bpm / 2.0;
        // The melody: one scale degree (or a rest) per eighth note, a random walk.
        std::uint32_t r = piece.seed;
        const int eighths = static_cast<int>(static_cast<double>(totalPairs) / kRate / eighth_) + 2;
        int degree = 7;
        for (int i = 0; i < eighths; ++i) {
            r = r * 1664525u + 1013904223u;
            const int step = static_cast<int>((r >> 24) % 5) - 2;
            degree = std::clamp(degree + step, 2, 13);
            const bool rest = ((r >> 16) & 7) == 0;
            melody_.push_back(rest ? -1 : degree);
        }
    }

    // Renders the next kPairs stereo pairs as little-endian 16-bit words.
    void render(std::uint8_t* out)
    {
        for (std::size_t i = 0; i < kPairs; ++i, ++n_) {
            double left = 0;
            double right = 0;
            sample(static_cast<double>(n_) / kRate, left, right);
            // Fades at the edges of the program.
            const double fromStart = static_cast<double>(n_) / kRate;
            const double toEnd = static_cast<double>(total_ - n_) / kRate;
            const double fade = std::clamp(std::min(fromStart / 0.05, toEnd / 1.0), 0.0, 1.0);
            writeLe16(out + 4 * i, toSample(left * fade));
            writeLe16(out + 4 * i + 2, toSample(right * fade));
        }
    }

private:
    static std::uint16_t toSample(double v)
    {
        const double s = std::tanh(v) * 20000.0; // soft limit, peaks near -4 dBFS
        return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(s)));
    }

    int scaleNote(int degree) const
    {
        static constexpr int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
        static constexpr int kMinor[7] = {0, 2, 3, 5, 7, 8, 10};
        const int* scale = piece_.minor ? kMinor : kMajor;
        const int octave = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
        return piece_.root + 12 * octave + scale[degree - 7 * octave];
    }

    double noise()
    {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        return static_cast<double>(noise_) / 2147483648.0 - 1.0;
    }

    void sample(double t, double& left, double& right)
    {
        const double beat = 2 * eighth_;
        const double bar = 4 * beat;
        const int barIndex = static_cast<int>(t / bar);
        const int chord = piece_.progression[static_cast<std::size_t>(barIndex % 4)];
        const double inBar = t - barIndex * bar;
        const double inBeat = std::fmod(t, beat);
        const double inEighth = std::fmod(t, eighth_);
        const int eighthIndex = static_cast<int>(t / eighth_);

        // Kick on beats 1 and 3: a falling sine.
        const int beatInBar = static_cast<int>(inBar / beat);
        if (beatInBar % 2 == 0) {
            const double f = 50.0 + 70.0 * std::exp(-inBeat * 30.0);
            const double kick = 0.55 * std::sin(kTwoPi * f * inBeat) * std::exp(-inBeat * 9.0);
            left += kick;
            right += kick;
        }
        // Hi-hat on every eighth, accented off-beats, to the right.
        const double hat = noise() * std::exp(-inEighth * 60.0) * (eighthIndex % 2 ? 0.12 : 0.06);
        left += 0.5 * hat;
        right += hat;

        // Bass: chord root, plucked quarter notes.
        const double bassHz = midiToHz(scaleNote(chord) - 24);
        const double bassEnv = std::exp(-inBeat * 4.0);
        const double bass =
            0.35 * bassEnv *
            (std::sin(kTwoPi * bassHz * t) + 0.3 * std::sin(kTwoPi * 2 * bassHz * t));
        left += bass;
        right += bass;

        // Pad: the triad, slightly detuned between the channels, swelling over each bar.
        const double swell = std::min(inBar / 0.4, 1.0) * 0.06;
        for (int k = 0; k < 3; ++k) {
            const double hz = midiToHz(scaleNote(chord + 2 * k) - 12);
            left += swell * std::sin(kTwoPi * hz * 0.998 * t);
            right += swell * std::sin(kTwoPi * hz * 1.002 * t + 0.7);
        }

        // Lead: a bright tone of five harmonics with vibrato, to the left.
        const int degree = melody_[static_cast<std::size_t>(eighthIndex) % melody_.size()];
        if (degree >= 0) {
            const double hz = midiToHz(scaleNote(chord % 7 + degree) + 12);
            const double vib = 1.0 + 0.004 * std::sin(kTwoPi * 5.5 * t);
            const double attack = std::min(inEighth / 0.008, 1.0);
            const double env = attack * (0.6 + 0.4 * std::exp(-inEighth * 12.0)) *
                               std::min((eighth_ - inEighth) / 0.02, 1.0);
            double tone = 0;
            for (int h = 1; h <= 5; ++h)
                tone += std::sin(kTwoPi * hz * vib * h * t) / h;
            left += 0.16 * env * tone;
            right += 0.09 * env * tone;
        }
    }

    Piece piece_;
    std::int64_t total_;
    std::int64_t n_ = 0;
    double eighth_ = 0.25;
    std::vector<int> melody_;
    std::uint32_t noise_ = 0x12345678u;
};

// 2024-05-17 14:30:00 (a Friday) plus `seconds`, as the date pack's local time.
std::tm demoDate(std::int64_t seconds)
{
    std::tm base{};
    base.tm_year = 124;
    base.tm_mon = 4;
    base.tm_mday = 17;
    base.tm_hour = 14;
    base.tm_min = 30;
    const std::time_t t = ::timegm(&base) + static_cast<std::time_t>(seconds);
    std::tm out{};
    ::gmtime_r(&t, &out);
    return out;
}

} // namespace

bool recordDemoTape(Cassette& cassette, std::string& error)
{
    using L = DemoLayout;
    dat::DatFrame frame;
    dat::RecSubcodeState state;
    std::int64_t at = 0;
    const auto put = [&]() {
        if (!cassette.writeFrame(at, frame.data(), error))
            return false;
        ++at;
        return true;
    };

    // Lead-in: the lead-in run with silence, then silence without ID up to ABS 00h00m02s00.
    dat::initRecSubcode(frame.subcode, state, dat::kIdControlNone,
                        dat::framesToAbs(L::kLeadInFrames), dat::kCopyPermit, 0, kRate, false,
                        dat::kIdCodeLeadIn);
    while (at < L::kFirstProgram) {
        if (!put())
            return false;
        dat::advanceRecSubcode(frame.subcode, state);
    }

    // The recording: starts without ID at the ABS time reached, START IDs at each program.
    const DemoSynth::Piece pieces[3] = {
        {112, 60, false, {0, 4, 5, 3}, 11u}, // C major, I-V-vi-IV
        {96, 57, true, {0, 5, 2, 6}, 23u},   // A minor, i-VI-III-VII
        {128, 65, false, {0, 3, 4, 4}, 37u}, // F major, I-IV-V-V
    };
    dat::initRecSubcode(frame.subcode, state, dat::kIdControlNone, std::nullopt, dat::kCopyPermit,
                        0, kRate, false, dat::kIdCodeNone);
    for (int p = 0; p < 3; ++p) {
        DemoSynth synth(pieces[p], L::kProgramFrames * static_cast<std::int64_t>(kPairs));
        dat::startIdRun(frame.subcode, state, dat::kIdControlStart, p + 1);
        for (std::int64_t i = 0; i < L::kProgramFrames; ++i) {
            if (p == 1 && i == L::kSkipOffset)
                dat::startIdRun(frame.subcode, state, dat::kIdControlSkip, dat::kIdCodeNone);
            synth.render(frame.audio.data());
            dat::setDatePack(frame.subcode, true, demoDate((p * L::kProgramFrames + i) * 3 / 100));
            if (!put())
                return false;
            dat::advanceRecSubcode(frame.subcode, state);
        }
    }
    // END ID over silence; the run ends the recording.
    frame.audio.fill(0);
    dat::startIdRun(frame.subcode, state, dat::kIdControlNone, dat::kIdCodeEnd);
    for (bool ended = false; !ended;) {
        dat::setDatePack(frame.subcode, true, demoDate(3 * L::kProgramFrames * 3 / 100));
        if (!put())
            return false;
        ended = dat::advanceRecSubcode(frame.subcode, state);
    }

    // A few frames that a drive reads back with interpolated channels.
    const Fault faults[] = {
        {static_cast<std::uint32_t>(L::programStart(1) + 500),
         static_cast<std::uint32_t>(L::programStart(1) + 500), FaultKind::Left},
        {static_cast<std::uint32_t>(L::programStart(2) + 150),
         static_cast<std::uint32_t>(L::programStart(2) + 151), FaultKind::Right},
        {static_cast<std::uint32_t>(L::programStart(3) + 333),
         static_cast<std::uint32_t>(L::programStart(3) + 335), FaultKind::Both},
    };
    for (const Fault& f : faults) {
        if (!cassette.addFault(f, error))
            return false;
    }
    return cassette.flush(error);
}

bool createDemoCassette(const std::string& path, std::string& error)
{
    auto cassette = Cassette::createUnpublished(path, 60, error);
    return cassette && recordDemoTape(*cassette, error) && cassette->publish(error);
}

} // namespace tarnvel::sim
