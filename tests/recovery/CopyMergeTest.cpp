#include "RecoveryFixture.h"
#include "recovery/AudioMatch.h"
#include "recovery/ImageMerge.h"

#include <cstring>
#include <set>
#include <utility>

// Copies on other tapes: matched by their audio, sample for sample.
namespace tarnvel::recovery::test {
namespace {

// A copy that starts 3 s and 100 samples into the recording on a tape of its own (other ABS
// times, other IDs), pauses for 2 s of silence at its frame 400 and goes on where it paused,
// and has damage of its own, merged with a damaged read of the original. Every damaged frame
// whose samples the copy holds clean is recovered sample for sample; the rest is listed.
TEST(CopyMerge, AShiftedPausedCopyRepairsTheOriginalWhereItHoldsEverySample)
{
    tarnvel::test::TempDir dir;
    const auto tape = tapeFrames({.count = 1200, .starts = {0, 600}});
    const std::vector<Damage> damage = {
        {30, 40, 'L'},   // before the copy begins: stays bad
        {100, 100, 'R'}, // the copy begins 100 samples into this frame: stays bad
        {101, 101, 'B'}, // the copy's first whole frame
        {300, 320, 'L'}, {350, 351, 'U'}, {500, 500, 'L'}, // holds the place where the copy paused
        {630, 640, 'L'}, // the copy's own damage covers frames 633-636 of it
        {900, 902, 'R'}};
    writeImage(dir.file("read.TVI"), damaged(tape, damage));
    const TapeLayout copy{.count = 1167,
                          .firstSample = 3 * 48000 + 100,
                          .firstAbs = 4000,
                          .starts = {0, 300, 700},
                          .silenceAt = 400,
                          .silenceFrames = 67};
    writeImage(dir.file("copy.TVI"), damaged(tapeFrames(copy), {{600, 602, 'L'}}));

    MergeOptions o;
    o.images = {dir.file("read.TVI"), dir.file("copy.TVI")};
    o.output = dir.file("out.TVI");
    MergeResult result;
    std::string error;
    ASSERT_TRUE(mergeImages(o, result, error)) << error;
    ASSERT_EQ(result.sources[1].match, SourceMatch::Audio);
    // Two stretches: before and after the pause, each to the sample.
    ASSERT_EQ(result.sources[1].stretches.size(), 2u);
    const AudioStretch& a = result.sources[1].stretches[0].pairs;
    const AudioStretch& b = result.sources[1].stretches[1].pairs;
    EXPECT_EQ(a.offset, -(3 * 48000 + 100));
    EXPECT_EQ(b.offset, -(3 * 48000 + 100) + 67 * 1440);
    EXPECT_EQ(a.refFirst, 3u * 48000 + 100);
    EXPECT_EQ(a.refEnd, 3u * 48000 + 100 + 400 * 1440);
    EXPECT_EQ(b.refFirst, a.refEnd);
    EXPECT_EQ(result.sources[1].stretches[0].copyFrom, dat::framesToAbs(4000));
    EXPECT_EQ(result.sources[1].stretches[1].copyFrom, dat::framesToAbs(4000 + 467));

    std::set<std::pair<std::uint32_t, char>> bad;
    for (const StillBadFrame& f : result.stillBad)
        bad.insert({f.frame, f.left && f.right ? 'B' : f.left ? 'L' : 'R'});
    std::set<std::pair<std::uint32_t, char>> expected{
        {100, 'R'}, {633, 'L'}, {634, 'L'}, {635, 'L'}, {636, 'L'}};
    for (std::uint32_t i = 30; i <= 40; ++i)
        expected.insert({i, 'L'});
    EXPECT_EQ(bad, expected);
    const auto out = readImage(dir.file("out.TVI"));
    ASSERT_EQ(out.size(), tape.size());
    for (std::uint32_t i = 0; i < tape.size(); ++i) {
        const bool listed = expected.count({i, 'L'}) || expected.count({i, 'R'});
        if (!listed) {
            ASSERT_EQ(std::memcmp(out[i].audio.data(), tape[i].audio.data(), dat::kAudioBytes), 0)
                << i;
        }
        // The reference's subcode, with the flags of what is still bad.
        dat::DatFrame sub = tape[i];
        setInterpolationFlags(sub, expected.count({i, 'L'}) > 0, expected.count({i, 'R'}) > 0);
        ASSERT_EQ(out[i].subcode.bytes, sub.subcode.bytes) << i;
    }
    const std::string report = mergeReportText({}, result);
    EXPECT_NE(report.find("a copy, matched by its audio"), std::string::npos) << report;
    EXPECT_NE(
        report.find("reference 00h00m03s00 - 00h00m15s00 is " + dir.file("copy.TVI") +
                    " 00h02m00s00 - 00h02m11s33, offset -144100 samples (reference sample = copy "
                    "sample +144100)"),
        std::string::npos)
        << report;
}

// The copy may hold more than the reference (the read of the original began later) and may
// skip a stretch without silence (it paused while the source played on).
TEST(CopyMerge, ACopyThatBeganEarlierAndSkippedAhead)
{
    tarnvel::test::TempDir dir;
    const TapeLayout original{.count = 1000, .firstSample = 2 * 48000 + 37};
    const auto tape = tapeFrames(original);
    writeImage(dir.file("read.TVI"), damaged(tape, {{50, 60, 'B'}, {800, 810, 'L'}}));
    // The copy: from the recording's start, and 1 s of it left out after its frame 500.
    TapeLayout skipping{.count = 1100};
    skipping.silenceAt = 500;
    skipping.silenceFrames = 1; // one silent frame marks the place, then a skip of 1 s
    skipping.skipAfterSilence = 48000;
    writeImage(dir.file("copy.TVI"), tapeFrames(skipping));
    MergeOptions o;
    o.images = {dir.file("read.TVI"), dir.file("copy.TVI")};
    o.output = dir.file("out.TVI");
    MergeResult result;
    std::string error;
    ASSERT_TRUE(mergeImages(o, result, error)) << error;
    EXPECT_TRUE(result.stillBad.empty());
    const auto out = readImage(dir.file("out.TVI"));
    for (std::uint32_t i = 0; i < tape.size(); ++i)
        ASSERT_EQ(std::memcmp(out[i].data(), tape[i].data(), dat::kFrameBytes), 0) << i;
    ASSERT_EQ(result.sources[1].stretches.size(), 2u);
    EXPECT_EQ(result.sources[1].stretches[0].pairs.offset, 2 * 48000 + 37);
    EXPECT_EQ(result.sources[1].stretches[1].pairs.offset, 2 * 48000 + 37 + 1440 - 48000);
}

TEST(PairIndex, FindsFramesAcrossRatesAndEnds)
{
    PairIndex index;
    for (int i = 0; i < 3; ++i)
        index.addFrame(1440);
    for (int i = 0; i < 2; ++i)
        index.addFrame(1323);
    index.addFrame(1440);
    struct Case {
        std::uint64_t pair;
        bool found;
        std::uint32_t frame, offset;
    };
    const Case cases[] = {{0, true, 0, 0},    {1439, true, 0, 1439}, {1440, true, 1, 0},
                          {4320, true, 3, 0}, {5642, true, 3, 1322}, {5643, true, 4, 0},
                          {6966, true, 5, 0}, {8405, true, 5, 1439}, {8406, false, 0, 0}};
    for (const Case& c : cases) {
        std::uint32_t frame = 99, offset = 99;
        ASSERT_EQ(index.locate(c.pair, frame, offset), c.found) << c.pair;
        if (c.found) {
            EXPECT_EQ(frame, c.frame) << c.pair;
            EXPECT_EQ(offset, c.offset) << c.pair;
            EXPECT_EQ(index.pairOf(frame) + offset, c.pair);
        }
    }
    EXPECT_EQ(index.totalPairs(), 8406u);
}

} // namespace
} // namespace tarnvel::recovery::test
