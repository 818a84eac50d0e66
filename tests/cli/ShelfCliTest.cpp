// A shelf of simulated cassettes archived by two processes, one of them killed in the middle of
// a tape and started again.
#include "cli/CliRunner.h"
#include "shelf/ShelfState.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace tarnvel::cli::test {
namespace {

namespace fs = std::filesystem;
using tarnvel::test::TempDir;

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> list;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        list.push_back(w);
    return list;
}

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The largest WAV file in a folder (0 when there is none).
std::uintmax_t largestWav(const fs::path& folder)
{
    std::uintmax_t size = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().extension() == ".WAV")
            size = std::max(size, e.file_size(ec));
    return size;
}

class ShelfCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(tapes);
        fs::create_directories(shelf);
        // Short tapes: two programs, 36 seconds.
        ASSERT_EQ(cli("image make-sample sample.TVI --frames 1200").exitCode, 0);
        for (const char* label : {"T1", "T2", "T3", "T4", "T6"})
            ASSERT_EQ(
                cli("sim new " + tape(label) + " --minutes 1 --from-image sample.TVI").exitCode, 0)
                << label;
        // Damaged: frames of programs 1 and 2 read back interpolated.
        ASSERT_EQ(cli("sim damage " + tape("T3") + " --frames 300-340 --kind both").exitCode, 0);
        ASSERT_EQ(cli("sim damage " + tape("T3") + " --frames 1000-1010 --kind left").exitCode, 0);
        // Blank: never recorded.
        ASSERT_EQ(cli("sim new " + tape("T5") + " --minutes 1").exitCode, 0);
        std::ofstream(shelf / "shelf.txt") << "# six tapes\nT1\nT2 --no-divide\nT3\nT4\nT5\nT6\n";
    }
    std::string tape(const std::string& label) const { return (tapes / (label + ".tvs")).string(); }
    CliResult cli(const std::string& args) { return runCli(work, words(args)); }
    std::string runArgs(int instance, bool realtime) const
    {
        return "--instance " + std::to_string(instance) + (realtime ? " --realtime" : "") +
               " shelf run " + shelf.string() + " --cassettes " + tapes.string();
    }

    TempDir work, first, second;
    fs::path tapes = work.path() / "tapes";
    fs::path shelf = work.path() / "shelf";
};

// The label of the first "Tape N of 6: LABEL" line, or empty.
std::string tapeStarted(const std::string& out)
{
    for (std::size_t at = out.find(" of 6: T"); at != std::string::npos;
         at = out.find(" of 6: T", at + 1)) {
        if (at >= 6 && out.compare(at - 6, 5, "Tape ") == 0 &&
            std::isdigit(static_cast<unsigned char>(out[at - 1])) && at + 8 < out.size() &&
            std::isdigit(static_cast<unsigned char>(out[at + 8])))
            return out.substr(at + 7, 2);
    }
    return {};
}

TEST_F(ShelfCommandLine, TwoDrivesOneKilledEveryTapeArchivedOnce)
{
    // The first drive at deck speed, so that it is surely in the middle of its tape when killed.
    auto a = std::make_unique<CliProcess>(first, words(runArgs(1, true)));
    CliProcess b(second, words(runArgs(2, false)));
    std::string killed;
    ASSERT_TRUE(waitFor([&] {
        if (killed.empty())
            killed = tapeStarted(slurp(first.file("out.txt")));
        return !killed.empty() && largestWav(shelf / killed) > 200'000;
    })) << slurp(first.file("out.txt"))
        << slurp(first.file("err.txt"));
    a->signal(SIGKILL);
    EXPECT_EQ(a->wait().signal, SIGKILL);
    a.reset();

    const CliResult rb = b.wait();
    EXPECT_EQ(rb.exitCode, 1) << rb.out << rb.err; // the blank tape failed
    // Started again: whatever is left, the killed tape at least when the other did not take it
    // over first, is done now.
    const CliResult ra = runCli(first, words(runArgs(1, false)));
    EXPECT_EQ(ra.exitCode, 0) << ra.out << ra.err;
    const std::string all = rb.out + ra.out;

    // The killed tape's partial output is kept aside, the tape done again from its start.
    const fs::path aside = shelf / (killed + ".incomplete-1");
    EXPECT_GT(largestWav(aside), 200'000u);
    EXPECT_EQ(count(all, "taken over from host"), 1) << all;
    EXPECT_EQ(count(all, "kept in " + killed + ".incomplete-1"), 1) << all;
    std::size_t asideFolders = 0;
    for (const auto& e : fs::directory_iterator(shelf))
        asideFolders += e.path().filename().string().find(".incomplete-") != std::string::npos;
    EXPECT_EQ(asideFolders, 1u);

    // Every tape but the blank one archived exactly once, and its archive verifies.
    const std::string state = slurp((shelf / "shelf.json").string());
    for (const char* label : {"T1", "T2", "T3", "T4", "T6"}) {
        SCOPED_TRACE(label);
        const std::string done = std::string("Tape ") + label + " done";
        const int times = count(all, done) + count(slurp(first.file("out.txt")), done);
        EXPECT_EQ(count(all, done), 1) << all;
        EXPECT_LE(times, 1); // the killed run never finished its tape
        const CliResult v =
            cli("verify " + (shelf / label / (std::string(label) + ".log")).string());
        EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
        EXPECT_FALSE(fs::exists(shelf / (std::string(label) + ".claim")));
    }
    EXPECT_NE(state.find("\"attempts\": 2"), std::string::npos) << state; // the killed tape
    EXPECT_EQ(count(state, "\"attempts\": 1"), 5) << state;
    // One file for the tape listed with --no-divide.
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(shelf / "T2"))
        files += e.path().extension() == ".WAV";
    EXPECT_EQ(files, 1u);
    const std::size_t t3 = state.find("\"label\": \"T3\"");
    ASSERT_NE(t3, std::string::npos) << state;
    const std::string t3Entry = state.substr(t3, state.find('}', t3) - t3);
    const std::size_t errors = t3Entry.find("\"errorFrames\": ");
    ASSERT_NE(errors, std::string::npos) << t3Entry;
    EXPECT_NE(t3Entry[errors + 15], '0') << t3Entry; // the damaged tape

    // The blank tape failed with its reason; status names it and says not everything is done.
    const CliResult st = cli("shelf status " + shelf.string());
    EXPECT_EQ(st.exitCode, 1);
    const std::size_t t5 = st.out.find("\nT5 ");
    ASSERT_NE(t5, std::string::npos) << st.out;
    const std::string t5Line = st.out.substr(t5 + 1, st.out.find('\n', t5 + 1) - t5 - 1);
    EXPECT_NE(t5Line.find(" failed "), std::string::npos) << t5Line;
    EXPECT_NE(t5Line.find("Nothing was archived"), std::string::npos) << t5Line;
    EXPECT_NE(st.out.find("6 tapes: 5 done, 1 failed, 0 left"), std::string::npos) << st.out;
    EXPECT_NE(st.out.find("1 tape with errors"), std::string::npos) << st.out;
    const CliResult js = cli("shelf status --json " + shelf.string());
    EXPECT_EQ(js.exitCode, 1);
    EXPECT_NE(js.out.find("\"tapesWithErrors\": 1"), std::string::npos) << js.out;

    // Nothing is done twice: a further run finds no tape; --redo does one again on purpose,
    // its earlier archive kept.
    const CliResult again = cli("shelf run " + shelf.string() + " --cassettes " + tapes.string());
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(count(again.out, "Tape "), 0) << again.out;
    const CliResult redo =
        cli("shelf run " + shelf.string() + " --cassettes " + tapes.string() + " --redo T4");
    EXPECT_EQ(redo.exitCode, 0) << redo.out << redo.err;
    EXPECT_EQ(count(redo.out, "Tape T4 done"), 1) << redo.out;
    EXPECT_TRUE(fs::exists(shelf / "T4.previous-1" / "T4.log"));
    EXPECT_EQ(cli("verify " + (shelf / "T4" / "T4.log").string()).exitCode, 0);
}

// Killed at random moments again and again, a shelf is never left with a state file that does
// not read or with a done tape whose archive does not verify, and it still ends with every tape
// done once.
TEST_F(ShelfCommandLine, KilledAtAnyMomentTheStateAndTheArchivesStayIntact)
{
    std::ofstream(shelf / "shelf.txt") << "T1\nT2\nT3\n";
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> moment(0, 4000);
    const std::string run = "shelf run " + shelf.string() + " --cassettes " + tapes.string();
    const auto checkIntact = [&] {
        shelf::ShelfState state;
        std::string error;
        ASSERT_TRUE(shelf::readStateFile((shelf / "shelf.json").string(), state, error)) << error;
        for (const shelf::TapeRecord& t : state.tapes)
            if (t.state == shelf::TapeState::Done) {
                const CliResult v =
                    cli("verify " + (shelf / t.label / (t.label + ".log")).string());
                EXPECT_EQ(v.exitCode, 0) << t.label << "\n" << v.out << v.err;
            }
    };
    for (int i = 0; i < 5; ++i) {
        CliProcess p(first, words(run));
        std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
        p.signal(SIGKILL);
        p.wait();
        checkIntact();
    }
    const CliResult last = runCli(first, words(run));
    EXPECT_EQ(last.exitCode, 0) << last.out << last.err;
    checkIntact();
    shelf::ShelfState state;
    std::string error;
    ASSERT_TRUE(shelf::readStateFile((shelf / "shelf.json").string(), state, error)) << error;
    ASSERT_EQ(state.tapes.size(), 3u);
    for (const shelf::TapeRecord& t : state.tapes)
        EXPECT_EQ(t.state, shelf::TapeState::Done) << t.label;
    for (const auto& e : fs::directory_iterator(shelf))
        EXPECT_NE(e.path().extension(), ".claim") << e.path();
}

// With a drive, each tape is asked for by name, and a tape found in the drive is not taken
// for it; Ctrl-C while waiting puts the tape back.
TEST_F(ShelfCommandLine, WithADriveEachTapeIsAskedForByName)
{
    std::ofstream(shelf / "shelf.txt") << "T1\nT2\n";
    CliProcess p(first, words("--drive sim:" + tape("T2") + " shelf run " + shelf.string()));
    ASSERT_TRUE(waitFor([&] {
        return slurp(first.file("out.txt"))
                   .find("Insert tape T1 and close the drive (Ctrl-C "
                         "ends the shelf.)") != std::string::npos;
    })) << slurp(first.file("out.txt"))
        << slurp(first.file("err.txt"));
    p.signal(SIGINT);
    const CliResult r = p.wait();
    EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("The drive holds a tape: ejecting it."), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(shelf / "T1" / "T1.log"));
    const CliResult st = cli("shelf status " + shelf.string());
    EXPECT_NE(st.out.find("T1     pending  (interrupted)"), std::string::npos) << st.out;
}

TEST_F(ShelfCommandLine, ABadListStartsNothing)
{
    std::ofstream(shelf / "shelf.txt") << "T1\nT2 --image\n";
    const CliResult r = cli("shelf run " + shelf.string() + " --cassettes " + tapes.string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("line 2: T2: --image is not offered"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(shelf / "T1"));
    EXPECT_FALSE(fs::exists(shelf / "shelf.json"));
}

} // namespace
} // namespace tarnvel::cli::test
