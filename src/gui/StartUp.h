#pragma once

#include "app/Settings.h"

#include <string>

// The desktop program's start: what the command line asks for, which drive to open, the demo
// cassette of a first start, and where the manual lies. Plain functions, tested without
// windows.
namespace tarnvel::gui {

struct DesktopArgs {
    std::string driveSpec; // --drive: a sim::DriveSpec
    bool realtime = false; // --realtime: simulated drives at deck speed
};

// Which drive the deck opens.
struct DriveChoice {
    std::string spec;           // for sim::openDriveObject ("" : the drives found)
    bool explicitDrive = false; // used whatever the instance number
    bool offerDemo = false;     // nothing found: ask whether to open the demo cassette
};

// --drive wins; then a real drive that was found; then the instance's cassette of
// `SimCassettes` (with `SimulatedDrive` on); else, with `SimulatedDrive` on, the demo offer.
DriveChoice chooseDrive(const DesktopArgs& args, const app::Settings& settings, int instance,
                        bool realDriveFound);

// The demo cassette of an instance in the user's data folder: $XDG_DATA_HOME/tarnvel/demo.tvs
// (demo-2.tvs for the second instance: a cassette is in one drive at a time), or the same
// under ~/.local/share.
std::string demoCassettePath(int instance, const char* xdgDataHome, const char* home);
std::string demoCassettePath(int instance); // from the environment
// Makes the demo cassette (and its folder) unless it exists. False with `error`.
bool ensureDemoCassette(const std::string& path, std::string& error);
// The accepted demo cassette becomes the instance's cassette of `SimCassettes`. The list
// names the drives in order without empty places, so the second instance's cassette needs
// one for the first: `firstInstancePath` is written there when it is missing.
void rememberCassette(app::Settings& settings, int instance, const std::string& path,
                      const std::string& firstInstancePath);

// The HTML manual: installed beside the program (../share/tarnvel/manual.html), or the one of
// the build tree. Empty when neither exists.
std::string findManual(const std::string& executableDir, const std::string& buildManual);

// A third start: asks the second instance to bring its window to the front, over its socket
// in the runtime folder. True when it was asked.
bool raiseSecondInstance(const std::string& runtimeFolder);

} // namespace tarnvel::gui
