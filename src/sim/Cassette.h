#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A simulated DAT cassette kept in one file (layout in docs/cassette-format.md): a header with
// the tape length and the injected faults, a 64-byte index entry per frame (recorded mark and
// subcode) and a 5760-byte audio slot per frame. Unrecorded frames are file holes and take no
// disk space. The file is locked (flock) for as long as a Cassette object holds it.
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
struct Fault {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    FaultKind kind = FaultKind::Unreadable;
};

// How reading a frame at one place turns out.
struct ReadFault {
    bool unreadable = false;
    bool left = false;  // interpolate the left channel
    bool right = false; // interpolate the right channel
};

class Cassette {
public:
    static constexpr int kFramesPerMinute = 2000; // 100 frames every 3 seconds
    static constexpr int kMinMinutes = 1;
    static constexpr int kMaxMinutes = 600;
    static constexpr std::size_t kMaxFaults = 252;

    enum class Access { ReadOnly, ReadWrite };

    // A new, never recorded cassette. Refuses to replace an existing file.
    static std::unique_ptr<Cassette> create(const std::string& path, int minutes,
                                            std::string& error);
    // An existing cassette; ReadWrite takes the lock exclusively, ReadOnly shared. A cassette
    // that another holder has locked is refused with a clear text.
    static std::unique_ptr<Cassette> open(const std::string& path, Access access,
                                          std::string& error);

    ~Cassette(); // flushes and unlocks
    Cassette(const Cassette&) = delete;
    Cassette& operator=(const Cassette&) = delete;

    const std::string& path() const { return path_; }
    int minutes() const { return minutes_; }
    std::int64_t lengthFrames() const { return frames_; }

    bool isRecorded(std::int64_t frame) const;
    // The 62 subcode bytes of a recorded frame (valid while the object lives), else nullptr.
    const std::uint8_t* subcode(std::int64_t frame) const;
    // First frame at or after `from` that is not recorded (lengthFrames() when none).
    std::int64_t nextUnrecorded(std::int64_t from) const;
    // One past the last recorded frame (0 for a never recorded cassette).
    std::int64_t recordedEnd() const;
    bool everRecorded() const { return recordedEnd() > 0; }

    // The 5822 bytes of a recorded frame as written (no faults applied).
    bool readFrame(std::int64_t frame, std::uint8_t* out, std::string& error) const;
    bool writeFrame(std::int64_t frame, const std::uint8_t* in, std::string& error);

    const std::vector<Fault>& faults() const { return faults_; }
    bool addFault(const Fault& fault, std::string& error);
    ReadFault readFaultAt(std::int64_t frame) const;
    bool writeFailsAt(std::int64_t frame) const;

    // Pushes everything written so far to the disk.
    bool flush(std::string& error);

private:
    Cassette() = default;
    bool mapAndCheck(std::string& error);
    std::uint8_t* indexEntry(std::int64_t frame) const;
    void storeFaults();

    std::string path_;
    int fd_ = -1;
    bool writable_ = false;
    int minutes_ = 0;
    std::int64_t frames_ = 0;
    std::uint64_t audioOffset_ = 0;
    std::uint8_t* map_ = nullptr; // header and index
    std::size_t mapBytes_ = 0;
    std::int64_t recordedEnd_ = 0;
    std::vector<Fault> faults_;
};

} // namespace tarnvel::sim
