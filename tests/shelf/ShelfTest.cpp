#include "shelf/Shelf.h"

#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarnvel::shelf::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ShelfFixture : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string folder() const { return dir.path().string(); }

    void list(const std::string& text) { std::ofstream(dir.path() / "shelf.txt") << text; }
    ShelfState state()
    {
        ShelfState s;
        std::string error;
        EXPECT_TRUE(readStateFile(folder() + "/shelf.json", s, error)) << error;
        return s;
    }
    // The id of a process that has ended.
    static std::int64_t goneProcess()
    {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }
};

TEST_F(ShelfFixture, StateFileRoundTripsAndRefusesWhatItIsNot)
{
    ShelfState s;
    TapeRecord r;
    r.label = "T001";
    r.state = TapeState::Failed;
    r.reason = "no cassette \"x\"";
    r.host = "deck-2";
    r.pid = 4242;
    r.started = "2026-12-11T17:20:05Z";
    r.attempts = 2;
    r.programs = 3;
    r.seconds = 7201;
    r.errorFrames = 5;
    r.errorsLeft = 4;
    r.notes = {"taken over"};
    s.tapes = {r};
    ShelfState back;
    std::string error;
    ASSERT_TRUE(fromJson(toJson(s), back, error)) << error;
    ASSERT_EQ(back.tapes.size(), 1u);
    EXPECT_EQ(toJson(back), toJson(s));
    EXPECT_EQ(back.tapes[0].state, TapeState::Failed);
    EXPECT_EQ(back.tapes[0].reason, r.reason);

    for (const char* bad : {"", "[]", "{\"tapes\": 3}", "{\"tapes\": [{\"state\": \"done\"}]}",
                            "{\"tapes\": [{\"label\": \"A\", \"state\": \"lost\"}]}",
                            "{\"tapes\": [{\"label\": \"A\", \"pid\": \"12\"}]}",
                            "{\"tapes\": [{\"label\": \"A\", \"errorFrames\": -1}]}",
                            "{\"tapes\": [{\"label\": \"A\"}, {\"label\": \"A\"}]}",
                            "{\"tapes\": [{\"label\": \"A\"}"}) {
        EXPECT_FALSE(fromJson(bad, back, error)) << bad;
        EXPECT_FALSE(error.empty());
    }

    // A state file that cannot be read stops the queue and stays as it was.
    list("T001\n");
    std::ofstream(dir.path() / "shelf.json") << "{\"tapes\": [";
    Shelf shelf(folder());
    ASSERT_TRUE(shelf.open(error)) << error;
    Shelf::Claim c;
    EXPECT_EQ(shelf.claimNext(c, error), Shelf::Next::Failed);
    EXPECT_NE(error.find("left as it is"), std::string::npos) << error;
    EXPECT_EQ(slurp(dir.path() / "shelf.json"), "{\"tapes\": [");
}

TEST_F(ShelfFixture, AtomicWriteReplacesWholeAndLeavesNothingBeside)
{
    std::string error;
    const std::string target = folder() + "/shelf.json";
    std::ofstream(target) << "old";
    ASSERT_TRUE(writeFileAtomically(target, "new text", error)) << error;
    EXPECT_EQ(slurp(target), "new text");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"shelf.json"});
    // A folder that cannot be written: refused with its reason, the old file untouched.
    if (::geteuid() != 0) {
        ::chmod(folder().c_str(), 0555);
        EXPECT_FALSE(writeFileAtomically(target, "newer", error));
        EXPECT_FALSE(error.empty());
        ::chmod(folder().c_str(), 0755);
        EXPECT_EQ(slurp(target), "new text");
    }
}

// A tape goes pending -> claimed -> done or failed; an interrupted one goes back to pending
// and is done again; done and failed tapes are not taken again; --redo keeps the old archive.
TEST_F(ShelfFixture, TapesMoveThroughTheirStates)
{
    list("A\nB\nC\n");
    std::string error;
    Shelf one(folder(), "deck", ::getpid());
    Shelf two(folder(), "deck", ::getpid());
    ASSERT_TRUE(one.open(error) && two.open(error)) << error;
    Shelf::Claim a, b, c;
    ASSERT_EQ(one.claimNext(a, error), Shelf::Next::Claimed) << error;
    ASSERT_EQ(two.claimNext(b, error), Shelf::Next::Claimed) << error;
    EXPECT_EQ(a.tape.label, "A");
    EXPECT_EQ(a.number, 1);
    EXPECT_EQ(b.tape.label, "B");
    EXPECT_TRUE(fs::exists(dir.path() / "A.claim"));
    EXPECT_EQ(state().find("A")->state, TapeState::Claimed);

    TapeOutcome done;
    done.done = true;
    done.programs = 2;
    done.seconds = 3600;
    done.errorFrames = 3;
    ASSERT_TRUE(one.finish(a, done, error)) << error;
    EXPECT_FALSE(fs::exists(dir.path() / "A.claim"));
    TapeOutcome failed;
    failed.reason = "the tape is blank";
    ASSERT_TRUE(two.finish(b, failed, error)) << error;

    ASSERT_EQ(one.claimNext(c, error), Shelf::Next::Claimed);
    EXPECT_EQ(c.tape.label, "C");
    fs::create_directories(dir.path() / "C");
    std::ofstream(dir.path() / "C" / "C01.WAV") << "part";
    ASSERT_TRUE(one.release(c, "interrupted", error)) << error;
    EXPECT_EQ(state().find("C")->state, TapeState::Pending);
    EXPECT_EQ(state().find("C")->reason, "interrupted");

    // Done again: its partial output moved aside first.
    ASSERT_EQ(two.claimNext(c, error), Shelf::Next::Claimed);
    EXPECT_EQ(c.tape.label, "C");
    EXPECT_EQ(slurp(dir.path() / "C.incomplete-1" / "C01.WAV"), "part");
    EXPECT_FALSE(fs::exists(dir.path() / "C"));
    EXPECT_EQ(state().find("C")->attempts, 2);
    ASSERT_TRUE(two.finish(c, done, error));
    EXPECT_EQ(one.claimNext(c, error), Shelf::Next::NoneLeft);

    ShelfState s;
    ASSERT_TRUE(one.readState(s, error));
    const std::vector<std::string> lines = statusLines(s);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "A      done     2 files  01h00m00s  3 error frames");
    EXPECT_EQ(lines[1], "B      failed   the tape is blank");
    EXPECT_EQ(lines[3],
              "3 tapes: 2 done, 1 failed, 0 left; 2.00 hours archived; 2 tapes with errors");

    // On purpose: the done tape's archive kept as A.previous-1.
    fs::create_directories(dir.path() / "A");
    EXPECT_FALSE(one.redo("Z", error));
    ASSERT_TRUE(one.redo("A", error)) << error;
    EXPECT_TRUE(fs::is_directory(dir.path() / "A.previous-1"));
    ASSERT_EQ(one.claimNext(a, error), Shelf::Next::Claimed);
    EXPECT_EQ(a.tape.label, "A");
    // Not while it is being archived.
    EXPECT_FALSE(two.redo("A", error));
    EXPECT_NE(error.find("being archived"), std::string::npos) << error;
}

// Stale claims are taken over with a note; live ones are left alone.
TEST_F(ShelfFixture, StaleClaimsAreTakenOverLiveOnesNot)
{
    list("T1\nT2\nT3\nT4\nT5\n");
    std::string error;
    const std::int64_t now = secondsNow();
    const auto claim = [&](const std::string& label, ClaimInfo info) {
        ASSERT_TRUE(createClaim(claimPath(folder(), label), info, error)) << error;
    };
    claim("T1", {"other-host", 77, now - 5 * 60}); // renewed 5 minutes ago: live
    claim("T2", {"this-host", static_cast<std::int64_t>(::getpid()), now - 60}); // working
    claim("T3", {"this-host", goneProcess(), now});                              // killed here
    claim("T4", {"other-host", 78, now - kClaimStaleSeconds - 1});               // stopped renewing
    // An empty claim (a process killed between creating and writing it), recent.
    std::ofstream(dir.path() / "T5.claim");
    fs::create_directories(dir.path() / "T3" / "T3");
    fs::create_directories(dir.path() / "T3.incomplete-1");

    const std::int64_t me = ::getpid();
    Shelf shelf(folder(), "this-host", me);
    ASSERT_TRUE(shelf.open(error));
    Shelf::Claim c;
    ASSERT_EQ(shelf.claimNext(c, error), Shelf::Next::Claimed) << error;
    EXPECT_EQ(c.tape.label, "T3");
    ASSERT_EQ(c.notes.size(), 2u);
    EXPECT_NE(c.notes[0].find("taken over from host this-host process"), std::string::npos);
    EXPECT_NE(c.notes[0].find("its process is gone"), std::string::npos);
    EXPECT_NE(c.notes[1].find("kept in T3.incomplete-2"), std::string::npos) << c.notes[1];
    EXPECT_TRUE(fs::is_directory(dir.path() / "T3.incomplete-2" / "T3"));
    EXPECT_EQ(state().find("T3")->notes, c.notes);
    ClaimInfo held;
    ASSERT_TRUE(readClaim(claimPath(folder(), "T3"), held));
    EXPECT_EQ(held.host, "this-host");
    EXPECT_EQ(held.pid, me);

    ASSERT_EQ(shelf.claimNext(c, error), Shelf::Next::Claimed) << error;
    EXPECT_EQ(c.tape.label, "T4");
    EXPECT_NE(c.notes[0].find("not renewed for 10 minutes"), std::string::npos) << c.notes[0];
    EXPECT_EQ(shelf.claimNext(c, error), Shelf::Next::NoneLeft);

    // The empty claim once its file is old.
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(11);
    fs::last_write_time(dir.path() / "T5.claim", old);
    ASSERT_EQ(shelf.claimNext(c, error), Shelf::Next::Claimed) << error;
    EXPECT_EQ(c.tape.label, "T5");
    EXPECT_NE(c.notes[0].find("an unfinished claim"), std::string::npos) << c.notes[0];

    // A run killed while it holds a tape: the status says that the tape waits for a run.
    {
        std::ofstream(dir.path() / "shelf.txt") << "T1\nT2\nT3\nT4\nT5\nT6\n";
        Shelf killed(folder(), "this-host", goneProcess());
        ASSERT_TRUE(killed.open(error));
        Shelf::Claim k;
        ASSERT_EQ(killed.claimNext(k, error), Shelf::Next::Claimed);
        EXPECT_EQ(k.tape.label, "T6");
        ShelfState s;
        ASSERT_TRUE(shelf.open(error) && shelf.readState(s, error)) << error;
        EXPECT_EQ(s.find("T6")->reason, "its run has stopped: the next run does it again");
        EXPECT_EQ(s.find("T5")->reason, "");
        ::unlink(claimPath(folder(), "T6").c_str());
    }

    // The owner of a taken-over claim learns it at its next renewal and at its end.
    const ClaimInfo t4Owner{"other-host", 78, now};
    EXPECT_FALSE(renewClaim(claimPath(folder(), "T4"), t4Owner, now));
    EXPECT_TRUE(renewClaim(claimPath(folder(), "T4"), {"this-host", me, 0}, now + 60));
    ASSERT_TRUE(readClaim(claimPath(folder(), "T4"), held));
    EXPECT_EQ(held.renewed, now + 60);
    Shelf other(folder(), "other-host", 78);
    ASSERT_TRUE(other.open(error));
    Shelf::Claim stale;
    stale.tape.label = "T4";
    stale.file = claimPath(folder(), "T4");
    stale.info = t4Owner;
    EXPECT_FALSE(other.finish(stale, TapeOutcome{}, error));
    EXPECT_EQ(state().find("T4")->state, TapeState::Claimed);
    EXPECT_EQ(state().find("T4")->host, "this-host");
}

// A working run keeps its claim fresh, and learns when it was taken over all the same.
TEST_F(ShelfFixture, TheRenewerKeepsTheClaimAndNoticesItsLoss)
{
    std::string error;
    const std::string file = claimPath(folder(), "T1");
    const ClaimInfo own{"this-host", ::getpid(), secondsNow() - 500};
    ASSERT_TRUE(createClaim(file, own, error)) << error;
    const auto waitFor = [](auto ready) {
        for (int i = 0; i < 1000 && !ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ready();
    };
    ClaimRenewer renewer(file, own, 1);
    ClaimInfo read;
    EXPECT_TRUE(waitFor([&] { return readClaim(file, read) && read.renewed > own.renewed; }));
    EXPECT_TRUE(read.sameOwner(own));
    EXPECT_FALSE(renewer.lost());
    ::unlink(file.c_str());
    ASSERT_TRUE(createClaim(file, {"other-host", 5, secondsNow()}, error));
    EXPECT_TRUE(waitFor([&] { return renewer.lost(); }));
    ASSERT_TRUE(readClaim(file, read));
    EXPECT_EQ(read.host, "other-host");
}

// Processes and threads started at once take tapes from one shelf: none is taken twice, none
// is left, and every update reaches the state file.
TEST_F(ShelfFixture, ParallelClaimsNeverTakeATapeTwice)
{
    constexpr int kTapes = 24, kProcesses = 3, kThreads = 2;
    std::string text;
    for (int i = 0; i < kTapes; ++i)
        text += "T" + std::to_string(i) + "\n";
    list(text);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::vector<std::thread> threads;
            std::vector<std::vector<std::string>> taken(kThreads);
            for (int t = 0; t < kThreads; ++t)
                threads.emplace_back([&, t] {
                    Shelf shelf(folder());
                    std::string error;
                    if (!shelf.open(error))
                        return;
                    Shelf::Claim c;
                    Shelf::Next next;
                    while ((next = shelf.claimNext(c, error)) == Shelf::Next::Claimed) {
                        taken[t].push_back(c.tape.label);
                        TapeOutcome o;
                        o.done = true;
                        o.programs = 1;
                        if (!shelf.finish(c, o, error))
                            taken[t].push_back("finish failed: " + error);
                    }
                    if (next == Shelf::Next::Failed)
                        taken[t].push_back("claim failed: " + error);
                });
            for (auto& th : threads)
                th.join();
            {
                std::ofstream out(dir.path() / ("taken-" + std::to_string(p)));
                for (const auto& labels : taken)
                    for (const auto& label : labels)
                        out << label << "\n";
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t c : children) {
        int status = 0;
        ::waitpid(c, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::map<std::string, int> count;
    for (int p = 0; p < kProcesses; ++p) {
        std::istringstream in(slurp(dir.path() / ("taken-" + std::to_string(p))));
        for (std::string line; std::getline(in, line);)
            ++count[line];
    }
    EXPECT_EQ(count.size(), static_cast<std::size_t>(kTapes));
    for (const auto& [label, n] : count)
        EXPECT_EQ(n, 1) << label;
    const ShelfState s = state();
    ASSERT_EQ(s.tapes.size(), static_cast<std::size_t>(kTapes));
    for (const TapeRecord& r : s.tapes) {
        EXPECT_EQ(r.state, TapeState::Done) << r.label;
        EXPECT_EQ(r.attempts, 1) << r.label;
    }
    // No claim and no temporary file is left behind.
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_TRUE(e.path().extension() != ".claim" && e.path().extension() != ".tmp") << e.path();
}

} // namespace
} // namespace tarnvel::shelf::test
