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
#include <sys/stat.h>

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

std::string shellQuoted(const std::string& text)
{
    std::string q = "'";
    for (const char ch : text)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
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
        {"search --abs 00:00:10:34",
         "--abs must be a time on tape: minutes and seconds 00-59, frames 00-33"},
        {"locate --abs 00:60:00:00",
         "--abs must be a time on tape: minutes and seconds 00-59, frames 00-33"},
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

// A simulated cassette holding the two programs of the sample image (dated 26/01/02 03:04:05).
void makeSampleTape(const TempDir& dir, int frames)
{
    ASSERT_EQ(runCli(dir, words("image make-sample tape.TVI --frames " + std::to_string(frames)))
                  .exitCode,
              0);
    ASSERT_EQ(runCli(dir, words("sim new tape.tvs --from-image tape.TVI")).exitCode, 0);
    fs::remove(dir.file("tape.TVI"));
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
        {"concert.log", "--drive sim:tape.tvs archive concert"},
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

// The first file of an extension in the folder that has grown past `bytes`, or "".
std::string grownFile(const TempDir& dir, const std::string& extension, std::uint64_t bytes)
{
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().extension() == extension && sizeOf(e.path().string()) > bytes)
            return e.path().string();
    return {};
}

// SIGINT or SIGTERM stops a writing command as its Stop button does (every file closed, the
// list and the report written), and the exit status says it was stopped: 128 + the signal,
// also from a shell without job control (which starts the command with SIGINT ignored).
TEST(CommandLine, InterruptedWritingCommandsCloseTheirFilesAndSaySo)
{
    struct Case {
        const char* args;
        int signal;
        bool viaShell;
        const char* extension; // of the file that grows
    };
    const Case cases[] = {
        {"archive concert", SIGTERM, false, ".WAV"},
        {"archive concert", SIGINT, true, ".WAV"},
        {"image create copy.TVI", SIGINT, false, ".TVI"},
        {"image create copy.TVI", SIGTERM, true, ".TVI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.args) + (c.viaShell ? " from a shell" : ""));
        TempDir dir;
        makeSampleTape(dir, 2000);
        const std::string command = std::string("--drive sim:tape.tvs --realtime ") + c.args;
        int exitCode = -1;
        if (c.viaShell) {
            const std::string script =
                "cd '" + dir.path().string() + "' && { '" TARNVEL_CLI "' " + command +
                " >out.txt 2>err.txt & pid=$!; until [ -n \"$(find . -name '*" + c.extension +
                "' -size +100k)\" ]; do sleep 0.05; done; kill -" +
                (c.signal == SIGINT ? "INT" : "TERM") + " $pid; wait $pid; echo $? >rc.txt; }";
            ASSERT_EQ(std::system(("timeout 120 sh -c " + shellQuoted(script)).c_str()), 0);
            exitCode = std::stoi(slurp(dir.file("rc.txt")));
        } else {
            CliProcess p(dir, words(command));
            ASSERT_TRUE(waitFor([&] { return !grownFile(dir, c.extension, 100'000).empty(); }));
            p.signal(c.signal);
            exitCode = p.wait().exitCode;
        }
        EXPECT_EQ(exitCode, 128 + c.signal) << slurp(dir.file("err.txt"));
        const std::string file = grownFile(dir, c.extension, 0);
        if (std::string(c.extension) == ".WAV") {
            formats::WaveFileReader reader;
            ASSERT_TRUE(reader.readHeader(file)) << reader.errorText();
            EXPECT_EQ(reader.dataLength() + 44, sizeOf(file));
            EXPECT_GT(sizeOf(dir.file("concert.TVC")), 0u);
            EXPECT_NE(slurp(dir.file("concert.log")).find("\nOutcome: stopped by the user\n"),
                      std::string::npos);
            EXPECT_EQ(runCli(dir, words("verify concert.log")).exitCode, 0);
        } else {
            CollectingMessageSink sink;
            formats::ImageReader reader(sink);
            ASSERT_TRUE(reader.open(file, true)) << reader.errorText();
            EXPECT_LT(reader.frameCount(), 2000u);
        }
    }
}

// Outputs are written only when they are regular files or absent: a FIFO in their place is
// refused at once (nothing waits for a reader), with or without --yes, and nothing is left.
TEST(CommandLine, OutputsThatAreNotRegularFilesAreRefused)
{
    TempDir dir;
    makeSampleTape(dir, 200);
    const struct {
        const char* fifo;
        const char* args;
    } cases[] = {
        {"a.log", "--drive sim:tape.tvs archive a"},
        {"b.log", "--drive sim:tape.tvs --yes archive b"},
        {"c.TVC", "--drive sim:tape.tvs --yes archive c"},
        {"d01_260102030405.WAV", "--drive sim:tape.tvs --yes archive d"},
        {"e.TVI", "--drive sim:tape.tvs --yes image create e.TVI"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(mkfifo(dir.file(c.fifo).c_str(), 0600), 0);
        CliProcess p(dir, words(c.args));
        const CliResult r = p.wait(std::chrono::seconds(60));
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_fifo(dir.file(c.fifo)));
    }
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"a.log", "b.log", "c.TVC", "d01_260102030405.WAV", "e.TVI",
                                        "err.txt", "out.txt", "tape.tvs"}));
}

// The names of archive and image create: a name that gives no file is refused, a known
// ending is not doubled, a missing folder is made; a failed start prints no success lines.
TEST(CommandLine, ArchiveNamesAndFailedStartsArePlain)
{
    TempDir dir;
    makeSampleTape(dir, 200);
    std::ofstream(dir.file("plain.txt")) << "a file, not a folder";
    std::ofstream(dir.file("kept.TVI")) << "keep";
    const auto archive = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"--drive", "sim:tape.tvs"});
        return args;
    };
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* err; // part of stderr
        std::vector<std::string> made;
        bool refusedStart = false; // the tape never moved: no progress, no tape status
    } cases[] = {
        {archive({"archive", ""}), 1, "names no file", {}, true},
        {archive({"archive", "sl/"}), 1, "names no file", {}, true},
        {archive({"archive", "n/x.wav"}), 0, "", {"n/x.log", "n/x.TVC", "n/x01_260102030405.WAV"}},
        {archive({"archive", "deep/er/y"}), 0, "", {"deep/er/y.log"}},
        {archive({"archive", "plain.txt/z"}), 1, "Unable to create the folder", {}, true},
        {archive({"image", "create", "kept.TVI"}), 1, "Same file already exists.", {}, true},
        // The tape stands at its end after the archives above.
        {archive({"archive", "--from-here", "end"}), 1, "Nothing was archived.", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[3]);
        const std::vector<std::string> before = namesIn(dir);
        const CliResult r = runCli(dir, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        for (const std::string& name : c.made)
            EXPECT_TRUE(fs::exists(dir.file(name))) << name;
        if (c.exitCode != 0) {
            EXPECT_EQ(namesIn(dir), before); // nothing was made or left behind
            // No success lines after a failure.
            EXPECT_EQ(r.out.find("cue list"), std::string::npos) << r.out;
            EXPECT_EQ(r.out.find("Report"), std::string::npos) << r.out;
        }
        if (c.refusedStart) {
            EXPECT_EQ(r.out.find(" frames"), std::string::npos) << r.out;
            EXPECT_EQ((r.out + r.err).find("End of Tape"), std::string::npos) << r.out << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir.file("n/x.wav.log")));
    EXPECT_EQ(slurp(dir.file("kept.TVI")), "keep");
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
