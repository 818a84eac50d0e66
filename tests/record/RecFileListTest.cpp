#include "record/RecFileList.h"

#include "app/Settings.h"
#include "common/MessageSink.h"
#include "formats/SampleImage.h"
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
        // Float samples other than 32 bits (0 bits made the block size 0).
        {"j.wav", 44100, 16, 2, 3, nullptr, " [44100 / F16]\n"},
        {"k.wav", 48000, 0, 2, 3, nullptr, " [48000 / F0]\n"},
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
    // A block size that does not follow from the channels and bits: no sample could be read.
    sink.messages.clear();
    WavFixture zeroAlign;
    zeroAlign.blockAlign = 0;
    zeroAlign.withFrames(4410);
    zeroAlign.write(dir.file("align.wav"));
    EXPECT_FALSE(list.registerFile(dir.file("align.wav")));
    EXPECT_EQ(texts(), std::vector<std::string>{"Unsupported format.\n [block size 0, not 4]\n\n" +
                                                dir.file("align.wav")});

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
    EXPECT_TRUE(sink.messages.empty());
    // The 100th file is refused with the limit and its name (a script must learn which).
    const std::string hundredth = wav("y.wav", 44100, 16, 1);
    EXPECT_FALSE(list.registerFile(hundredth));
    EXPECT_EQ(list.count(), 99);
    EXPECT_EQ(texts(), std::vector<std::string>{"A list holds at most 99 files.\n\n" + hundredth});
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
}

// Program numbers stay inside 0-799: numbering past 799 gives 0 (no START ID).
TEST_F(RecFileListTest, ProgramNumbersStopAt799)
{
    const std::string a = wav("a.wav", 44100, 16, 1);
    list.show({});
    list.setPNoStart(1000);
    EXPECT_EQ(list.pNoStart(), 799);
    list.setPNoStart(-4);
    EXPECT_EQ(list.pNoStart(), 0);
    list.setPNoStart(798);
    ASSERT_EQ(list.registerFiles({a, a, a}), 3);
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{"798", "799", "  0"}));
    EXPECT_EQ(list.pNoStart(), 0);
    list.setPNoStart(799);
    list.renumber();
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{"799", "  0", "  0"}));
    list.setPNoStart(798);
    list.applySettingsToCells(1, 3, 0, 0, true);
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{"798", "799", "  0"}));
    // The silence column holds three characters.
    list.setSilenceText("12345");
    EXPECT_EQ(list.silenceText(), "123");
}

TEST_F(RecFileListTest, SettingsComeFromTheSettingsRecord)
{
    app::Settings record;
    EXPECT_EQ(RecFileSettings::fromSettings(record), RecFileSettings{});
    EXPECT_EQ(RecFileSettings{}.postSilenceSec, 4);
    list.show();
    EXPECT_EQ(list.silenceText(), "4");
    EXPECT_TRUE(list.withSound());
    EXPECT_FALSE(list.autoEndId());

    record.DlgPreSilenceSec = 3;
    record.DlgPostSilenceSec = 7;
    record.DlgLongPlayMode = true;
    record.DlgEmphasis = true;
    record.DlgCopyBits = 2;
    record.RecAutoEndID = true;
    record.RecFromFileOnly = true;
    record.Dir = "/music/";
    const RecFileSettings s = RecFileSettings::fromSettings(record);
    list.show(s);
    EXPECT_EQ(list.preSilenceText(), "3");
    EXPECT_EQ(list.silenceText(), "7");
    EXPECT_TRUE(list.longPlay());
    EXPECT_EQ(list.emphasisText(), "On");
    EXPECT_EQ(list.copyText(), "Prohibit");
    EXPECT_FALSE(list.withSound());
    EXPECT_TRUE(list.autoEndId());
    app::Settings back;
    s.storeIn(back);
    EXPECT_EQ(back, record);
}

// OK: what is handed to the recording, the two questions, and when the dialog stays open.
TEST_F(RecFileListTest, OkHandsOverTheSourceAndAsksItsQuestions)
{
    std::vector<std::string> asked;
    bool answer = true;
    RecFileList dialog(sink, [&](const std::string& q) {
        asked.push_back(q);
        return answer;
    });
    const std::string disableAutoId =
        "Disable Auto ID function because of Record from Wave file.\n\n Are you sure?";
    const std::string noRewind = "Rewinding is not performed before recording Image file.\nIt "
                                 "may be created a tape with illegal format.\n\n Are you sure?";
    RecFileSettings s;
    s.preSilenceSec = 2;
    dialog.show(s);
    EXPECT_EQ(dialog.mode(), RecFileMode::WaveList);
    EXPECT_FALSE(dialog.ok(true, false)); // empty list
    EXPECT_EQ(texts(), std::vector<std::string>{"Please input file name."});
    EXPECT_EQ(dialog.cancel().mode, RecFileMode::Cancelled);

    const std::string a = wav("a.wav", 44100, 16, 1), b = wav("b.wav", 48000, 16, 1);
    dialog.registerFiles({a, b});
    dialog.setAutoEndId(true);
    auto d = dialog.ok(true, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->mode, RecFileMode::WaveList);
    EXPECT_EQ(d->recSourceName, a);
    EXPECT_FALSE(d->recFromFileOnly);
    EXPECT_TRUE(d->recAutoEndId);
    EXPECT_EQ(d->preSilenceSec, 2);
    EXPECT_TRUE(d->disableAutoId);
    EXPECT_EQ(asked, std::vector<std::string>{disableAutoId});
    EXPECT_TRUE(dialog.settings().recAutoEndId);
    EXPECT_EQ(dialog.nextFileEntry(true)->path, a); // the END ID follows the entries now
    dialog.nextFileEntry(false);
    EXPECT_EQ(dialog.nextFileEntry(false)->pno, 1111);

    // Cancel records nothing (the dialog stays open); without sound output (or without Auto
    // ID) nothing is asked.
    answer = false;
    EXPECT_FALSE(dialog.ok(true, false));
    asked.clear();
    dialog.setWithSound(false);
    d = dialog.ok(true, false);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->recFromFileOnly);
    EXPECT_TRUE(dialog.settings().recFromFileOnly);
    EXPECT_FALSE(d->disableAutoId);
    dialog.setWithSound(true);
    EXPECT_TRUE(dialog.ok(false, false));
    EXPECT_TRUE(asked.empty());

    // The image: a name is needed; Shift asks whether to record without rewinding.
    sink.messages.clear();
    dialog.setMode(RecFileMode::Image);
    EXPECT_FALSE(dialog.ok(false, false));
    EXPECT_EQ(texts(), std::vector<std::string>{"Please input file name."});
    dialog.setImageName(dir.file("tape.TVI"));
    d = dialog.ok(true, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->mode, RecFileMode::Image);
    EXPECT_EQ(d->recSourceName, dir.file("tape.TVI"));
    EXPECT_FALSE(d->imageWithoutRewind);
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(dialog.ok(false, true)); // answered Cancel: the dialog stays open
    answer = true;
    d = dialog.ok(false, true);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->imageWithoutRewind);
    EXPECT_EQ(asked, (std::vector<std::string>{noRewind, noRewind}));
    EXPECT_EQ(dialog.settings().imagePath, dir.file("tape.TVI"));

    // The next showing selects the last mode and the image name again.
    dialog.show(dialog.settings());
    EXPECT_EQ(dialog.mode(), RecFileMode::Image);
    EXPECT_EQ(dialog.imageName(), dir.file("tape.TVI"));

    EXPECT_EQ(RecFileList::unableToPlayText("Device error: gone"),
              "Unable to play.\n (Device error: gone)");
}

TEST_F(RecFileListTest, ImagePropertyAndDrop)
{
    const std::string image = dir.file("tape.TVI");
    ASSERT_TRUE(formats::writeSampleImage(image, 100, sink));
    list.show({});
    EXPECT_TRUE(list.dropImageFile(image));
    EXPECT_EQ(list.mode(), RecFileMode::Image);
    EXPECT_EQ(list.imageName(), image);
    EXPECT_EQ(list.imageStatusText(),
              "Frame: 100  00h00m03s00 ( 00h00m00s00 -  00h00m02s33)  Err: 0\n"
              "Comment:\nTarnvel sample image");
    list.setImageName(dir.file("none.TVI"));
    EXPECT_FALSE(list.showImageProperty());
    EXPECT_EQ(list.imageStatusText(), "Unable to open file or invalid format.");
    EXPECT_TRUE(sink.messages.empty()); // probing shows no message box
    list.dropFiles({});
    EXPECT_EQ(list.mode(), RecFileMode::WaveList);
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

// A list loaded from names only (no program numbers, times or formats) is saved and loaded
// back unchanged: an empty cell is never filled with the key after it.
TEST_F(RecFileListTest, CueFileRoundTripOfEmptyCells)
{
    const std::string a = wav("a.wav", 44100, 16, 61), b = wav("b.wav", 44100, 16, 5);
    const std::string names = dir.file("names.TVC");
    const std::string text = a + "\r\n" + b + "\r\n";
    WavFixture::writeBytes(names, {text.begin(), text.end()});
    list.show({});
    ASSERT_TRUE(list.loadCueFile(names));
    list.selectRow(2);
    list.setSilenceText("5");
    list.applySettingsToCells(2, 2, RecFileList::kSilence, RecFileList::kSilence, false);
    std::vector<RecFileList::Row> before;
    for (int r = 1; r <= list.count(); ++r)
        before.push_back(list.row(r));
    const std::string cue = dir.file("again.TVC");
    ASSERT_TRUE(list.saveCueFile(cue));
    ASSERT_TRUE(list.loadCueFile(cue));
    ASSERT_EQ(list.count(), 2);
    for (int r = 1; r <= 2; ++r)
        EXPECT_EQ(list.row(r), before[static_cast<std::size_t>(r - 1)]);
    EXPECT_EQ(list.row(2)[RecFileList::kSilence], "  5");
    EXPECT_TRUE(list.cueLoadComplete());
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

    // Program number BB (a file an archive began in the lead-in or without START IDs) loads as
    // a file without a START ID.
    ASSERT_TRUE(list.loadCueFile(
        writeCue("bb.TVC", a + "\r\n   PNo: BB\r\n   Time: 01m01s\r\n" + b + "\r\n   PNo: 2\r\n")));
    EXPECT_EQ(column(RecFileList::kPath), (std::vector<std::string>{a, b}));
    EXPECT_EQ(column(RecFileList::kPNo), (std::vector<std::string>{"  0", "  2"}));
    EXPECT_TRUE(list.cueLoadComplete());
    EXPECT_EQ(list.nextFileEntry(true)->pno, 0);

    // A missing second file ends reading: the first entry stays.
    const std::string missing = dir.file("gone.wav");
    ASSERT_TRUE(list.loadCueFile(writeCue("gone.TVC", a + "\r\n" + missing + "\r\n" + b + "\r\n")));
    EXPECT_EQ(column(RecFileList::kPath), std::vector<std::string>{a});
    EXPECT_FALSE(list.cueLoadComplete());
    EXPECT_EQ(texts(),
              std::vector<std::string>{"Unable to open file.\n [file not found]\n\n" + missing});

    // Nothing readable.
    sink.messages.clear();
    const std::string empty = writeCue("empty.TVC", "; Comment\r\n   Silence: 1\r\n");
    EXPECT_FALSE(list.loadCueFile(empty));
    EXPECT_EQ(texts(), std::vector<std::string>{"Unable to register file.\n\n" + empty});
    EXPECT_EQ(list.count(), 0);

    // Values outside the list's ranges: the entry is left out, and the lines are named.
    sink.messages.clear();
    const std::string ranges = writeCue(
        "ranges.TVC", a + "\r\n   PNo: 999\r\n" + b + "\r\n   Time: 00m05s   Silence: 5000\r\n" +
                          b + "\r\n   PNo: 2\r\n");
    ASSERT_TRUE(list.loadCueFile(ranges));
    EXPECT_FALSE(list.cueLoadComplete());
    EXPECT_EQ(column(RecFileList::kPNo), std::vector<std::string>{"  2"});
    EXPECT_EQ(texts(), std::vector<std::string>{"These lines of the cue file were refused:\n"
                                                "line 2: program number 999 is not 0-799; " +
                                                a +
                                                " was left out\n"
                                                "line 4: silence 5000 is not 0-999 seconds; " +
                                                b +
                                                " was left out"
                                                "\n\n" +
                                                ranges});
    ASSERT_TRUE(list.loadCueFile(writeCue("fine.TVC", a + "\r\n")));
    EXPECT_TRUE(list.cueLoadComplete());

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
