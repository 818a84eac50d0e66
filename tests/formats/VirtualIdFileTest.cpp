#include "formats/VirtualIdFile.h"

#include "common/MessageSink.h"
#include "dat/TapeTracker.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <atomic>
#include <gtest/gtest.h>

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
    ASSERT_EQ(sink.messages.size(), 3u);
    EXPECT_EQ(sink.messages[0].text, "Unable to register ID.\n\n" + headerOnly);
    EXPECT_EQ(sink.messages[1].text, "Unable to open file.\n\n" + missing);
    EXPECT_EQ(sink.messages[2].text, "Unable to create file.\n\n" + noFolder);
}

} // namespace
} // namespace tarnvel::formats
