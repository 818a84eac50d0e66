#include "record/PeerSource.h"

#include "formats/StringPrintf.h"
#include "record/RecordFormat.h"
#include "record/RecordMessages.h"

#include <cstring>

namespace tarnvel::record {

PeerSource::PeerSource(PeerReplies& replies, std::atomic<bool>& stopRequested)
    : replies_(replies), stopRequested_(stopRequested)
{
}

void PeerSource::begin(bool wholeFrames)
{
    std::lock_guard lock(mutex_);
    wholeFrames_ = wholeFrames;
    format_ = BlockFormat{};
    failure_.clear();
    refused_.clear();
    asked_ = false;
    pending_ = false;
    active_.store(true, std::memory_order_release);
}

void PeerSource::end()
{
    {
        std::lock_guard lock(mutex_);
        active_.store(false, std::memory_order_release);
        asked_ = false;
        pending_ = false;
    }
    arrived_.notify_all();
}

void PeerSource::wake()
{
    {
        std::lock_guard lock(mutex_);
    }
    arrived_.notify_all();
}

void PeerSource::refuse(const std::string& why)
{
    if (refused_.empty())
        refused_ = formats::stringPrintf(tr(msg::kPeerBlockRefused), why.c_str());
}

bool PeerSource::deliver(const std::uint8_t* data, std::size_t size)
{
    {
        std::lock_guard lock(mutex_);
        if (!active_.load(std::memory_order_acquire))
            return false;
        link::PeerFrameBlock b;
        std::string error;
        if (!link::decodePeerBlock(data, size, wholeFrames_, b, error)) {
            refuse(error);
        } else if (!asked_ || pending_) {
            refuse("a block that was not asked for");
        } else if (b.byteCount != 0 && wholeFrames_ && b.byteCount != dat::kFrameBytes) {
            refuse("a frame of " + std::to_string(b.byteCount) + " bytes");
        } else if (b.byteCount != 0 && !wholeFrames_ &&
                   b.byteCount > frameAudioBytesForRate(static_cast<int>(b.rate))) {
            refuse("a block of " + std::to_string(b.byteCount) + " bytes at " +
                   std::to_string(b.rate) + " Hz");
        } else {
            block_ = b;
            pending_ = true;
            asked_ = false;
        }
    }
    arrived_.notify_all();
    std::lock_guard lock(mutex_);
    return refused_.empty();
}

std::uint32_t PeerSource::read(std::uint8_t* buffer, std::uint32_t bytes)
{
    {
        std::lock_guard lock(mutex_);
        if (!refused_.empty()) {
            failure_ = refused_;
            return 0;
        }
        asked_ = true;
    }
    replies_.reply(link::PeerState::ReadyForBlock);
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] {
        return pending_ || !refused_.empty() || !active_.load(std::memory_order_acquire) ||
               stopRequested_.load();
    });
    if (!refused_.empty()) {
        failure_ = refused_;
        return 0;
    }
    if (!pending_)
        return 0; // stopped, or the run ended
    pending_ = false;
    const std::uint32_t n = std::min<std::uint32_t>(block_.byteCount, bytes);
    if (n == 0)
        return 0; // the other instance has finished
    std::memcpy(buffer, block_.payload.data(), n);
    format_.rate = static_cast<int>(block_.rate);
    format_.bits = static_cast<int>(block_.bits);
    format_.emphasis = block_.emphasis != 0;
    format_.copyBits = block_.copyBits;
    format_.idChange = block_.idChange;
    return n;
}

} // namespace tarnvel::record
