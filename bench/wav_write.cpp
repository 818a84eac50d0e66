// Writing 2 hours of 48 kHz 16-bit stereo in blocks of two DAT frames: through the WAV
// writer (header refresh and disk check every 5 seconds, split checks, final sync) against
// one plain write() loop of the same blocks followed by the same final sync.
#include "common/MessageSink.h"
#include "formats/WaveFileWriter.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBlockBytes = 2 * 5760;
constexpr std::uint64_t kTotalBytes = 2ULL * 3600 * 48000 * 4; // 2 hours
constexpr std::uint64_t kBlocks = kTotalBytes / kBlockBytes;

std::string benchFile(const char* name)
{
    const char* dir = std::getenv("TARNVEL_BENCH_DIR");
    return (std::filesystem::path(dir != nullptr ? dir
                                                 : std::filesystem::temp_directory_path().c_str()) /
            name)
        .string();
}

std::vector<std::uint8_t> block()
{
    std::vector<std::uint8_t> b(kBlockBytes);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(i * 31);
    return b;
}

void BM_WaveFileWriter(benchmark::State& state)
{
    const auto data = block();
    const std::string path = benchFile("tarnvel-bench.WAV");
    tarnvel::CollectingMessageSink sink;
    for (auto _ : state) {
        tarnvel::formats::WaveFileWriter writer(sink);
        writer.setFileName(path);
        writer.setFormat(tarnvel::formats::WaveFormat::make(1, 2, 48000, 16));
        if (!writer.create()) {
            state.SkipWithError("create failed");
            break;
        }
        for (std::uint64_t i = 0; i < kBlocks; ++i)
            if (writer.write(data.data(), data.size()) != data.size()) {
                state.SkipWithError("write failed");
                break;
            }
        if (!writer.finish(false))
            state.SkipWithError("finish failed");
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlocks * kBlockBytes));
}

void BM_PlainWriteLoop(benchmark::State& state)
{
    const auto data = block();
    const std::string path = benchFile("tarnvel-bench-plain.raw");
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            state.SkipWithError("open failed");
            break;
        }
        for (std::uint64_t i = 0; i < kBlocks; ++i)
            if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
                state.SkipWithError("write failed");
                break;
            }
        if (fdatasync(fd) != 0)
            state.SkipWithError("sync failed");
        ::close(fd);
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlocks * kBlockBytes));
}

BENCHMARK(BM_WaveFileWriter)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainWriteLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
