#pragma once

#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"
#include "scsi/ScsiTarget.h"
#include "sim/Cassette.h"
#include "sim/SimulatedDrive.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Raw-CDB access to a simulated drive, and cassettes recorded the way the recorder does.
namespace tarnvel::sim::test {

using scsi::DataDirection;
using scsi::TargetReply;

inline int senseKey(const TargetReply& r)
{
    return r.sense[2] & 0x0F;
}
inline int asc(const TargetReply& r)
{
    return r.sense[12];
}
inline int ascq(const TargetReply& r)
{
    return r.sense[13];
}

// Options for tests: as fast as possible, a short cue and very short motions.
inline SimOptions fastOptions()
{
    SimOptions o;
    o.cueMilliseconds = 30;
    o.motionScale = 0.01;
    return o;
}

// Writes `count` frames from `from` straight into a cassette with the recorder's subcode
// rules: a START ID `program` (0 = none) at the first frame, ABS time from `abs`. Sample word
// k of frame i is sampleBase + 100 i + 10 (k mod 7).
inline void recordFrames(Cassette& c, std::int64_t from, int count, int program, dat::TimeCode abs,
                         std::int16_t sampleBase = 0)
{
    dat::DatFrame frame;
    dat::RecSubcodeState state;
    dat::initRecSubcode(frame.subcode, state, dat::kIdControlNone, abs, 0, 0, 48000, false, 0);
    if (program > 0)
        dat::startIdRun(frame.subcode, state, dat::kIdControlStart, program);
    std::string error;
    for (int i = 0; i < count; ++i) {
        for (std::size_t k = 0; k < dat::kAudioBytes / 2; ++k) {
            const auto v =
                static_cast<std::uint16_t>(sampleBase + 100 * i + 10 * static_cast<int>(k % 7));
            frame.audio[2 * k] = static_cast<std::uint8_t>(v);
            frame.audio[2 * k + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        ASSERT_TRUE(c.writeFrame(from + i, frame.data(), error)) << error;
        dat::advanceRecSubcode(frame.subcode, state);
    }
}

// A small tmpfs mounted for one test: a disk that fills up, or one that turns read-only even
// for root. Not mounted where mounting is not permitted (the test then skips).
class ScratchMount {
public:
    explicit ScratchMount(const std::string& folder, const char* size = "2m") : path_(folder)
    {
        std::filesystem::create_directories(path_);
        const std::string options = std::string("size=") + size + ",mode=0755";
        mounted_ =
            ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~ScratchMount()
    {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Nothing may be open for writing on it.
    bool remountReadOnly()
    {
        return ::mount(nullptr, path_.c_str(), nullptr,
                       MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
    }

private:
    std::string path_;
    bool mounted_ = false;
};

// A simulated drive with raw CDB helpers.
class DriveFixture : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string cassettePath = dir.file("tape.tvs");
    std::unique_ptr<SimulatedDrive> drive;

    // A fresh cassette of `minutes`, optionally filled by `fill`, in a drive.
    template <typename Fill>
    void openDrive(int minutes, Fill fill, SimOptions options = fastOptions())
    {
        std::string error;
        {
            auto c = Cassette::create(cassettePath, minutes, error);
            ASSERT_TRUE(c) << error;
            fill(*c);
        }
        drive = SimulatedDrive::open(cassettePath, options, error);
        ASSERT_TRUE(drive) << error;
    }
    void openDrive(int minutes = 1, SimOptions options = fastOptions())
    {
        openDrive(
            minutes, [](Cassette&) {}, options);
    }

    TargetReply send(std::vector<std::uint8_t> cdb, DataDirection direction = DataDirection::None,
                     std::uint8_t* buffer = nullptr, std::uint32_t length = 0)
    {
        return drive->command(cdb.data(), cdb.size(), direction, buffer, length);
    }
    TargetReply testUnitReady() { return send({0x00, 0, 0, 0, 0, 0}); }
    TargetReply modeSelectDensity(std::uint8_t density)
    {
        std::uint8_t list[12] = {0, 0, 0, 8, density, 0, 0, 0, 0, 0, 0x02, 0};
        return send({0x15, 0, 0, 0, 12, 0}, DataDirection::Out, list, sizeof list);
    }
    TargetReply locateProgram(int n, bool immediate = false)
    {
        return send({0x2B, static_cast<std::uint8_t>(immediate ? 5 : 4), 0, 0,
                     static_cast<std::uint8_t>(n / 100), static_cast<std::uint8_t>(n / 10 % 10),
                     static_cast<std::uint8_t>(n % 10), 0, 0, 0});
    }
    TargetReply locateAbs(dat::TimeCode t, bool immediate = false)
    {
        return send({0x2B, static_cast<std::uint8_t>(immediate ? 5 : 4), 0, 0x20, t.hours,
                     t.minutes, t.seconds, t.frame, 0, 0});
    }
    TargetReply rewind(bool immediate = false)
    {
        return send({0x01, static_cast<std::uint8_t>(immediate ? 1 : 0), 0, 0, 0, 0});
    }
    TargetReply readFrame(dat::DatFrame& f, std::uint32_t n = dat::kFrameBytes)
    {
        return send({0x08, 0, static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                     static_cast<std::uint8_t>(n), 0},
                    DataDirection::In, f.data(), dat::kFrameBytes);
    }
    TargetReply writeFrame(const dat::DatFrame& f)
    {
        return send({0x0A, 0, 0x00, 0x16, 0xBE, 0}, DataDirection::Out,
                    const_cast<std::uint8_t*>(f.data()), dat::kFrameBytes);
    }
    TargetReply readPosition(std::uint8_t (&reply)[20], bool audioForm = true)
    {
        return send({0x34, static_cast<std::uint8_t>(audioForm ? 1 : 0), 0, 0, 0, 0, 0, 0, 0, 0},
                    DataDirection::In, reply, sizeof reply);
    }
    static dat::TimeCode absOf(const std::uint8_t (&reply)[20])
    {
        return dat::TimeCode::fromBytes(reply + 12);
    }

    // TEST UNIT READY until good (the unit attention and the cue pass), then audio mode.
    void bringUp()
    {
        for (int i = 0; i < 400 && testUnitReady().status != scsi::kTargetGood; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(testUnitReady().status, scsi::kTargetGood);
        ASSERT_EQ(modeSelectDensity(0x80).status, scsi::kTargetGood);
    }
    // Polls until the tape stops (as the host does after an immediate command).
    void waitStopped()
    {
        for (int i = 0; i < 2000 && drive->observe().moving; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_FALSE(drive->observe().moving);
    }
};

} // namespace tarnvel::sim::test
