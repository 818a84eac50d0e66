#include "formats/FlacFileWriter.h"

#include "common/MessageSink.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace tarnvel::formats::test {
namespace {

// Interleaved little-endian samples of a format, a pattern that uses every bit.
std::vector<std::uint8_t> pattern(const WaveFormat& f, std::size_t frames)
{
    std::vector<std::uint8_t> bytes(frames * f.blockAlign);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// The samples given come back from libFLAC's decoder as they went in, for every integer
// width; the final comments replace the first ones, also when they outgrow the padding.
TEST(FlacFileWriter, DecodesToTheSamplesWrittenWithTheFinalComments)
{
    tarnvel::test::TempDir dir;
    const struct {
        std::uint16_t bits;
        std::size_t commentBytes; // of the final description
    } cases[] = {{16, 10}, {24, 100}, {32, 3 * FlacFileWriter::kPaddingBytes}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        CollectingMessageSink sink;
        const WaveFormat f = WaveFormat::make(kWaveFormatPcm, 2, 48000, c.bits);
        const std::string name = dir.file("t" + std::to_string(c.bits) + ".flac");
        const auto samples = pattern(f, 10000);
        {
            FlacFileWriter w(sink);
            w.setFileName(name);
            w.setFormat(f);
            // A label typed in another encoding is no reason to refuse the file.
            w.setTags({{"TRACKNUMBER", "1"}, {"DESCRIPTION", "Caf\xe9 \xc3\xa9"}});
            ASSERT_TRUE(w.create());
            // Pieces of any whole-frame size.
            ASSERT_EQ(w.write(samples.data(), f.blockAlign * 7), f.blockAlign * 7u);
            const std::size_t rest = samples.size() - f.blockAlign * 7;
            ASSERT_EQ(w.write(samples.data() + f.blockAlign * 7, rest), rest);
            w.setTags({{"TRACKNUMBER", "1"},
                       {"DESCRIPTION", std::string(c.commentBytes - 1, 'x') + "\xff"},
                       {"DAT_ERRORS", "L 2, R 0, ABS 0"}});
            ASSERT_TRUE(w.finish(false));
        }
        EXPECT_TRUE(sink.messages.empty());
        std::vector<std::uint8_t> decoded;
        const FlacReadResult r = readFlacFile(name, [&](const std::uint8_t* d, std::size_t n) {
            decoded.insert(decoded.end(), d, d + n);
        });
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.md5Checked);
        EXPECT_EQ(r.format, f);
        EXPECT_TRUE(decoded == samples);
        FlacTags tags;
        if (c.bits == 16) { // the first comments: check them before the final ones are set
            CollectingMessageSink s2;
            FlacFileWriter first(s2);
            first.setFileName(dir.file("first.flac"));
            first.setFormat(f);
            first.setTags({{"DESCRIPTION", "Caf\xe9 \xc3\xa9"}});
            ASSERT_TRUE(first.create());
            ASSERT_TRUE(first.finish(false));
            ASSERT_TRUE(readFlacTags(dir.file("first.flac"), tags));
            ASSERT_EQ(tags.size(), 1u);
            EXPECT_EQ(tags[0].second, "Caf? \xc3\xa9");
        }
        ASSERT_TRUE(readFlacTags(name, tags));
        ASSERT_EQ(tags.size(), 3u);
        EXPECT_EQ(tags[1].second, std::string(c.commentBytes - 1, 'x') + "?");
        EXPECT_EQ(tags[2].second, "L 2, R 0, ABS 0");
    }
}

TEST(FlacFileWriter, RefusesWhatItCannotHoldAndSaysWhy)
{
    tarnvel::test::TempDir dir;
    CollectingMessageSink sink;
    FlacFileWriter w(sink);
    w.setFileName(dir.file("f.flac"));
    w.setFormat(WaveFormat::make(kWaveFormatIeeeFloat, 2, 48000, 32));
    EXPECT_FALSE(w.create());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].text.find("not float 32"), std::string::npos);
    w.setFormat(WaveFormat::make(kWaveFormatPcm, 2, 48000, 16));
    w.setFileName(dir.file("no/such/folder/f.flac"));
    EXPECT_FALSE(w.create());
    EXPECT_EQ(sink.messages.size(), 2u);
    // Not FLAC at all: read as damage, not as a crash.
    const std::string junk = dir.file("junk.flac");
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("fLaC but nothing else", f);
    std::fclose(f);
    EXPECT_FALSE(readFlacFile(junk, {}).ok);
    EXPECT_FALSE(readFlacFile(dir.file("missing.flac"), {}).ok);
}

} // namespace
} // namespace tarnvel::formats::test
