// Feeds arbitrary bytes to the cue file reader and the attribute-line parser.
#include "formats/CueFile.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0'); // fmemopen refuses an empty buffer
    std::FILE* f = fmemopen(bytes.data(), size + 1, "rb");
    if (f == nullptr)
        return 0;
    tarnvel::formats::CueReader reader;
    reader.attach(f);
    while (auto record = reader.next()) {
        if (record->path.size() > tarnvel::formats::kCueMaxLine)
            __builtin_trap();
        if (record->format)
            (void)tarnvel::formats::cueFormatText(*record->format);
    }
    std::fclose(f);

    tarnvel::formats::CueRecord record;
    std::optional<std::string> pre;
    tarnvel::formats::parseCueAttributes(
        std::string_view(reinterpret_cast<const char*>(data), size), &record, pre);
    return 0;
}
