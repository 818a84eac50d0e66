#pragma once

#include "dat/DatFrame.h"

#include <string>

namespace tarnvel::dat {

// The "SubCode & Data" text of one frame: Sub ID and Main ID fields, the seven packs with
// their item names, and three groups of audio words (the start of the frame, the end of the
// 44.1 kHz audio area, the end of the 48 kHz area).
std::string buildSubcodeDump(const DatFrame& frame);

} // namespace tarnvel::dat
