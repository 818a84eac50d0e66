#pragma once

#include "common/Message.h"

// Texts of the merge of images and of re-reading.
namespace tarnvel::recovery {

inline constexpr MessagePair kMsgDifferentRecordings{
    "", "The images hold different recordings: no frame of %s matches %s."};
inline constexpr MessagePair kMsgMergeNeedsTwo{"", "A merge takes at least two images."};
inline constexpr MessagePair kMsgImageHoldsNoFrames{"", "The image %s holds no frames."};
inline constexpr MessagePair kMsgImageNotOpened{"", "%s (%s)"};

// Progress of a merge: what it does, the image, how far.
inline constexpr MessagePair kMsgProgressComparing{"", "Comparing %s with the reference"};
inline constexpr MessagePair kMsgProgressIndexing{"", "Indexing the audio of %s"};
inline constexpr MessagePair kMsgProgressAligning{"", "Aligning the audio of %s"};
inline constexpr MessagePair kMsgProgressMerging{"", "Merging"};

} // namespace tarnvel::recovery
