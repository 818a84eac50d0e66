#include "record/RecordSources.h"

#include "RecordFixture.h"
#include "dat/TimeCode.h"
#include "link/PeerFrameBlock.h"
#include "record/AutoId.h"
#include "record/PeerSource.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cstring>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>

namespace tarnvel::record::test {
namespace {

using tarnvel::test::TempDir;
using tarnvel::test::WavFixture;

class WaveListSourceTest : public ::testing::Test {
protected:
    std::string wav(const std::string& name, std::uint32_t rate, std::uint16_t bits,
                    std::uint32_t frames)
    {
        WavFixture f;
        f.rate = rate;
        f.bits = bits;
        f.withFrames(frames);
        const std::string path = dir.file(name);
        f.write(path);
        return path;
    }
    void useList(std::vector<RecFileEntry> list)
    {
        entries = std::move(list);
        source.setList([this](bool first) -> std::optional<RecFileEntry> {
            if (first)
                cursor = 0;
            if (cursor < entries.size())
                return entries[cursor++];
            return std::nullopt;
        });
    }

    TempDir dir;
    std::vector<RecFileEntry> entries;
    std::size_t cursor = 0;
    WaveListSource source;
};

TEST_F(WaveListSourceTest, ProgramNumbersGiveIdsOnlyWhereTheyChange)
{
    const std::string a = wav("a.wav", 48000, 16, 100);
    RecFileEntry e{a, 1, false, false, 0, 0};
    RecFileEntry none = e;
    none.pno = 0;
    RecFileEntry two = e;
    two.pno = 2;
    RecFileEntry end{kEndIdEntryName, dat::kIdCodeEnd, false, false, 0, 0};
    useList({e, e, two, none, end});
    struct Want {
        int kind;
        int pNo;
    };
    const Want want[] = {{kPendingStart, 1},
                         {kPendingNone, 0},
                         {kPendingStart, 2},
                         {kPendingNone, 0},
                         {kPendingEnd, 1111}};
    for (std::size_t i = 0; i < std::size(want); ++i) {
        ASSERT_TRUE(source.openNext(i == 0, 0, true)) << i;
        EXPECT_EQ(source.current().idKind, want[i].kind) << i;
        EXPECT_EQ(source.current().idPNo, want[i].pNo) << i;
    }
    // The END ID entry is 300 frames of silence at 48 kHz.
    EXPECT_EQ(source.current().preSilenceBytes, 300u * 5760);
    EXPECT_EQ(source.current().format.datRate, 48000);
    EXPECT_FALSE(source.openNext(false, 0, true));
    EXPECT_TRUE(source.failedName().empty());
}

TEST_F(WaveListSourceTest, TheEndIdEntryTakesTheFormatOfTheEntryBeforeIt)
{
    struct Case {
        const char* name;
        std::uint32_t rate;
        std::uint16_t bits;
        RecFileEntry entry;
        std::uint32_t endSilenceBytes;
    };
    const Case cases[] = {
        {"44.1 kHz 24-bit, emphasis, copy prohibited",
         44100,
         24,
         {"", 1, false, true, 2, 0},
         150 * 1323 * 6},
        {"32 kHz long play, copy once", 32000, 16, {"", 4, true, false, 3, 0}, 300 * 7680},
        {"48 kHz 16-bit", 48000, 16, {"", 2, false, false, 0, 0}, 300 * 5760},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecFileEntry file = c.entry;
        file.path = wav("a.wav", c.rate, c.bits, 1000);
        useList({file, {kEndIdEntryName, dat::kIdCodeEnd, false, false, 0, 0}});
        ASSERT_TRUE(source.openNext(true, 0, true));
        const RecordFormat before = source.current().format;
        ASSERT_TRUE(source.openNext(false, 0, true));
        EXPECT_EQ(source.current().format, before);
        EXPECT_EQ(source.current().idKind, kPendingEnd);
        EXPECT_EQ(source.current().preSilenceBytes, c.endSilenceBytes);
    }
}

TEST_F(WaveListSourceTest, SilencesFrameTheFileAndReadsFillWholeFrames)
{
    const std::string a = wav("a.wav", 44100, 16, 1000); // 4000 bytes
    useList({{a, 3, false, false, 0, 1}});
    ASSERT_TRUE(source.openNext(true, 2, true));
    const OpenedEntry& e = source.current();
    EXPECT_EQ(e.preSilenceBytes, 66u * 5292);
    EXPECT_EQ(e.postSilenceBytes, 33u * 5292);
    std::vector<std::uint8_t> buf(5292);
    std::uint64_t total = 0;
    std::vector<std::uint32_t> sizes;
    while (const std::uint32_t n = source.read(buf.data(), 5292)) {
        sizes.push_back(n);
        total += n;
    }
    EXPECT_EQ(total, 99u * 5292 + 4000);
    // Only the very last read is short: the file's end runs on into its trailing silence.
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
        ASSERT_EQ(sizes[i], 5292u) << i;
    EXPECT_TRUE(source.failure().empty());
}

TEST_F(WaveListSourceTest, TwentyFourBitSilenceLastsItsSeconds)
{
    const std::string a = wav("a.wav", 48000, 24, 480);
    useList({{a, 1, false, false, 0, 2}});
    ASSERT_TRUE(source.openNext(true, 1, true));
    // 1 s before and 2 s after, as 6-byte sample pairs.
    EXPECT_EQ(source.current().preSilenceBytes / 6, 66u * 720);
    EXPECT_EQ(source.current().postSilenceBytes / 6, 132u * 720);
}

TEST_F(WaveListSourceTest, AFileThatCannotBeOpenedOrReadIsNamed)
{
    const std::string a = wav("a.wav", 48000, 16, 20000);
    useList({{dir.file("missing.wav"), 1, false, false, 0, 0}, {a, 2, false, false, 0, 0}});
    EXPECT_FALSE(source.openNext(true, 0, true));
    EXPECT_EQ(source.failedName(), dir.file("missing.wav"));

    useList({{a, 2, false, false, 0, 0}});
    ASSERT_TRUE(source.openNext(true, 0, true));
    std::vector<std::uint8_t> buf(5760);
    ASSERT_EQ(source.read(buf.data(), 5760), 5760u);
    // The file loses its tail while it is recorded: a failure, not the end of the file.
    std::filesystem::resize_file(a, 44 + 10000);
    std::uint32_t n = 0;
    while ((n = source.read(buf.data(), 5760)) != 0) {
    }
    EXPECT_NE(source.failure().find("Unable to read file."), std::string::npos);
}

// Blocks from the other instance, handed over from memory when this side asks for one.
class MemoryPeer : public PeerReplies {
public:
    void reply(link::PeerState state) override
    {
        replies.push_back(state);
        if (state == link::PeerState::ReadyForBlock && source != nullptr && !blocks.empty()) {
            const std::vector<std::uint8_t> b = blocks.front();
            blocks.pop_front();
            source->deliver(b.data(), b.size());
        }
    }
    void add(const link::PeerFrameBlock& block)
    {
        std::vector<std::uint8_t> bytes(link::kPeerBlockBytes);
        link::encodePeerBlock(block, bytes.data());
        blocks.push_back(bytes);
    }
    std::vector<link::PeerState> replies;
    std::deque<std::vector<std::uint8_t>> blocks;
    PeerSource* source = nullptr;
};

link::PeerFrameBlock audioBlock(std::uint32_t rate, std::uint32_t bits, std::uint32_t id,
                                std::uint8_t fill)
{
    link::PeerFrameBlock b;
    b.byteCount = static_cast<std::uint32_t>(frameAudioBytesForRate(static_cast<int>(rate)));
    b.payload.fill(fill);
    b.rate = rate;
    b.bits = bits;
    b.idChange = id;
    return b;
}

TEST(PeerSourceTest, BlocksAdoptTheirFormatAndIds)
{
    RecorderRig r;
    MemoryPeer peer;
    PeerSource source(peer, r.stopRequested);
    peer.source = &source;
    source.begin(false);
    peer.add(audioBlock(44100, 16, 0, 1));
    peer.add(audioBlock(44100, 16, 999, 2));
    peer.add(audioBlock(48000, 16, 5, 3));
    link::PeerFrameBlock end;
    peer.add(end);
    r.begin(pcm16(48000), &source, true);
    r.rec.setWriteIdNumber(7);
    while (r.rec.loopTurn() != 0) {
    }
    EXPECT_EQ(r.rec.stopCause(), RecordStop::SourceEnd);
    ASSERT_EQ(r.sink.frames.size(), 3u);
    EXPECT_EQ(r.sink.frames[0].subcode.mainIdFields().sampleF, 1);
    EXPECT_EQ(r.sink.frames[0].audio[5291], 1);
    EXPECT_EQ(r.sink.frames[0].audio[5292], 0);
    EXPECT_EQ(r.sink.frames[1].subcode.subIdFlags(), dat::kSubIdSkip);
    EXPECT_EQ(r.sink.frames[2].subcode.mainIdFields().sampleF, 0);
    EXPECT_EQ(r.sink.frames[2].subcode.subIdFlags(), 0xC0);
    EXPECT_EQ(r.sink.frames[2].subcode.subIdDigits(), 0x007);
    // The ABS time runs on across the format change.
    EXPECT_EQ(dat::absTimeOf(r.sink.frames[2].subcode)->frame, 2);
    EXPECT_EQ(peer.replies.size(), 4u);
}

// STARTs of the other instance are numbered on from WriteID_Edit by the producer itself, as
// they come: nothing waits for the window to see one before the next is numbered. A START
// whose number is damaged on the source still is a START.
TEST(PeerSourceTest, StartsAreNumberedOnAsTheyComeWithoutTheWindow)
{
    RecorderRig r;
    MemoryPeer peer;
    PeerSource source(peer, r.stopRequested);
    peer.source = &source;
    source.begin(false);
    const std::uint32_t ids[] = {1, 2, 805, 3};
    for (std::uint32_t id : ids) {
        peer.add(audioBlock(48000, 16, id, 1));
        for (int i = 0; i < 350; ++i)
            peer.add(audioBlock(48000, 16, 0, 1));
    }
    peer.add(link::PeerFrameBlock{});
    r.begin(pcm16(48000), &source, true);
    r.rec.setWriteIdNumber(5);
    while (r.rec.loopTurn() != 0) {
    }
    EXPECT_EQ(r.rec.stopCause(), RecordStop::SourceEnd);
    std::vector<int> numbers;
    for (std::size_t i = 0; i < r.sink.frames.size(); ++i) {
        const dat::SubcodeBlock& sub = r.sink.frames[i].subcode;
        const bool start = (sub.subIdFlags() & dat::kSubIdStart) != 0;
        const bool startBefore =
            i > 0 && (r.sink.frames[i - 1].subcode.subIdFlags() & dat::kSubIdStart) != 0;
        if (start && !startBefore)
            numbers.push_back(dat::bcd16ToInt(sub.subIdDigits()));
    }
    EXPECT_EQ(numbers, (std::vector<int>{5, 6, 7, 8}));
    EXPECT_EQ(r.rec.writeIdNumber(), 9);
    // What the window saw late does not take a number back.
    r.rec.followWriteIdNumber(6);
    EXPECT_EQ(r.rec.writeIdNumber(), 9);
}

TEST(PeerSourceTest, WholeFramesAreCopiedAsTheyCame)
{
    RecorderRig r;
    MemoryPeer peer;
    PeerSource source(peer, r.stopRequested);
    peer.source = &source;
    source.begin(true);
    dat::DatFrame tapeFrame;
    tapeFrame.audio.fill(0x5A);
    dat::RecSubcodeState st;
    dat::initRecSubcode(tapeFrame.subcode, st, dat::kIdControlStart, dat::TimeCode{0, 1, 2, 3}, 2,
                        0, 44100, true, 12);
    link::PeerFrameBlock b;
    b.byteCount = dat::kFrameBytes;
    std::memcpy(b.payload.data(), tapeFrame.data(), dat::kFrameBytes);
    peer.add(b);
    peer.add(link::PeerFrameBlock{});
    r.begin(pcm16(48000), &source, true);
    while (r.rec.loopTurn() != 0) {
    }
    ASSERT_EQ(r.sink.frames.size(), 1u);
    EXPECT_EQ(std::memcmp(r.sink.frames[0].data(), tapeFrame.data(), dat::kFrameBytes), 0);
}

TEST(PeerSourceTest, BlocksThatCannotBeUsedEndTheRunWithAReason)
{
    struct Case {
        const char* name;
        bool wholeFrames;
        std::function<void(link::PeerFrameBlock&)> spoil;
        std::size_t size = link::kPeerBlockBytes;
    };
    const Case cases[] = {
        {"short block", false, [](link::PeerFrameBlock&) {}, 5839},
        {"too many bytes at 44.1 kHz", false, [](link::PeerFrameBlock& b) { b.byteCount = 5760; }},
        {"rate", false, [](link::PeerFrameBlock& b) { b.rate = 22050; }},
        {"bits", false, [](link::PeerFrameBlock& b) { b.bits = 8; }},
        {"copy bits", false, [](link::PeerFrameBlock& b) { b.copyBits = 4; }},
        {"partial frame", true, [](link::PeerFrameBlock& b) { b.byteCount = 100; }},
    };
    for (const Case& c : cases) {
        RecorderRig r;
        MemoryPeer peer;
        PeerSource source(peer, r.stopRequested);
        link::PeerFrameBlock b = audioBlock(44100, 16, 0, 1);
        c.spoil(b);
        std::vector<std::uint8_t> bytes(link::kPeerBlockBytes);
        link::encodePeerBlock(b, bytes.data());
        // Outside a run nothing is taken.
        EXPECT_FALSE(source.deliver(bytes.data(), c.size)) << c.name;
        source.begin(c.wholeFrames);
        peer.blocks.push_back(bytes);
        peer.blocks.back().resize(c.size);
        peer.source = &source;
        r.begin(pcm16(48000), &source, true);
        EXPECT_EQ(r.rec.loopTurn(), 0u) << c.name;
        EXPECT_EQ(r.rec.stopCause(), RecordStop::SourceFailed) << c.name;
        EXPECT_NE(source.failure().find("cannot be used"), std::string::npos) << c.name;
        EXPECT_TRUE(r.sink.frames.empty()) << c.name;
    }
}

TEST(PeerSourceTest, ABlockNobodyAskedForIsRefused)
{
    std::atomic<bool> stop{false};
    MemoryPeer peer;
    PeerSource source(peer, stop);
    source.begin(false);
    std::vector<std::uint8_t> bytes(link::kPeerBlockBytes);
    link::encodePeerBlock(audioBlock(48000, 16, 0, 1), bytes.data());
    EXPECT_FALSE(source.deliver(bytes.data(), bytes.size()));
    std::vector<std::uint8_t> buf(5760);
    EXPECT_EQ(source.read(buf.data(), 5760), 0u);
    EXPECT_FALSE(source.failure().empty());
}

TEST(AutoIdTest, ArmsAfterTheSilenceTimeAndFiresOnTheFirstLoudUpdate)
{
    AutoIdDetector a;
    a.setChecked(true);
    a.setLevel(-42);
    a.setSeconds(2);
    a.setUpdatesPerSecond(50);
    a.refreshArming(); // a recording starts armed: the first sound gets its ID
    EXPECT_TRUE(a.step(-100, -900));
    // A pause of 1 s between songs gives no ID; 3 s does.
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(a.step(-600, -600));
    EXPECT_FALSE(a.step(-419, -600));
    EXPECT_FALSE(a.step(-300, -300));
    for (int i = 0; i < 150; ++i)
        EXPECT_FALSE(a.step(-421, -500));
    EXPECT_TRUE(a.armed());
    EXPECT_FALSE(a.step(-500, -421));
    EXPECT_TRUE(a.step(-600, -420)); // -42.0 dB reaches the threshold
    EXPECT_FALSE(a.armed());
}

TEST(AutoIdTest, AnUnmeasuredRateCountsFiftyUpdatesASecond)
{
    AutoIdDetector a;
    a.setChecked(true);
    a.setSeconds(3);
    a.setUpdatesPerSecond(0); // a run has just started
    EXPECT_EQ(a.requiredCount(), 150);
    a.refreshArming();
    a.step(0, 0);
    a.step(-900, -900);
    EXPECT_FALSE(a.armed()); // one quiet update is not three seconds
    a.restartSilence();
    EXPECT_EQ(a.silentCount(), 0);
    EXPECT_EQ(autoIdLevelItem(-40), -36);
    EXPECT_EQ(autoIdLevelItem(-60), -60);
    EXPECT_EQ(muteSecondsItem(9), 1);
}

} // namespace
} // namespace tarnvel::record::test
