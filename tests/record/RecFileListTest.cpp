#include "record/RecFileList.h"

#include "common/MessageSink.h"
#include "formats/WaveFormat.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tarnvel::record {
namespace {

using test::TempDir;
using test::WavFixture;

class RecFileListTest : public ::testing::Test {
protected:
    // A WAV file of `seconds` seconds (zeros, sparse on disk).
    std::string wav(const std::string& name, std::uint32_t rate, std::uint16_t bits, double seconds,
                    std::uint16_t channels = 2, std::uint16_t tag = 1)
    {
        WavFixture f;
        f.rate = rate;
        f.bits = bits;
        f.channels = channels;
        f.tag = tag;
        const auto bytes = static_cast<std::uint64_t>(seconds * rate) * channels * bits / 8;
        f.claimedDataSize = static_cast<std::int64_t>(bytes);
        const std::string path = dir.file(name);
        f.write(path);
        std::filesystem::resize_file(path, 44 + bytes);
        return path;
    }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& m : sink.messages)
            out.push_back(m.text);
        return out;
    }

    std::vector<std::string> column(int c) const
    {
        std::vector<std::string> out;
        for (int r = 1; r <= list.count(); ++r)
            out.push_back(list.row(r)[static_cast<std::size_t>(c)]);
        return out;
    }

    TempDir dir;
    CollectingMessageSink sink;
    RecFileList list{sink};
};

TEST_F(RecFileListTest, RegisteringChecksTheFormat)
{
    struct Case {
        const char* name;
        std::uint32_t rate;
        std::uint16_t bits, channels, tag;
        const char* formatText; // accepted: column 3
        const char* complaints; // refused
    };
    const Case cases[] = {
        {"a.wav", 44100, 24, 2, 1, "44100 / 24", nullptr},
        {"b.wav", 48000, 16, 2, 1, "48000", nullptr},
        {"c.wav", 48000, 32, 2, 3, "48000 / F32", nullptr},
        {"d.wav", 96000, 16, 2, 1, "96000", nullptr},
        {"e.wav", 44100, 32, 2, 1, "44100 / 32", nullptr},
        {"f.wav", 32000, 24, 2, 1, nullptr, " [32000 / 24]\n"},
        {"g.wav", 48000, 16, 1, 1, nullptr, " [Not Stereo]\n"},
        {"h.wav", 96000, 32, 2, 3, nullptr, " [96000 / F32]\n"},
        {"i.wav", 22050, 8, 1, 1, nullptr, " [22050 / 8]\n [Not Stereo]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink.messages.clear();
        const int before = list.count();
        const std::string path = wav(c.name, c.rate, c.bits, 1.0, c.channels, c.tag);
        if (c.formatText != nullptr) {
            EXPECT_TRUE(list.registerFile(path));
            EXPECT_TRUE(sink.messages.empty());
            EXPECT_EQ(list.row(list.count())[RecFileList::kFormat], c.formatText);
        } else {
            EXPECT_FALSE(list.registerFile(path));
            EXPECT_EQ(list.count(), before);
            EXPECT_EQ(texts(), std::vector<std::string>{std::string("Unsupported format.\n") +
                                                        c.complaints + "\n" + path});
        }
    }
    sink.messages.clear();
    const std::string missing = dir.file("missing.wav");
    EXPECT_FALSE(list.registerFile(missing));
    EXPECT_EQ(texts(),
              std::vector<std::string>{"Unable to open file.\n [file not found]\n\n" + missing});
    EXPECT_EQ(list.settings().dir, dir.path().string() + "/");
}

TEST_F(RecFileListTest, RowTextsAndTheHundredthFile)
{
    list.show({});
    list.setEmphasisText("On");
    list.setCopyText("Once");
    list.setSilenceText("4");
    const std::string path = wav("x.wav", 44100, 16, 2.5); // 2.5 s rounds to 3
    ASSERT_TRUE(list.registerFile(path));
    const RecFileList::Row expected = {"  1", path, "00m03s", "44100", "On", "Once", "  4", path};
    EXPECT_EQ(list.row(1), expected);
    EXPECT_EQ(list.pNoStart(), 2);
    EXPECT_EQ(list.selectedRow(), 1);

    for (int i = 2; i <= RecFileList::kMaxEntries; ++i)
        ASSERT_TRUE(list.registerFile(path));
    EXPECT_EQ(list.row(99)[RecFileList::kPNo], " 99");
    EXPECT_FALSE(list.registerFile(path));
    EXPECT_EQ(list.count(), 99);
    EXPECT_TRUE(sink.messages.empty()); // refused without a message
}

TEST_F(RecFileListTest, TotalRecTimeCountsTapeTime)
{
    RecFileSettings s;
    s.preSilenceSec = 2;
    s.postSilenceSec = 4;
    list.show(s);
    EXPECT_EQ(list.totalRecTime(), "00m00s");
    const std::string a = wav("a.wav", 44100, 16, 180);
    list.registerFiles({a, a});
    EXPECT_EQ(list.totalRecTime(), "06m10s");

    list.deleteAll();
    const std::string hi = wav("hi.wav", 96000, 16, 180);
    list.registerFiles({hi, hi});
    EXPECT_EQ(list.totalRecTime(), "12m20s");

    // Long play only for 32000 Hz 16-bit entries, which then count half.
    list.deleteAll();
    list.setPreSilenceText("0");
    list.setSilenceText("0");
    list.setLongPlay(true);
    list.registerFiles({wav("lp.wav", 32000, 16, 100), a});
    EXPECT_EQ(column(RecFileList::kFormat), (std::vector<std::string>{"32000 LP", "44100"}));
    EXPECT_EQ(list.totalRecTime(), "03m50s");
    // The pre-silence counts with the tape factor of the first entry.
    list.setPreSilenceText("10");
    EXPECT_EQ(list.totalRecTime(), "03m55s");
}

TEST_F(RecFileListTest, EditingTheList)
{
    const std::string a = wav("a.wav", 44100, 16, 1), b = wav("b.wav", 32000, 16, 1),
                      c = wav("c.wav", 48000, 24, 1);
    list.show({});
    ASSERT_EQ(list.registerFiles({a, b, c}), 3);

    list.selectRow(1);
    EXPECT_FALSE(list.moveUp());
    EXPECT_TRUE(list.moveDown());
    EXPECT_EQ(list.selectedRow(), 2);
    EXPECT_EQ(column(RecFileList::kPath), (std::vector<std::string>{b, a, c}));
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{"  2", "  1", "  3"}));
    list.selectRow(3);
    EXPECT_FALSE(list.moveDown());
    EXPECT_TRUE(list.moveUp());
    EXPECT_EQ(column(RecFileList::kPath), (std::vector<std::string>{b, c, a}));

    list.setPNoStart(5);
    list.renumber();
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{"  5", "  6", "  7"}));

    // Double-click: the settings go to the selected cells; Shift numbers the rows on.
    list.setPNoStart(20);
    list.setEmphasisText("On");
    list.setCopyText("Prohibit");
    list.setSilenceText("7");
    list.setLongPlay(true);
    EXPECT_FALSE(list.applySettingsToCells(1, 5, 0, 6, true));
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{" 20", " 21", " 22"}));
    EXPECT_EQ(column(RecFileList::kFormat),
              (std::vector<std::string>{"32000 LP", "48000 / 24", "44100"}));
    EXPECT_EQ(column(RecFileList::kEmph), (std::vector<std::string>{"On", "On", "On"}));
    EXPECT_EQ(column(RecFileList::kCopy),
              (std::vector<std::string>{"Prohibit", "Prohibit", "Prohibit"}));
    EXPECT_EQ(column(RecFileList::kSilence), (std::vector<std::string>{"  7", "  7", "  7"}));
    EXPECT_FALSE(list.applySettingsToCells(2, 3, 0, 0, false));
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{" 20", " 20", " 20"}));
    list.setLongPlay(false);
    list.applySettingsToCells(1, 1, 3, 3, false);
    EXPECT_EQ(list.row(1)[RecFileList::kFormat], "32000");
    EXPECT_TRUE(list.applySettingsToCells(2, 2, 1, 1, false)); // play that file
    EXPECT_FALSE(list.applySettingsToCells(2, 3, 1, 1, false));

    list.selectRow(3);
    list.deleteSelected();
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.selectedRow(), 2);
    list.deleteAll();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.totalRecTime(), "00m00s");
    EXPECT_FALSE(list.readyToRecord());
    EXPECT_EQ(texts(), std::vector<std::string>{"Please input file name."});
}

TEST_F(RecFileListTest, NextFileEntryEndsWithTheEndIdWhenAsked)
{
    const std::string a = wav("a.wav", 32000, 16, 1);
    RecFileSettings s;
    s.recAutoEndId = true;
    s.longPlayMode = true;
    s.emphasis = true;
    s.copyBits = 3;
    s.postSilenceSec = 2;
    list.show(s);
    list.setPNoStart(0); // no START IDs
    list.registerFiles({a, a});
    for (int run = 0; run < 2; ++run) {
        auto e = list.nextFileEntry(true);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->path, a);
        EXPECT_EQ(e->pno, 0);
        EXPECT_TRUE(e->longPlay);
        EXPECT_TRUE(e->emphasis);
        EXPECT_EQ(e->copyBits, 3);
        EXPECT_EQ(e->silenceSec, 2);
        ASSERT_TRUE(list.nextFileEntry(false));
        auto end = list.nextFileEntry(false);
        ASSERT_TRUE(end);
        EXPECT_EQ(end->path, " END ID");
        EXPECT_EQ(end->pno, 1111);
        EXPECT_FALSE(end->longPlay);
        EXPECT_EQ(end->silenceSec, 0);
        EXPECT_FALSE(list.nextFileEntry(false));
        EXPECT_FALSE(list.nextFileEntry(false));
    }
    list.deleteAll();
    EXPECT_FALSE(list.nextFileEntry(true)); // an empty list gets no END ID
}

TEST_F(RecFileListTest, CueFileRoundTrip)
{
    const std::string a = wav("a.wav", 44100, 16, 61), b = wav("b.wav", 32000, 16, 5),
                      c = wav("c.wav", 48000, 32, 3, 2, 3);
    RecFileSettings s;
    s.preSilenceSec = 3;
    list.show(s);
    list.setLongPlay(true);
    list.registerFiles({a, b, c});
    list.selectRow(2);
    list.setEmphasisText("On");
    list.setCopyText("Once");
    list.setSilenceText("9");
    list.applySettingsToCells(2, 2, 4, 6, false);
    std::vector<RecFileList::Row> before;
    for (int r = 1; r <= list.count(); ++r)
        before.push_back(list.row(r));
    const std::string total = list.totalRecTime();

    const std::string cue = dir.file("CUE.TVC");
    ASSERT_TRUE(list.saveCueFile(cue));
    list.deleteAll();
    list.setPreSilenceText("0");
    ASSERT_TRUE(list.loadCueFile(cue));
    EXPECT_TRUE(sink.messages.empty());
    ASSERT_EQ(list.count(), 3);
    for (int r = 1; r <= 3; ++r)
        EXPECT_EQ(list.row(r), before[static_cast<std::size_t>(r - 1)]);
    EXPECT_EQ(list.preSilenceText(), "3");
    EXPECT_EQ(list.totalRecTime(), total);
    EXPECT_EQ(list.pNoStart(), 4);
    EXPECT_EQ(list.selectedRow(), 1);
    EXPECT_EQ(list.cueFilePath(), cue);
}

TEST_F(RecFileListTest, CueFileFromOtherSources)
{
    const std::string a = wav("a.wav", 44100, 16, 61), b = wav("b.wav", 44100, 16, 5);
    auto writeCue = [&](const std::string& name, const std::string& text) {
        const std::string path = dir.file(name);
        WavFixture::writeBytes(path, {text.begin(), text.end()});
        return path;
    };
    // Names only: defaults, and nothing counts in the total.
    ASSERT_TRUE(list.loadCueFile(writeCue("names.TVC", a + "\r\n" + b + "\r\n")));
    const RecFileList::Row bare = {"", a, "", "", "Off", "Permit", "  0", a};
    EXPECT_EQ(list.row(1), bare);
    EXPECT_EQ(list.totalRecTime(), "00m00s");

    // Program number BB drops that entry; the others load.
    ASSERT_TRUE(list.loadCueFile(
        writeCue("bb.TVC", a + "\r\n   PNo: BB\r\n   Time: 01m01s\r\n" + b + "\r\n   PNo: 2\r\n")));
    EXPECT_EQ(column(RecFileList::kPath), std::vector<std::string>{b});
    EXPECT_EQ(column(RecFileList::kPNo), std::vector<std::string>{"  2"});

    // A missing second file ends reading: the first entry stays.
    const std::string missing = dir.file("gone.wav");
    ASSERT_TRUE(list.loadCueFile(writeCue("gone.TVC", a + "\r\n" + missing + "\r\n" + b + "\r\n")));
    EXPECT_EQ(column(RecFileList::kPath), std::vector<std::string>{a});
    EXPECT_EQ(texts(),
              std::vector<std::string>{"Unable to open file.\n [file not found]\n\n" + missing});

    // Nothing readable.
    sink.messages.clear();
    const std::string empty = writeCue("empty.TVC", "; Comment\r\n   Silence: 1\r\n");
    EXPECT_FALSE(list.loadCueFile(empty));
    EXPECT_EQ(texts(), std::vector<std::string>{"Unable to register file.\n\n" + empty});
    EXPECT_EQ(list.count(), 0);

    // Dropping: WAV files are registered, anything else is read as a cue file.
    sink.messages.clear();
    list.dropFiles({a, writeCue("drop.tvc", b + "\r\n"), a});
    EXPECT_EQ(column(RecFileList::kPath), std::vector<std::string>{b});
    EXPECT_FALSE(list.dropImageFile(dir.file("tape.img")));
    EXPECT_TRUE(list.dropImageFile(dir.file("tape.tvi")));
    EXPECT_EQ(texts(),
              std::vector<std::string>{"File extent is not 'TVI'.\n\n" + dir.file("tape.img")});
}

} // namespace
} // namespace tarnvel::record
