#pragma once

#include "common/Message.h"

// User-visible texts of the application shell: settings, start-up and shutdown, the level
// meter, the time display and the waveform display. English is the text the program has
// always shown; the Japanese side stays empty until a translation exists (English is shown
// then). Texts that begin with a blank go to the status lines, which indent by one blank.
namespace tarnvel::app::msg {

// Settings file.
inline constexpr MessagePair kIllegalHexValue{
    "", "Illegal hex value found in TV.INI.\nIt has processed as default value."};
inline constexpr MessagePair kSettingsTooLarge{
    "", "The settings file is too large to be a settings file; it was not read and will not "
        "be overwritten:"};
inline constexpr MessagePair kSettingsUnreadable{"", "Unable to read the settings file:"};
inline constexpr MessagePair kSettingsUnwritable{"", "Unable to save the settings file:"};

// Instances.
inline constexpr MessagePair kRuntimeFolderUnusable{
    "", "Unable to use the folder for the instance locks:"};

// Start-up.
inline constexpr MessagePair kFontLoadFailed{"", "Unable to load %s Font."};
inline constexpr MessagePair kDatObjectFailed{"", "\"DAT\" object creation failed!"};
inline constexpr MessagePair kSptiMode{"", " SPTI mode"};
inline constexpr MessagePair kAspiMode{"", " ASPI mode"};
inline constexpr MessagePair kScsiError{"", "\"SCSI\" error.\n\n"};
inline constexpr MessagePair kTapeDriveNotFound{"", "Tape drive not found."};
inline constexpr MessagePair kCreateDatLog{"", "Create DAT Log file"};
inline constexpr MessagePair kScsiModeChanged{
    "", "SCSI mode has been changed to SPTI from ASPI.  (Windows Vista or later)"};
inline constexpr MessagePair kVistaServicePack{
    "", "Be sure to apply Service Pack 1 when you use Tarnvel on Windows Vista."};
inline constexpr MessagePair kWait{"", " Wait ..."};
inline constexpr MessagePair kDeviceLine{"", "[%d:%d] %s %s %s"};
inline constexpr MessagePair kAudioDriveNotFound{"", "Audio capable tape drive not found."};
inline constexpr MessagePair kSecondPrefix{"", "2'nd "};
inline constexpr MessagePair kReferToHelp{"",
                                          "Please refer to the Help file for the usage and notes."};

// Main window controls filled from the settings.
inline constexpr MessagePair kTapeLengthAuto{"", "Auto"};

// Dialog captions: "%s - %s" of the program title and the dialog name.
inline constexpr MessagePair kDialogSetup{"", "Setup"};
inline constexpr MessagePair kDialogPlayToFile{"", "Playback to file"};
inline constexpr MessagePair kDialogRecFromFile{"", "Record from file"};
inline constexpr MessagePair kDialogIdList{"", "ID List"};
inline constexpr MessagePair kScsiStatusCaption{"", "%s - SCSI Status"};

// Setup dialog.
inline constexpr MessagePair kSetupPagePlayRec{"", "Play/Rec"};
inline constexpr MessagePair kSetupPageSoundDevice{"", "Sound device"};
inline constexpr MessagePair kSetupPageMisc{"", "Misc."};
inline constexpr MessagePair kSetupSoundTabRefused{
    "", "Unable to select Sound device tab while using JACK driver.\n\nPlease retry after "
        "stop.\n\n   (1'st time only)"};
inline constexpr MessagePair kSetupCaptionSoundDevice{"", "Setup - Sound device"};
inline constexpr MessagePair kSetupCaptionDriver{"", "Setup - Sound device - Driver"};
inline constexpr MessagePair kSetupCaptionControlPanel{"", "Setup - Sound device - Control Panel"};
inline constexpr MessagePair kSetupCaptionDirectMonitor{"",
                                                        "Setup - Sound device - Direct Monitor"};
inline constexpr MessagePair kSetupCaptionDevice{"", "Setup - Sound Device - Device"};
inline constexpr MessagePair kSetupCaptionScsiMode{"", "Setup - Misc. - SCSI mode"};
inline constexpr MessagePair kSetupCaptionVolume{"", "Setup - Sound device - Volume control"};
inline constexpr MessagePair kUnableWhileRecording{"", "Unable to change while recording."};
inline constexpr MessagePair kUnableWhilePlayingRecording{
    "", "Unable to change while playing/recording."};
inline constexpr MessagePair kUnableWhilePlaying{"", "Unable to change while playing."};
inline constexpr MessagePair kScsiModeChangedRestart{
    "", "SCSI mode has been changed.\n\nTo validate this change, please close Tarnvel and "
        "restart."};
inline constexpr MessagePair kUnableToRestoreDevices{
    "", "Unable to restore when Playing or Recording."};
inline constexpr MessagePair kMixerFailed{
    "", "Unable to start the volume control program \"%s\".\n\nSet its command in the "
        "settings file (MixerCommand, section Linux)."};

// Subcode window.
inline constexpr MessagePair kSubcodeWindowDump{"", "SubCode & Data"};
inline constexpr MessagePair kSubcodeWindowFile{"", "File"};
inline constexpr MessagePair kSubcodeCreating{"", "Creating..."};
inline constexpr MessagePair kSubcodeReading{"", "Reading..."};

// Shutdown.
inline constexpr MessagePair kUnableToCloseRunning{"", "Unable to close while the drive running."};
inline constexpr MessagePair kForceCloseHint{
    "", "\n\n(It will be forced to terminate, if you click OK with Shift key.)"};

// Level meter.
inline constexpr MessagePair kMeterZeroDb{"", "0dB"};

// Time, program number and ID display.
inline constexpr MessagePair kAbsLabel{"", "ABS:"};
inline constexpr MessagePair kPgmLabel{"", "PGM:"};
inline constexpr MessagePair kRunLabel{"", "RUN:"};
inline constexpr MessagePair kNoDateText{"", " --/--/--   "};
inline constexpr MessagePair kNoClockText{"", " --:--:--   "};
inline constexpr MessagePair kNoProgramNumber{"", "--"};
inline constexpr MessagePair kIdLeadIn{"", "Lead-in"};
inline constexpr MessagePair kIdEnd{"", "END"};
inline constexpr MessagePair kIdStart{"", "START"};
inline constexpr MessagePair kIdSkip{"", "SKIP"};
inline constexpr MessagePair kWeekdays[7]{{"", "Sun"}, {"", "Mon"}, {"", "Tue"}, {"", "Wed"},
                                          {"", "Thu"}, {"", "Fri"}, {"", "Sat"}};

// Waveform display.
inline constexpr MessagePair kWaveMs{"", "ms"};
inline constexpr MessagePair kWaveLeftZero{"", "Lch  0"};
inline constexpr MessagePair kWaveRightZero{"", "Rch  0"};

// Command line.
inline constexpr MessagePair kCliSettingsPath{"", "instance %d: %s"};
inline constexpr MessagePair kCliFileExists{"", " (exists)"};
inline constexpr MessagePair kCliFileNew{"", " (not yet created; defaults apply)"};
inline constexpr MessagePair kOverrideUnknownKey{"", "--set: there is no setting \"%s\"."};
inline constexpr MessagePair kOverrideNotANumber{"", "--set %s: \"%s\" is not a number."};
inline constexpr MessagePair kOverrideOutOfRange{"", "--set %s must be between %lld and %lld."};
inline constexpr MessagePair kCliNotSaved{"", "; read only (the program never writes them): "};
inline constexpr MessagePair kCliSettingsMissing{"", "The settings file does not exist:"};

} // namespace tarnvel::app::msg
