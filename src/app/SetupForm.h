#pragma once

#include "app/Settings.h"
#include "common/MessageSink.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvel::sound {
class SoundDevice;
class WavePlayer;
class WaveRecorder;
} // namespace tarnvel::sound

// The setup dialog without its widgets: every control with the setting it writes and its list
// values, the snapshot taken at each showing and put back on Cancel, the refusals while the
// deck plays or records, the driver and device changes applied to the sound objects, and the
// format lists. Window thread only.
namespace tarnvel::app {

enum class SetupPage { PlayRec = 0, SoundDevice = 1, Misc = 2 };

// The controls that write a setting (or act on a sound object), by their names. A pair of
// radio buttons is one choice control (`ExtendedFormatRadioGroup`: the HS and 24 buttons;
// `ScsiModeRadioGroup`: the ASPI and SPTI buttons).
enum class SetupControl : int {
    // "Play/Rec"
    EnableSkipPlayCheckBox,
    EnableDeEmphasisCheckBox,
    EnableErrorMuteCheckBox,
    ResetErrorAtIDCheckBox,
    WriteAbsTimeErrorFrameToFileCheckBox,
    ErrorStopCounterComboBox,
    AbsTimeErrorStopCounterComboBox,
    RecFormatComboBox,
    RecEmphBitsCheckBox,
    RecCopyBitsComboBox,
    CreateWaveFileOnRecCheckBox,
    ExtendedFormatRadioGroup,
    ExtendedFormatPlayRecBitLenComboBox,
    // "Sound device"
    DriverTypeComboBox,
    UseWFExtensibleCheckBox,
    PlayDevicesComboBox,
    ASIO_PlayChComboBox,
    PlayFullVolumeCheckBox,
    RecDevicesComboBox,
    ASIO_RecChComboBox,
    RecMonitorCheckBox,
    ASIO_DirectMonitorCheckBox,
    // "Misc."
    WaveDrawTypeComboBox,
    WaveYMagComboBox,
    WaveXMagComboBox,
    LissajousBezierCheckBox,
    CountPgmTimeCheckBox,
    CountRunTimeCheckBox,
    CountRealTimeCheckBox,
    DisplayDateCheckBox,
    WriteDateCheckBox,
    ScsiModeRadioGroup,
    Count_
};

// The device buttons of the sound page.
enum class SetupDevice { Playback, Record };

// What the format list window shows (caption, device, the 10 x 6 grid, the cell of the
// current format).
struct FormatListView {
    std::string caption; // "Playback device Format list"
    std::string deviceName;
    std::vector<std::vector<std::string>> grid;
    int selectedRow = -1;
    int selectedColumn = -1;
    bool showReducedLegend = false; // "R:Reduced bit length": record list of the JACK type
};

class SetupForm {
public:
    // The sound objects the dialog lists and switches; either may be null (its group then
    // lists "No Device").
    struct SoundObjects {
        sound::WavePlayer* player = nullptr;
        sound::WaveRecorder* recorder = nullptr;
    };
    // Called after every change of the record (`layout`: a wave display setting changed, the
    // main window lays its display area out again).
    using ChangeHandler = std::function<void(bool layout)>;

    SetupForm(Settings& settings, MessageSink& sink, SoundObjects sound);

    void setChangeHandler(ChangeHandler handler) { changed_ = std::move(handler); }

    static std::string_view controlName(SetupControl c);
    static SetupPage pageOf(SetupControl c);
    static bool isChoice(SetupControl c);
    // The caption of a check box ("Enable Skip play"), or the label of a choice.
    static std::string caption(SetupControl c);
    // Captions of the pages, the groups and the buttons.
    static std::string pageCaption(SetupPage page);

    // Showing: takes the snapshot, forgets OK, selects the page shown last.
    void show();
    // OK ("&Apply"): keeps the changes; tells about a changed SCSI mode.
    void ok();
    // Cancel or the close box: every setting takes its snapshot value again (the devices only
    // when the deck is neither playing nor recording).
    void cancel();
    bool accepted() const { return accepted_; }

    // The deck's state, from the main window's notifications.
    void setBusy(bool playing, bool filePlaying, bool recording);

    // A page tab chosen; false when it is refused (the previous page stays).
    bool selectPage(SetupPage page);
    SetupPage page() const { return page_; }

    // The list of a choice control (the device and channel lists as the sound objects give
    // them) and the item of the current value (-1: the stored value is not in the list).
    std::vector<std::string> items(SetupControl c) const;
    int selectedIndex(SetupControl c) const;
    bool checked(SetupControl c) const;
    // A user change; false when it is refused (locked, or the sound object failed: the
    // message was shown and the control keeps the value it had).
    bool select(SetupControl c, int index);
    bool setChecked(SetupControl c, bool on);
    // Usable now (not locked, and meaningful for the driver type and the devices).
    bool enabled(SetupControl c) const;
    // "Unable to change while playing." and its twins beside a locked control; empty when not.
    std::string note(SetupControl c) const;

    // The format list of a device ("Format list"; `queryOnly` when Shift is held).
    bool formatListEnabled(SetupDevice device) const;
    FormatListView formatList(SetupDevice device, bool queryOnly);
    // "Info. / Panel" (JACK only): the driver information, or with Shift the control panel.
    bool infoPanelEnabled(SetupDevice device) const;
    void infoPanel(SetupDevice device, bool shift);
    // The volume control program (`MixerCommand`); the caller starts it, and reports a
    // failure with this text.
    const std::string& mixerCommand() const { return settings_.MixerCommand; }
    static std::string mixerFailedText(const std::string& command);

    const Settings& snapshot() const { return snapshot_; }

private:
    enum class Lock { None, Playing, Recording, PlayingOrRecording };
    static Lock lockOf(SetupControl c);
    bool locked(SetupControl c) const;
    sound::SoundDevice* device(SetupDevice d) const;
    int currentValue(SetupControl c) const;
    void restoreField(SetupControl c);
    bool changeDriverType(int type);
    void applyDevicesFromSettings();
    void notifyChanged(SetupControl c);
    std::vector<std::string> deviceItems(SetupDevice d) const;
    std::vector<std::string> channelItems(SetupDevice d) const;

    Settings& settings_;
    MessageSink& sink_;
    SoundObjects sound_;
    ChangeHandler changed_;
    Settings snapshot_;
    bool accepted_ = false;
    bool playing_ = false;
    bool filePlaying_ = false;
    bool recording_ = false;
    SetupPage page_ = SetupPage::PlayRec;
    bool soundPageFilled_ = false;
};

} // namespace tarnvel::app
