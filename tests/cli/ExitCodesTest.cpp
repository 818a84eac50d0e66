// The manual's table of exit codes against what every command it names does: a run that fails,
// a command line that cannot be carried out, and what Ctrl-C or SIGTERM does to a long run.
#include "cli/CliRunner.h"
#include "support/WavFixture.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace tarnvel::cli::test {
namespace {

namespace fs = std::filesystem;
using tarnvel::test::TempDir;
using tarnvel::test::WavFixture;

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> list;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        list.push_back(w);
    return list;
}

// What a signal does to a command, as the table's last column says it.
enum class OnSignal { EndsProgram, ExitZero, ExitWithSignal };

struct ManualRow {
    bool neverFails = false;
    OnSignal onSignal = OnSignal::EndsProgram;
};

// The commands of the table under "### Exit codes", each with what its row says.
std::map<std::string, ManualRow> manualTable()
{
    const std::string manual = slurp(std::string(TARNVEL_TEST_DATA) + "/../../docs/manual.md");
    std::map<std::string, ManualRow> rows;
    const std::size_t start = manual.find("\n### Exit codes\n");
    if (start == std::string::npos)
        return rows;
    std::istringstream lines(manual.substr(start + 1));
    std::string line;
    std::getline(lines, line); // the heading
    while (std::getline(lines, line) && line.rfind("#", 0) != 0) {
        if (line.rfind("| `", 0) != 0)
            continue;
        std::vector<std::string> cells;
        std::istringstream in(line.substr(1));
        for (std::string cell; std::getline(in, cell, '|');)
            cells.push_back(cell);
        if (cells.size() < 3)
            continue;
        ManualRow row;
        row.neverFails = cells[1].find("never") != std::string::npos;
        if (cells[2].find("exit 128 + signal") != std::string::npos)
            row.onSignal = OnSignal::ExitWithSignal;
        else if (cells[2].find("exit 0") != std::string::npos)
            row.onSignal = OnSignal::ExitZero;
        else if (cells[2].find("ends the program") == std::string::npos)
            ADD_FAILURE() << "no outcome in " << line;
        for (std::size_t at = cells[0].find('`'); at != std::string::npos;) {
            const std::size_t end = cells[0].find('`', at + 1);
            rows[cells[0].substr(at + 1, end - at - 1)] = row;
            at = cells[0].find('`', end + 1);
        }
    }
    return rows;
}

// A folder with the cassettes, files and runtime folder the commands use.
class ExitCodes : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string run = dir.file("run");
        fs::create_directory(run);
        fs::permissions(run, fs::perms::owner_all);
        // The link's sockets live here: no other test's instance is found.
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        for (const char* setUp :
             {"sim demo demo.tvs", "sim demo rec.tvs", "sim demo serve.tvs",
              "sim new blank.tvs --minutes 5", "sim new new.tvs --minutes 5",
              "image make-sample tape.TVI --frames 3000", "sim new tape.tvs --from-image tape.TVI"})
            ASSERT_EQ(runCli(dir, words(setUp)).exitCode, 0) << setUp;
        WavFixture a;
        a.rate = 48000;
        a.withFrames(4800);
        a.write(dir.file("a.wav"));
        WavFixture mono = a;
        mono.channels = 1;
        mono.write(dir.file("mono.wav"));
        WavFixture longer = a;
        longer.withFrames(48000 * 60);
        longer.write(dir.file("long.wav"));
    }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    TempDir dir;
};

TEST_F(ExitCodes, EveryCommandOfTheTableFailsWithOneAndRefusesABadCommandLineWithTwo)
{
    const std::map<std::string, ManualRow> manual = manualTable();
    ASSERT_FALSE(manual.empty()) << "no exit code table in the manual";
    const struct {
        const char* command; // as the manual's table names it
        const char* args;
        int exitCode;
    } cases[] = {
        {"drives", "--drive sim:none.tvs drives", 1},
        {"status", "--drive sim:none.tvs status", 1},
        {"load", "--drive sim:none.tvs load", 1},
        {"eject", "--drive sim:none.tvs eject", 1},
        {"rewind", "--drive sim:none.tvs rewind", 1},
        {"position", "--drive sim:none.tvs position", 1},
        {"read", "--drive sim:blank.tvs read", 1},
        {"locate", "--drive sim:demo.tvs locate --pno 9", 1},
        {"search", "--drive sim:demo.tvs search --pno 9", 1},
        {"next", "--drive sim:none.tvs next", 1},
        {"prev", "--drive sim:none.tvs prev", 1},
        {"ff", "--drive sim:none.tvs ff", 1},
        {"rew", "--drive sim:none.tvs rew", 1},
        {"play", "--drive sim:blank.tvs play --fast", 1},
        {"record --wav", "--drive sim:demo.tvs record --wav mono.wav", 1},
        {"record --cue", "--drive sim:demo.tvs record --cue none.TVC", 1},
        {"record --image", "--drive sim:demo.tvs record --image none.TVI", 1},
        {"record --input", "--drive sim:demo.tvs record --input --driver null --device 99", 1},
        {"lead-in", "--drive sim:blank.tvs lead-in", 1},
        {"write-id", "--drive sim:demo.tvs write-id skip", 1},
        {"erase-id", "--drive sim:demo.tvs erase-id", 1},
        {"archive", "--drive sim:none.tvs archive x", 1},
        {"image create", "--drive sim:none.tvs image create x.TVI", 1},
        {"copy-to-peer", "--drive sim:demo.tvs copy-to-peer", 1},
        {"serve", "--instance 2 --drive sim:none.tvs serve", 1},
        {"verify", "verify none.log", 1},
        {"image info", "image info none.TVI", 1},
        {"image dump", "image dump none.TVI", 1},
        {"image repair", "image repair none.TVI", 1},
        {"image make-sample", "image make-sample tape.TVI", 1},
        {"cue make", "cue make x.TVC mono.wav", 1},
        {"sim new", "sim new demo.tvs", 1},
        {"sim demo", "sim demo demo.tvs", 1},
        {"sim damage", "sim damage none.tvs --write-fail-at 5", 1},
        {"sim info", "sim info none.tvs", 1},
        {"wav info", "wav info none.wav", 1},
        {"cue show", "cue show none.TVC", 1},
        {"vid show", "vid show none.TVV", 1},
        {"vid add", "vid add run start 1 --at 00:00:01:00", 1},
        {"vid erase", "vid erase none.TVV --at 00:00:01:00", 1},
        {"vid renumber", "vid renumber none.TVV", 1},
        {"vid copy-from-tape", "--drive sim:none.tvs vid copy-from-tape v.TVV", 1},
        {"settings show", "settings show --ini none.INI", 1},
        {"settings path", "settings path", 0},
        {"devices", "devices --driver null", 0},
        {"formats", "formats --device 99 --driver null", 1},
        {"play-wav", "play-wav none.wav --driver null", 1},
        {"record-wav", "record-wav x.txt --driver null --seconds 1", 1},
    };
    std::set<std::string> covered;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        covered.insert(c.command);
        const auto row = manual.find(c.command);
        ASSERT_NE(row, manual.end()) << c.command << " is not in the manual's table";
        if (row->second.neverFails) {
            EXPECT_EQ(c.exitCode, 0);
        }
        CliResult r = runCli(dir, words(c.args));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        if (c.exitCode != 0) {
            EXPECT_FALSE((r.out + r.err).empty()) << "failed without a word";
        }
        // The command's own words with an option it does not know.
        std::string usage;
        for (const std::string& w : words(c.command)) {
            if (w.rfind("--", 0) == 0)
                break;
            usage += w + " ";
        }
        r = runCli(dir, words(usage + "--no-such-option"));
        EXPECT_EQ(r.exitCode, 2) << usage << "\n" << r.err;
    }
    for (const auto& [command, row] : manual)
        EXPECT_TRUE(covered.count(command)) << command << " of the manual's table is not run";
}

TEST_F(ExitCodes, InterruptionsEndEachCommandAsTheTableSays)
{
    const std::map<std::string, ManualRow> manual = manualTable();
    ASSERT_FALSE(manual.empty()) << "no exit code table in the manual";
    const struct {
        const char* command;
        const char* args;
        int signal;
        const char* readyText; // in the output when the run is under way
        const char* readyFile; // or: this file has grown past 4 MB
    } cases[] = {
        {"read", "--realtime --drive sim:demo.tvs read --count 2000", SIGINT, "00h", nullptr},
        {"play", "--realtime --drive sim:demo.tvs play --device null", SIGTERM, "[Play]", nullptr},
        {"record --wav", "--realtime --drive sim:rec.tvs --yes record --wav long.wav", SIGINT,
         "[Record]", nullptr},
        {"record --input", "--drive sim:rec.tvs record --input --driver null", SIGTERM, "[Record]",
         nullptr},
        {"lead-in", "--realtime --drive sim:new.tvs --yes lead-in", SIGINT, "Writing Lead-in",
         nullptr},
        {"archive", "--realtime --drive sim:tape.tvs archive concert", SIGTERM, "concert", nullptr},
        {"image create", "--realtime --drive sim:tape.tvs image create copy.TVI", SIGINT, "00h",
         nullptr},
        {"serve", "--instance 2 --drive sim:serve.tvs serve", SIGINT, "waits", nullptr},
        {"image make-sample", "image make-sample big.TVI --frames 100000", SIGTERM, nullptr,
         "big.TVI"},
        {"vid copy-from-tape", "--realtime --drive sim:demo.tvs vid copy-from-tape v.TVV", SIGINT,
         "[Play]", nullptr},
        {"play-wav", "play-wav long.wav --driver null", SIGINT, "00m", nullptr},
        {"record-wav", "record-wav take.WAV --driver null --seconds 600", SIGTERM, "00m", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto row = manual.find(c.command);
        ASSERT_NE(row, manual.end()) << c.command << " is not in the manual's table";
        CliProcess p(dir, words(c.args));
        ASSERT_TRUE(waitFor([&] {
            if (c.readyFile != nullptr) {
                std::error_code ec;
                return fs::file_size(dir.file(c.readyFile), ec) > 4'000'000 && !ec;
            }
            return (slurp(dir.file("out.txt")) + slurp(dir.file("err.txt"))).find(c.readyText) !=
                   std::string::npos;
        }));
        p.signal(c.signal);
        const CliResult r = p.wait();
        switch (row->second.onSignal) {
        case OnSignal::EndsProgram:
            EXPECT_EQ(r.signal, c.signal) << r.exitCode << "\n" << r.err;
            break;
        case OnSignal::ExitZero:
            EXPECT_EQ(r.exitCode, 0) << "signal " << r.signal << "\n" << r.err;
            break;
        case OnSignal::ExitWithSignal:
            EXPECT_EQ(r.exitCode, 128 + c.signal) << "signal " << r.signal << "\n" << r.err;
            break;
        }
    }
    // The lead-in was written to its end before the program ended; the stopped copy of the IDs
    // wrote no list.
    EXPECT_NE(runCli(dir, words("sim info new.tvs")).out.find("frames 0-241 (242 frames"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir.file("v.TVV")));
}

} // namespace
} // namespace tarnvel::cli::test
