#pragma once

#include "common/Message.h"

// Captions, tooltips and texts of the desktop program's own (the windows' controls; the
// messages of the deck come from the core's tables).
namespace tarnvel::gui::msg {

// Main window: transport.
inline constexpr MessagePair kEject{"", "Eject"};
inline constexpr MessagePair kEjectTip{"", "Eject the cassette (Ctrl+E)"};
inline constexpr MessagePair kRewind{"", "REW"};
inline constexpr MessagePair kRewindTip{"", "Rewind to the beginning of the tape (Home)"};
inline constexpr MessagePair kFastForward{"", "FF"};
inline constexpr MessagePair kFastForwardTip{"", "Wind to the end of the recorded area (End)"};
inline constexpr MessagePair kPrev{"", "Prev"};
inline constexpr MessagePair kPrevTip{
    "", "Search the previous program number (Page Up; with Shift: play when found)"};
inline constexpr MessagePair kNext{"", "Next"};
inline constexpr MessagePair kNextTip{
    "", "Search the next program number (Page Down; with Shift: play when found)"};
inline constexpr MessagePair kPlay{"", "Play"};
inline constexpr MessagePair kPlayTip{
    "", "Play the tape (Space). Shift: read and hear one frame; Shift+Ctrl: one frame with "
        "its subcode dump"};
inline constexpr MessagePair kPause{"", "Pause"};
inline constexpr MessagePair kPauseTip{"", "Pause or go on (Space while running)"};
inline constexpr MessagePair kStop{"", "Stop"};
inline constexpr MessagePair kStopTip{
    "", "Stop (Esc). Esc while the deck is idle offers to abort a hanging drive command"};
inline constexpr MessagePair kRec{"", "Rec"};
inline constexpr MessagePair kRecTip{"", "Record from the sound input (Ctrl+R)"};
inline constexpr MessagePair kMute{"", "Mute"};
inline constexpr MessagePair kMuteTip{"", "Rec. Mute (Ctrl+M)"};
inline constexpr MessagePair kPlayToFile{"", "Play to file"};
inline constexpr MessagePair kPlayToFileTip{
    "", "Copy the tape to WAV files, an image file or the other deck (Ctrl+W)"};
inline constexpr MessagePair kRecFromFile{"", "Rec from file"};
inline constexpr MessagePair kRecFromFileTip{
    "", "Record WAV files or an image file to tape (Ctrl+Shift+R)"};
inline constexpr MessagePair kSetup{"", "Setup"};
inline constexpr MessagePair kSetupTip{
    "", "Settings of playback, recording, devices and displays (Ctrl+,)"};
inline constexpr MessagePair kIdList{"", "ID List"};
inline constexpr MessagePair kIdListTip{
    "", "The IDs of the tape and the virtual IDs (Ctrl+L, or a right click on the meter)"};
inline constexpr MessagePair kHelp{"", "Help"};
inline constexpr MessagePair kHelpTip{"", "The user manual (F1)"};

// Main window: search.
inline constexpr MessagePair kSearchPNoTab{"", "PNo"};
inline constexpr MessagePair kSearchMem1Tab{"", "Mem1"};
inline constexpr MessagePair kSearchMem2Tab{"", "Mem2"};
inline constexpr MessagePair kSearch{"", "Search"};
inline constexpr MessagePair kSearchTip{
    "", "Search the program number or the memorised time (Enter; with Shift: play when found)"};
inline constexpr MessagePair kTimeCapture{"", "Capture"};
inline constexpr MessagePair kTimeCaptureTip{"", "Take the current ABS time"};
inline constexpr MessagePair kMem2Stop{"", "Mem2 Stop"};
inline constexpr MessagePair kMem2StopTip{"", "Stop playback at the Mem2 time"};
inline constexpr MessagePair kTapeLength{"", "Tape:"};
inline constexpr MessagePair kTapeLengthTip{
    "", "Length of the tape in minutes for the position meter; Auto shows 15 minutes around "
        "the position"};
inline constexpr MessagePair kPageUpTip{"", "The next 10 minutes of the tape"};
inline constexpr MessagePair kPageDownTip{"", "The 10 minutes before"};
inline constexpr MessagePair kMeterTip{
    "", "Double-click the bar to search that time, an ID mark to search that ID; right click "
        "for the ID list"};

// Main window: IDs and recording.
inline constexpr MessagePair kWriteId{"", "Write ID"};
inline constexpr MessagePair kWriteIdTip{"", "Write the ID chosen at the current position"};
inline constexpr MessagePair kEraseId{"", "Erase ID"};
inline constexpr MessagePair kEraseIdTip{"", "Erase the ID of the current program"};
inline constexpr MessagePair kAutoId{"", "Auto ID"};
inline constexpr MessagePair kAutoIdTip{
    "", "Write a START ID when sound begins after the silence time below the level"};
inline constexpr MessagePair kDb{"", "dB"};
inline constexpr MessagePair kSec{"", "sec"};
inline constexpr MessagePair kMuteTime{"", "Rec. Mute time (seconds)"};

// Main window: displays and status.
inline constexpr MessagePair kFormat{"", "Format"};
inline constexpr MessagePair kEmph{"", "Emph"};
inline constexpr MessagePair kCopy{"", "Copy"};
inline constexpr MessagePair kErrors{"", "Err"};
inline constexpr MessagePair kErrorLeft{"", "L"};
inline constexpr MessagePair kErrorRight{"", "R"};
inline constexpr MessagePair kErrorAbs{"", "ABS"};
inline constexpr MessagePair kErrorCountTip{"", "Error frames; double-click to reset"};
inline constexpr MessagePair kPNo{"", "PNo"};
inline constexpr MessagePair kTimeTip{
    "", "Double-click the PGM or RUN line to reset its counter (RUN with Shift: from the ABS "
        "time)"};
inline constexpr MessagePair kErrorStatusTip{
    "", "Double-click for the details of the last error (with Shift: the last SCSI command)"};
inline constexpr MessagePair kMarginTip{"", "Headroom of the loudest peak; click to reset"};

// Dialog buttons.
inline constexpr MessagePair kOk{"", "OK"};
inline constexpr MessagePair kApply{"", "&Apply"};
inline constexpr MessagePair kCancel{"", "&Cancel"};
inline constexpr MessagePair kHelpButton{"", "&Help"};
inline constexpr MessagePair kClose{"", "&Close"};
inline constexpr MessagePair kAbout{"", "About"};
inline constexpr MessagePair kBrowse{"", "Browse"};

// Setup dialog groups.
inline constexpr MessagePair kGroupErrorFrame{"", "Error frame"};
inline constexpr MessagePair kGroupErrorCounter{"", "Error counter to stop playback"};
inline constexpr MessagePair kGroupRecording{"", "Recording (from sound device)"};
inline constexpr MessagePair kGroupPlayback{"", "Playback"};
inline constexpr MessagePair kGroupRecord{"", "Record"};
inline constexpr MessagePair kGroupWaveDisplay{"", "Wave display"};
inline constexpr MessagePair kGroupLissajous{"", "X-Y (Lissajous)"};
inline constexpr MessagePair kGroupCounter{"", "Counter"};
inline constexpr MessagePair kGroupDate{"", "Date function"};
inline constexpr MessagePair kFormatList{"", "Format list"};
inline constexpr MessagePair kInfoPanel{"", "Info. / Panel"};
inline constexpr MessagePair kVolumeControl{"", "Volume control"};

// About box.
inline constexpr MessagePair kAboutTitle{"", "About %s"};
inline constexpr MessagePair kAboutText{
    "", "A DAT deck on an audio-capable DDS tape drive.\n\nPlays, archives and records DAT "
        "tapes; writes and searches IDs; copies tape to WAV and image files with a cue list "
        "of every error frame."};
inline constexpr MessagePair kAboutVersion{"", "Version %s"};

// Start-up.
inline constexpr MessagePair kOpenDemo{
    "", "No tape drive was found.\n\nOpen the demo cassette in a simulated drive?\n(%s)"};
inline constexpr MessagePair kDemoFailed{"", "Unable to create the demo cassette:\n\n%s"};
inline constexpr MessagePair kManualMissing{
    "", "The user manual was not found.\n\n(It is installed as share/tarnvel/manual.html "
        "beside the program.)"};
inline constexpr MessagePair kBrowserFailed{"", "Unable to open the user manual:\n\n%s"};
inline constexpr MessagePair kSettingsLockFailed{"", "%s\n\nThe program runs as the first copy."};

// ID list window.
inline constexpr MessagePair kTapeIds{"", " IDs on the Tape "};
inline constexpr MessagePair kVirtualIds{"", " Virtual IDs "};
inline constexpr MessagePair kVirtualIdMode{"", "Virtual ID mode"};
inline constexpr MessagePair kDel{"", "Del."};
inline constexpr MessagePair kDelAll{"", "Del.All"};
inline constexpr MessagePair kCopyButton{"", "Copy"};
inline constexpr MessagePair kCopyAll{"", "Copy All"};
inline constexpr MessagePair kShift{"", "Shift"};
inline constexpr MessagePair kModify{"", "Modify"};
inline constexpr MessagePair kRenumber{"", "Renumber"};
inline constexpr MessagePair kSaveToFile{"", "Save to file"};
inline constexpr MessagePair kOpenFile{"", "Open file"};
inline constexpr MessagePair kRunning{"", "Running"};
inline constexpr MessagePair kVirtualIdFilter{"", "Virtual ID file (*.TVV *.tvv);;All files (*)"};
inline constexpr MessagePair kVirtualIdSaveTitle{"", "Save virtual ID file"};
inline constexpr MessagePair kVirtualIdOpenTitle{"", "Open virtual ID file"};

// Record-from-file dialog.
inline constexpr MessagePair kWaveFileRadio{"", "&Wave file"};
inline constexpr MessagePair kImageFileRadio{"", "&Image file"};
inline constexpr MessagePair kWithSound{"", "with output to Sound device"};
inline constexpr MessagePair kWriteEndId{"", "Write END ID"};
inline constexpr MessagePair kTotalRecTime{"", "Total Rec Time:"};
inline constexpr MessagePair kPreSilence{"", "Pre-Silence:"};
inline constexpr MessagePair kSilence{"", "Silence:"};
inline constexpr MessagePair kLpMode{"", "LPmode"};
inline constexpr MessagePair kEmphLabel{"", "Emph:"};
inline constexpr MessagePair kCopyLabel{"", "Copy:"};
inline constexpr MessagePair kStartPNo{"", "PNo:"};
inline constexpr MessagePair kSaveCue{"", "Save as CUE file"};
inline constexpr MessagePair kOpenCue{"", "Open CUE file"};
inline constexpr MessagePair kRegister{"", "Register"};
inline constexpr MessagePair kProperty{"", "Property"};
inline constexpr MessagePair kRegisterTitle{"", "Register Wave file"};
inline constexpr MessagePair kWaveFilter{"", "Wave file (*.WAV *.wav)"};
inline constexpr MessagePair kCueFilter{"", "Cue file (*.TVC *.tvc);;All files (*)"};
inline constexpr MessagePair kImageOpenTitle{"", "Open Image file."};
inline constexpr MessagePair kImageFilter{"", "Tarnvel Image file (*.TVI *.tvi)"};
inline constexpr MessagePair kCueSaveTitle{"", "Save as CUE file"};
inline constexpr MessagePair kCueOpenTitle{"", "Open CUE file"};

// Playback-to-file dialog.
inline constexpr MessagePair kCreateWaveFile{"", "&Wave file"};
inline constexpr MessagePair kCreateImageFile{"", "&Image file"};
inline constexpr MessagePair kRecToDat{"", "&Rec. to another DAT"};
inline constexpr MessagePair kRecImageToDat{"", "&Duplicate to another DAT by Image"};
inline constexpr MessagePair kPreReading{"", "ID pre-reading:"};
inline constexpr MessagePair kBaseFileName{
    "", "Base file name:     (Create file name: BaseFileName+PNo.WAV)"};
inline constexpr MessagePair kBaseFileTitle{"", "Base file name"};
inline constexpr MessagePair kBaseFileHint{"", "No file extent is needed."};
inline constexpr MessagePair kImageFileName{"", "Image file name:"};
inline constexpr MessagePair kImageFileTitle{"", "Image file name"};
inline constexpr MessagePair kComment{"", "Comment:"};

// Format list window.
inline constexpr MessagePair kFormatListDevice{"", "Device: %s"};

} // namespace tarnvel::gui::msg
