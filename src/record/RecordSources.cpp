#include "record/RecordSources.h"

#include "dat/DatFrame.h"
#include "dat/RecSubcode.h"
#include "formats/StringPrintf.h"
#include "record/RecordMessages.h"

namespace tarnvel::record {

bool WaveListSource::openNext(bool first, int preSilenceSec, bool keepOpen)
{
    close();
    failedName_.clear();
    failure_.clear();
    current_ = OpenedEntry{};
    if (first)
        lastPNo_ = 0;
    const std::optional<RecFileEntry> entry = next_ ? next_(first) : std::nullopt;
    if (!entry)
        return false;
    current_.name = entry->path;
    current_.pNo = entry->pno;
    const bool endEntry = !entry->path.empty() && entry->path[0] == ' ';
    std::optional<RecordFormat> format;
    if (reader_.readHeader(entry->path)) {
        // The END ID's silence goes on in the format of the entry before it (rate, bits,
        // emphasis, copy bits): the END ID belongs to that recording.
        if (endEntry && !first && lastFormat_)
            format = lastFormat_;
        else
            format =
                formatFromWave(reader_.format(), entry->longPlay, entry->emphasis, entry->copyBits);
    }
    if (!format) {
        reader_.close();
        failedName_ = entry->path;
        current_ = OpenedEntry{};
        return false;
    }
    current_.format = *format;
    lastFormat_ = *format;
    fileEntry_ = !endEntry;
    const int preFrames =
        endEntry ? kEndIdEntryFrames : (first ? framesForSeconds(preSilenceSec, *format) : 0);
    current_.preSilenceBytes = format->silenceBytes(preFrames);
    current_.postSilenceBytes = format->silenceBytes(framesForSeconds(entry->silenceSec, *format));
    reader_.setSilencePadding(current_.preSilenceBytes, current_.postSilenceBytes);
    // A number like the one before continues that program; 0 writes no ID.
    if (entry->pno != 0 && entry->pno != lastPNo_) {
        current_.idKind = entry->pno == dat::kIdCodeEnd ? kPendingEnd : kPendingStart;
        current_.idPNo = entry->pno;
    }
    lastPNo_ = entry->pno;
    if (!keepOpen)
        reader_.close();
    return true;
}

void WaveListSource::close()
{
    reader_.close();
    fileEntry_ = false;
}

std::uint32_t WaveListSource::read(std::uint8_t* buffer, std::uint32_t bytes)
{
    std::uint32_t got = 0;
    while (got < bytes) {
        const std::size_t n = reader_.readData(buffer + got, bytes - got);
        if (n == 0)
            break;
        got += static_cast<std::uint32_t>(n);
    }
    // The reader closes the file when a read fails; at its normal end the file stays open.
    if (got < bytes && fileEntry_ && !reader_.isOpen() && failure_.empty())
        failure_ = formats::stringPrintf(tr(msg::kUnableToReadFile), current_.name.c_str());
    return failure_.empty() ? got : 0;
}

bool ImageSource::open(const std::string& path)
{
    failure_.clear();
    return reader_.open(path, false);
}

bool ImageSource::startsWithLeadIn()
{
    dat::DatFrame first;
    if (!reader_.readFrameAt(0, first))
        return false;
    return (first.subcode.subIdFlags() & dat::kSubIdPriority) != 0 &&
           dat::isLeadInDigits(first.subcode.subIdDigits());
}

std::uint32_t ImageSource::read(std::uint8_t* buffer, std::uint32_t bytes)
{
    if (!failure_.empty())
        return 0;
    const std::size_t n = reader_.readFrame(buffer, bytes, true);
    if (n == 0 && !reader_.isOpen())
        failure_ = formats::stringPrintf(tr(msg::kUnableToReadFile), reader_.fileName().c_str());
    return static_cast<std::uint32_t>(n);
}

} // namespace tarnvel::record
