#include "app/SettingsFile.h"

#include "app/AppMessages.h"
#include "app/IniFile.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace tarnvel::app {
namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class SettingsFileTest : public ::testing::Test {
protected:
    SettingsLocation location() const
    {
        return {dir.file("TV.INI"), dir.path().string() + "/", true};
    }
    Settings loadFrom(const std::string& text)
    {
        writeText(dir.file("TV.INI"), text);
        SettingsFile file(location());
        return file.load(sink);
    }

    test::TempDir dir;
    CollectingMessageSink sink;
};

TEST_F(SettingsFileTest, NumbersOutOfRangeTakeTheDefaultAndBuffersAreAdjusted)
{
    struct Case {
        const char* key;
        const char* text;
        std::int32_t Settings::*field;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"PlayBufFrames", "33", &Settings::PlayBufFrames, 34},
        {"PlayBufFrames", "65", &Settings::PlayBufFrames, 32}, // out of range: default
        {"PlayBufFrames", "15", &Settings::PlayBufFrames, 32}, // not clamped to 16
        {"PlayBufFrames", "63", &Settings::PlayBufFrames, 64},
        {"RecBufFrames", "17", &Settings::RecBufFrames, 16},
        {"RecBufFrames", "18", &Settings::RecBufFrames, 20}, // halfway goes up
        {"RecBufFrames", "62", &Settings::RecBufFrames, 64},
        {"RecBufFrames", "12", &Settings::RecBufFrames, 64},
        {"EnglishMode", "", &Settings::EnglishMode, -1}, // empty: default
        {"EnglishMode", "-5", &Settings::EnglishMode, -1},
        {"EnglishMode", "2", &Settings::EnglishMode, 2},
        {"PlayThreadPriority", "1xyz", &Settings::PlayThreadPriority, 1}, // leading integer
        {"PlayThreadPriority", "abc", &Settings::PlayThreadPriority, 2},  // malformed: default
        {"PlayThreadPriority", "99999999999999999999999", &Settings::PlayThreadPriority, 2},
        {"PlayThreadPriority", " -2 ", &Settings::PlayThreadPriority, -2},
    };
    for (const Case& c : cases) {
        const Settings s = loadFrom(std::string("[Setting0]\n") + c.key + "=" + c.text + "\n");
        EXPECT_EQ(s.*c.field, c.expected) << c.key << "=" << c.text;
    }
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SettingsFileTest, AbsentEnglishModeIsMinusOneAlthoughOutsideItsRange)
{
    const Settings s = loadFrom("[Setting0]\nASPI=0\n");
    EXPECT_EQ(s.EnglishMode, -1);
    EXPECT_FALSE(s.ASPI);
}

TEST_F(SettingsFileTest, BooleansAndSmallIntegers)
{
    const Settings s = loadFrom("[Setting2]\nEnableErrorMute=0\nEnableSkipPlay=1\n"
                                "CreateWaveFileOnRec=2\nRecCopyBits=3\nRecEmphBits=7\n");
    EXPECT_FALSE(s.EnableErrorMute);
    EXPECT_TRUE(s.EnableSkipPlay);
    EXPECT_FALSE(s.CreateWaveFileOnRec); // 2 is outside 0..1: the default
    EXPECT_EQ(s.RecCopyBits, 3);
    EXPECT_EQ(s.RecEmphBits, 0);
}

TEST_F(SettingsFileTest, UnparseableColourShowsTheHexMessageOncePerKey)
{
    const Settings s = loadFrom("[ColorSet]\nPosMeterBackColor=zz\nWaveLineColor=0x00123456\n"
                                "WaveBackColor=255\nWaveFrameColor=0x80000000\n"
                                "WaveCharColor=0x1FFFFFFFF\n");
    EXPECT_EQ(static_cast<std::uint32_t>(s.PosMeterBackColor), 0x8000000Fu);
    EXPECT_EQ(s.WaveLineColor, 0x00123456);
    EXPECT_EQ(s.WaveBackColor, 255);
    EXPECT_EQ(s.WaveFrameColor, 0x002020D0); // below the lower bound: default, no message
    EXPECT_EQ(s.WaveCharColor, 0x0040FF40);  // too many digits: cannot be parsed
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].text, "Illegal hex value found in TV.INI.\nIt has processed as "
                                     "default value.\n\n zz");
    EXPECT_EQ(sink.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(sink.messages[0].caption.empty()); // the program title
    EXPECT_EQ(sink.messages[1].text.substr(sink.messages[1].text.size() - 13), "\n 0x1FFFFFFFF");
}

TEST_F(SettingsFileTest, DirectoriesAreNormalisedAndProbed)
{
    const std::string programDir = dir.path().string() + "/";
    std::filesystem::create_directory(dir.path() / "out");
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"", programDir},
        {dir.file("missing"), programDir},
        {dir.file("out"), programDir + "out/"},
        {dir.file("out") + "/", programDir + "out/"},
        {"out", programDir + "out/"},     // relative to the program's directory
        {dir.file("TV.INI"), programDir}, // a file, not a directory
    };
    for (const Case& c : cases) {
        const Settings s = loadFrom("[File]\nDir=" + c.text + "\nRecDir=" + c.text + "\n");
        EXPECT_EQ(s.Dir, c.expected) << c.text;
        EXPECT_EQ(s.RecDir, c.expected) << c.text;
    }
}

TEST_F(SettingsFileTest, FreshStartRoundTrips)
{
    SettingsFile first(location());
    const Settings loaded = first.load(sink);
    EXPECT_TRUE(first.newFile());
    EXPECT_EQ(loaded.Dir, dir.path().string() + "/");
    ASSERT_TRUE(first.save(loaded, sink));

    const std::string text = readText(dir.file("TV.INI"));
    EXPECT_NE(text.find("[ColorSet]\n;; ex. (Blue,Green,Red)=0x00112233\nPosMeterBackColor="
                        "0x8000000F\n"),
              std::string::npos);
    EXPECT_NE(text.find("TapeLengthPreset=46,60,90,120,180\n"), std::string::npos);
    EXPECT_NE(text.find("[Linux]\n"), std::string::npos);
    // Keys marked "no" are never written.
    EXPECT_EQ(text.find("EnglishMode"), std::string::npos);
    EXPECT_EQ(text.find("RecMonitorOn"), std::string::npos);

    SettingsFile second(location());
    const Settings again = second.load(sink);
    EXPECT_FALSE(second.newFile());
    EXPECT_EQ(again, loaded);
    ASSERT_TRUE(second.save(again, sink));
    EXPECT_EQ(readText(dir.file("TV.INI")), text); // the example line is written only once
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SettingsFileTest, ChangedValuesRoundTrip)
{
    SettingsFile file(location());
    Settings s = file.load(sink);
    s.Window.PosX = 120;
    s.Window.Maximized = "y";
    s.Window.Status = "  opaque text with = and ; ";
    s.RecSamplingFreq = 44100;
    s.RecCopyBits = 2;
    s.EnableAutoID = false;
    s.LevMeterBarPeakColor = static_cast<std::int32_t>(0x80000005u);
    s.TapeLengthPreset = "\"quoted\"";
    s.SimCassettes = "/tmp/a.tvs; /tmp/b.tvs";
    ASSERT_TRUE(file.save(s, sink));

    EXPECT_NE(readText(dir.file("TV.INI")).find("LevMeterBarPeakColor=0x80000005\n"),
              std::string::npos);
    SettingsFile reread(location());
    Settings back = reread.load(sink);
    s.Window.Maximized = "Y"; // written as "Y"
    EXPECT_EQ(back, s);
    EXPECT_EQ(reread.loadWindowValue(1), 120);
    EXPECT_EQ(reread.loadWindowValue(5), 2);
    EXPECT_EQ(reread.loadWindowValue(3), std::nullopt);
}

TEST_F(SettingsFileTest, SaveLeavesUnsavedKeysAndOtherLinesAsTheUserEditedThem)
{
    const std::string original = "; my notes\r\n[Setting0]\r\nEnglishMode=1\r\nASPI=1\r\n"
                                 "PlayBufFrames=48\r\n[Setting2]\r\nRecMonitorOn=1\r\n"
                                 "Use_WF_DIRECT = 1\r\nMyOwnKey=keep me\r\n";
    writeText(dir.file("TV.INI"), original);
    SettingsFile file(location());
    Settings s = file.load(sink);
    EXPECT_TRUE(s.RecMonitorOn);
    EXPECT_EQ(s.EnglishMode, 1);
    s.ASPI = false;
    s.RecMonitorOn = false; // changed in memory, but the save never writes it
    s.PlayBufFrames = 16;
    // The user edits the file by hand while the program runs.
    writeText(dir.file("TV.INI"), original + "[Setting3]\r\nDlgCopyBits=2\r\n");
    ASSERT_TRUE(file.save(s, sink));

    const std::string text = readText(dir.file("TV.INI"));
    EXPECT_EQ(text.rfind("; my notes\r\n[Setting0]\r\nEnglishMode=1\r\nASPI=0\r\n"
                         "PlayBufFrames=48\r\n",
                         0),
              0u);
    EXPECT_NE(text.find("RecMonitorOn=1\r\nUse_WF_DIRECT = 1\r\nMyOwnKey=keep me\r\n"),
              std::string::npos);
    // Saved keys are written from the record, so the hand edit of a saved key is replaced.
    EXPECT_NE(text.find("DlgCopyBits=0\r\n"), std::string::npos);
    EXPECT_EQ(text.find(";; ex."), std::string::npos); // not a new file
}

TEST_F(SettingsFileTest, OversizedFileIsReportedAndNeverOverwritten)
{
    writeText(dir.file("TV.INI"), "[Setting0]\nPlayBufFrames=48\n" + std::string(2 << 20, ';'));
    SettingsFile file(location());
    const Settings s = file.load(sink);
    EXPECT_EQ(s.PlayBufFrames, 32); // not read: defaults
    EXPECT_EQ(s.Dir, dir.path().string() + "/");
    EXPECT_FALSE(file.newFile());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_FALSE(file.save(s, sink));
    EXPECT_GT(std::filesystem::file_size(dir.file("TV.INI")), std::uintmax_t{2} << 20);
}

// A name that is not a readable regular file: reported, defaults used, never overwritten, and
// a FIFO is not waited on.
TEST_F(SettingsFileTest, NamesThatAreNotReadableFilesAreReportedAndKept)
{
    const std::string fifo = dir.file("fifo.INI");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {{fifo, "not a regular file"}, {dir.path().string(), "is a directory"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        sink.messages.clear();
        SettingsLocation loc = location();
        loc.iniPath = c.path;
        SettingsFile file(loc);
        const Settings s = file.load(sink);
        EXPECT_EQ(s, parseSettings("", loc.programDir, sink));
        EXPECT_TRUE(file.loadFailed());
        EXPECT_FALSE(file.newFile());
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text,
                  "Unable to read the settings file:\n\n" + c.path + "\n" + c.reason);
        EXPECT_FALSE(file.save(s, sink));
    }
    SettingsFile missing(location());
    missing.load(sink);
    EXPECT_TRUE(missing.newFile());
    EXPECT_FALSE(missing.loadFailed());
}

TEST_F(SettingsFileTest, TapeLengthChoicesAndCassetteList)
{
    EXPECT_EQ(tapeLengthChoices(""), (std::vector<int>{46, 60, 90, 120, 180}));
    EXPECT_EQ(tapeLengthChoices("30, 45 ,  90,bad,0,600,-5"), (std::vector<int>{30, 45, 90}));
    EXPECT_EQ(tapeLengthChoices("x"), (std::vector<int>{46, 60, 90, 120, 180}));
    EXPECT_EQ(tapeLengthBoxItems("90, 120"), (std::vector<std::string>{"Auto", "90", "120"}));
    EXPECT_EQ(simCassetteList(" a.tvs ;;/b c.tvs; "),
              (std::vector<std::string>{"a.tvs", "/b c.tvs"}));
}

TEST(SettingsLocationTest, BesideTheExecutableOrInTheConfigFolder)
{
    test::TempDir exe;
    const SettingsLocation beside = locateSettings(2, exe.path().string(), "", "/home/u");
    EXPECT_EQ(beside.iniPath, exe.file("TV_2.INI"));
    EXPECT_EQ(beside.programDir, exe.path().string() + "/");

    const std::string missing = exe.file("no-such-folder");
    const SettingsLocation xdg = locateSettings(1, missing, "/cfg", "/home/u");
    EXPECT_EQ(xdg.iniPath, "/cfg/tarnvel/TV.INI");
    EXPECT_EQ(xdg.programDir, "/home/u/");
    EXPECT_FALSE(xdg.besideExecutable);
    EXPECT_EQ(locateSettings(2, missing, "relative", "/home/u").iniPath,
              "/home/u/.config/tarnvel/TV_2.INI");
}

TEST(SettingsLocationTest, AnInstalledProgramKeepsItsSettingsInTheConfigFolder)
{
    test::TempDir root;
    const std::string cfg = root.file("cfg");
    const std::string home = root.file("home");
    struct Case {
        const char* exeDir;
        const char* buildTree; // holds a CMakeCache.txt
        bool installed;
    };
    const Case cases[] = {
        {"usr/bin", nullptr, true},        {"home/u/.local/bin/", nullptr, true},
        {"build/src/cli", "build", false}, {"tree/bin", "tree", false},
        {"tree/out/bin", "tree", false},   {"portable/tarnvel", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exeDir);
        const std::filesystem::path dir = root.path() / c.exeDir;
        std::filesystem::create_directories(dir);
        if (c.buildTree != nullptr)
            writeText(root.file(std::string(c.buildTree) + "/CMakeCache.txt"), "");
        // Writable, and already holding a file: an installed program still ignores it.
        writeText((dir / "TV.INI").string(), "");
        EXPECT_EQ(isInstalledProgramDir(dir.string()), c.installed);
        const SettingsLocation loc = locateSettings(1, dir.string(), cfg, home);
        EXPECT_EQ(loc.besideExecutable, !c.installed);
        if (c.installed) {
            EXPECT_EQ(loc.iniPath, cfg + "/tarnvel/TV.INI");
            EXPECT_EQ(loc.programDir, home + "/");
        } else {
            EXPECT_EQ(loc.iniPath, (dir.lexically_normal() / "TV.INI").string());
        }
    }
}

TEST(SettingsLocationTest, SaveCreatesTheConfigFolder)
{
    test::TempDir home;
    const SettingsLocation loc =
        locateSettings(1, home.file("no-such-folder"), home.file("cfg"), home.path().string());
    SettingsFile file(loc);
    CollectingMessageSink sink;
    const Settings s = file.load(sink);
    ASSERT_TRUE(file.save(s, sink));
    EXPECT_TRUE(std::filesystem::exists(home.path() / "cfg" / "tarnvel" / "TV.INI"));
}

TEST(IniFileTest, ReadingRules)
{
    const IniFile ini = IniFile::parse("top=ignored\n[A]\nkey = \"  spaced  \"\nKEY=second\n"
                                       "# comment=no\n[b]\nx=1\n[a]\nlater=2\ngarbage line\n");
    EXPECT_EQ(ini.get("A", "key"), "  spaced  ");
    EXPECT_EQ(ini.get("a", "later"), "2"); // a repeated section is read too
    EXPECT_EQ(ini.get("B", "X"), "1");
    EXPECT_EQ(ini.get("A", "# comment"), std::nullopt);
    EXPECT_EQ(ini.get("", "top"), std::nullopt);
    EXPECT_EQ(ini.get("C", "x"), std::nullopt);
}

TEST(IniFileTest, WritingKeepsEveryValueReadable)
{
    IniFile ini = IniFile::parse("[A]\nk=1\n\n[B]\n");
    for (const std::string v : {"plain", " lead", "trail ", "\"q\"", "a\nb", ""}) {
        ini.set("A", "k", v);
        EXPECT_EQ(IniFile::parse(ini.text()).get("A", "k"), v == "a\nb" ? "a b" : v);
    }
    ini.set("B", "new", "v");
    ini.set("C", "c", "w");
    EXPECT_EQ(ini.text(), "[A]\nk=\n\n[B]\nnew=v\n\n[C]\nc=w\n");
}

// New keys go after the last key of their section's last occurrence, wherever that is in the
// file, and every key is found again at once and after a reread.
TEST(IniFileTest, KeysSetInAnyOrderAreFoundWhereTheFileKeepsThem)
{
    IniFile ini = IniFile::parse("[A]\na=1\n[B]\nb=2\n; note\n[A]\nc=3\n");
    ini.set("A", "x", "9");
    ini.set("B", "y", "8"); // in the middle: the lines after it move
    ini.set("a", "A", "5"); // the existing key, whatever its case
    ini.set("C", "z", "7");
    ini.set("b", "w", "6");
    const std::string expected =
        "[A]\na=5\n[B]\nb=2\ny=8\nw=6\n; note\n[A]\nc=3\nx=9\n\n[C]\nz=7\n";
    EXPECT_EQ(ini.text(), expected);
    const std::pair<const char*, const char*> keys[] = {
        {"A", "a"}, {"A", "c"}, {"A", "x"}, {"B", "b"}, {"B", "y"}, {"B", "w"}, {"C", "z"}};
    const char* values[] = {"5", "3", "9", "2", "8", "6", "7"};
    const IniFile reread = IniFile::parse(ini.text());
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        SCOPED_TRACE(keys[i].second);
        EXPECT_EQ(ini.get(keys[i].first, keys[i].second), values[i]);
        EXPECT_EQ(reread.get(keys[i].first, keys[i].second), values[i]);
    }
}

} // namespace
} // namespace tarnvel::app
