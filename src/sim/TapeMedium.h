#pragma once

#include <cstdint>
#include <string>

// What a simulated drive holds: a tape with frames at places, faults a read or write meets,
// and a record of where the last drive left it. A cassette file (sim/Cassette.h) is one; a
// tape image read as a write-protected tape (sim/ImageTape.h) is another.
// Thread: one object is used by one thread at a time (the drive serialises its commands).
namespace tarnvel::sim {

// How one read of a frame turns out.
struct ReadFault {
    bool unreadable = false;
    bool left = false;  // interpolate the left channel
    bool right = false; // interpolate the right channel
};

// What a simulated drive keeps with the tape so that the next drive to hold it (the next run
// of the program) finds the tape where this one left it.
struct DriveState {
    enum class Media : std::uint8_t {
        NotKept = 0, // threaded from the beginning when a drive next holds it
        Loaded = 1,
        Ejected = 2,
    };
    enum class Motion : std::uint8_t { None = 0, Stop = 1, Eject = 2 };
    Media media = Media::NotKept;
    std::uint32_t head = 0; // frame under the head at rest, or where the motion began
    // A wind or search under way: it turns at `via` and ends at `to`; the times are wall-clock
    // microseconds since 1970 (start of the wind, turning point, arrival).
    Motion motion = Motion::None;
    std::uint32_t via = 0;
    std::uint32_t to = 0;
    std::int64_t moveStartUs = 0;
    std::int64_t viaUs = 0;
    std::int64_t moveEndUs = 0;
    bool operator==(const DriveState&) const = default;
};

class TapeMedium {
public:
    virtual ~TapeMedium() = default;

    virtual const std::string& path() const = 0;
    virtual bool writeProtected() const = 0;
    virtual std::int64_t lengthFrames() const = 0;

    virtual bool isRecorded(std::int64_t frame) const = 0;
    // The 62 subcode bytes of a recorded frame (valid until the next call on this object),
    // else nullptr.
    virtual const std::uint8_t* subcode(std::int64_t frame) const = 0;
    // First frame at or after `from` that is not recorded (lengthFrames() when none).
    virtual std::int64_t nextUnrecorded(std::int64_t from) const = 0;
    // One past the last recorded frame (0 for a never recorded tape).
    virtual std::int64_t recordedEnd() const = 0;
    bool everRecorded() const { return recordedEnd() > 0; }

    // The 5822 bytes of a recorded frame as written (no faults applied).
    virtual bool readFrame(std::int64_t frame, std::uint8_t* out, std::string& error) const = 0;
    virtual bool writeFrame(std::int64_t frame, const std::uint8_t* in, std::string& error) = 0;

    // How this read of the frame turns out. A medium with faults that strike only some reads
    // counts the read.
    virtual ReadFault readFault(std::int64_t frame) = 0;
    virtual bool writeFailsAt(std::int64_t frame) const = 0;

    // The state the last drive left (false when none is kept).
    virtual bool driveState(DriveState& state) const = 0;
    virtual bool setDriveState(const DriveState& state, std::string& error) = 0;

    // Pushes everything written so far to the disk.
    virtual bool flush(std::string& error) = 0;
};

} // namespace tarnvel::sim
