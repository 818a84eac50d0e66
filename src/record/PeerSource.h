#pragma once

#include "link/PeerFrameBlock.h"
#include "record/Recorder.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// The receiving side of the link between two instances: the other instance plays its tape
// and hands over one block per request; this instance records them.
namespace tarnvel::record {

// The replies this instance sends to the playing instance. Called on the producer thread
// (3: send the next block) and on the window thread (the others).
class PeerReplies {
public:
    virtual ~PeerReplies() = default;
    virtual void reply(link::PeerState state) = 0;
};

class PeerSource final : public RecordSource {
public:
    // `stopRequested` is the engine's StopRequested flag: a wait for a block gives up on it.
    PeerSource(PeerReplies& replies, std::atomic<bool>& stopRequested);

    // Window thread: a run begins (whole frames for a frame-for-frame copy) or has ended.
    // Blocks are taken only in between.
    void begin(bool wholeFrames);
    void end();
    bool active() const { return active_.load(std::memory_order_acquire); }
    PeerReplies& replies() { return replies_; }

    // The link's thread: one block as received. It is checked before anything uses it:
    // outside a run it is refused and changes nothing; during a run a block that fails the
    // checks ends the run (failure() says why). true when taken.
    bool deliver(const std::uint8_t* data, std::size_t size);
    // Any thread: a producer waiting for a block looks at the stop flag again.
    void wake() override;

    // RecordSource, producer thread: asks for the next block (reply 3) and waits for it.
    bool wholeFrames() const override { return wholeFrames_; }
    std::uint32_t read(std::uint8_t* buffer, std::uint32_t bytes) override;
    const BlockFormat* blockFormat() const override { return wholeFrames_ ? nullptr : &format_; }
    const std::string& failure() const override { return failure_; }

private:
    void refuse(const std::string& why);

    PeerReplies& replies_;
    std::atomic<bool>& stopRequested_;
    std::atomic<bool> active_{false};
    bool wholeFrames_ = false;
    BlockFormat format_;
    std::string failure_; // producer side, copied from the link side under the lock

    std::mutex mutex_;
    std::condition_variable arrived_;
    bool asked_ = false;   // a block was asked for and has not come yet
    bool pending_ = false; // a block is waiting to be taken
    std::string refused_;  // why the run must end (under the lock)
    link::PeerFrameBlock block_;
};

} // namespace tarnvel::record
