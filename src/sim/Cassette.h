#pragma once

#include "sim/TapeMedium.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A simulated DAT cassette kept in one file (layout in docs/cassette-format.md): a header with
// the tape length and the injected faults, a 64-byte index entry per frame (recorded mark and
// subcode), a 5760-byte audio slot per frame and the state of the drive that last held it.
// Unrecorded frames are file holes and take no disk space. The file is only ever read and
// written with pread/pwrite (never mapped), so a full or failing disk is an error text, not a
// signal. The file is locked (flock) for as long as a Cassette object holds it.
// Thread: one object is used by one thread at a time (the drive serialises its commands).
namespace tarnvel::sim {

// Faults a cassette can carry, as the drive reports them.
enum class FaultKind : std::uint8_t {
    Left = 1,       // read back with the left channel interpolated
    Right = 2,      // read back with the right channel interpolated
    Both = 3,       // both channels interpolated
    Unreadable = 4, // READ(6) fails with a medium error
    WriteFail = 5,  // WRITE(6) fails with a medium error
};

// Name as the command line takes and shows it: "left", "right", "both", "unreadable",
// "write-fail".
const char* faultKindName(FaultKind kind);
bool parseFaultKind(const std::string& text, FaultKind& kind);

// A stretch of tape (frame indices, both ends included) with a fault. Faults belong to the
// tape, not to what is recorded on it: recording over a damaged stretch keeps the damage.
// A read fault may strike only some reads: each read of a frame in the stretch meets it with
// `chance` in kChanceScale, decided from the seed, the frame and how often that frame has been
// read before, so that a run is reproducible and a read again may come back clean.
struct Fault {
    static constexpr std::uint16_t kChanceScale = 10000; // chance of 1 (every read)
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    FaultKind kind = FaultKind::Unreadable;
    std::uint16_t chance = kChanceScale;
    std::uint32_t seed = 0;

    bool intermittent() const { return chance < kChanceScale; }
    // Whether the read of `frame` after `readsBefore` earlier reads meets this fault.
    bool strikes(std::int64_t frame, std::uint32_t readsBefore) const;
};

// "0.3" for a chance of 3000 in Fault::kChanceScale.
std::string chanceText(std::uint16_t chance);
// A chance as the command line takes it: a decimal number above 0 and at most 1 with at most
// four decimals ("0.3", ".25", "1").
bool parseChance(const std::string& text, std::uint16_t& chance);

class Cassette final : public TapeMedium {
public:
    static constexpr int kFramesPerMinute = 2000; // 100 frames every 3 seconds
    static constexpr int kMinMinutes = 1;
    static constexpr int kMaxMinutes = 600;
    static constexpr std::size_t kMaxFaults = 252;

    // ReadOnly shares the lock with other readers; ReadWrite holds it alone. Drive holds it
    // alone too, and takes a file it may not write as a write-protected cassette.
    enum class Access { ReadOnly, ReadWrite, Drive };

    // A new, never recorded cassette. Refuses to replace an existing file.
    static std::unique_ptr<Cassette> create(const std::string& path, int minutes,
                                            std::string& error);
    // A new cassette built under a temporary name beside `path`: it takes the name `path` only
    // with `publish`, so an interrupted build never leaves a cassette that looks complete.
    // Destroying it unpublished removes the temporary file.
    static std::unique_ptr<Cassette> createUnpublished(const std::string& path, int minutes,
                                                       std::string& error);
    // An existing cassette. A cassette that another holder has locked is refused with a clear
    // text; so is anything but a regular file (opened without blocking, so a FIFO cannot hang).
    static std::unique_ptr<Cassette> open(const std::string& path, Access access,
                                          std::string& error);

    ~Cassette(); // flushes and unlocks; an unpublished cassette is removed
    // Flushes an unpublished cassette and gives it its name, never replacing a file that
    // appeared there meanwhile.
    bool publish(std::string& error);
    Cassette(const Cassette&) = delete;
    Cassette& operator=(const Cassette&) = delete;

    const std::string& path() const override { return path_; }
    int minutes() const { return minutes_; }
    bool writeProtected() const override { return !writable_; }
    std::int64_t lengthFrames() const override { return frames_; }

    bool isRecorded(std::int64_t frame) const override;
    // The 62 subcode bytes of a recorded frame (valid while the object lives), else nullptr.
    const std::uint8_t* subcode(std::int64_t frame) const override;
    std::int64_t nextUnrecorded(std::int64_t from) const override;
    std::int64_t recordedEnd() const override;

    bool readFrame(std::int64_t frame, std::uint8_t* out, std::string& error) const override;
    bool writeFrame(std::int64_t frame, const std::uint8_t* in, std::string& error) override;

    const std::vector<Fault>& faults() const { return faults_; }
    bool addFault(const Fault& fault, std::string& error);
    // The read faults a read of `frame` meets after `readsBefore` earlier reads of it.
    ReadFault readFaultAt(std::int64_t frame, std::uint32_t readsBefore = 0) const;
    // Counts a read of `frame` and returns how often it was read before. Only frames that an
    // intermittent fault covers are counted (in the frame's index entry, so that the count
    // survives the run: the next pass over the tape reads each frame again, not anew).
    std::uint32_t noteRead(std::int64_t frame);
    ReadFault readFault(std::int64_t frame) override { return readFaultAt(frame, noteRead(frame)); }
    bool writeFailsAt(std::int64_t frame) const override;

    // The state the last drive left (false when none is kept: a new cassette, one made by an
    // earlier version, or a record that does not check out).
    bool driveState(DriveState& state) const override;
    // Keeps the drive's state with the cassette; writes only when it changed.
    bool setDriveState(const DriveState& state, std::string& error) override;

    bool flush(std::string& error) override;

private:
    struct FreeBytes {
        void operator()(std::uint8_t* p) const;
    };

    Cassette() = default;
    static std::unique_ptr<Cassette> createOn(int fd, const std::string& path, int minutes,
                                              std::string& error);
    bool load(std::string& error);
    bool readIndex(std::string& error);
    std::uint8_t* indexEntry(std::int64_t frame) const;
    bool storeFaults(std::string& error);
    std::string ioError(const char* fallback) const;

    std::string path_;
    std::string buildPath_; // the temporary name while unpublished
    int fd_ = -1;
    bool writable_ = false;
    int minutes_ = 0;
    std::int64_t frames_ = 0;
    std::uint64_t audioOffset_ = 0;
    // The index in memory (from calloc, so that the pages of unrecorded stretches stay
    // untouched, as they are holes in the file).
    std::unique_ptr<std::uint8_t, FreeBytes> index_;
    std::int64_t recordedEnd_ = 0;
    std::vector<Fault> faults_;
    bool stateKept_ = false;
    std::uint8_t stateRecord_[64] = {};
};

} // namespace tarnvel::sim
