// The drive layer's cost per frame on the play path: READ(6) through the transport and its
// log step (log off), the read-ahead ring's confirmation and the subcode parse with ID
// registration. The target answers from memory so that only our side is measured; a deck
// needs 33 1/3 frames a second.
#include "dat/DatDrive.h"
#include "dat/RecSubcode.h"
#include "scsi/ScsiStatus.h"

#include <benchmark/benchmark.h>
#include <cstring>

namespace {

using namespace tarnvel;

// Answers INQUIRY as a tape drive and every READ(6) with the next frame of a recording that
// starts a new program every 1000 frames.
class MemoryTape : public scsi::ScsiTarget {
public:
    MemoryTape()
    {
        dat::initRecSubcode(frame_.subcode, state_, dat::kIdControlStart, dat::TimeCode{0, 0, 0, 0},
                            0, 0, 48000, false, 1);
    }
    std::uint8_t hostAdapter() const override { return 0; }
    std::uint8_t targetId() const override { return 1; }
    scsi::TargetReply command(const std::uint8_t* cdb, std::size_t, scsi::DataDirection,
                              std::uint8_t* buffer, std::uint32_t length) override
    {
        if (cdb[0] == 0x12) {
            std::memset(buffer, 0, length);
            buffer[0] = 1;
            return {};
        }
        if (cdb[0] == 0x08 && length >= dat::kFrameBytes) {
            std::memcpy(buffer, frame_.data(), dat::kFrameBytes);
            if (++count_ % 1000 == 0)
                dat::startIdRun(frame_.subcode, state_, dat::kIdControlStart,
                                static_cast<int>(count_ / 1000 % 799) + 1);
            dat::advanceRecSubcode(frame_.subcode, state_);
        }
        return {};
    }

private:
    dat::DatFrame frame_;
    dat::RecSubcodeState state_;
    std::int64_t count_ = 0;
};

void BM_ReadFrameAhead(benchmark::State& state)
{
    dat::DatDrive drive(false, nullptr);
    drive.addTarget(std::make_shared<MemoryTape>());
    drive.scanDevices(scsi::kTypeSequentialAccess);
    dat::DatFrame frame;
    for (auto _ : state) {
        const dat::TapePosition* p = drive.readFrameAhead(0, frame);
        benchmark::DoNotOptimize(p);
        if (drive.getTable(0, false)->count >= dat::IdTable::kMaxEntries) {
            state.PauseTiming();
            drive.resetDrive(0);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadFrameAhead);

} // namespace

BENCHMARK_MAIN();
