#include "sim/DemoTape.h"

#include "sim/CassetteTools.h"
#include "sim/SimTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tarnvel::sim::test {
namespace {

using L = DemoLayout;

class DemoTape : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new tarnvel::test::TempDir;
        std::string error;
        ASSERT_TRUE(createDemoCassette(dir->file("demo.tvs"), error)) << error;
    }
    static void TearDownTestSuite() { delete dir; }
    static std::string path() { return dir->file("demo.tvs"); }
    static tarnvel::test::TempDir* dir;
};
tarnvel::test::TempDir* DemoTape::dir = nullptr;

TEST_F(DemoTape, CarriesTheIdsDatesAndFaultsOfARealRecording)
{
    std::string error;
    CassetteSummary s;
    ASSERT_TRUE(summarizeCassette(path(), s, error)) << error;
    EXPECT_EQ(s.minutes, 60);
    EXPECT_EQ(s.recordedEnd, L::kRecordedEnd);
    EXPECT_EQ(s.recordedFrames, L::kRecordedEnd);
    using K = CassetteId::Kind;
    struct Want {
        K kind;
        std::int64_t frame;
        int program;
        int absFrames;
    };
    const Want want[] = {
        {K::LeadIn, 0, 0, 108},
        {K::Start, L::programStart(1), 1, 66},
        {K::Start, L::programStart(2), 2, 66 + 667},
        {K::Skip, L::kSkipFrame, 0, 66 + 667 + 400},
        {K::Start, L::programStart(3), 3, 66 + 2 * 667},
        {K::End, L::kEndStart, 0, 66 + 3 * 667},
    };
    ASSERT_EQ(s.ids.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s.ids[i].kind, want[i].kind);
        EXPECT_EQ(s.ids[i].frame, want[i].frame);
        EXPECT_EQ(s.ids[i].program, want[i].program);
        EXPECT_EQ(dat::absToFrames(s.ids[i].abs), want[i].absFrames);
        EXPECT_EQ(s.ids[i].hasDate, want[i].kind != K::LeadIn);
    }
    EXPECT_EQ(s.ids[1].date[0], 0x24); // 2024
    ASSERT_EQ(s.faults.size(), 3u);

    auto c = Cassette::open(path(), Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    dat::DatFrame f;
    ASSERT_TRUE(c->readFrame(L::kLeadInFrames - 1, f.data(), error));
    EXPECT_EQ(*dat::absTimeOf(f.subcode), (dat::TimeCode{0, 0, 0, 1})); // lead-in counts down
    ASSERT_TRUE(c->readFrame(L::programStart(2) + 10, f.data(), error));
    const dat::MainIdFields main = f.subcode.mainIdFields();
    EXPECT_EQ(main.sampleF, 0); // 48 kHz
    EXPECT_EQ(main.quantize, 0);

    const auto lines = cassetteInfoLines(s);
    const auto has = [&](const char* text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("START ID 3"));
    EXPECT_TRUE(has("frames 1841-1843  both"));
    EXPECT_TRUE(has("frames 0-2474 (2475 frames"));
    // Lead-in times count down and carry a minus sign, as the drive commands show them.
    EXPECT_TRUE(has("frame       0  ABS-00h00m03s08  Lead-in"));
    EXPECT_TRUE(has("frame     174  ABS 00h00m02s00  START ID 1"));
}

TEST_F(DemoTape, ProgramsAreMusicNotSilenceOrATone)
{
    std::string error;
    auto c = Cassette::open(path(), Cassette::Access::ReadOnly, error);
    ASSERT_TRUE(c) << error;
    dat::DatFrame f;
    for (int p = 1; p <= 3; ++p) {
        SCOPED_TRACE(p);
        std::vector<double> rms;
        std::vector<int> crossings;
        bool stereo = false;
        for (std::int64_t i = 20; i < L::kProgramFrames - 40; i += 5) {
            ASSERT_TRUE(c->readFrame(L::programStart(p) + i, f.data(), error));
            double sum = 0;
            int zc = 0;
            int prev = 0;
            for (std::size_t k = 0; k < 1440; ++k) {
                const int left = static_cast<std::int16_t>(f.audioWord(2 * k));
                const int right = static_cast<std::int16_t>(f.audioWord(2 * k + 1));
                sum += double(left) * left;
                zc += (left >= 0) != (prev >= 0);
                prev = left;
                stereo = stereo || std::abs(left - right) > 100;
            }
            rms.push_back(std::sqrt(sum / 1440));
            crossings.push_back(zc);
        }
        const auto [minR, maxR] = std::minmax_element(rms.begin(), rms.end());
        const auto [minZ, maxZ] = std::minmax_element(crossings.begin(), crossings.end());
        EXPECT_GT(*minR, 300.0);     // never silent
        EXPECT_GT(*maxR, 2 * *minR); // notes and beats come and go
        EXPECT_GT(*maxZ, 2 * *minZ); // the pitch content changes
        EXPECT_TRUE(stereo);
    }
}

// The demo tape through the drive: located by program number and by ABS time, read to the
// end with the damaged frames flagged, and the end of data reported.
TEST_F(DemoTape, PlaysThroughTheSimulatedDrive)
{
    std::string error;
    auto drive = SimulatedDrive::open(path(), fastOptions(), error);
    ASSERT_TRUE(drive) << error;
    const auto cmd = [&](std::vector<std::uint8_t> cdb, std::uint8_t* buf = nullptr,
                         std::uint32_t n = 0) {
        return drive->command(cdb.data(), cdb.size(),
                              buf ? scsi::DataDirection::In : scsi::DataDirection::None, buf, n);
    };
    for (int i = 0; i < 400 && cmd({0, 0, 0, 0, 0, 0}).status != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::uint8_t list[12] = {0, 0, 0, 8, 0x80, 0, 0, 0, 0, 0, 2, 0};
    ASSERT_EQ(drive
                  ->command(std::vector<std::uint8_t>{0x15, 0, 0, 0, 12, 0}.data(), 6,
                            scsi::DataDirection::Out, list, 12)
                  .status,
              0);
    ASSERT_EQ(cmd({0x2B, 4, 0, 0, 0, 0, 3, 0, 0, 0}).status, 0);
    EXPECT_EQ(drive->observe().head, L::programStart(3));
    ASSERT_EQ(cmd({0x2B, 4, 0, 0x20, 0x00, 0x00, 0x22, 0x00, 0, 0}).status, 0);
    EXPECT_EQ(drive->observe().head, L::programStart(2));

    dat::DatFrame f;
    int flagged = 0;
    std::int64_t frames = 0;
    scsi::TargetReply r;
    while ((r = cmd({0x08, 0, 0x00, 0x16, 0xBE, 0}, f.data(), dat::kFrameBytes)).status == 0) {
        ++frames;
        flagged += (f.subcode.subId(3) & 0x60) != 0;
    }
    EXPECT_EQ(frames, L::kRecordedEnd - L::programStart(2));
    EXPECT_EQ(flagged, 2 + 3);
    EXPECT_EQ(senseKey(r), 8);
    EXPECT_EQ(asc(r), 0);
    EXPECT_EQ(ascq(r), 5);
}

// The command line makes, damages and describes cassettes.
TEST(SimCommandLine, NewDamageInfo)
{
    tarnvel::test::TempDir dir;
    const std::string file = dir.file("t.tvs");
    const std::string out = dir.file("out.txt");
    const auto run = [&](const std::string& args) {
        return std::system((std::string(TARNVEL_CLI) + " " + args + " >" + out + " 2>&1").c_str());
    };
    const auto output = [&] {
        std::ifstream in(out);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    ASSERT_EQ(run("sim new " + file + " --minutes 30"), 0) << output();
    EXPECT_NE(run("sim new " + file), 0);
    EXPECT_NE(output().find("already exists"), std::string::npos) << output();
    ASSERT_EQ(run("sim damage " + file + " --frames 100-120 --kind right --write-fail-at 7"), 0)
        << output();
    EXPECT_NE(run("sim damage " + file + " --frames 100 --kind sideways"), 0);
    ASSERT_EQ(run("sim damage " + file + " --frames 200-300 --kind both --chance 0.3 --seed 7"), 0)
        << output();
    EXPECT_NE(output().find("frames 200-300 are now both on a chance of 0.3 per read (seed 7)"),
              std::string::npos)
        << output();
    EXPECT_NE(run("sim damage " + file + " --frames 5 --kind left --chance 0"), 0);
    EXPECT_NE(output().find("--chance takes a number above 0"), std::string::npos) << output();
    EXPECT_NE(run("sim damage " + file + " --frames 5 --kind left --seed 3"), 0);
    ASSERT_EQ(run("sim info " + file), 0) << output();
    const std::string info = output();
    EXPECT_NE(info.find("30 minutes (60000 frames)"), std::string::npos) << info;
    EXPECT_NE(info.find("never"), std::string::npos) << info;
    EXPECT_NE(info.find("frames 100-120  right"), std::string::npos) << info;
    EXPECT_NE(info.find("frames 7-7  write-fail"), std::string::npos) << info;
    EXPECT_NE(info.find("frames 200-300  both on a chance of 0.3 per read (seed 7)"),
              std::string::npos)
        << info;
}

} // namespace
} // namespace tarnvel::sim::test
