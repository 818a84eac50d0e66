#include "engine/Playback.h"

#include "engine/ExtendedFormat.h"
#include "engine/LongPlay.h"

#include <algorithm>
#include <cstring>

namespace tarnvel::engine {

namespace {

constexpr int kRates[8] = {48000, 44100, 32000, 48000, 96000, 88200, 64000, 48000};

void copyText(std::array<char, 32>& to, const char* from)
{
    std::size_t i = 0;
    for (; from != nullptr && from[i] != '\0' && i + 1 < to.size(); ++i)
        to[i] = from[i];
    to[i] = '\0';
}

} // namespace

TapeFormat decodeMainId(std::uint8_t mainId0, std::uint8_t mainId1, bool extendedFormatMode)
{
    TapeFormat f;
    f.emphasis = (mainId0 & 0x30) != 0;
    f.copyBits = (mainId1 >> 2) & 0x03;
    int code = (mainId0 >> 2) & 0x03;
    f.bits = 16;
    if (mainId0 & 0x40) {
        if (extendedFormatMode)
            f.bits = 24;
        else
            code += 4;
    }
    f.rate = kRates[code];
    if ((mainId1 & 0xC0) == 0x40) {
        f.longPlay = true;
        f.bits = 12;
    }
    return f;
}

std::uint32_t frameAudioBytesOf(int rate)
{
    if (rate > 48000)
        rate /= 2;
    if (rate == 44100)
        return dat::kAudioBytes44k;
    if (rate == 32000)
        return dat::kAudioBytes32k;
    return dat::kAudioBytes;
}

PlaybackPipeline::PlaybackPipeline(dat::DatDrive& drive, int d, const PlaySettings& settings)
    : drive_(drive), d_(d), settings_(settings)
{
    buildOutputFormat();
}

void PlaybackPipeline::prepareStart(PlayStart start)
{
    skipPending_ = false;
    singleStep_ = false;
    stop_ = PlayStop::None;
    pairSync_ = false;
    frameCounter_ = 0;
    switch (start) {
    case PlayStart::Fresh:
        heldFrame_ = false;
        lpPhase_ = 0;
        endIdMode_ = 0;
        break;
    case PlayStart::FormatChange:
        // The held frame plays first, with the phase just rebuilt.
        break;
    case PlayStart::Skip:
        // The second half still pending belongs to the frame before the jump.
        heldFrame_ = false;
        if (lpPhase_ != 0)
            lpPhase_ = 1;
        break;
    }
}

void PlaybackPipeline::resetTapeFormat()
{
    format_ = TapeFormat{};
    frameAudioBytes_ = dat::kAudioBytes;
}

void PlaybackPipeline::buildOutputFormat()
{
    int bits = 16;
    std::uint16_t tag = formats::kWaveFormatPcm;
    containerBits_ = 16;
    if (format_.bits == 24) {
        const int bitLen = extendedBitLen(settings_.extendedFormatBitLen.load());
        bits = std::abs(bitLen);
        if (bitLen < 0)
            tag = formats::kWaveFormatIeeeFloat;
        containerBits_ = bitLen;
    }
    outputFormat_ = formats::WaveFormat::make(tag, 2, static_cast<std::uint32_t>(format_.rate),
                                              static_cast<std::uint16_t>(bits));
    frameAudioBytes_ = frameAudioBytesOf(format_.rate);
    const bool longPlay = format_.rate == 32000 && format_.bits == 12;
    lpPhase_ = longPlay ? 1 : 0;
    deEmphasis_.prepare(format_.rate);
}

std::uint32_t PlaybackPipeline::outputFrameBytes() const
{
    return outputFormat_.blockAlign * frameAudioBytes_ / 4;
}

void PlaybackPipeline::countFrame(bool halfLengthFrame)
{
    ++frameCounter_;
    // In real-time counting a half-length high-rate frame counts every second time.
    if (settings_.countRealTime.load(std::memory_order_relaxed) && halfLengthFrame &&
        (frameCounter_ & 1) != 0)
        return;
    if (settings_.countRunTime.load(std::memory_order_relaxed))
        runCount.fetch_add(1, std::memory_order_relaxed);
    if (settings_.countPgmTime.load(std::memory_order_relaxed))
        pgmCount.fetch_add(1, std::memory_order_relaxed);
}

void PlaybackPipeline::failRead()
{
    copyText(failure_.commandName, drive_.lastCommandName());
    copyText(failure_.statusText, drive_.statusText());
    copyText(failure_.senseSummary, drive_.senseSummary());
    failure_.senseKey = drive_.senseKey();
    failure_.asc = drive_.senseAsc();
    failure_.ascq = drive_.senseAscq();
    if (failure_.senseKey == 8 && failure_.asc == 0x00 && failure_.ascq == 0x05)
        stop_ = PlayStop::EndOfTape;
    else if (failure_.senseKey == 8 && failure_.asc == 0x30 && failure_.ascq == 0x01)
        stop_ = PlayStop::UnknownFormat;
    else
        stop_ = PlayStop::ReadError;
}

void PlaybackPipeline::applyMute(std::uint8_t* samples, std::uint32_t bytes, bool left,
                                 bool right) const
{
    if (!settings_.enableErrorMute.load(std::memory_order_relaxed))
        return;
    for (std::uint32_t i = 0; i + 4 <= bytes; i += 4) {
        if (left) {
            samples[i] = 0;
            samples[i + 1] = 0;
        }
        if (right) {
            samples[i + 2] = 0;
            samples[i + 3] = 0;
        }
    }
}

std::uint32_t PlaybackPipeline::writeOut(std::uint8_t* buffer, std::uint32_t bytes,
                                         std::uint32_t idChange)
{
    if (output_ == nullptr || !writeThisFrame_)
        return bytes;
    if (!output_->writeAudio(buffer, bytes, idChange)) {
        stop_ = PlayStop::WriteFailed;
        return 0;
    }
    ++framesWritten_;
    return bytes;
}

std::uint32_t PlaybackPipeline::playStep(std::uint8_t* buffer, std::uint32_t bytes)
{
    writeThisFrame_ = true;
    const bool deEmphasisOn = settings_.enableDeEmphasis.load(std::memory_order_relaxed);

    // The second half of a long-play frame read by the previous step.
    if (lpPhase_ < 0) {
        decodeLongPlayHalf(frame_.audio.data(), 1, buffer);
        if (lpPhase_ == -2)
            writeThisFrame_ = false;
        lpPhase_ = 1;
        if (muteLeft_ || muteRight_)
            applyMute(buffer, kLongPlayHalfBytes, muteLeft_, muteRight_);
        if (deEmphasisOn && format_.emphasis)
            deEmphasis_.process(buffer, kLongPlayHalfBytes,
                                settings_.ditherType.load(std::memory_order_relaxed));
        if (settings_.countRealTime.load(std::memory_order_relaxed)) {
            if (settings_.countRunTime.load(std::memory_order_relaxed))
                runCount.fetch_add(1, std::memory_order_relaxed);
            if (settings_.countPgmTime.load(std::memory_order_relaxed))
                pgmCount.fetch_add(1, std::memory_order_relaxed);
        }
        return writeOut(buffer, bytes, 0);
    }

    const dat::TapePosition* pos = nullptr;
    const bool replay = heldFrame_;
    if (replay) {
        // The frame that changed the format: its checks ran when it was read.
        heldFrame_ = false;
        writeThisFrame_ = heldWriteMark_;
        pos = drive_.getPosition(d_);
    } else {
        pos = drive_.readFrameAhead(d_, frame_);
        if (pos == nullptr) {
            failRead();
            return 0;
        }
        countFrame((frame_.subcode.mainId(0) & 0x40) != 0);
    }
    const std::uint32_t idChange = pos->idChange;
    const std::uint8_t errorByte = frame_.subcode.subId(3);
    bool formatChanged = false;
    const bool imageOutput = output_ != nullptr && output_->image();

    if (!replay) {
        muteLeft_ = false;
        muteRight_ = false;
        // END ID area.
        const bool endArea = pos->pNoDigits == dat::kPNoDigitsEnd;
        if (endIdMode_ == -1 && !endArea) {
            endIdMode_ = 0;
            stop_ = PlayStop::EndId;
            return 0;
        }
        if (endArea) {
            if (endIdMode_ == 0) {
                stop_ = PlayStop::EndId;
                return 0;
            }
            endIdMode_ = -1;
        }

        // Error frames: counted, listed, muted.
        if (errorByte != 0) {
            errorFrameTotal.fetch_add(1, std::memory_order_relaxed);
            if (errorCount_ < kErrorListSize)
                errorList_[errorCount_++] = {pos->absTime, errorByte};

            writeThisFrame_ = false;
        }
        if (!imageOutput) {
            if (errorByte & dat::kSubIdInterpolatedLeft) {
                muteLeft_ = true;
                const std::uint32_t n = errorsLeft.fetch_add(1, std::memory_order_relaxed) + 1;
                if (n >= settings_.errorStopCounter.load(std::memory_order_relaxed)) {
                    stop_ = PlayStop::ErrorLimitLeft;
                    return 0;
                }
            }
            if (errorByte & dat::kSubIdInterpolatedRight) {
                muteRight_ = true;
                const std::uint32_t n = errorsRight.fetch_add(1, std::memory_order_relaxed) + 1;
                if (n >= settings_.errorStopCounter.load(std::memory_order_relaxed)) {
                    stop_ = PlayStop::ErrorLimitRight;
                    return 0;
                }
            }
        }

        // ABS time errors.
        if (pos->absTime.hours == 0xAA) {
            if (settings_.writeAbsTimeErrorFrameToFile.load(std::memory_order_relaxed))
                writeThisFrame_ = true;
            const std::uint32_t n = errorsAbs.fetch_add(1, std::memory_order_relaxed) + 1;
            if (n >= settings_.absTimeErrorStopCounter.load(std::memory_order_relaxed)) {
                stop_ = PlayStop::ErrorLimitAbs;
                return 0;
            }
        } else {
            writeThisFrame_ = true;
        }

        if (output_ != nullptr && (errorByte != 0 || pos->absTime.hours == 0xAA))
            output_->errorFrame(pos->absTime, errorByte, pos->absTime.hours == 0xAA);

        // Mem2 stop (all zero: not set).
        if (settings_.mem2StopChecked.load(std::memory_order_relaxed) &&
            !(mem2_ == dat::TimeCode{0, 0, 0, 0}) && pos->absTime == mem2_) {
            stop_ = PlayStop::Mem2;
            return 0;
        }

        if (pos->idConfirmed != 0) {
            const TapeFormat f =
                decodeMainId(frame_.subcode.mainId(0), frame_.subcode.mainId(1),
                             settings_.extendedFormatMode.load(std::memory_order_relaxed));
            formatChanged = !(f == format_);
            format_ = f;
            if (formatChanged && output_ != nullptr)
                output_->formatChanged(*this);
        }

        const bool registered = idChange != 0 && idChange != dat::kPNoSkip &&
                                (idChange & dat::TapePosition::kIdRemovedFlag) == 0;
        if (registered) {
            if (settings_.resetErrorAtId.load(std::memory_order_relaxed)) {
                errorsLeft.store(0, std::memory_order_relaxed);
                errorsRight.store(0, std::memory_order_relaxed);
                errorsAbs.store(0, std::memory_order_relaxed);
            }
            if (settings_.countPgmTime.load(std::memory_order_relaxed))
                pgmCount.store(0, std::memory_order_relaxed);
            pairSync_ = false;
        }
    }

    // Whole frames for an image or image duplication.
    if (imageOutput) {
        if (!writeThisFrame_)
            return bytes;
        if (!output_->writeFrame(frame_, idChange)) {
            stop_ = PlayStop::WriteFailed;
            return 0;
        }
        ++framesWritten_;
        return bytes;
    }

    // The audio of the frame.
    if (lpPhase_ != 0) {
        decodeLongPlayHalf(frame_.audio.data(), 0, buffer);
        lpPhase_ = writeThisFrame_ ? -1 : -2;
        if (muteLeft_ || muteRight_)
            applyMute(buffer, kLongPlayHalfBytes, muteLeft_, muteRight_);
    } else {
        std::memcpy(buffer, frame_.audio.data(), std::min<std::uint32_t>(bytes, dat::kAudioBytes));
        if (muteLeft_ || muteRight_)
            applyMute(buffer, std::min<std::uint32_t>(bytes, dat::kAudioBytes), muteLeft_,
                      muteRight_);
    }
    if (deEmphasisOn && format_.emphasis && format_.bits < 24)
        deEmphasis_.process(buffer, bytes, settings_.ditherType.load(std::memory_order_relaxed));

    if (!replay && output_ != nullptr && !output_->divide(*this, *pos)) {
        stop_ = PlayStop::WriteFailed;
        return 0;
    }

    if (formatChanged) {
        std::memset(buffer, 0, bytes);
        heldFrame_ = true;
        heldWriteMark_ = writeThisFrame_;
        stop_ = PlayStop::Held;
        return 0;
    }
    if (idChange == static_cast<std::uint32_t>(dat::kPNoSkip) &&
        settings_.enableSkipPlay.load(std::memory_order_relaxed) && !singleStep_) {
        skipPending_ = true;
        stop_ = PlayStop::Skip;
        return 0;
    }

    if (output_ == nullptr || !writeThisFrame_)
        return bytes;
    if (format_.bits == 24 && !output_->peer())
        return bytes; // the frame source writes the assembled block
    return writeOut(buffer, bytes, idChange);
}

std::uint32_t PlaybackPipeline::extendedSource(std::uint8_t* buffer, std::uint32_t bytes)
{
    const int bitLen = containerBits_;
    const std::uint32_t block = extendedBlockBytes(frameAudioBytes_, bitLen);
    std::uint32_t filled = 0;
    while (filled + block <= bytes) {
        if (playStep(pairA_.data(), frameAudioBytes_) == 0 ||
            playStep(pairB_.data(), frameAudioBytes_) == 0)
            return filled;
        if (!pairSync_) {
            const PairOrder order = pairOrder(pairA_.data(), pairB_.data(), frameAudioBytes_);
            if (order == PairOrder::InOrder) {
                pairSync_ = true;
            } else if (order == PairOrder::Reversed) {
                pairA_ = pairB_;
                if (playStep(pairB_.data(), frameAudioBytes_) == 0)
                    return filled;
                pairSync_ = true;
            }
        }
        assembleExtended(pairA_.data(), pairB_.data(), frameAudioBytes_, bitLen, buffer + filled);
        if (output_ != nullptr && !output_->peer()) {
            if (!output_->writeAudio(buffer + filled, block, 0)) {
                stop_ = PlayStop::WriteFailed;
                return filled;
            }
            framesWritten_ += 2;
        }
        filled += block;
    }
    return filled;
}

std::uint32_t PlaybackPipeline::frameSource(std::uint8_t* buffer, std::uint32_t bytes)
{
    // A stop ends the source, but the frames read before it in this call still play.
    if (stop_ != PlayStop::None)
        return 0;
    if (format_.bits == 24)
        return extendedSource(buffer, bytes);
    const std::uint32_t unit = lpPhase_ != 0 ? kLongPlayHalfBytes : frameAudioBytes_;
    std::uint32_t filled = 0;
    while (filled + unit <= bytes) {
        if (playStep(buffer + filled, unit) == 0)
            return filled;
        filled += unit;
    }
    return filled;
}

std::uint32_t PlaybackPipeline::fileTurn()
{
    if (stop_ != PlayStop::None)
        return 0;
    if (output_ != nullptr && output_->image())
        return playStep(fileTurnBuffer_.data(), frameAudioBytes_);
    const std::uint32_t bytes = std::min<std::uint32_t>(2 * outputFrameBytes(), kMaxBlockBytes);
    return frameSource(fileTurnBuffer_.data(), bytes);
}

} // namespace tarnvel::engine
