#pragma once

#include "dat/DatFrame.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The tape writer of a recording: the recording loop puts frames into a ring of 192 frames
// and this thread writes them to tape one WRITE(6) each, so the loop never waits on the drive.
namespace tarnvel::engine {

// Single producer (the recording loop), single consumer (the writer thread). `put` and
// `taken` only grow: the producer fills slot put % 192 and then publishes put + 1 (release);
// the consumer writes slot taken % 192 to tape and then publishes taken + 1 (release); each
// side loads the other's counter with acquire before touching a slot.
class WriteRing {
public:
    static constexpr std::uint32_t kSlots = 192;

    WriteRing() : slots_(std::make_unique<std::array<dat::DatFrame, kSlots>>()) {}

    std::uint32_t put() const { return put_.load(std::memory_order_acquire); }
    std::uint32_t taken() const { return taken_.load(std::memory_order_acquire); }
    std::uint32_t fill() const { return put() - taken(); }
    bool full() const { return fill() >= kSlots; }
    void clear()
    {
        put_.store(0, std::memory_order_release);
        taken_.store(0, std::memory_order_release);
    }
    // Producer: the slot to fill next, then publish().
    dat::DatFrame& nextFree() { return (*slots_)[put_.load(std::memory_order_relaxed) % kSlots]; }
    void publish() { put_.fetch_add(1, std::memory_order_release); }
    // Consumer: the oldest frame not yet written, then consumed().
    const dat::DatFrame& oldest() const
    {
        return (*slots_)[taken_.load(std::memory_order_relaxed) % kSlots];
    }
    void consumed() { taken_.fetch_add(1, std::memory_order_release); }

private:
    std::unique_ptr<std::array<dat::DatFrame, kSlots>> slots_;
    std::atomic<std::uint32_t> put_{0};
    std::atomic<std::uint32_t> taken_{0};
};

// What one tape write returned: written, failed, or failed at the end of the tape.
enum class WriteResult { Written, Failed, EndOfTape };

class WriteThread {
public:
    // The error after a failed write: 0 none, 1 a write failed, -1 end of tape.
    static constexpr int kErrorNone = 0;
    static constexpr int kErrorWrite = 1;
    static constexpr int kErrorEndOfTape = -1;

    // `write` issues one frame to tape (on this thread).
    explicit WriteThread(std::function<WriteResult(const dat::DatFrame&)> write);
    ~WriteThread();
    WriteThread(const WriteThread&) = delete;
    WriteThread& operator=(const WriteThread&) = delete;

    // Producer thread. Clears the counters and the error and starts writing.
    void start();
    // Copies a frame into the ring, waiting (5 ms steps) while it is full unless an error is
    // set; returns the error (0: fine).
    int putFrame(const dat::DatFrame& frame);
    // Waits until every frame put is on tape or an error is set, then stops.
    void drainAndStop();
    // Stops writing at once (frames still in the ring are not written).
    void stop();

    int error() const { return error_.load(std::memory_order_acquire); }
    std::uint32_t putCount() const { return ring_.put(); }
    std::uint32_t takenCount() const { return ring_.taken(); }
    std::uint32_t ringFill() const { return ring_.fill(); }
    bool writing() const { return active_.load(std::memory_order_acquire); }
    bool alive() const { return alive_.load(); }
    void terminate();

private:
    void run();

    std::function<WriteResult(const dat::DatFrame&)> write_;
    WriteRing ring_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool terminate_ = false;
    std::atomic<bool> enabled_{false};
    std::atomic<bool> active_{false}; // the loop is writing (not suspended)
    std::atomic<int> error_{kErrorNone};
    std::atomic<bool> alive_{false};
    std::thread thread_;
};

} // namespace tarnvel::engine
