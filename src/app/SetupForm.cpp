#include "app/SetupForm.h"

#include "app/AppMessages.h"
#include "formats/StringPrintf.h"
#include "sound/DeviceCatalog.h"
#include "sound/FormatTable.h"
#include "sound/SoundMessages.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <array>

namespace tarnvel::app {

namespace {

using C = SetupControl;

// One list entry: its text and the value(s) it stores.
struct Item {
    MessagePair text;
    int value;
    int value2 = 0; // RecFormatComboBox: the bit length
};

// The first item stores -1, which never stops playback; it is not named "0", since a limit of
// 0 in the settings file stops at the first error frame.
constexpr Item kErrorStopItems[] = {{{"", "Never"}, -1},
                                    {{"", "50"}, 50},
                                    {{"", "100"}, 100},
                                    {{"", "200"}, 200},
                                    {{"", "500"}, 500}};
constexpr Item kAbsErrorStopItems[] = {{{"", "Never"}, -1}, {{"", "10"}, 10},   {{"", "20"}, 20},
                                       {{"", "50"}, 50},    {{"", "100"}, 100}, {{"", "200"}, 200},
                                       {{"", "500"}, 500}};
constexpr Item kRecFormatItems[] = {
    {{"", "32000 LP"}, 32000, 12},   {{"", "32000"}, 32000, 16},      {{"", "44100"}, 44100, 16},
    {{"", "48000"}, 48000, 16},      {{"", "88200"}, 88200, 16},      {{"", "96000"}, 96000, 16},
    {{"", "44100 / 24"}, 44100, 24}, {{"", "48000 / 24"}, 48000, 24},
};
constexpr Item kCopyBitsItems[] = {{{"", "Permit"}, 0}, {{"", "Prohibit"}, 2}, {{"", "Once"}, 3}};
constexpr Item kExtendedModeItems[] = {{{"", "88200/16, 96000/16"}, 0},
                                       {{"", "44100/24, 48000/24"}, 1}};
constexpr Item kExtendedBitItems[] = {{{"", "24"}, 24}, {{"", "32"}, 32}, {{"", "F32"}, -32}};
constexpr Item kDrawTypeItems[] = {{{"", "Screen"}, 0},  {{"", "Image 1"}, 1},
                                   {{"", "Image 2"}, 2}, {{"", "DDraw 1"}, 3},
                                   {{"", "DDraw 2"}, 4}, {{"", "DDraw 3"}, 5}};
constexpr Item kMagItems[] = {{{"", "x1"}, 1}, {{"", "x2"}, 2}, {{"", "x3"}, 3},  {{"", "x4"}, 4},
                              {{"", "x6"}, 6}, {{"", "x8"}, 8}, {{"", "x10"}, 10}};
constexpr Item kScsiModeItems[] = {{{"", "ASPI"}, 1}, {{"", "SPTI"}, 0}};

struct ControlDef {
    std::string_view name;
    SetupPage page;
    MessagePair caption;
    const Item* items = nullptr; // fixed lists
    std::size_t itemCount = 0;
    bool choice = false;
};

template <std::size_t N>
constexpr ControlDef list(std::string_view name, SetupPage page, MessagePair caption,
                          const Item (&items)[N])
{
    return {name, page, caption, items, N, true};
}
constexpr ControlDef check(std::string_view name, SetupPage page, MessagePair caption)
{
    return {name, page, caption, nullptr, 0, false};
}
constexpr ControlDef dynamicList(std::string_view name, SetupPage page, MessagePair caption)
{
    return {name, page, caption, nullptr, 0, true};
}

constexpr SetupPage kP = SetupPage::PlayRec;
constexpr SetupPage kS = SetupPage::SoundDevice;
constexpr SetupPage kM = SetupPage::Misc;

constexpr ControlDef kControls[] = {
    check("EnableSkipPlayCheckBox", kP, {"", "Enable Skip play"}),
    check("EnableDeEmphasisCheckBox", kP, {"", "De-Emphasis filter"}),
    check("EnableErrorMuteCheckBox", kP, {"", "Enable mute"}),
    check("ResetErrorAtIDCheckBox", kP, {"", "Reset err.counter at each ID"}),
    check("WriteAbsTimeErrorFrameToFileCheckBox", kP, {"", "Write ABS Time err frame to file"}),
    list("ErrorStopCounterComboBox", kP, {"", "Read err:"}, kErrorStopItems),
    list("AbsTimeErrorStopCounterComboBox", kP, {"", "ABS Time err:"}, kAbsErrorStopItems),
    list("RecFormatComboBox", kP, {"", "Format:"}, kRecFormatItems),
    check("RecEmphBitsCheckBox", kP, {"", "Emphasis bit"}),
    list("RecCopyBitsComboBox", kP, {"", "Copy bits:"}, kCopyBitsItems),
    check("CreateWaveFileOnRecCheckBox", kP, {"", "Create a Wave file simultaneously"}),
    list("ExtendedFormatRadioGroup", kP, {"", "Extended format (double speed mode)"},
         kExtendedModeItems),
    list("ExtendedFormatPlayRecBitLenComboBox", kP, {"", "------- Bit length for Play/Rec:"},
         kExtendedBitItems),
    dynamicList("DriverTypeComboBox", kS, {"", "Driver:"}),
    check("UseWFExtensibleCheckBox", kS, {"", "Use EXTENSIBLE"}),
    dynamicList("PlayDevicesComboBox", kS, {"", "device:"}),
    dynamicList("ASIO_PlayChComboBox", kS, {"", "channel:"}),
    check("PlayFullVolumeCheckBox", kS, {"", "Full volume"}),
    dynamicList("RecDevicesComboBox", kS, {"", "device:"}),
    dynamicList("ASIO_RecChComboBox", kS, {"", "channel:"}),
    check("RecMonitorCheckBox", kS, {"", "Rec Monitor"}),
    check("ASIO_DirectMonitorCheckBox", kS, {"", "JACK Direct Monitor"}),
    list("WaveDrawTypeComboBox", kM, {"", "Draw type:"}, kDrawTypeItems),
    list("WaveYMagComboBox", kM, {"", "Amplitude (Y)"}, kMagItems),
    list("WaveXMagComboBox", kM, {"", "Time (X)"}, kMagItems),
    check("LissajousBezierCheckBox", kM, {"", "with Bezier"}),
    check("CountPgmTimeCheckBox", kM, {"", "Count and display PGM Time"}),
    check("CountRunTimeCheckBox", kM, {"", "Count and display RUN Time"}),
    check("CountRealTimeCheckBox", kM, {"", "Count real time in Extended format mode or LP mode"}),
    check("DisplayDateCheckBox", kM, {"", "Display Date/Time"}),
    check("WriteDateCheckBox", kM, {"", "Write Date/Time on recording"}),
    list("ScsiModeRadioGroup", kM, {"", "SCSI mode"}, kScsiModeItems),
};
static_assert(std::size(kControls) == static_cast<std::size_t>(C::Count_));

const ControlDef& def(C c)
{
    return kControls[static_cast<std::size_t>(c)];
}

// The check boxes that are plain boolean settings.
bool* boolField(Settings& s, C c)
{
    switch (c) {
    case C::EnableSkipPlayCheckBox:
        return &s.EnableSkipPlay;
    case C::EnableDeEmphasisCheckBox:
        return &s.EnableDeEmphasis;
    case C::EnableErrorMuteCheckBox:
        return &s.EnableErrorMute;
    case C::ResetErrorAtIDCheckBox:
        return &s.ResetErrorAtID;
    case C::WriteAbsTimeErrorFrameToFileCheckBox:
        return &s.WriteAbsTimeErrorFrameToFile;
    case C::CreateWaveFileOnRecCheckBox:
        return &s.CreateWaveFileOnRec;
    case C::UseWFExtensibleCheckBox:
        return &s.Use_WF_EXTENSIBLE;
    case C::PlayFullVolumeCheckBox:
        return &s.PlayWithFullVol;
    case C::RecMonitorCheckBox:
        return &s.RecMonitorOn;
    case C::LissajousBezierCheckBox:
        return &s.LissajousBezier;
    case C::CountPgmTimeCheckBox:
        return &s.CountPgmTime;
    case C::CountRunTimeCheckBox:
        return &s.CountRunTime;
    case C::CountRealTimeCheckBox:
        return &s.CountRealTime;
    case C::DisplayDateCheckBox:
        return &s.DisplayDate;
    case C::WriteDateCheckBox:
        return &s.WriteDate;
    default:
        return nullptr;
    }
}

// The integer settings of the choice controls with fixed lists (RecFormatComboBox has two).
std::int32_t* intField(Settings& s, C c)
{
    switch (c) {
    case C::ErrorStopCounterComboBox:
        return &s.ErrorStopCounter;
    case C::AbsTimeErrorStopCounterComboBox:
        return &s.AbsTimeErrorStopCounter;
    case C::RecFormatComboBox:
        return &s.RecSamplingFreq;
    case C::ExtendedFormatRadioGroup:
        return &s.ExtendedFormatMode;
    case C::ExtendedFormatPlayRecBitLenComboBox:
        return &s.ExtendedFormatBitLen;
    case C::DriverTypeComboBox:
        return &s.PlayRecDriverType;
    case C::PlayDevicesComboBox:
        return &s.PlayDeviceNum;
    case C::ASIO_PlayChComboBox:
        return &s.ASIO_PlayChNum;
    case C::RecDevicesComboBox:
        return &s.RecDeviceNum;
    case C::ASIO_RecChComboBox:
        return &s.ASIO_RecChNum;
    case C::WaveDrawTypeComboBox:
        return &s.WaveDrawType;
    case C::WaveYMagComboBox:
        return &s.WaveYDispMagRate;
    case C::WaveXMagComboBox:
        return &s.WaveXDispMagRate;
    default:
        return nullptr;
    }
}

bool isDeviceControl(C c)
{
    return c == C::DriverTypeComboBox || c == C::UseWFExtensibleCheckBox ||
           c == C::PlayDevicesComboBox || c == C::ASIO_PlayChComboBox ||
           c == C::RecDevicesComboBox || c == C::ASIO_RecChComboBox;
}

bool isDisplayControl(C c)
{
    return c == C::WaveDrawTypeComboBox || c == C::WaveYMagComboBox || c == C::WaveXMagComboBox;
}

} // namespace

SetupForm::SetupForm(Settings& settings, MessageSink& sink, SoundObjects sound)
    : settings_(settings), sink_(sink), sound_(sound), snapshot_(settings)
{
}

std::string_view SetupForm::controlName(SetupControl c)
{
    return def(c).name;
}

SetupPage SetupForm::pageOf(SetupControl c)
{
    return def(c).page;
}

bool SetupForm::isChoice(SetupControl c)
{
    return def(c).choice;
}

std::string SetupForm::caption(SetupControl c)
{
    return tr(def(c).caption);
}

std::string SetupForm::pageCaption(SetupPage page)
{
    switch (page) {
    case SetupPage::PlayRec:
        return tr(msg::kSetupPagePlayRec);
    case SetupPage::SoundDevice:
        return tr(msg::kSetupPageSoundDevice);
    case SetupPage::Misc:
        return tr(msg::kSetupPageMisc);
    }
    return {};
}

void SetupForm::show()
{
    snapshot_ = settings_;
    accepted_ = false;
}

void SetupForm::ok()
{
    accepted_ = true;
    if (settings_.ASPI != snapshot_.ASPI)
        sink_.showMessage(tr(msg::kScsiModeChangedRestart), MessageIcon::Warning,
                          tr(msg::kSetupCaptionScsiMode));
}

void SetupForm::cancel()
{
    const Settings& s = snapshot_;
    const bool layout = settings_.WaveDrawType != s.WaveDrawType ||
                        settings_.WaveXDispMagRate != s.WaveXDispMagRate ||
                        settings_.WaveYDispMagRate != s.WaveYDispMagRate;
    const bool devicesChanged =
        settings_.PlayRecDriverType != s.PlayRecDriverType ||
        settings_.Use_WF_EXTENSIBLE != s.Use_WF_EXTENSIBLE ||
        settings_.PlayDeviceNum != s.PlayDeviceNum || settings_.RecDeviceNum != s.RecDeviceNum ||
        settings_.ASIO_PlayChNum != s.ASIO_PlayChNum || settings_.ASIO_RecChNum != s.ASIO_RecChNum;
    const bool busy = playing_ || filePlaying_ || recording_;
    for (int i = 0; i < static_cast<int>(C::Count_); ++i) {
        const auto c = static_cast<C>(i);
        if (!isDeviceControl(c))
            restoreField(c);
    }
    if (devicesChanged) {
        if (busy) {
            sink_.showMessage(tr(msg::kUnableToRestoreDevices), MessageIcon::Warning,
                              tr(msg::kSetupCaptionDevice));
        } else {
            for (int i = 0; i < static_cast<int>(C::Count_); ++i) {
                const auto c = static_cast<C>(i);
                if (isDeviceControl(c))
                    restoreField(c);
            }
            applyDevicesFromSettings();
        }
    }
    accepted_ = false;
    if (changed_)
        changed_(layout);
}

void SetupForm::restoreField(SetupControl c)
{
    Settings& from = snapshot_;
    if (bool* b = boolField(settings_, c)) {
        *b = *boolField(from, c);
    } else if (std::int32_t* v = intField(settings_, c)) {
        *v = *intField(from, c);
    }
    switch (c) {
    case C::RecFormatComboBox:
        settings_.RecBitLen = from.RecBitLen;
        break;
    case C::RecEmphBitsCheckBox:
        settings_.RecEmphBits = from.RecEmphBits;
        break;
    case C::RecCopyBitsComboBox:
        settings_.RecCopyBits = from.RecCopyBits;
        break;
    case C::ScsiModeRadioGroup:
        settings_.ASPI = from.ASPI;
        break;
    default:
        break;
    }
}

void SetupForm::applyDevicesFromSettings()
{
    const auto type = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType);
    for (sound::SoundDevice* d : {device(SetupDevice::Playback), device(SetupDevice::Record)}) {
        if (d == nullptr)
            continue;
        d->setUseExtensible(settings_.Use_WF_EXTENSIBLE);
        if (d->driverType() != type)
            d->setDriverType(type);
    }
    if (sound_.player != nullptr)
        sound_.player->setFullVolume(settings_.PlayWithFullVol);
}

void SetupForm::setBusy(bool playing, bool filePlaying, bool recording)
{
    playing_ = playing;
    filePlaying_ = filePlaying;
    recording_ = recording;
}

bool SetupForm::selectPage(SetupPage page)
{
    if (page == SetupPage::SoundDevice && !soundPageFilled_) {
        if (static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType) ==
                sound::SoundDriverType::Jack &&
            (playing_ || recording_)) {
            sink_.showMessage(tr(msg::kSetupSoundTabRefused), MessageIcon::Warning,
                              tr(msg::kSetupCaptionSoundDevice));
            return false;
        }
        soundPageFilled_ = true;
    }
    page_ = page;
    return true;
}

SetupForm::Lock SetupForm::lockOf(SetupControl c)
{
    switch (c) {
    case C::RecFormatComboBox:
    case C::RecEmphBitsCheckBox:
    case C::RecCopyBitsComboBox:
    case C::CreateWaveFileOnRecCheckBox:
    case C::RecDevicesComboBox:
    case C::ASIO_RecChComboBox:
    case C::RecMonitorCheckBox:
    case C::ASIO_DirectMonitorCheckBox:
        return Lock::Recording;
    case C::PlayDevicesComboBox:
    case C::ASIO_PlayChComboBox:
    case C::PlayFullVolumeCheckBox:
        return Lock::Playing;
    case C::ExtendedFormatRadioGroup:
    case C::ExtendedFormatPlayRecBitLenComboBox:
    case C::DriverTypeComboBox:
    case C::UseWFExtensibleCheckBox:
        return Lock::PlayingOrRecording;
    default:
        return Lock::None;
    }
}

bool SetupForm::locked(SetupControl c) const
{
    const bool playing = playing_ || filePlaying_;
    switch (lockOf(c)) {
    case Lock::None:
        return false;
    case Lock::Playing:
        return playing;
    case Lock::Recording:
        return recording_;
    case Lock::PlayingOrRecording:
        return playing || recording_;
    }
    return false;
}

std::string SetupForm::note(SetupControl c) const
{
    if (!locked(c))
        return {};
    switch (lockOf(c)) {
    case Lock::Playing:
        return tr(msg::kUnableWhilePlaying);
    case Lock::Recording:
        return tr(msg::kUnableWhileRecording);
    default:
        return tr(msg::kUnableWhilePlayingRecording);
    }
}

sound::SoundDevice* SetupForm::device(SetupDevice d) const
{
    if (d == SetupDevice::Playback)
        return sound_.player;
    return sound_.recorder;
}

std::vector<std::string> SetupForm::deviceItems(SetupDevice d) const
{
    sound::SoundDevice* dev = device(d);
    if (dev == nullptr || dev->getDeviceCount() == 0)
        return {tr(sound::msg::kNoDevice)};
    const int last = dev->driverType() == sound::SoundDriverType::Jack ? dev->getDeviceCount() - 1
                                                                       : dev->getDeviceCount();
    std::vector<std::string> out;
    for (int i = 0; i <= last && i < sound::DeviceCatalog::kMaxNames; ++i)
        out.push_back(dev->getDeviceName(i));
    return out;
}

std::vector<std::string> SetupForm::channelItems(SetupDevice d) const
{
    sound::SoundDevice* dev = device(d);
    if (dev == nullptr || dev->driverType() != sound::SoundDriverType::Jack)
        return {};
    const int number =
        d == SetupDevice::Playback ? settings_.PlayDeviceNum : settings_.RecDeviceNum;
    std::vector<std::string> out;
    if (dev->openTest(number)) {
        const int count = std::min(dev->channelCount(), 32);
        for (int ch = 0; ch < count; ++ch)
            out.push_back(dev->channelName(ch));
    }
    if (out.empty())
        out.push_back(tr(sound::msg::kNotAvailable));
    return out;
}

std::vector<std::string> SetupForm::items(SetupControl c) const
{
    switch (c) {
    case C::DriverTypeComboBox: {
        std::vector<std::string> out;
        for (int t = 0; t < sound::kDriverTypeCount; ++t)
            out.emplace_back(sound::driverTypeName(static_cast<sound::SoundDriverType>(t)));
        return out;
    }
    case C::PlayDevicesComboBox:
        return deviceItems(SetupDevice::Playback);
    case C::RecDevicesComboBox:
        return deviceItems(SetupDevice::Record);
    case C::ASIO_PlayChComboBox:
        return channelItems(SetupDevice::Playback);
    case C::ASIO_RecChComboBox:
        return channelItems(SetupDevice::Record);
    default:
        break;
    }
    std::vector<std::string> out;
    const ControlDef& d = def(c);
    for (std::size_t i = 0; i < d.itemCount; ++i)
        out.emplace_back(tr(d.items[i].text));
    return out;
}

int SetupForm::currentValue(SetupControl c) const
{
    if (const std::int32_t* v = intField(settings_, c))
        return *v;
    if (c == C::ScsiModeRadioGroup)
        return settings_.ASPI ? 1 : 0;
    if (c == C::RecCopyBitsComboBox)
        return settings_.RecCopyBits;
    return 0;
}

int SetupForm::selectedIndex(SetupControl c) const
{
    const ControlDef& d = def(c);
    if (!d.choice)
        return -1;
    if (d.items == nullptr) {
        const int n = static_cast<int>(items(c).size());
        const int v = currentValue(c);
        return v >= 0 && v < n ? v : -1;
    }
    for (std::size_t i = 0; i < d.itemCount; ++i) {
        const Item& item = d.items[i];
        if (item.value != currentValue(c))
            continue;
        if (c == C::RecFormatComboBox && item.value2 != settings_.RecBitLen)
            continue;
        return static_cast<int>(i);
    }
    return -1;
}

bool SetupForm::checked(SetupControl c) const
{
    if (const bool* b = boolField(settings_, c))
        return *b;
    if (c == C::RecEmphBitsCheckBox)
        return settings_.RecEmphBits != 0;
    if (c == C::ASIO_DirectMonitorCheckBox)
        return false;
    return false;
}

bool SetupForm::enabled(SetupControl c) const
{
    if (locked(c))
        return false;
    const bool jack = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType) ==
                      sound::SoundDriverType::Jack;
    const auto hasDevices = [this](SetupDevice d) {
        const sound::SoundDevice* dev = device(d);
        return dev != nullptr && dev->getDeviceCount() > 0;
    };
    switch (c) {
    case C::PlayDevicesComboBox:
        return hasDevices(SetupDevice::Playback);
    case C::RecDevicesComboBox:
        return hasDevices(SetupDevice::Record);
    case C::ASIO_PlayChComboBox:
        return jack && hasDevices(SetupDevice::Playback);
    case C::ASIO_RecChComboBox:
    case C::ASIO_DirectMonitorCheckBox:
        return jack && hasDevices(SetupDevice::Record);
    default:
        return true;
    }
}

bool SetupForm::select(SetupControl c, int index)
{
    const ControlDef& d = def(c);
    if (!d.choice || locked(c) || index < 0 || index >= static_cast<int>(items(c).size()) ||
        !enabled(c))
        return false;
    if (index == selectedIndex(c))
        return true;
    switch (c) {
    case C::DriverTypeComboBox:
        if (!changeDriverType(index))
            return false;
        break;
    case C::ScsiModeRadioGroup:
        settings_.ASPI = d.items[index].value != 0;
        break;
    case C::RecCopyBitsComboBox:
        settings_.RecCopyBits = static_cast<std::uint8_t>(d.items[index].value);
        break;
    case C::RecFormatComboBox:
        settings_.RecSamplingFreq = d.items[index].value;
        settings_.RecBitLen = d.items[index].value2;
        break;
    default:
        if (d.items != nullptr)
            *intField(settings_, c) = d.items[index].value;
        else
            *intField(settings_, c) = index; // device and channel numbers
        if (c == C::PlayDevicesComboBox)
            settings_.ASIO_PlayChNum = 0;
        if (c == C::RecDevicesComboBox)
            settings_.ASIO_RecChNum = 0;
        break;
    }
    notifyChanged(c);
    return true;
}

bool SetupForm::changeDriverType(int type)
{
    const auto t = static_cast<sound::SoundDriverType>(type);
    for (sound::SoundDevice* dev : {device(SetupDevice::Playback), device(SetupDevice::Record)}) {
        if (dev == nullptr || dev->driverType() == t)
            continue;
        if (dev->setDriverType(t)) {
            // The type cannot be loaded: both objects go back to the type they had.
            const std::string why = dev->getErrorText();
            const auto old = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType);
            for (sound::SoundDevice* back :
                 {device(SetupDevice::Playback), device(SetupDevice::Record)})
                if (back != nullptr && back->driverType() != old)
                    back->setDriverType(old);
            sink_.showMessage(formats::stringPrintf("%s\n\n%s",
                                                    tr(sound::msg::kUnableToLoadSelectedDriver),
                                                    why.c_str()),
                              MessageIcon::Warning, tr(msg::kSetupCaptionDriver));
            return false;
        }
    }
    settings_.PlayRecDriverType = type;
    settings_.ASIO_PlayChNum = 0;
    settings_.ASIO_RecChNum = 0;
    return true;
}

bool SetupForm::setChecked(SetupControl c, bool on)
{
    if (def(c).choice || locked(c) || !enabled(c))
        return false;
    if (checked(c) == on)
        return true;
    switch (c) {
    case C::ASIO_DirectMonitorCheckBox:
        if (sound_.recorder == nullptr)
            return false;
        if (!sound_.recorder->directMonitor(settings_.RecDeviceNum, on) && on) {
            sink_.showMessage(tr(sound::msg::kDirectMonitorNotSupported), MessageIcon::Warning,
                              tr(msg::kSetupCaptionDirectMonitor));
            return false;
        }
        return true;
    case C::RecEmphBitsCheckBox:
        settings_.RecEmphBits = on ? 1 : 0;
        break;
    default:
        *boolField(settings_, c) = on;
        break;
    }
    if (c == C::UseWFExtensibleCheckBox || c == C::PlayFullVolumeCheckBox)
        applyDevicesFromSettings();
    notifyChanged(c);
    return true;
}

void SetupForm::notifyChanged(SetupControl c)
{
    if (changed_)
        changed_(isDisplayControl(c));
}

bool SetupForm::formatListEnabled(SetupDevice d) const
{
    const sound::SoundDevice* dev = device(d);
    if (dev == nullptr || dev->getDeviceCount() == 0)
        return false;
    return d == SetupDevice::Playback ? !(playing_ || filePlaying_) : !recording_;
}

FormatListView SetupForm::formatList(SetupDevice d, bool queryOnly)
{
    FormatListView v;
    sound::SoundDevice* dev = device(d);
    const bool record = d == SetupDevice::Record;
    v.caption =
        std::string(tr(record ? sound::msg::kFormatListRecord : sound::msg::kFormatListPlayback)) +
        tr(sound::msg::kFormatListCaption);
    const int number = record ? settings_.RecDeviceNum : settings_.PlayDeviceNum;
    sound::FormatTable table;
    if (dev != nullptr && formatListEnabled(d)) {
        table = dev->probeFormats(number, queryOnly);
        v.deviceName = dev->getDeviceName(number);
    }
    v.grid = sound::formatListGrid(table);
    int bits = 16;
    std::uint32_t rate = 48000;
    if (record) {
        // Long play is recorded from 16-bit input.
        bits = settings_.RecBitLen == 12 ? 16 : settings_.RecBitLen;
        rate = static_cast<std::uint32_t>(settings_.RecSamplingFreq);
    } else if (dev != nullptr) {
        const formats::WaveFormat& f = dev->getFormat();
        bits = f.isFloat() ? -32 : f.bitsPerSample;
        rate = f.samplesPerSec;
    }
    const auto [row, column] = sound::formatListSelection(bits, rate);
    v.selectedRow = row;
    v.selectedColumn = column;
    v.showReducedLegend =
        record && static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType) ==
                      sound::SoundDriverType::Jack;
    return v;
}

bool SetupForm::infoPanelEnabled(SetupDevice d) const
{
    const sound::SoundDevice* dev = device(d);
    return dev != nullptr && dev->driverType() == sound::SoundDriverType::Jack &&
           dev->getDeviceCount() > 0;
}

void SetupForm::infoPanel(SetupDevice d, bool shift)
{
    sound::SoundDevice* dev = device(d);
    if (!infoPanelEnabled(d))
        return;
    const bool record = d == SetupDevice::Record;
    const int number = record ? settings_.RecDeviceNum : settings_.PlayDeviceNum;
    if (shift) {
        if (!dev->controlPanel(number))
            sink_.showMessage(tr(sound::msg::kUnableToOpenControlPanel), MessageIcon::Warning,
                              tr(msg::kSetupCaptionControlPanel));
        return;
    }
    std::string text;
    if (dev->driverInfoText(number, record ? settings_.ASIO_RecChNum : settings_.ASIO_PlayChNum,
                            text))
        sink_.showMessage(text, MessageIcon::Information, tr(msg::kSetupCaptionSoundDevice));
    else
        sink_.showMessage(dev->getErrorText(), MessageIcon::Warning,
                          tr(msg::kSetupCaptionSoundDevice));
}

std::string SetupForm::mixerFailedText(const std::string& command)
{
    return formats::stringPrintf(tr(msg::kMixerFailed), command.c_str());
}

} // namespace tarnvel::app
