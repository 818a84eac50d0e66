// Feeds arbitrary bytes to the shelf's list parser and its state file reader: neither may crash,
// and a state that was read is written back as a state that reads the same.
#include "shelf/ShelfList.h"
#include "shelf/ShelfState.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<tarnvel::shelf::ShelfTape> tapes;
    std::string error;
    if (tarnvel::shelf::parseShelfList(text, tapes, error))
        for (const auto& t : tapes)
            if (!tarnvel::shelf::isValidLabel(t.label))
                __builtin_trap();

    tarnvel::shelf::ShelfState state;
    if (tarnvel::shelf::fromJson(text, state, error)) {
        const std::string written = tarnvel::shelf::toJson(state);
        tarnvel::shelf::ShelfState again;
        if (!tarnvel::shelf::fromJson(written, again, error) ||
            tarnvel::shelf::toJson(again) != written)
            __builtin_trap();
    }
    return 0;
}
