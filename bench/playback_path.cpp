// The whole playback path as a deck runs it: frames read from a simulated drive (fast) through
// the read-ahead ring, the per-frame step with de-emphasis and triangular dither, the sound
// output's thread and ring, and the null device taking the samples as fast as they come.
// Reported as the CPU time of the whole process per second of 48 kHz audio, in percent of
// one core (counter cpu_percent; target: at most 0.5 %), and the pipeline alone on one
// thread (counter x_realtime).
#include "dat/DatDrive.h"
#include "dat/RecSubcode.h"
#include "dat/StatusPoll.h"
#include "engine/Deck.h"
#include "engine/Playback.h"
#include "engine/UiThread.h"
#include "scsi/ScsiStatus.h"
#include "sim/Cassette.h"
#include "sim/SimulatedDrive.h"
#include "sound/NullAudioBackend.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace tarnvel;

constexpr int kFrames = 10000; // 5 minutes
constexpr double kAudioSeconds = kFrames * 0.03;

double cpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A 48 kHz recording with emphasis: a tone with some noise, one program.
class BenchTape {
public:
    BenchTape()
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("tarnvel-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "tape.tvs").string();
        std::string error;
        auto c = sim::Cassette::create(path_, 10, error);
        dat::DatFrame f;
        dat::RecSubcodeState st;
        dat::initRecSubcode(f.subcode, st, dat::kIdControlNone, dat::TimeCode{0, 0, 0, 0}, 0, 0,
                            48000, true, 0);
        dat::startIdRun(f.subcode, st, dat::kIdControlStart, 1);
        std::uint32_t seed = 1;
        for (int i = 0; i < kFrames; ++i) {
            for (std::size_t k = 0; k < dat::kAudioBytes / 2; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const auto v = static_cast<std::int16_t>(
                    9000.0 * std::sin(static_cast<double>(i * 1440 + k / 2) * 0.05) +
                    static_cast<double>(seed >> 23) - 256.0);
                f.audio[2 * k] = static_cast<std::uint8_t>(v);
                f.audio[2 * k + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
            }
            c->writeFrame(i, f.data(), error);
            dat::advanceRecSubcode(f.subcode, st);
        }
    }
    ~BenchTape()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::filesystem::path dir_;
    std::string path_;
};

const BenchTape& tape()
{
    static BenchTape t;
    return t;
}

sim::SimOptions fastSim()
{
    sim::SimOptions o;
    o.cueMilliseconds = 10;
    o.motionScale = 0.01;
    return o;
}

class QuietView : public engine::DeckView {
public:
    void showMessage(const std::string&, MessageIcon, const std::string&) override {}
    engine::Answer ask(const std::string&, engine::Buttons, MessageIcon,
                       const std::string&) override
    {
        return {};
    }
};

void BM_DeckPlaybackPath(benchmark::State& state)
{
    const std::string path = tape().path();
    double cpuPercent = 0;
    for (auto _ : state) {
        engine::EventLoop loop;
        QuietView view;
        app::Settings settings;
        settings.EnableDeEmphasis = true;
        settings.DitherType = 2;
        engine::DeckOptions o;
        o.openDrive = [&](std::string& error) {
            auto sim = sim::SimulatedDrive::open(path, fastSim(), error);
            auto drive = std::make_unique<dat::DatDrive>(false, nullptr);
            drive->addTarget(std::shared_ptr<sim::SimulatedDrive>(std::move(sim)));
            drive->scanDevices(scsi::kTypeSequentialAccess);
            return drive;
        };
        sound::NullDeviceOptions nullDevice;
        nullDevice.realTime = false;
        o.audio = std::make_shared<sound::NullBackendProvider>(nullDevice);
        o.errorPauseMs = 0;
        o.motionSleep = [](int) { usleep(300); };
        engine::Deck deck(loop, view, settings, o);
        deck.firstActivation();
        while (!deck.transportEnabled()) {
            deck.pollNow();
            loop.pumpFor(5);
        }
        deck.rewind();
        while (!deck.transportEnabled()) {
            deck.pollNow();
            loop.pumpFor(5);
        }
        const auto ends = deck.playEnds();
        const double before = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        deck.play({});
        loop.runUntil([&] { return deck.playEnds() > ends; });
        cpuPercent = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - before) / kAudioSeconds * 100.0;
    }
    state.counters["cpu_percent"] = cpuPercent;
    state.counters["target_percent"] = 0.5;
}
BENCHMARK(BM_DeckPlaybackPath)->Iterations(1)->Unit(benchmark::kMillisecond);

// The pipeline alone (drive, read-ahead, step, de-emphasis, dither) on this thread.
void BM_PipelineFrameSource(benchmark::State& state)
{
    std::string error;
    auto sim = sim::SimulatedDrive::open(tape().path(), fastSim(), error);
    dat::DatDrive drive(false, nullptr);
    drive.addTarget(std::shared_ptr<sim::SimulatedDrive>(std::move(sim)));
    drive.scanDevices(scsi::kTypeSequentialAccess);
    drive.identify(0);
    dat::StatusPoller poller(drive, 0);
    dat::pollUntilSettled(poller, 200, 10);
    engine::PlaySettings settings;
    settings.enableDeEmphasis = true;
    settings.ditherType = 2;
    engine::PlaybackPipeline pipe(drive, 0, settings);
    std::vector<std::uint8_t> buffer(2 * dat::kAudioBytes);
    double audio = 0;
    const double cpuBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        state.PauseTiming();
        drive.rewind(0, false);
        pipe.prepareStart(false);
        pipe.buildOutputFormat();
        state.ResumeTiming();
        std::uint32_t n = 0;
        while ((n = pipe.frameSource(buffer.data(), static_cast<std::uint32_t>(buffer.size()))) > 0)
            audio += n / 192000.0;
        if (pipe.heldFrame()) { // the first frame sets the emphasis
            pipe.buildOutputFormat();
            pipe.prepareStart(true);
            while ((n = pipe.frameSource(buffer.data(),
                                         static_cast<std::uint32_t>(buffer.size()))) > 0)
                audio += n / 192000.0;
        }
    }
    const double cpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
    if (cpu > 0)
        state.counters["x_realtime"] = audio / cpu;
}
BENCHMARK(BM_PipelineFrameSource)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
