// Reading a 100,000-frame tape image (about 55 minutes of tape) through ImageReader, next to a
// plain sequential read of the same file: the ratio is the reader's overhead.
#include "common/MessageSink.h"
#include "formats/ImageReader.h"
#include "formats/SampleImage.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarnvel;

namespace {

constexpr std::uint32_t kFrames = 100000;

// One image for the whole run, removed at exit.
const std::string& imagePath()
{
    static const std::string path = [] {
        std::string dir =
            (std::filesystem::temp_directory_path() / "tarnvel-bench-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr)
            std::abort();
        const std::string p = dir + "/bench.TVI";
        CollectingMessageSink sink;
        if (!formats::writeSampleImage(p, kFrames, sink))
            std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(std::filesystem::path(imagePath()).parent_path(), ec);
        });
        return p;
    }();
    return path;
}

void BM_ImageReader(benchmark::State& state)
{
    const std::string& path = imagePath();
    CollectingMessageSink sink;
    formats::ImageReader reader(sink);
    dat::DatFrame frame;
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (!reader.open(path, false)) {
            state.SkipWithError("open failed");
            return;
        }
        std::uint32_t n = 0;
        while (reader.readFrame(frame, true) == dat::kFrameBytes)
            ++n;
        benchmark::DoNotOptimize(frame);
        if (n != kFrames)
            state.SkipWithError("frame count");
        frames += n;
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * static_cast<std::int64_t>(dat::kFrameBytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// The same bytes with read() in 1 MiB blocks and nothing else.
void BM_PlainSequentialRead(benchmark::State& state)
{
    const std::string& path = imagePath();
    std::vector<char> buffer(1 << 20);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ssize_t r = 0;
        while ((r = ::read(fd, buffer.data(), buffer.size())) > 0) {
            bytes += r;
            benchmark::DoNotOptimize(buffer.data());
        }
        ::close(fd);
    }
    const double frames = static_cast<double>(bytes) / dat::kFrameBytes;
    state.SetBytesProcessed(bytes);
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_ImageReader)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainSequentialRead)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
