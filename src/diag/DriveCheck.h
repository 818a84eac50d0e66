#pragma once

#include "scsi/CommandExchange.h"
#include "sim/DriveSelect.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The drive check: a step-by-step test of a tape drive, its connection and its rights that a
// user can run and send back. Read-only unless asked to record. Each step ends PASS, FAIL or
// SKIP with what it found and, when it did not pass, a plain explanation; the report ends with
// a summary to paste into a bug report and the whole command exchange, which the replay
// back-end answers from (so that a report from a real drive becomes a test).
namespace tarnvel::diag {

enum class StepResult { Pass, Fail, Skip };

struct CheckStep {
    std::string name;
    StepResult result = StepResult::Pass;
    std::vector<std::string> data;        // what the step found, line by line
    std::vector<std::string> explanation; // why it failed or was skipped, what to do
};

// How the steps reach a view as they pass. Thread: the one that runs the check.
class DriveCheckListener {
public:
    virtual ~DriveCheckListener() = default;
    virtual void stepStarted(const std::string& name) = 0;
    virtual void stepDone(const CheckStep& step) = 0;
};

struct DriveCheckOptions {
    // Records 10 seconds of a tone with a START ID at the end of the recording and reads it
    // back (the caller has the user's consent).
    bool write = false;
    // The drive stays in use by a deck: after data mode is restored, audio mode is set again.
    bool keepAudioMode = false;
    // Waits between status polls and motion polls (null: real sleeps). A fast replay passes
    // one that does not wait: the replies, not the time, decide the polls.
    std::function<void(int milliseconds)> sleep;
    // Set by another thread to end the check after the running step (data mode is restored
    // all the same).
    const std::atomic<bool>* stop = nullptr;
};

class DriveCheck {
public:
    explicit DriveCheck(DriveCheckOptions options = {}, DriveCheckListener* listener = nullptr);
    ~DriveCheck();
    DriveCheck(const DriveCheck&) = delete;
    DriveCheck& operator=(const DriveCheck&) = delete;

    // Opens the drive of the request (its devices scanned, the log opened) and checks it; the
    // drive object is gone at the end. Without a drive the first step fails and says why.
    void run(const sim::DriveRequest& request);
    // Checks device `d` of a drive object in use (-1: the device the check chooses, as the
    // drive selection does). The caller makes sure that nothing else sends commands meanwhile.
    void run(dat::DatDrive& drive, int d);

    const std::vector<CheckStep>& steps() const { return steps_; }
    // True when a step failed.
    bool failed() const;
    // The whole report: header, steps, summary, command exchange.
    std::string report() const;
    std::string summary() const;
    bool saveReport(const std::string& path, std::string& error) const;
    // "drive-check-2024-05-01.txt" with today's date.
    static std::string defaultReportName();
    // The text of one step as the report shows it.
    static std::string stepText(const CheckStep& step, int number);

private:
    struct Run;
    void runSteps(Run& run);
    void add(CheckStep step);

    DriveCheckOptions options_;
    DriveCheckListener* listener_;
    scsi::ExchangeSession session_;
    std::vector<CheckStep> steps_;
    std::string exchange_;
};

} // namespace tarnvel::diag
