#include "cli/CliSupport.h"

#include "cli/CliInterrupt.h"

#include "formats/WaveFileWriter.h"
#include "support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace tarnvel::cli {
namespace {

namespace fs = std::filesystem;

TEST(Printable, EscapesControlBytesAndKeepsText)
{
    struct Case {
        std::string in;
        bool keepLineBreaks;
        std::string out;
    };
    const Case cases[] = {
        {"plain text \xE6\x97\xA5\xE6\x9C\xAC", false, "plain text \xE6\x97\xA5\xE6\x9C\xAC"},
        {"\x1B]0;title\x07", false, "\\x1B]0;title\\x07"},
        {"a\rb\tc\x7F", false, "a\\x0Db\tc\\x7F"},
        {"one\ntwo", false, "one\\x0Atwo"},
        {"one\ntwo", true, "one\ntwo"},
        {std::string("nul\0byte", 8), false, "nul\\x00byte"},
        // U+009B (the 8-bit CSI) as UTF-8; U+00A9 stays.
        {"\xC2\x9B"
         "2J \xC2\xA9",
         false, "\\xC2\\x9B2J \xC2\xA9"},
        {"C:\\music\\take.wav", false, "C:\\music\\take.wav"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(printable(c.in, c.keepLineBreaks), c.out) << c.in;
}

class StagedFileTest : public ::testing::Test {
protected:
    static void write(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> list;
        for (const auto& e : fs::directory_iterator(dir.path()))
            list.push_back(e.path().filename().string());
        std::sort(list.begin(), list.end());
        return list;
    }
    test::TempDir dir;
};

TEST_F(StagedFileTest, CommitMovesTheFileAndItsContinuationsOverTheTargets)
{
    write(dir.file("take.WAV"), "old");
    write(dir.file("take_1.WAV"), "old 1");
    {
        StagedFile staged(dir.file("take.WAV"), &formats::WaveFileWriter::splitFileName);
        ASSERT_TRUE(staged.ok()) << staged.errorText();
        EXPECT_EQ(fs::path(staged.path()).parent_path(), dir.path());
        EXPECT_TRUE(formats::WaveFileWriter::hasWavExtension(staged.path()));
        EXPECT_EQ(read(dir.file("take.WAV")), "old"); // nothing touched before the commit
        write(staged.path(), "new");
        write(formats::WaveFileWriter::splitFileName(staged.path(), 1), "new 1");
        write(formats::WaveFileWriter::splitFileName(staged.path(), 2), "new 2");
        EXPECT_TRUE(staged.commit(2));
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"take.WAV", "take_1.WAV", "take_2.WAV"}));
    EXPECT_EQ(read(dir.file("take.WAV")), "new");
    EXPECT_EQ(read(dir.file("take_1.WAV")), "new 1");
    EXPECT_EQ(read(dir.file("take_2.WAV")), "new 2");
}

TEST_F(StagedFileTest, WithoutCommitTheTargetStaysAndNothingIsLeftBehind)
{
    write(dir.file("take.WAV"), "old");
    {
        StagedFile staged(dir.file("take.WAV"), &formats::WaveFileWriter::splitFileName);
        ASSERT_TRUE(staged.ok());
        write(staged.path(), "new");
        write(formats::WaveFileWriter::splitFileName(staged.path(), 1), "new 1");
    }
    EXPECT_EQ(names(), std::vector<std::string>{"take.WAV"});
    EXPECT_EQ(read(dir.file("take.WAV")), "old");

    StagedFile nowhere(dir.file("missing/take.WAV"));
    EXPECT_FALSE(nowhere.ok());
    EXPECT_NE(nowhere.errorText().find("missing/take.WAV"), std::string::npos);
}

// A command catches the signal before it starts a run whose follower opens a scope of its own:
// a signal in between stays seen, and the handler stays until the outer scope ends.
TEST(InterruptScope, AnInnerScopeJoinsTheOuterOne)
{
    InterruptScope outer;
    EXPECT_FALSE(interrupted());
    std::raise(SIGTERM);
    ASSERT_TRUE(interrupted());
    {
        InterruptScope inner;
        EXPECT_TRUE(interrupted());
        EXPECT_EQ(interruptExitCode(), 128 + SIGTERM);
    }
    // The first signal was taken by the handler (one-shot); the scope is still the outer one.
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL);
    EXPECT_TRUE(interrupted());
}

} // namespace
} // namespace tarnvel::cli
