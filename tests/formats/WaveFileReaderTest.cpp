#include "formats/WaveFileReader.h"

#include "formats/WaveFileInfo.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // Extensible headers with a sub-format the program plays read as the plain header.
    WavFixture ext24 = base;
    ext24.bits = 24;
    ext24.subFormat = 1;
    ext24.withFrames(10);
    cases.push_back({"extensiblePcm24", ext24, 68});
    WavFixture extFloat = base;
    extFloat.bits = 32;
    extFloat.subFormat = 3;
    extFloat.withFrames(10);
    cases.push_back({"extensibleFloat", extFloat, 68});
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
        EXPECT_EQ(r.format().formatTag, c.file.subFormat.value_or(c.file.tag));
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
        "Unknown Wave format.  (fmtsize=14, filesize=50)");
    with(
        "fmt52", [](WavFixture& f) { f.fmtSize = 52; },
        "Unknown Wave format.  (fmtsize=52, filesize=88)");
    with(
        "riffZero", [](WavFixture& f) { f.claimedRiffSize = 0; },
        "Unknown Wave format.  (fmtsize=16, filesize=0)");
    with(
        "extensible",
        [](WavFixture& f) {
            f.fmtSize = 40;
            f.tag = 0xFFFE;
        },
        "Unknown Wave format.  (Not PCM data)");
    with(
        "adpcm", [](WavFixture& f) { f.tag = 2; }, "Unknown Wave format.  (Not PCM data)");
    // Extensible headers the program cannot take as plain ones.
    const char* notPcm = "Unknown Wave format.  (Not PCM data)";
    with(
        "extensibleAdpcm", [](WavFixture& f) { f.subFormat = 2; }, notPcm);
    with(
        "extensibleSixChannels",
        [](WavFixture& f) {
            f.subFormat = 1;
            f.channels = 6;
        },
        notPcm);
    with(
        "extensibleFloat64",
        [](WavFixture& f) {
            f.subFormat = 3;
            f.bits = 64;
        },
        notPcm);
    with(
        "extensiblePcm20",
        [](WavFixture& f) {
            f.subFormat = 1;
            f.bits = 20;
        },
        notPcm);
    with(
        "extensibleShortExtension",
        [](WavFixture& f) {
            f.subFormat = 1;
            f.extensibleSize = 0;
        },
        notPcm);
    with(
        "extensibleIn18Bytes",
        [](WavFixture& f) {
            f.fmtSize = 18;
            f.tag = 0xFFFE;
        },
        notPcm);
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
    EXPECT_FALSE(r.readHeader(""));
    EXPECT_EQ(r.errorText(), "");
}

// A name that cannot be opened says why, and nothing that is not a regular file is waited on.
TEST(WaveFileReader, NamesThatCannotBeOpenedSayWhy)
{
    TempDir dir;
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string locked = dir.file("locked.wav");
    WavFixture().withFrames(4).write(locked);
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    const bool privileged = access(locked.c_str(), R_OK) == 0; // root reads anything
    const struct {
        std::string path;
        const char* error;
    } cases[] = {
        {dir.file("missing.wav"), "file not found"},
        {dir.file("missing/inside.wav"), "file not found"},
        {dir.path().string(), "is a directory"},
        {fifo, "not a regular file"}, // must not wait for a writer
        {"/dev/null", "not a regular file"},
        {locked, "permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.path == locked && privileged)
            continue;
        WaveFileReader r;
        EXPECT_FALSE(r.readHeader(c.path));
        EXPECT_EQ(r.errorText(), c.error);
    }
}

// Files written by sox: 24-bit and float files come with the extensible header.
TEST(WaveFileReader, ReadsFilesWrittenBySox)
{
    if (std::system("command -v sox >/dev/null 2>&1") != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true")
            FAIL() << "sox is missing (tools/setup.sh installs it)";
        GTEST_SKIP() << "sox is not installed";
    }
    TempDir dir;
    const struct {
        const char* name;
        const char* options;
        std::uint16_t tag, channels, bits;
    } cases[] = {
        {"pcm24.wav", "-c 2 -b 24 -e signed-integer", 1, 2, 24},
        {"float.wav", "-c 2 -b 32 -e floating-point", 3, 2, 32},
        {"mono16.wav", "-c 1 -b 16 -e signed-integer", 1, 1, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        const std::string command = std::string("sox -n -r 48000 ") + c.options + " " + path +
                                    " synth 0.5 sine 1000 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        WaveFileReader r;
        ASSERT_TRUE(r.readHeader(path)) << r.errorText();
        EXPECT_EQ(r.format().formatTag, c.tag);
        EXPECT_EQ(r.format().channels, c.channels);
        EXPECT_EQ(r.format().samplesPerSec, 48000u);
        EXPECT_EQ(r.format().bitsPerSample, c.bits);
        EXPECT_EQ(r.dataLength(), 24000u * c.channels * c.bits / 8);
    }
}

// Headers the sound devices cannot play show their fields as they are, with the reason.
TEST(WaveFileInfo, FormatTextsAndWhatCannotBePlayed)
{
    const auto make = [](std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                         std::uint16_t bits) {
        return WaveFormat::make(tag, channels, rate, bits);
    };
    WaveFormat badAlign = make(1, 2, 44100, 16);
    badAlign.blockAlign = 3;
    const struct {
        WaveFormat format;
        const char* text;
        const char* reason;
    } cases[] = {
        {make(1, 2, 44100, 16), "44100s/s 16bit Stereo", ""},
        {make(3, 1, 48000, 32), "48000s/s F32bit Mono", ""},
        {make(1, 8, 44100, 16), "44100s/s 16bit 8ch", "cannot be played: 8 channels (1 or 2 play)"},
        {make(1, 0, 44100, 16), "44100s/s 16bit 0ch", "cannot be played: 0 channels (1 or 2 play)"},
        {make(1, 2, 44100, 7), "44100s/s  7bit Stereo",
         "cannot be played: 7 bits a sample (8, 16, 24, 32 or F32 play)"},
        {make(1, 2, 44100, 0), "44100s/s  0bit Stereo",
         "cannot be played: 0 bits a sample (8, 16, 24, 32 or F32 play)"},
        {make(3, 2, 44100, 64), "44100s/s F64bit Stereo",
         "cannot be played: F64 bits a sample (8, 16, 24, 32 or F32 play)"},
        {make(1, 2, 0, 16), "    0s/s 16bit Stereo", "cannot be played: sampling rate 0 Hz"},
        {badAlign, "44100s/s 16bit Stereo",
         "cannot be played: block size 3 does not match the channels and bits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(waveFormatText(c.format), c.text);
        EXPECT_EQ(unplayableReason(c.format), c.reason);
    }
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
