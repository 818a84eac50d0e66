#pragma once

#include "qc/ArchiveSummary.h"
#include "qc/WaveAnalysis.h"

#include <string>

// The figures as the report and the page write them.
namespace tarnvel::qc {

// A level of 1.0 = full scale in dB with one decimal and the unit: "-4.1 dBFS", "-inf dBTP".
std::string levelText(double linear, const char* unit);
// "-16.3 LUFS", or "-inf LUFS" when nothing passed the gate (silence).
std::string loudnessText(double lufs);
// The mean sample value in percent of full scale, signed: "+0.0012 %".
std::string dcOffsetText(double mean);
// A duration: "3.9 s", "2 min 05.0 s", "1 h 02 min 05.0 s".
std::string durationText(double seconds);
// Where a stretch of a file lies on tape and how long it is: "00h00m05s10 (3.9 s)".
std::string stretchText(const FileTimeline& timeline, const SampleStretch& stretch,
                        std::uint32_t rate);
// A run of clipped samples: "L 00h00m05s10 (4 samples)".
std::string clipRunText(const FileTimeline& timeline, const SampleStretch& run, int channels);
// The name of a channel: "L", "R" for stereo; "1", "2", ... otherwise.
std::string channelName(int channel, int channels);

} // namespace tarnvel::qc
