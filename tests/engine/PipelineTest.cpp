#include "AllocationCounter.h"
#include "DeckFixture.h"
#include "dat/StatusPoll.h"
#include "engine/Playback.h"

#include <algorithm>

namespace tarnvel::engine::test {
namespace {

using dat::TimeCode;

// A drive with the cassette loaded and in audio mode, and a pipeline on it.
class PipelineTest : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string path = dir.file("tape.tvs");
    std::shared_ptr<sim::SimulatedDrive> sim;
    std::unique_ptr<dat::DatDrive> drive;
    PlaySettings settings;
    std::unique_ptr<PlaybackPipeline> pipe;
    std::array<std::uint8_t, dat::kAudioBytes> buffer{};

    void load(const std::function<void(sim::Cassette&)>& fill)
    {
        {
            std::string error;
            auto c = sim::Cassette::create(path, 2, error);
            ASSERT_TRUE(c) << error;
            fill(*c);
        }
        std::string error;
        sim::SimOptions o;
        o.cueMilliseconds = 10;
        o.motionScale = 0.01;
        auto s = sim::SimulatedDrive::open(path, o, error);
        ASSERT_TRUE(s) << error;
        sim = std::shared_ptr<sim::SimulatedDrive>(std::move(s));
        drive = std::make_unique<dat::DatDrive>(false, nullptr);
        drive->addTarget(sim);
        ASSERT_EQ(drive->scanDevices(scsi::kTypeSequentialAccess), 1);
        ASSERT_TRUE(drive->identify(0));
        dat::StatusPoller poller(*drive, 0);
        const dat::StatusPollResult r = dat::pollUntilSettled(poller, 200, 10);
        ASSERT_EQ(r.status, dat::kUnitReady);
        ASSERT_EQ(drive->rewind(0, false), scsi::kSsComp);
        pipe = std::make_unique<PlaybackPipeline>(*drive, 0, settings);
        pipe->prepareStart(false);
        pipe->buildOutputFormat();
    }

    // Steps until PlayStep returns 0; returns the number of frames stepped.
    int stepToStop(int limit = 5000)
    {
        for (int i = 0; i < limit; ++i)
            if (pipe->playStep(buffer.data(), pipe->frameAudioBytes()) == 0)
                return i;
        return limit;
    }
    std::int16_t word(std::size_t k) const
    {
        return static_cast<std::int16_t>(buffer[2 * k] | buffer[2 * k + 1] << 8);
    }
};

TEST_F(PipelineTest, ErrorFramesAreCountedMutedListedAndStopAtTheLimit)
{
    struct Case {
        std::int32_t limit; // ErrorStopCounter
        bool mute;
        int expectLeft; // errors counted when playback stops
        PlayStop expectStop;
    };
    const Case cases[] = {
        {100, true, 100, PlayStop::ErrorLimitLeft},
        {0, true, 1, PlayStop::ErrorLimitLeft}, // 0: the first error frame stops
        {-1, false, 150, PlayStop::EndOfTape},  // -1 compared unsigned: never stops
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        pipe.reset();
        drive.reset();
        sim.reset();
        std::filesystem::remove(path);
        load([](sim::Cassette& cas) {
            TapeBuilder b(cas);
            b.start(1);
            b.frames(300);
            std::string error;
            ASSERT_TRUE(cas.addFault({50, 199, sim::FaultKind::Left}, error)) << error;
            ASSERT_TRUE(cas.addFault({60, 60, sim::FaultKind::Both}, error)) << error;
        });
        settings.errorStopCounter = static_cast<std::uint32_t>(c.limit);
        settings.enableErrorMute = c.mute;
        bool checkedMute = false;
        for (int i = 0; i < 1000; ++i) {
            const std::uint32_t n = pipe->playStep(buffer.data(), pipe->frameAudioBytes());
            if (n == 0)
                break;
            if (drive->getPosition(0)->absTime == dat::framesToAbs(70)) {
                // Frame 70 has a left error: its left samples are silent only when muting.
                EXPECT_EQ(word(2) == 0, c.mute);
                EXPECT_EQ(word(3), tapeSample(70, 3));
                checkedMute = true;
            }
        }
        EXPECT_EQ(pipe->stopReason(), c.expectStop);
        EXPECT_EQ(pipe->errorsLeft.load(), static_cast<std::uint32_t>(c.expectLeft));
        if (c.expectStop == PlayStop::EndOfTape) {
            EXPECT_TRUE(checkedMute);
            // Frame 60 had both errors: counted in both counts, listed once.
            EXPECT_EQ(pipe->errorsRight.load(), 1u);
            EXPECT_EQ(pipe->errorFrameTotal.load(), 150u);
            ASSERT_EQ(pipe->errorListCount(), 100);
            EXPECT_EQ(pipe->errorListEntry(0).abs, dat::framesToAbs(50));
            EXPECT_EQ(pipe->errorListEntry(10).abs, dat::framesToAbs(60));
            EXPECT_EQ(pipe->errorListEntry(10).errorByte, 0x60);
            EXPECT_EQ(pipe->errorListEntry(11).abs, dat::framesToAbs(61));
        }
    }
}

TEST_F(PipelineTest, Mem2StopsAtItsTimeAndAnAllZeroMem2NeverArms)
{
    load([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(200);
    });
    settings.mem2StopChecked = true;
    pipe->setMem2(TimeCode{0, 0, 0, 0});
    EXPECT_EQ(stepToStop(), 200);
    EXPECT_EQ(pipe->stopReason(), PlayStop::EndOfTape);

    ASSERT_EQ(drive->rewind(0, false), scsi::kSsComp);
    pipe->prepareStart(false);
    pipe->setMem2(TimeCode{0x00, 0x00, 0x03, 0x00}); // 00:00:03 frame 00 = frame 100
    EXPECT_EQ(stepToStop(), 100);
    EXPECT_EQ(pipe->stopReason(), PlayStop::Mem2);
}

TEST_F(PipelineTest, EndIdStopsPlaybackOrIsCopiedWholeInImageMode)
{
    load([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.end();
        b.frames(300);
        b.frames(50); // past the END ID
    });
    EXPECT_EQ(stepToStop(), 400);
    EXPECT_EQ(pipe->stopReason(), PlayStop::EndId);

    // Image duplication plays through the END ID area and stops after it.
    struct FrameSink : PlayOutput {
        bool image() const override { return true; }
        bool peer() const override { return false; }
        bool writeFrame(const dat::DatFrame&, std::uint32_t) override
        {
            ++frames;
            return true;
        }
        bool writeAudio(const std::uint8_t*, std::uint32_t, std::uint32_t) override { return true; }
        int frames = 0;
    } sink;
    ASSERT_EQ(drive->rewind(0, false), scsi::kSsComp);
    pipe->prepareStart(false);
    pipe->setOutput(&sink);
    pipe->setEndIdMode(1);
    stepToStop();
    EXPECT_EQ(pipe->stopReason(), PlayStop::EndId);
    EXPECT_EQ(sink.frames, 700);
}

TEST_F(PipelineTest, AFormatChangeHoldsTheFrameAndPlaysItFirstOnTheRestart)
{
    load([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(100);
        b.format(44100);
        b.frames(100);
    });
    EXPECT_EQ(stepToStop(), 100);
    EXPECT_EQ(pipe->stopReason(), PlayStop::Held);
    ASSERT_TRUE(pipe->heldFrame());
    EXPECT_EQ(pipe->tapeFormat().rate, 44100);
    const std::uint32_t left = pipe->errorsAbs.load();

    // The deck's restart: a new output format, then the held frame comes first.
    pipe->buildOutputFormat();
    pipe->prepareStart(true);
    EXPECT_EQ(pipe->frameAudioBytes(), dat::kAudioBytes44k);
    ASSERT_EQ(pipe->playStep(buffer.data(), pipe->frameAudioBytes()), dat::kAudioBytes44k);
    EXPECT_EQ(word(0), tapeSample(100, 0));
    EXPECT_EQ(pipe->errorsAbs.load(), left); // its checks are not run twice
    ASSERT_EQ(pipe->playStep(buffer.data(), pipe->frameAudioBytes()), dat::kAudioBytes44k);
    EXPECT_EQ(word(0), tapeSample(101, 0));
}

TEST_F(PipelineTest, SkipIdEndsTheStepWithSkipPlayButNotInAOneFrameStep)
{
    load([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.start(1);
        b.frames(400);
        b.skip();
        b.frames(100);
    });
    settings.enableSkipPlay = true;
    EXPECT_EQ(stepToStop(), 400);
    EXPECT_EQ(pipe->stopReason(), PlayStop::Skip);
    EXPECT_TRUE(pipe->skipPending());

    ASSERT_EQ(drive->rewind(0, false), scsi::kSsComp);
    pipe->prepareStart(false);
    pipe->setSingleStep(true);
    EXPECT_EQ(stepToStop(), 500);
    EXPECT_FALSE(pipe->skipPending());
}

TEST_F(PipelineTest, PlayStepAllocatesNothing)
{
    load([](sim::Cassette& c) {
        TapeBuilder b(c, 32000, 1); // long play: both halves per frame
        b.start(1);
        b.frames(300);
        std::string error;
        ASSERT_TRUE(c.addFault({100, 120, sim::FaultKind::Both}, error)) << error;
    });
    settings.enableDeEmphasis = true;
    // The first frames allocate the drive's read-ahead ring and pass the format change.
    stepToStop(3);
    pipe->buildOutputFormat();
    pipe->prepareStart(true);
    startCountingAllocations();
    int steps = 0;
    while (pipe->playStep(buffer.data(), dat::kAudioBytes32k) != 0)
        ++steps;
    const int allocations = stopCountingAllocations();
    EXPECT_GT(steps, 500);
    EXPECT_EQ(allocations, 0);
}

TEST_F(PipelineTest, ExtendedFormatPairsAreOrderedAndReorderedAfterAStartId)
{
    load([](sim::Cassette& c) {
        TapeBuilder b(c, 96000); // 48 kHz 24-bit pairs: high-rate frames in extended mode
        b.start(1);
        b.frame24(0, false); // a pair whose upper frame is missing: starts with a low frame
        for (int i = 1; i <= 200; ++i) {
            b.frame24(i, true);
            b.frame24(i, false);
        }
        b.start(2);
        b.frame24(500, false); // and again after the START ID
        for (int i = 501; i <= 600; ++i) {
            b.frame24(i, true);
            b.frame24(i, false);
        }
    });
    settings.extendedFormatMode = true;
    settings.extendedFormatBitLen = 24;
    // The first frame sets the format: the restart plays the held frame first.
    std::vector<std::uint8_t> out(2 * 8640);
    EXPECT_EQ(pipe->frameSource(out.data(), static_cast<std::uint32_t>(out.size())), 0u);
    ASSERT_TRUE(pipe->heldFrame());
    pipe->buildOutputFormat();
    pipe->prepareStart(true);
    ASSERT_EQ(pipe->outputFormat().bitsPerSample, 24);

    std::vector<int> blocks;
    for (;;) {
        const std::uint32_t n =
            pipe->frameSource(out.data(), static_cast<std::uint32_t>(out.size()));
        for (std::uint32_t at = 0; at + 8640 <= n; at += 8640) {
            // Which block is this? Sample 0 names it; every sample must then match.
            const auto s0 =
                static_cast<std::int32_t>(out[at] | out[at + 1] << 8 | out[at + 2] << 16) << 8 >> 8;
            int block = -1;
            for (int i = 0; i <= 600 && block < 0; ++i)
                if (TapeBuilder::sample24(i, 0) == s0)
                    block = i;
            ASSERT_GE(block, 0);
            for (std::size_t k = 0; k < 2880; k += 97) {
                const std::uint8_t* p = &out[at + 3 * k];
                const auto v = static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8 >> 8;
                ASSERT_EQ(v, TapeBuilder::sample24(block, k))
                    << "block " << block << " sample " << k;
            }
            blocks.push_back(block);
        }
        if (n < out.size())
            break;
    }
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.front(), 1);
    EXPECT_TRUE(std::count(blocks.begin(), blocks.end(), 200));
    EXPECT_TRUE(std::count(blocks.begin(), blocks.end(), 501)); // in order again after START 2
    EXPECT_EQ(blocks.back(), 600);
    EXPECT_EQ(std::count(blocks.begin(), blocks.end(), 500), 0); // the lone low frame
}

TEST(MainIdDecoding, RatesBitsLongPlayEmphasisAndCopyBits)
{
    struct Case {
        std::uint8_t id0, id1;
        bool extended;
        TapeFormat expect;
    };
    const Case cases[] = {
        {0x00, 0x00, false, {48000, 16, false, false, 0}},
        {0x04, 0x00, false, {44100, 16, false, false, 0}},
        {0x08, 0x40, false, {32000, 12, true, false, 0}}, // long play
        {0x10, 0x0C, false, {48000, 16, false, true, 3}}, // emphasis, copy once
        {0x40, 0x00, false, {96000, 16, false, false, 0}},
        {0x44, 0x00, false, {88200, 16, false, false, 0}},
        {0x40, 0x00, true, {48000, 24, false, false, 0}},
        {0x44, 0x08, true, {44100, 24, false, false, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.id0) << " " << int(c.id1));
        EXPECT_EQ(decodeMainId(c.id0, c.id1, c.extended), c.expect);
    }
    EXPECT_EQ(frameAudioBytesOf(96000), dat::kAudioBytes);
    EXPECT_EQ(frameAudioBytesOf(88200), dat::kAudioBytes44k);
    EXPECT_EQ(frameAudioBytesOf(32000), dat::kAudioBytes32k);
}

} // namespace
} // namespace tarnvel::engine::test
