#include "engine/LinkPeerSender.h"

#include <cstring>

namespace tarnvel::engine {

namespace {
// How long the end-of-stream block waits for the other instance to take it.
constexpr int kEndBlockWaitMs = 3000;
} // namespace

LinkPeerSender::LinkPeerSender(UiThread& ui, std::string runtimeFolder, std::string ownTitle)
    : ui_(ui), folder_(std::move(runtimeFolder)), ownTitle_(std::move(ownTitle))
{
}

bool LinkPeerSender::peerRunning() const
{
    return link::PeerClient::peerRunning(folder_, peerName());
}

bool LinkPeerSender::requestRecording(bool wholeFrames)
{
    blocksSent_.store(0);
    return client_.start(folder_, peerName(), wholeFrames, [this](int ms) { ui_.pumpFor(ms); });
}

bool LinkPeerSender::waitUntilStarted()
{
    return client_.waitUntilStarted([this](int ms) { ui_.pumpFor(ms); });
}

bool LinkPeerSender::send(const std::uint8_t* data, std::uint32_t bytes, const TapeFormat& format,
                          bool emphasised, std::uint32_t idChange)
{
    bytes = std::min<std::uint32_t>(bytes, link::kPeerPayloadBytes);
    block_.byteCount = bytes;
    std::memcpy(block_.payload.data(), data, bytes);
    block_.rate = static_cast<std::uint32_t>(format.rate);
    block_.bits = static_cast<std::uint32_t>(format.bits);
    block_.emphasis = emphasised ? 1 : 0;
    block_.copyBits = static_cast<std::uint8_t>(format.copyBits & 3);
    block_.idChange = link::startNumberAsSent(idChange);
    if (!client_.send(block_))
        return false;
    blocksSent_.fetch_add(1);
    return true;
}

void LinkPeerSender::finish()
{
    client_.finish(kEndBlockWaitMs);
}

} // namespace tarnvel::engine
