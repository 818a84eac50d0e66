#include "formats/WaveFileReader.h"

#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarnvel::formats {
namespace {

using test::TempDir;
using test::WavFixture;

std::vector<std::uint8_t> pattern(std::size_t n)
{
    WavFixture f;
    f.channels = 1;
    f.bits = 8;
    f.withFrames(static_cast<std::uint32_t>(n));
    return f.data;
}

struct AcceptCase {
    const char* name;
    WavFixture file;
    std::uint64_t dataOffset;
};

// Files other programs write: extended fmt bodies, chunks before the data, odd sizes.
std::vector<AcceptCase> acceptCases()
{
    std::vector<AcceptCase> cases;
    WavFixture base;
    base.withFrames(10);
    cases.push_back({"canonical", base, 44});
    WavFixture f18 = base;
    f18.fmtSize = 18;
    cases.push_back({"fmt18", f18, 46});
    WavFixture f40 = base;
    f40.fmtSize = 40;
    cases.push_back({"fmt40", f40, 68});
    WavFixture list = base;
    list.extraChunks.push_back({"LIST", pattern(26), true});
    cases.push_back({"list", list, 44 + 8 + 26});
    WavFixture oddNoPad = base;
    oddNoPad.extraChunks.push_back({"junk", pattern(5), false});
    cases.push_back({"oddChunkWithoutPad", oddNoPad, 44 + 8 + 5});
    WavFixture oddPadded = base;
    oddPadded.extraChunks.push_back({"junk", std::vector<std::uint8_t>(5, 0), true});
    cases.push_back({"oddChunkWithPad", oddPadded, 44 + 8 + 6});
    WavFixture floatFact = base;
    floatFact.tag = 3;
    floatFact.bits = 32;
    floatFact.withFrames(10);
    floatFact.extraChunks.push_back({"fact", {10, 0, 0, 0}, true});
    cases.push_back({"floatWithFact", floatFact, 44 + 12});
    return cases;
}

TEST(WaveFileReader, AcceptsCommonLayouts)
{
    TempDir dir;
    for (const AcceptCase& c : acceptCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        c.file.write(path);
        WaveFileReader r;
        ASSERT_TRUE(r.readHeader(path)) << r.errorText();
        EXPECT_EQ(r.errorText(), "");
        EXPECT_EQ(r.format().formatTag, c.file.tag);
        EXPECT_EQ(r.format().channels, 2);
        EXPECT_EQ(r.format().samplesPerSec, 44100u);
        EXPECT_EQ(r.format().bitsPerSample, c.file.bits);
        EXPECT_EQ(r.format().cbSize, 0);
        EXPECT_EQ(r.dataOffset(), c.dataOffset);
        EXPECT_EQ(r.dataLength(), c.file.data.size());
        std::vector<std::uint8_t> got(c.file.data.size());
        ASSERT_EQ(r.readData(got.data(), got.size()), got.size());
        EXPECT_EQ(got, c.file.data);
    }
}

struct RejectCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* error;
};

std::vector<RejectCase> rejectCases()
{
    WavFixture base;
    base.withFrames(4);
    std::vector<RejectCase> cases;
    auto with = [&](const char* name, auto change, const char* error) {
        WavFixture f = base;
        change(f);
        cases.push_back({name, f.bytes(), error});
    };
    cases.push_back({"short", {'R', 'I', 'F', 'F', 0, 0}, "Unable to read file.  (header)"});
    auto notRiff = base.bytes();
    notRiff[0] = 'X';
    cases.push_back({"notRiff", notRiff, "Not Wave file"});
    auto notFmt = base.bytes();
    notFmt[12] = 'F';
    cases.push_back({"notFmt", notFmt, "Not Wave file"});
    with(
        "fmt14", [](WavFixture& f) { f.fmtSize = 14; },
        "Unknown Wave format.  (fmtsize=14, fizesize=50)");
    with(
        "fmt52", [](WavFixture& f) { f.fmtSize = 52; },
        "Unknown Wave format.  (fmtsize=52, fizesize=88)");
    with(
        "riffZero", [](WavFixture& f) { f.claimedRiffSize = 0; },
        "Unknown Wave format.  (fmtsize=16, fizesize=0)");
    with(
        "extensible",
        [](WavFixture& f) {
            f.fmtSize = 40;
            f.tag = 0xFFFE;
        },
        "Unknown Wave format.  (Not PCM data)");
    with(
        "adpcm", [](WavFixture& f) { f.tag = 2; }, "Unknown Wave format.  (Not PCM data)");
    with(
        "noData", [](WavFixture& f) { f.withData = false; }, "Unknown Wave format.  (No data)");
    with(
        "noDataAfterList",
        [](WavFixture& f) {
            f.withData = false;
            f.extraChunks.push_back({"LIST", pattern(30), true});
        },
        "Unknown Wave format.  (No data)");
    WavFixture truncatedFact = base;
    truncatedFact.withData = false;
    auto fact = truncatedFact.bytes();
    for (int b : {0x66, 0x61, 0x63, 0x74, 4, 0, 0, 0, 1}) // "fact", size 4, one byte
        fact.push_back(static_cast<std::uint8_t>(b));
    cases.push_back({"truncatedFact", fact, "Unknown Wave format.  (others)"});
    auto shortFmt = base.bytes();
    shortFmt.resize(30);
    cases.push_back({"truncatedFmt", shortFmt, "Unable to read file.  (fmt)"});
    return cases;
}

TEST(WaveFileReader, RefusesMalformedFilesWithTheirReason)
{
    TempDir dir;
    for (const RejectCase& c : rejectCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        WavFixture::writeBytes(path, c.bytes);
        WaveFileReader r;
        EXPECT_FALSE(r.readHeader(path));
        EXPECT_EQ(r.errorText(), c.error);
        EXPECT_FALSE(r.isOpen());
    }
    WaveFileReader r;
    EXPECT_FALSE(r.readHeader(dir.file("missing.wav")));
    EXPECT_EQ(r.errorText(), "file not found");
    EXPECT_FALSE(r.readHeader(dir.path().string())); // a folder
    EXPECT_EQ(r.errorText(), "file not found");
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(r.readHeader(fifo)); // must not wait for a writer
    EXPECT_EQ(r.errorText(), "file not found");
    EXPECT_FALSE(r.readHeader(""));
    EXPECT_EQ(r.errorText(), "");
}

TEST(WaveFileReader, DataLongerThanTheFileIsPlayedToTheEndOfTheFile)
{
    TempDir dir;
    WavFixture f;
    f.withFrames(100); // 400 bytes
    f.claimedDataSize = 1000000;
    f.write(dir.file("long.wav"));
    WaveFileReader r;
    ASSERT_TRUE(r.readHeader(dir.file("long.wav")));
    EXPECT_EQ(r.dataLength(), 400u);
    r.setSilencePadding(0, 8);
    std::vector<std::uint8_t> buf(300);
    EXPECT_EQ(r.readData(buf.data(), buf.size()), 300u);
    EXPECT_EQ(r.readData(buf.data(), buf.size()), 100u);
    EXPECT_EQ(buf[99], f.data[399]);
    EXPECT_EQ(buf[100], 0); // the rest of a short block is silence
    EXPECT_EQ(r.readData(buf.data(), buf.size()), 8u);
    EXPECT_EQ(r.readData(buf.data(), buf.size()), 0u);
}

TEST(WaveFileReader, SilenceFramesTheDataWithTheSilenceByte)
{
    TempDir dir;
    WavFixture f;
    f.channels = 1;
    f.bits = 8;
    f.withFrames(10);
    f.write(dir.file("u8.wav"));
    WaveFileReader r;
    ASSERT_TRUE(r.readHeader(dir.file("u8.wav")));
    EXPECT_EQ(r.silenceByte(), 128);
    r.setSilencePadding(6, 5);
    std::vector<std::uint8_t> buf(4, 1);
    // Pre-silence: the whole buffer is silence, the count says how much of it counts.
    EXPECT_EQ(r.readData(buf.data(), 4), 4u);
    EXPECT_EQ(buf, std::vector<std::uint8_t>(4, 128));
    EXPECT_EQ(r.readData(buf.data(), 4), 2u);
    std::vector<std::uint8_t> all;
    for (std::size_t n; (n = r.readData(buf.data(), 4)) > 0;)
        all.insert(all.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<std::uint8_t> expected = f.data;
    expected.insert(expected.end(), 5, 128); // post-silence 5 in blocks of 4: 4 + 1
    EXPECT_EQ(all, expected);

    // Restarting from a position reads from there.
    r.setPosition(7);
    EXPECT_EQ(r.readData(buf.data(), 4), 3u);
    EXPECT_EQ(buf[0], f.data[7]);
    EXPECT_EQ(r.startPosition(), 7u);
}

TEST(WaveFileReader, BlankNameIsASilenceEntry)
{
    WaveFileReader r;
    ASSERT_TRUE(r.readHeader(" silence"));
    EXPECT_EQ(r.dataLength(), 1u);
    EXPECT_FALSE(r.isOpen());
    r.setSilencePadding(10, 10);
    std::vector<std::uint8_t> buf(8, 9);
    EXPECT_EQ(r.readData(buf.data(), 8), 8u);
    EXPECT_EQ(r.readData(buf.data(), 8), 2u);
    EXPECT_EQ(r.readData(buf.data(), 8), 0u);
}

} // namespace
} // namespace tarnvel::formats
