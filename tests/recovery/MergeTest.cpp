#include "RecoveryFixture.h"
#include "recovery/ImageMerge.h"
#include "recovery/RecoveryMessages.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <tuple>

namespace tarnvel::recovery::test {
namespace {

namespace fs = std::filesystem;

class Merge : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::vector<dat::DatFrame> tape = tapeFrames({.count = 1200, .starts = {0, 600}});

    // Images of the tape read with each damage, merged in that order.
    bool merge(const std::vector<std::vector<Damage>>& reads, std::string& error)
    {
        MergeOptions o;
        for (std::size_t k = 0; k < reads.size(); ++k) {
            const std::string path = dir.file("pass" + std::to_string(k + 1) + ".TVI");
            writeImage(path, damaged(tape, reads[k]));
            o.images.push_back(path);
        }
        o.output = dir.file("out.TVI");
        return mergeImages(o, result, error);
    }
    std::vector<dat::DatFrame> output() { return readImage(dir.file("out.TVI")); }

    MergeResult result;
};

TEST_F(Merge, PassesWithDisjointDamageGiveTheUndamagedTape)
{
    std::string error;
    ASSERT_TRUE(merge({{{100, 120, 'L'}, {300, 305, 'B'}, {700, 700, 'U'}},
                       {{200, 210, 'R'}, {400, 401, 'L'}, {1199, 1199, 'B'}}},
                      error))
        << error;
    const auto out = output();
    ASSERT_EQ(out.size(), tape.size());
    for (std::size_t i = 0; i < tape.size(); ++i)
        ASSERT_EQ(std::memcmp(out[i].data(), tape[i].data(), dat::kFrameBytes), 0) << i;
    EXPECT_EQ(result.sources[1].match, SourceMatch::AbsTime);
    EXPECT_TRUE(result.stillBad.empty());
    EXPECT_TRUE(result.conflicts.empty());
    EXPECT_EQ(result.badBefore, 21u + 6u + 1u);
    EXPECT_EQ(result.recovered, result.badBefore);
    // The stretches say where each part came from.
    const auto has = [&](std::uint32_t first, std::uint32_t frames, ChannelUse l, ChannelUse r) {
        return std::any_of(result.stretches.begin(), result.stretches.end(), [&](auto& s) {
            return s.firstFrame == first && s.frames == frames && s.left == l && s.right == r;
        });
    };
    EXPECT_TRUE(has(100, 21, {1, false}, {0, false}));
    EXPECT_TRUE(has(300, 6, {1, false}, {1, false}));
    EXPECT_TRUE(has(700, 1, {1, false}, {1, false}));
    const std::string report = mergeReportText({"Tarnvel", "a", "b", "out.TVI"}, result);
    EXPECT_NE(report.find("a pass over the same tape, matched by ABS time"), std::string::npos)
        << report;
    EXPECT_NE(report.find("Frames still bad: 0"), std::string::npos) << report;
    EXPECT_NE(report.find("00h00m03s00 - 00h00m03s20      21  L " + dir.file("pass2.TVI") + "  R " +
                          dir.file("pass1.TVI")),
              std::string::npos)
        << report;
}

// Where every read is bad, the frame stays bad and is listed, channel by channel: no more, no
// less; a channel one read has clean is recovered from it, and two reads whose clean channels
// complement each other give a clean frame.
TEST_F(Merge, OverlappingDamageListsExactlyWhatStaysBad)
{
    const std::vector<std::vector<Damage>> reads = {
        {{100, 120, 'L'}, {200, 205, 'B'}, {300, 310, 'L'}, {500, 502, 'U'}, {800, 805, 'R'}},
        {{110, 130, 'L'}, {203, 210, 'R'}, {300, 310, 'R'}, {501, 501, 'L'}, {800, 805, 'R'}},
        {{115, 119, 'L'}, {204, 204, 'B'}, {501, 501, 'L'}, {805, 805, 'B'}}};
    std::string error;
    ASSERT_TRUE(merge(reads, error)) << error;
    // What every read left bad.
    std::set<std::tuple<std::uint32_t, bool, bool>> expected;
    for (std::uint32_t i = 0; i < tape.size(); ++i) {
        bool left = true, right = true;
        for (const auto& read : reads) {
            const auto f = damaged({tape[i]}, [&] {
                std::vector<Damage> d;
                for (const Damage& x : read)
                    if (i >= x.first && i <= x.last)
                        d.push_back({0, 0, x.kind});
                return d;
            }());
            const FrameCondition c = FrameCondition::of(f[0]);
            left = left && c.left;
            right = right && c.right;
        }
        if (left || right)
            expected.insert({i, left, right});
    }
    std::set<std::tuple<std::uint32_t, bool, bool>> listed;
    for (const StillBadFrame& b : result.stillBad) {
        listed.insert({b.frame, b.left, b.right});
        EXPECT_EQ(b.abs, dat::framesToAbs(b.frame));
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(expected.size(), 8u); // 115-119 L, 204 R, 501 L, 805 R
    // Every frame is clean where it is not listed, and the flags say what is still bad.
    const auto out = output();
    for (std::uint32_t i = 0; i < tape.size(); ++i) {
        const FrameCondition c = FrameCondition::of(out[i]);
        const bool listedLeft = expected.count({i, true, true}) || expected.count({i, true, false});
        const bool listedRight =
            expected.count({i, true, true}) || expected.count({i, false, true});
        ASSERT_EQ(c.left, listedLeft) << i;
        ASSERT_EQ(c.right, listedRight) << i;
        if (!c.left) {
            ASSERT_TRUE(sameChannel(out[i], tape[i], kLeft, 1440)) << i;
        }
        if (!c.right) {
            ASSERT_TRUE(sameChannel(out[i], tape[i], kRight, 1440)) << i;
        }
    }
    // Frame 501: a stand-in in the first read, the left concealed in the others: the better
    // reads' concealed left (the first of them) and a clean right are kept.
    EXPECT_EQ(readLe16(&out[501].audio[0]), 0x1357);
    // The image's header counts the frames still bad.
    CollectingMessageSink sink;
    formats::ImageReader r(sink);
    ASSERT_TRUE(r.open(dir.file("out.TVI"), false));
    EXPECT_EQ(r.errorFrameCount(), expected.size());
}

TEST_F(Merge, LeftDamageInOneReadAndRightInTheOtherGiveCleanFrames)
{
    std::string error;
    ASSERT_TRUE(merge({{{100, 400, 'L'}}, {{100, 400, 'R'}}}, error)) << error;
    const auto out = output();
    for (std::size_t i = 0; i < tape.size(); ++i)
        ASSERT_EQ(std::memcmp(out[i].data(), tape[i].data(), dat::kFrameBytes), 0) << i;
    EXPECT_EQ(result.recovered, 301u);
}

TEST_F(Merge, CleanReadsThatDifferAreReportedAndTheReferenceKept)
{
    writeImage(dir.file("pass1.TVI"), tape);
    auto other = tape;
    other[250].audio[4 * 10 + 2] ^= 0x01; // one right sample, unflagged
    writeImage(dir.file("pass2.TVI"), other);
    MergeOptions o;
    o.images = {dir.file("pass1.TVI"), dir.file("pass2.TVI")};
    o.output = dir.file("out.TVI");
    std::string error;
    ASSERT_TRUE(mergeImages(o, result, error)) << error;
    ASSERT_EQ(result.conflicts.size(), 1u);
    EXPECT_EQ(result.conflicts[0].frame, 250u);
    EXPECT_EQ(result.conflicts[0].channel, kRight);
    EXPECT_EQ(result.conflicts[0].abs, dat::framesToAbs(250));
    EXPECT_EQ(std::memcmp(output()[250].data(), tape[250].data(), dat::kFrameBytes), 0);
    const std::string report = mergeReportText({}, result);
    EXPECT_NE(report.find("00h00m07s17  frame 250     R  " + dir.file("pass1.TVI") + " kept, " +
                          dir.file("pass2.TVI") + " differs"),
              std::string::npos)
        << report;
}

TEST_F(Merge, RefusesImagesOfAnotherRecordingAndWritesNothing)
{
    writeImage(dir.file("a.TVI"), tape);
    // Another recording with the same ABS times and IDs.
    writeImage(dir.file("b.TVI"), tapeFrames({.count = 1200, .firstSample = 1u << 30}));
    MergeOptions o;
    o.images = {dir.file("a.TVI"), dir.file("b.TVI")};
    o.output = dir.file("out.TVI");
    std::string error;
    EXPECT_FALSE(mergeImages(o, result, error));
    EXPECT_EQ(error, "The images hold different recordings: no frame of " + dir.file("b.TVI") +
                         " matches " + dir.file("a.TVI") + ".");
    EXPECT_FALSE(fs::exists(dir.file("out.TVI")));
    // And images that cannot be merged at all.
    o.images = {dir.file("a.TVI")};
    EXPECT_FALSE(mergeImages(o, result, error));
    o.images = {dir.file("a.TVI"), dir.file("missing.TVI")};
    EXPECT_FALSE(mergeImages(o, result, error));
    EXPECT_NE(error.find("missing.TVI"), std::string::npos) << error;
}

TEST_F(Merge, AStopEndsTheMergeAndSaysSo)
{
    std::atomic<bool> stop{false};
    MergeOptions o;
    writeImage(dir.file("a.TVI"), damaged(tape, {{10, 20, 'L'}}));
    writeImage(dir.file("b.TVI"), tape);
    o.images = {dir.file("a.TVI"), dir.file("b.TVI")};
    o.output = dir.file("out.TVI");
    o.stop = &stop;
    o.progress = [&](const MergeProgress& p) {
        if (p.phase == MergeProgress::Phase::Comparing)
            stop = true;
    };
    std::string error;
    EXPECT_FALSE(mergeImages(o, result, error));
    EXPECT_TRUE(result.interrupted);
    EXPECT_LT(result.frames, tape.size());
}

} // namespace
} // namespace tarnvel::recovery::test
