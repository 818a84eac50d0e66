#pragma once

#include "app/DisplaySamples.h"
#include "common/MessageSink.h"
#include "dat/IdTable.h"

#include <cstdint>
#include <string>
#include <string_view>

// What the deck shows and asks: the main window's controls by name, the displays and the
// message boxes. The Qt main window, the command line and the tests implement it. Every call
// comes on the window thread.
namespace tarnvel::engine {

// The main window's controls the deck changes, under their own names.
enum class Control : int {
    // Transport (enabled and disabled together).
    EjectButton,
    REW_Button,
    FF_Button,
    PrevPNoButton,
    NextPNoButton,
    SearchStartButton,
    Mem2StopLabel,
    Mem2StopCheckBox,
    SearchH2Edit,
    SearchM2Edit,
    SearchS2Edit,
    SearchF2Edit,
    PlayToFileButton,
    PlayButton,
    RecFromFileButton,
    RecButton,
    WriteID_Button,
    EraseID_Button,
    // Run controls.
    PauseButton,
    StopButton,
    MuteButton,
    AutoID_CheckBox,
    AutoIdReadyMark,
    // Position meter page buttons.
    PM_PageUpSpeedButton,
    PM_PageDownSpeedButton,
    // Texts.
    RunningStatusStaticText,
    ErrorStatusStaticText,
    ErrorLchStaticText,
    ErrorRchStaticText,
    AbsTimeErrorStaticText,
    FormatStaticText,
    EmphStaticText,
    CopyStatusStaticText,
    ProgNumStaticText,
    IDStaticText,
    DeviceStaticText,
    WriteID_Edit,
    ID_GroupBox,
    TapeLengthComboBox,
    Count_ // number of controls
};

// The control's object name in the main window ("PlayButton"), as tests and logs name it.
std::string_view controlName(Control c);

// Colours of the status lines: the normal face colour, or the recording colours.
enum class StatusColours { Normal, Recording, Paused };

// Keys held with a user action.
struct Modifiers {
    bool shift = false;
    bool ctrl = false;
};

enum class Buttons { Ok, YesNo, OkCancel };

// The answer to a question, with the Shift state when the box was dismissed.
struct Answer {
    bool yes = false; // Yes or OK
    bool shift = false;
};

// The three lines of the time display.
struct TimeTexts {
    std::string abs;
    std::string pgm;
    std::string run;
};

// One refresh of the level meters, the waveform and the X-Y display.
struct DisplayRefresh {
    const app::DisplaySamples* samples = nullptr; // valid during the call only
    bool drawWaveform = false;                    // the waveform is redrawn every second refresh
    int refreshesPerSecond = 0;
};

// The position meter as numbers; the drawing is the view's.
struct PositionMeterView {
    int startSeconds = 0;
    int endSeconds = 900;
    int page = 0;
    int positionSeconds = 0; // the current ABS time (0 in the lead-in)
    bool autoLength = true;  // "Auto": a moving 15-minute window
    bool virtualIdMode = false;
    bool searchBoxShown = false;
    std::string searchBoxText; // "Search to" box during a meter search
    // The IDs the meter marks: the tape's, or the virtual IDs in virtual ID mode. A copy
    // taken while no engine thread was reading the tape.
    dat::IdTable ids;
};

// Windows the deck tells about its state (the ID list, the setup dialog).
enum class DeckEvent {
    DeckBusy,       // value: 1 a transport operation or a run starts, 0 it ended
    PlayActive,     // playback to a sound device
    FilePlayActive, // playback to a file without sound
    RecActive,      // recording
    IdListSelect,   // value: ABS seconds of the ID found by a program-number search
    // Recording from files, an image or the other instance (the record loop).
    FileRecActive,
    // value: ABS seconds of the ID that changed on tape.
    TapeIdListChanged,
    // value: ABS seconds of the virtual ID that changed (0 after an erase).
    VirtualIdListChanged,
    // value: 1 on, 0 off (V_ID_ModeCheckBox follows).
    VirtualIdMode,
};

// A save dialog: its title, filter ("Name (*.EXT)|*.EXT"), default extension, and the folder
// and name it starts with; overwriting an existing file asks first.
struct SaveFileQuestion {
    std::string title;
    std::string filter;
    std::string defaultExtension;
    std::string folder;
    std::string name;
};

class DeckView : public MessageSink {
public:
    ~DeckView() override = default;

    virtual void setEnabled(Control /*c*/, bool /*enabled*/) {}
    virtual void setVisible(Control /*c*/, bool /*visible*/) {}
    virtual void setText(Control /*c*/, const std::string& /*text*/) {}
    // Pause and mute buttons: pressed or released.
    virtual void setDown(Control /*c*/, bool /*down*/) {}
    virtual void setStatusColours(StatusColours /*colours*/) {}

    virtual void showTime(const TimeTexts& /*texts*/) {}
    virtual void showDisplays(const DisplayRefresh& /*refresh*/) {}
    // Clears the level meters, the waveform and the X-Y display.
    virtual void clearDisplays() {}
    virtual void showPositionMeter(const PositionMeterView& /*meter*/) {}
    // The subcode window: mode 2 shows a dump; `visible` false hides it.
    virtual void showSubcodeWindow(int /*mode*/, const std::string& /*text*/, bool /*visible*/) {}

    // A message box (caption empty: the program title).
    void showMessage(const std::string& text, MessageIcon icon = MessageIcon::Warning,
                     const std::string& caption = {}) override = 0;
    virtual Answer ask(const std::string& text, Buttons buttons,
                       MessageIcon icon = MessageIcon::Warning,
                       const std::string& caption = {}) = 0;
    // The chosen path, or empty when cancelled.
    virtual std::string askSaveFileName(const SaveFileQuestion& /*question*/) { return {}; }
    virtual void beep() {}
    virtual void notify(DeckEvent /*event*/, int /*value*/) {}
    // Opens the user manual (at a topic anchor when given).
    virtual void openHelp(const std::string& /*topic*/) {}
};

} // namespace tarnvel::engine
