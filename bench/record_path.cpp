// Recording: frame building per second of audio (16-bit, long play, 24-bit), reported as
// x_realtime (seconds of audio built per second); and the record loop from a WAV list to the
// simulated drive in fast mode (the WAV reader, the per-frame step, the write ring and its
// writer thread, WRITE(6) into a cassette) against a plain copy of the same bytes from file
// to file, both in MB/s of WAV data.
#include "dat/DatDrive.h"
#include "dat/StatusPoll.h"
#include "engine/WriteThread.h"
#include "record/RecordSources.h"
#include "record/Recorder.h"
#include "scsi/ScsiStatus.h"
#include "sim/Cassette.h"
#include "sim/SimulatedDrive.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnvel;

// Frames are built and dropped: the step's own cost (the drive object parses each one).
class DropSink : public record::FrameSink {
public:
    int putFrame(const dat::DatFrame& frame) override
    {
        benchmark::DoNotOptimize(frame.audio[0]);
        return kFine;
    }
};

std::vector<std::uint8_t> noise(std::size_t bytes)
{
    std::vector<std::uint8_t> out(bytes);
    std::uint32_t seed = 7;
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

void buildFrames(benchmark::State& state, const formats::WaveFormat& wave, bool longPlay)
{
    const record::RecordFormat format = *record::formatFromWave(wave, longPlay, false, 0);
    dat::DatDrive drive(false, nullptr);
    DropSink sink;
    std::atomic<bool> stop{false};
    record::Recorder rec(drive, 0, sink, stop);
    record::RecordSetup setup;
    setup.format = format;
    // One second of source audio, delivered in the sound input's blocks of four frames.
    const std::uint32_t block = format.sourceBytesPerBlock(4);
    const std::uint32_t second = wave.samplesPerSec * wave.blockAlign;
    std::vector<std::uint8_t> audio = noise(second + block);
    rec.begin(setup, dat::TimeCode{0, 0, 0, 0});
    for (auto _ : state) {
        for (std::uint32_t at = 0; at < second; at += block) {
            if (rec.recordBlock(audio.data() + at, block) == 0) {
                state.SkipWithError("the recorder stopped");
                return;
            }
        }
        // A long run would reach the END of the ABS clock: start over now and then.
        if (rec.framesQueued() > 100000)
            rec.begin(setup, dat::TimeCode{0, 0, 0, 0});
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_BuildFrames16(benchmark::State& state)
{
    buildFrames(state, formats::WaveFormat::make(1, 2, 48000, 16), false);
}
void BM_BuildFramesLongPlay(benchmark::State& state)
{
    buildFrames(state, formats::WaveFormat::make(1, 2, 32000, 16), true);
}
void BM_BuildFrames24(benchmark::State& state)
{
    buildFrames(state, formats::WaveFormat::make(1, 2, 48000, 24), false);
}
void BM_BuildFramesFloat(benchmark::State& state)
{
    buildFrames(state, formats::WaveFormat::make(3, 2, 48000, 32), false);
}
BENCHMARK(BM_BuildFrames16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFramesLongPlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFrames24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFramesFloat)->Unit(benchmark::kMillisecond);

// A 48 kHz 16-bit WAV file of 3000 frames (90 s) in a folder of its own.
class BenchFiles {
public:
    static constexpr int kFrames = 3000;
    BenchFiles()
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("tarnvel-bench-rec-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        wav_ = (dir_ / "in.wav").string();
        const std::vector<std::uint8_t> data = noise(static_cast<std::size_t>(kFrames) * 5760);
        std::ofstream f(wav_, std::ios::binary);
        auto le = [&f](std::uint32_t v, int n) {
            for (int i = 0; i < n; ++i)
                f.put(static_cast<char>(v >> (8 * i)));
        };
        f.write("RIFF", 4);
        le(36 + static_cast<std::uint32_t>(data.size()), 4);
        f.write("WAVEfmt ", 8);
        le(16, 4);
        le(1, 2);
        le(2, 2);
        le(48000, 4);
        le(192000, 4);
        le(4, 2);
        le(16, 2);
        f.write("data", 4);
        le(static_cast<std::uint32_t>(data.size()), 4);
        f.write(reinterpret_cast<const char*>(data.data()),
                static_cast<std::streamsize>(data.size()));
    }
    ~BenchFiles()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    const std::string& wav() const { return wav_; }

private:
    std::filesystem::path dir_;
    std::string wav_;
};

const BenchFiles& files()
{
    static BenchFiles f;
    return f;
}

void BM_RecordLoopToSimulatedDrive(benchmark::State& state)
{
    const BenchFiles& f = files();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string tape = f.file("tape.tvs");
        std::filesystem::remove(tape);
        std::string error;
        {
            sim::Cassette::create(tape, 2, error);
        }
        sim::SimOptions o;
        o.cueMilliseconds = 10;
        o.motionScale = 0.01;
        std::shared_ptr<sim::SimulatedDrive> s = sim::SimulatedDrive::open(tape, o, error);
        dat::DatDrive drive(false, nullptr);
        drive.addTarget(s);
        drive.scanDevices(scsi::kTypeSequentialAccess);
        drive.identify(0);
        dat::StatusPoller poller(drive, 0);
        dat::pollUntilSettled(poller, 200, 10);
        drive.rewind(0, false);
        engine::WriteThread writer([&drive](const dat::DatFrame& frame) {
            return drive.writeFrame(0, frame.data(), dat::kFrameBytes) == scsi::kSsComp
                       ? engine::WriteResult::Written
                       : engine::WriteResult::Failed;
        });
        struct Sink : record::FrameSink {
            engine::WriteThread& w;
            explicit Sink(engine::WriteThread& writer) : w(writer) {}
            int putFrame(const dat::DatFrame& frame) override { return w.putFrame(frame); }
        } sink(writer);
        std::atomic<bool> stop{false};
        record::Recorder rec(drive, 0, sink, stop);
        record::WaveListSource list;
        bool given = false;
        list.setList([&](bool) -> std::optional<record::RecFileEntry> {
            if (given)
                return std::nullopt;
            given = true;
            return record::RecFileEntry{f.wav(), 1, false, false, 0, 0};
        });
        list.openNext(true, 0, true);
        record::RecordSetup setup;
        setup.format = list.current().format;
        setup.source = &list;
        setup.recordLoop = true;
        state.ResumeTiming();

        writer.start();
        rec.begin(setup, dat::TimeCode{0, 0, 0, 0});
        while (rec.loopTurn() != 0) {
        }
        writer.drainAndStop();

        state.PauseTiming();
        if (writer.takenCount() != BenchFiles::kFrames)
            state.SkipWithError("frames missing on tape");
        writer.terminate();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * BenchFiles::kFrames * 5760);
}
BENCHMARK(BM_RecordLoopToSimulatedDrive)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainCopyOfTheSameBytes(benchmark::State& state)
{
    const BenchFiles& f = files();
    std::vector<std::uint8_t> buffer(5760);
    for (auto _ : state) {
        const int in = ::open(f.wav().c_str(), O_RDONLY);
        const int out = ::open(f.file("copy.raw").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::lseek(in, 44, SEEK_SET);
        while (::read(in, buffer.data(), buffer.size()) > 0) {
            if (::write(out, buffer.data(), buffer.size()) < 0)
                break;
        }
        ::close(in);
        ::close(out);
    }
    state.SetBytesProcessed(state.iterations() * BenchFiles::kFrames * 5760);
}
BENCHMARK(BM_PlainCopyOfTheSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
