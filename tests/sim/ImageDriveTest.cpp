#include "formats/ImageReader.h"
#include "formats/ImageWriter.h"
#include "formats/WaveFileReader.h"
#include "sim/DriveSelect.h"
#include "sim/ImageTape.h"
#include "sim/SimTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

// A tape image in a read-only drive: the frames, positions and searches of the tape it came
// from, and no writing.
namespace tarnvel::sim::test {
namespace {

namespace fs = std::filesystem;
using dat::TimeCode;
using scsi::kTargetGood;

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ImageDrive : public DriveFixture {
protected:
    std::string imagePath = dir.file("tape.TVI");
    std::vector<dat::DatFrame> frames;

    // Program 1 for 320 frames, program 2 for 320; frame 350 read with its right channel
    // concealed.
    void SetUp() override
    {
        dat::DatFrame frame;
        dat::RecSubcodeState state;
        dat::initRecSubcode(frame.subcode, state, dat::kIdControlNone, TimeCode{0, 0, 0, 0}, 0, 0,
                            48000, false, 0);
        for (int i = 0; i < 640; ++i) {
            if (i == 0 || i == 320)
                dat::startIdRun(frame.subcode, state, dat::kIdControlStart, i == 0 ? 1 : 2);
            for (std::size_t k = 0; k < dat::kAudioBytes; ++k)
                frame.audio[k] = static_cast<std::uint8_t>(k * 7 + static_cast<std::size_t>(i));
            frames.push_back(frame);
            if (i == 350)
                frames.back().subcode.bytes[dat::kSubIdOffset + 3] = dat::kSubIdInterpolatedRight;
            dat::advanceRecSubcode(frame.subcode, state);
        }
        CollectingMessageSink sink;
        formats::ImageWriter w(sink);
        ASSERT_TRUE(w.create(imagePath, "pass 1"));
        for (const auto& f : frames)
            ASSERT_EQ(w.append(f), dat::kFrameBytes);
        ASSERT_TRUE(w.finalise(false));
        std::string error;
        drive = SimulatedDrive::openImage(imagePath, fastOptions(), error);
        ASSERT_TRUE(drive) << error;
        bringUp();
    }
};

TEST_F(ImageDrive, PlaysSearchesAndPositionsAsTheTapeAndRefusesWrites)
{
    std::uint8_t inquiry[44] = {};
    ASSERT_EQ(send({0x12, 0, 0, 0, 44, 0}, scsi::DataDirection::In, inquiry, sizeof inquiry).status,
              kTargetGood);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 16), 16), "IMAGE DRIVE     ");

    // Every frame as the image holds it, the drive's flags included, then the end of the data.
    dat::DatFrame f;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(readFrame(f).status, kTargetGood) << i;
        ASSERT_EQ(std::memcmp(f.data(), frames[i].data(), dat::kFrameBytes), 0) << i;
    }
    const TargetReply end = readFrame(f);
    EXPECT_EQ(senseKey(end), 8);
    EXPECT_EQ(ascq(end), 5);

    ASSERT_EQ(locateProgram(2).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, 320);
    ASSERT_EQ(locateAbs(dat::framesToAbs(366)).status, kTargetGood);
    std::uint8_t pos[20];
    ASSERT_EQ(readPosition(pos).status, kTargetGood);
    EXPECT_EQ(absOf(pos), dat::framesToAbs(366));
    EXPECT_EQ(pos[4] * 100 + pos[5] * 10 + pos[6], 2);
    // A program the tape does not hold winds to the end of the recording.
    ASSERT_EQ(locateProgram(799).status, kTargetGood);
    EXPECT_EQ(drive->observe().head, 640);
    // Beyond the recording a time is not found.
    EXPECT_EQ(senseKey(locateAbs(dat::framesToAbs(700))), 8);

    std::uint8_t sense[12] = {};
    ASSERT_EQ(send({0x1A, 0, 0, 0, 12, 0}, scsi::DataDirection::In, sense, sizeof sense).status,
              kTargetGood);
    EXPECT_EQ(sense[2] & 0x80, 0x80); // write-protected
    ASSERT_EQ(rewind().status, kTargetGood);
    const TargetReply w = writeFrame(frames[0]);
    EXPECT_EQ(senseKey(w), 7);
    EXPECT_EQ(asc(w), 0x27);
    // Nothing changed.
    ASSERT_EQ(readFrame(f).status, kTargetGood);
    EXPECT_EQ(std::memcmp(f.data(), frames[0].data(), dat::kFrameBytes), 0);
}

TEST(ImageDriveSpec, NamesTheImageOrWhyNot)
{
    tarnvel::test::TempDir dir;
    struct Case {
        const char* spec;
        DriveSpec::Kind kind;
        const char* path;
    };
    const Case cases[] = {{"", DriveSpec::Kind::FirstFound, ""},
                          {"sim:a.tvs", DriveSpec::Kind::Simulated, "a.tvs"},
                          {"image:/x/b.TVI", DriveSpec::Kind::Image, "/x/b.TVI"},
                          {"/dev/sg3", DriveSpec::Kind::Device, "/dev/sg3"},
                          {"/dev/nst0", DriveSpec::Kind::Device, "/dev/nst0"},
                          {"tape", DriveSpec::Kind::Unknown, "tape"}};
    for (const Case& c : cases) {
        const DriveSpec d = parseDriveSpec(c.spec);
        EXPECT_EQ(d.kind, c.kind) << c.spec;
        EXPECT_EQ(d.path, c.path) << c.spec;
    }
    EXPECT_TRUE(isSimulatedSpec("image:b.TVI"));
    EXPECT_FALSE(isSimulatedSpec("/dev/sg3"));

    // A missing, broken or empty image is refused with its reason.
    std::string error;
    DriveRequest r;
    r.spec = "image:" + dir.file("missing.TVI");
    EXPECT_FALSE(openDriveObject(r, error));
    EXPECT_NE(error.find("file not found"), std::string::npos) << error;
    std::ofstream(dir.file("bad.TVI")) << "TVI garbage";
    EXPECT_FALSE(ImageTape::open(dir.file("bad.TVI"), error));
    EXPECT_NE(error.find("bad.TVI"), std::string::npos) << error;
    CollectingMessageSink sink;
    formats::ImageWriter w(sink);
    ASSERT_TRUE(w.create(dir.file("empty.TVI"), ""));
    ASSERT_TRUE(w.finalise(false));
    EXPECT_FALSE(ImageTape::open(dir.file("empty.TVI"), error));
    EXPECT_NE(error.find("holds no frames"), std::string::npos) << error;
}

// The archivist's workflow on an image: what an archive of the image gives is what an archive
// of the tape gives, file for file and byte for byte.
TEST(ImageDriveCommandLine, ArchivingAnImageIsArchivingTheTape)
{
    tarnvel::test::TempDir dir;
    std::string error;
    {
        auto c = Cassette::create(dir.file("tape.tvs"), 2, error);
        ASSERT_TRUE(c) << error;
        recordFrames(*c, 0, 300, 1, TimeCode{0, 0, 0, 0});
        recordFrames(*c, 300, 300, 2, dat::framesToAbs(300), 7);
        ASSERT_TRUE(c->addFault({100, 102, FaultKind::Left}, error));
    }
    const auto run = [&](const std::string& args) {
        const std::string command = "cd '" + dir.path().string() + "' && '" TARNVEL_CLI "' " +
                                    args + " >'" + dir.file("out.txt") + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const auto out = [&] { return slurp(dir.file("out.txt")); };
    ASSERT_EQ(run("--drive sim:tape.tvs image create pass"), 0) << out();
    fs::create_directories(dir.path() / "tape");
    fs::create_directories(dir.path() / "image");
    ASSERT_EQ(run("--drive sim:tape.tvs archive tape/take --no-report"), 0) << out();
    ASSERT_EQ(run("--drive image:pass.TVI archive image/take --no-report"), 0) << out();
    for (const char* name : {"take01.WAV", "take02.WAV"}) {
        const std::string a = slurp(dir.path() / "tape" / name);
        ASSERT_GT(a.size(), 300u * dat::kAudioBytes) << name;
        EXPECT_TRUE(a == slurp(dir.path() / "image" / name)) << name;
    }
    // The cue lists differ only in the folder names.
    std::string cue = slurp(dir.path() / "image" / "take.TVC");
    for (std::size_t at; (at = cue.find("/image/")) != std::string::npos;)
        cue.replace(at, 7, "/tape/");
    EXPECT_EQ(cue, slurp(dir.path() / "tape" / "take.TVC"));
    EXPECT_NE(cue.find("Err: 3,0,0"), std::string::npos) << cue;

    ASSERT_EQ(run("--drive image:pass.TVI search --pno 2"), 0) << out();
    // Each run threads the image from its beginning (nothing is kept with a read-only image).
    ASSERT_EQ(run("--drive image:pass.TVI position"), 0) << out();
    EXPECT_NE(out().find("PNo 001"), std::string::npos) << out();
    // Nothing records onto an image.
    EXPECT_NE(run("--drive image:pass.TVI write-id start 3 --yes"), 0);
    EXPECT_EQ(slurp(dir.file("pass.TVI")).size(), 124u + 600u * dat::kFrameBytes);
}

} // namespace
} // namespace tarnvel::sim::test
