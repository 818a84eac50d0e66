#pragma once

#include "engine/PlayToFile.h"
#include "link/PeerLink.h"

#include <atomic>
#include <string>

// The sending side of playback to the other instance, over the link's socket.
namespace tarnvel::engine {

class LinkPeerSender final : public PeerSender {
public:
    // `runtimeFolder`: where the instances' sockets are; `ownTitle`: this instance's title.
    LinkPeerSender(UiThread& ui, std::string runtimeFolder, std::string ownTitle);

    // True when the other instance answers on its socket.
    bool peerRunning() const;

    std::string peerName() const override { return link::peerTitle(ownTitle_); }
    bool requestRecording(bool wholeFrames) override;
    bool waitUntilStarted() override;
    bool send(const std::uint8_t* data, std::uint32_t bytes, const TapeFormat& format,
              bool emphasised, std::uint32_t idChange) override;
    void cancel() override { client_.cancel(); }
    void finish() override;
    std::string refusal() const override { return client_.problem(); }
    // Blocks of audio or whole frames sent in the last copy (the end block not counted).
    std::uint64_t blocksSent() const { return blocksSent_.load(); }

private:
    UiThread& ui_;
    std::string folder_;
    std::string ownTitle_;
    link::PeerClient client_;
    link::PeerFrameBlock block_; // reused: nothing is allocated per frame
    std::atomic<std::uint64_t> blocksSent_{0};
};

} // namespace tarnvel::engine
