#include "record/TapeIdWriter.h"

#include "common/MessageSink.h"
#include "dat/DatDrive.h"
#include "dat/RecSubcode.h"
#include "dat/StatusPoll.h"
#include "record/Recorder.h"
#include "scsi/ScsiStatus.h"
#include "sim/Cassette.h"
#include "sim/SimulatedDrive.h"
#include "support/TempDir.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

// ID writing and the lead-in on a simulated drive, driven the way the idle deck drives them.
namespace tarnvel::record {
namespace {

using dat::TimeCode;

// The deck's side of the operations: waits are instant, motions run to their end.
class TestHost : public TapeOpHost {
public:
    TestHost(dat::DatDrive& drive) : drive_(drive) {}
    void status(const MessagePair& text) override { statuses.push_back(tr(text)); }
    void clearError() override {}
    bool ask(const std::string& text, bool) override
    {
        questions.push_back(text);
        return answer;
    }
    void message(const std::string& text) override { messages.push_back(text); }
    void driveError() override { messages.push_back(drive_.senseSummary()); }
    void recordIndicator(bool) override {}
    void frameDone() override {}
    void pause(int) override {}
    bool rewind() override
    {
        const bool ok = drive_.rewind(0, false) == scsi::kSsComp;
        drive_.readPositionAndParse(0, false);
        return ok;
    }
    bool locate(const TimeCode& t) override
    {
        const bool ok = drive_.locate(0, dat::DatDrive::kLocateByAbsTime, false, t.hours, t.minutes,
                                      t.seconds, t.frame) == scsi::kSsComp;
        if (!ok)
            messages.push_back("locate failed");
        drive_.readPositionAndParse(0, false);
        return ok;
    }

    std::vector<std::string> statuses;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = true;

private:
    dat::DatDrive& drive_;
};

// Frames [from, from + count) with ABS time = tape index + absOffset, no IDs; sample word 0
// holds the low 16 bits of the index.
void recordPlain(sim::Cassette& c, std::int64_t from, int count, int rate = 48000,
                 int absOffset = 0)
{
    dat::DatFrame frame;
    dat::RecSubcodeState st;
    dat::initRecSubcode(frame.subcode, st, dat::kIdControlNone, dat::framesToAbs(from + absOffset),
                        0, 0, rate, false, dat::kIdCodeNone);
    dat::setDatePack(frame.subcode, true, std::tm{0, 0, 12, 1, 0, 124, 1, 0, 0, 0, nullptr});
    std::string error;
    for (int i = 0; i < count; ++i) {
        frame.audio[0] = static_cast<std::uint8_t>(from + i);
        frame.audio[1] = static_cast<std::uint8_t>((from + i) >> 8);
        ASSERT_TRUE(c.writeFrame(from + i, frame.data(), error)) << error;
        dat::advanceRecSubcode(frame.subcode, st);
    }
}

class TapeIdWriterTest : public ::testing::Test {
protected:
    void makeTape(int minutes, const std::function<void(sim::Cassette&)>& fill)
    {
        std::string error;
        auto c = sim::Cassette::create(path, minutes, error);
        ASSERT_TRUE(c) << error;
        fill(*c);
    }
    void openDrive()
    {
        sim::SimOptions o;
        o.cueMilliseconds = 30;
        o.motionScale = 0.01;
        // A write right after reads would land late: the ID writer never does one.
        o.misplacedWriteFrames = 7;
        std::string error;
        sim = sim::SimulatedDrive::open(path, o, error);
        ASSERT_TRUE(sim) << error;
        drive = std::make_unique<dat::DatDrive>(false, nullptr);
        drive->setSleepFunction([](int) {});
        drive->addTarget(sim);
        drive->scanDevices(scsi::kTypeSequentialAccess);
        ASSERT_TRUE(drive->identify(0));
        dat::StatusPoller poller(*drive, 0);
        const dat::StatusPollResult r = dat::pollUntilSettled(poller, 200, 10);
        ASSERT_EQ(r.status, dat::kUnitReady) << r.statusText;
        // A cassette opened again stands where the last drive left it; the arrival's load
        // rewinds it, which takes a moment.
        for (int i = 0; i < 500 && drive->datTestUnitReady(0) != dat::kUnitReady; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        host = std::make_unique<TestHost>(*drive);
        writer = std::make_unique<TapeIdWriter>(*drive, 0, *host);
    }
    // The cassette as it is on tape (the drive lets go of it first).
    std::unique_ptr<sim::Cassette> closeAndOpen()
    {
        EXPECT_EQ(sim->observe().misplacedWrites, 0);
        writer.reset();
        host.reset();
        drive.reset();
        sim.reset();
        std::string error;
        auto c = sim::Cassette::open(path, sim::Cassette::Access::ReadOnly, error);
        EXPECT_TRUE(c) << error;
        return c;
    }
    static dat::SubcodeBlock sub(const std::unique_ptr<sim::Cassette>& c, std::int64_t i)
    {
        return dat::SubcodeBlock::fromBytes(c->subcode(i));
    }

    tarnvel::test::TempDir dir;
    std::string path = dir.file("tape.tvs");
    std::shared_ptr<sim::SimulatedDrive> sim;
    std::unique_ptr<dat::DatDrive> drive;
    std::unique_ptr<TestHost> host;
    std::unique_ptr<TapeIdWriter> writer;
};

TEST_F(TapeIdWriterTest, AStartIdRewritesItsSpanAndKeepsEachFramesOwnFormat)
{
    // 48 kHz up to frame 20100, then a 44.1 kHz recording whose ABS time runs on.
    makeTape(11, [](sim::Cassette& c) {
        recordPlain(c, 19800, 300);
        recordPlain(c, 20100, 400, 44100);
    });
    openDrive();
    drive->recSubcodeState().idRunFramesLeft = 120; // left over from a stopped recording
    ASSERT_TRUE(host->locate({0, 0x10, 0, 0}));
    VirtualIdEdit edit;
    ASSERT_TRUE(writer->writeEraseId(kPendingStart, 5, edit))
        << ::testing::PrintToString(host->messages);
    EXPECT_EQ(host->questions.size(), 1u); // the noise warning
    EXPECT_EQ(drive->getPosition(0)->absTime, (TimeCode{0, 0x10, 0, 0}));

    auto c = closeAndOpen();
    EXPECT_EQ(sub(c, 19966).subIdFlags(), 0);
    for (std::int64_t i = 19967; i < 19967 + 374; ++i) {
        const dat::SubcodeBlock s = sub(c, i);
        const bool inRun = i >= 20000 && i < 20300;
        ASSERT_EQ(s.subIdFlags(), inRun ? 0xC0 : 0) << i;
        if (inRun) {
            ASSERT_EQ(s.subIdDigits(), 0x005) << i;
        }
        ASSERT_EQ(dat::absTimeOf(s), dat::framesToAbs(i)) << i;
        ASSERT_EQ(s.mainIdFields().sampleF, i < 20100 ? 0 : 1) << i;
        ASSERT_EQ(s.pack(4).item(), 5) << i; // the date pack stays
        ASSERT_TRUE(s.pack(1).parityOk()) << i;
        dat::DatFrame f;
        std::string error;
        ASSERT_TRUE(c->readFrame(i, f.data(), error));
        ASSERT_EQ(f.audioWord(0), static_cast<std::uint16_t>(i)) << i;
    }
}

// Frames [from, from + count) as recordPlain, the first `runFrames` of them in an ID run.
void recordId(sim::Cassette& c, std::int64_t from, int count, std::uint8_t control, int code)
{
    dat::DatFrame frame;
    dat::RecSubcodeState st;
    dat::initRecSubcode(frame.subcode, st, control, dat::framesToAbs(from), 0, 0, 48000, false,
                        code);
    std::string error;
    for (int i = 0; i < count; ++i) {
        frame.audio[0] = static_cast<std::uint8_t>(from + i);
        frame.audio[1] = static_cast<std::uint8_t>((from + i) >> 8);
        ASSERT_TRUE(c.writeFrame(from + i, frame.data(), error)) << error;
        dat::advanceRecSubcode(frame.subcode, st);
    }
}

TEST_F(TapeIdWriterTest, IdsNearTheSpanStayWhereTheyAre)
{
    // START 1 at 1000, a SKIP at 1400, START 2 at 1450.
    makeTape(2, [](sim::Cassette& c) {
        recordId(c, 700, 300, dat::kIdControlNone, dat::kIdCodeNone);
        recordId(c, 1000, 400, dat::kIdControlStart, 1);
        recordId(c, 1400, 50, dat::kIdControlSkip, dat::kIdCodeNone);
        recordId(c, 1450, 350, dat::kIdControlStart, 2);
    });
    openDrive();
    ASSERT_TRUE(host->locate(dat::framesToAbs(1440)));
    VirtualIdEdit edit;
    ASSERT_TRUE(writer->writeEraseId(kPendingStart, 9, edit));
    {
        auto c = closeAndOpen();
        EXPECT_EQ(sub(c, 1000).subIdDigits(), 0x001);
        // The SKIP inside the span, before the new ID, stays.
        EXPECT_EQ(sub(c, 1400).subIdFlags(), dat::kSubIdSkip);
        EXPECT_EQ(sub(c, 1432).subIdFlags(), dat::kSubIdSkip);
        EXPECT_EQ(sub(c, 1433).subIdFlags(), 0);
        // The new START runs until START 2 begins.
        EXPECT_EQ(sub(c, 1439).subIdFlags(), 0);
        EXPECT_EQ(sub(c, 1440).subIdFlags(), 0xC0);
        EXPECT_EQ(sub(c, 1440).subIdDigits(), 0x009);
        EXPECT_EQ(sub(c, 1449).subIdDigits(), 0x009);
        EXPECT_EQ(sub(c, 1450).subIdDigits(), 0x002);
        EXPECT_EQ(sub(c, 1749).subIdDigits(), 0x002);
        EXPECT_EQ(dat::absTimeOf(sub(c, 1440)), dat::framesToAbs(1440));
    }
    // Erasing START 9 takes its run only.
    openDrive();
    ASSERT_TRUE(host->locate(dat::framesToAbs(1445)));
    drive->addId(0, 9, false, true, dat::absToSeconds(dat::framesToAbs(1440)),
                 dat::framesToAbs(1440));
    ASSERT_TRUE(writer->writeEraseId(kPendingNone, 0, edit))
        << ::testing::PrintToString(host->messages);
    auto c = closeAndOpen();
    for (std::int64_t i = 1433; i < 1450; ++i)
        ASSERT_EQ(sub(c, i).subIdFlags(), 0) << i;
    EXPECT_EQ(sub(c, 1450).subIdDigits(), 0x002);
    EXPECT_EQ(sub(c, 1400).subIdFlags(), dat::kSubIdSkip);
}

TEST_F(TapeIdWriterTest, ErasingFindsTheIdOrSaysItIsNotThere)
{
    makeTape(2, [](sim::Cassette& c) { recordPlain(c, 0, 1500); });
    openDrive();
    ASSERT_TRUE(host->locate({0, 0, 0x10, 0}));
    VirtualIdEdit edit;
    EXPECT_FALSE(writer->writeEraseId(kPendingNone, 0, edit));
    ASSERT_EQ(host->messages.size(), 1u);
    EXPECT_EQ(host->messages[0], "ID not found.\n\nWrite/Erase ID failed.");
    EXPECT_TRUE(host->questions.empty()); // refused before the noise warning

    ASSERT_TRUE(writer->writeEraseId(kPendingStart, 2, edit));
    ASSERT_EQ(drive->getTable(0, false)->count, 1);
    ASSERT_TRUE(host->locate({0, 0, 0x11, 0}));
    ASSERT_TRUE(writer->writeEraseId(kPendingNone, 0, edit));
    auto c = closeAndOpen();
    for (std::int64_t i = 300; i < 1500; ++i)
        ASSERT_EQ(sub(c, i).subIdFlags(), 0) << i;
}

TEST_F(TapeIdWriterTest, RefusalsLeaveTheTapeAlone)
{
    // The ABS time jumps by 100 frames at frame 1000.
    makeTape(2, [](sim::Cassette& c) {
        recordPlain(c, 0, 1000);
        recordPlain(c, 1000, 500, 48000, 100);
    });
    openDrive();
    struct Case {
        const char* name;
        TimeCode at;
        int kind;
        int pNo;
        const char* message;
    };
    const Case cases[] = {
        {"number 0",
         {0, 0, 0x10, 0},
         kPendingStart,
         0,
         "Program number must be 1-799.\n\nWrite/Erase ID failed."},
        {"number 800",
         {0, 0, 0x10, 0},
         kPendingStart,
         800,
         "Program number must be 1-799.\n\nWrite/Erase ID failed."},
        {"too close",
         {0, 0, 0x01, 0x10},
         kPendingSkip,
         0,
         "Lead-in area, or too close.\n\nWrite/Erase ID failed."},
    };
    for (const Case& c : cases) {
        host->messages.clear();
        ASSERT_TRUE(host->locate(c.at)) << c.name;
        VirtualIdEdit edit;
        EXPECT_FALSE(writer->writeEraseId(c.kind, c.pNo, edit)) << c.name;
        ASSERT_EQ(host->messages.size(), 1u) << c.name;
        EXPECT_EQ(host->messages[0], c.message) << c.name;
        EXPECT_TRUE(host->questions.empty()) << c.name; // nothing asked before a refusal
    }
    // An END ID cannot be erased afterwards: it is asked for too, and No writes nothing.
    host->messages.clear();
    host->answer = false;
    ASSERT_TRUE(host->locate({0, 0, 0x10, 0}));
    VirtualIdEdit endEdit;
    EXPECT_FALSE(writer->writeEraseId(kPendingEnd, dat::kIdCodeEnd, endEdit));
    ASSERT_EQ(host->questions.size(), 1u);
    EXPECT_EQ(host->questions[0], "An END ID ends play and archiving at this point; it cannot be "
                                  "erased, only recorded over.\n\nWrite END ID?");
    EXPECT_TRUE(host->messages.empty());
    host->answer = true;
    // A position the frames read back do not hold (it fell into the jump): nothing is written.
    ASSERT_TRUE(host->locate({0, 0, 0x10, 0}));
    drive->tracker(0)->position().absTime = dat::framesToAbs(1010);
    host->messages.clear();
    VirtualIdEdit edit;
    EXPECT_FALSE(writer->writeEraseId(kPendingSkip, 0, edit));
    EXPECT_EQ(host->messages.size(), 1u);
    auto c = closeAndOpen();
    for (std::int64_t i = 0; i < 1500; ++i)
        ASSERT_EQ(sub(c, i).subIdFlags(), 0) << i;
}

TEST_F(TapeIdWriterTest, VirtualIdModeEditsTheListOnly)
{
    makeTape(2, [](sim::Cassette& c) { recordPlain(c, 0, 1500); });
    openDrive();
    drive->setVirtualIdMode(0, true);
    ASSERT_TRUE(host->locate({0, 0, 0x12, 0}));
    VirtualIdEdit edit;
    ASSERT_TRUE(writer->writeEraseId(kPendingStart, 4, edit));
    EXPECT_TRUE(edit.changed);
    EXPECT_EQ(edit.second, 12);
    EXPECT_EQ(edit.nextWriteNumber, 5);
    EXPECT_TRUE(host->questions.empty());
    ASSERT_TRUE(host->locate({0, 0, 0x14, 0}));
    VirtualIdEdit erase;
    EXPECT_FALSE(writer->writeEraseId(kPendingNone, 0, erase));
    EXPECT_EQ(host->messages.back(), "ID not found.\n\nWrite/Erase ID failed.");
    EXPECT_EQ(drive->getTable(0, true)->count, 1);
    auto c = closeAndOpen();
    for (std::int64_t i = 0; i < 1500; ++i)
        ASSERT_EQ(sub(c, i).subIdFlags(), 0) << i;
}

TEST_F(TapeIdWriterTest, TheLeadInIsWrittenFromTheBeginning)
{
    struct Case {
        bool quiet;
        int frames;
    };
    for (const Case k : {Case{false, 242}, Case{true, 108}}) {
        std::filesystem::remove(path);
        makeTape(1, [](sim::Cassette&) {});
        openDrive();
        ASSERT_TRUE(writer->writeLeadIn(true, k.quiet));
        EXPECT_EQ(host->questions.size(), k.quiet ? 0u : 1u);
        if (!k.quiet) {
            EXPECT_EQ(host->questions[0],
                      "New tape is detected.\nFor correct operation, it is necessary to write "
                      "Lead-in area.\n\nWrite Lead-in area?");
            EXPECT_EQ(drive->getPosition(0)->absTime, (TimeCode{0, 0, 0x02, 0}));
        }
        auto c = closeAndOpen();
        EXPECT_EQ(c->recordedEnd(), k.frames);
        EXPECT_EQ(dat::absTimeOf(sub(c, 0)), (TimeCode{0, 0, 0x03, 0x08}));
        EXPECT_EQ(sub(c, 0).subIdDigits(), 0x0BB);
        EXPECT_EQ(sub(c, 107).subIdFlags(), 0x80);
        EXPECT_EQ(dat::absTimeOf(sub(c, 107)), (TimeCode{0, 0, 0, 0x01}));
        if (!k.quiet) {
            EXPECT_EQ(sub(c, 108).subIdFlags(), 0);
            EXPECT_EQ(dat::absTimeOf(sub(c, 108)), (TimeCode{0, 0, 0, 0}));
        }
    }
    // Answered No: nothing is written.
    std::filesystem::remove(path);
    makeTape(1, [](sim::Cassette&) {});
    openDrive();
    host->answer = false;
    EXPECT_FALSE(writer->writeLeadIn(false, false));
    EXPECT_EQ(host->questions[0], " Write Lead-in area?");
    EXPECT_FALSE(closeAndOpen()->everRecorded());
}

} // namespace
} // namespace tarnvel::record
