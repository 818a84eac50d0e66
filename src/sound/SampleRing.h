#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace tarnvel::sound {

// The ring of equal buffers between a device object's thread and the device's real-time
// callback: one single-producer single-consumer byte ring.
//
// Two monotonic 64-bit byte counters, each written by one side only:
// - `written`: advanced by the producer after it has filled bytes (store with release); the
//   consumer loads it with acquire before it reads those bytes.
// - `consumed`: advanced by the consumer after it has read bytes (store with release); the
//   producer loads it with acquire before it overwrites them.
// Player: producer = PlayThread, consumer = the device callback. Recorder: producer = the device
// callback, consumer = RecThread. Neither side ever waits for the other inside the callback.
//
// The display thread reads monitor data without taking part in the hand-off: it copies only
// published bytes and then bumps `monitorReads` (release); the side that overwrites the ring
// loads it (acquire) before writing, which orders the copy before any later overwrite.
//
// The memory is allocated outside a run and reused while count and size stay the same; the
// usable start is 8-byte aligned.
class SampleRing {
public:
    // Main thread, no run active. `copies` reserves further rings behind the first (monitor
    // output). False when the memory cannot be had.
    bool allocate(std::uint32_t count, std::uint32_t bufferBytes, std::uint32_t copies = 1)
    {
        if (count == count_ && bufferBytes == bufferBytes_ && copies == copies_ && memory_)
            return true;
        const std::uint64_t total = static_cast<std::uint64_t>(count) * bufferBytes;
        if (count == 0 || bufferBytes == 0 || total * copies > 0x7FFFFFFFu)
            return false;
        memory_.reset(new (std::nothrow) std::uint8_t[total * copies + 8]());
        if (!memory_) {
            count_ = bufferBytes_ = copies_ = 0;
            return false;
        }
        const auto address = reinterpret_cast<std::uintptr_t>(memory_.get());
        start_ = memory_.get() + ((8 - address % 8) % 8);
        count_ = count;
        bufferBytes_ = bufferBytes;
        copies_ = copies;
        total_ = static_cast<std::uint32_t>(total);
        return true;
    }
    void release()
    {
        memory_.reset();
        start_ = nullptr;
        count_ = bufferBytes_ = copies_ = total_ = 0;
    }

    // Main thread, no run active: empties the counters and fills every copy with `value`.
    void reset(std::uint8_t value)
    {
        if (start_)
            std::memset(start_, value, static_cast<std::size_t>(total_) * copies_);
        written.store(0, std::memory_order_relaxed);
        consumed.store(0, std::memory_order_relaxed);
    }

    std::uint8_t* start() const { return start_; }
    std::uint8_t* buffer(std::uint32_t index, std::uint32_t copy = 0) const
    {
        return start_ + static_cast<std::size_t>(copy) * total_ +
               static_cast<std::size_t>(index) * bufferBytes_;
    }
    std::uint32_t count() const { return count_; }
    std::uint32_t bufferBytes() const { return bufferBytes_; }
    std::uint32_t totalBytes() const { return total_; }
    bool allocated() const { return start_ != nullptr; }

    // Copies `bytes` bytes starting at ring offset `offset` (wrapping at the end).
    void copyOut(std::uint32_t offset, std::uint8_t* dest, std::uint32_t bytes) const
    {
        const std::uint32_t first = bytes < total_ - offset ? bytes : total_ - offset;
        std::memcpy(dest, start_ + offset, first);
        if (bytes > first)
            std::memcpy(dest + first, start_, bytes - first);
    }

    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> consumed{0};
    std::atomic<std::uint64_t> monitorReads{0};

private:
    std::unique_ptr<std::uint8_t[]> memory_;
    std::uint8_t* start_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t bufferBytes_ = 0;
    std::uint32_t copies_ = 0;
    std::uint32_t total_ = 0;
};

} // namespace tarnvel::sound
