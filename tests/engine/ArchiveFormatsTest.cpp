#include "DeckFixture.h"
#include "formats/WaveFileReader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

// FLAC archives as a user makes them and as other tools read them: the samples of the WAV
// archive of the same tape, the tags, the check of a file on its own.
namespace tarnvel::engine::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ArchiveFormats : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;

    void SetUp() override
    {
        if (std::system("command -v flac >/dev/null 2>&1 && command -v metaflac >/dev/null "
                        "2>&1") != 0)
            GTEST_SKIP() << "the flac tools are not installed (tools/setup.sh)";
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
    int shell(const std::string& command)
    {
        const int status = std::system(("cd '" + dir.path().string() + "' && " + command + " >'" +
                                        dir.file("sh.txt") + "' 2>&1")
                                           .c_str());
        sh = readFile(dir.file("sh.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The files of an archive with this ending, in name order.
    std::vector<fs::path> filesOf(const std::string& prefix, const std::string& ending) const
    {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string name = e.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && name.size() > ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }
    std::string out, err, sh;
};

// Two programs and a left-channel error, in the tape's own format.
void makeTape(const std::string& path, int rate, int quantize, bool pairs)
{
    std::string error;
    auto c = sim::Cassette::create(path, 2, error);
    ASSERT_TRUE(c) << error;
    TapeBuilder b(*c, rate, quantize);
    b.date(98, 5, 17, 14, 30, 0);
    for (int program = 1; program <= 2; ++program) {
        b.start(program);
        if (pairs) {
            for (int i = 0; i < 150; ++i) {
                b.frame24(i + program * 1000, true);
                b.frame24(i + program * 1000, false);
            }
        } else {
            b.frames(300);
        }
    }
    ASSERT_TRUE(c->addFault({350, 351, sim::FaultKind::Left}, error));
}

TEST_F(ArchiveFormats, DecodedFilesHoldTheSamplesOfTheWaveArchive)
{
    const struct {
        const char* name;
        int rate;
        int quantize;
        bool pairs;
        const char* settings; // before the command: --set ...; after it: archive options
        const char* format;   // DAT_FORMAT
    } cases[] = {
        {"48k", 48000, 0, false, "", "48000/16"},
        {"preread", 48000, 0, false, "archive --preread 3", "48000/16"},
        {"44k", 44100, 0, false, "", "44100/16"},
        {"32k", 32000, 0, false, "", "32000/16"},
        {"lp", 32000, 1, false, "", "32000/12"},
        {"96k", 96000, 0, false, "--set ExtendedFormatMode=0", "96000/16"},
        {"88k", 88200, 0, false, "--set ExtendedFormatMode=0", "88200/16"},
        {"24in24", 96000, 0, true, "--set ExtendedFormatMode=1 --set ExtendedFormatBitLen=24",
         "48000/24"},
        {"24in32", 96000, 0, true, "--set ExtendedFormatMode=1 --set ExtendedFormatBitLen=32",
         "48000/24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tape = std::string(c.name) + ".tvs";
        makeTape(dir.file(tape), c.rate, c.quantize, c.pairs);
        const std::string settings = c.settings;
        const bool after = settings.rfind("archive ", 0) == 0;
        const std::string common =
            "--drive sim:" + tape + " " + (after ? "" : settings) + " archive ";
        const std::string options = after ? settings.substr(8) : "";
        ASSERT_EQ(run(common + c.name + "w --no-qc " + options), 0) << err;
        ASSERT_EQ(run(common + c.name + "f --flac --no-qc " + options), 0) << err;
        const auto waves = filesOf(std::string(c.name) + "w", ".WAV");
        const auto flacs = filesOf(std::string(c.name) + "f", ".flac");
        ASSERT_EQ(waves.size(), 2u);
        ASSERT_EQ(flacs.size(), waves.size());
        // The cue list names the FLAC files.
        const std::string cue = readFile(dir.path() / (std::string(c.name) + "f.TVC"));
        for (std::size_t i = 0; i < flacs.size(); ++i) {
            const std::string flac = flacs[i].string();
            EXPECT_NE(cue.find(flac + "\r\n"), std::string::npos) << cue;
            EXPECT_EQ(shell("flac -t -s '" + flac + "'"), 0) << sh;
            ASSERT_EQ(shell("flac -d -s -f --force-raw-format --endian=little --sign=signed -o "
                            "raw.pcm '" +
                            flac + "'"),
                      0)
                << sh;
            formats::WaveFileReader r;
            ASSERT_TRUE(r.readHeader(waves[i].string())) << r.errorText();
            const std::string wav = readFile(waves[i]);
            EXPECT_TRUE(readFile(dir.path() / "raw.pcm") ==
                        wav.substr(r.dataOffset(), r.dataLength()))
                << flac;
            ASSERT_EQ(shell("metaflac --show-tag=DAT_FORMAT --show-sample-rate --show-bps '" +
                            flac + "'"),
                      0);
            EXPECT_EQ(sh, "DAT_FORMAT=" + std::string(c.format) + "\n" +
                              std::to_string(r.format().samplesPerSec) + "\n" +
                              std::to_string(r.format().bitsPerSample) + "\n");
        }
    }
}

// What a catalogue reads from the files; what a changed sample does; the float output refused
// before the tape moves.
TEST_F(ArchiveFormats, TagsTellTheTapesFactsAndDamageIsFoundWithoutTheReport)
{
    makeTape(dir.file("t.tvs"), 48000, 0, false);
    ASSERT_EQ(run("--drive sim:t.tvs archive t --flac --flac-level 8 --label 'Box 7, side A'"), 0)
        << err;
    const auto flacs = filesOf("t", ".flac");
    ASSERT_EQ(flacs.size(), 2u);
    // The quality check decoded them: their figures are in the JSON.
    const nlohmann::json doc = nlohmann::json::parse(readFile(dir.path() / "t.json"));
    ASSERT_EQ(doc["files"].size(), 2u);
    for (const auto& f : doc["files"]) {
        ASSERT_TRUE(f.contains("quality")) << f.dump();
        EXPECT_GT(f["quality"]["channels"][0]["samplePeak"].get<double>(), 0.0);
    }
    ASSERT_EQ(shell("metaflac --export-tags-to=- '" + flacs[0].string() + "'"), 0) << sh;
    EXPECT_EQ(sh, "TRACKNUMBER=1\n"
                  "DATE=1998-05-17T14:30:00\n"
                  "DESCRIPTION=Box 7, side A\n"
                  "DAT_ABS_START=00h00m00s00\n"
                  "DAT_ABS_END=00h00m08s33\n"
                  "DAT_FORMAT=48000/16\n"
                  "DAT_EMPHASIS=no\n"
                  "DAT_COPY=Permit\n"
                  "DAT_ERRORS=L 0, R 0, ABS 0\n"
                  "ENCODER=Tarnvel 0.1.0\n");
    ASSERT_EQ(
        shell("metaflac --show-tag=DAT_ERRORS --show-tag=TRACKNUMBER '" + flacs[1].string() + "'"),
        0);
    EXPECT_EQ(sh, "DAT_ERRORS=L 2, R 0, ABS 0\nTRACKNUMBER=2\n");
    ASSERT_EQ(shell("metaflac --show-md5sum '" + flacs[1].string() + "'"), 0);
    EXPECT_NE(sh, "00000000000000000000000000000000\n");

    EXPECT_EQ(run("verify t.log"), 0) << out;
    EXPECT_EQ(run("verify " + flacs[0].filename().string() + " " + flacs[1].filename().string()), 0)
        << out;

    // One sample changed by a tool that kept the old MD5: a valid FLAC stream of other audio.
    const std::string victim = flacs[1].string();
    const std::string md5 = readFile(victim).substr(26, 16);
    ASSERT_EQ(shell("flac -d -s -f --force-raw-format --endian=little --sign=signed -o raw.pcm '" +
                    victim + "'"),
              0);
    {
        std::fstream f(dir.path() / "raw.pcm", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4000);
        f.put('\x55');
    }
    ASSERT_EQ(shell("flac -s -f --force-raw-format --endian=little --sign=signed --channels=2 "
                    "--bps=16 --sample-rate=48000 -o '" +
                    victim + "' raw.pcm"),
              0)
        << sh;
    {
        std::fstream f(victim, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(26);
        f.write(md5.data(), 16);
    }
    ASSERT_EQ(shell("flac -t -s '" + victim + "'"), 1); // the flac tool sees it too
    EXPECT_EQ(run("verify t.log"), 1);
    EXPECT_NE(out.find("MISMATCH " + victim), std::string::npos) << out;
    fs::remove(dir.path() / "t.log");
    EXPECT_EQ(run("verify " + victim + " " + flacs[0].string()), 1);
    EXPECT_NE(
        out.find("MISMATCH " + victim + "  (the decoded audio does not match the MD5 in the file)"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("OK       " + flacs[0].string()), std::string::npos) << out;

    // Float samples cannot go to FLAC: said before the tape moves, nothing written.
    EXPECT_EQ(run("--drive sim:t.tvs archive x --flac --set ExtendedFormatMode=1 --set "
                  "ExtendedFormatBitLen=-32"),
              1);
    EXPECT_NE(err.find("float"), std::string::npos) << err;
    EXPECT_TRUE(filesOf("x", "").empty());
    EXPECT_EQ(run("--drive sim:t.tvs archive y --flac-level 3"), 2) << "needs --flac";
}

// The JSON of the demo tape's archive: valid by the schema in docs/, the facts of the report,
// and checked by verify.
TEST_F(ArchiveFormats, TheJsonOfAnArchiveFollowsItsSchemaAndIsVerified)
{
    ASSERT_EQ(run("sim demo demo.tvs"), 0) << err;
    ASSERT_EQ(run("--drive sim:demo.tvs archive d --label 'Demo'"), 0) << err;
    const std::string schema = TARNVEL_TEST_DATA "/../../docs/archive.schema.json";
    const auto validate = [&](const std::string& file) {
        return shell(
            "python3 -c 'import json, jsonschema, sys; "
            "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' " +
            file + " '" + schema + "'");
    };
    if (shell("python3 -c 'import jsonschema'") != 0)
        GTEST_SKIP() << "python3-jsonschema is not installed (tools/setup.sh)";
    EXPECT_EQ(validate("d.json"), 0) << sh;

    const nlohmann::json doc = nlohmann::json::parse(readFile(dir.path() / "d.json"));
    EXPECT_EQ(doc["label"], "Demo");
    EXPECT_EQ(doc["drive"]["product"], "DAT SIMULATOR");
    const std::string report = readFile(dir.path() / "d.log");
    std::size_t errorFrames = 0;
    for (const auto& f : doc["files"]) {
        const std::string name = f["name"];
        EXPECT_NE(report.find("File: " + name + "\n"), std::string::npos) << name;
        EXPECT_NE(report.find("  SHA-256 of the file: " + f["sha256"].get<std::string>() + "\n"),
                  std::string::npos)
            << name;
        EXPECT_TRUE(f.contains("quality")) << name;
        errorFrames += f["errorFrames"].size();
    }
    EXPECT_NE(report.find(" Error frames: " + std::to_string(errorFrames) + "\n"),
              std::string::npos);
    EXPECT_GT(errorFrames, 0u);
    EXPECT_EQ(doc["files"][1]["date"], "2024-05-17T14:30:00");

    // The schema is no formality: a file entry without its hash fails it.
    nlohmann::json broken = doc;
    broken["files"][0].erase("sha256");
    std::ofstream(dir.path() / "broken.json") << broken.dump();
    EXPECT_NE(validate("broken.json"), 0);

    EXPECT_EQ(run("verify d.log"), 0) << out;
    EXPECT_NE(out.find("OK       json d.json"), std::string::npos) << out;
    // A hash edited in the JSON alone: the report is intact, the JSON is not.
    nlohmann::json edited = doc;
    std::string hash = edited["files"][1]["audioSha256"];
    hash[0] = hash[0] == '0' ? '1' : '0';
    edited["files"][1]["audioSha256"] = hash;
    std::ofstream(dir.path() / "d.json", std::ios::trunc) << edited.dump(2);
    EXPECT_EQ(run("verify d.log"), 1);
    EXPECT_NE(out.find("OK       report d.log"), std::string::npos) << out;
    EXPECT_NE(out.find("MISMATCH " +
                       (dir.path() / doc["files"][1]["name"].get<std::string>()).string() +
                       "  (JSON: its hashes in the JSON differ from the file)"),
              std::string::npos)
        << out;
    EXPECT_EQ(run("verify d.json"), 1);
}

} // namespace
} // namespace tarnvel::engine::test
