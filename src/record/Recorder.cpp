#include "record/Recorder.h"

#include "common/ByteOrder.h"
#include "dat/RecSubcode.h"
#include "record/LongPlayEncode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarnvel::record {

namespace {

constexpr std::uint32_t packPending(int kind, int pNo)
{
    return (static_cast<std::uint32_t>(kind & 0xFF) << 16) |
           (static_cast<std::uint32_t>(pNo) & 0xFFFF);
}

// One source value as a 24-bit integer.
std::int32_t value24(const std::uint8_t* p, int sampleKind)
{
    switch (sampleKind) {
    case 24:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                         static_cast<std::uint32_t>(p[1]) << 16 |
                                         static_cast<std::uint32_t>(p[2]) << 24) >>
               8;
    case 32:
        return static_cast<std::int32_t>(readLe32(p)) >> 8;
    default: {
        float f;
        const std::uint32_t bits = readLe32(p);
        std::memcpy(&f, &bits, sizeof f);
        const double v = static_cast<double>(f) * 8388608.0;
        if (!(v == v))
            return 0; // NaN: silence rather than noise
        if (v >= 8388607.0)
            return 8388607;
        if (v <= -8388608.0)
            return -8388608;
        return static_cast<std::int32_t>(std::lround(v));
    }
    }
}

} // namespace

Recorder::Recorder(dat::DatDrive& drive, int d, FrameSink& sink, std::atomic<bool>& stopRequested,
                   std::atomic<std::int64_t>* runCount, std::atomic<std::int64_t>* pgmCount)
    : drive_(drive), d_(d), sink_(sink), stopRequested_(stopRequested),
      runCount_(runCount != nullptr ? runCount : &ownRun_),
      pgmCount_(pgmCount != nullptr ? pgmCount : &ownPgm_)
{
}

void Recorder::begin(const RecordSetup& setup, std::optional<dat::TimeCode> startAbs)
{
    format_ = setup.format;
    source_ = setup.source;
    wholeFrames_ = source_ != nullptr && source_->wholeFrames();
    liveInput_ = setup.liveInput;
    recordLoop_ = setup.recordLoop;
    writeDate_ = setup.writeDate;
    mem2_ = setup.mem2;
    lpPhase_ = format_.longPlay() ? 1 : 0;
    frames_.store(0, std::memory_order_release);
    stop_.store(RecordStop::None, std::memory_order_release);
    dat::initRecSubcode(frame_.subcode, drive_.recSubcodeState(), dat::kIdControlNone, startAbs,
                        format_.copyBits, format_.longPlay() ? 1 : 0, format_.subcodeRate(),
                        format_.emphasis, dat::kIdCodeNone);
    mainId_.store(
        static_cast<std::uint16_t>(frame_.subcode.mainId(0) << 8 | frame_.subcode.mainId(1)),
        std::memory_order_release);
}

dat::TimeCode Recorder::nextAbs() const
{
    const std::uint8_t* p = dat::findAbsPack(frame_.subcode);
    return p != nullptr ? dat::TimeCode::fromBytes(p) : dat::kNoValue;
}

void Recorder::requestStop(RecordStop why)
{
    RecordStop expected = RecordStop::None;
    stop_.compare_exchange_strong(expected, why, std::memory_order_acq_rel);
    // A source at its end is no stop: a list goes on with its next file.
    if (why != RecordStop::SourceEnd)
        stopRequested_.store(true);
}

std::uint32_t Recorder::stopWith(RecordStop why)
{
    requestStop(why);
    return 0;
}

void Recorder::setPendingId(int kind, int pNo)
{
    pending_.store(kind == kPendingNone ? 0 : packPending(kind, pNo), std::memory_order_release);
}

int Recorder::pendingKind() const
{
    return static_cast<int>(pending_.load(std::memory_order_acquire) >> 16);
}

int Recorder::pendingPNo() const
{
    return static_cast<int>(pending_.load(std::memory_order_acquire) & 0xFFFF);
}

bool Recorder::startMute(std::uint32_t frames)
{
    frames &= ~kPreSilenceFlag;
    if (frames == 0)
        return false;
    std::uint32_t expected = 0;
    return mute_.compare_exchange_strong(expected, frames, std::memory_order_acq_rel);
}

void Recorder::setPreSilence(int frames)
{
    // A pre-silence of no frames must not leave the flag alone in the counter: it would read
    // as 2^31 frames of silence.
    mute_.store(frames > 0 ? (static_cast<std::uint32_t>(frames) | kPreSilenceFlag) : 0,
                std::memory_order_release);
}

std::uint32_t Recorder::recordBlock(std::uint8_t* buffer, std::uint32_t bytes)
{
    if (format_.extended()) {
        std::uint32_t done = 0;
        while (done < bytes) {
            const std::uint32_t used = splitExtended(buffer + done, bytes - done);
            if (used == 0)
                return 0;
            done += used;
        }
        return bytes;
    }
    const std::uint32_t piece = format_.frameAudioBytes;
    for (std::uint32_t at = 0; at < bytes; at += piece) {
        if (recordFrame(buffer + at, std::min(piece, bytes - at)) == 0)
            return 0;
    }
    return bytes;
}

std::uint32_t Recorder::splitExtended(const std::uint8_t* buffer, std::uint32_t bytes)
{
    const std::uint32_t align = format_.source.blockAlign;
    const std::uint32_t valueBytes = align / 2;
    if (valueBytes == 0)
        return stopWith(RecordStop::SourceFailed);
    const std::uint32_t words =
        std::min<std::uint32_t>(bytes / align * 2, format_.frameAudioBytes / 2);
    if (words == 0)
        return bytes; // less than one sample pair: nothing to record
    for (std::uint32_t i = 0; i < words; ++i) {
        const auto v =
            static_cast<std::uint32_t>(value24(buffer + i * valueBytes, format_.sampleKind));
        upper_[2 * i] = static_cast<std::uint8_t>(v >> 8);
        upper_[2 * i + 1] = static_cast<std::uint8_t>(v >> 16);
        lower_[2 * i] = static_cast<std::uint8_t>(v);
        lower_[2 * i + 1] = 0;
    }
    if (recordFrame(upper_.data(), 2 * words) == 0 || recordFrame(lower_.data(), 2 * words) == 0)
        return 0;
    return words * valueBytes;
}

std::uint32_t Recorder::loopTurn()
{
    if (source_ == nullptr)
        return stopWith(RecordStop::SourceEnd);
    if (format_.extended() && !wholeFrames_ && source_->blockFormat() == nullptr) {
        // One frame pair of source samples, read and split here.
        const std::uint32_t want = format_.frameAudioBytes / 4 * format_.source.blockAlign;
        const std::uint32_t n =
            source_->read(block_.data(), std::min<std::uint32_t>(want, block_.size()));
        if (n == 0) {
            return stopWith(source_->failure().empty() ? RecordStop::SourceEnd
                                                       : RecordStop::SourceFailed);
        }
        return recordBlock(block_.data(), n);
    }
    // A source that announces its format hands over whole blocks of any frame size.
    return recordFrame(block_.data(), source_->blockFormat() != nullptr
                                          ? static_cast<std::uint32_t>(dat::kAudioBytes)
                                          : format_.frameAudioBytes);
}

void Recorder::applyBlockFormat(const BlockFormat& b)
{
    const bool changed = b.rate != format_.datRate || b.bits != format_.bitLength ||
                         b.emphasis != format_.emphasis || b.copyBits != format_.copyBits;
    if (changed) {
        RecordFormat f;
        f.datRate = b.rate;
        f.bitLength = b.bits;
        f.sampleKind = 16;
        f.source = formats::WaveFormat::make(formats::kWaveFormatPcm, 2,
                                             static_cast<std::uint32_t>(b.rate), 16);
        f.frameAudioBytes = frameAudioBytesForRate(b.rate);
        f.emphasis = b.emphasis;
        f.copyBits = b.copyBits & 3;
        format_ = f;
        lpPhase_ = format_.longPlay() ? 1 : 0;
        dat::initRecSubcode(frame_.subcode, drive_.recSubcodeState(), dat::kIdControlNone,
                            std::nullopt, format_.copyBits, format_.longPlay() ? 1 : 0,
                            format_.subcodeRate(), format_.emphasis, dat::kIdCodeNone);
    }
    if (b.idChange == static_cast<std::uint32_t>(dat::kPNoSkip))
        setPendingId(kPendingSkip, 0);
    else if (b.idChange != 0)
        setPendingId(kPendingStart, takeWriteIdNumber());
}

int Recorder::takeWriteIdNumber()
{
    int n = writeIdNumber_.load(std::memory_order_acquire);
    while (n >= 1 && n < dat::kMaxProgramNumber &&
           !writeIdNumber_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) {
    }
    return n;
}

void Recorder::followWriteIdNumber(int pNo)
{
    int n = writeIdNumber_.load(std::memory_order_acquire);
    while (n < pNo && !writeIdNumber_.compare_exchange_weak(n, pNo, std::memory_order_acq_rel)) {
    }
}

void Recorder::countFrame()
{
    const std::uint32_t n = frames_.fetch_add(1, std::memory_order_acq_rel) + 1;
    // Frame pairs of a 24-bit recording count once.
    if ((frame_.subcode.mainId(0) & 0x40) != 0 && (n & 1) != 0)
        return;
    runCount_->fetch_add(1, std::memory_order_relaxed);
    pgmCount_->fetch_add(1, std::memory_order_relaxed);
}

bool Recorder::queueFrame(int& writerState)
{
    dat::SubcodeBlock& sub = frame_.subcode;
    if (!recordLoop_ && !wholeFrames_)
        dat::setDatePack(sub, writeDate_);
    if (drive_.virtualIdMode()) {
        // The tape gets the frame without IDs; the bookkeeping still sees them.
        const dat::SubcodeBlock saved = sub;
        sub.bytes[dat::kSubIdOffset] = 0;
        sub.bytes[dat::kSubIdOffset + 1] = 1;
        sub.bytes[dat::kSubIdOffset + 2] = 0xAA;
        sub.bytes[dat::kSubIdOffset + 3] = 0;
        if (std::uint8_t* time = dat::findAbsPack(sub)) {
            std::uint8_t* pack = time - 3;
            pack[0] = 0x20;
            pack[1] = 0xAA;
            dat::packParity(pack);
        }
        writerState = sink_.putFrame(frame_);
        sub = saved;
    } else {
        writerState = sink_.putFrame(frame_);
    }
    mainId_.store(static_cast<std::uint16_t>(sub.mainId(0) << 8 | sub.mainId(1)),
                  std::memory_order_release);
    countFrame();
    return true;
}

std::uint32_t Recorder::recordFrame(std::uint8_t* buffer, std::uint32_t bytes)
{
    if (stop_.load(std::memory_order_acquire) != RecordStop::None)
        return 0;
    // The sound input cannot wait: while paused its audio is dropped.
    if (liveInput_ && pauseDown_.load(std::memory_order_acquire))
        return bytes;

    std::uint32_t n = bytes;
    // A 24-bit list read directly has been read and split by the loop's turn already.
    const bool splitBySource = format_.extended() && !wholeFrames_ && source_ != nullptr &&
                               source_->blockFormat() == nullptr;
    if (source_ != nullptr && !splitBySource) {
        if (wholeFrames_) {
            n = source_->read(frame_.data(), static_cast<std::uint32_t>(dat::kFrameBytes));
            if (n != dat::kFrameBytes) {
                return stopWith(source_->failure().empty() ? RecordStop::SourceEnd
                                                           : RecordStop::SourceFailed);
            }
        } else {
            n = source_->read(buffer, std::min<std::uint32_t>(
                                          bytes, static_cast<std::uint32_t>(dat::kAudioBytes)));
            if (n == 0) {
                return stopWith(source_->failure().empty() ? RecordStop::SourceEnd
                                                           : RecordStop::SourceFailed);
            }
            if (const BlockFormat* b = source_->blockFormat())
                applyBlockFormat(*b);
        }
    }

    if (!wholeFrames_) {
        const std::uint32_t limit =
            lpPhase_ != 0 ? kLongPlayBlockBytes : static_cast<std::uint32_t>(dat::kAudioBytes);
        const std::uint32_t used = std::min(n, limit);
        if (lpPhase_ == 1) {
            // The frame goes out with its second half.
            encodeLongPlayHalf(buffer, used, 0, frame_.audio.data());
            lpPhase_ = -1;
            runCount_->fetch_add(1, std::memory_order_relaxed);
            pgmCount_->fetch_add(1, std::memory_order_relaxed);
            return n;
        }
        if (lpPhase_ == -1) {
            encodeLongPlayHalf(buffer, used, 1, frame_.audio.data());
            lpPhase_ = 1;
        } else {
            std::memcpy(frame_.audio.data(), buffer, used);
            std::memset(frame_.audio.data() + used, 0, dat::kAudioBytes - used);
        }
        muteOrPlaceId();
    }

    return writeStep(n);
}

void Recorder::muteOrPlaceId()
{
    const std::uint32_t mute = mute_.load(std::memory_order_acquire);
    if (mute != 0) {
        frame_.audio.fill(0);
    } else if (drive_.recSubcodeState().idRunFramesLeft != 0) {
        // An ID run is never cut short: an ID asked for during one waits for its end.
    } else if (const std::uint32_t p = pending_.exchange(0, std::memory_order_acq_rel); p != 0) {
        // An ID asked for during a mute or pre-silence waits for the first frame after it.
        const int kind = static_cast<int>(p >> 16);
        const int pNo = static_cast<int>(p & 0xFFFF);
        dat::startIdRun(frame_.subcode, drive_.recSubcodeState(),
                        static_cast<std::uint8_t>(kind == kPendingEnd ? 0 : kind),
                        kind == kPendingEnd ? dat::kIdCodeEnd : pNo);
    }
}

void Recorder::flushHalfFrame()
{
    if (lpPhase_ != -1)
        return;
    // The source ended after the first half of a long-play frame: its second half is silence.
    encodeLongPlayHalf(nullptr, 0, 1, frame_.audio.data());
    lpPhase_ = 1;
    muteOrPlaceId();
    writeStep(kLongPlayBlockBytes);
}

std::uint32_t Recorder::writeStep(std::uint32_t n)
{
    int writerState = FrameSink::kFine;
    queueFrame(writerState);

    const dat::TapePosition* p = drive_.frameWritten(d_, frame_.subcode, wholeFrames_);
    if (p == nullptr)
        return stopWith(RecordStop::EndIdDone);
    if (p->idChange >= 1 && p->idChange != static_cast<std::uint32_t>(dat::kPNoSkip) &&
        p->idChange != 0x7FFFFFFFu)
        pgmCount_->store(0, std::memory_order_relaxed);
    if (!wholeFrames_ && (p->subIdFlags != 0 || p->pNoDigits == dat::kPNoDigitsEnd) && onIdFrame)
        onIdFrame();
    if (p->idChange != 0 && onIdChange)
        onIdChange(p->idChange);

    if (writerState != FrameSink::kFine)
        return stopWith(writerState == FrameSink::kEndOfTape ? RecordStop::EndOfTape
                                                             : RecordStop::WriteFailed);
    if (!(mem2_ == dat::TimeCode{0, 0, 0, 0}) && p->absTime == mem2_)
        return stopWith(RecordStop::Mem2);

    // Count the mute down (its low 31 bits); a record mute ends in record-pause, a
    // pre-silence just ends.
    std::uint32_t mute = mute_.load(std::memory_order_acquire);
    while (mute != 0) {
        const std::uint32_t low = mute & ~kPreSilenceFlag;
        const std::uint32_t next = low <= 1 ? 0 : ((mute & kPreSilenceFlag) | (low - 1));
        if (mute_.compare_exchange_weak(mute, next, std::memory_order_acq_rel)) {
            if (next == 0 && (mute & kPreSilenceFlag) == 0 && onMuteEnd)
                onMuteEnd();
            break;
        }
    }
    return n;
}

} // namespace tarnvel::record
