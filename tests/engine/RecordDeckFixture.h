#pragma once

#include "DeckFixture.h"
#include "dat/StatusPoll.h"
#include "engine/Playback.h"
#include "support/WavFixture.h"

#include <cstring>
#include <filesystem>
#include <optional>

// Recording scenarios: a deck on a simulated drive records WAV lists, images, the sound input
// and the other instance's blocks; the cassette is then read back frame by frame, or played
// through the playback pipeline into one block of audio per program.
namespace tarnvel::engine::test {

// Sample value k of a generated file (`seed` tells files apart); within 24 bits.
inline std::int32_t fileSample(int seed, std::size_t k, int bits)
{
    const auto v = static_cast<std::int32_t>(
        (k * 7919u + static_cast<std::size_t>(seed) * 104729u) & 0xFFFFFFu);
    const std::int32_t s24 = v & 0x800000 ? v - 0x1000000 : v;
    return bits == 16 ? s24 >> 8 : s24;
}

// A stereo WAV file of `pairs` sample pairs: 16-bit, 24-bit, 32-bit integer or float (bits
// -32). Float samples are 24-bit values scaled by 2^-23, which a tape holds exactly.
inline void writeWav(const std::string& path, std::uint32_t rate, int bits, std::size_t pairs,
                     int seed)
{
    tarnvel::test::WavFixture f;
    f.rate = rate;
    f.bits = static_cast<std::uint16_t>(bits < 0 ? 32 : bits);
    f.tag = bits < 0 ? 3 : 1;
    for (std::size_t k = 0; k < 2 * pairs; ++k) {
        const std::int32_t v = fileSample(seed, k, bits == 16 ? 16 : 24);
        std::uint8_t b[4];
        int n = 0;
        if (bits == 16) {
            b[0] = static_cast<std::uint8_t>(v);
            b[1] = static_cast<std::uint8_t>(v >> 8);
            n = 2;
        } else if (bits == 24) {
            b[0] = static_cast<std::uint8_t>(v);
            b[1] = static_cast<std::uint8_t>(v >> 8);
            b[2] = static_cast<std::uint8_t>(v >> 16);
            n = 3;
        } else if (bits == 32) {
            const auto u = static_cast<std::uint32_t>(v) << 8;
            for (int i = 0; i < 4; ++i)
                b[i] = static_cast<std::uint8_t>(u >> (8 * i));
            n = 4;
        } else {
            const float fv = static_cast<float>(v) / 8388608.0f;
            std::uint32_t u;
            std::memcpy(&u, &fv, 4);
            for (int i = 0; i < 4; ++i)
                b[i] = static_cast<std::uint8_t>(u >> (8 * i));
            n = 4;
        }
        f.data.insert(f.data.end(), b, b + n);
    }
    f.write(path);
}

// What the playback pipeline made of a tape: one block of output audio per program (the
// audio before the first ID in a block of number 0).
struct Program {
    int pNo = 0;
    formats::WaveFormat format;
    std::vector<std::uint8_t> audio;
};

class ProgramCapture : public PlayOutput {
public:
    explicit ProgramCapture(PlaybackPipeline& pipe) : pipe_(pipe) {}
    bool image() const override { return false; }
    bool peer() const override { return false; }
    bool writeFrame(const dat::DatFrame&, std::uint32_t) override { return true; }
    bool writeAudio(const std::uint8_t* data, std::uint32_t bytes, std::uint32_t) override
    {
        if (programs.empty())
            programs.push_back({});
        Program& p = programs.back();
        if (p.audio.empty())
            p.format = pipe_.outputFormat();
        p.audio.insert(p.audio.end(), data, data + bytes);
        return true;
    }
    bool divide(PlaybackPipeline&, const dat::TapePosition& pos) override
    {
        const std::uint32_t c = pos.idChange;
        if ((c >= 1 && c <= 799) || c == 888)
            programs.push_back({static_cast<int>(c), {}, {}});
        return true;
    }
    std::vector<Program> programs;

private:
    PlaybackPipeline& pipe_;
};

// Plays a cassette from its beginning to the end of its recording (or its END ID) through
// the playback pipeline, the way playback to WAV files does.
inline std::vector<Program> playBack(const std::string& path, int extendedBitLen = 24)
{
    std::string error;
    sim::SimOptions o;
    o.cueMilliseconds = 10;
    o.motionScale = 0.01;
    std::shared_ptr<sim::SimulatedDrive> sim = sim::SimulatedDrive::open(path, o, error);
    EXPECT_TRUE(sim) << error;
    if (!sim)
        return {};
    dat::DatDrive drive(false, nullptr);
    drive.addTarget(sim);
    drive.scanDevices(scsi::kTypeSequentialAccess);
    EXPECT_TRUE(drive.identify(0));
    dat::StatusPoller poller(drive, 0);
    EXPECT_EQ(dat::pollUntilSettled(poller, 200, 10).status, dat::kUnitReady);
    EXPECT_EQ(drive.rewind(0, false), scsi::kSsComp);
    PlaySettings settings;
    settings.extendedFormatMode = true;
    settings.extendedFormatBitLen = extendedBitLen;
    settings.errorStopCounter = ~0u;
    settings.absTimeErrorStopCounter = ~0u;
    PlaybackPipeline pipe(drive, 0, settings);
    ProgramCapture capture(pipe);
    pipe.setOutput(&capture);
    pipe.prepareStart(false);
    pipe.buildOutputFormat();
    for (int guard = 0; guard < 1000000; ++guard) {
        if (pipe.fileTurn() != 0)
            continue;
        if (pipe.stopReason() != PlayStop::Held)
            break;
        pipe.buildOutputFormat();
        pipe.prepareStart(true);
    }
    const PlayStop stop = pipe.stopReason();
    EXPECT_TRUE(stop == PlayStop::EndOfTape || stop == PlayStop::EndId) << static_cast<int>(stop);
    return capture.programs;
}

// The entries of a WAV list given directly.
struct EntryList {
    std::vector<record::RecFileEntry> entries;
    std::size_t cursor = 0;
    std::function<std::optional<record::RecFileEntry>(bool)> next()
    {
        return [this](bool first) -> std::optional<record::RecFileEntry> {
            if (first)
                cursor = 0;
            if (cursor < entries.size())
                return entries[cursor++];
            return std::nullopt;
        };
    }
};

class RecordDeckTest : public DeckFixture {
protected:
    // A new receiving cassette for a copy from the other instance: an empty one for image
    // duplication (the image brings its own lead-in), one with its lead-in for audio.
    void freshCopyTarget(bool wholeFrames)
    {
        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        if (wholeFrames) {
            makeTape([](sim::Cassette&) {});
            openDeck();
            waitForTape();
        } else {
            blankTapeWithLeadIn();
        }
    }
    // A never recorded cassette in the drive; the deck offers the lead-in and it is written.
    void blankTapeWithLeadIn(int minutes = 2, sim::SimOptions options = fastSim())
    {
        makeTape([](sim::Cassette&) {}, minutes);
        view.answers.push_back({true, false});
        const std::size_t asked = view.questions.size();
        openDeck(true, options);
        waitForTape();
        ASSERT_EQ(view.questions.size(), asked + 1);
        ASSERT_EQ(deck->drive()->getPosition(deck->driveIndex())->absTime,
                  (dat::TimeCode{0, 0, 0x02, 0}));
    }

    // Records from files and waits for the run to end.
    void recordFiles(const RecordFromFileRequest& request)
    {
        const std::uint64_t ends = deck->recordEnds();
        deck->recordFromFile(request);
        ASSERT_TRUE(
            loop.runUntil([&] { return deck->recordEnds() > ends && deck->idle(); }, 60000));
    }
    void recordList(EntryList& list, bool withSound = false, int preSilence = 0)
    {
        RecordFromFileRequest r;
        r.nextEntry = list.next();
        r.withSound = withSound;
        r.preSilenceSec = preSilence;
        recordFiles(r);
    }

    std::string wav(const std::string& name, std::uint32_t rate, int bits, std::size_t pairs,
                    int seed)
    {
        const std::string path = dir.file(name);
        writeWav(path, rate, bits, pairs, seed);
        return path;
    }

    // The cassette as recorded (the deck lets go of it first).
    std::unique_ptr<sim::Cassette> tape()
    {
        deck.reset();
        simDrive.reset();
        std::string error;
        auto c = sim::Cassette::open(cassettePath, sim::Cassette::Access::ReadOnly, error);
        EXPECT_TRUE(c) << error;
        return c;
    }
    static dat::DatFrame frameAt(const sim::Cassette& c, std::int64_t i)
    {
        dat::DatFrame f;
        std::string error;
        EXPECT_TRUE(c.readFrame(i, f.data(), error)) << error;
        return f;
    }
    // Index of the first frame at or after `from` whose Sub ID has the START flag.
    static std::int64_t nextStart(const sim::Cassette& c, std::int64_t from)
    {
        for (std::int64_t i = from; i < c.recordedEnd(); ++i)
            if (dat::SubcodeBlock::fromBytes(c.subcode(i)).subIdFlags() & dat::kSubIdStart)
                return i;
        return -1;
    }

    // Where recordings begin after the lead-in: ABS 00h00m02s00.
    static constexpr std::int64_t kProgramStart = 108 + 66;
    // The lead-in with its silence ends here.
    static constexpr std::int64_t kLeadInEnd = 108 + 134;
};

} // namespace tarnvel::engine::test
