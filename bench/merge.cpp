// Merging images of a damaged tape. Two passes over a 2-hour tape (each about 1.4 GB, with
// different damage) against a plain read of both files: the ratio plain read / merge is the
// goal's measure (at least 0.5: a merge may take at most twice as long as reading its input).
// Peak memory of a merge of passes and of a copy (matched by its audio) for 1 and 2 hours,
// each in a child process of its own: it must not grow with the length (goal: below 64 MB).
#include "common/ByteOrder.h"
#include "common/MessageSink.h"
#include "dat/RecSubcode.h"
#include "formats/ImageWriter.h"
#include "recovery/FrameCondition.h"
#include "recovery/ImageMerge.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tarnvel;

namespace {

constexpr std::uint32_t kFramesPerHour = 120000;

std::int16_t sample(std::uint64_t n, int channel)
{
    std::uint64_t x = n * 2 + static_cast<std::uint64_t>(channel) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<std::int16_t>(6000.0 * std::sin(static_cast<double>(n) * 0.031) +
                                     static_cast<double>(x % 4001) - 2000.0);
}

// A tape of `frames` frames from sample `first`, ABS time from `firstAbs`; `damage(i)` gives the
// channels concealed in frame i ('L', 'R' or 0).
template <typename Damage>
void writeTape(const std::string& path, std::uint32_t frames, std::uint64_t first, int firstAbs,
               Damage damage)
{
    CollectingMessageSink sink;
    formats::ImageWriter w(sink);
    if (!w.create(path, "bench"))
        std::abort();
    dat::DatFrame f;
    dat::RecSubcodeState state;
    dat::initRecSubcode(f.subcode, state, dat::kIdControlNone, dat::framesToAbs(firstAbs), 0, 0,
                        48000, false, dat::kIdCodeNone);
    dat::startIdRun(f.subcode, state, dat::kIdControlStart, 1);
    std::uint64_t n = first;
    for (std::uint32_t i = 0; i < frames; ++i) {
        dat::DatFrame out;
        for (std::size_t k = 0; k < 1440; ++k, ++n)
            for (int c = 0; c < 2; ++c)
                writeLe16(&f.audio[4 * k + 2 * static_cast<std::size_t>(c)],
                          static_cast<std::uint16_t>(sample(n, c)));
        out = f;
        if (const char d = damage(i)) {
            for (std::size_t k = 0; k < 1440; ++k)
                writeLe16(&out.audio[4 * k + (d == 'L' ? 0 : 2)], 0x1357);
            recovery::setInterpolationFlags(out, d == 'L', d == 'R');
        }
        if (w.append(out) != dat::kFrameBytes)
            std::abort();
        dat::advanceRecSubcode(f.subcode, state);
    }
    if (!w.finalise(false))
        std::abort();
}

struct Images {
    std::string folder, passA, passB, copy, out;
};

// Images of `hours` of tape, made once and removed at exit.
const Images& images(int hours)
{
    static std::map<int, Images> made;
    static bool cleanup = false;
    auto it = made.find(hours);
    if (it != made.end())
        return it->second;
    Images im;
    im.folder = (std::filesystem::temp_directory_path() / "tarnvel-bench-XXXXXX").string();
    if (mkdtemp(im.folder.data()) == nullptr)
        std::abort();
    im.passA = im.folder + "/a.TVI";
    im.passB = im.folder + "/b.TVI";
    im.copy = im.folder + "/c.TVI";
    im.out = im.folder + "/out.TVI";
    const std::uint32_t frames = kFramesPerHour * static_cast<std::uint32_t>(hours);
    writeTape(im.passA, frames, 0, 0, [](std::uint32_t i) { return i % 97 == 3 ? 'L' : 0; });
    writeTape(im.passB, frames, 0, 0, [](std::uint32_t i) { return i % 89 == 5 ? 'R' : 0; });
    // A copy on another tape: its frames cut 100 samples later, its ABS times 10 s on.
    writeTape(im.copy, frames - 1, 100, 333, [](std::uint32_t) { return char{0}; });
    if (!cleanup) {
        cleanup = true;
        std::atexit([] {
            for (auto& [h, i] : made) {
                std::error_code ec;
                std::filesystem::remove_all(i.folder, ec);
            }
        });
    }
    return made.emplace(hours, im).first->second;
}

double plainRead(const std::vector<std::string>& files)
{
    std::vector<char> buffer(1 << 20);
    const auto t0 = std::chrono::steady_clock::now();
    for (const std::string& f : files) {
        const int fd = ::open(f.c_str(), O_RDONLY);
        while (::read(fd, buffer.data(), buffer.size()) > 0)
            benchmark::DoNotOptimize(buffer.data());
        ::close(fd);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Returns the seconds until the last frame was written (the rest is the final sync).
bool merge(const std::vector<std::string>& in, const std::string& out, double* framesDone = nullptr)
{
    recovery::MergeOptions o;
    o.images = in;
    o.output = out;
    const auto t0 = std::chrono::steady_clock::now();
    o.progress = [&](const recovery::MergeProgress& p) {
        if (framesDone != nullptr && p.phase == recovery::MergeProgress::Phase::Merging &&
            p.done == p.total)
            *framesDone =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    recovery::MergeResult r;
    std::string error;
    return recovery::mergeImages(o, r, error);
}

// Two passes over a tape of state.range(0) hours; the plain read of both is timed first, with
// the files in the same state (in the page cache after the first read). `merge_s` runs until
// the merged image is on the disk; `written_s` until its last frame was handed to the system
// (the rest is the final sync, which writes what the disk has not taken yet); `ratio` is
// plain_read_s / written_s, `ratio_synced` plain_read_s / merge_s.
void BM_MergePasses(benchmark::State& state)
{
    const Images& im = images(static_cast<int>(state.range(0)));
    plainRead({im.passA, im.passB}); // both in the page cache, as for the merge
    double plain = 0, merged = 0, written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(im.out);
        ::sync(); // the removed output's pages leave the disk queue before the timing
        plain += plainRead({im.passA, im.passB});
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        double done = 0;
        if (!merge({im.passA, im.passB}, im.out, &done))
            state.SkipWithError("merge failed");
        merged += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        written += done;
    }
    const double frames = static_cast<double>(kFramesPerHour) * static_cast<double>(state.range(0));
    const auto n = static_cast<double>(state.iterations());
    state.counters["plain_read_s"] = plain / n;
    state.counters["merge_s"] = merged / n;
    state.counters["written_s"] = written / n;
    state.counters["ratio"] = written > 0 ? plain / written : 0;
    state.counters["ratio_synced"] = merged > 0 ? plain / merged : 0;
    state.counters["frames/s"] =
        frames * static_cast<double>(state.iterations()) / (merged > 0 ? merged : 1);
}

// The merge in a child process, whose peak resident memory the kernel reports at its end.
void BM_MergePeakMemory(benchmark::State& state)
{
    const Images& im = images(static_cast<int>(state.range(1)));
    const bool copy = state.range(0) == 1;
    const std::vector<std::string> in = {im.passA, copy ? im.copy : im.passB};
    long peakKb = 0;
    for (auto _ : state) {
        std::filesystem::remove(im.out);
        const pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(merge(in, im.out) ? 0 : 1);
        int status = 0;
        struct rusage usage {};
        if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            state.SkipWithError("merge failed");
        peakKb = std::max(peakKb, usage.ru_maxrss);
    }
    state.SetLabel(copy ? "copy matched by audio" : "passes matched by ABS time");
    state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
}

} // namespace

BENCHMARK(BM_MergePasses)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_MergePeakMemory)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"copy", "hours"})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK_MAIN();
