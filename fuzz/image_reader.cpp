// Feeds arbitrary bytes to the tape image reader as a file, in normal and probe mode.
#include "common/MessageSink.h"
#include "dat/SubcodeDump.h"
#include "formats/ImageReader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace tarnvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int fd = memfd_create("image", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;

    CollectingMessageSink sink;
    formats::ImageReader reader(sink);
    if (reader.open(path, false)) {
        dat::DatFrame frame;
        std::uint32_t n = 0;
        while (reader.readFrame(frame, false) == dat::kFrameBytes)
            ++n;
        if (n > reader.frameCount())
            __builtin_trap();
        if (reader.open(path, false) && reader.readFrameAt(0, frame))
            (void)dat::buildSubcodeDump(frame);
    }
    if (reader.open(path, true))
        (void)formats::imagePropertyText(reader);
    return 0;
}
