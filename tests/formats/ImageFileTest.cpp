#include "common/ByteOrder.h"
#include "common/MessageSink.h"
#include "dat/RecSubcode.h"
#include "formats/ImageReader.h"
#include "formats/ImageWriter.h"
#include "formats/SampleImage.h"
#include "support/TempDir.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarnvel::formats {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void put(Bytes& b, const char* id)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(id[i]));
}

void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An image built by hand, to exercise the reader on what the writer never produces.
struct ImageSpec {
    bool oldForm = false;
    std::uint32_t infoSize = 8;
    std::vector<std::pair<std::string, Bytes>> chunks = {{"cmt ", Bytes(80, 0)}};
    std::vector<dat::DatFrame> frames;
    std::int64_t countDelta = 0;    // frame count in the header minus the frames stored
    std::int64_t riffDelta = 0;     // offset 4 minus the true value
    std::int64_t dataSizeDelta = 0; // data size minus the true value
    Bytes tail;                     // bytes after the frames (not counted anywhere)
};

Bytes buildImage(const ImageSpec& s)
{
    Bytes b;
    put(b, "TVI ");
    put32(b, 0); // patched below
    if (!s.oldForm)
        put(b, "IMG ");
    put(b, "info");
    put32(b, s.infoSize);
    put32(b, static_cast<std::uint32_t>(static_cast<std::int64_t>(s.frames.size()) + s.countDelta));
    put32(b, 7); // error frames
    for (std::uint32_t i = 8; i < s.infoSize && i < 64; ++i)
        b.push_back(0);
    for (const auto& [id, body] : s.chunks) {
        put(b, id.c_str());
        put32(b, static_cast<std::uint32_t>(body.size()));
        b.insert(b.end(), body.begin(), body.end());
    }
    put(b, "data");
    const std::size_t dataBytes = s.frames.size() * dat::kFrameBytes;
    put32(b, static_cast<std::uint32_t>(static_cast<std::int64_t>(dataBytes) + s.dataSizeDelta));
    for (const auto& f : s.frames)
        b.insert(b.end(), f.data(), f.data() + dat::kFrameBytes);
    b.insert(b.end(), s.tail.begin(), s.tail.end());
    writeLe32(&b[4],
              static_cast<std::uint32_t>(static_cast<std::int64_t>(b.size()) - 8 + s.riffDelta));
    return b;
}

std::vector<dat::DatFrame> sampleFrames(std::uint32_t n)
{
    SampleTape tape(n);
    std::vector<dat::DatFrame> frames;
    for (std::uint32_t i = 0; i < n; ++i)
        frames.push_back(tape.next());
    return frames;
}

dat::DatFrame frameWithoutAbs(std::uint8_t fill)
{
    dat::DatFrame f;
    f.audio.fill(fill);
    return f;
}

dat::DatFrame frameWithAbsHoursAA()
{
    dat::DatFrame f = frameWithoutAbs(0x33);
    std::uint8_t* p = f.subcode.packData(2);
    p[0] = 0x20;
    p[3] = 0xAA;
    dat::packParity(p);
    return f;
}

class ImageFile : public ::testing::Test {
protected:
    std::vector<dat::DatFrame> readAll(ImageReader& r)
    {
        std::vector<dat::DatFrame> out;
        dat::DatFrame f;
        while (r.readFrame(f, false) == dat::kFrameBytes)
            out.push_back(f);
        return out;
    }
    std::string lastMessage() const
    {
        return sink.messages.empty() ? "" : sink.messages.back().text;
    }

    test::TempDir dir;
    CollectingMessageSink sink;
};

TEST_F(ImageFile, RoundTripKeepsEveryByteAndTheHeaderLayout)
{
    const std::string path = dir.file("take.TVI");
    const auto frames = sampleFrames(500);
    {
        ImageWriter w(sink);
        ASSERT_TRUE(w.create(path, "first tape"));
        for (const auto& f : frames)
            ASSERT_EQ(w.append(f), dat::kFrameBytes);
        w.setErrorFrameCount(3);
        ASSERT_TRUE(w.finalise(false));
        EXPECT_FALSE(w.isOpen());
    }
    const Bytes b = readFile(path);
    ASSERT_EQ(b.size(), 124 + 500 * dat::kFrameBytes);
    EXPECT_EQ(std::memcmp(b.data(), "TVI ", 4), 0);
    EXPECT_EQ(readLe32(&b[4]), b.size() - 8);
    EXPECT_EQ(std::memcmp(&b[8], "IMG info", 8), 0);
    EXPECT_EQ(readLe32(&b[16]), 8u);
    EXPECT_EQ(readLe32(&b[20]), 500u);
    EXPECT_EQ(readLe32(&b[24]), 3u);
    EXPECT_EQ(std::memcmp(&b[28], "cmt ", 4), 0);
    EXPECT_EQ(readLe32(&b[32]), 80u);
    EXPECT_EQ(std::memcmp(&b[36], "first tape\0\0", 12), 0);
    EXPECT_EQ(std::memcmp(&b[116], "data", 4), 0);
    EXPECT_EQ(readLe32(&b[120]), 500 * dat::kFrameBytes);
    EXPECT_EQ(std::memcmp(&b[124 + 499 * dat::kFrameBytes], frames[499].data(), dat::kFrameBytes),
              0);

    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    EXPECT_EQ(r.frameCount(), 500u);
    EXPECT_EQ(r.errorFrameCount(), 3u);
    EXPECT_EQ(r.comment(), "first tape");
    const auto back = readAll(r);
    ASSERT_EQ(back.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(std::memcmp(back[i].data(), frames[i].data(), dat::kFrameBytes), 0) << i;
    EXPECT_TRUE(sink.messages.empty());

    ASSERT_TRUE(r.open(path, true));
    EXPECT_FALSE(r.isOpen());
    EXPECT_EQ(r.firstAbs(), (dat::TimeCode{0, 0, 0, 0}));
    EXPECT_EQ(r.lastAbs(), dat::framesToAbs(499));
    EXPECT_EQ(
        imagePropertyText(r),
        "Frame: 500  00h00m15s00 ( 00h00m00s00 -  00h00m14s33)  Err: 3\nComment:\nfirst tape");
}

TEST_F(ImageFile, ZeroFrameImage)
{
    const std::string path = dir.file("empty.TVI");
    ImageWriter w(sink);
    ASSERT_TRUE(w.create(path, ""));
    ASSERT_TRUE(w.finalise(false));
    const Bytes b = readFile(path);
    ASSERT_EQ(b.size(), 124u);
    EXPECT_EQ(readLe32(&b[4]), 116u);
    EXPECT_EQ(readLe32(&b[20]), 0u);
    EXPECT_EQ(readLe32(&b[24]), 0u);
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    dat::DatFrame f;
    EXPECT_EQ(r.readFrame(f, false), 0u);
    EXPECT_FALSE(r.open(path, true)); // nothing to probe
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(ImageFile, CommentOfEightyCharactersHasNoTerminatorInTheChunk)
{
    const std::string path = dir.file("c.TVI");
    const std::string comment(80, 'x');
    ImageWriter w(sink);
    ASSERT_TRUE(w.create(path, comment + "cut"));
    ASSERT_EQ(w.append(sampleFrames(1)[0]), dat::kFrameBytes);
    ASSERT_TRUE(w.finalise(false));
    const Bytes b = readFile(path);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 116), comment);
    EXPECT_EQ(std::memcmp(&b[116], "data", 4), 0);
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    EXPECT_EQ(r.comment(), comment);
}

TEST_F(ImageFile, OldHeaderFormAndOtherChunksReadLikeTheCurrentOne)
{
    ImageSpec spec;
    spec.oldForm = true;
    spec.frames = sampleFrames(3);
    Bytes longComment(200, 'L');
    spec.chunks = {{"junk", Bytes(5, 1)}, {"LIST", longComment}, {"odd ", Bytes(3, 2)}};
    const std::string path = dir.file("old.TVI");
    writeFile(path, buildImage(spec));
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false)) << lastMessage();
    EXPECT_EQ(r.frameCount(), 3u);
    EXPECT_EQ(r.errorFrameCount(), 7u);
    EXPECT_EQ(r.comment(), std::string(80, 'L'));
    const auto back = readAll(r);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(std::memcmp(back[2].data(), spec.frames[2].data(), dat::kFrameBytes), 0);

    spec.oldForm = false;
    spec.infoSize = 12; // a longer info chunk: the extra bytes are skipped
    writeFile(path, buildImage(spec));
    ASSERT_TRUE(r.open(path, false)) << lastMessage();
    EXPECT_EQ(readAll(r).size(), 3u);
}

TEST_F(ImageFile, FramesWithoutAbsTimeAreSkipped)
{
    auto good = sampleFrames(4);
    ImageSpec spec;
    spec.frames = {frameWithoutAbs(1), good[0], frameWithAbsHoursAA(), good[1], good[2],
                   frameWithoutAbs(2), good[3], frameWithoutAbs(3)};
    const std::string path = dir.file("gaps.TVI");
    writeFile(path, buildImage(spec));
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    const auto back = readAll(r);
    ASSERT_EQ(back.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(std::memcmp(back[i].data(), good[i].data(), dat::kFrameBytes), 0) << i;

    // Probing finds the first and last frames that carry a time, not the outermost frames.
    ASSERT_TRUE(r.open(path, true));
    EXPECT_EQ(r.firstAbs(), dat::framesToAbs(0));
    EXPECT_EQ(r.lastAbs(), dat::framesToAbs(3));

    // The raw frames stay reachable for a dump.
    ASSERT_TRUE(r.open(path, false));
    dat::DatFrame f;
    ASSERT_TRUE(r.readFrameAt(7, f));
    EXPECT_EQ(f.audio[0], 3);
    EXPECT_FALSE(r.readFrameAt(8, f));
}

TEST_F(ImageFile, ProbeNeedsTwoFramesAndAnAbsTime)
{
    ImageSpec spec;
    spec.frames = sampleFrames(1);
    const std::string path = dir.file("one.TVI");
    writeFile(path, buildImage(spec));
    ImageReader r(sink);
    EXPECT_FALSE(r.open(path, true));
    EXPECT_TRUE(r.open(path, false)); // still a valid image

    spec.frames = {frameWithoutAbs(0), frameWithoutAbs(1)};
    writeFile(path, buildImage(spec));
    EXPECT_FALSE(r.open(path, true));
    EXPECT_TRUE(sink.messages.empty()); // probing is quiet
}

struct RejectCase {
    const char* name;
    const char* message;
    void (*edit)(ImageSpec&, Bytes&);
};

class ImageReject : public ImageFile, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(ImageReject, GivesItsMessageAndClosesTheFile)
{
    const RejectCase& c = GetParam();
    ImageSpec spec;
    spec.frames = sampleFrames(2);
    Bytes bytes;
    c.edit(spec, bytes);
    if (bytes.empty())
        bytes = buildImage(spec);
    const std::string path = dir.file("bad.TVI");
    writeFile(path, bytes);
    ImageReader r(sink);
    EXPECT_FALSE(r.open(path, false));
    EXPECT_FALSE(r.isOpen());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, std::string(c.message) + "\n\n" + path);
    EXPECT_EQ(sink.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(r.errorText(), c.message);
    sink.messages.clear();
    EXPECT_FALSE(r.open(path, true));
    EXPECT_TRUE(sink.messages.empty());
}

constexpr const char* kInvalid = "Invalid format.";
constexpr const char* kRead = "Unable to read file.";

INSTANTIATE_TEST_SUITE_P(
    Image, ImageReject,
    ::testing::Values(
        RejectCase{"OneByteTooLong", kInvalid, [](ImageSpec& s, Bytes&) { s.tail = {0}; }},
        RejectCase{"OneByteTooLongEverywhere", kInvalid,
                   [](ImageSpec& s, Bytes&) {
                       s.tail = {0};
                       s.riffDelta = -1; // offset 4 covers it but the data chunk does not
                   }},
        RejectCase{"Truncated", kInvalid,
                   [](ImageSpec& s, Bytes& b) {
                       b = buildImage(s);
                       b.pop_back();
                   }},
        RejectCase{"CountTooHigh", kInvalid, [](ImageSpec& s, Bytes&) { s.countDelta = 1; }},
        RejectCase{"DataSizeTooSmall", kInvalid,
                   [](ImageSpec& s, Bytes&) { s.dataSizeDelta = -1; }},
        RejectCase{"RiffSizeWrong", kInvalid, [](ImageSpec& s, Bytes&) { s.riffDelta = 2; }},
        RejectCase{"NoDataChunk", kInvalid,
                   [](ImageSpec& s, Bytes& b) {
                       b = buildImage(s);
                       std::memcpy(&b[116], "dat4", 4);
                   }},
        RejectCase{"WrongMagic", kInvalid,
                   [](ImageSpec& s, Bytes& b) {
                       b = buildImage(s);
                       b[0] = 'X';
                   }},
        RejectCase{"WaveFile", kInvalid,
                   [](ImageSpec&, Bytes& b) {
                       b = Bytes(64, 0);
                       std::memcpy(&b[0], "RIFF", 4);
                       std::memcpy(&b[8], "WAVEfmt ", 8);
                   }},
        RejectCase{"InfoTooShort", kInvalid, [](ImageSpec& s, Bytes&) { s.infoSize = 4; }},
        RejectCase{"InfoSizeHuge", kRead,
                   [](ImageSpec& s, Bytes& b) {
                       b = buildImage(s);
                       writeLe32(&b[16], 0xFFFFFFF0u);
                   }},
        RejectCase{"ShortHeader", kRead,
                   [](ImageSpec&, Bytes& b) {
                       b = {'T', 'V', 'I', ' '};
                   }},
        RejectCase{"NoInfoSize", kRead,
                   [](ImageSpec&, Bytes& b) {
                       b = Bytes(16, 0);
                       std::memcpy(&b[0], "TVI ", 4);
                       std::memcpy(&b[8], "IMG info", 8);
                   }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ImageFile, ChunkSizesThatRunPastTheEndAreRejected)
{
    ImageSpec spec;
    spec.frames = sampleFrames(1);
    Bytes b = buildImage(spec);
    writeLe32(&b[32], 0xFFFFFFFFu); // comment chunk size
    const std::string path = dir.file("huge.TVI");
    writeFile(path, b);
    ImageReader r(sink);
    EXPECT_FALSE(r.open(path, false));
    EXPECT_EQ(r.errorText(), kInvalid);
}

TEST_F(ImageFile, MissingFileDirectoryAndPartialLastFrame)
{
    ImageReader r(sink);
    EXPECT_FALSE(r.open(dir.file("none.TVI"), false));
    EXPECT_EQ(r.errorText(), "Unable to open file.");
    EXPECT_FALSE(r.open(dir.path().string(), false));
    EXPECT_EQ(r.errorText(), "Unable to open file.  (is a directory)");
    const std::string fifo = dir.file("fifo.TVI");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(r.open(fifo, true)); // must not wait for a writer
    EXPECT_EQ(r.errorText(), "Unable to open file.  (not a regular file)");

    // A data size with a partial frame passes the count check; the tail then reads short.
    ImageSpec spec;
    spec.frames = sampleFrames(2);
    spec.tail = {1, 2, 3};
    spec.dataSizeDelta = 3;
    const std::string path = dir.file("tail.TVI");
    writeFile(path, buildImage(spec));
    sink.messages.clear();
    ASSERT_TRUE(r.open(path, false));
    dat::DatFrame f;
    EXPECT_EQ(r.readFrame(f, false), dat::kFrameBytes);
    EXPECT_EQ(r.readFrame(f, false), dat::kFrameBytes);
    EXPECT_EQ(r.readFrame(f, false), 0u);
    EXPECT_FALSE(r.isOpen());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, std::string(kRead) + "\n\n" + path);
}

// An image whose header was last brought up to date some frames before a crash: the reader
// refuses it, the diagnosis says what the header counts and what the file holds, and the
// repair rewrites the header from the whole frames, dropping a partial last frame.
TEST_F(ImageFile, ImageLeftByACrashIsExplainedAndRepaired)
{
    const auto frames = sampleFrames(5);
    const std::int64_t frame = dat::kFrameBytes;
    struct Case {
        const char* name;
        bool oldForm;
        std::int64_t headerFrames; // what the stale header counts
        std::size_t tail;          // bytes of a partial frame after the 5 frames
        std::uint64_t keptFrames;  // frames the repaired image holds
    };
    const Case cases[] = {
        {"beforeFirstUpdate", false, 0, 0, 5},
        {"afterAnUpdatePartialFrame", false, 3, 1000, 5},
        {"olderHeaderForm", true, 2, 17, 5},
        {"headerCountsMoreThanThere", false, 7, 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageSpec spec;
        spec.oldForm = c.oldForm;
        spec.frames = frames;
        spec.tail = Bytes(c.tail, 0x5A);
        const std::int64_t missing = 5 - c.headerFrames;
        spec.countDelta = -missing;
        spec.dataSizeDelta = -missing * frame;
        spec.riffDelta = -missing * frame - static_cast<std::int64_t>(c.tail);
        const std::string path = dir.file(std::string(c.name) + ".TVI");
        writeFile(path, buildImage(spec));

        ImageReader r(sink);
        EXPECT_FALSE(r.open(path, true)); // the reader stays strict
        EXPECT_EQ(r.errorText(), kInvalid);
        const ImageDiagnosis d = diagnoseImage(path);
        EXPECT_TRUE(d.structureRead);
        EXPECT_FALSE(d.consistent);
        EXPECT_EQ(d.headerFrames, static_cast<std::uint32_t>(c.headerFrames));
        EXPECT_EQ(d.wholeFrames, 5u);
        EXPECT_EQ(d.partialBytes, c.tail);

        ImageDiagnosis found;
        EXPECT_EQ(repairImage(path, sink, &found), ImageRepair::Repaired);
        EXPECT_EQ(found.wholeFrames, 5u);
        ASSERT_TRUE(r.open(path, false)) << r.errorText();
        EXPECT_EQ(r.frameCount(), c.keptFrames);
        EXPECT_EQ(r.errorFrameCount(), 7u); // kept as the header had it
        const auto back = readAll(r);
        ASSERT_EQ(back.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(std::memcmp(back[i].data(), frames[i].data(), dat::kFrameBytes), 0);
        EXPECT_EQ(repairImage(path, sink), ImageRepair::NothingToRepair);
    }
    EXPECT_TRUE(sink.messages.empty());

    // A file that is not an image, and a FIFO, are refused without a change or a wait.
    const std::string junk = dir.file("junk.TVI");
    writeFile(junk, Bytes(300, 7));
    EXPECT_EQ(repairImage(junk, sink), ImageRepair::Failed);
    EXPECT_EQ(readFile(junk), Bytes(300, 7));
    EXPECT_FALSE(diagnoseImage(junk).structureRead);
    const std::string fifo = dir.file("fifo.TVI");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(repairImage(fifo, sink), ImageRepair::Failed);
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].text, std::string(kInvalid) + "\n\n" + junk);
    EXPECT_EQ(sink.messages[1].text, "Unable to open file.  (not a regular file)\n\n" + fifo);

    ImageDiagnosis d;
    d.headerFrames = 3;
    d.wholeFrames = 5;
    d.partialBytes = 1000;
    EXPECT_EQ(imageDiagnosisText(d), "The header counts 3 frames, the file holds 5 whole frames "
                                     "and 1000 bytes of a partial frame");
}

TEST_F(ImageFile, WriterRejectsWhatWouldBreakTheFile)
{
    ImageWriter w(sink);
    dat::DatFrame f;
    EXPECT_EQ(w.append(f), 0u); // nothing open
    EXPECT_FALSE(w.finalise(false));
    EXPECT_TRUE(sink.messages.empty());

    const std::string bad = dir.file("no/such/folder/x.TVI");
    EXPECT_FALSE(w.create(bad, ""));
    const std::string fifo = dir.file("fifo.TVI");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(w.create(fifo, "")); // refused, not waited on
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].text,
              "Unable to create file.  (No such file or directory)\n\n" + bad);
    EXPECT_EQ(sink.messages[1].text, "Unable to create file.  (not a regular file)\n\n" + fifo);
    sink.messages.clear();

    const std::string path = dir.file("w.TVI");
    ASSERT_TRUE(w.create(path, ""));
    EXPECT_EQ(w.append(f.data(), 100), 0u); // not a whole frame
    EXPECT_EQ(w.append(f), dat::kFrameBytes);
    // Creating again finalises the open image first.
    ASSERT_TRUE(w.create(dir.file("w2.TVI"), ""));
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    EXPECT_EQ(r.frameCount(), 1u);
}

TEST_F(ImageFile, DestructorFinalisesAnOpenImage)
{
    const std::string path = dir.file("d.TVI");
    {
        ImageWriter w(sink);
        ASSERT_TRUE(w.create(path, ""));
        for (const auto& f : sampleFrames(3))
            w.append(f);
    }
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    EXPECT_EQ(r.frameCount(), 3u);
}

TEST_F(ImageFile, PeriodicFinaliseKeepsTheFileOnDiskConsistent)
{
    const std::string path = dir.file("p.TVI");
    ImageWriter w(sink);
    ASSERT_TRUE(w.create(path, ""));
    w.setErrorFrameCount(2);
    SampleTape tape(400);
    // The check point is 1,940,666 bytes after the header: the 335th append finalises.
    for (int i = 0; i < 334; ++i)
        ASSERT_EQ(w.append(tape.next()), dat::kFrameBytes);
    EXPECT_EQ(readLe32(&readFile(path)[20]), 0u);
    ASSERT_EQ(w.append(tape.next()), dat::kFrameBytes);
    Bytes b = readFile(path);
    EXPECT_EQ(readLe32(&b[20]), 334u);
    EXPECT_EQ(readLe32(&b[24]), 2u);
    EXPECT_EQ(readLe32(&b[4]), 124 + 334 * dat::kFrameBytes - 8);
    // Frames go on after the header update, at the end of the file.
    ASSERT_EQ(w.append(tape.next()), dat::kFrameBytes);
    ASSERT_TRUE(w.finalise(false));
    b = readFile(path);
    EXPECT_EQ(b.size(), 124 + 336 * dat::kFrameBytes);
    EXPECT_EQ(readLe32(&b[20]), 336u);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(ImageFile, SizeLimitStopsAppendingAndLeavesTheFileOpen)
{
    const std::string path = dir.file("limit.TVI");
    ImageWriter::Limits limits;
    limits.sizeLimit = 124 + 2 * dat::kFrameBytes; // "exceeds": a third frame still goes in
    ImageWriter w(sink, limits);
    ASSERT_TRUE(w.create(path, ""));
    SampleTape tape(5);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(w.append(tape.next()), dat::kFrameBytes) << i;
    EXPECT_EQ(w.append(tape.next()), 0u);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "File size is beyond the limit.\n\n" + path);
    EXPECT_TRUE(w.isOpen());
    ASSERT_TRUE(w.finalise(false));
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    EXPECT_EQ(r.frameCount(), 3u);
}

TEST_F(ImageFile, TooLittleFreeSpaceStopsAppendingWithAConsistentFile)
{
    const std::string path = dir.file("space.TVI");
    ImageWriter::Limits limits;
    limits.checkInterval = 2 * dat::kFrameBytes;
    limits.minFreeBytes = std::uint64_t{1} << 62; // more than any disk has
    ImageWriter w(sink, limits);
    ASSERT_TRUE(w.create(path, ""));
    SampleTape tape(5);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(w.append(tape.next()), dat::kFrameBytes) << i;
    EXPECT_EQ(w.append(tape.next()), 0u);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text.rfind("Insufficient disk space on disk ", 0), 0u);
    EXPECT_TRUE(w.isOpen());
    // The header was brought up to date before the check: the file opens as it is.
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    EXPECT_EQ(r.frameCount(), 3u);
}

// A write that fails part-way (here the file-size limit of the process, as a full disk would)
// leaves an image that holds every whole frame written before and still opens.
TEST_F(ImageFile, FailedWriteKeepsEveryEarlierFrame)
{
    const std::string path = dir.file("full.TVI");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{124 + 3 * dat::kFrameBytes + 1000, 124 + 3 * dat::kFrameBytes + 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
        CollectingMessageSink childSink;
        ImageWriter w(childSink);
        int code = w.create(path, "") ? 0 : 10;
        SampleTape tape(5);
        for (int i = 0; i < 3 && code == 0; ++i)
            code = w.append(tape.next()) == dat::kFrameBytes ? 0 : 11;
        if (code == 0 && w.append(tape.next()) != 0)
            code = 12;
        if (code == 0 && w.isOpen())
            code = 13;
        if (code == 0 &&
            (childSink.messages.size() != 1 ||
             childSink.messages[0].text != "Unable to write file.  (File too large)\n\n" + path))
            code = 14;
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false)) << lastMessage();
    EXPECT_EQ(r.frameCount(), 3u);
    EXPECT_EQ(readAll(r).size(), 3u);
}

// Frames copied from another image's data in runs land between appended ones, byte for byte,
// whether the kernel copies (files) or the writer does (a source the kernel does not copy from,
// here a device); a source that ends early fails the copy and keeps every frame before it.
TEST_F(ImageFile, CopiedRunsOfFramesKeepEveryByteAndTheirPlace)
{
    auto frames = sampleFrames(40);
    const std::string source = dir.file("source.TVI");
    {
        ImageWriter w(sink);
        ASSERT_TRUE(w.create(source, ""));
        for (const auto& f : frames)
            ASSERT_EQ(w.append(f), dat::kFrameBytes);
        ASSERT_TRUE(w.finalise(false));
    }
    const int fd = ::open(source.c_str(), O_RDONLY);
    const int zero = ::open("/dev/zero", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_GE(zero, 0);
    const std::string path = dir.file("copy.TVI");
    ImageWriter w(sink);
    ASSERT_TRUE(w.create(path, ""));
    ASSERT_EQ(w.append(frames[0]), dat::kFrameBytes);
    ASSERT_EQ(w.appendCopy(fd, 124 + 1 * dat::kFrameBytes, 30), 30u);
    ASSERT_EQ(w.append(frames[31]), dat::kFrameBytes);
    EXPECT_EQ(w.appendCopy(zero, 0, 2), 2u) << lastMessage();
    frames[32] = frames[33] = dat::DatFrame{};
    ASSERT_EQ(w.appendCopy(fd, 124 + 34 * dat::kFrameBytes, 6), 6u);
    // Past the source's end.
    EXPECT_EQ(w.appendCopy(fd, 124 + 35 * dat::kFrameBytes, 10), 0u);
    EXPECT_EQ(lastMessage(), "Unable to write file.\n\n" + path);
    ::close(fd);
    ::close(zero);
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false)) << lastMessage();
    ASSERT_EQ(r.frameCount(), 40u);
    dat::DatFrame f;
    for (const auto& expected : frames) {
        ASSERT_TRUE(r.readStoredFrame(f));
        EXPECT_EQ(std::memcmp(f.data(), expected.data(), dat::kFrameBytes), 0);
    }
}

TEST_F(ImageFile, SampleImageWritesTwoPrograms)
{
    const std::string path = dir.file("s.TVI");
    ASSERT_TRUE(writeSampleImage(path, 1000, sink));
    ImageReader r(sink);
    ASSERT_TRUE(r.open(path, false));
    dat::DatFrame f;
    ASSERT_TRUE(r.readFrameAt(0, f));
    EXPECT_EQ(dat::decodeProgramDigits(f.subcode), 0x001);
    ASSERT_TRUE(r.readFrameAt(500, f));
    EXPECT_EQ(dat::decodeProgramDigits(f.subcode), 0x002);
    EXPECT_EQ(dat::decodedAbsTime(f.subcode), dat::framesToAbs(500));
    ASSERT_TRUE(r.readFrameAt(999, f));
    EXPECT_EQ(dat::decodeProgramDigits(f.subcode), dat::kPNoDigitsNone);
    EXPECT_TRUE(f.subcode.pack(1).parityOk());
    EXPECT_EQ(f.subcode.pack(4).item(), 5);
}

} // namespace
} // namespace tarnvel::formats
