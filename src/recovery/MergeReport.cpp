#include "formats/StringPrintf.h"
#include "recovery/ImageMerge.h"

#include <string>

namespace tarnvel::recovery {

namespace {

using formats::stringPrintf;

std::string when(const dat::TimeCode& t)
{
    return dat::timeText(t).substr(1); // without the display's leading blank
}

std::string channelText(const MergeResult& r, const ChannelUse& use)
{
    const std::string& name = r.sources[static_cast<std::size_t>(use.source)].image;
    return use.bad ? "still bad (" + name + ")" : name;
}

std::string matchText(const MergeSource& s)
{
    switch (s.match) {
    case SourceMatch::Reference:
        return "the reference: its subcode, IDs and ABS times are kept";
    case SourceMatch::AbsTime:
        return "a pass over the same tape, matched by ABS time";
    case SourceMatch::Audio:
        return "a copy, matched by its audio";
    }
    return {};
}

} // namespace

std::string mergeReportText(const MergeReportHeader& header, const MergeResult& r)
{
    std::string t = "Tarnvel merge report\n";
    t += "Program:   " + header.program + "\n";
    t += "Started:   " + header.started + "\n";
    t += "Ended:     " + header.ended + "\n";
    for (std::size_t k = 0; k < r.sources.size(); ++k) {
        const MergeSource& s = r.sources[k];
        t += stringPrintf("%-10s %s (%u frames): %s\n",
                          k == 0 ? "Reference:" : stringPrintf("Image %zu:", k + 1).c_str(),
                          s.image.c_str(), s.frames, matchText(s).c_str());
        for (const MergeSource::Stretch& st : s.stretches)
            t += stringPrintf("             reference %s - %s is %s %s - %s, offset %+lld samples "
                              "(reference sample = copy sample %+lld)\n",
                              when(st.refFrom).c_str(), when(st.refTo).c_str(), s.image.c_str(),
                              when(st.copyFrom).c_str(), when(st.copyTo).c_str(),
                              static_cast<long long>(st.pairs.offset),
                              -static_cast<long long>(st.pairs.offset));
    }
    t += stringPrintf("Output:    %s (%u frames)%s\n", header.output.c_str(), r.frames,
                      r.interrupted ? ", interrupted" : "");
    t += "\nWhere each stretch of the reference comes from (ABS time, frames, channels):\n";
    for (const MergeStretch& m : r.stretches) {
        const std::string range = when(m.firstAbs) + " - " + when(m.lastAbs);
        const std::string from =
            m.left == m.right ? channelText(r, m.left)
                              : "L " + channelText(r, m.left) + "  R " + channelText(r, m.right);
        t += stringPrintf("  %s %7u  %s\n", range.c_str(), m.frames, from.c_str());
    }
    t += stringPrintf("\nFrames still bad: %zu\n", r.stillBad.size());
    for (const StillBadFrame& b : r.stillBad)
        t += stringPrintf("  %s  frame %-7u %s\n", when(b.abs).c_str(), b.frame,
                          b.left && b.right ? "LR"
                          : b.left          ? "L"
                                            : "R");
    t += stringPrintf("\nFrames two images read clean but with different samples (not the same "
                      "recording, or a drive that hides errors): %zu\n",
                      r.conflicts.size());
    for (const CleanConflict& c : r.conflicts)
        t += stringPrintf("  %s  frame %-7u %s  %s kept, %s differs\n", when(c.abs).c_str(),
                          c.frame, c.channel == 0 ? "L" : "R",
                          r.sources[static_cast<std::size_t>(c.kept)].image.c_str(),
                          r.sources[static_cast<std::size_t>(c.other)].image.c_str());
    t += stringPrintf("\nTotals: %u frames; %u had errors in the reference, %u of them recovered "
                      "(%u channels); %zu still bad; %zu conflicts.\n",
                      r.frames, r.badBefore, r.recovered, r.channelsRecovered, r.stillBad.size(),
                      r.conflicts.size());
    return t;
}

} // namespace tarnvel::recovery
