#include "common/ByteOrder.h"
#include "common/MessageSink.h"
#include "formats/ImageWriter.h"
#include "formats/SampleImage.h"
#include "sim/CassetteTools.h"
#include "sim/SimTestSupport.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace tarnvel::sim::test {
namespace {

std::int64_t diskBytes(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return static_cast<std::int64_t>(st.st_blocks) * 512;
}

TEST(Cassette, KeepsFramesAndFaultsAcrossReopeningWithoutStoringBlankTape)
{
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("c.tvs");
    std::string error;
    {
        auto c = Cassette::create(path, 60, error);
        ASSERT_TRUE(c) << error;
        EXPECT_EQ(c->lengthFrames(), 120000);
        EXPECT_FALSE(c->everRecorded());
        recordFrames(*c, 0, 10, 1, dat::TimeCode{0, 0, 0, 0});
        recordFrames(*c, 50000, 3, 0, dat::framesToAbs(50000));
        ASSERT_TRUE(c->addFault({5, 6, FaultKind::Both}, error)) << error;
        ASSERT_TRUE(c->addFault({7, 7, FaultKind::WriteFail}, error)) << error;
        EXPECT_FALSE(c->addFault({0, 120000, FaultKind::Left}, error));
    }
    // A 60-minute cassette is about 700 MB of tape; only what was recorded takes disk space.
    EXPECT_LT(diskBytes(path), 2 * 1024 * 1024);

    auto c = Cassette::open(path, Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->minutes(), 60);
    EXPECT_EQ(c->recordedEnd(), 50003);
    EXPECT_EQ(c->nextUnrecorded(0), 10);
    EXPECT_EQ(c->nextUnrecorded(50000), 50003);
    EXPECT_FALSE(c->isRecorded(10));
    EXPECT_EQ(c->subcode(10), nullptr);
    dat::DatFrame f;
    ASSERT_TRUE(c->readFrame(9, f.data(), error)) << error;
    EXPECT_EQ(f.audioWord(1), 900 + 10);
    EXPECT_EQ(*dat::absTimeOf(f.subcode), dat::framesToAbs(9));
    ASSERT_EQ(c->faults().size(), 2u);
    const ReadFault r = c->readFaultAt(6);
    EXPECT_TRUE(r.left && r.right && !r.unreadable);
    EXPECT_FALSE(c->readFaultAt(7).left);
    EXPECT_TRUE(c->writeFailsAt(7));
    EXPECT_FALSE(c->writeFailsAt(6));
    EXPECT_FALSE(c->writeFrame(0, f.data(), error)); // opened for reading
}

TEST(Cassette, LocksAgainstASecondHolder)
{
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("c.tvs");
    std::string error;
    auto writer = Cassette::create(path, 1, error);
    ASSERT_TRUE(writer) << error;
    EXPECT_FALSE(Cassette::open(path, Cassette::Access::ReadWrite, error));
    EXPECT_FALSE(Cassette::open(path, Cassette::Access::ReadOnly, error));
    EXPECT_NE(error.find("held by another"), std::string::npos);
    writer.reset();
    auto r1 = Cassette::open(path, Cassette::Access::ReadOnly, error);
    auto r2 = Cassette::open(path, Cassette::Access::ReadOnly, error);
    EXPECT_TRUE(r1 && r2);
    EXPECT_FALSE(Cassette::open(path, Cassette::Access::ReadWrite, error));
    EXPECT_FALSE(Cassette::create(path, 1, error)); // never replaces a file
    EXPECT_NE(error.find("already exists"), std::string::npos);
    EXPECT_FALSE(Cassette::create(dir.file("x.tvs"), 0, error));
    EXPECT_FALSE(Cassette::create(dir.file("y.tvs"), 601, error));
}

TEST(Cassette, RefusesDamagedFilesWithAReason)
{
    tarnvel::test::TempDir dir;
    struct Case {
        const char* what;
        std::size_t offset; // header byte to change; SIZE_MAX: cut the file short
        std::uint32_t value;
        const char* expect;
    };
    const Case cases[] = {
        {"magic", 0, 0x41414141, "not a cassette"},
        {"version", 16, 3, "newer version"},
        {"minutes", 20, 0, "damaged (length)"},
        {"frames", 24, 1999, "damaged (length)"},
        {"index offset", 28, 8192, "damaged (layout)"},
        {"audio offset", 36, 4096, "damaged (layout)"},
        {"fault count", 44, 253, "damaged (fault table)"},
        {"fault beyond the tape", 64 + 4, 2000, "damaged (fault table)"},
        {"fault kind", 64 + 8, 9, "damaged (fault table)"},
        {"short file", SIZE_MAX, 0, "damaged (file too short)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file(std::string(c.what) + ".tvs");
        std::string error;
        {
            auto cas = Cassette::create(path, 1, error);
            ASSERT_TRUE(cas) << error;
            ASSERT_TRUE(cas->addFault({1, 2, FaultKind::Left}, error));
        }
        if (c.offset == SIZE_MAX) {
            ASSERT_EQ(::truncate(path.c_str(), 100000), 0);
        } else {
            std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
            std::uint8_t bytes[4];
            writeLe32(bytes, c.value);
            f.seekp(static_cast<std::streamoff>(c.offset));
            f.write(reinterpret_cast<const char*>(bytes), 4);
        }
        EXPECT_FALSE(Cassette::open(path, Cassette::Access::ReadWrite, error));
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(Cassette::open(dir.file("missing.tvs"), Cassette::Access::ReadOnly, error));
    EXPECT_NE(error.find("Unable to open"), std::string::npos) << error;
}

TEST(Cassette, IntermittentFaultsKeepChanceSeedAndReadCountsAndMarkTheVersion)
{
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("c.tvs");
    const auto version = [&] {
        std::ifstream f(path, std::ios::binary);
        std::uint8_t b[20] = {};
        f.read(reinterpret_cast<char*>(b), sizeof b);
        return readLe32(b + 16);
    };
    std::string error;
    {
        auto c = Cassette::create(path, 1, error);
        ASSERT_TRUE(c) << error;
        recordFrames(*c, 0, 40, 1, dat::framesToAbs(0));
        ASSERT_TRUE(c->addFault({1, 1, FaultKind::Left}, error));
    }
    // Faults that strike every read keep the format earlier programs read.
    EXPECT_EQ(version(), 1u);
    {
        auto c = Cassette::open(path, Cassette::Access::ReadWrite, error);
        ASSERT_TRUE(c) << error;
        Fault f{10, 29, FaultKind::Right, 3000, 77};
        ASSERT_TRUE(c->addFault(f, error)) << error;
        // A write fault strikes every write; a chance of 0 is no fault.
        EXPECT_FALSE(c->addFault({5, 5, FaultKind::WriteFail, 5000, 0}, error));
        EXPECT_FALSE(c->addFault({5, 5, FaultKind::Left, 0, 0}, error));
        EXPECT_EQ(c->noteRead(10), 0u);
        EXPECT_EQ(c->noteRead(10), 1u);
        EXPECT_EQ(c->noteRead(1), 0u); // not counted: its fault strikes every read
        EXPECT_EQ(c->noteRead(1), 0u);
    }
    EXPECT_EQ(version(), 2u);
    auto c = Cassette::open(path, Cassette::Access::ReadWrite, error);
    ASSERT_TRUE(c) << error;
    ASSERT_EQ(c->faults().size(), 2u);
    const Fault& f = c->faults()[1];
    EXPECT_EQ(f.chance, 3000);
    EXPECT_EQ(f.seed, 77u);
    EXPECT_FALSE(c->faults()[0].intermittent());
    // The count went on with the cassette.
    EXPECT_EQ(c->noteRead(10), 2u);
    // Over the stretch and a few reads, about the chance strikes, and the same reads of the
    // same frames strike alike.
    int struck = 0;
    for (std::int64_t frame = 10; frame <= 29; ++frame)
        for (std::uint32_t read = 0; read < 10; ++read) {
            const bool s = c->readFaultAt(frame, read).right;
            EXPECT_EQ(s, f.strikes(frame, read));
            EXPECT_FALSE(c->readFaultAt(frame, read).left);
            struck += s ? 1 : 0;
        }
    EXPECT_GT(struck, 40);
    EXPECT_LT(struck, 80);
    // Recording the frame again starts its count anew.
    dat::DatFrame frame;
    ASSERT_TRUE(c->readFrame(10, frame.data(), error));
    ASSERT_TRUE(c->writeFrame(10, frame.data(), error));
    EXPECT_EQ(c->noteRead(10), 0u);
}

TEST(Cassette, ChancesAsTheCommandLineWritesThem)
{
    struct Case {
        const char* text;
        bool ok;
        std::uint16_t chance;
    };
    const Case cases[] = {{"0.3", true, 3000},   {".25", true, 2500}, {"1", true, 10000},
                          {"1.0", true, 10000},  {"0.0001", true, 1}, {"0", false, 0},
                          {"0.00001", false, 0}, {"1.5", false, 0},   {"abc", false, 0},
                          {"", false, 0},        {"0.", false, 0},    {"-0.3", false, 0},
                          {"30%", false, 0},     {"99999", false, 0}};
    for (const Case& c : cases) {
        std::uint16_t chance = 0;
        EXPECT_EQ(parseChance(c.text, chance), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(chance, c.chance) << c.text;
            EXPECT_EQ(parseChance(chanceText(chance), chance) ? chance : 0, c.chance) << c.text;
        }
    }
    EXPECT_EQ(chanceText(3000), "0.3");
    EXPECT_EQ(chanceText(1), "0.0001");
}

TEST(Cassette, KeepsTheDriveStateAndOpensCassettesThatHaveNone)
{
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("c.tvs");
    // Where the drive state lies: right after the last audio slot of a 1-minute tape.
    const std::uint64_t audio = (4096 + 64 * 2000 + 4095) / 4096 * 4096;
    const off_t stateAt = static_cast<off_t>(audio + 5760 * 2000);
    DriveState want;
    want.media = DriveState::Media::Loaded;
    want.head = 1234;
    want.motion = DriveState::Motion::Eject;
    want.to = 0;
    want.moveStartUs = 1'700'000'000'000'000;
    want.viaUs = want.moveStartUs + 500;
    want.moveEndUs = want.viaUs + 500;
    std::string error;
    {
        auto c = Cassette::create(path, 1, error);
        ASSERT_TRUE(c) << error;
        DriveState none;
        EXPECT_TRUE(c->driveState(none));
        EXPECT_EQ(none.media, DriveState::Media::NotKept);
        ASSERT_TRUE(c->setDriveState(want, error)) << error;
    }
    {
        auto c = Cassette::open(path, Cassette::Access::ReadOnly, error);
        ASSERT_TRUE(c) << error;
        DriveState got;
        ASSERT_TRUE(c->driveState(got));
        EXPECT_EQ(got, want);
        EXPECT_FALSE(c->setDriveState(DriveState{}, error));
    }
    // A torn record is no state at all.
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(stateAt + 17);
        f.put('\x7F');
    }
    {
        auto c = Cassette::open(path, Cassette::Access::ReadWrite, error);
        ASSERT_TRUE(c) << error;
        DriveState got;
        EXPECT_FALSE(c->driveState(got));
    }
    // A cassette from before the drive state was kept opens, and keeps one from then on.
    ASSERT_EQ(::truncate(path.c_str(), stateAt), 0);
    {
        auto c = Cassette::open(path, Cassette::Access::ReadWrite, error);
        ASSERT_TRUE(c) << error;
        DriveState got;
        EXPECT_FALSE(c->driveState(got));
        ASSERT_TRUE(c->setDriveState(want, error)) << error;
    }
    auto c = Cassette::open(path, Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    DriveState got;
    ASSERT_TRUE(c->driveState(got));
    EXPECT_EQ(got, want);
}

TEST(Cassette, IsBuiltUnderATemporaryNameAndNamedWhenComplete)
{
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("c.tvs");
    const auto names = [&] {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            v.push_back(e.path().filename().string());
        return v;
    };
    std::string error;
    {
        auto c = Cassette::createUnpublished(path, 1, error);
        ASSERT_TRUE(c) << error;
        recordFrames(*c, 0, 3, 1, dat::framesToAbs(0));
        const auto building = names();
        ASSERT_EQ(building.size(), 1u);
        EXPECT_EQ(building[0].rfind("c.tvs.", 0), 0u) << building[0];
        EXPECT_NE(building[0].find(".part"), std::string::npos) << building[0];
        // Given up before it was complete: nothing is left.
    }
    EXPECT_TRUE(names().empty());

    auto c = Cassette::createUnpublished(path, 1, error);
    ASSERT_TRUE(c) << error;
    recordFrames(*c, 0, 3, 1, dat::framesToAbs(0));
    ASSERT_TRUE(c->publish(error)) << error;
    c.reset();
    EXPECT_EQ(names(), std::vector<std::string>{"c.tvs"});
    EXPECT_EQ(Cassette::open(path, Cassette::Access::ReadOnly, error)->recordedEnd(), 3);

    // An existing name is refused up front, and a file that takes the name meanwhile is kept.
    EXPECT_FALSE(Cassette::createUnpublished(path, 1, error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    const std::string other = dir.file("d.tvs");
    c = Cassette::createUnpublished(other, 1, error);
    ASSERT_TRUE(c) << error;
    {
        std::ofstream meanwhile(other);
        meanwhile << "someone else's";
    }
    EXPECT_FALSE(c->publish(error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    c.reset();
    std::ifstream kept(other);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "someone else's");
    EXPECT_EQ(names().size(), 2u);
}

TEST(CassetteTools, FromImageHoldsEveryFrameByteForByte)
{
    tarnvel::test::TempDir dir;
    CollectingMessageSink sink;
    const std::string image = dir.file("s.TVI");
    ASSERT_TRUE(formats::writeSampleImage(image, 2500, sink));
    std::string error;
    std::uint32_t frames = 0;
    const std::string path = dir.file("c.tvs");
    ASSERT_TRUE(createCassetteFromImage(path, 0, image, frames, error)) << error;
    EXPECT_EQ(frames, 2500u);
    auto c = Cassette::open(path, Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->minutes(), 60);
    EXPECT_EQ(c->recordedEnd(), 2500);
    formats::SampleTape tape(2500);
    dat::DatFrame f;
    for (int i = 0; i < 2500; ++i) {
        const dat::DatFrame& expected = tape.next();
        ASSERT_TRUE(c->readFrame(i, f.data(), error));
        ASSERT_EQ(std::memcmp(f.data(), expected.data(), dat::kFrameBytes), 0) << i;
    }
    c.reset();

    // Too long for the length asked for, a broken image, an existing file: no file is left
    // behind, and an existing one is untouched.
    EXPECT_FALSE(createCassetteFromImage(dir.file("d.tvs"), 1, image, frames, error));
    EXPECT_NE(error.find("holds only 2000"), std::string::npos) << error;
    {
        std::ofstream bad(dir.file("bad.TVI"), std::ios::binary);
        bad << "TVI garbage";
    }
    EXPECT_FALSE(createCassetteFromImage(dir.file("e.tvs"), 0, dir.file("bad.TVI"), frames, error));
    EXPECT_FALSE(createCassetteFromImage(path, 0, image, frames, error));
    for (const char* name : {"d.tvs", "e.tvs"})
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    EXPECT_TRUE(Cassette::open(path, Cassette::Access::ReadOnly, error)) << error;
}

TEST(CassetteTools, FrameRanges)
{
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t first, last;
    };
    const Case cases[] = {{"10-20", true, 10, 20}, {"7", true, 7, 7},
                          {"20-10", false, 0, 0},  {"", false, 0, 0},
                          {"a-3", false, 0, 0},    {"-3", false, 0, 0},
                          {"3-", false, 0, 0},     {"4294967296", false, 0, 0}};
    for (const Case& c : cases) {
        std::uint32_t a = 0, b = 0;
        EXPECT_EQ(parseFrameRange(c.text, a, b), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(a, c.first);
            EXPECT_EQ(b, c.last);
        }
    }
}

} // namespace
} // namespace tarnvel::sim::test
