#pragma once

#include "common/Message.h"

// User-visible texts of the sound output and input. The JACK driver type stands where the
// low-latency driver family of the original design stood, so its texts name JACK.
namespace tarnvel::sound::msg {

// Driver type names as the setup dialog shows them.
inline constexpr MessagePair kDriverAlsa{"", "ALSA"};
inline constexpr MessagePair kDriverPulse{"", "PulseAudio"};
inline constexpr MessagePair kDriverJack{"", "JACK"};

// Device number 0 of the ALSA and PulseAudio types: the system's default device.
inline constexpr MessagePair kDefaultDevice{"", "Default device"};
inline constexpr MessagePair kNoDevice{"", "No Device"};
inline constexpr MessagePair kChannelOutput{"", "Output %d"};
inline constexpr MessagePair kChannelInput{"", "Input %d"};
inline constexpr MessagePair kNotAvailable{"", "Not available"};

// Device list and opening.
inline constexpr MessagePair kNoWaveOutputDevice{"", "No Wave Output device"};
inline constexpr MessagePair kNoWaveInputDevice{"", "No Wave Input device"};
inline constexpr MessagePair kUnableToCreateDriverList{"", "Unable to create JACK"};
inline constexpr MessagePair kNoDriver{"", "No JACK driver"};
inline constexpr MessagePair kDeviceAlreadyOpened{"", "Device already opened"};
inline constexpr MessagePair kUnsupportedFormat{"", "Unsupported format:  %5ds/s %s%2dbit %s"};
inline constexpr MessagePair kUnableToOpenWaveDevice{"", "Unable to open Wave device"};
inline constexpr MessagePair kUnableToGetDeviceId{"", "Unable to get device ID"};
inline constexpr MessagePair kUnableToGetDeviceCaps{"", "Unable to get device caps"};
inline constexpr MessagePair kUnableToLoad{"", "Unable to load: %s"};
inline constexpr MessagePair kUnableToInitialize{"", "Unable to initialize: %s"};
inline constexpr MessagePair kUnableToGetChannelInfo{"", "Unable to get channel info."};
inline constexpr MessagePair kUnsupportedBitLength{"", "Unsupported bit length. [%s%d]"};
inline constexpr MessagePair kUnsupportedSamplingFreq{"", "Unsupported sampling freq. [%d]"};
inline constexpr MessagePair kUnableToSetSamplingFreq{"", "Unable to set sampling freq. to [%d]"};
inline constexpr MessagePair kUnableToCreateBuffer{"", "Unable to create JACK buffer"};
inline constexpr MessagePair kBufferNotActive{"", "Buffer is not active"};
inline constexpr MessagePair kUnsupportedSampleType{"", "JACK Error: Unsupported sample type %d"};
inline constexpr MessagePair kNoMemory{"", "No memory"};
inline constexpr MessagePair kUnableToClose{"", "Unable to close"};

// Failures while a run is going on.
inline constexpr MessagePair kErrorStart{"", "Error: stream start"};
inline constexpr MessagePair kErrorStop{"", "Error: stream stop"};
inline constexpr MessagePair kErrorClose{"", "Error: stream close"};
// Captured audio had nowhere to go: a recording must never lose samples silently.
inline constexpr MessagePair kInputOverflow{"", "Input overflow: captured audio was lost"};
// The device (or its server) lost input in late cycles; the recording went on around the gaps.
inline constexpr MessagePair kDeviceDroppedInput{
    "", "The sound device dropped input %d times during the recording."};
// The device reported an error while running (cable pulled, server gone).
inline constexpr MessagePair kDeviceError{"", "Device error: %s"};

// End of a run with an error.
inline constexpr MessagePair kStopped{"", "Stopped! \n\n%s"};

// Time and format texts of the optional labels.
inline constexpr MessagePair kMinSec{"", "%02dm%02ds"};
inline constexpr MessagePair kFormatText{"", "%5ds/s %s%2dbit %s"};
inline constexpr MessagePair kMono{"", "Mono"};
inline constexpr MessagePair kStereo{"", "Stereo"};

// Driver information (shown by the setup dialog).
inline constexpr MessagePair kInfoHeader{"", "======= JACK Driver Information =======\n  [%s]\n\n"};
inline constexpr MessagePair kInfoChannels{"", "Input Channels:\t %d\nOutput Channels:\t %d\n"};
inline constexpr MessagePair kInfoRate{"", "Sample Rate:\t %d\nBits/Sample:\t %d  (type:%d)\n"};
inline constexpr MessagePair kInfoBuffer{
    "", "Buffer size min:\t %d\n\t max:\t %d\n\t preferred:\t %d\n\t granuarity: %d\n"};
inline constexpr MessagePair kInfoLatency{
    "", "Input Latencies:\t %d  (%3.1f)\nOutput Latencies:\t %d  (%3.1f)\n"};
inline constexpr MessagePair kInfoOutputReady{"", "OutputReady support:  %s"};
inline constexpr MessagePair kYes{"", "yes"};
inline constexpr MessagePair kNo{"", "no"};

// Setup dialog texts that depend on the device objects.
inline constexpr MessagePair kUnableToLoadSelectedDriver{"", "Unable to load selected driver."};
inline constexpr MessagePair kUnableToOpenControlPanel{"", "Unable to open Control Panel"};
inline constexpr MessagePair kDirectMonitorNotSupported{"", "JACK Direct Monitor is not supported"};

// Format list.
inline constexpr MessagePair kFormatListPlayback{"", "Playback "};
inline constexpr MessagePair kFormatListRecord{"", "Record "};
inline constexpr MessagePair kFormatListCaption{"", "device Format list"};
inline constexpr MessagePair kFormatListLegend{"", "S:Stereo   M:Mono   -:NA"};
inline constexpr MessagePair kFormatListLegendReduced{"", "R:Reduced bit length"};
inline constexpr MessagePair kFormatListCorner{"", "  Fs\\bit"};

} // namespace tarnvel::sound::msg
