#include "RecordDeckFixture.h"
#include "engine/LongPlay.h"
#include "formats/ImageWriter.h"
#include "link/PeerLink.h"
#include "record/LinkPeerSource.h"
#include "record/LongPlayEncode.h"
#include "record/PeerSource.h"

#include <deque>
#include <thread>

namespace tarnvel::engine::test {
namespace {

using dat::TimeCode;
using record::RecFileEntry;

dat::SubcodeBlock subOf(const sim::Cassette& c, std::int64_t i)
{
    return dat::SubcodeBlock::fromBytes(c.subcode(i));
}

TimeCode absAt(const sim::Cassette& c, std::int64_t i)
{
    return dat::absTimeOf(subOf(c, i)).value_or(dat::kNoValue);
}

// The bytes of the 16-bit file `seed` that tape frame `n` of it holds.
std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    auto all = tarnvel::test::WavFixture::readBytes(path);
    return {all.begin() + 44, all.end()};
}

TEST_F(RecordDeckTest, AListNumberedOneOneTwoGetsStartIdsAtItsFirstAndThirdFiles)
{
    blankTapeWithLeadIn();
    EntryList list;
    const std::string a = wav("a.wav", 48000, 16, 50 * 1440, 1);
    const std::string b = wav("b.wav", 48000, 16, 50 * 1440, 2);
    const std::string c = wav("c.wav", 48000, 16, 50 * 1440, 3);
    list.entries = {
        {a, 1, false, false, 0, 0}, {b, 1, false, false, 0, 0}, {c, 2, false, false, 0, 0}};
    recordList(list);
    EXPECT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
    auto t = tape();
    EXPECT_EQ(t->recordedEnd(), kProgramStart + 150);
    EXPECT_EQ(absAt(*t, kProgramStart), (TimeCode{0, 0, 0x02, 0}));
    EXPECT_EQ(nextStart(*t, 0), kProgramStart);
    EXPECT_EQ(subOf(*t, kProgramStart).subIdDigits(), 0x001);
    // The first file's ID run ends where the second file begins; the third starts its own.
    EXPECT_EQ(nextStart(*t, kProgramStart + 50), kProgramStart + 100);
    EXPECT_EQ(subOf(*t, kProgramStart + 100).subIdDigits(), 0x002);
    // Every frame of every file, in order, ABS time without a gap.
    std::vector<std::uint8_t> all;
    for (const auto& p : {a, b, c}) {
        const auto bytes = fileBytes(p);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    for (std::int64_t i = 0; i < 150; ++i) {
        const dat::DatFrame f = frameAt(*t, kProgramStart + i);
        ASSERT_EQ(std::memcmp(f.audio.data(), all.data() + i * 5760, 5760), 0) << i;
        ASSERT_EQ(f.subcode.pack(1).time(), dat::framesToAbs(66 + i)) << i;
    }
}

TEST_F(RecordDeckTest, PreSilenceEndIdAndFrameSizes)
{
    struct Case {
        const char* name;
        std::uint32_t rate;
        std::uint32_t frameBytes;
        int preSilence;
        bool endId;
    };
    const Case cases[] = {{"48 kHz, 2 s pre-silence, END ID", 48000, 5760, 2, true},
                          {"44.1 kHz, END ID", 44100, 5292, 0, true},
                          {"32 kHz", 32000, 3840, 0, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        blankTapeWithLeadIn();
        EntryList list;
        const std::string a = wav("a.wav", k.rate, 16, 40 * k.frameBytes / 4, 4);
        list.entries = {{a, 1, false, false, 0, 0}};
        if (k.endId)
            list.entries.push_back({" END ID", 1111, false, false, 0, 0});
        recordList(list, false, k.preSilence);
        EXPECT_FALSE(deck->lastRecordFailed());
        auto t = tape();
        const std::int64_t silent = k.preSilence == 2 ? 66 : 0;
        EXPECT_EQ(nextStart(*t, 0), kProgramStart + silent);
        for (std::int64_t i = 0; i < silent; ++i)
            ASSERT_EQ(frameAt(*t, kProgramStart + i).audioWord(5), 0) << i;
        const auto bytes = fileBytes(a);
        for (std::int64_t i = 0; i < 40; ++i) {
            const dat::DatFrame f = frameAt(*t, kProgramStart + silent + i);
            ASSERT_EQ(std::memcmp(f.audio.data(), bytes.data() + i * k.frameBytes, k.frameBytes), 0)
                << i;
            for (std::size_t z = k.frameBytes; z < dat::kAudioBytes; ++z)
                ASSERT_EQ(f.audio[z], 0) << i;
        }
        const std::int64_t end = kProgramStart + silent + 40;
        if (k.endId) {
            // 300 silent frames under PRIORITY with 0xEE in the file's format, then the run
            // stopped by itself.
            EXPECT_EQ(t->recordedEnd(), end + 300);
            EXPECT_EQ(subOf(*t, end).mainId(0), subOf(*t, end - 1).mainId(0));
            EXPECT_EQ(subOf(*t, end).mainId(1), subOf(*t, end - 1).mainId(1));
            EXPECT_EQ(subOf(*t, end).subIdFlags(), dat::kSubIdPriority);
            EXPECT_EQ(subOf(*t, end).subId(2), 0xEE);
            EXPECT_EQ(subOf(*t, end + 299).subId(2), 0xEE);
        } else {
            EXPECT_EQ(t->recordedEnd(), std::max(kLeadInEnd, end));
        }
    }
}

TEST_F(RecordDeckTest, TwentyFourBitAndLongPlayRecordingsPlayBack)
{
    blankTapeWithLeadIn();
    EntryList list;
    const std::string x = wav("x.wav", 48000, 24, 40 * 1440, 5);
    const std::string lp = wav("lp.wav", 32000, 16, 20 * 1920, 6);
    list.entries = {{x, 1, false, false, 0, 0}, {lp, 2, true, false, 0, 0}};
    recordList(list);
    ASSERT_FALSE(deck->lastRecordFailed());
    deck.reset();
    simDrive.reset();
    const std::vector<Program> programs = playBack(cassettePath, 24);
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[1].pNo, 1);
    EXPECT_EQ(programs[1].format.bitsPerSample, 24);
    EXPECT_EQ(programs[1].audio, fileBytes(x)); // bit-exact
    EXPECT_EQ(programs[2].pNo, 2);
    const auto source = fileBytes(lp);
    ASSERT_EQ(programs[2].audio.size(), source.size());
    // Each sample comes back as its 12-bit code expands.
    for (std::size_t k = 0; k + 1 < source.size(); k += 2) {
        const auto s = static_cast<std::int16_t>(source[k] | source[k + 1] << 8);
        const auto d =
            static_cast<std::int16_t>(programs[2].audio[k] | programs[2].audio[k + 1] << 8);
        ASSERT_EQ(d, longPlayExpand(record::longPlayCode(s))) << k;
    }
}

TEST_F(RecordDeckTest, TwentyFourBitFilesRecordedWithSoundKeepEverySampleAtEveryRate)
{
    // The sound output hands the recorder buffers of whole frame pairs (at 44.1 kHz a pair
    // holds 1323 sample pairs, an odd number).
    struct Case {
        std::uint32_t rate;
        int bits;
        std::size_t pairsPerFramePair;
    };
    for (const Case k : {Case{44100, 24, 1323}, Case{44100, 32, 1323}, Case{48000, 24, 1440}}) {
        SCOPED_TRACE(std::to_string(k.rate) + " Hz " + std::to_string(k.bits) + "-bit");
        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        blankTapeWithLeadIn();
        EntryList list;
        const std::string x = wav("x.wav", k.rate, k.bits, 40 * k.pairsPerFramePair, 23);
        list.entries = {{x, 1, false, false, 0, 0}};
        recordList(list, true);
        ASSERT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
        deck.reset();
        simDrive.reset();
        const std::vector<Program> programs = playBack(cassettePath, k.bits);
        ASSERT_EQ(programs.size(), 2u);
        EXPECT_EQ(programs[1].audio, fileBytes(x)); // bit-exact
    }
}

TEST_F(RecordDeckTest, TheDatePackIsWrittenOnlyWithWriteDateAndSoundOutput)
{
    struct Case {
        bool writeDate;
        bool withSound;
        bool datePack;
    };
    for (const Case k :
         {Case{true, true, true}, Case{false, true, false}, Case{true, false, false}}) {
        SCOPED_TRACE(std::to_string(k.writeDate) + std::to_string(k.withSound));
        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        settings.WriteDate = k.writeDate;
        blankTapeWithLeadIn();
        EntryList list;
        list.entries = {{wav("a.wav", 48000, 16, 10 * 1440, 7), 1, false, false, 0, 0}};
        recordList(list, k.withSound);
        ASSERT_FALSE(deck->lastRecordFailed());
        auto t = tape();
        EXPECT_EQ(t->recordedEnd(), kLeadInEnd);
        EXPECT_EQ(subOf(*t, kProgramStart + 5).pack(4).item() == 5, k.datePack);
    }
}

TEST_F(RecordDeckTest, ASecondRecordingContinuesTheAbsTimeOfTheFirst)
{
    blankTapeWithLeadIn();
    EntryList first;
    first.entries = {{wav("a.wav", 48000, 16, 20 * 1440, 8), 1, false, false, 0, 0}};
    recordList(first);
    waitForTape();
    EntryList second;
    second.entries = {{wav("b.wav", 44100, 16, 20 * 1323, 9), 2, false, false, 0, 0}};
    recordList(second);
    auto t = tape();
    EXPECT_EQ(t->recordedEnd(), kLeadInEnd);
    for (std::int64_t i = 0; i < 40; ++i)
        ASSERT_EQ(absAt(*t, kProgramStart + i), dat::framesToAbs(66 + i)) << i;
    EXPECT_EQ(subOf(*t, kProgramStart + 20).subIdFlags(), 0xC0);
    EXPECT_EQ(subOf(*t, kProgramStart + 20).subIdDigits(), 0x002);
}

TEST_F(RecordDeckTest, ARecordingAfterAFailedIdWriteRunsOnFromTheLastFrameWritten)
{
    blankTapeWithLeadIn();
    EntryList first;
    first.entries = {{wav("a.wav", 48000, 16, 800 * 1440, 20), 1, false, false, 0, 0}};
    recordList(first);
    waitForTape();
    ASSERT_TRUE(deck->searchAbs(TimeCode{0, 0, 0x10, 0}, {}));
    waitForTape();
    // The ID's span begins 33 frames before it, at ABS frame 300; its 21st write fails.
    writeGate->writesLeft = 20;
    view.answers.push_back({true, false}); // the noise warning
    deck->setWriteIdKind(0);
    deck->setWriteIdText("5");
    EXPECT_FALSE(deck->writeIdButton());
    writeGate->writesLeft = -1;
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages.back(), "Write/Erase ID failed.");
    waitForTape();
    EntryList second;
    const std::string b = wav("b.wav", 48000, 16, 50 * 1440, 21);
    second.entries = {{b, 2, false, false, 0, 0}};
    recordList(second);
    EXPECT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
    auto t = tape();
    // Written where the tape stood, behind the last frame of the span, with the ABS time
    // running on from it.
    const std::int64_t at = 108 + 300 + 20;
    const auto bytes = fileBytes(b);
    for (std::int64_t i = 0; i < 50; ++i) {
        ASSERT_EQ(absAt(*t, at + i), dat::framesToAbs(320 + i)) << i;
        ASSERT_EQ(std::memcmp(frameAt(*t, at + i).audio.data(), bytes.data() + i * 5760, 5760), 0)
            << i;
    }
    EXPECT_EQ(absAt(*t, at - 1), dat::framesToAbs(319));
}

TEST_F(RecordDeckTest, FramesRecordedCountWhatTheDriveTook)
{
    blankTapeWithLeadIn();
    writeGate->writesLeft = 50; // then every write fails (a bad stretch of tape)
    EntryList list;
    const std::string a = wav("a.wav", 48000, 16, 300 * 1440, 22);
    list.entries = {{a, 1, false, false, 0, 0}};
    recordList(list);
    EXPECT_TRUE(deck->lastRecordFailed());
    EXPECT_EQ(deck->recordProgress().frames, 50u);
    EXPECT_GT(deck->recordProgress().queued, 50u);
    EXPECT_EQ(view.text(Control::RunningStatusStaticText), " Stopped or Error");
    auto t = tape();
    EXPECT_EQ(std::memcmp(frameAt(*t, kProgramStart + 49).audio.data(),
                          fileBytes(a).data() + 49 * 5760, 5760),
              0);
}

TEST_F(RecordDeckTest, WriteIdAndEraseIdWhileIdle)
{
    blankTapeWithLeadIn(3);
    EntryList list;
    list.entries = {{wav("a.wav", 48000, 16, 900 * 1440, 10), 0, false, false, 0, 0}};
    recordList(list);
    waitForTape();
    // No ID where the tape stands: nothing to erase.
    ASSERT_TRUE(deck->searchAbs({0, 0, 0x10, 0}, {}));
    waitForTape();
    view.messages.clear();
    view.answers.push_back({true, false}); // the warning first
    EXPECT_FALSE(deck->eraseIdButton());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], "ID not found.\n\nWrite/Erase ID failed.");
    // A START ID 7 here, after the warning.
    waitForTape();
    deck->setWriteIdKind(0);
    deck->setWriteIdText("7");
    view.answers.push_back({true, false});
    ASSERT_TRUE(deck->writeIdButton()) << ::testing::PrintToString(view.messages);
    EXPECT_NE(view.questions.back().find("unrecoverable noise"), std::string::npos);
    auto t = tape();
    const std::int64_t at = kProgramStart + dat::absToFrames({0, 0, 0x10, 0}) - 66;
    EXPECT_EQ(nextStart(*t, 0), at);
    EXPECT_EQ(subOf(*t, at).subIdDigits(), 0x007);
    EXPECT_EQ(subOf(*t, at + 299).subIdFlags(), 0xC0);
    EXPECT_EQ(subOf(*t, at + 300).subIdFlags(), 0);
}

TEST_F(RecordDeckTest, AnImageOfATapeIsRecordedFrameForFrame)
{
    // The source tape: a lead-in, then two programs at 44.1 and 48 kHz.
    struct Case {
        const char* name;
        std::int64_t imageFrom; // the image starts with the lead-in, or after it
    };
    for (const Case k : {Case{"with its lead-in", 0}, Case{"program area only", 108}}) {
        SCOPED_TRACE(k.name);
        const std::string source = dir.file(std::string("source") + std::to_string(k.imageFrom));
        {
            std::string error;
            auto c = sim::Cassette::create(source, 2, error);
            ASSERT_TRUE(c) << error;
            dat::DatFrame f;
            dat::RecSubcodeState st;
            dat::initRecSubcode(f.subcode, st, dat::kIdControlNone, TimeCode{0, 0, 0x03, 0x08}, 0,
                                0, 48000, false, dat::kIdCodeLeadIn);
            std::int64_t i = 0;
            for (; i < 108; ++i) {
                ASSERT_TRUE(c->writeFrame(i, f.data(), error));
                dat::advanceRecSubcode(f.subcode, st);
            }
            for (int p = 0; p < 2; ++p) {
                dat::initRecSubcode(f.subcode, st, dat::kIdControlStart, std::nullopt, p * 2, 0,
                                    p == 0 ? 44100 : 48000, p == 1, p + 1);
                for (int n = 0; n < 150; ++n, ++i) {
                    f.audio.fill(static_cast<std::uint8_t>(i));
                    ASSERT_TRUE(c->writeFrame(i, f.data(), error));
                    dat::advanceRecSubcode(f.subcode, st);
                }
            }
            CollectingMessageSink sink;
            formats::ImageWriter w(sink);
            ASSERT_TRUE(w.create(dir.file("tape.tvi"), "test"));
            for (std::int64_t j = k.imageFrom; j < c->recordedEnd(); ++j) {
                dat::DatFrame g;
                ASSERT_TRUE(c->readFrame(j, g.data(), error));
                ASSERT_EQ(w.append(g), dat::kFrameBytes);
            }
            ASSERT_TRUE(w.finalise(false));
        }
        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        makeTape([](sim::Cassette&) {});
        openDeck();
        waitForTape();
        RecordFromFileRequest r;
        r.mode = RecordFromFileRequest::Mode::Image;
        r.imagePath = dir.file("tape.tvi");
        recordFiles(r);
        EXPECT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
        auto copy = tape();
        std::string error;
        auto original = sim::Cassette::open(source, sim::Cassette::Access::ReadOnly, error);
        ASSERT_EQ(copy->recordedEnd(), original->recordedEnd());
        for (std::int64_t j = 0; j < original->recordedEnd(); ++j) {
            const dat::DatFrame a = frameAt(*original, j);
            const dat::DatFrame b = frameAt(*copy, j);
            ASSERT_EQ(std::memcmp(a.data(), b.data(), dat::kFrameBytes), 0) << j;
        }
    }
}

TEST_F(RecordDeckTest, TheEndOfTheTapeStopsTheRecordingWithEveryFrameBeforeItOnTape)
{
    blankTapeWithLeadIn(1); // 2000 frames
    EntryList list;
    const std::string a = wav("long.wav", 32000, 16, 2000 * 960, 11);
    list.entries = {{a, 1, false, false, 0, 0}};
    recordList(list);
    EXPECT_TRUE(deck->lastRecordFailed());
    EXPECT_TRUE(view.shown(Control::ErrorStatusStaticText, " End of Tape"));
    EXPECT_TRUE(view.shown(Control::RunningStatusStaticText, " Stopped"));
    auto t = tape();
    EXPECT_EQ(t->recordedEnd(), 2000);
    const auto bytes = fileBytes(a);
    for (std::int64_t i = kProgramStart; i < 2000; ++i) {
        const dat::DatFrame f = frameAt(*t, i);
        ASSERT_EQ(std::memcmp(f.audio.data(), bytes.data() + (i - kProgramStart) * 3840, 3840), 0)
            << i;
    }
}

TEST_F(RecordDeckTest, MovingToTheNextFileLosesNoQueuedFrame)
{
    // At deck speed the writer lags behind the files, so frames wait in its ring whenever
    // the next file starts.
    makeTape([](sim::Cassette& c) {
        TapeBuilder b(c);
        b.frames(100);
    });
    sim::SimOptions o = fastSim();
    o.realtime = true;
    openDeck(true, o);
    waitForTape();
    ASSERT_TRUE(deck->searchAbs({0, 0, 0x02, 0}, {}));
    waitForTape();
    EntryList list;
    std::vector<std::string> files;
    for (int n = 0; n < 4; ++n) {
        files.push_back(wav("f" + std::to_string(n) + ".wav", 48000, 16, 40 * 1440, 20 + n));
        list.entries.push_back({files.back(), n + 1, false, false, 0, 0});
    }
    recordList(list);
    EXPECT_FALSE(deck->lastRecordFailed());
    auto t = tape();
    EXPECT_EQ(t->recordedEnd(), 66 + 160);
    for (int n = 0; n < 4; ++n) {
        const auto bytes = fileBytes(files[static_cast<std::size_t>(n)]);
        for (std::int64_t i = 0; i < 40; ++i) {
            const dat::DatFrame f = frameAt(*t, 66 + 40 * n + i);
            ASSERT_EQ(std::memcmp(f.audio.data(), bytes.data() + i * 5760, 5760), 0)
                << n << " " << i;
        }
    }
}

TEST_F(RecordDeckTest, TheSoundInputStartsInRecordPauseAndRecordsWhenReleased)
{
    std::atomic<std::int16_t> counter{0};
    inputSource = [&](std::uint8_t* data, std::size_t bytes) {
        for (std::size_t k = 0; k + 1 < bytes; k += 2) {
            const auto v = static_cast<std::uint16_t>(counter.fetch_add(1) | 1);
            data[k] = static_cast<std::uint8_t>(v);
            data[k + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    };
    settings.WriteDate = true;
    blankTapeWithLeadIn();
    deck->record({});
    ASSERT_TRUE(deck->recording());
    EXPECT_EQ(view.text(Control::RunningStatusStaticText), " [Record]");
    EXPECT_EQ(view.text(Control::FormatStaticText), "48000 / 16");
    loop.pumpFor(100);
    EXPECT_EQ(deck->recordProgress().frames, 0u); // record-pause: nothing written
    deck->pause();
    ASSERT_TRUE(loop.runUntil([&] { return deck->recordProgress().frames >= 60; }, 20000));
    deck->stop();
    ASSERT_TRUE(loop.runUntil([&] { return !deck->recording() && deck->idle(); }, 20000));
    EXPECT_FALSE(deck->lastRecordFailed());
    auto t = tape();
    EXPECT_GE(t->recordedEnd(), kProgramStart + 60);
    const dat::DatFrame f = frameAt(*t, kProgramStart + 10);
    EXPECT_NE(f.audioWord(0), 0);
    EXPECT_EQ(f.subcode.pack(4).item(), 5); // the date with WriteDate
}

TEST_F(RecordDeckTest, RecordMuteWritesSilenceThenPauses)
{
    inputSource = [](std::uint8_t* data, std::size_t bytes) { std::memset(data, 0x11, bytes); };
    settings.RecMuteTime = 1;
    blankTapeWithLeadIn();
    deck->record({});
    deck->mute(); // from record-pause the silence starts at once
    ASSERT_TRUE(loop.runUntil(
        [&] { return deck->state().paused.load() && deck->recordProgress().queued > 0; }, 20000));
    EXPECT_EQ(deck->recordProgress().queued, 33u);
    ASSERT_TRUE(loop.runUntil([&] { return deck->recordProgress().frames == 33u; }, 20000));
    deck->stop();
    ASSERT_TRUE(loop.runUntil([&] { return !deck->recording() && deck->idle(); }, 20000));
    auto t = tape();
    EXPECT_EQ(frameAt(*t, kProgramStart + 32).audioWord(0), 0);
    EXPECT_EQ(absAt(*t, kProgramStart + 32), dat::framesToAbs(66 + 32));
}

TEST_F(RecordDeckTest, APendingIdDoesNotOutliveItsRun)
{
    blankTapeWithLeadIn();
    // Write ID pressed during the pre-silence of a run that is then stopped.
    EntryList first;
    first.entries = {{wav("a.wav", 48000, 16, 400 * 1440, 12), 0, false, false, 0, 0}};
    RecordFromFileRequest r;
    r.nextEntry = first.next();
    r.preSilenceSec = 30;
    const std::uint64_t ends = deck->recordEnds();
    deck->recordFromFile(r);
    ASSERT_TRUE(deck->recording());
    deck->setWriteIdKind(0);
    deck->setWriteIdText("9");
    EXPECT_TRUE(deck->writeIdButton());
    deck->stop();
    ASSERT_TRUE(loop.runUntil([&] { return deck->recordEnds() > ends && deck->idle(); }, 20000));
    waitForTape();
    EntryList second;
    second.entries = {{wav("b.wav", 48000, 16, 20 * 1440, 13), 0, false, false, 0, 0}};
    recordList(second);
    auto t = tape();
    EXPECT_EQ(nextStart(*t, 0), -1);
}

TEST_F(RecordDeckTest, InVirtualIdModeTheIdsGoToTheListOnly)
{
    blankTapeWithLeadIn();
    deck->setVirtualIdMode(true);
    view.answers.push_back({false, false}); // keep virtual ID mode
    EntryList list;
    list.entries = {{wav("a.wav", 48000, 16, 40 * 1440, 14), 3, false, false, 0, 0}};
    recordList(list);
    EXPECT_NE(view.questions.back().find("Virtual ID Mode"), std::string::npos);
    const dat::IdTable* v = deck->drive()->getTable(deck->driveIndex(), true);
    ASSERT_EQ(v->count, 1);
    EXPECT_EQ(v->entries[0].pNo, 3);
    EXPECT_EQ(v->entries[0].abs, (TimeCode{0, 0, 0x02, 0}));
    auto t = tape();
    EXPECT_EQ(nextStart(*t, 0), -1);
    EXPECT_EQ(subOf(*t, kProgramStart).subId(2), 0xAA);
}

// The other instance, played from a cassette and handed over from memory: one block per
// request, then the end.
class MemorySender : public record::PeerReplies {
public:
    MemorySender(Deck& deck, const sim::Cassette& source, bool wholeFrames)
        : deck_(deck), wholeFrames_(wholeFrames)
    {
        std::string error;
        for (std::int64_t i = 0; i < source.recordedEnd(); ++i) {
            dat::DatFrame f;
            EXPECT_TRUE(source.readFrame(i, f.data(), error));
            frames.push_back(f);
        }
    }
    void reply(link::PeerState state) override
    {
        replies.push_back(state);
        if (state != link::PeerState::ReadyForBlock)
            return;
        link::PeerFrameBlock b;
        if (next_ < frames.size()) {
            const dat::DatFrame& f = frames[next_++];
            if (wholeFrames_) {
                b.byteCount = dat::kFrameBytes;
                std::memcpy(b.payload.data(), f.data(), dat::kFrameBytes);
            } else {
                b.byteCount = 5760;
                std::memcpy(b.payload.data(), f.audio.data(), 5760);
                b.idChange = (f.subcode.subIdFlags() & dat::kSubIdStart) && next_ == 1 ? 1 : 0;
            }
        }
        std::vector<std::uint8_t> bytes(link::kPeerBlockBytes);
        link::encodePeerBlock(b, bytes.data());
        EXPECT_TRUE(deck_.peerBlock(bytes.data(), bytes.size()));
    }
    std::vector<dat::DatFrame> frames;
    std::vector<link::PeerState> replies;

private:
    Deck& deck_;
    bool wholeFrames_;
    std::size_t next_ = 0;
};

TEST_F(RecordDeckTest, TheOtherInstancesTapeIsCopiedFrameForFrame)
{
    const std::string source = dir.file("source.tvs");
    {
        std::string error;
        auto c = sim::Cassette::create(source, 1, error);
        ASSERT_TRUE(c) << error;
        TapeBuilder b(*c);
        b.start(1);
        b.frames(200);
    }
    for (const bool whole : {true, false}) {
        SCOPED_TRACE(whole ? "image duplication" : "audio");
        freshCopyTarget(whole);
        std::string error;
        auto src = sim::Cassette::open(source, sim::Cassette::Access::ReadOnly, error);
        MemorySender sender(*deck, *src, whole);
        const std::uint64_t ends = deck->recordEnds();
        EXPECT_TRUE(deck->peerStartRequest(whole, sender));
        ASSERT_TRUE(
            loop.runUntil([&] { return deck->recordEnds() > ends && deck->idle(); }, 60000));
        EXPECT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
        EXPECT_EQ(sender.replies.front(), link::PeerState::Preparing);
        EXPECT_EQ(sender.replies.back(), link::PeerState::Stopped);
        auto t = tape();
        const std::int64_t at = whole ? 0 : kProgramStart;
        EXPECT_EQ(t->recordedEnd(), at + 200);
        for (std::int64_t i = 0; i < 200; ++i) {
            const dat::DatFrame a = sender.frames[static_cast<std::size_t>(i)];
            const dat::DatFrame b = frameAt(*t, at + i);
            if (whole)
                ASSERT_EQ(std::memcmp(a.data(), b.data(), dat::kFrameBytes), 0) << i;
            else
                ASSERT_EQ(std::memcmp(a.audio.data(), b.audio.data(), 5760), 0) << i;
        }
    }
    // Outside a peer run a block is refused.
    std::vector<std::uint8_t> bytes(link::kPeerBlockBytes);
    std::filesystem::remove(cassettePath);
    makeTape([](sim::Cassette&) {});
    openDeck();
    EXPECT_FALSE(deck->peerBlock(bytes.data(), bytes.size()));
}

TEST_F(RecordDeckTest, NoRecordingProvokesTheWriteAfterReadQuirk)
{
    const std::string image = dir.file("tape.tvi");
    {
        CollectingMessageSink sink;
        formats::ImageWriter w(sink);
        ASSERT_TRUE(w.create(image, ""));
        dat::DatFrame f;
        dat::RecSubcodeState st;
        dat::initRecSubcode(f.subcode, st, dat::kIdControlStart, TimeCode{0, 0, 0, 0}, 0, 0, 48000,
                            false, 1);
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(w.append(f), dat::kFrameBytes);
            dat::advanceRecSubcode(f.subcode, st);
        }
        ASSERT_TRUE(w.finalise(false));
    }
    const std::string a = wav("a.wav", 48000, 16, 30 * 1440, 15);
    const std::string peerTape = dir.file("peer.tvs");
    {
        std::string error;
        auto c = sim::Cassette::create(peerTape, 1, error);
        ASSERT_TRUE(c) << error;
        TapeBuilder b(*c);
        b.frames(50);
    }
    enum Source { Input, Wave, WaveSound, Image, Peer };
    for (const Source s : {Input, Wave, WaveSound, Image, Peer}) {
        SCOPED_TRACE(static_cast<int>(s));
        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        // A recorded tape that the deck reads at its arrival.
        makeTape([](sim::Cassette& c) {
            TapeBuilder b(c);
            b.frames(400);
        });
        sim::SimOptions o = fastSim();
        o.misplacedWriteFrames = 5;
        openDeck(true, o);
        waitForTape();
        const std::uint64_t ends = deck->recordEnds();
        std::unique_ptr<MemorySender> sender;
        EntryList list;
        list.entries = {{a, 1, false, false, 0, 0}};
        if (s == Input) {
            deck->record({});
            deck->pause();
            ASSERT_TRUE(loop.runUntil([&] { return deck->recordProgress().frames >= 20; }, 20000));
            deck->stop();
        } else if (s == Image) {
            RecordFromFileRequest r;
            r.mode = RecordFromFileRequest::Mode::Image;
            r.imagePath = image;
            r.imageHere = true;
            deck->recordFromFile(r);
        } else if (s == Peer) {
            std::string error;
            auto src = sim::Cassette::open(peerTape, sim::Cassette::Access::ReadOnly, error);
            ASSERT_TRUE(src) << error;
            sender = std::make_unique<MemorySender>(*deck, *src, false);
            deck->peerStartRequest(false, *sender);
        } else {
            RecordFromFileRequest r;
            r.nextEntry = list.next();
            r.withSound = s == WaveSound;
            deck->recordFromFile(r);
        }
        ASSERT_TRUE(
            loop.runUntil([&] { return deck->recordEnds() > ends && deck->idle(); }, 30000));
        EXPECT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
        EXPECT_GT(deck->recordProgress().frames, 0u);
        EXPECT_EQ(simDrive->observe().misplacedWrites, 0);
    }
}

} // namespace
} // namespace tarnvel::engine::test

namespace tarnvel::engine::test {
namespace {

// The receiving instance on its socket: start requests go to the deck's window thread, the
// blocks to the recording through the link.
TEST_F(RecordDeckTest, ACopyBetweenTwoInstancesThroughTheLinkIsFrameForFrame)
{
    const std::string source = dir.file("source.tvs");
    {
        std::string error;
        auto c = sim::Cassette::create(source, 1, error);
        ASSERT_TRUE(c) << error;
        TapeBuilder b(*c);
        b.start(1);
        b.frames(150);
        b.format(44100);
        b.start(2);
        b.frames(100);
    }
    std::vector<dat::DatFrame> frames;
    {
        std::string error;
        auto src = sim::Cassette::open(source, sim::Cassette::Access::ReadOnly, error);
        for (std::int64_t i = 0; i < src->recordedEnd(); ++i)
            frames.push_back(frameAt(*src, i));
    }
    const std::string folder = dir.path().string();
    for (const bool whole : {true, false}) {
        SCOPED_TRACE(whole ? "image duplication" : "audio");
        freshCopyTarget(whole);
        link::PeerServer::Handler h;
        std::unique_ptr<link::PeerServer> server;
        std::unique_ptr<record::LinkReplies> replies;
        std::unique_ptr<record::LinkPeerSource> blocks;
        h.post = [this](std::function<void()> fn) { loop.post(std::move(fn)); };
        h.startRequested = [&](bool wholeFrames) {
            blocks->begin(wholeFrames);
            deck->peerStartRequest(wholeFrames, *replies, blocks.get());
        };
        server = std::make_unique<link::PeerServer>(h);
        replies = std::make_unique<record::LinkReplies>(*server);
        blocks = std::make_unique<record::LinkPeerSource>(*server, deck->state().stopRequested);
        std::string error;
        ASSERT_TRUE(server->listen(folder, "Tarnvel:2", error)) << error;

        // The playing instance.
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            link::PeerClient c;
            auto pump = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
            if (!c.start(folder, "Tarnvel:2", whole, pump) || !c.waitUntilStarted(pump))
                return;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                link::PeerFrameBlock b;
                const dat::DatFrame& f = frames[i];
                const TapeFormat fmt = decodeMainId(f.subcode.mainId(0), f.subcode.mainId(1), true);
                b.rate = static_cast<std::uint32_t>(fmt.rate);
                if (whole) {
                    b.byteCount = dat::kFrameBytes;
                    std::memcpy(b.payload.data(), f.data(), dat::kFrameBytes);
                } else {
                    b.byteCount = frameAudioBytesOf(fmt.rate);
                    std::memcpy(b.payload.data(), f.audio.data(), b.byteCount);
                }
                if (!c.send(b))
                    return;
            }
            c.finish(5000);
            sent = true;
        });
        const std::uint64_t ends = deck->recordEnds();
        ASSERT_TRUE(
            loop.runUntil([&] { return deck->recordEnds() > ends && deck->idle(); }, 60000));
        sender.join();
        EXPECT_TRUE(sent.load());
        EXPECT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
        server->close();
        auto t = tape();
        const std::int64_t at = whole ? 0 : kProgramStart;
        ASSERT_EQ(t->recordedEnd(), at + 250);
        for (std::int64_t i = 0; i < 250; ++i) {
            const dat::DatFrame& a = frames[static_cast<std::size_t>(i)];
            const dat::DatFrame b = frameAt(*t, at + i);
            if (whole) {
                ASSERT_EQ(std::memcmp(a.data(), b.data(), dat::kFrameBytes), 0) << i;
            } else {
                ASSERT_EQ(std::memcmp(a.audio.data(), b.audio.data(), dat::kAudioBytes), 0) << i;
                ASSERT_EQ(a.subcode.mainId(0), b.subcode.mainId(0)) << i;
            }
        }
    }
}

} // namespace
} // namespace tarnvel::engine::test
