// Feeds arbitrary bytes to the virtual ID file reader, then shows and writes the result.
#include "dat/RecSubcode.h"
#include "dat/TapeTracker.h"
#include "formats/IdListRows.h"
#include "formats/VirtualIdFile.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0'); // fmemopen refuses an empty buffer
    std::FILE* f = fmemopen(bytes.data(), size + 1, "rb");
    if (f == nullptr)
        return 0;
    tarnvel::dat::RecSubcodeState rec;
    std::atomic<bool> virtualMode{false};
    tarnvel::dat::TapeTracker tracker(rec, virtualMode);
    tarnvel::formats::loadVirtualIds(f, tracker);
    std::fclose(f);
    tracker.sortTable(true);
    for (const auto& row : tarnvel::formats::buildIdListRows(tracker.table(true))) {
        const std::string line = tarnvel::formats::virtualIdLine(row);
        if (line.size() > tarnvel::formats::kVirtualIdMaxLine)
            __builtin_trap();
    }
    return 0;
}
