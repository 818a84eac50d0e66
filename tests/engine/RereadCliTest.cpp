#include "DeckFixture.h"
#include "dat/StatusPoll.h"
#include "engine/ArchiveReport.h"
#include "engine/Rereader.h"
#include "formats/ImageReader.h"
#include "formats/StringPrintf.h"
#include "recovery/FrameCondition.h"
#include "sim/DriveSelect.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

// Re-reading a damaged tape while archiving it or imaging it: the damage is intermittent, so
// reading a stretch again brings every frame back; what stays unreadable is listed and filled.
namespace tarnvel::engine::test {
namespace {

namespace fs = std::filesystem;
using formats::stringPrintf;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class Reread : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;

    // Two programs of 400 frames; "clean.tvs" stays undamaged.
    void SetUp() override
    {
        std::string error;
        {
            auto c = sim::Cassette::create(dir.file("clean.tvs"), 2, error);
            ASSERT_TRUE(c) << error;
            TapeBuilder b(*c);
            b.start(1);
            b.frames(400);
            b.start(2);
            b.frames(400);
        }
    }
    // A copy of the clean tape with `faults`: every run gets a fresh copy, so that the read
    // counts the intermittent faults go by start from nothing each time.
    std::string damaged(const std::string& name, const std::vector<sim::Fault>& faults)
    {
        const std::string path = dir.file(name);
        fs::copy_file(dir.file("clean.tvs"), path, fs::copy_options::overwrite_existing);
        std::string error;
        auto c = sim::Cassette::open(path, sim::Cassette::Access::ReadWrite, error);
        EXPECT_TRUE(c) << error;
        for (const sim::Fault& f : faults)
            EXPECT_TRUE(c->addFault(f, error)) << error;
        return path;
    }
    int run(const std::string& arguments)
    {
        const std::string command = "cd '" + dir.path().string() + "' && '" TARNVEL_CLI "' " +
                                    arguments + " >'" + dir.file("out.txt") + "' 2>'" +
                                    dir.file("err.txt") + "'";
        const int status = std::system(command.c_str());
        out = readFile(dir.file("out.txt"));
        err = readFile(dir.file("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The SHA-256 of the samples of every WAV file of an archive, in file order.
    std::vector<std::string> audioHashes(const std::string& base)
    {
        std::vector<std::string> hashes;
        for (const char* n : {"01", "02"}) {
            std::string whole, data, error;
            EXPECT_TRUE(waveFileSha256(dir.file(base + n + ".WAV"), whole, data, error)) << error;
            hashes.push_back(data);
        }
        return hashes;
    }
    std::string out, err;

    // Intermittent damage in three places: the left channel in the first program, the right
    // one in the second, both channels across the division between them.
    const std::vector<sim::Fault> threeRanges{
        {60, 110, sim::FaultKind::Left, 3000, 11},
        {420, 460, sim::FaultKind::Both, 3000, 22},
        {600, 650, sim::FaultKind::Right, 3000, 33},
    };
};

TEST_F(Reread, IntermittentDamageIsReadAgainUntilTheArchiveEqualsTheUndamagedOne)
{
    ASSERT_EQ(run("--drive sim:clean.tvs archive ref"), 0) << err << out;
    const std::vector<std::string> reference = audioHashes("ref");

    // Without re-reading the damage is in the files.
    damaged("plain.tvs", threeRanges);
    ASSERT_EQ(run("--drive sim:plain.tvs archive plain"), 0) << err << out;
    EXPECT_NE(audioHashes("plain"), reference);
    const std::string plainCue = readFile(dir.file("plain.TVC"));
    EXPECT_GT(count(plainCue, ";; Err:"), 0u) << plainCue;

    damaged("again.tvs", threeRanges);
    ASSERT_EQ(run("--drive sim:again.tvs archive again --retries 8"), 0) << err << out;
    EXPECT_EQ(audioHashes("again"), reference);
    const std::string cue = readFile(dir.file("again.TVC"));
    EXPECT_EQ(count(cue, "Err: 0,0,0"), 2u) << cue;
    EXPECT_EQ(count(cue, ";; Err:"), 0u) << cue;
    // Files divided and named as on the undamaged tape.
    std::string refCue = readFile(dir.file("ref.TVC"));
    for (std::size_t at; (at = refCue.find("ref0")) != std::string::npos;)
        refCue.replace(at, 3, "again");
    EXPECT_EQ(cue, refCue);
    const std::string report = readFile(dir.file("again.log"));
    EXPECT_NE(report.find(" Retries=8\n"), std::string::npos) << report;
    // Every bad frame of each file was read again and recovered.
    std::size_t reread = 0;
    for (std::size_t at = report.find("  Re-read: "); at != std::string::npos;
         at = report.find("  Re-read: ", at + 1)) {
        unsigned frames = 0, recovered = 0;
        ASSERT_EQ(std::sscanf(report.c_str() + at, "  Re-read: %u frames, recovered %u", &frames,
                              &recovered),
                  2);
        EXPECT_GT(frames, 0u) << report;
        EXPECT_EQ(recovered, frames) << report;
        reread += frames;
    }
    EXPECT_EQ(count(report, "  Re-read: "), 2u) << report;
    EXPECT_NE(out.find(stringPrintf("Re-read %zu bad frames, recovered %zu", reread, reread)),
              std::string::npos)
        << out;
    EXPECT_EQ(run("verify again.log"), 0) << out;

    // --retries 0 is the run without re-reading, to the byte.
    damaged("zero.tvs", threeRanges);
    ASSERT_EQ(run("--drive sim:zero.tvs archive zero --retries 0"), 0) << err << out;
    EXPECT_EQ(audioHashes("zero"), audioHashes("plain"));
    std::string zeroCue = readFile(dir.file("zero.TVC"));
    for (std::size_t at; (at = zeroCue.find("zero0")) != std::string::npos;)
        zeroCue.replace(at, 4, "plain");
    EXPECT_EQ(zeroCue, plainCue);
    EXPECT_EQ(readFile(dir.file("zero.log")).find("Re-read"), std::string::npos);
    EXPECT_EQ(out.find("Re-read"), std::string::npos) << out;
}

// A search past a SKIP ID moves the tape away from what the re-reading had read ahead: the run
// goes on from where the tape now plays, as on an undamaged tape.
TEST_F(Reread, ASkipPlayedPastDropsWhatWasReadBeforeIt)
{
    std::string error;
    {
        auto c = sim::Cassette::create(dir.file("skip.tvs"), 2, error);
        ASSERT_TRUE(c) << error;
        TapeBuilder b(*c);
        b.start(1);
        b.frames(300);
        b.skip();
        b.frames(200);
        b.start(2);
        b.frames(300);
    }
    fs::copy_file(dir.file("skip.tvs"), dir.file("clean.tvs"),
                  fs::copy_options::overwrite_existing);
    ASSERT_EQ(run("--drive sim:clean.tvs --set EnableSkipPlay=1 archive ref"), 0) << err << out;
    // Damage from before the SKIP ID well into the part it skips: its stretch reaches past it.
    damaged("again.tvs", {{230, 380, sim::FaultKind::Left, 3000, 7}});
    ASSERT_EQ(run("--drive sim:again.tvs --set EnableSkipPlay=1 archive again --retries 8"), 0)
        << err << out;
    EXPECT_EQ(audioHashes("again"), audioHashes("ref"));
    std::string refCue = readFile(dir.file("ref.TVC"));
    for (std::size_t at; (at = refCue.find("ref0")) != std::string::npos;)
        refCue.replace(at, 3, "again");
    EXPECT_EQ(readFile(dir.file("again.TVC")), refCue);
}

// A frame that no read brings back no longer ends the run: it is a silent frame flagged in
// both channels with its own ABS time, listed as an error frame; an unreadable frame that a
// second read gets is recovered like any other.
TEST_F(Reread, AFrameThatStaysUnreadableIsFilledAndListed)
{
    const std::vector<sim::Fault> faults{
        {200, 200, sim::FaultKind::Unreadable, sim::Fault::kChanceScale, 0},
        {500, 530, sim::FaultKind::Unreadable, 3000, 44},
    };
    ASSERT_EQ(run("--drive sim:clean.tvs image create ref.TVI"), 0) << err << out;

    // Without re-reading the first unreadable frame ends the image.
    damaged("plain.tvs", faults);
    run("--drive sim:plain.tvs image create plain.TVI");
    EXPECT_LT(fs::file_size(dir.file("plain.TVI")), fs::file_size(dir.file("ref.TVI")));

    damaged("image.tvs", faults);
    ASSERT_EQ(run("--drive sim:image.tvs image create again.TVI --retries 4"), 0) << err << out;
    CollectingMessageSink sink;
    formats::ImageReader ref(sink), again(sink);
    ASSERT_TRUE(ref.open(dir.file("ref.TVI"), false));
    ASSERT_TRUE(again.open(dir.file("again.TVI"), false));
    ASSERT_EQ(again.frameCount(), ref.frameCount());
    for (std::uint32_t i = 0; i < ref.frameCount(); ++i) {
        dat::DatFrame a, r;
        ASSERT_TRUE(ref.readFrameAt(i, r));
        ASSERT_TRUE(again.readFrameAt(i, a));
        if (i != 200) {
            ASSERT_EQ(std::memcmp(a.data(), r.data(), dat::kFrameBytes), 0) << "frame " << i;
            continue;
        }
        EXPECT_EQ(dat::decodedAbsTime(a.subcode), dat::decodedAbsTime(r.subcode));
        const std::uint8_t both = dat::kSubIdInterpolatedLeft | dat::kSubIdInterpolatedRight;
        EXPECT_EQ(a.subcode.subId(3) & both, both);
        EXPECT_TRUE(std::all_of(a.audio.begin(), a.audio.end(), [](auto b) { return b == 0; }));
    }

    damaged("wave.tvs", faults);
    ASSERT_EQ(run("--drive sim:wave.tvs archive wave --retries 4"), 0) << err << out;
    const std::string cue = readFile(dir.file("wave.TVC"));
    EXPECT_EQ(count(cue, ";; Err:"), 1u) << cue;
    EXPECT_NE(cue.find("Err: 1,1,0"), std::string::npos) << cue;
    EXPECT_NE(cue.find(";; Err:" + dat::timeText(dat::framesToAbs(200)) + " LR"), std::string::npos)
        << cue;
    const std::string report = readFile(dir.file("wave.log"));
    EXPECT_NE(report.find("Errors at:" + dat::timeText(dat::framesToAbs(200)) + " LR"),
              std::string::npos)
        << report;
}

// The feed on its own, on the play path's ring: every frame once, in tape order, whether the
// passes run or a stop cuts them short (the frames then go on as first read).
TEST_F(Reread, TheFeedHandsOnEveryFrameOnceInTapeOrderAlsoWhenStopped)
{
    const std::vector<sim::Fault> faults{
        {100, 140, sim::FaultKind::Both, 3000, 5},
        {200, 200, sim::FaultKind::Unreadable, sim::Fault::kChanceScale, 0},
        {300, 310, sim::FaultKind::Left, 3000, 6},
    };
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stopped" : "passes run");
        sim::DriveRequest request;
        request.spec = "sim:" + damaged(stop ? "stop.tvs" : "run.tvs", faults);
        sim::SelectedDrive s = sim::selectDrive(request);
        ASSERT_TRUE(s.drive) << s.error;
        dat::StatusPoller poller(*s.drive, s.index);
        ASSERT_EQ(dat::pollUntilSettled(poller, 200, 10).status, dat::kUnitReady);
        ASSERT_EQ(s.drive->rewind(s.index, false), scsi::kSsComp);
        Rereader feed(*s.drive, s.index, 8, [stop] { return stop; });
        s.drive->setFrameFeed(s.index, &feed);
        int expected = 0;
        int bad = 0;
        int reread = 0;
        dat::DatFrame frame;
        while (s.drive->readFrameAhead(s.index, frame) != nullptr) {
            ASSERT_EQ(dat::absToFrames(dat::decodedAbsTime(frame.subcode)), expected);
            const recovery::FrameCondition c = recovery::FrameCondition::of(frame);
            EXPECT_EQ(c.unreadable, expected == 200) << expected;
            bad += c.clean() ? 0 : 1;
            reread += (s.drive->takenNote(s.index) & Rereader::kNoteReread) != 0 ? 1 : 0;
            ++expected;
        }
        s.drive->setFrameFeed(s.index, nullptr);
        EXPECT_EQ(expected, 800);
        EXPECT_EQ(reread, static_cast<int>(feed.framesReread()));
        if (stop) {
            EXPECT_GT(bad, 1);
            EXPECT_EQ(feed.framesRecovered(), 0u);
        } else {
            EXPECT_EQ(bad, 1); // the frame no read brings back
            EXPECT_EQ(feed.framesRecovered(), feed.framesReread() - 1);
        }
    }
}

} // namespace
} // namespace tarnvel::engine::test
