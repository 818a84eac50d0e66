// Reading a whole 60-minute cassette (120,000 frames) through the simulated drive as fast as
// possible, one READ(6) per frame as the play path does, beside reading a plain file of the
// same size from the same disk.
#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"
#include "scsi/ScsiTarget.h"
#include "sim/Cassette.h"
#include "sim/SimulatedDrive.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnvel;

constexpr int kMinutes = 60;
constexpr std::int64_t kFrames = kMinutes * sim::Cassette::kFramesPerMinute;

std::string benchDir()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp");
}

// A fully recorded 60-minute cassette, made once per run.
const std::string& cassettePath()
{
    static const std::string path = [] {
        const std::string p = benchDir() + "/tarnvel-bench-" + std::to_string(::getpid()) + ".tvs";
        std::string error;
        auto c = sim::Cassette::create(p, kMinutes, error);
        if (!c) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        dat::DatFrame frame;
        dat::RecSubcodeState state;
        dat::initRecSubcode(frame.subcode, state, dat::kIdControlStart, dat::TimeCode{0, 0, 0, 0},
                            0, 0, 48000, false, 1);
        for (std::int64_t i = 0; i < kFrames; ++i) {
            for (std::size_t k = 0; k < frame.audio.size(); k += 2)
                frame.audio[k] = static_cast<std::uint8_t>(i + static_cast<std::int64_t>(k));
            if (!c->writeFrame(i, frame.data(), error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                std::exit(1);
            }
            dat::advanceRecSubcode(frame.subcode, state);
        }
        std::atexit([] { ::unlink(cassettePath().c_str()); });
        return p;
    }();
    return path;
}

// A plain file of the same size.
const std::string& plainPath()
{
    static const std::string path = [] {
        const std::string p = benchDir() + "/tarnvel-bench-" + std::to_string(::getpid()) + ".raw";
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char> block(1 << 20, 0x5A);
        std::int64_t left = kFrames * static_cast<std::int64_t>(dat::kFrameBytes);
        while (fd >= 0 && left > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
            if (::write(fd, block.data(), n) != static_cast<ssize_t>(n))
                break;
            left -= static_cast<std::int64_t>(n);
        }
        if (fd >= 0)
            ::close(fd);
        std::atexit([] { ::unlink(plainPath().c_str()); });
        return p;
    }();
    return path;
}

scsi::TargetReply send(sim::SimulatedDrive& d, std::vector<std::uint8_t> cdb,
                       scsi::DataDirection dir = scsi::DataDirection::None,
                       std::uint8_t* buf = nullptr, std::uint32_t n = 0)
{
    return d.command(cdb.data(), cdb.size(), dir, buf, n);
}

void BM_SimulatedDriveReadsWholeCassette(benchmark::State& state)
{
    const std::string& path = cassettePath();
    dat::DatFrame frame;
    std::int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim::SimOptions o;
        o.cueMilliseconds = 0;
        std::string error;
        auto drive = sim::SimulatedDrive::open(path, o, error);
        if (!drive) {
            state.SkipWithError(error.c_str());
            return;
        }
        while (send(*drive, {0, 0, 0, 0, 0, 0}).status != scsi::kTargetGood)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::uint8_t list[12] = {0, 0, 0, 8, 0x80, 0, 0, 0, 0, 0, 2, 0};
        send(*drive, {0x15, 0, 0, 0, 12, 0}, scsi::DataDirection::Out, list, 12);
        // The cassette keeps its place between drives: start each pass at the beginning.
        send(*drive, {0x01, 0, 0, 0, 0, 0});
        state.ResumeTiming();
        std::int64_t n = 0;
        while (send(*drive, {0x08, 0, 0x00, 0x16, 0xBE, 0}, scsi::DataDirection::In, frame.data(),
                    dat::kFrameBytes)
                   .status == scsi::kTargetGood)
            ++n;
        if (n != kFrames)
            state.SkipWithError("the cassette did not read to its end");
        frames += n;
        benchmark::DoNotOptimize(frame);
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(frames * static_cast<std::int64_t>(dat::kFrameBytes));
}
BENCHMARK(BM_SimulatedDriveReadsWholeCassette)->Unit(benchmark::kMillisecond)->UseRealTime();

// The machine's plain sequential file read of the same number of bytes, in frame-sized reads
// and in 1 MiB reads.
void BM_PlainFileRead(benchmark::State& state)
{
    const std::string& path = plainPath();
    const auto chunk = static_cast<std::size_t>(state.range(0));
    std::vector<char> buffer(chunk);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ssize_t r;
        while ((r = ::read(fd, buffer.data(), chunk)) > 0)
            bytes += r;
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(bytes) / dat::kFrameBytes,
                                                    benchmark::Counter::kIsRate);
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_PlainFileRead)
    ->Arg(dat::kFrameBytes)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
