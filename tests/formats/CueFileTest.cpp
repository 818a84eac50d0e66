#include "formats/CueFile.h"

#include "common/MessageSink.h"
#include "formats/LineReader.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarnvel::formats {
namespace {

using test::TempDir;
using test::WavFixture;

std::string fileText(const std::string& path)
{
    const auto bytes = WavFixture::readBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> linesOf(const std::string& text, std::size_t maxChars)
{
    std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    LineReader reader(f, maxChars);
    std::vector<std::string> lines;
    for (std::string line; reader.next(line);)
        lines.push_back(line);
    std::fclose(f);
    return lines;
}

std::vector<CueRecord> readAll(const std::string& text, std::optional<std::string>* pre = nullptr)
{
    std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    CueReader reader;
    reader.attach(f);
    std::vector<CueRecord> records;
    while (auto r = reader.next())
        records.push_back(*r);
    if (pre != nullptr)
        *pre = reader.preSilence();
    std::fclose(f);
    return records;
}

TEST(LineReader, CutsLongLinesAndDropsWhatFollowsTheLastLineFeed)
{
    const std::string a400(400, 'a');
    EXPECT_EQ(linesOf(a400 + "\r\n", 360),
              (std::vector<std::string>{std::string(360, 'a'), std::string(40, 'a')}));
    EXPECT_EQ(linesOf("one\r\n\r\n\ntwo\nrest", 360), (std::vector<std::string>{"one", "two"}));
    // A CR LF that straddles the cut ends the line; no empty or CR-only line follows.
    EXPECT_EQ(linesOf(std::string(9, 'b') + "\r\nc\n", 10),
              (std::vector<std::string>{std::string(9, 'b'), "c"}));
    EXPECT_EQ(linesOf(std::string(10, 'b') + "\r\nc\n", 10),
              (std::vector<std::string>{std::string(10, 'b'), "c"}));
    EXPECT_EQ(linesOf("", 360), std::vector<std::string>{});
}

// Every format text of the list reads back as itself; the file holds the long forms.
TEST(CueFile, RoundTripOfEveryFormatText)
{
    TempDir dir;
    const std::vector<CueEntry> entries = {
        {"/music/a.wav", "  1", "03m00s", "44100", "Off", "Permit", "  4"},
        {"/music/b.wav", "  2", "01m02s", "32000 LP", "On", "Prohibit", "  0"},
        {"/music/c d.wav", " 12", "120m00s", "48000 / 24", "Off", "Once", " 10"},
        {"/music/e.wav", "799", "00m01s", "48000 / F32", "On", "Permit", "  1"},
        {"/music/f.wav", "  3", "00m09s", "44100 / 32", "Off", "Permit", "  2"},
        {"/music/g.wav", "  4", "00m07s", "96000", "Off", "Permit", "  0"},
    };
    const std::string path = dir.file("CUE.TVC");
    CollectingMessageSink sink;
    ASSERT_TRUE(writeCueFile(path, 2, entries, sink));
    EXPECT_TRUE(sink.messages.empty());
    const std::string text = fileText(path);
    EXPECT_NE(text.find("; Comment\r\n   Silence: 2\r\n"
                        "/music/a.wav\r\n"
                        "   PNo: 1    Format: 44100 / 16 (16)        Copy: Permit\r\n"
                        "   Time: 03m00s   Silence: 4\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("   PNo: 2    Format: 32000 / 16 (LP)  Emph  Copy: Prohibit\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("   PNo: 12   Format: 48000 / 24 (24)        Copy: Once\r\n"
                        "   Time: 120m00s   Silence:10\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Format: 48000 / F32 (24)"), std::string::npos);
    EXPECT_NE(text.find("Format: 44100 / 32 (24)"), std::string::npos);

    std::optional<std::string> pre;
    const auto records = readAll(text, &pre);
    EXPECT_EQ(pre, "2");
    ASSERT_EQ(records.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].path);
        const CueRecord& r = records[i];
        EXPECT_FALSE(r.failed);
        EXPECT_EQ(r.path, entries[i].path);
        EXPECT_EQ(r.pno, entries[i].pno);
        EXPECT_EQ(r.time, entries[i].time);
        EXPECT_EQ(r.format, entries[i].format);
        EXPECT_EQ(r.emph.value_or("Off"), entries[i].emph);
        EXPECT_EQ(r.copy, entries[i].copy);
        EXPECT_EQ(r.silence, entries[i].silence);
    }
}

TEST(CueFile, AttributeLines)
{
    struct Case {
        const char* line;
        bool ok;
        std::optional<std::string> pno, format, time, silence;
        const char* problem = "";
    };
    const Case cases[] = {
        // An empty value is never filled with the key after it.
        {"   PNo:     Format: 44100 / 16 (16)        Copy: Permit", true, {}, "44100", {}, {}},
        {"   Time:    Silence: 5", true, {}, {}, {}, "  5"},
        // Files an archive began in the lead-in, at the END or without a START ID: no ID.
        {"   PNo: BB   Format: 44100 / 16 (16)", true, "  0", "44100", {}, {}},
        {"   PNo: EE", true, "  0", {}, {}, {}},
        {"   PNo: --", true, "  0", {}, {}, {}},
        {"   PNo: -7", true, "  0", {}, {}, {}},
        {"   PNo: 799", true, "799", {}, {}, {}},
        // Values outside the list's ranges fail the line with the reason.
        {"   PNo: 800", false, {}, {}, {}, {}, "program number 800 is not 0-799"},
        {"   PNo: 999", false, {}, {}, {}, {}, "program number 999 is not 0-799"},
        {"   Time: 00m01s   Silence: 999", true, {}, {}, "00m01s", "999"},
        {"   Time: 00m01s   Silence: 1000",
         false,
         {},
         {},
         {},
         {},
         "silence 1000 is not 0-999 seconds"},
        {"   Silence: 99999999999",
         false,
         {},
         {},
         {},
         {},
         "silence 99999999999 is not 0-999 seconds"},
        {"   Silence: -1", false, {}, {}, {}, {}, "silence -1 is not 0-999 seconds"},
        {"   Silence: 5s", false, {}, {}, {}, {}, "silence 5s is not 0-999 seconds"},
        {"   Format: 32000 / 12", true, {}, "32000 LP", {}, {}},
        {"   Format: 44100", true, {}, "44100", {}, {}},
        {"   Format: 48000 / 24 (LP)", true, {}, "48000 / 24 LP", {}, {}},
        {"   Time: 01h05m30s   Silence:3", true, {}, {}, "65m30s", "  3"},
        {"   Time: 7m5s", true, {}, {}, "07m5s", {}},
        {"   Time: 99h59m00s", true, {}, {}, "5999m00s", {}},
        {"   Time: 99999999999h00m00s", true, {}, {}, "999999999m00s", {}},
        {"   Unknown: words Silence", true, {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CueRecord r;
        std::optional<std::string> pre;
        std::string problem;
        EXPECT_EQ(parseCueAttributes(c.line, &r, pre, &problem), c.ok);
        EXPECT_EQ(problem, c.problem);
        if (!c.ok)
            continue;
        EXPECT_EQ(r.pno, c.pno);
        EXPECT_EQ(r.format, c.format);
        EXPECT_EQ(r.time, c.time);
        EXPECT_EQ(r.silence, c.silence);
        EXPECT_FALSE(pre);
    }
}

TEST(CueFile, ReaderGroupsLinesIntoEntries)
{
    const std::string text = "; Comment\r\n   Silence: 3\r\n"
                             "/a.wav\r\n"
                             "   PNo: 900  Format: 44100 / 16 (16)\r\n"
                             "   Time: 00m10s   Silence: 9\r\n" // skipped: the entry failed
                             "; a comment between\r\n"
                             "/b.wav\r\n"
                             "/c.wav\r\n"
                             "   Emph  Copy: Once\r\n";
    std::optional<std::string> pre;
    const auto records = readAll(text, &pre);
    EXPECT_EQ(pre, "3");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].path, "/a.wav");
    EXPECT_TRUE(records[0].failed);
    EXPECT_EQ(records[1].path, "/b.wav");
    EXPECT_FALSE(records[1].failed);
    EXPECT_FALSE(records[1].pno || records[1].time || records[1].format || records[1].emph);
    EXPECT_EQ(records[2].emph, "On");
    EXPECT_EQ(records[2].copy, "Once");
}

// Entries with empty cells (no program number, no time: a list loaded from names only) come
// back as they were written.
TEST(CueFile, EmptyCellsSurviveTheRoundTrip)
{
    TempDir dir;
    const std::vector<CueEntry> entries = {
        {"/music/a.wav", "", "", "44100", "Off", "Permit", "  5"},
        {"/music/b.wav", "  7", "", "", "On", "Once", "  0"},
    };
    const std::string path = dir.file("CUE.TVC");
    CollectingMessageSink sink;
    ASSERT_TRUE(writeCueFile(path, 0, entries, sink));
    const std::string text = fileText(path);
    EXPECT_NE(text.find("   Time:    Silence: 5\r\n"), std::string::npos) << text;
    const auto records = readAll(text);
    ASSERT_EQ(records.size(), 2u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].path);
        const CueRecord& r = records[i];
        EXPECT_FALSE(r.failed);
        EXPECT_EQ(r.pno.value_or(""), entries[i].pno);
        EXPECT_EQ(r.time.value_or(""), entries[i].time);
        EXPECT_EQ(r.format.value_or(""), entries[i].format);
        EXPECT_EQ(r.silence, entries[i].silence);
        EXPECT_EQ(r.copy, entries[i].copy);
    }
}

// Lines refused for their values are noted with their line numbers; "BB" is a file without a
// START ID, not a refusal.
TEST(CueFile, ReaderNotesRefusedLines)
{
    const std::string text = "; Comment\r\n   Silence: 500\r\n"
                             "/a.wav\r\n"
                             "   PNo: 999  Format: 44100 / 16 (16)\r\n"
                             "\r\n"
                             "/b.wav\r\n"
                             "   PNo: BB\r\n"
                             "/c.wav\r\n"
                             "   PNo: 3\r\n"
                             "   Time: 00m01s   Silence: 4000\r\n";
    std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    CueReader reader;
    reader.attach(f);
    std::vector<CueRecord> records;
    while (auto r = reader.next())
        records.push_back(*r);
    std::fclose(f);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[0].failed && records[2].failed);
    EXPECT_FALSE(records[1].failed);
    EXPECT_EQ(records[1].pno, "  0");
    EXPECT_FALSE(reader.preSilence());
    EXPECT_EQ(reader.problems(),
              (std::vector<std::string>{
                  "line 2: silence 500 is not 0-99 seconds",
                  "line 4: program number 999 is not 0-799; /a.wav was left out",
                  "line 10: silence 4000 is not 0-999 seconds; /c.wav was left out"}));
}

// A list moved with its files still loads: relative paths are taken from the cue file's folder,
// absolute ones stay as they are.
TEST(CueFile, RelativePathsAreTakenFromTheCueFilesFolder)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("moved/sub"));
    const std::string text = "a.wav\r\nsub/../b.wav\r\n/abs/c.wav\r\n";
    const std::string path = dir.file("moved/CUE.TVC");
    std::ofstream(path, std::ios::binary) << text;
    CollectingMessageSink sink;
    CueReader reader;
    ASSERT_TRUE(reader.open(path, sink));
    std::vector<std::string> paths;
    while (auto r = reader.next())
        paths.push_back(r->path);
    EXPECT_EQ(paths, (std::vector<std::string>{dir.file("moved/a.wav"), dir.file("moved/b.wav"),
                                               "/abs/c.wav"}));
    // A stream has no folder: the paths stay as written.
    EXPECT_EQ(readAll(text)[0].path, "a.wav");
}

TEST(CueFile, WriterFailures)
{
    TempDir dir;
    CollectingMessageSink sink;
    const CueEntry good{"/a.wav", "  1", "00m01s", "44100", "Off", "Permit", "  0"};
    EXPECT_FALSE(writeCueFile(dir.file("no/such/folder/CUE.TVC"), 0, {good}, sink));
    for (const std::string& bad : {std::string(" lead.wav"), std::string(";x.wav"),
                                   std::string("/a\nb.wav"), "/" + std::string(360, 'x')}) {
        CueEntry e = good;
        e.path = bad;
        EXPECT_FALSE(writeCueFile(dir.file("bad.TVC"), 0, {good, e}, sink));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.TVC")));
    const std::string fifoOut = dir.file("out.TVC");
    ASSERT_EQ(mkfifo(fifoOut.c_str(), 0600), 0);
    EXPECT_FALSE(writeCueFile(fifoOut, 0, {good}, sink)); // refused, not waited on
    ASSERT_EQ(sink.messages.size(), 6u);
    EXPECT_EQ(sink.messages[5].text, "Unable to create file.  (not a regular file)\n\n" + fifoOut);
    EXPECT_EQ(sink.messages[0].text, "Unable to create file.  (No such file or directory)\n\n" +
                                         dir.file("no/such/folder/CUE.TVC"));
    EXPECT_EQ(sink.messages[1].text, "This file name cannot be stored in a cue file.\n\n lead.wav");

    CueReader reader;
    EXPECT_FALSE(reader.open(dir.file("missing.TVC"), sink));
    EXPECT_EQ(sink.messages.back().text, "Unable to open file.\n\n" + dir.file("missing.TVC"));
    EXPECT_FALSE(reader.next());
    const std::string fifo = dir.file("fifo.TVC");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(reader.open(fifo, sink)); // must not wait for a writer
    EXPECT_EQ(sink.messages.back().text, "Unable to open file.  (not a regular file)\n\n" + fifo);
}

} // namespace
} // namespace tarnvel::formats
