#include "formats/SampleImage.h"

#include "common/ByteOrder.h"
#include "formats/ImageWriter.h"

#include <array>
#include <cmath>
#include <ctime>

namespace tarnvel::formats {

namespace {

constexpr int kRate = 48000;
constexpr std::size_t kPairs = dat::kAudioBytes / 4;

// One period of the 500 Hz tone (96 samples at 48 kHz); the 1 kHz tone takes every second one.
constexpr std::size_t kPeriod = kRate / 500;

std::array<std::int16_t, kPeriod> toneTable()
{
    constexpr double kTwoPi = 6.283185307179586;
    std::array<std::int16_t, kPeriod> t{};
    for (std::size_t i = 0; i < kPeriod; ++i)
        t[i] = static_cast<std::int16_t>(std::lround(8000.0 * std::sin(kTwoPi * i / kPeriod)));
    return t;
}

std::tm sampleDate()
{
    std::tm tm{};
    tm.tm_year = 126; // 2026-01-02 03:04:05, a Friday
    tm.tm_mon = 0;
    tm.tm_mday = 2;
    tm.tm_hour = 3;
    tm.tm_min = 4;
    tm.tm_sec = 5;
    tm.tm_wday = 5;
    return tm;
}

} // namespace

SampleTape::SampleTape(std::uint32_t frames) : frames_(frames)
{
    dat::initRecSubcode(frame_.subcode, state_, dat::kIdControlStart, dat::TimeCode{0, 0, 0, 0},
                        dat::kCopyPermit, 0, kRate, false, 1);
    dat::setDatePack(frame_.subcode, true, sampleDate());
}

const dat::DatFrame& SampleTape::next()
{
    if (index_ > 0) {
        dat::advanceRecSubcode(frame_.subcode, state_);
        if (index_ == frames_ / 2 && index_ > 0)
            dat::startIdRun(frame_.subcode, state_, dat::kIdControlStart, 2);
    }
    static const std::array<std::int16_t, kPeriod> kTone = toneTable();
    const std::uint64_t first = std::uint64_t{index_} * kPairs;
    for (std::size_t i = 0; i < kPairs; ++i) {
        const std::uint64_t n = first + i;
        writeLe16(&frame_.audio[4 * i], static_cast<std::uint16_t>(kTone[(2 * n) % kPeriod]));
        writeLe16(&frame_.audio[4 * i + 2], static_cast<std::uint16_t>(kTone[n % kPeriod]));
    }
    ++index_;
    return frame_;
}

bool writeSampleImage(const std::string& fileName, std::uint32_t frames, MessageSink& sink,
                      const std::atomic<bool>* stop)
{
    ImageWriter writer(sink);
    if (!writer.create(fileName, "Tarnvel sample image"))
        return false;
    SampleTape tape(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            writer.finalise(false);
            return false;
        }
        if (writer.append(tape.next()) == 0) {
            writer.finalise(false);
            return false;
        }
    }
    return writer.finalise(false);
}

} // namespace tarnvel::formats
