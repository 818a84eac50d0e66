#pragma once

#include "dat/DatDrive.h"
#include "scsi/SgIo.h"

#include <memory>
#include <string>

// Turning a drive specification into a drive object: a kernel device node, a simulated
// drive with a cassette, a read-only drive over a tape image, or the first audio-capable drive
// found.
namespace tarnvel::sim {

// What a drive specification names. Every program (the command line's --drive, the desktop
// program's) reads its specification here.
struct DriveSpec {
    enum class Kind {
        FirstFound, // empty: the first audio-capable tape drive (SPTI mode)
        Device,     // "/dev/sgN" (ASPI mode) or "/dev/nstN" (SPTI mode)
        Simulated,  // "sim:CASSETTE": a simulated drive holding that cassette file
        Image,      // "image:FILE.TVI": a read-only drive over that tape image
        Unknown,    // anything else
    };
    Kind kind = Kind::FirstFound;
    std::string path; // the device node, cassette or image
};
DriveSpec parseDriveSpec(const std::string& spec);

struct DriveRequest {
    // A drive specification (DriveSpec).
    std::string spec;
    bool realtime = false; // simulated drives run at deck speed
    // Non-empty: the command log file, opened after the scan and before the drive is
    // identified (as at start-up).
    std::string logFile;
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

// True when the specification names an in-process drive ("sim:" or "image:"), which has no
// device node.
bool isSimulatedSpec(const std::string& spec);

} // namespace tarnvel::sim
