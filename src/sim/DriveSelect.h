#pragma once

#include "dat/DatDrive.h"
#include "scsi/SgIo.h"

#include <functional>
#include <memory>
#include <string>

// Turning a drive specification into a drive object: a kernel device node, a simulated
// drive with a cassette, a read-only drive over a tape image, a replay of a recorded command
// exchange, or the first audio-capable drive found.
namespace tarnvel::sim {

// What a drive specification names. Every program (the command line's --drive, the desktop
// program's) reads its specification here.
struct DriveSpec {
    enum class Kind {
        FirstFound, // empty: the first audio-capable tape drive (SPTI mode)
        Device,     // "/dev/sgN" (ASPI mode) or "/dev/nstN" (SPTI mode)
        Simulated,  // "sim:CASSETTE": a simulated drive holding that cassette file
        Image,      // "image:FILE.TVI": a read-only drive over that tape image
        Replay,     // "replay:FILE": the drive of a command log written with the full
                    // exchange, or of a drive check's report
        Unknown,    // anything else
    };
    Kind kind = Kind::FirstFound;
    std::string path; // the device node, cassette, image or recording
};
DriveSpec parseDriveSpec(const std::string& spec);

struct DriveRequest {
    // A drive specification (DriveSpec).
    std::string spec;
    bool realtime = false; // simulated drives run at deck speed
    // Non-empty: the command log file, opened after the scan and before the drive is
    // identified (as at start-up).
    std::string logFile;
    // The command log (whenever it opens) gets the whole exchange as well.
    bool fullLog = false;
    // A replay answers as fast as it can instead of taking each command's recorded time.
    bool fastReplay = false;
    // Called once when a replay stops at a command that differs from the recording, with the
    // message that says where (the command then fails with "Replay differs").
    std::function<void(const std::string& message)> replayDiffers;
    // The kernel interface for device nodes; null: the real one.
    std::shared_ptr<scsi::SgIo> kernel;
};

// A drive object with its devices scanned (sequential-access devices) and the log open.
// Null with `error` set when the drive spec cannot be served.
std::unique_ptr<dat::DatDrive> openDriveObject(const DriveRequest& request, std::string& error);

struct SelectedDrive {
    std::unique_ptr<dat::DatDrive> drive;
    int index = -1;    // device index of the audio drive
    std::string error; // why there is none (a user text)
};

// The drive of the request, identified as audio capable (in audio mode). The caller ends the
// run with `drive->restoreDataMode()`. When none qualifies, every drive switched on the way
// is back in data mode, and the error names the devices that could not be used, and why.
SelectedDrive selectDrive(const DriveRequest& request);

// True when the --drive text names no device node: a simulated drive ("sim:"), a tape image
// ("image:") or a replayed drive ("replay:").
bool isSimulatedSpec(const std::string& spec);
bool isReplaySpec(const std::string& spec);
// The --drive text a selection goes by: a replay's is the recorded run's (so that the drive
// it chose is chosen again); anything else is the request's own.
std::string selectionSpec(const std::string& spec, const dat::DatDrive& drive);

} // namespace tarnvel::sim
