// The command line (TARNVEL_CLI) as a user runs it, under bad input and interruption.
#include "cli/CliRunner.h"
#include "formats/ImageFormat.h"
#include "formats/ImageReader.h"
#include "formats/ImageWriter.h"
#include "formats/SampleImage.h"
#include "formats/WaveFileReader.h"
#include "support/WavFixture.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace tarnvel::cli::test {
namespace {

namespace fs = std::filesystem;
using tarnvel::test::TempDir;
using tarnvel::test::WavFixture;

const std::string kRunHelp = "Run with --help for more information.\n";

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> list;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        list.push_back(w);
    return list;
}

std::uint64_t sizeOf(const std::string& path)
{
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? 0 : n;
}

std::vector<std::string> namesIn(const TempDir& dir)
{
    std::vector<std::string> list;
    for (const auto& e : fs::directory_iterator(dir.path()))
        list.push_back(e.path().filename().string());
    std::sort(list.begin(), list.end());
    return list;
}

TEST(CommandLine, BadValuesAndCommandsAreNamedPlainly)
{
    TempDir dir;
    WavFixture().withFrames(4410).write(dir.file("a.wav"));
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"image dump x.TVI --count 0", "--count must be at least 1"},
        {"image dump x.TVI --count abc", "--count must be a whole number"},
        {"image dump x.TVI --frame -1", "--frame must be at least 0"},
        {"image make-sample x.TVI --frames 0", "--frames must be from 1 to 737000"},
        {"image make-sample x.TVI --frames 12x", "--frames must be from 1 to 737000"},
        {"read --count 0", "--count must be at least 1"},
        {"locate --pno 800", "--pno must be from 1 to 799"},
        {"search --pno abc", "--pno must be from 1 to 799"},
        {"play --from-abs 1:2:3:4:5", "--from-abs must be HH:MM:SS:FF"},
        {"archive x --preread 9", "--preread must be from 0 to 5"},
        {"--instance 3 status", "--instance must be from 1 to 2"},
        {"locate --abs 12h", "--abs must be HH:MM:SS:FF"},
        {"sim new x.tvs --minutes 0", "--minutes must be from 1 to 600"},
        {"sim damage x.tvs --write-fail-at -5", "--write-fail-at must be at least 0"},
        {"sim damage x.tvs --frames 1-2", "--frames requires --kind"},
        {"cue make x.TVC a.wav --pno-start 800", "--pno-start must be from 0 to 799"},
        {"cue make x.TVC a.wav --emph maybe", "--emph must be on or off"},
        {"settings show --instance 3", "--instance must be from 1 to 2"},
        {"record-wav x.WAV --driver null --seconds -1",
         "--seconds must be a number greater than 0"},
        {"record-wav x.WAV --driver null --seconds nan",
         "--seconds must be a number greater than 0"},
        {"record-wav x.WAV --driver null --seconds inf",
         "--seconds must be a number greater than 0"},
        {"record-wav x.WAV --driver null --seconds 0", "--seconds must be a number greater than 0"},
        {"record-wav x.WAV --seconds 1 --bits 12", "--bits must be 8, 16, 24, 32 or -32"},
        {"record-wav x.WAV --seconds 1 --rate 0", "--rate must be at least 1"},
        {"formats --device -1", "--device must be at least 0"},
        {"devices --driver oss", "--driver must be alsa, pulse, jack or null"},
        {"foo", "Unknown command \"foo\"."},
        {"image foo", "Unknown command \"foo\"."},
    };
    for (const auto& c : cases) {
        const CliResult r = runCli(dir, words(c.args));
        EXPECT_NE(r.exitCode, 0) << c.args;
        EXPECT_EQ(r.err, std::string(c.message) + "\n" + kRunHelp) << c.args;
    }
    // Nothing was created by a refused command.
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"a.wav", "err.txt", "out.txt"}));
}

TEST(CommandLine, ExistingFilesAreReplacedOnlyWithYes)
{
    TempDir dir;
    WavFixture().withFrames(4410).write(dir.file("a.wav"));
    ASSERT_EQ(runCli(dir, words("sim demo tape.tvs")).exitCode, 0);
    const struct {
        const char* file;
        const char* args;
    } cases[] = {
        {"out.TVI", "image make-sample out.TVI --frames 10"},
        {"CUE.TVC", "cue make CUE.TVC a.wav"},
        {"take.WAV", "record-wav take.WAV --driver null --seconds 0.1"},
        {"copy.WAV",
         "--drive sim:tape.tvs record --input --driver null --seconds 1 --wav-copy copy.WAV"},
    };
    for (const auto& c : cases) {
        std::ofstream(dir.file(c.file)) << "keep";
        CliResult r = runCli(dir, words(c.args));
        EXPECT_EQ(r.exitCode, 1) << c.args;
        EXPECT_EQ(r.err, "The file already exists: " + std::string(c.file) +
                             "\nGive --yes to replace it.\n")
            << c.args;
        EXPECT_EQ(slurp(dir.file(c.file)), "keep");

        // --yes before or after the subcommand.
        std::vector<std::string> yes = words(c.args);
        yes.push_back("--yes");
        r = runCli(dir, yes);
        EXPECT_EQ(r.exitCode, 0) << c.args << "\n" << r.err;
        EXPECT_NE(slurp(dir.file(c.file)), "keep") << c.args;
    }
}

// What is wrong is said, before anything else is said or done.
TEST(CommandLine, WhatIsWrongIsSaidPlainly)
{
    TempDir dir;
    WavFixture zeroAlign;
    zeroAlign.blockAlign = 0;
    zeroAlign.withFrames(4410).write(dir.file("align.wav"));
    fs::create_directory(dir.file("folder.log"));
    const std::string autoId =
        "--auto-id LEVEL must be -36, -42, -48, -54, -60 or -66 (dB) and SECONDS 1 to 8.\n";
    const std::string noDrive =
        "Tape drive not found.\nTo try the program without a drive: tarnvel-cli sim demo "
        "demo.tvs, then use --drive sim:demo.tvs with any drive command.\n";
    const struct {
        const char* args;
        int exitCode;
        std::string err;
    } cases[] = {
        {"play --device abc", 2, "--device must be a device number or null.\n"},
        {"record --input --driver null --device 99", 1,
         "There is no record device 99 (tarnvel-cli devices lists them).\n"},
        {"record --input --driver null --bits 12", 2,
         "--bits 12 (long play) needs --rate 32000.\n"},
        {"record --input --driver null --auto-id -999,99999", 2, autoId},
        {"record --input --driver null --auto-id -40,2", 2, autoId},
        {"record --input --driver null --auto-id -42,9", 2, autoId},
        {"record --wav align.wav", 1,
         "Unsupported format.\n [block size 0, not 4]\n\n" + dir.file("align.wav") + "\n"},
        {"verify folder.log", 1, "folder.log: is a directory\n"},
        {"verify -x.log", 2,
         "REPORT is required\n" + kRunHelp +
             "A name that begins with \"-\" goes after \"--\", for example: -- -x.log\n"},
        {"locate", 2, "Give --pno N or --abs HH:MM:SS:FF.\n"},
        {"status", 1, noDrive},
        {"rew", 1, noDrive},
    };
    for (const auto& c : cases) {
        const CliResult r = runCli(dir, words(c.args));
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }

    // A cassette in use elsewhere: the reason alone.
    TempDir other;
    ASSERT_EQ(runCli(dir, words("sim demo held.tvs")).exitCode, 0);
    const std::string held = dir.file("held.tvs");
    CliProcess holder(other, {"--realtime", "--drive", "sim:" + held, "play", "--device", "null"});
    ASSERT_TRUE(
        waitFor([&] { return slurp(other.file("out.txt")).find("[Play]") != std::string::npos; }));
    for (const char* command : {"status", "rew"}) {
        const CliResult r = runCli(dir, {"--drive", "sim:" + held, command});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_EQ(r.err, "The cassette " + held + " is held by another drive or program.\n")
            << command;
    }
}

// Settings given to the run (--ini, --set, before or after the subcommand) are the ones shown.
TEST(CommandLine, SettingsShowTakesTheSettingsOfTheRun)
{
    TempDir dir;
    std::ofstream(dir.file("run.INI")) << "[Setting0]\nPlayBufFrames=20\n";
    const struct {
        const char* args;
        const char* line;
    } cases[] = {
        {"--ini run.INI settings show", "\nPlayBufFrames=20\n"},
        {"settings show --ini run.INI", "\nPlayBufFrames=20\n"},
        {"--ini run.INI settings show --set PlayBufFrames=40", "\nPlayBufFrames=40\n"},
        {"--set PlayBufFrames=40 settings show --ini run.INI", "\nPlayBufFrames=40\n"},
    };
    for (const auto& c : cases) {
        const CliResult r = runCli(dir, words(c.args));
        EXPECT_EQ(r.exitCode, 0) << c.args << "\n" << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << c.args;
    }
    CliResult r = runCli(dir, words("--ini missing.INI settings show"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "The settings file does not exist:\n\nmissing.INI\n");
    EXPECT_EQ(r.out, "");
    r = runCli(dir, words("settings show --set PlayBufFrames=abc"));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
}

TEST(CommandLine, RecordingThatFailsToStartLeavesTheFileAsItWas)
{
    TempDir dir;
    std::ofstream(dir.file("take.WAV")) << "an earlier take";
    // The null driver has devices 0 and 1 only.
    CliResult r = runCli(dir, words("--yes record-wav take.WAV --driver null --seconds 1 "
                                    "--device 5"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Unable to open Wave device"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir.file("take.WAV")), "an earlier take");
    // And no file is made for a new name.
    r = runCli(dir, words("record-wav new.WAV --driver null --seconds 1 --device 5"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"err.txt", "out.txt", "take.WAV"}));
}

TEST(CommandLine, InterruptedImageIsClosedWithTheFramesWritten)
{
    TempDir dir;
    CliProcess p(dir, words("image make-sample big.TVI --frames 100000"));
    // Past the first periodic header update, so that the header lags behind the data.
    ASSERT_TRUE(waitFor([&] { return sizeOf(dir.file("big.TVI")) > 4'000'000; }));
    p.signal(SIGINT);
    const CliResult r = p.wait();
    EXPECT_EQ(r.exitCode, 130) << "signal " << r.signal;
    EXPECT_EQ(r.err, "Interrupted: big.TVI was closed with what was written until then.\n");

    CollectingMessageSink sink;
    formats::ImageReader reader(sink);
    ASSERT_TRUE(reader.open(dir.file("big.TVI"), true)) << reader.errorText();
    EXPECT_LT(reader.frameCount(), 100000u);
    EXPECT_EQ(sizeOf(dir.file("big.TVI")),
              formats::kImageHeaderBytes + std::uint64_t{reader.frameCount()} * dat::kFrameBytes);
}

TEST(CommandLine, TerminatedRecordingIsClosedAndInPlace)
{
    TempDir dir;
    CliProcess p(dir, words("record-wav take.WAV --driver null --seconds 600"));
    // Half a second of 48 kHz 16-bit stereo, wherever the recording is being written.
    ASSERT_TRUE(waitFor([&] {
        std::uint64_t bytes = 0;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().extension() == ".WAV")
                bytes += sizeOf(e.path().string());
        return bytes > 96'000;
    }));
    p.signal(SIGTERM);
    const CliResult r = p.wait();
    EXPECT_EQ(r.exitCode, 0) << "signal " << r.signal << "\n" << r.err;
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"err.txt", "out.txt", "take.WAV"}));
    formats::WaveFileReader wav;
    ASSERT_TRUE(wav.readHeader(dir.file("take.WAV"))) << wav.errorText();
    EXPECT_GT(wav.dataLength(), 0u);
    EXPECT_EQ(wav.dataLength() + 44, sizeOf(dir.file("take.WAV")));
}

TEST(CommandLine, TerminatedArchiveClosesItsFilesAndReport)
{
    TempDir dir;
    ASSERT_EQ(runCli(dir, words("image make-sample tape.TVI --frames 2000")).exitCode, 0);
    ASSERT_EQ(runCli(dir, words("sim new tape.tvs --from-image tape.TVI")).exitCode, 0);
    CliProcess p(dir, words("--drive sim:tape.tvs --realtime archive concert"));
    std::string wav;
    ASSERT_TRUE(waitFor([&] {
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().extension() == ".WAV" && sizeOf(e.path().string()) > 100'000)
                wav = e.path().string();
        return !wav.empty();
    }));
    p.signal(SIGTERM); // the Stop button: every file is closed as at the end of a run
    const CliResult r = p.wait();
    EXPECT_EQ(r.exitCode, 0) << "signal " << r.signal << "\n" << r.err;
    formats::WaveFileReader reader;
    ASSERT_TRUE(reader.readHeader(wav)) << reader.errorText();
    EXPECT_EQ(reader.dataLength() + 44, sizeOf(wav));
    EXPECT_GT(sizeOf(dir.file("concert.TVC")), 0u);
    EXPECT_EQ(runCli(dir, words("verify concert.log")).exitCode, 0);
}

TEST(CommandLine, PipedOutputReachesTheFileLineByLine)
{
    TempDir dir;
    ASSERT_EQ(runCli(dir, words("image make-sample tape.TVI --frames 2000")).exitCode, 0);
    ASSERT_EQ(runCli(dir, words("sim new tape.tvs --from-image tape.TVI")).exitCode, 0);
    CliProcess p(dir, words("--drive sim:tape.tvs --realtime read --count 2000"));
    ASSERT_TRUE(waitFor([&] { return sizeOf(dir.file("out.txt")) > 0; }));
    p.signal(SIGINT); // the read has no handler: the program ends at once
    const CliResult r = p.wait();
    EXPECT_EQ(r.signal, SIGINT);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n') << "a line was cut: block-buffered output";
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.rfind(" 00h00m", 0), 0u) << line;
}

TEST(CommandLine, LogThatCannotBeWrittenIsReported)
{
    TempDir dir;
    ASSERT_EQ(runCli(dir, words("image make-sample tape.TVI --frames 200")).exitCode, 0);
    ASSERT_EQ(runCli(dir, words("sim new tape.tvs --from-image tape.TVI")).exitCode, 0);
    fs::create_directory(dir.file("TVDAT.LOG")); // not writable as a file, even for root
    const std::string warning =
        "TVDAT.LOG cannot be written in this folder: the SCSI command log is off.\n";
    CliResult r = runCli(dir, words("--drive sim:tape.tvs --log status"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, warning);
    r = runCli(dir, words("--drive sim:tape.tvs --log rew")); // a deck command
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(warning), std::string::npos) << r.err;
}

TEST(CommandLine, ControlBytesFromFilesAreShownEscaped)
{
    TempDir dir;
    {
        CollectingMessageSink sink;
        formats::ImageWriter writer(sink);
        ASSERT_TRUE(writer.create(dir.file("odd.TVI"), "title\x1B]0;owned\x07\r"));
        formats::SampleTape tape(10);
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(writer.append(tape.next()), dat::kFrameBytes);
        ASSERT_TRUE(writer.finalise(false));
    }
    CliResult r = runCli(dir, words("image info odd.TVI"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Comment:\ntitle\\x1B]0;owned\\x07\\x0D\n"), std::string::npos) << r.out;

    const std::string odd = dir.file("clear\x1B[2J.wav");
    WavFixture().withFrames(4410).write(odd);
    r = runCli(dir, {"cue", "make", "CUE.TVC", odd});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = runCli(dir, words("cue show CUE.TVC"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
    EXPECT_NE(r.out.find("clear\\x1B[2J.wav"), std::string::npos) << r.out;
}

TEST(CommandLine, SoundCommandsKeepTheLibraryDiagnosticsToOneLine)
{
    TempDir dir;
    CliResult r = runCli(dir, words("devices --driver alsa"));
    // Without a sound card the library explains itself in one line; with one it says nothing.
    std::istringstream lines(r.err);
    int libraryLines = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_NE(line.rfind("ALSA lib ", 0), 0u) << line;
        libraryLines += line.find("ALSA") != std::string::npos;
    }
    EXPECT_LE(libraryLines, 1) << r.err;

    r = runCli(dir, words("devices --driver null"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Playback devices (null):\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("ALSA"), std::string::npos) << r.out;
}

} // namespace
} // namespace tarnvel::cli::test
