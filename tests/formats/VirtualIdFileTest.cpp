#include "formats/VirtualIdFile.h"

#include "common/MessageSink.h"
#include "dat/TapeTracker.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarnvel::formats {
namespace {

using test::TempDir;
using test::WavFixture;

constexpr dat::TimeCode kT1{0x00, 0x01, 0x02, 0x03};
constexpr dat::TimeCode kT2{0x00, 0x02, 0x00, 0x00};
constexpr dat::TimeCode kT3{0x00, 0x10, 0x00, 0x00};

class VirtualIdFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& text)
    {
        const std::string path = dir.file(name);
        WavFixture::writeBytes(path, {text.begin(), text.end()});
        return path;
    }
    std::vector<std::string> lines(const dat::IdTable& table)
    {
        std::vector<std::string> out;
        for (const IdListRow& row : buildIdListRows(table))
            out.push_back(virtualIdLine(row));
        return out;
    }

    TempDir dir;
    CollectingMessageSink sink;
    dat::RecSubcodeState rec;
    std::atomic<bool> virtualMode{false};
    dat::TapeTracker tracker{rec, virtualMode};
};

TEST_F(VirtualIdFileTest, RowTexts)
{
    dat::IdTable table;
    int guard = 0;
    table.addId(dat::IdTable::Kind::Tape, 1, true, 62, kT1, guard);
    table.addId(dat::IdTable::Kind::Tape, 888, true, 120, kT2, guard);
    table.addId(dat::IdTable::Kind::Tape, 999, true, 200, {0x00, 0x03, 0x20, 0x9A}, guard);
    table.setEnd(dat::IdTable::Kind::Tape, kT3, true, 600, guard);
    const auto rows = buildIdListRows(table);
    ASSERT_EQ(rows.size(), 4u);
    const std::vector<std::array<std::string, 5>> expected = {
        {" 1", " START", "   1", " 00h01m02s03", "    62"},
        {" 2", " START", "   -", " 00h02m00s00", "   120"},
        {" 3", " SKIP", "", " --h--m--s--", "   200"},
        {" 4", " END", "", " 00h10m00s00", "   600"},
    };
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ((std::array<std::string, 5>{rows[i].no, rows[i].id, rows[i].pno, rows[i].absTime,
                                              rows[i].sec}),
                  expected[i]);
    EXPECT_TRUE(rows[3].end);
}

TEST_F(VirtualIdFileTest, ThreeLineExampleRoundTrip)
{
    tracker.addId(5, true, true, 62, kT1);
    tracker.addId(999, true, true, 120, kT2);
    tracker.setEnd(kT3, true, true, 600);
    const std::string path = dir.file("V_ID.TVV");
    ASSERT_TRUE(writeVirtualIdFile(path, buildIdListRows(tracker.table(true)), sink));
    const auto bytes = WavFixture::readBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "; No. ID   PNo.  ABS Time     (sec)\r\n"
                                                       "   1 START   5  00h01m02s03     62\r\n"
                                                       "   2 SKIP       00h02m00s00    120\r\n"
                                                       "   3 END        00h10m00s00    600\r\n");

    dat::RecSubcodeState rec2;
    dat::TapeTracker other(rec2, virtualMode);
    other.addId(7, true, true, 1000, kT3); // replaced by the file
    EXPECT_EQ(readVirtualIdFile(path, other, sink), VirtualIdLoad::Loaded);
    EXPECT_EQ(lines(other.table(true)), lines(tracker.table(true)));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(VirtualIdFileTest, MalformedLinesAreSkipped)
{
    const std::string path = write("x.TVV", "; No. ID   PNo.  ABS Time     (sec)\r\n"
                                            "   0 START   1  00h00m10s00     10\r\n"
                                            "   1 START   2\r\n"
                                            "   2 START   3  00h00m30s00\r\n"
                                            "   3 SKIP\r\n"
                                            "   4 OTHER   4  00h00m40s00     40\r\n"
                                            "   5 START 800  00h00m50s00     50\r\n"
                                            "   x START   6  00h00m55s00     55\r\n"
                                            "   6 START   -  00h01m00s00     60\r\n"
                                            "   7 START   9  00h02m00s00    120\r\n"
                                            "   8 START   9  00h03m00s00    180\r\n"
                                            "no line feed at the end");
    EXPECT_EQ(readVirtualIdFile(path, tracker, sink), VirtualIdLoad::Loaded);
    const dat::IdTable& t = tracker.table(true);
    ASSERT_EQ(t.count, 2);
    EXPECT_EQ(t.entries[0].pNo, 888);
    EXPECT_EQ(t.entries[0].seconds, 60);
    // The same number twice: one entry, at the second line's place.
    EXPECT_EQ(t.entries[1].pNo, 9);
    EXPECT_EQ(t.entries[1].seconds, 180);
    EXPECT_EQ(t.entries[1].abs, (dat::TimeCode{0x00, 0x03, 0x00, 0x00}));
}

// Every row that is refused, or that replaces an earlier row, is named with its line number;
// comments and unnumbered lines are not rows and pass silently.
TEST_F(VirtualIdFileTest, RefusedAndReplacedRowsAreNamedWithTheirLineNumbers)
{
    const std::string path = write("n.TVV", "; No. ID   PNo.  ABS Time     (sec)\r\n"
                                            "   1 START   1  00h00m10s00     10\r\n"
                                            "   x free text\r\n"
                                            "   2 SKIP    5  00h00m20s00     20\r\n"
                                            "   3 START   2  0xh0ym99s00     30\r\n"
                                            "   4 START   3  00h00m40s99     40\r\n"
                                            "   5 START   4  00h00m50s00     5x\r\n"
                                            "   6 START   5  00h00m10s00     11\r\n"
                                            "   7 START   5  00h01m00s00     60\r\n"
                                            "   8 END        00h10m00s00    600\r\n"
                                            "   9 END        00h11m00s00    660\r\n"
                                            "  10 SKIP       --h--m--s--    700\r\n"
                                            "  11 START\r\n"
                                            "  12 LATER   6  00h02m00s00    120\r\n"
                                            "  13 START 800  00h02m00s00    120\r\n");
    std::vector<std::string> notes;
    EXPECT_EQ(readVirtualIdFile(path, tracker, sink, &notes), VirtualIdLoad::Loaded);
    const std::vector<std::string> expected = {
        "line 4: refused: SKIP and END IDs carry no program number (5)",
        "line 5: refused: ABS time 0xh0ym99s00 is not HHhMMmSSsFF",
        "line 6: refused: ABS time 00h00m40s99 is not HHhMMmSSsFF",
        "line 7: refused: second 5x is not a number",
        "line 8: replaces line 2 (the same ABS time)",
        "line 9: replaces line 8 (the same program number)",
        "line 11: replaces the END ID of line 10",
        "line 13: refused: a field is missing",
        "line 14: refused: unknown ID kind \"LATER\"",
        "line 15: refused: program number 800 is not 1-799 or -",
    };
    EXPECT_EQ(notes, expected);
    std::string message = "These lines of the virtual ID file were not loaded as written:";
    for (const std::string& note : expected)
        message += "\n" + note;
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, message + "\n\n" + path);

    // START 5 took START 1's place, then moved to 60 s; the later END won; the SKIP without a
    // valid time keeps no time and is written back as it was read.
    tracker.sortTable(true);
    const dat::IdTable& t = tracker.table(true);
    ASSERT_EQ(t.count, 2);
    EXPECT_EQ(t.entries[0].pNo, 5);
    EXPECT_EQ(t.entries[0].seconds, 60);
    EXPECT_EQ(t.entries[1].pNo, dat::kPNoSkip);
    EXPECT_EQ(t.entries[1].abs, dat::kNoValue);
    EXPECT_EQ(t.endSeconds, 660);
    EXPECT_EQ(lines(t)[1], "   2 SKIP       --h--m--s--    700");
}

TEST_F(VirtualIdFileTest, Failures)
{
    const std::string headerOnly = write("h.TVV", "; No. ID   PNo.  ABS Time     (sec)\r\n");
    EXPECT_EQ(readVirtualIdFile(headerOnly, tracker, sink), VirtualIdLoad::NoIds);
    const std::string missing = dir.file("missing.TVV");
    tracker.addId(3, true, true, 5, kT1);
    EXPECT_EQ(readVirtualIdFile(missing, tracker, sink), VirtualIdLoad::CannotOpen);
    EXPECT_EQ(tracker.table(true).count, 1); // untouched
    const std::string noFolder = dir.file("no/V_ID.TVV");
    EXPECT_FALSE(writeVirtualIdFile(noFolder, buildIdListRows(tracker.table(true)), sink));
    const std::string fifo = dir.file("fifo.TVV");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readVirtualIdFile(fifo, tracker, sink), VirtualIdLoad::CannotOpen); // no wait
    ASSERT_EQ(sink.messages.size(), 4u);
    EXPECT_EQ(sink.messages[0].text, "Unable to register ID.\n\n" + headerOnly);
    EXPECT_EQ(sink.messages[1].text, "Unable to open file.\n\n" + missing);
    EXPECT_EQ(sink.messages[2].text, "Unable to create file.\n\n" + noFolder);
    EXPECT_EQ(sink.messages[3].text, "Unable to open file.  (not a regular file)\n\n" + fifo);
}

} // namespace
} // namespace tarnvel::formats
