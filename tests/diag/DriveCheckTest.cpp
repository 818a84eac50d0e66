#include "diag/DriveCheck.h"

#include "dat/DatDrive.h"
#include "sim/Cassette.h"
#include "sim/DemoTape.h"
#include "sim/SimTestSupport.h"
#include "support/FakeKernel.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

// The drive check against the simulated drive, the kernel's fake devices and recorded reports.
namespace tarnvel::diag {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool contains(const std::string& text, const std::string& what)
{
    return text.find(what) != std::string::npos;
}

// Status polls (100 ms) shortened so that a cassette cues within them, motion polls (30 ms)
// nearly gone.
void shortSleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms >= 100 ? 20 : 1));
}

// "Read 100 frames" → its result.
std::map<std::string, StepResult> results(const DriveCheck& check)
{
    std::map<std::string, StepResult> r;
    for (const CheckStep& s : check.steps())
        r[s.name] = s.result;
    return r;
}

const CheckStep* find(const DriveCheck& check, const std::string& name)
{
    for (const CheckStep& s : check.steps())
        if (s.name == name)
            return &s;
    return nullptr;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    return text;
}

std::string withoutReplayLines(std::string text)
{
    for (;;) {
        const std::size_t at = text.find("\nReplayed from: ");
        if (at == std::string::npos)
            return text;
        text.erase(at + 1, text.find('\n', at + 1) - at);
    }
}

class DriveCheckOnSim : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string cassette = dir.file("tape.tvs");
    std::vector<std::string> replayMessages;

    sim::DriveRequest request(const std::string& spec)
    {
        sim::DriveRequest r;
        r.spec = spec;
        r.fastReplay = true;
        r.replayDiffers = [this](const std::string& m) { replayMessages.push_back(m); };
        return r;
    }
    std::unique_ptr<DriveCheck> check(const std::string& spec, DriveCheckOptions options = {})
    {
        options.sleep = shortSleep;
        auto c = std::make_unique<DriveCheck>(options);
        c->run(request(spec));
        return c;
    }
    // The report's exchange: the data sent with the last MODE SELECT.
    static std::string lastModeSelectData(const std::string& report)
    {
        const std::size_t at = report.rfind("CDB: 15 ");
        const std::size_t data = report.find("Data out: 12 bytes\n  0000 ", at);
        return data == std::string::npos ? std::string() : report.substr(data + 26, 35);
    }
};

TEST_F(DriveCheckOnSim, TheDemoTapePassesEveryStepAndEndsInDataMode)
{
    std::string error;
    ASSERT_TRUE(sim::createDemoCassette(cassette, error)) << error;
    const auto c = check("sim:" + cassette);
    for (const CheckStep& s : c->steps())
        EXPECT_EQ(s.result, StepResult::Pass) << DriveCheck::stepText(s, 0);
    EXPECT_EQ(c->steps().size(), 16u);
    EXPECT_FALSE(c->failed());
    const std::string report = c->report();
    // What the read found: the demo tape starts with its lead-in.
    const CheckStep* read = find(*c, "Read 100 frames");
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(contains(joined(read->data), "Format: 48000 Hz, 2 channels, 16-bit"))
        << joined(read->data);
    EXPECT_TRUE(contains(joined(read->data), "IDs: lead-in (frames 1-100)"));
    EXPECT_TRUE(contains(joined(find(*c, "Inquiry")->data), "Product: DAT SIMULATOR"));
    // The last mode select of the exchange asks for the data density.
    EXPECT_EQ(lastModeSelectData(report), "00 00 00 08 00 00 00 00 00 00 02 00");
    EXPECT_TRUE(contains(report, "---- Summary (paste this into a bug report) ----\nTarnvel "));
    EXPECT_TRUE(contains(report, "Result: 16 passed, 0 failed, 0 skipped"));

    // Its report replayed gives the same report.
    const std::string saved = dir.file("report.txt");
    ASSERT_TRUE(c->saveReport(saved, error)) << error;
    const auto again = check("replay:" + saved);
    EXPECT_TRUE(replayMessages.empty()) << replayMessages.front();
    const std::string replayed = again->report();
    EXPECT_TRUE(contains(replayed, "Replayed from: " + saved + ", by Tarnvel "));
    EXPECT_EQ(withoutReplayLines(replayed), report);
}

TEST_F(DriveCheckOnSim, ABlankTapeSkipsTheReadStepsAndDamageShowsItsFlags)
{
    {
        std::string error;
        ASSERT_TRUE(sim::Cassette::create(cassette, 1, error)) << error;
    }
    const auto blank = check("sim:" + cassette);
    EXPECT_FALSE(blank->failed());
    const auto r = results(*blank);
    EXPECT_EQ(r.at("Load"), StepResult::Pass);
    EXPECT_EQ(r.at("Read 100 frames"), StepResult::Skip);
    EXPECT_EQ(r.at("Locate program number"), StepResult::Skip);
    EXPECT_EQ(r.at("Fast forward"), StepResult::Skip);
    EXPECT_EQ(r.at("Rewind"), StepResult::Pass);
    EXPECT_TRUE(contains(joined(find(*blank, "Read 100 frames")->data),
                         "The tape is blank here: Unknown Format 30 01"));
    EXPECT_EQ(find(*blank, "Fast forward")->explanation.at(0),
              "Nothing is recorded on the tape (see Read 100 frames).");

    // A recording with interpolated and unreadable frames among the first hundred.
    const std::string damaged = dir.file("damaged.tvs");
    {
        std::string error;
        auto c = sim::Cassette::create(damaged, 1, error);
        ASSERT_TRUE(c) << error;
        sim::test::recordFrames(*c, 0, 400, 1, dat::framesToAbs(0));
        ASSERT_TRUE(c->addFault({10, 11, sim::FaultKind::Left}, error));
        ASSERT_TRUE(c->addFault({20, 20, sim::FaultKind::Both}, error));
        ASSERT_TRUE(c->addFault({30, 30, sim::FaultKind::Unreadable}, error));
    }
    const auto hurt = check("sim:" + damaged);
    const CheckStep* read = find(*hurt, "Read 100 frames");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->result, StepResult::Pass);
    const std::string data = joined(read->data);
    EXPECT_TRUE(contains(data, "Error flags: 3 frames interpolated (left only 2, right only 0, "
                               "both 1)"))
        << data;
    EXPECT_TRUE(contains(data, "Interpolated at: 00h00m00s10 L, 00h00m00s11 L, 00h00m00s20 LR"))
        << data;
    EXPECT_TRUE(contains(data, "Unreadable frames (medium error): 1, at frames 31")) << data;
    EXPECT_TRUE(contains(data, "IDs: PNo 001 START (frames 1-100)")) << data;
}

TEST_F(DriveCheckOnSim, RecordingIsAskedForAndReadBack)
{
    std::string error;
    ASSERT_TRUE(sim::createDemoCassette(cassette, error)) << error;
    DriveCheckOptions o;
    o.write = true;
    const auto c = check("sim:" + cassette, o);
    for (const CheckStep& s : c->steps())
        EXPECT_EQ(s.result, StepResult::Pass) << DriveCheck::stepText(s, 0);
    EXPECT_TRUE(contains(joined(find(*c, "Read back")->data), "Compared 333 frames: 0 differ"));
    EXPECT_TRUE(contains(joined(find(*c, "Record 10 seconds")->data), "as program 4"))
        << c->report().substr(0, 4000);
    const std::string report = c->report();
    EXPECT_TRUE(contains(report, "Writes: 10 seconds of a tone"));

    // The replay of a report that recorded compares the frames sent with the recorded ones.
    const std::string saved = dir.file("write.txt");
    ASSERT_TRUE(c->saveReport(saved, error));
    const auto again = check("replay:" + saved, o);
    EXPECT_TRUE(replayMessages.empty()) << replayMessages.front();
    EXPECT_EQ(withoutReplayLines(again->report()), report);
}

TEST_F(DriveCheckOnSim, StoppingSkipsTheRestButDataModeIsRestored)
{
    std::string error;
    ASSERT_TRUE(sim::createDemoCassette(cassette, error)) << error;
    struct StopAfterInquiry : DriveCheckListener {
        std::atomic<bool> stop{false};
        std::vector<std::string> started;
        void stepStarted(const std::string& name) override { started.push_back(name); }
        void stepDone(const CheckStep& step) override
        {
            if (step.name == "Inquiry")
                stop = true;
        }
    } listener;
    DriveCheckOptions o;
    o.stop = &listener.stop;
    o.sleep = shortSleep;
    DriveCheck c(o, &listener);
    c.run(request("sim:" + cassette));
    EXPECT_EQ(find(c, "Test unit ready")->result, StepResult::Skip);
    EXPECT_EQ(find(c, "Test unit ready")->explanation.at(0), "The check was stopped.");
    EXPECT_EQ(c.steps().back().result, StepResult::Pass);
    EXPECT_EQ(c.steps().back().name, "Data mode restored");
    EXPECT_EQ(listener.started.size(), c.steps().size());
}

// Kernel devices: rights, no drive, a drive that does not answer.
TEST(DriveCheckOnKernel, FailuresSayWhatToDo)
{
    using scsi::test::FakeKernel;
    struct Case {
        const char* name;
        std::function<void(FakeKernel&)> setUp;
        const char* step;
        std::vector<std::string> expected; // in the step's text
    };
    const Case cases[] = {
        {"no drive", [](FakeKernel&) {}, "Device", {"No tape drive was found.", "ls /sys/class"}},
        {"no rights",
         [](FakeKernel& k) {
             k.addTape(0, 3, 5, 3, 0, "VENDOR  DDS DRIVE AUDIO 9608");
             k.setOpenError("/dev/sg3", EACCES);
             k.setGroup("/dev/sg3", "tape");
         },
         "Permissions",
         {"Group of the device: tape", "/dev/sg3: Permission denied", "sudo usermod -aG tape $USER",
          "/etc/udev/rules.d/60-tape-generic.rules",
          "SUBSYSTEM==\"scsi_generic\", SUBSYSTEMS==\"scsi\", ATTRS{type}==\"1\", GROUP=\"tape\""}},
        {"switched off",
         [](FakeKernel& k) {
             k.addTape(0, 3, 5, 3, 0, "VENDOR  DDS DRIVE AUDIO 9608").onCommand =
                 [](const sg_io_hdr_t&) { return scsi::test::kernelReply(0, 0x01); };
         },
         "Test unit ready",
         {"Failed command: TST_U_RDY SS_ERR Drive not connected",
          "Host status: 0x01 DID_NO_CONNECT (", "Driver status: 0x00 DRIVER_OK"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto kernel = std::make_shared<FakeKernel>();
        c.setUp(*kernel);
        sim::DriveRequest request;
        request.kernel = kernel;
        DriveCheckOptions o;
        o.sleep = [](int) {};
        DriveCheck check(o);
        check.run(request);
        EXPECT_TRUE(check.failed());
        const CheckStep* step = find(check, c.step);
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->result, StepResult::Fail);
        const std::string text = DriveCheck::stepText(*step, 1);
        for (const std::string& e : c.expected)
            EXPECT_TRUE(contains(text, e)) << e << "\n" << text;
        // The steps after it are skipped and say why; data mode is seen to all the same.
        const CheckStep& next =
            check.steps().at(static_cast<std::size_t>(step - check.steps().data()) + 1);
        EXPECT_EQ(next.result, StepResult::Skip);
        EXPECT_TRUE(contains(next.explanation.at(0), c.step));
        EXPECT_EQ(check.steps().back().name, "Data mode restored");
        EXPECT_TRUE(contains(check.report(), c.expected[0]));
    }
}

// Reports from real drives (and the simulated drive's own) are replayed: the check must send
// what those drives were sent, and find what it found then.
TEST(DriveReports, EachReportReplaysToTheSameSteps)
{
    const fs::path folder = fs::path(TARNVEL_TEST_DATA) / "drives";
    std::vector<fs::path> reports;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt")
            reports.push_back(e.path());
    ASSERT_FALSE(reports.empty());
    for (const fs::path& report : reports) {
        SCOPED_TRACE(report.filename().string());
        const std::string text = readFile(report.string());
        std::vector<std::string> messages;
        sim::DriveRequest request;
        request.spec = "replay:" + report.string();
        request.fastReplay = true;
        request.replayDiffers = [&messages](const std::string& m) { messages.push_back(m); };
        DriveCheckOptions o;
        o.sleep = [](int) {};
        o.write = contains(text, "\nWrites: 10 seconds");
        DriveCheck check(o);
        check.run(request);
        EXPECT_TRUE(messages.empty()) << messages.front();
        for (std::size_t i = 0; i < check.steps().size(); ++i) {
            const std::string line =
                DriveCheck::stepText(check.steps()[i], static_cast<int>(i + 1));
            EXPECT_TRUE(contains(text, line.substr(0, line.find('\n') + 1))) << line;
        }
        EXPECT_TRUE(contains(text, check.summary().substr(check.summary().rfind("Result:"))));
    }
}

} // namespace
} // namespace tarnvel::diag
