#include "record/LinkPeerSource.h"

#include "formats/StringPrintf.h"
#include "record/RecordFormat.h"
#include "record/RecordMessages.h"

#include <algorithm>
#include <cstring>

namespace tarnvel::record {

void LinkPeerSource::begin(bool wholeFrames)
{
    wholeFrames_ = wholeFrames;
    format_ = BlockFormat{};
    failure_.clear();
    server_.setWholeFrames(wholeFrames);
}

std::uint32_t LinkPeerSource::read(std::uint8_t* buffer, std::uint32_t bytes)
{
    if (!failure_.empty())
        return 0;
    if (!server_.takeBlock(block_, stop_)) {
        // Stop is no failure; a sender that broke the protocol is named as such, one that
        // went away (stopped, killed) as stopped.
        if (!stop_.load()) {
            const std::string fault = server_.fault();
            failure_ = fault.empty() ? std::string(tr(msg::kPeerSenderStopped)) : fault;
        }
        return 0;
    }
    if (block_.byteCount == 0)
        return 0; // the other instance has finished
    const bool wrongSize =
        wholeFrames_ ? block_.byteCount != dat::kFrameBytes
                     : block_.byteCount > frameAudioBytesForRate(static_cast<int>(block_.rate));
    if (wrongSize) {
        failure_ = formats::stringPrintf(
            tr(msg::kPeerBlockRefused),
            ("a block of " + std::to_string(block_.byteCount) + " bytes").c_str());
        return 0;
    }
    const std::uint32_t n = std::min(block_.byteCount, bytes);
    std::memcpy(buffer, block_.payload.data(), n);
    format_.rate = static_cast<int>(block_.rate);
    format_.bits = static_cast<int>(block_.bits);
    format_.emphasis = block_.emphasis != 0;
    format_.copyBits = block_.copyBits;
    format_.idChange = block_.idChange;
    return n;
}

} // namespace tarnvel::record
