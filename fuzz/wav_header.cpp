// Feeds arbitrary bytes to the WAV reader as a file: header checks, chunk walk, data reads.
#include "formats/WaveFileReader.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int fd = memfd_create("wav_header", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    tarnvel::formats::WaveFileReader reader;
    if (!reader.readHeader("/proc/self/fd/" + std::to_string(fd)))
        return 0;
    reader.setSilencePadding(7, 5);
    std::vector<std::uint8_t> buffer(4096);
    // The data length is cut to the file, so this ends after at most size / 4096 + 3 reads.
    for (int i = 0; i < 1000 && reader.readData(buffer.data(), buffer.size()) > 0; ++i) {
    }
    reader.setPosition(reader.dataLength() / 2);
    reader.readData(buffer.data(), 3);
    return 0;
}
