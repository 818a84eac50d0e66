#include "HelpText.h"
#include "support/TempDir.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tarnvel::packaging {
namespace {

// Runs a shell command; its standard output, or "" when it could not start.
std::string shell(const std::string& command)
{
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe == nullptr)
        return out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        out.append(buf.data(), n);
    pclose(pipe);
    return out;
}

const HelpEntry* option(const HelpCommand& c, const std::string& name)
{
    for (const HelpEntry& e : c.options)
        if (std::find(e.names.begin(), e.names.end(), name) != e.names.end())
            return &e;
    return nullptr;
}

// The layouts CLI11 prints: a name reaching the description column (or one that just fits,
// with a space where the column begins) pushes the description to the next line; remarks
// such as Needs: follow the value.
TEST(HelpPagesTest, ReadsEveryLayoutOfTheCommandLinesHelp)
{
    const std::string help = "Copy the tape\n"
                             "Usage: /x/tarnvel-cli archive [OPTIONS] BASE\n\n"
                             "Positionals:\n"
                             "  BASE TEXT REQUIRED          Base of the file names\n\n"
                             "Options:\n"
                             "  -h,--help                   Print this help message and exit\n"
                             "  --divide Excludes: --no-divide\n"
                             "                              A file per program number\n"
                             "  --frames TEXT Needs: --kind Frames A-B (from 0)\n"
                             "  --pre-silence INT:INT in [0 - 99]\n"
                             "                              Seconds before the first file\n"
                             "  --copy TEXT:Permit|Prohibit|Once\n"
                             "                              Copy bits\n"
                             "  --rate INT:{32000,44100}    Sampling rate\n"
                             "  --set TEXT ...              KEY=VALUE (repeatable)\n"
                             "  -y,--yes                    Answer Yes\n\n"
                             "Subcommands:\n"
                             "  new                         Make a cassette\n";
    const HelpCommand c = parseCommandHelp(help, {"archive"});
    EXPECT_EQ(c.description, "Copy the tape");
    EXPECT_EQ(c.usage, "archive [OPTIONS] BASE");
    ASSERT_EQ(c.positionals.size(), 1u);
    EXPECT_EQ(c.positionals[0].names, std::vector<std::string>{"BASE"});
    EXPECT_EQ(c.positionals[0].description, "Base of the file names");
    ASSERT_EQ(c.subcommands.size(), 1u);
    EXPECT_EQ(c.subcommands[0].path, (std::vector<std::string>{"archive", "new"}));
    EXPECT_EQ(c.subcommands[0].description, "Make a cassette");

    struct Expected {
        const char* name;
        const char* value;
        std::vector<std::string> choices;
        const char* description;
    };
    const Expected expected[] = {
        {"--help", "", {}, "Print this help message and exit"},
        {"--divide", "", {}, "A file per program number"},
        {"--frames", "TEXT", {}, "Frames A-B (from 0)"},
        {"--pre-silence", "INT:INT in [0 - 99]", {}, "Seconds before the first file"},
        {"--copy", "TEXT:Permit|Prohibit|Once", {"Permit", "Prohibit", "Once"}, "Copy bits"},
        {"--rate", "INT:{32000,44100}", {"32000", "44100"}, "Sampling rate"},
        {"--set", "TEXT", {}, "KEY=VALUE (repeatable)"},
        {"-y", "", {}, "Answer Yes"},
    };
    EXPECT_EQ(c.options.size(), std::size(expected));
    for (const Expected& x : expected) {
        SCOPED_TRACE(x.name);
        const HelpEntry* e = option(c, x.name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->value, x.value);
        EXPECT_EQ(e->choices, x.choices);
        EXPECT_EQ(e->description, x.description);
    }
    EXPECT_EQ(option(c, "-y")->names, (std::vector<std::string>{"-y", "--yes"}));

    const std::vector<HelpEntry> qt =
        parseQtOptions("Usage: ./tarnvel [options]\nTarnvel\n\nOptions:\n"
                       "  -h, --help      Displays help on commandline options.\n"
                       "  --drive <SPEC>  Drive to use: /dev/sgN or sim:CASSETTE (default: the\n"
                       "                  first audio drive found)\n");
    ASSERT_EQ(qt.size(), 2u);
    EXPECT_EQ(qt[0].names, (std::vector<std::string>{"-h", "--help"}));
    EXPECT_EQ(qt[1].value, "<SPEC>");
    EXPECT_EQ(qt[1].description,
              "Drive to use: /dev/sgN or sim:CASSETTE (default: the first audio drive found)");
}

TEST(HelpPagesTest, RoffTextKeepsRequestsAndEscapesOut)
{
    HelpEntry e;
    e.names = {"--no-divide"};
    e.description = ".TVI files, a \\ and --yes";
    const std::string roff = manOptionList({e}, true);
    EXPECT_EQ(roff, ".TP\n\\fB\\-\\-no\\-divide\\fR\n\\&.TVI files, a \\e and \\-\\-yes\n");
}

// The pages the build made from the real program render without a warning from man (the check
// lintian makes) and list the commands.
TEST(HelpPagesTest, TheManPagesRenderCleanly)
{
    std::vector<std::string> pages{TARNVEL_PACKAGING_BUILD "/man/tarnvel-cli.1"};
    if (std::filesystem::exists(TARNVEL_PACKAGING_BUILD "/man/tarnvel.1"))
        pages.push_back(TARNVEL_PACKAGING_BUILD "/man/tarnvel.1");
    for (const std::string& page : pages) {
        SCOPED_TRACE(page);
        ASSERT_TRUE(std::filesystem::exists(page));
        const std::string warnings =
            shell("LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z " +
                  page + " 2>&1 >/dev/null");
        EXPECT_EQ(warnings, "");
    }
    const std::string text =
        shell("LC_ALL=C.UTF-8 MANWIDTH=100 man -E ascii -l -P cat " + pages[0]);
    for (const char* line :
         {"tarnvel-cli sim demo [OPTIONS] FILE", "tarnvel-cli archive [OPTIONS] BASE", "--realtime",
          "--divide", "EXIT STATUS"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

// The completion the build made, sourced into bash and asked as bash asks it. Words come split
// as bash splits them ("--driver=p" is "--driver", "=", "p").
TEST(HelpPagesTest, TheCompletionOffersCommandsOptionsAndChoices)
{
    struct Case {
        std::vector<std::string> words;
        std::vector<std::string> offered; // sorted
    };
    const Case cases[] = {
        {{"sim", ""}, {"damage", "demo", "info", "new"}},
        {{"--drive", "x.tvs", "sim", "d"}, {"damage", "demo"}},
        {{"--drive", "sim", ":", "settings", "sim", "i"}, {"info"}},
        {{"--yes", "ver"}, {"verify"}},
        {{"-y", "--instance", "2", "settings", "p"}, {"path"}},
        {{"archive", "--d"}, {"--divide", "--drive"}},
        {{"devices", "--driver", ""}, {"alsa", "jack", "null", "pulse"}},
        {{"devices", "--driver", "=", "p"}, {"pulse"}},
        {{"record", "--rate", "4"}, {"44100", "48000"}},
        {{"sim", "demo", ""}, {}},
        {{"--ini", ""}, {}},
        {{"--drive", "sim", ":"}, {}},
    };
    tarnvel::test::TempDir dir;
    std::ofstream script(dir.file("cases.sh"));
    script << "source " << TARNVEL_PACKAGING_BUILD "/completion/tarnvel-cli\n"
           << "complete -p tarnvel-cli >/dev/null || echo 'not registered'\n";
    for (const Case& c : cases) {
        script << "COMP_WORDS=(tarnvel-cli";
        for (const std::string& w : c.words)
            script << " '" << w << "'";
        script << "); COMP_CWORD=" << c.words.size()
               << "; _tarnvel_cli; printf '%s\\n' \"${COMPREPLY[*]}\"\n";
    }
    script.close();
    std::istringstream replies(shell("bash --norc " + dir.file("cases.sh")));
    for (const Case& c : cases) {
        std::string line;
        ASSERT_TRUE(std::getline(replies, line));
        std::istringstream words(line);
        std::vector<std::string> offered{std::istream_iterator<std::string>(words), {}};
        std::sort(offered.begin(), offered.end());
        EXPECT_EQ(offered, c.offered) << "after: " << ::testing::PrintToString(c.words);
    }
    std::string rest;
    EXPECT_FALSE(std::getline(replies, rest)) << rest;

    // Every command the program's help lists, whatever was added since.
    std::istringstream help(shell(std::string(TARNVEL_CLI) + " --help"));
    std::vector<std::string> listed;
    bool inCommands = false;
    for (std::string line; std::getline(help, line);) {
        if (inCommands && line.rfind("  ", 0) == 0)
            listed.push_back(line.substr(2, line.find(' ', 2) - 2));
        inCommands = inCommands || line == "Subcommands:";
    }
    std::ofstream top(dir.file("top.sh"));
    top << "source " << TARNVEL_PACKAGING_BUILD "/completion/tarnvel-cli\n"
        << "COMP_WORDS=(tarnvel-cli ''); COMP_CWORD=1; _tarnvel_cli; "
           "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    top.close();
    std::istringstream topReplies(shell("bash --norc " + dir.file("top.sh")));
    std::vector<std::string> offered{std::istream_iterator<std::string>(topReplies), {}};
    ASSERT_GT(listed.size(), 20u);
    std::sort(listed.begin(), listed.end());
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, listed);
}

} // namespace
} // namespace tarnvel::packaging
