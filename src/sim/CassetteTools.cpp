#include "sim/CassetteTools.h"

#include "common/MessageSink.h"
#include "dat/DatFrame.h"
#include "formats/ImageMessages.h"
#include "formats/ImageReader.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "sim/SimMessages.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel::sim {

namespace {

using formats::stringPrintf;

bool parseIndex(const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

// The ID a frame carries, if any: lead-in and END by their PRIORITY codes, then START, then
// SKIP, as a reader decodes them.
bool idOf(const dat::SubcodeBlock& block, CassetteId& id)
{
    const std::uint8_t flags = block.subIdFlags();
    const std::uint16_t digits = block.subIdDigits();
    const bool priority = (flags & dat::kSubIdPriority) != 0;
    if (priority && dat::isLeadInDigits(digits)) {
        id.kind = CassetteId::Kind::LeadIn;
    } else if (priority && dat::isEndDigits(digits)) {
        id.kind = CassetteId::Kind::End;
    } else if ((flags & dat::kSubIdStart) != 0) {
        id.kind = CassetteId::Kind::Start;
        id.program = priority && dat::isDecimalProgramDigits(digits) ? dat::bcd16ToInt(digits) : 0;
    } else if ((flags & dat::kSubIdSkip) != 0) {
        id.kind = CassetteId::Kind::Skip;
    } else {
        return false;
    }
    id.abs = dat::decodedAbsTime(block);
    if (const auto date = dat::lastPackWithItem(block, dat::PackItem::Date)) {
        id.hasDate = true;
        for (int i = 0; i < 6; ++i)
            id.date[i] = date->bytes[static_cast<std::size_t>(i) + 1];
    }
    return true;
}

} // namespace

bool createCassetteFromImage(const std::string& path, int minutes, const std::string& imagePath,
                             std::uint32_t& framesCopied, std::string& error)
{
    framesCopied = 0;
    // The image reader would only say "Unable to open file.": name the reason.
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(imagePath, O_RDONLY, failure);
    if (fd < 0) {
        error = stringPrintf(tr(kSimFileOpenFailed), imagePath.c_str(), failure.text().c_str());
        return false;
    }
    ::close(fd);
    CollectingMessageSink sink;
    formats::ImageReader reader(sink);
    if (!reader.open(imagePath, false)) {
        error = reader.errorText() + " (" + imagePath + ")";
        return false;
    }
    const std::uint32_t frames = reader.frameCount();
    if (frames == 0) {
        error = stringPrintf(tr(kSimImageEmpty), imagePath.c_str());
        return false;
    }
    const std::int64_t needed =
        (std::int64_t{frames} + Cassette::kFramesPerMinute - 1) / Cassette::kFramesPerMinute;
    if (minutes == 0)
        minutes = static_cast<int>(std::max<std::int64_t>(60, needed));
    if (needed > minutes) {
        error = stringPrintf(tr(kSimImageTooLong), frames, minutes,
                             static_cast<long long>(minutes) * Cassette::kFramesPerMinute);
        return false;
    }
    auto cassette = Cassette::createUnpublished(path, minutes, error);
    if (!cassette)
        return false;
    dat::DatFrame frame;
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (!reader.readFrameAt(i, frame)) {
            error = std::string(tr(formats::kMsgImageReadFailed)) + " (" + imagePath + ")";
            return false;
        }
        if (!cassette->writeFrame(i, frame.data(), error))
            return false;
    }
    if (!cassette->publish(error))
        return false;
    framesCopied = frames;
    return true;
}

bool parseFrameRange(const std::string& text, std::uint32_t& first, std::uint32_t& last)
{
    const auto dash = text.find('-');
    if (dash == std::string::npos) {
        if (!parseIndex(text, first))
            return false;
        last = first;
        return true;
    }
    return parseIndex(text.substr(0, dash), first) && parseIndex(text.substr(dash + 1), last) &&
           first <= last;
}

bool addCassetteFault(const std::string& path, const Fault& fault, std::string& error)
{
    auto cassette = Cassette::open(path, Cassette::Access::ReadWrite, error);
    return cassette && cassette->addFault(fault, error) && cassette->flush(error);
}

CassetteSummary summarizeCassette(const Cassette& cassette)
{
    CassetteSummary s;
    s.minutes = cassette.minutes();
    s.lengthFrames = cassette.lengthFrames();
    s.recordedEnd = cassette.recordedEnd();
    s.faults = cassette.faults();
    bool previousRecorded = false;
    bool previousHadId = false;
    std::uint8_t previousFlags = 0;
    std::uint16_t previousDigits = 0;
    for (std::int64_t i = 0; i < s.recordedEnd; ++i) {
        const std::uint8_t* sc = cassette.subcode(i);
        if (sc == nullptr) {
            previousRecorded = false;
            continue;
        }
        ++s.recordedFrames;
        if (!previousRecorded)
            ++s.stretches;
        const auto block = dat::SubcodeBlock::fromBytes(sc);
        CassetteId id;
        const bool hasId = idOf(block, id);
        // An ID is counted once, at the first frame of its run.
        const bool sameRun = previousRecorded && previousHadId &&
                             previousFlags == block.subIdFlags() &&
                             previousDigits == block.subIdDigits();
        if (hasId && !sameRun) {
            id.frame = i;
            s.ids.push_back(id);
        }
        previousRecorded = true;
        previousHadId = hasId;
        previousFlags = block.subIdFlags();
        previousDigits = block.subIdDigits();
    }
    return s;
}

bool summarizeCassette(const std::string& path, CassetteSummary& summary, std::string& error)
{
    auto cassette = Cassette::open(path, Cassette::Access::ReadOnly, error);
    if (!cassette)
        return false;
    summary = summarizeCassette(*cassette);
    return true;
}

std::vector<std::string> cassetteInfoLines(const CassetteSummary& s)
{
    std::vector<std::string> lines;
    lines.push_back(
        stringPrintf(tr(kSimInfoLength), s.minutes, static_cast<long long>(s.lengthFrames)));
    if (s.recordedFrames == 0) {
        lines.push_back(tr(kSimInfoNeverRecorded));
    } else if (s.stretches == 1 && s.recordedFrames == s.recordedEnd) {
        const std::string duration = dat::timeText(dat::framesToAbs(s.recordedFrames)).substr(1);
        lines.push_back(stringPrintf(tr(kSimInfoRecorded),
                                     static_cast<long long>(s.recordedEnd - 1),
                                     static_cast<long long>(s.recordedFrames), duration.c_str()));
    } else {
        lines.push_back(stringPrintf(tr(kSimInfoRecordedGaps),
                                     static_cast<long long>(s.recordedFrames), s.stretches,
                                     static_cast<long long>(s.recordedEnd - 1)));
    }
    if (s.ids.empty()) {
        lines.push_back(tr(kSimInfoNoIds));
    } else {
        lines.push_back(tr(kSimInfoIdsHeader));
        for (const CassetteId& id : s.ids) {
            std::string what;
            switch (id.kind) {
            case CassetteId::Kind::LeadIn:
                what = tr(kSimInfoIdLeadIn);
                break;
            case CassetteId::Kind::Start:
                what = id.program > 0 ? stringPrintf(tr(kSimInfoIdStart), id.program)
                                      : std::string(tr(kSimInfoIdStartNoNumber));
                break;
            case CassetteId::Kind::Skip:
                what = tr(kSimInfoIdSkip);
                break;
            case CassetteId::Kind::End:
                what = tr(kSimInfoIdEnd);
                break;
            }
            if (id.hasDate)
                what += stringPrintf(tr(kSimInfoIdDate), id.date[0], id.date[1], id.date[2],
                                     id.date[3], id.date[4], id.date[5]);
            // Lead-in times count down: shown with a minus sign, as the position line does.
            std::string abs = dat::timeText(id.abs);
            if (id.kind == CassetteId::Kind::LeadIn)
                abs[0] = '-';
            lines.push_back(stringPrintf(tr(kSimInfoId), static_cast<long long>(id.frame),
                                         abs.c_str(), what.c_str()));
        }
    }
    if (s.faults.empty()) {
        lines.push_back(tr(kSimInfoNoFaults));
    } else {
        lines.push_back(tr(kSimInfoFaultsHeader));
        for (const Fault& f : s.faults)
            lines.push_back(
                f.intermittent()
                    ? stringPrintf(tr(kSimInfoFaultIntermittent), f.first, f.last,
                                   faultKindName(f.kind), chanceText(f.chance).c_str(), f.seed)
                    : stringPrintf(tr(kSimInfoFault), f.first, f.last, faultKindName(f.kind)));
    }
    return lines;
}

} // namespace tarnvel::sim
