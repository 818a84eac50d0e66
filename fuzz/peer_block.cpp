// Feeds arbitrary bytes to the check of a block from the other instance, as both kinds of
// copy read it; a block that passes must re-encode to the same bytes it was read from.
#include "link/PeerFrameBlock.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (bool wholeFrames : {false, true}) {
        tarnvel::link::PeerFrameBlock block;
        std::string error;
        if (!tarnvel::link::decodePeerBlock(data, size, wholeFrames, block, error))
            continue;
        if (block.byteCount > tarnvel::link::kPeerPayloadBytes)
            __builtin_trap();
        std::vector<std::uint8_t> again(tarnvel::link::kPeerBlockBytes);
        tarnvel::link::encodePeerBlock(block, again.data());
        // Header fields and the payload in use must survive the round trip.
        if (std::memcmp(again.data(), data, 4 + block.byteCount) != 0 ||
            std::memcmp(again.data() + 5826, data + 5826, 14) != 0)
            __builtin_trap();
    }
    return 0;
}
