#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tarnvel::app {

// How a key's text becomes a field and back.
enum class SettingKind {
    SmallInteger, // std::uint8_t, leading decimal integer
    Integer,      // std::int32_t, leading decimal integer
    Boolean,      // bool, leading decimal integer, non-zero = true; written "0" / "1"
    Text,         // std::string, unchanged (at most kMaxTextLength bytes)
    Directory,    // std::string, normalised and probed; always ends with "/"
    Colour,       // std::int32_t, decimal or "0x" hexadecimal; written "0x%08X"
};

// One row of the settings table.
struct SettingKey {
    const char* section;
    const char* key;
    SettingKind kind;
    std::int64_t lower; // bounds of the numeric kinds; a default is never checked against them
    std::int64_t upper;
    std::int64_t defaultNumber;
    const char* defaultText; // Text kind; Directory defaults to the program's directory
    bool saved;              // written back by the save
};

// Longer texts are cut (at a character boundary): room for any path, but no unbounded values.
inline constexpr std::size_t kMaxTextLength = 4096;
inline constexpr std::int64_t kNoLower = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int64_t kNoUpper = std::numeric_limits<std::int32_t>::max();

// Placement of a window as stored in "Window" and "SetupDialog". A width or height of 0
// means the window's designed size; the status texts are stored and restored as they are.
struct WindowPlacement {
    std::int32_t PosX = 0;
    std::int32_t PosY = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::string Maximized; // main window only: "Y" when maximised, else empty
    std::string Status;
    bool operator==(const WindowPlacement&) const = default;
};

// The in-memory settings record: one field per key, named as the key. A default-constructed
// record holds every key's default from the table (directories empty: their default is the
// program's directory, which only the loader knows).
// Plain data; read and changed on the window thread, copied for anyone else.
struct Settings {
    Settings();

    WindowPlacement Window;
    WindowPlacement SetupDialog;

    // "File"
    std::string Dir;
    std::string RecDir;

    // "Setting0": start-up and engine options; only ASPI is saved.
    bool ASPI;
    bool ForceASPI;
    std::int32_t EnglishMode;
    std::string FileFontName;
    std::int32_t FileFontCharset;
    std::int32_t FileFontSize;
    std::string NameFontName;
    std::int32_t NameFontCharset;
    std::int32_t NameFontSize;
    bool DatLog;
    std::int32_t PlayBufFrames;
    std::int32_t PlayThreadPriority;
    std::int32_t RecBufFrames;
    std::int32_t RecThreadPriority;

    // "Setting1": main window controls.
    std::int32_t RecMuteTime;
    bool EnableMem2Stop;
    bool EnableAutoID;
    std::int32_t AutoID_Level;
    std::int32_t AutoID_Time;
    std::int32_t TapeLength;
    std::string TapeLengthPreset;

    // "Setting2": setup dialog options.
    bool EnableSkipPlay;
    bool EnableDeEmphasis;
    std::int32_t DitherType;
    bool EnableErrorMute;
    bool ResetErrorAtID;
    bool WriteAbsTimeErrorFrameToFile;
    std::int32_t ErrorStopCounter;
    std::int32_t AbsTimeErrorStopCounter;
    std::int32_t RecSamplingFreq;
    std::int32_t RecBitLen;
    std::uint8_t RecEmphBits;
    std::uint8_t RecCopyBits;
    bool CreateWaveFileOnRec;
    std::int32_t ExtendedFormatMode;
    std::int32_t ExtendedFormatBitLen;
    std::int32_t PlayRecDriverType;
    bool Use_WF_EXTENSIBLE;
    bool Use_WF_DIRECT;
    std::int32_t PlayDeviceNum;
    std::int32_t RecDeviceNum;
    std::int32_t ASIO_PlayChNum;
    std::int32_t ASIO_RecChNum;
    bool PlayWithFullVol;
    bool RecAllowReduceBitLength;
    bool RecMonitorOn;
    std::int32_t WaveXDispMagRate;
    std::int32_t WaveYDispMagRate;
    std::int32_t XY_DispType;
    bool LissajousBezier;
    std::int32_t WaveDrawType;
    bool CountPgmTime;
    bool CountRunTime;
    bool CountRealTime;
    bool DisplayDate;
    bool WriteDate;
    bool OpeningWindow;

    // "Setting3": dialog defaults.
    bool WriteToFileOnly;
    bool EnableDivideFileAtID;
    std::int32_t PreReadIDsec10;
    bool RecFromFileOnly;
    bool RecAutoEndID;
    std::int32_t DlgPreSilenceSec;
    bool DlgLongPlayMode;
    bool DlgEmphasis;
    std::int32_t DlgCopyBits;
    std::int32_t DlgPostSilenceSec;

    // "ColorSet": low byte red, then green, then blue; the top bit names a system colour.
    std::int32_t PosMeterBackColor;
    std::int32_t PosMeterV_ID_ModeBackColor;
    std::int32_t PosMeterScaleColor;
    std::int32_t PosMeterCharColor;
    std::int32_t PosMeterCharBackColor;
    std::int32_t PosMeterBarFrameColor;
    std::int32_t PosMeterBarForeColor;
    std::int32_t PosMeterBarRecAreaColor;
    std::int32_t PosMeterBarBackColor;
    std::int32_t PosMeterBarEndIdColor;
    std::int32_t PosMeterSearchBoxColor;
    std::int32_t PosMeterSearchBoxArrowColor;
    std::int32_t PosMeterV_ID_ModeSearchBoxArrowColor;
    std::int32_t WaveBackColor;
    std::int32_t WaveDiagramBackColor;
    std::int32_t WaveFrameColor;
    std::int32_t WaveScaleColor;
    std::int32_t WaveLineColor;
    std::int32_t WaveCharColor;
    std::int32_t LevMeterFrameColor;
    std::int32_t LevMeterBackColor;
    std::int32_t LevMeterScaleColor;
    std::int32_t LevMeterScaleCharColor;
    std::int32_t LevMeterBarFrameColor;
    std::int32_t LevMeterBarForeColor;
    std::int32_t LevMeterBarBackColor;
    std::int32_t LevMeterBarInnerColor;
    std::int32_t LevMeterBarPeakColor;

    // "Linux": keys of the Linux build.
    bool SimulatedDrive;
    bool SimRealTime;
    std::string SimCassettes;
    std::string SimCassetteDir;
    std::string MixerCommand;

    bool operator==(const Settings&) const = default;
};

// Calls f(const SettingKey&, Field&) for every key in file order; Field is std::int32_t,
// std::uint8_t, bool or std::string as the kind says. Works on const records too.
template <class S, class F> void forEachSetting(S& s, F&& f);

// Section names in the order the file is written.
const std::vector<std::string>& settingSections();

// The minutes listed by the tape length box (after "Auto"): the numbers of
// `TapeLengthPreset` separated by commas and blanks. Entries that are not whole numbers
// from 1 to 500 are left out; an empty result gives 46, 60, 90, 120, 180.
std::vector<int> tapeLengthChoices(const std::string& preset);

// The items of the tape length box: "Auto", then the choices above.
std::vector<std::string> tapeLengthBoxItems(const std::string& preset);

// The cassette files of `SimCassettes`, separated by ';' (blanks around names dropped).
std::vector<std::string> simCassetteList(const std::string& list);

// Value of a colour setting as "0x%08X".
std::string colourText(std::int32_t colour);

} // namespace tarnvel::app

#include "app/SettingsTable.inl"
