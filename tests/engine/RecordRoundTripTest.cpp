#include "RecordDeckFixture.h"
#include "record/RecFileList.h"

// Archive a tape to WAV files with a cue list, record the cue list onto a blank cassette,
// archive that again: the audio, the program numbers and the formats come back the same.
namespace tarnvel::engine::test {
namespace {

struct TapeProgram {
    int rate;
    bool extended; // 24-bit frame pairs
    int frames;    // tape frames
};

// A tape of programs 1, 2, ... in the given formats, as a recorder writes it.
void buildTape(sim::Cassette& c, const std::vector<TapeProgram>& programs)
{
    TapeBuilder b(c);
    int pairBlock = 0;
    for (std::size_t p = 0; p < programs.size(); ++p) {
        const TapeProgram& t = programs[p];
        b.format(t.extended ? 2 * t.rate : t.rate);
        b.start(static_cast<int>(p) + 1);
        if (t.extended) {
            for (int i = 0; i < t.frames / 2; ++i, ++pairBlock) {
                b.frame24(pairBlock, true);
                b.frame24(pairBlock, false);
            }
        } else {
            b.frames(t.frames);
        }
    }
}

class RecordRoundTripTest : public RecordDeckTest {
protected:
    // Writes the programs as WAV files and their list as a cue file; returns its path.
    std::string archive(const std::vector<Program>& programs, const std::string& prefix)
    {
        CollectingMessageSink sink;
        record::RecFileList list(sink);
        record::RecFileSettings listSettings;
        listSettings.postSilenceSec = 0; // the programs follow each other as on the tape
        list.show(listSettings);
        for (const Program& p : programs) {
            if (p.pNo < 1)
                continue;
            tarnvel::test::WavFixture f;
            f.tag = p.format.formatTag;
            f.rate = p.format.samplesPerSec;
            f.bits = p.format.bitsPerSample;
            f.data = p.audio;
            const std::string path = dir.file(prefix + std::to_string(p.pNo) + ".WAV");
            f.write(path);
            EXPECT_TRUE(list.registerFile(path)) << path;
        }
        const std::string cue = dir.file(prefix + ".TVC");
        EXPECT_TRUE(list.saveCueFile(cue));
        EXPECT_TRUE(sink.messages.empty());
        return cue;
    }
};

TEST_F(RecordRoundTripTest, ArchiveRecordArchiveGivesTheSameAudioAndIds)
{
    struct Case {
        const char* name;
        std::vector<TapeProgram> programs;
        int extendedBitLen; // the archive's sample format for 24-bit tapes
    };
    const Case cases[] = {
        {"16-bit at 48, 44.1 and 32 kHz",
         {{48000, false, 80}, {44100, false, 70}, {32000, false, 60}},
         24},
        {"24-bit", {{48000, true, 100}, {48000, true, 60}}, 24},
        {"float", {{48000, true, 100}, {44100, true, 60}}, -32},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string source = dir.file("source.tvs");
        std::filesystem::remove(source);
        {
            std::string error;
            auto c = sim::Cassette::create(source, 1, error);
            ASSERT_TRUE(c) << error;
            buildTape(*c, k.programs);
        }
        const std::vector<Program> first = playBack(source, k.extendedBitLen);
        ASSERT_EQ(first.size(), k.programs.size()); // no audio before the first ID
        const std::string cue = archive(first, "a");

        // The cue list, read back as the record-from-file dialog reads it.
        CollectingMessageSink sink;
        record::RecFileList list(sink);
        list.show(record::RecFileSettings{});
        ASSERT_TRUE(list.loadCueFile(cue));
        ASSERT_EQ(list.count(), static_cast<int>(k.programs.size()));

        deck.reset();
        simDrive.reset();
        std::filesystem::remove(cassettePath);
        blankTapeWithLeadIn();
        RecordFromFileRequest r;
        r.nextEntry = [&list](bool f) { return list.nextFileEntry(f); };
        recordFiles(r);
        ASSERT_FALSE(deck->lastRecordFailed()) << ::testing::PrintToString(view.messages);
        deck.reset();
        simDrive.reset();

        const std::vector<Program> second = playBack(cassettePath, k.extendedBitLen);
        ASSERT_EQ(second.size(), first.size() + 1); // the lead-in's silence comes first
        EXPECT_EQ(second[0].pNo, 0);
        for (std::size_t i = 0; i < first.size(); ++i) {
            const Program& a = first[i];
            const Program& b = second[i + 1];
            EXPECT_EQ(b.pNo, a.pNo) << i;
            EXPECT_EQ(b.format, a.format) << i;
            EXPECT_TRUE(b.audio == a.audio)
                << i << ": " << b.audio.size() << " bytes against " << a.audio.size();
        }
    }
}

} // namespace
} // namespace tarnvel::engine::test
