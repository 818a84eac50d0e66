#pragma once

#include "link/PeerLink.h"
#include "record/PeerSource.h"
#include "record/Recorder.h"

#include <atomic>
#include <functional>
#include <string>

// The other instance's blocks as they arrive over the instance link's socket: the receiving
// side of a copy between two drives.
namespace tarnvel::record {

// The replies of a run, sent over the link. A refusal carries `reason` when one is set, so
// that the other instance can say why its copy did not start.
class LinkReplies final : public PeerReplies {
public:
    explicit LinkReplies(link::PeerServer& server) : server_(server) {}
    void reply(link::PeerState state) override
    {
        if (state == link::PeerState::Refused && reason)
            server_.refuse(reason());
        else
            server_.reply(state);
    }
    // Called on the thread that refuses (the window thread).
    std::function<std::string()> reason;

private:
    link::PeerServer& server_;
};

class LinkPeerSource final : public RecordSource {
public:
    // `stopRequested` is the engine's StopRequested flag: a wait for a block gives up on it.
    LinkPeerSource(link::PeerServer& server, const std::atomic<bool>& stopRequested)
        : server_(server), stop_(stopRequested)
    {
    }

    // Window thread: a run begins (whole frames for a frame-for-frame copy).
    void begin(bool wholeFrames);

    // Producer thread: asks for the next block (reply 3) and waits for it. The link has
    // checked its form; the frame sizes are checked here.
    bool wholeFrames() const override { return wholeFrames_; }
    std::uint32_t read(std::uint8_t* buffer, std::uint32_t bytes) override;
    const BlockFormat* blockFormat() const override { return wholeFrames_ ? nullptr : &format_; }
    const std::string& failure() const override { return failure_; }
    void wake() override { server_.wake(); }

private:
    link::PeerServer& server_;
    const std::atomic<bool>& stop_;
    bool wholeFrames_ = false;
    BlockFormat format_;
    std::string failure_;
    link::PeerFrameBlock block_;
};

} // namespace tarnvel::record
