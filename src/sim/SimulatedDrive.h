#pragma once

#include "scsi/ScsiTarget.h"

#include <cstdint>
#include <memory>
#include <string>

// An in-process audio DDS drive: the firmware's view of commands, unit states, sense data and
// tape motion, over a cassette file (sim/Cassette.h). It stands behind the transport's
// in-process back-end exactly where a real drive stands behind SG_IO.
namespace tarnvel::sim {

// SCSI status a command ends with after `abort` (TASK ABORTED).
inline constexpr std::uint8_t kTargetTaskAborted = 0x40;

struct SimOptions {
    // Deck speed: one frame per 1/33.33 s and winds at a realistic search speed. Otherwise
    // frames move as fast as the host asks and winds take a twentieth of the time.
    bool realtime = false;
    // 0 = first drive, 1 = second drive (its product text and target id differ).
    int unit = 0;
    // Report a product identification containing "SDT-9000" and behave like that model
    // (a short not-ready time after each motion; no position until a frame is read after
    // a rewind or load).
    bool sdt9000 = false;
    // How long a newly inserted (or reloaded) cassette takes to cue before it is ready.
    int cueMilliseconds = 1000;
    // Model drives whose WRITE(6) right after READ(6)s (no LOCATE, REWIND or LOAD between)
    // lands this many frames late, behind their read-ahead. 0 = the write lands in place.
    int misplacedWriteFrames = 0;
    // Multiplies every motion time (winds, searches, load). 0 = the speed's default (1 at
    // deck speed, 0.05 otherwise). Tests may shorten motions further.
    double motionScale = 0.0;
};

class SimulatedDrive : public scsi::ScsiTarget {
public:
    // A drive holding the cassette at `cassettePath` (locked while held; a cassette another
    // drive holds is refused), or an empty drive when the path is empty. The drive powers on
    // in data mode with a pending power-on unit attention. The cassette is where the last
    // drive that held it left it (a threaded tape is ready at once), as after switching the
    // drive off and on with it inside; a cassette never held cues for `cueMilliseconds`. A
    // cassette file that cannot be written is write-protected. The drive keeps its state with
    // the cassette as it goes (docs/cassette-format.md). On failure returns nullptr and sets
    // `error` to a user text.
    static std::unique_ptr<SimulatedDrive> open(const std::string& cassettePath,
                                                const SimOptions& options, std::string& error);
    // A read-only drive over a tape image (sim/ImageTape.h): the image is a write-protected
    // tape whose frames are the image's, threaded from its beginning; its product text is
    // "IMAGE DRIVE". On failure returns nullptr and sets `error` to a user text.
    static std::unique_ptr<SimulatedDrive> openImage(const std::string& imagePath,
                                                     const SimOptions& options, std::string& error);

    ~SimulatedDrive() override;
    SimulatedDrive(const SimulatedDrive&) = delete;
    SimulatedDrive& operator=(const SimulatedDrive&) = delete;

    std::uint8_t hostAdapter() const override;
    std::uint8_t targetId() const override;
    scsi::TargetReply command(const std::uint8_t* cdb, std::size_t cdbLength,
                              scsi::DataDirection direction, std::uint8_t* buffer,
                              std::uint32_t length) override;
    // Thread-safe: ends a command that waits (a motion without the immediate bit, a frame at
    // deck speed) with kTargetTaskAborted; the tape stops where it is. Idle when no command
    // runs.
    scsi::AbortAnswer abort() override;

    // The user's hand at the drive. Thread-safe.
    // Puts a cassette in (the drive must be empty); unit attention, then cueing from the
    // beginning of the tape.
    bool insertCassette(const std::string& cassettePath, std::string& error);
    // Takes the cassette out whatever the drive is doing (and unlocks its file).
    void removeCassette();
    // A bus or device reset: motion stops, data mode again, unit attention 0x29 once.
    void reset();

    // Observations for tests and displays. Thread-safe.
    struct Observation {
        bool hasCassette = false;
        bool loaded = false;       // threaded and ready (or moving)
        bool moving = false;       // a wind, search, load or unload is under way
        bool audioMode = false;    // density 0x80 selected
        std::int64_t head = 0;     // frame index under the head
        int misplacedWrites = 0;   // WRITE(6)s that landed late (see misplacedWriteFrames)
        std::string lastFileError; // why the cassette file last failed (hardware error sense)
    };
    Observation observe() const;
    const SimOptions& options() const;

private:
    struct State;
    explicit SimulatedDrive(std::unique_ptr<State> state);
    static std::unique_ptr<SimulatedDrive> withOptions(const SimOptions& options);
    std::unique_ptr<State> state_;
};

} // namespace tarnvel::sim
