#include "formats/WaveFileWriter.h"

#include "common/ByteOrder.h"
#include "common/MessageSink.h"
#include "formats/WaveFileReader.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::formats {
namespace {

using test::TempDir;
using test::WavFixture;

// Runs a shell command; its standard output, or "exit N" when it failed.
std::string run(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return "popen failed";
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    const int status = pclose(p);
    return status == 0 ? out : "exit " + std::to_string(status) + ": " + out;
}

std::vector<std::uint8_t> ramp(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return v;
}

std::vector<std::string> messageTexts(const CollectingMessageSink& sink)
{
    std::vector<std::string> texts;
    for (const auto& m : sink.messages)
        texts.push_back(m.text);
    return texts;
}

struct FormatCase {
    const char* name;
    WaveFormat format;
    std::size_t bytes; // written in blocks of up to 1000
    const char* soxEncoding;
};

TEST(WaveFileWriter, WrittenFilesReadBackInOtherTools)
{
    const FormatCase cases[] = {
        {"u8mono", WaveFormat::make(kWaveFormatPcm, 1, 8000, 8), 3, "Unsigned Integer PCM"},
        {"s16", WaveFormat::make(kWaveFormatPcm, 2, 48000, 16), 4 * 2000, "Signed Integer PCM"},
        {"s24", WaveFormat::make(kWaveFormatPcm, 2, 44100, 24), 6 * 1001, "Signed Integer PCM"},
        {"s32", WaveFormat::make(kWaveFormatPcm, 2, 48000, 32), 8 * 500, "Signed Integer PCM"},
        {"f32", WaveFormat::make(kWaveFormatIeeeFloat, 2, 48000, 32), 8 * 700,
         "Floating Point PCM"},
    };
    TempDir dir;
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".wav");
        CollectingMessageSink sink;
        std::vector<std::uint8_t> audio = ramp(c.bytes);
        if (c.format.isFloat()) {
            // Samples other tools carry through their integer path without rounding.
            for (std::size_t i = 0; i + 4 <= audio.size(); i += 4) {
                const float v = static_cast<float>(static_cast<int>(i % 200) - 100) / 128.0f;
                std::memcpy(audio.data() + i, &v, 4);
            }
        }
        {
            WaveFileWriter w(sink);
            w.setFileName(path);
            w.setFormat(c.format);
            ASSERT_TRUE(w.create());
            for (std::size_t at = 0; at < audio.size(); at += 1000) {
                const std::size_t n = std::min<std::size_t>(1000, audio.size() - at);
                ASSERT_EQ(w.write(audio.data() + at, n), n);
            }
            ASSERT_TRUE(w.finish(false));
        }
        EXPECT_TRUE(sink.messages.empty());

        const auto file = WavFixture::readBytes(path);
        const std::size_t pad = audio.size() % 2;
        // PCM: the canonical 44 bytes. Float: the 18-byte fmt body (cbSize 0) and a "fact"
        // chunk with the frame count, as readers of non-PCM files expect.
        const std::size_t fmtBody = c.format.isFloat() ? 18 : 16;
        const std::size_t fact = c.format.isFloat() ? 12 : 0;
        const std::size_t header = 20 + fmtBody + fact + 8;
        ASSERT_EQ(file.size(), header + audio.size() + pad);
        EXPECT_EQ(readLe32(file.data() + 4), file.size() - 8);
        EXPECT_EQ(readLe32(file.data() + 16), fmtBody);
        EXPECT_EQ(readLe16(file.data() + 20), c.format.formatTag);
        EXPECT_EQ(readLe32(file.data() + 28), c.format.avgBytesPerSec);
        EXPECT_EQ(readLe16(file.data() + 32), c.format.blockAlign);
        if (fact != 0) {
            EXPECT_EQ(readLe16(file.data() + 36), 0u);
            EXPECT_EQ(std::string(file.begin() + 38, file.begin() + 42), "fact");
            EXPECT_EQ(readLe32(file.data() + 42), 4u);
            EXPECT_EQ(readLe32(file.data() + 46), audio.size() / c.format.blockAlign);
        }
        EXPECT_EQ(std::string(file.begin() + header - 8, file.begin() + header - 4), "data");
        EXPECT_EQ(readLe32(file.data() + header - 4), audio.size());
        if (pad) {
            EXPECT_EQ(file.back(), 0);
        }

        const std::string q = "'" + path + "'";
        // Neither tool has anything to warn about.
        EXPECT_EQ(run("sox -V2 " + q + " -n 2>&1"), "");
        EXPECT_EQ(run("sndfile-info " + q + " | grep -F '****' || true"), "");
        EXPECT_EQ(run("soxi -V1 -c " + q), std::to_string(c.format.channels) + "\n");
        EXPECT_EQ(run("soxi -V1 -r " + q), std::to_string(c.format.samplesPerSec) + "\n");
        EXPECT_EQ(run("soxi -V1 -b " + q), std::to_string(c.format.bitsPerSample) + "\n");
        EXPECT_EQ(run("soxi -V1 -e " + q), std::string(c.soxEncoding) + "\n");
        EXPECT_EQ(run("soxi -V1 -s " + q),
                  std::to_string(audio.size() / c.format.blockAlign) + "\n"); // frames
        const std::string raw = dir.file(std::string(c.name) + ".raw");
        EXPECT_EQ(run("sox -V1 " + q + " -t raw '" + raw + "'"), "");
        EXPECT_EQ(WavFixture::readBytes(raw), audio);

        WaveFileReader r;
        ASSERT_TRUE(r.readHeader(path)) << r.errorText();
        EXPECT_EQ(r.format(), c.format);
        EXPECT_EQ(r.dataLength(), audio.size());
    }
}

TEST(WaveFileWriter, NameMustEndInWav)
{
    struct Case {
        const char* given;
        const char* corrected; // nullptr: accepted as it is
    };
    const Case cases[] = {
        {"take1.wav", nullptr},
        {"take1.Wav", nullptr},
        {"take1.aif", "take1.WAV"},
        {"take1", "take1.WAV"},
        {"take1.wav.bak", "take1.wav.WAV"},
        {"folder.v2/take1", "folder.v2/take1.WAV"}, // a dot in a folder name is no extension
        {".wav", ".wav.WAV"},                       // nor is a leading dot
    };
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "folder.v2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        CollectingMessageSink sink;
        WaveFileWriter w(sink);
        w.setFormat(WaveFormat::make(kWaveFormatPcm, 2, 44100, 16));
        const std::string given = dir.file(c.given);
        w.setFileName(given);
        if (c.corrected == nullptr) {
            EXPECT_TRUE(w.create());
            EXPECT_TRUE(sink.messages.empty());
            EXPECT_TRUE(w.finish(false));
            continue;
        }
        EXPECT_FALSE(w.create());
        EXPECT_FALSE(std::filesystem::exists(given));
        EXPECT_EQ(messageTexts(sink),
                  std::vector<std::string>{"File extent is not 'WAV'.\n\n" + given});
        EXPECT_EQ(w.fileName(), dir.file(c.corrected));
        EXPECT_TRUE(w.create()); // the retry with the corrected name
        EXPECT_TRUE(w.finish(false));
        EXPECT_TRUE(std::filesystem::exists(dir.file(c.corrected)));
    }
}

TEST(WaveFileWriter, LongRecordingContinuesInNumberedFilesUpToTen)
{
    TempDir dir;
    CollectingMessageSink sink;
    WaveFileWriter w(sink);
    w.setFileName(dir.file("NAME.WAV"));
    w.setFormat(WaveFormat::make(kWaveFormatPcm, 2, 48000, 16));
    w.setSplitBytes(44 + 4000); // each file takes 4000 bytes, then the next write splits
    ASSERT_TRUE(w.create());
    const std::vector<std::uint8_t> block = ramp(1000);
    std::size_t accepted = 0;
    while (w.write(block.data(), block.size()) == block.size())
        ++accepted;
    EXPECT_EQ(accepted, 40u);
    EXPECT_EQ(w.splitCount(), 10);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text,
              "Unable to write file.  (the recording has filled all ten split files)\n\n" +
                  dir.file("NAME_9.WAV"));
    EXPECT_FALSE(w.isOpen());
    EXPECT_TRUE(w.finish(false)); // the owner's final finish has nothing left to do

    std::vector<std::string> names{"NAME.WAV"};
    for (int i = 1; i <= 9; ++i)
        names.push_back("NAME_" + std::to_string(i) + ".WAV");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        WaveFileReader r;
        ASSERT_TRUE(r.readHeader(dir.file(name))) << r.errorText();
        EXPECT_EQ(r.dataLength(), 4000u);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 10);

    // A new run starts again from the first name.
    ASSERT_TRUE(w.create());
    EXPECT_EQ(w.currentFileName(), dir.file("NAME.WAV"));
    EXPECT_EQ(w.write(block.data(), block.size()), block.size());
    EXPECT_TRUE(w.finish(false));
}

TEST(WaveFileWriter, HeaderIsBroughtUpToDateEveryFiveSeconds)
{
    TempDir dir;
    CollectingMessageSink sink;
    WaveFileWriter w(sink);
    const std::string path = dir.file("open.wav");
    w.setFileName(path);
    w.setFormat(WaveFormat::make(kWaveFormatPcm, 1, 8000, 8)); // 5 s = 40000 bytes
    ASSERT_TRUE(w.create());
    EXPECT_EQ(w.nextCheckPoint(), 44u + 40000u);
    const std::vector<std::uint8_t> block = ramp(999);
    for (int i = 0; i < 41; ++i)
        ASSERT_EQ(w.write(block.data(), block.size()), block.size());
    // 44 + 41 * 999 bytes are past the check point, but only the next write looks.
    WaveFileReader r;
    ASSERT_TRUE(r.readHeader(path));
    EXPECT_EQ(r.dataLength(), 0u);
    ASSERT_EQ(w.write(block.data(), block.size()), block.size()); // 41 blocks written before
    ASSERT_TRUE(r.readHeader(path));
    EXPECT_EQ(r.dataLength(), 41u * 999u); // odd: no pad byte while the file stays open
    EXPECT_EQ(w.nextCheckPoint(), 44u + 80000u);
    EXPECT_GT(w.freeBytesSeen(), 1100000u);
    EXPECT_TRUE(w.finish(false));
    EXPECT_TRUE(sink.messages.empty());
}

TEST(WaveFileWriter, NextDiskCheckComesBeforeTheDiskIsFull)
{
    const std::uint64_t step = 5 * 4 * 48000; // 960000 bytes
    EXPECT_EQ(WaveFileWriter::checkPointAdvance(step, 1500000), 500000u);
    EXPECT_EQ(WaveFileWriter::checkPointAdvance(step, 1920000), step);
    EXPECT_EQ(WaveFileWriter::checkPointAdvance(step, 1919999), 919999u);
    EXPECT_EQ(WaveFileWriter::checkPointAdvance(step, 50ULL << 30), step);
    const std::uint64_t hugeStep = 3ULL << 30; // only below 4 GiB free is the step shortened
    EXPECT_EQ(WaveFileWriter::checkPointAdvance(hugeStep, 5ULL << 30), hugeStep);
    EXPECT_EQ(WaveFileWriter::checkPointAdvance(hugeStep, 3ULL << 30), (3ULL << 30) - 1000000);
}

TEST(WaveFileWriter, FailuresAreShownWithTheFileName)
{
    TempDir dir;
    CollectingMessageSink sink;
    WaveFileWriter w(sink);
    w.setFormat(WaveFormat::make(kWaveFormatPcm, 2, 44100, 16));

    const std::string noFolder = dir.file("missing/take.wav");
    w.setFileName(noFolder);
    EXPECT_FALSE(w.create());

    // Names that are not regular files are neither written nor waited on, and stay.
    const std::string full = dir.file("full.wav");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    w.setFileName(full);
    EXPECT_FALSE(w.create());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(full)));
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    w.setFileName(fifo);
    EXPECT_FALSE(w.create());
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // A header that cannot be written: the file is removed again.
    const std::string small = dir.file("small.wav");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    w.setFileName(small);
    const bool created = w.create();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(created);
    EXPECT_FALSE(std::filesystem::exists(small));

    EXPECT_EQ(messageTexts(sink),
              (std::vector<std::string>{"Unable to create file.  (No such file or directory)\n\n" +
                                            noFolder,
                                        "Unable to create file.  (not a regular file)\n\n" + full,
                                        "Unable to create file.  (not a regular file)\n\n" + fifo,
                                        "Unable to write file.  (File too large)\n\n" + small}));
}

TEST(WaveFileWriter, FailedWriteKeepsWhatWasWrittenReadable)
{
    TempDir dir;
    CollectingMessageSink sink;
    WaveFileWriter w(sink);
    const std::string path = dir.file("limit.wav");
    w.setFileName(path);
    w.setFormat(WaveFormat::make(kWaveFormatPcm, 2, 44100, 16));
    ASSERT_TRUE(w.create());

    // The file system refuses to grow the file past 10000 bytes, in the middle of a block.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 10000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::vector<std::uint8_t> block = ramp(1001 * 4);
    std::size_t blocks = 0;
    while (w.write(block.data(), block.size()) == block.size())
        ++blocks;
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(blocks, 2u);
    EXPECT_EQ(messageTexts(sink),
              std::vector<std::string>{"Unable to write file.  (File too large)\n\n" + path});
    EXPECT_TRUE(w.finish(false));
    EXPECT_EQ(std::filesystem::file_size(path), 44u + 2 * block.size());
    EXPECT_EQ(run("soxi -V1 -s '" + path + "'"), std::to_string(2 * 1001) + "\n");
}

} // namespace
} // namespace tarnvel::formats
