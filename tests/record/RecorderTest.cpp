#include "RecordFixture.h"
#include "common/ByteOrder.h"
#include "record/LongPlayEncode.h"

#include <cstring>
#include <gtest/gtest.h>

namespace tarnvel::record::test {
namespace {

dat::TimeCode absOf(const dat::DatFrame& f)
{
    return dat::absTimeOf(f.subcode).value_or(dat::kNoValue);
}

TEST(RecordFormatTest, FramesForSecondsAndSilenceBytes)
{
    const RecordFormat f48 = pcm16(48000);
    EXPECT_EQ(framesForSeconds(1, f48), 33);
    EXPECT_EQ(framesForSeconds(2, f48), 66);
    EXPECT_EQ(framesForSeconds(4, f48), 133);
    EXPECT_EQ(framesForSeconds(10, f48), 333);
    EXPECT_EQ(framesForSeconds(0, f48), 0);
    const RecordFormat lp = *formatFromWave(
        formats::WaveFormat::make(formats::kWaveFormatPcm, 2, 32000, 16), true, false, 0);
    EXPECT_TRUE(lp.longPlay());
    EXPECT_EQ(framesForSeconds(4, lp), 66);
    const RecordFormat x24 = *formatFromWave(
        formats::WaveFormat::make(formats::kWaveFormatPcm, 2, 48000, 24), false, false, 0);
    EXPECT_EQ(framesForSeconds(4, x24), 266);
    EXPECT_EQ(framesForSeconds(4, pcm16(96000)), 266);

    // Silence is measured in the source's own samples: 2 s of a 24-bit file is 2 s, not 4.
    EXPECT_EQ(f48.silenceBytes(66), 66u * 5760);
    EXPECT_EQ(lp.silenceBytes(33), 33u * 7680);
    EXPECT_EQ(x24.silenceBytes(framesForSeconds(2, x24)) / 6, 132u * 720);
    EXPECT_EQ(pcm16(44100).silenceBytes(1), 5292u);

    // Buffers of four frames hold whole frame pairs of 24-bit audio at every rate (a 44.1 kHz
    // pair holds 1323 sample pairs).
    for (const std::uint32_t rate : {44100u, 48000u, 32000u, 88200u, 96000u}) {
        for (const std::uint16_t bits : {24, 32}) {
            const RecordFormat x = *formatFromWave(
                formats::WaveFormat::make(formats::kWaveFormatPcm, 2, rate, bits), false, false, 0);
            const std::uint32_t pair = x.frameAudioBytes / 4 * x.source.blockAlign;
            EXPECT_EQ(x.sourceBytesPerBlock(4), 2 * pair) << rate << " " << bits;
            EXPECT_EQ(x.silenceBytes(300) % x.source.blockAlign, 0u) << rate << " " << bits;
        }
    }
    EXPECT_EQ(f48.sourceBytesPerBlock(4), 4u * 5760);
    EXPECT_EQ(lp.sourceBytesPerBlock(4), 4u * 7680);
}

TEST(RecordFormatTest, FormatsOfFilesAndOfTheSoundInput)
{
    using formats::WaveFormat;
    const auto f24 = formatFromWave(WaveFormat::make(1, 2, 44100, 24), false, true, 2);
    ASSERT_TRUE(f24);
    EXPECT_EQ(f24->bitLength, 24);
    EXPECT_EQ(f24->frameAudioBytes, 5292u);
    EXPECT_EQ(f24->subcodeRate(), 88200);
    EXPECT_TRUE(f24->emphasis);
    EXPECT_EQ(f24->copyBits, 2);
    const auto fl = formatFromWave(WaveFormat::make(3, 2, 48000, 32), false, false, 0);
    ASSERT_TRUE(fl);
    EXPECT_EQ(fl->sampleKind, -32);
    // Long play only where it exists.
    EXPECT_FALSE(formatFromWave(WaveFormat::make(1, 2, 48000, 16), true, false, 0)->longPlay());
    EXPECT_FALSE(formatFromWave(WaveFormat::make(1, 1, 48000, 16), false, false, 0));
    EXPECT_FALSE(formatFromWave(WaveFormat::make(1, 2, 22050, 16), false, false, 0));
    EXPECT_FALSE(formatFromWave(WaveFormat::make(1, 2, 48000, 8), false, false, 0));

    app::Settings s;
    s.RecSamplingFreq = 48000;
    s.RecBitLen = 24;
    s.ExtendedFormatBitLen = -32;
    const RecordFormat in = formatFromSettings(s);
    EXPECT_TRUE(in.source.isFloat());
    EXPECT_EQ(in.source.bitsPerSample, 32);
    EXPECT_EQ(in.sampleKind, -32);
    s.RecSamplingFreq = 32000;
    s.RecBitLen = 12;
    const RecordFormat lpIn = formatFromSettings(s);
    EXPECT_TRUE(lpIn.longPlay());
    EXPECT_EQ(lpIn.source.bitsPerSample, 16);
}

TEST(RecorderTest, FramesCarryTheRatesAudioBytesAndZerosAfterThem)
{
    struct Case {
        int rate;
        std::uint32_t bytes;
        std::uint8_t sampleF;
    };
    for (const Case c : {Case{48000, 5760, 0}, Case{44100, 5292, 1}, Case{32000, 3840, 2}}) {
        RecorderRig r;
        r.begin(pcm16(c.rate));
        std::vector<std::uint8_t> audio = ramp16(2 * c.bytes / 4, 1);
        ASSERT_EQ(r.rec.recordBlock(audio.data(), static_cast<std::uint32_t>(audio.size())),
                  audio.size());
        ASSERT_EQ(r.sink.frames.size(), 2u) << c.rate;
        for (int i = 0; i < 2; ++i) {
            const dat::DatFrame& f = r.sink.frames[static_cast<std::size_t>(i)];
            EXPECT_EQ(std::memcmp(f.audio.data(), audio.data() + i * c.bytes, c.bytes), 0);
            for (std::size_t k = c.bytes; k < dat::kAudioBytes; ++k)
                ASSERT_EQ(f.audio[k], 0) << c.rate << " byte " << k;
            EXPECT_EQ(f.subcode.mainIdFields().sampleF, c.sampleF);
        }
        EXPECT_EQ(absOf(r.sink.frames[1]), (dat::TimeCode{0, 0, 0, 1}));
    }
}

TEST(RecorderTest, TwentyFourBitSamplesBecomeUpperWordAndLowByteFramePairs)
{
    struct Case {
        const char* name;
        formats::WaveFormat wave;
        std::vector<std::uint8_t> sample; // one value; the pair repeats it
        std::uint16_t upper;
        std::uint8_t low;
    };
    auto floatBytes = [](float v) {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        return std::vector<std::uint8_t>{
            static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
    };
    using formats::WaveFormat;
    const Case cases[] = {
        {"int24", WaveFormat::make(1, 2, 48000, 24), {0x56, 0x34, 0x12}, 0x1234, 0x56},
        {"int32", WaveFormat::make(1, 2, 48000, 32), {0x78, 0x56, 0x34, 0x12}, 0x1234, 0x56},
        {"float +1", WaveFormat::make(3, 2, 48000, 32), floatBytes(1.0f), 0x7FFF, 0xFF},
        {"float -1", WaveFormat::make(3, 2, 48000, 32), floatBytes(-1.0f), 0x8000, 0x00},
        {"float over", WaveFormat::make(3, 2, 48000, 32), floatBytes(3.5f), 0x7FFF, 0xFF},
        {"float half", WaveFormat::make(3, 2, 48000, 32), floatBytes(-0.5f), 0xC000, 0x00},
    };
    for (const Case& c : cases) {
        RecorderRig r;
        r.begin(*formatFromWave(c.wave, false, false, 0));
        std::vector<std::uint8_t> block;
        for (int k = 0; k < 2 * 1440; ++k)
            block.insert(block.end(), c.sample.begin(), c.sample.end());
        ASSERT_EQ(r.rec.recordBlock(block.data(), static_cast<std::uint32_t>(block.size())),
                  block.size());
        ASSERT_EQ(r.sink.frames.size(), 2u) << c.name;
        const dat::DatFrame& hi = r.sink.frames[0];
        const dat::DatFrame& lo = r.sink.frames[1];
        EXPECT_EQ(hi.audioWord(0), c.upper) << c.name;
        EXPECT_EQ(hi.audioWord(2879), c.upper) << c.name;
        EXPECT_EQ(lo.audioWord(0), c.low) << c.name;
        EXPECT_EQ(lo.audioWord(2879), c.low) << c.name;
        EXPECT_EQ(hi.subcode.mainId(0), 0x40) << c.name;
        EXPECT_EQ(lo.subcode.mainId(0), 0x40) << c.name;
        // A pair is one frame of time.
        EXPECT_EQ(r.rec.runCount(), 1) << c.name;
    }
}

TEST(RecorderTest, LongPlayPutsTwoBlocksIntoOneFrame)
{
    RecorderRig r;
    r.begin(*formatFromWave(formats::WaveFormat::make(1, 2, 32000, 16), true, false, 0));
    std::vector<std::uint8_t> first = ramp16(960, 100);
    std::vector<std::uint8_t> second = ramp16(960, -3000);
    ASSERT_EQ(r.rec.recordFrame(first.data(), 3840), 3840u);
    EXPECT_TRUE(r.sink.frames.empty()); // written with its second half
    ASSERT_EQ(r.rec.recordFrame(second.data(), 3840), 3840u);
    ASSERT_EQ(r.sink.frames.size(), 1u);
    const dat::DatFrame& f = r.sink.frames[0];
    EXPECT_EQ(f.subcode.mainIdFields().quantize, 1);
    EXPECT_EQ(f.subcode.mainIdFields().sampleF, 2);
    // Pair 0 of each half: bytes 1, 0, 9 (first) and 3, 2, 11 (second).
    const unsigned a = longPlayCode(100);
    const unsigned b = longPlayCode(-100);
    EXPECT_EQ(f.audio[1], a >> 4);
    EXPECT_EQ(f.audio[0], ((a & 15) << 4) | (b & 15));
    EXPECT_EQ(f.audio[9], b >> 4);
    const unsigned c = longPlayCode(-3000);
    const unsigned d = longPlayCode(3000);
    EXPECT_EQ(f.audio[3], c >> 4);
    EXPECT_EQ(f.audio[2], ((c & 15) << 4) | (d & 15));
    EXPECT_EQ(f.audio[11], d >> 4);

    // A source that ends after a first half: the frame goes out with a silent second half.
    ASSERT_EQ(r.rec.recordFrame(first.data(), 3840), 3840u);
    r.rec.flushHalfFrame();
    ASSERT_EQ(r.sink.frames.size(), 2u);
    EXPECT_EQ(r.sink.frames[1].audio[1], a >> 4);
    EXPECT_EQ(r.sink.frames[1].audio[3], 0);
    EXPECT_EQ(r.sink.frames[1].audio[11], 0);
    r.rec.flushHalfFrame(); // nothing more waits
    EXPECT_EQ(r.sink.frames.size(), 2u);
}

TEST(RecorderTest, LongPlayCodesFollowTheNonlinearRule)
{
    struct Case {
        int sample;
        unsigned code;
    };
    for (const Case c : {Case{0, 0}, Case{511, 511}, Case{512, 512}, Case{1023, 767},
                         Case{1024, 768}, Case{4095, 1279}, Case{32767, 2047}, Case{-1, 0xFFF},
                         Case{-512, 0xE00}, Case{-32768, 0x800}, Case{16384, 1792}})
        EXPECT_EQ(longPlayCode(static_cast<std::int16_t>(c.sample)), c.code) << c.sample;
}

TEST(RecorderTest, PendingIdGoesOnTheNextFrameAndWaitsForThePreSilence)
{
    RecorderRig r;
    r.begin(pcm16(48000));
    std::vector<std::uint8_t> audio = ramp16(1440, 7);
    r.rec.setPreSilence(66);
    r.rec.setPendingId(kPendingStart, 5);
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(r.rec.recordFrame(audio.data(), 5760), 5760u);
    const auto& frames = r.sink.frames;
    for (int i = 0; i < 66; ++i) {
        ASSERT_EQ(frames[static_cast<std::size_t>(i)].subcode.subIdFlags(), 0) << i;
        ASSERT_EQ(frames[static_cast<std::size_t>(i)].audioWord(1), 0) << i;
    }
    EXPECT_EQ(frames[66].subcode.subIdFlags(), 0xC0);
    EXPECT_EQ(frames[66].subcode.subIdDigits(), 0x005);
    EXPECT_EQ(frames[66].audioWord(0), 7);
    EXPECT_EQ(frames[365].subcode.subIdFlags(), 0xC0);
    EXPECT_EQ(frames[366].subcode.subIdFlags(), 0);
    EXPECT_EQ(r.drive.getTable(0, false)->count, 1);
    EXPECT_EQ(r.drive.getTable(0, false)->entries[0].frames, 66);
}

TEST(RecorderTest, AnIdAskedForDuringAnIdRunWaitsForItsEnd)
{
    struct Case {
        const char* name;
        int kind;
        int pNo;
        std::uint8_t flags;
        std::uint16_t digits;
    };
    const Case cases[] = {{"SKIP", kPendingSkip, 0, 0x20, 0x0AA},
                          {"START 7", kPendingStart, 7, 0xC0, 0x007}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecorderRig r;
        r.begin(pcm16(48000));
        std::vector<std::uint8_t> audio = ramp16(1440, 3);
        r.rec.setPendingId(kPendingStart, 5);
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(r.rec.recordFrame(audio.data(), 5760), 5760u);
        // Asked for ten frames into the START run (Write ID just after an Auto ID).
        r.rec.setPendingId(c.kind, c.pNo);
        for (int i = 0; i < 400; ++i)
            ASSERT_EQ(r.rec.recordFrame(audio.data(), 5760), 5760u);
        const auto& frames = r.sink.frames;
        EXPECT_EQ(frames[299].subcode.subIdFlags(), 0xC0);
        EXPECT_EQ(frames[299].subcode.subIdDigits(), 0x005);
        EXPECT_EQ(frames[300].subcode.subIdFlags(), c.flags);
        EXPECT_EQ(frames[300].subcode.subIdDigits(), c.digits);
        EXPECT_EQ(r.rec.pendingKind(), kPendingNone);
    }
}

TEST(RecorderTest, APreSilenceOfNoFramesLeavesTheRecordingAlone)
{
    RecorderRig r;
    r.begin(pcm16(48000));
    std::vector<std::uint8_t> audio = ramp16(1440, 9);
    r.rec.setPreSilence(0);
    EXPECT_EQ(r.rec.muteFramesLeft(), 0u);
    r.rec.setPendingId(kPendingStart, 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(r.rec.recordFrame(audio.data(), 5760), 5760u);
    EXPECT_EQ(r.sink.frames[0].subcode.subIdFlags(), 0xC0);
    EXPECT_EQ(r.sink.frames[2].audioWord(0), 9);
}

TEST(RecorderTest, RecordMuteWritesSilenceThenAsksForThePause)
{
    RecorderRig r;
    int ended = 0;
    r.rec.onMuteEnd = [&] { ++ended; };
    r.begin(pcm16(48000));
    std::vector<std::uint8_t> audio = ramp16(1440, 3);
    ASSERT_TRUE(r.rec.startMute(3));
    EXPECT_FALSE(r.rec.startMute(5)); // a mute in progress is not restarted
    r.rec.setPendingId(kPendingSkip, 0);
    for (int i = 0; i < 4; ++i)
        r.rec.recordFrame(audio.data(), 5760);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(r.sink.frames[2].audioWord(0), 0);
    EXPECT_EQ(r.sink.frames[2].subcode.subIdFlags(), 0);
    // The ID asked for during the mute lands on the first frame after it.
    EXPECT_EQ(r.sink.frames[3].subcode.subIdFlags(), dat::kSubIdSkip);
    EXPECT_EQ(r.sink.frames[3].audioWord(0), 3);
}

TEST(RecorderTest, TheSoundInputIsDroppedWhilePaused)
{
    RecorderRig r;
    RecordSetup s;
    s.format = pcm16(48000);
    s.liveInput = true;
    r.rec.begin(s, dat::TimeCode{0, 0, 0, 0});
    std::vector<std::uint8_t> audio = ramp16(1440);
    r.rec.setPauseDown(true);
    EXPECT_EQ(r.rec.recordBlock(audio.data(), 5760), 5760u);
    EXPECT_TRUE(r.sink.frames.empty());
    r.rec.setPauseDown(false);
    r.rec.recordBlock(audio.data(), 5760);
    EXPECT_EQ(r.sink.frames.size(), 1u);
}

TEST(RecorderTest, VirtualIdModeKeepsIdsOffTheTapeButInTheList)
{
    RecorderRig r;
    r.drive.setVirtualIdMode(0, true);
    r.begin(pcm16(48000), nullptr, false, dat::TimeCode{0, 0, 0x10, 0});
    std::vector<std::uint8_t> audio = ramp16(1440);
    r.rec.setPendingId(kPendingStart, 3);
    r.rec.recordFrame(audio.data(), 5760);
    const dat::SubcodeBlock& sub = r.sink.frames[0].subcode;
    EXPECT_EQ(sub.subId(0), 0);
    EXPECT_EQ(sub.subId(1), 1);
    EXPECT_EQ(sub.subId(2), 0xAA);
    EXPECT_EQ(sub.bytes[8], 0x20);
    EXPECT_EQ(sub.bytes[9], 0xAA);
    EXPECT_TRUE(sub.pack(1).parityOk());
    const dat::IdTable* v = r.drive.getTable(0, true);
    ASSERT_EQ(v->count, 1);
    EXPECT_EQ(v->entries[0].pNo, 3);
    EXPECT_EQ(v->entries[0].seconds, 10);
    // The frame under construction still carries the run.
    EXPECT_EQ(r.rec.frame().subcode.subIdFlags(), 0xC0);
}

TEST(RecorderTest, TheDatePackIsWrittenOnlyWhenAskedAndNotByTheRecordLoop)
{
    for (const bool loop : {false, true}) {
        for (const bool date : {false, true}) {
            RecorderRig r;
            RecordSetup s;
            s.format = pcm16(48000);
            s.writeDate = date;
            s.recordLoop = loop;
            r.rec.begin(s, dat::TimeCode{0, 0, 0, 0});
            std::vector<std::uint8_t> audio = ramp16(1440);
            r.rec.recordFrame(audio.data(), 5760);
            const dat::SubcodePack pack4 = r.sink.frames[0].subcode.pack(4);
            EXPECT_EQ(pack4.item() == 5, date && !loop) << loop << date;
        }
    }
}

TEST(RecorderTest, WriterFailuresAndTheEndIdStopTheRun)
{
    struct Case {
        int failState;
        RecordStop stop;
    };
    for (const Case c : {Case{FrameSink::kWriteFailed, RecordStop::WriteFailed},
                         Case{FrameSink::kEndOfTape, RecordStop::EndOfTape}}) {
        RecorderRig r;
        r.sink.failAfter = 3;
        r.sink.failState = c.failState;
        r.begin(pcm16(48000));
        std::vector<std::uint8_t> audio = ramp16(1440);
        EXPECT_EQ(r.rec.recordBlock(audio.data(), 5760), 5760u);
        EXPECT_EQ(r.rec.recordBlock(audio.data(), 5760), 5760u);
        EXPECT_EQ(r.rec.recordBlock(audio.data(), 5760), 0u);
        EXPECT_EQ(r.rec.stopCause(), c.stop);
        EXPECT_TRUE(r.stopRequested.load());
        EXPECT_EQ(r.rec.recordBlock(audio.data(), 5760), 0u);
        EXPECT_EQ(r.sink.frames.size(), 3u);
    }

    RecorderRig r;
    r.begin(pcm16(48000));
    std::vector<std::uint8_t> audio(5760, 0);
    r.rec.setPendingId(kPendingEnd, dat::kIdCodeEnd);
    int written = 0;
    while (r.rec.recordFrame(audio.data(), 5760) != 0)
        ++written;
    EXPECT_EQ(written, 299);
    EXPECT_EQ(r.sink.frames.size(), 300u);
    EXPECT_EQ(r.rec.stopCause(), RecordStop::EndIdDone);
    EXPECT_EQ(r.sink.frames[0].subcode.subId(2), 0xEE);
    EXPECT_EQ(r.sink.frames[299].subcode.subId(0), 0x80);
}

TEST(RecorderTest, Mem2StopsAtItsTime)
{
    RecorderRig r;
    RecordSetup s;
    s.format = pcm16(48000);
    s.mem2 = dat::TimeCode{0, 0, 0x01, 0x05};
    r.rec.begin(s, dat::TimeCode{0, 0, 0x01, 0x00});
    std::vector<std::uint8_t> audio = ramp16(1440);
    int n = 0;
    while (r.rec.recordFrame(audio.data(), 5760) != 0)
        ++n;
    EXPECT_EQ(n, 5);
    EXPECT_EQ(r.rec.stopCause(), RecordStop::Mem2);
    EXPECT_EQ(absOf(r.sink.frames.back()), s.mem2);
}

TEST(RecorderTest, AContinuationKeepsTheAbsTimeAndEndsAnIdRun)
{
    RecorderRig r;
    r.begin(pcm16(48000), nullptr, false, dat::TimeCode{0, 0, 0x02, 0});
    std::vector<std::uint8_t> audio = ramp16(1323);
    r.rec.setPendingId(kPendingStart, 1);
    for (int i = 0; i < 10; ++i)
        r.rec.recordFrame(audio.data(), 5292);
    RecordSetup next;
    next.format = pcm16(44100);
    r.rec.begin(next, std::nullopt);
    r.rec.recordFrame(audio.data(), 5292);
    const dat::DatFrame& f = r.sink.frames.back();
    EXPECT_EQ(absOf(f), (dat::TimeCode{0, 0, 0x02, 0x10}));
    EXPECT_EQ(f.subcode.subIdFlags(), 0);
    EXPECT_EQ(f.subcode.mainIdFields().sampleF, 1);
}

} // namespace
} // namespace tarnvel::record::test
