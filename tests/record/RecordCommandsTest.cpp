// The command line's recording and virtual ID commands, run as a user runs them.
#include "CliShell.h"
#include "cli/CliRunner.h"
#include "dat/RecSubcode.h"
#include "dat/TimeCode.h"
#include "sim/Cassette.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnvel::record {
namespace {

using test::TempDir;
using test::WavFixture;

using test::CliRun;

// Standard error joins the output: the tests read the messages.
CliRun cli(const std::string& args)
{
    return test::cli(args, "&1");
}

TEST(RecordCommands, ANewTapeIsNotRecordedWithoutItsLeadIn)
{
    TempDir dir;
    WavFixture a;
    a.rate = 48000;
    a.withFrames(1440 * 10);
    a.write(dir.file("a.wav"));
    const std::string tape = dir.file("blank.tvs");
    ASSERT_EQ(cli("sim new " + tape + " --minutes 1").exitCode, 0);
    CliRun r = cli("--drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("New tape is detected."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the tape has no lead-in"), std::string::npos) << r.out;
    EXPECT_NE(cli("sim info " + tape).out.find("Recorded:        never"), std::string::npos);
    EXPECT_EQ(cli("record --wav a.wav --image b.tvi").exitCode, 2);

    // Declined once, the tape is not trapped: the question comes again, and --yes answers it.
    r = cli("--yes --drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 0) << r.out;
    const std::string info = cli("sim info " + tape).out;
    EXPECT_NE(info.find("ABS-00h00m03s08  Lead-in"), std::string::npos) << info;
    EXPECT_NE(info.find("ABS 00h00m02s00  START ID 1"), std::string::npos) << info;
}

// ID writes ask before they change the tape, also for an END ID (it cannot be erased), and a
// write the tape cannot take is refused before the question.
TEST(RecordCommands, IdWritesAskFirstAndAreRefusedWithoutAsking)
{
    TempDir dir;
    const std::string tape = dir.file("demo.tvs");
    ASSERT_EQ(cli("sim demo " + tape).exitCode, 0);
    const struct {
        const char* place;
        const char* command;
        const char* said;
        const char* notSaid;
    } cases[] = {
        {"locate --pno 2", "write-id end", "Write END ID?\n(No: give --yes to answer Yes)",
         "Writing..."},
        {"locate --pno 2", "write-id skip", "Continue?\n(No: give --yes to answer Yes)",
         "Writing..."},
        {"ff", "erase-id", "Unable to erase END ID.", "unrecoverable noise"},
        {"locate --abs 00:00:15:00", "erase-id", "ID not found.", "unrecoverable noise"},
        {"locate --abs 00:00:00:20", "write-id skip", "Lead-in area, or too close.",
         "unrecoverable noise"},
    };
    const std::string before = cli("sim info " + tape).out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(cli("--drive sim:" + tape + " " + c.place).exitCode, 0) << c.place;
        const CliRun r = cli("--drive sim:" + tape + " " + c.command);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(c.notSaid), std::string::npos) << r.out;
    }
    EXPECT_EQ(cli("sim info " + tape).out, before);
}

// A START ID written without a number continues the tape's numbering where it stands.
TEST(RecordCommands, StartIdWithoutNumberTakesTheNextNumber)
{
    TempDir dir;
    WavFixture a;
    a.rate = 48000;
    a.withFrames(48000 * 20);
    a.write(dir.file("a.wav"));
    const std::string demo = dir.file("demo.tvs");
    const std::string plain = dir.file("plain.tvs");
    ASSERT_EQ(cli("sim demo " + demo).exitCode, 0);
    ASSERT_EQ(cli("sim new " + plain + " --minutes 2").exitCode, 0);
    ASSERT_EQ(cli("--yes --drive sim:" + plain + " record --pno-start 0 --wav " + dir.file("a.wav"))
                  .exitCode,
              0);
    const struct {
        std::string tape;
        const char* id; // the line `sim info` shows for the ID written at 00h00m08s00
    } cases[] = {
        {demo, "ABS 00h00m30s00  START ID 3"},  // inside program 2
        {plain, "ABS 00h00m08s00  START ID 1"}, // a tape without IDs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tape);
        const std::string at = c.tape == demo ? "00:00:30:00" : "00:00:08:00";
        const CliRun r = cli("--yes --drive sim:" + c.tape + " write-id start --at " + at);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        const std::string info = cli("sim info " + c.tape).out;
        EXPECT_NE(info.find(c.id), std::string::npos) << info;
    }
}

// An archive's cue list is recorded back whatever its files are labelled: a file the archive
// began in the lead-in ("BB", here the whole tape with --no-divide) without a START ID.
TEST(RecordCommands, AnArchivesCueListIsAlwaysRecordable)
{
    TempDir dir;
    const std::string demo = dir.file("demo.tvs");
    const std::string blank = dir.file("blank.tvs");
    ASSERT_EQ(cli("sim demo " + demo).exitCode, 0);
    ASSERT_EQ(cli("sim new " + blank + " --minutes 5").exitCode, 0);
    const std::string base = dir.file("whole");
    ASSERT_EQ(cli("--drive sim:" + demo + " archive --no-divide " + base).exitCode, 0);
    const auto cue = WavFixture::readBytes(base + ".TVC");
    ASSERT_NE(std::string(cue.begin(), cue.end()).find("PNo: BB"), std::string::npos);
    const CliRun r = cli("--yes --drive sim:" + blank + " record --cue " + base + ".TVC");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // The lead-in, then the whole demo tape (2175 frames) from 00h00m02s00 on.
    const std::string info = cli("sim info " + blank).out;
    const std::size_t at = info.find("Recorded:        frames 0-");
    ASSERT_NE(at, std::string::npos) << info;
    EXPECT_GE(std::atoi(info.c_str() + at + 26), 174 + 2175 - 1) << info;
    EXPECT_EQ(info.find("START ID"), std::string::npos) << info;
}

TEST(RecordCommands, FramesRecordedCountsWhatReachedTheTape)
{
    TempDir dir;
    WavFixture a;
    a.rate = 48000;
    a.withFrames(1440 * 200);
    a.write(dir.file("a.wav"));
    const std::string tape = dir.file("t.tvs");
    ASSERT_EQ(cli("sim new " + tape + " --minutes 1").exitCode, 0);
    // The program begins at frame 174, after the lead-in: 126 frames fit before the bad spot.
    ASSERT_EQ(cli("sim damage " + tape + " --write-fail-at 300").exitCode, 0);
    const CliRun r = cli("--yes --drive sim:" + tape + " record --wav " + dir.file("a.wav"));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("\n126 frames recorded\n"), std::string::npos) << r.out;
}

TEST(RecordCommands, VirtualIdsAreAddedErasedAndRenumbered)
{
    TempDir dir;
    const std::string vid = dir.file("V.TVV");
    EXPECT_EQ(cli("vid add " + vid + " start 7 --at 00:01:00:00").exitCode, 0);
    EXPECT_EQ(cli("vid add " + vid + " start 3 --at 00:00:30:10").exitCode, 0);
    EXPECT_EQ(cli("vid add " + vid + " skip --at 00:00:45:00").exitCode, 0);
    EXPECT_EQ(cli("vid add " + vid + " end --at 00:02:00:00").exitCode, 0);
    EXPECT_EQ(cli("vid erase " + vid + " --at 00:00:45:00").exitCode, 0);
    EXPECT_EQ(cli("vid erase " + vid + " --at 00:00:46:00").exitCode, 1);
    const CliRun r = cli("vid renumber " + vid);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(cli("vid show " + vid).out, " 1\t START\t   1\t 00h00m30s10\t    30\n"
                                          " 2\t START\t   2\t 00h01m00s00\t    60\n"
                                          " 3\t END\t\t 00h02m00s00\t   120\n");
    EXPECT_EQ(cli("vid add " + vid + " start --at 00:00:10:00").exitCode, 2);
}

// A virtual ID file is the user's: what it holds besides rows stays, a time no tape has is
// refused before anything is written, a START that moves or an ID that is replaced is named,
// and a list made from the tape replaces a file only with --yes.
TEST(RecordCommands, VirtualIdFilesKeepTheirLinesAndRefuseWhatCannotBeRows)
{
    TempDir dir;
    const std::string vid = dir.file("V.TVV");
    ASSERT_EQ(cli("vid add " + vid + " start 7 --at 00:01:00:00").exitCode, 0);
    {
        std::FILE* f = std::fopen(vid.c_str(), "ab");
        std::fputs("; side B follows\r\n   2 START  900  00h05m00s00    300\r\n", f);
        std::fclose(f);
    }
    const std::string before = cli::test::slurp(vid);
    const struct {
        const char* args;
        int exitCode;
    } refused[] = {
        {" start 2 --at 99:99:99:99", 2},
        {" start 2 --at 00:00:10:34", 2},
        {" start 2 --at 00:60:00:00", 2},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(cli("vid add " + vid + c.args).exitCode, c.exitCode);
        EXPECT_EQ(cli::test::slurp(vid), before);
    }
    EXPECT_EQ(cli("vid erase " + vid + " --at 00:00:10:34").exitCode, 2);

    CliRun r = cli("vid add " + vid + " start 7 --at 00:00:30:00");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Moved: START 7 at 00h01m00s00 is now at 00h00m30s00."), std::string::npos)
        << r.out;
    r = cli("vid add " + vid + " skip --at 00:00:30:10");
    EXPECT_NE(r.out.find("Replaced: START 7 at 00h00m30s00."), std::string::npos) << r.out;
    EXPECT_EQ(cli("vid add " + vid + " start 1 --at 00:00:10:00").exitCode, 0);
    EXPECT_EQ(cli("vid renumber " + vid).exitCode, 0);
    const std::string after = cli::test::slurp(vid);
    EXPECT_NE(after.find("; side B follows\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("   2 START  900  00h05m00s00    300\r\n"), std::string::npos) << after;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find("partial"), std::string::npos);

    const std::string tape = dir.file("demo.tvs");
    ASSERT_EQ(cli("sim demo " + tape).exitCode, 0);
    r = cli("--drive sim:" + tape + " vid copy-from-tape " + vid);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("already exists"), std::string::npos) << r.out;
    EXPECT_EQ(cli::test::slurp(vid), after);
    EXPECT_EQ(cli("--yes --drive sim:" + tape + " vid copy-from-tape " + vid).exitCode, 0);
    EXPECT_NE(cli::test::slurp(vid), after);
}

// Two instances, each in its own process with its own simulated drive, in a runtime folder
// of the test's own.
class TwoInstances : public ::testing::Test {
protected:
    static constexpr int kLeadIn = 108;
    static constexpr int kProgram = 1300;
    // Where the source's STARTs begin (program frames); the third one's number is damaged.
    static constexpr int kStarts[] = {0, 320, 640, 960};
    static constexpr int kDamagedStart = 640;

    void SetUp() override
    {
        ::mkdir(run.c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        std::string error;
        {
            // A lead-in, then the program at 44.1 kHz: STARTs 1, 2, 3 (which reads as 805: a
            // damaged number) and 4; program frame i holds the byte i * 3.
            auto c = sim::Cassette::create(source, 1, error);
            ASSERT_TRUE(c) << error;
            dat::DatFrame f;
            dat::RecSubcodeState st;
            dat::initRecSubcode(f.subcode, st, dat::kIdControlNone, dat::TimeCode{0, 0, 3, 8}, 0, 0,
                                44100, false, dat::kIdCodeLeadIn);
            for (int i = 0; i < kLeadIn; ++i) {
                ASSERT_TRUE(c->writeFrame(i, f.data(), error)) << error;
                dat::advanceRecSubcode(f.subcode, st);
            }
            dat::initRecSubcode(f.subcode, st, dat::kIdControlStart, dat::TimeCode{0, 0, 0, 0}, 0,
                                0, 44100, false, 1);
            int number = 1;
            for (int i = 0; i < kProgram; ++i) {
                if (i > 0 &&
                    std::find(std::begin(kStarts), std::end(kStarts), i) != std::end(kStarts))
                    dat::startIdRun(f.subcode, st, dat::kIdControlStart, ++number);
                f.audio.fill(static_cast<std::uint8_t>(i * 3));
                dat::DatFrame written = f;
                if (i >= kDamagedStart && i < kDamagedStart + dat::kStartRunFrames) {
                    written.subcode.bytes[57] = static_cast<std::uint8_t>(
                        0x80 | (written.subcode.bytes[57] & 0x0F)); // hundreds digit 8
                    written.subcode.bytes[58] = 0x05;
                }
                ASSERT_TRUE(c->writeFrame(kLeadIn + i, written.data(), error)) << error;
                dat::advanceRecSubcode(f.subcode, st);
            }
        }
        makeCopyTape(true);
    }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    // The receiving cassette; with a lead-in its drive knows where it stands at once.
    void makeCopyTape(bool withLeadIn)
    {
        std::string error;
        std::filesystem::remove(copy);
        auto c = sim::Cassette::create(copy, 1, error);
        ASSERT_TRUE(c) << error;
        dat::DatFrame f;
        dat::RecSubcodeState st;
        dat::initRecSubcode(f.subcode, st, dat::kIdControlNone, dat::TimeCode{0, 0, 3, 8}, 0, 0,
                            48000, false, dat::kIdCodeLeadIn);
        for (int i = 0; withLeadIn && i < kLeadIn; ++i) {
            ASSERT_TRUE(c->writeFrame(i, f.data(), error)) << error;
            dat::advanceRecSubcode(f.subcode, st);
        }
    }

    bool waitForReceiver() const
    {
        const std::string socket = run + "/tarnvel/Tarnvel:2.sock";
        for (int i = 0; i < 600 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return std::filesystem::exists(socket);
    }
    // Copies the source through `serve --once` in the second instance.
    struct Copy {
        CliRun sent{-1, ""};
        CliRun served{-1, ""};
    };
    Copy copyThroughTheLink(const std::string& senderOptions,
                            const std::string& receiverOptions = "")
    {
        Copy c;
        std::thread receiver([&] {
            c.served = cli("--instance 2 --drive sim:" + copy + " serve --once" + receiverOptions);
        });
        if (waitForReceiver())
            c.sent = cli("--drive sim:" + source + " copy-to-peer" + senderOptions);
        receiver.join();
        return c;
    }
    void copyAll(const std::string& senderOptions, const std::string& receiverOptions = "")
    {
        const Copy c = copyThroughTheLink(senderOptions, receiverOptions);
        EXPECT_EQ(c.sent.exitCode, 0) << c.sent.out;
        EXPECT_EQ(c.served.exitCode, 0) << c.served.out;
    }
    void open(std::unique_ptr<sim::Cassette>& a, std::unique_ptr<sim::Cassette>& b)
    {
        std::string error;
        a = sim::Cassette::open(source, sim::Cassette::Access::ReadOnly, error);
        b = sim::Cassette::open(copy, sim::Cassette::Access::ReadOnly, error);
        ASSERT_TRUE(a && b) << error;
    }
    // The program numbers of the START IDs on the copy, in tape order.
    std::vector<int> startsOnCopy()
    {
        std::string error;
        auto b = sim::Cassette::open(copy, sim::Cassette::Access::ReadOnly, error);
        std::vector<int> numbers;
        bool inRun = false;
        for (std::int64_t i = 0; b && i < b->recordedEnd(); ++i) {
            dat::DatFrame y;
            if (!b->readFrame(i, y.data(), error))
                break;
            const bool start = (y.subcode.subIdFlags() & dat::kSubIdStart) != 0;
            if (start && !inRun)
                numbers.push_back(dat::bcd16ToInt(y.subcode.subIdDigits()));
            inRun = start;
        }
        return numbers;
    }
    // A process of its own folder (its out.txt and err.txt are its own).
    std::unique_ptr<cli::test::CliProcess> start(const TempDir& where,
                                                 const std::vector<std::string>& args)
    {
        return std::make_unique<cli::test::CliProcess>(where, args);
    }
    // Waits until the receiver has recorded some of the program.
    static bool recordingUnderway(const TempDir& where)
    {
        return cli::test::waitFor([&] {
            const std::string out = cli::test::slurp(where.file("out.txt"));
            return out.find("PNo 1 START") != std::string::npos;
        });
    }

    TempDir dir;
    const std::string run = dir.file("run");
    const std::string source = dir.file("source.tvs");
    const std::string copy = dir.file("copy.tvs");
};

TEST_F(TwoInstances, AnImageCopyIsFrameForFrame)
{
    copyAll(" --image");
    std::unique_ptr<sim::Cassette> a, b;
    open(a, b);
    std::string error;
    ASSERT_EQ(b->recordedEnd(), a->recordedEnd());
    for (std::int64_t i = 0; i < a->recordedEnd(); ++i) {
        dat::DatFrame x;
        dat::DatFrame y;
        ASSERT_TRUE(a->readFrame(i, x.data(), error));
        ASSERT_TRUE(b->readFrame(i, y.data(), error));
        ASSERT_EQ(std::memcmp(x.data(), y.data(), dat::kFrameBytes), 0) << i;
    }
}

// An audio copy is recorded anew: the program's audio arrives in order, every byte of it, and
// nothing of the source's lead-in (the copy has a lead-in of its own).
TEST_F(TwoInstances, AnAudioCopyCarriesEverySampleOfTheProgramInOrder)
{
    const Copy c = copyThroughTheLink("");
    ASSERT_EQ(c.sent.exitCode, 0) << c.sent.out;
    ASSERT_EQ(c.served.exitCode, 0) << c.served.out;
    EXPECT_NE(c.served.out.find(std::to_string(kProgram) + " frames recorded"), std::string::npos)
        << c.served.out;
    std::unique_ptr<sim::Cassette> a, b;
    open(a, b);
    std::string error;
    // Frame 0 is silent like the lead-in: the copy is found by its frame 1.
    std::int64_t at = -1;
    for (std::int64_t i = 0; i < b->recordedEnd() && at < 0; ++i) {
        dat::DatFrame y;
        ASSERT_TRUE(b->readFrame(i, y.data(), error));
        if (y.audio[0] == 3 && y.audio[5291] == 3)
            at = i - 1;
    }
    ASSERT_GE(at, 0);
    EXPECT_EQ(b->recordedEnd() - at, kProgram);
    for (std::int64_t i = 0; i < kProgram; ++i) {
        dat::DatFrame x;
        dat::DatFrame y;
        ASSERT_TRUE(a->readFrame(kLeadIn + i, x.data(), error));
        ASSERT_TRUE(b->readFrame(at + i, y.data(), error));
        ASSERT_EQ(std::memcmp(x.audio.data(), y.audio.data(), 5292), 0) << i;
    }
}

// Every START of the source becomes the next number from --pno-start, the damaged one too,
// however fast the copy runs.
TEST_F(TwoInstances, StartsAreNumberedOnFromThePnoStart)
{
    const struct {
        const char* serveOptions;
        std::vector<int> numbers;
    } cases[] = {{"", {1, 2, 3, 4}}, {" --pno-start 5", {5, 6, 7, 8}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serveOptions);
        makeCopyTape(true);
        copyAll("", c.serveOptions);
        EXPECT_EQ(startsOnCopy(), c.numbers);
    }
}

// copy-to-peer plays the tape from its beginning, wherever it stands; --from-here starts where
// it stands, and a copy that brings nothing is a failure on both sides.
TEST_F(TwoInstances, ACopyRewindsUnlessFromHereAndNothingCopiedIsAFailure)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round); // the second starts with the source at its end
        makeCopyTape(true);
        const Copy c = copyThroughTheLink("");
        EXPECT_EQ(c.sent.exitCode, 0) << c.sent.out;
        EXPECT_NE(c.served.out.find(std::to_string(kProgram) + " frames recorded"),
                  std::string::npos)
            << c.served.out;
    }
    makeCopyTape(true);
    const Copy c = copyThroughTheLink(" --from-here");
    EXPECT_EQ(c.sent.exitCode, 1) << c.sent.out;
    EXPECT_NE(c.sent.out.find("Nothing was copied"), std::string::npos) << c.sent.out;
    EXPECT_EQ(c.served.exitCode, 1) << c.served.out;
    EXPECT_NE(c.served.out.find("0 frames recorded"), std::string::npos) << c.served.out;
}

// A receiving tape without a lead-in cannot be recorded on: the sender says so, not only the
// receiver, and serve --once ends.
TEST_F(TwoInstances, ACopyIntoATapeWithoutLeadInSaysWhyOnBothSides)
{
    makeCopyTape(false);
    const Copy c = copyThroughTheLink("");
    EXPECT_EQ(c.sent.exitCode, 1) << c.sent.out;
    EXPECT_NE(c.sent.out.find("Tarnvel:2: the tape has no lead-in"), std::string::npos)
        << c.sent.out;
    EXPECT_EQ(c.served.exitCode, 1) << c.served.out;
    EXPECT_NE(c.served.out.find("ABS Time not found."), std::string::npos) << c.served.out;
}

// The receiving process killed mid-copy: the sender ends with a message, not a hang.
TEST_F(TwoInstances, KillingTheReceiverEndsTheSender)
{
    TempDir receiverDir;
    TempDir senderDir;
    auto receiver = start(receiverDir, {"--instance", "2", "--drive", "sim:" + copy, "serve"});
    ASSERT_TRUE(waitForReceiver());
    // At deck speed the program takes 39 seconds: the kill comes in the middle.
    auto sender = start(senderDir, {"--realtime", "--drive", "sim:" + source, "copy-to-peer"});
    ASSERT_TRUE(recordingUnderway(receiverDir));
    receiver->signal(SIGKILL);
    receiver->wait();
    const cli::test::CliResult sent = sender->wait(std::chrono::seconds(60));
    EXPECT_NE(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_NE((sent.out + sent.err).find("The copy ended: Tarnvel:2 no longer takes frames."),
              std::string::npos)
        << sent.out << sent.err;
}

// The sender killed mid-copy, or serve stopped by one signal: the recording ends at once,
// cleanly, with what it recorded reported.
TEST_F(TwoInstances, ARecordingEndsAtOnceWhenTheSenderDiesOrServeIsStopped)
{
    const struct {
        const char* what;
        bool killSender;
        int serveExit;
        const char* says;
    } cases[] = {
        {"sender killed", true, 1, "the other instance stopped sending before the end"},
        {"SIGINT to serve", false, 0, " frames recorded"},
        {"SIGTERM to serve", false, 0, " frames recorded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makeCopyTape(true);
        TempDir receiverDir;
        TempDir senderDir;
        auto receiver =
            start(receiverDir, {"--instance", "2", "--drive", "sim:" + copy, "serve", "--once"});
        ASSERT_TRUE(waitForReceiver());
        auto sender = start(senderDir, {"--realtime", "--drive", "sim:" + source, "copy-to-peer"});
        ASSERT_TRUE(recordingUnderway(receiverDir));
        if (c.killSender)
            sender->signal(SIGKILL);
        else
            receiver->signal(std::string(c.what).find("TERM") != std::string::npos ? SIGTERM
                                                                                   : SIGINT);
        const cli::test::CliResult served = receiver->wait();
        sender->signal(SIGKILL);
        sender->wait();
        EXPECT_EQ(served.exitCode, c.serveExit) << served.out << served.err;
        const std::string all = served.out + served.err;
        EXPECT_NE(all.find(c.says), std::string::npos) << all;
        // Stopped in the middle: not the whole program.
        unsigned frames = 0;
        const std::size_t at = served.out.rfind(" frames recorded");
        ASSERT_NE(at, std::string::npos) << served.out;
        const std::size_t from = served.out.rfind('\n', at);
        frames = static_cast<unsigned>(
            std::stoul(served.out.substr(from == std::string::npos ? 0 : from + 1)));
        EXPECT_GT(frames, 0u);
        EXPECT_LT(frames, static_cast<unsigned>(kProgram));
    }
}

// The link's folder is this user's own, or no copy goes through it.
TEST_F(TwoInstances, ACopyIsRefusedWhenTheLinkFolderBelongsToAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the folder away";
    const std::string folder = run + "/tarnvel";
    ::mkdir(folder.c_str(), 0700);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    const CliRun sent = cli("--drive sim:" + source + " copy-to-peer");
    EXPECT_EQ(sent.exitCode, 1) << sent.out;
    EXPECT_NE(sent.out.find("owned by another user"), std::string::npos) << sent.out;
}

} // namespace
} // namespace tarnvel::record
