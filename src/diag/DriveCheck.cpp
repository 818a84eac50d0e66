#include "diag/DriveCheck.h"

#include "app/TimeDisplay.h"
#include "dat/DatDrive.h"
#include "dat/DatMessages.h"
#include "dat/LocateTarget.h"
#include "dat/MotionWait.h"
#include "dat/RecSubcode.h"
#include "dat/StatusPoll.h"
#include "diag/DiagMessages.h"
#include "formats/StringPrintf.h"
#include "scsi/CommandLog.h"
#include "scsi/KernelStatus.h"
#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

namespace tarnvel::diag {

using formats::stringPrintf;

namespace {

constexpr int kFramesToRead = 100;
constexpr int kUnreadableInARow = 10;
constexpr int kReadyPolls = 300; // 30 s
constexpr int kReadyPollMs = 100;
constexpr int kToneFrames = 333; // 10 seconds
constexpr int kReadBackSlack = 100;
constexpr int kAbsFarFrames = 333; // 10 seconds
constexpr std::size_t kMaxListed = 10;

// A quarter of a 1 kHz sine at 48 kHz (48 samples a period) at -20 dBFS, in whole numbers so
// that every run records the same bytes (a replay compares them).
constexpr std::int16_t kQuarterSine[13] = {0,    428,  848,  1254, 1639, 1995, 2317,
                                           2600, 2838, 3028, 3165, 3249, 3277};

std::int16_t toneSample(int k)
{
    const int i = k % 48;
    if (i <= 12)
        return kQuarterSine[i];
    if (i <= 24)
        return kQuarterSine[24 - i];
    if (i <= 36)
        return static_cast<std::int16_t>(-kQuarterSine[i - 24]);
    return static_cast<std::int16_t>(-kQuarterSine[48 - i]);
}

void fillTone(dat::DatFrame& frame)
{
    for (std::size_t pair = 0; pair < dat::kAudioBytes / 4; ++pair) {
        const auto v = static_cast<std::uint16_t>(toneSample(static_cast<int>(pair)));
        for (std::size_t ch = 0; ch < 2; ++ch) {
            frame.audio[4 * pair + 2 * ch] = static_cast<std::uint8_t>(v);
            frame.audio[4 * pair + 2 * ch + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string absOf(const dat::TapePosition& p)
{
    return trimmed(app::absText(p));
}

std::string positionText(const dat::TapePosition& p)
{
    return trimmed(stringPrintf(tr(dat::msg::kCliPositionLine), static_cast<unsigned>(p.pNoDigits),
                                p.absIndex, dat::timeText(p.programTime).c_str(),
                                app::absText(p).c_str(), dat::timeText(p.runningTime).c_str()));
}

std::string seconds(std::int64_t us)
{
    return stringPrintf("%.1f s", static_cast<double>(us) / 1e6);
}

std::string hexBytes(const std::uint8_t* data, std::size_t n)
{
    std::string text(3 * n + 1, '\0');
    scsi::cdbText(data, n, text.data(), text.size());
    text.resize(std::strlen(text.c_str()));
    return text;
}

// An ABS time that counts up (not the lead-in's) and is set.
bool plainAbs(const dat::TapePosition& p)
{
    return !dat::isLeadInDigits(static_cast<std::uint16_t>(p.pNoDigits)) &&
           p.absTime.hours < 0x9A && p.absTime.frame < 0x9A;
}

std::string idLabel(const dat::TapePosition& p)
{
    const auto digits = static_cast<std::uint16_t>(p.pNoDigits);
    if (dat::isLeadInDigits(digits))
        return "lead-in";
    if (dat::isEndDigits(digits))
        return "END ID";
    std::string label = dat::isDecimalProgramDigits(digits)
                            ? stringPrintf("PNo %03X", static_cast<unsigned>(digits))
                            : std::string("no PNo");
    if (p.subIdFlags & dat::kSubIdStart)
        label += " START";
    if (p.subIdFlags & dat::kSubIdSkip)
        label += " SKIP";
    return label;
}

std::string formatText(const dat::SubcodeBlock& block)
{
    const dat::MainIdFields f = block.mainIdFields();
    const int rate = dat::sampleRateOf(f.sampleF);
    std::string text = rate > 0 ? stringPrintf("%d Hz", rate) : std::string("unknown rate");
    if (f.formatId == 1)
        text += " (high-rate frames)";
    text += f.nofCh == 0 ? ", 2 channels" : stringPrintf(", channel code %d", f.nofCh);
    text += f.quantize == 0   ? ", 16-bit"
            : f.quantize == 1 ? ", 12-bit (long play)"
                              : ", quantization code 2-3";
    text += f.emphasis == 1 ? ", emphasis" : ", no emphasis";
    static const char* const kCopy[4] = {"copy permitted", "copy code 1", "copy prohibited",
                                         "one copy permitted"};
    text += ", ";
    text += kCopy[f.copy & 3];
    return text;
}

std::string joinList(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size() && i < kMaxListed; ++i)
        text += (i > 0 ? ", " : "") + items[i];
    if (items.size() > kMaxListed)
        text += stringPrintf(" and %zu more", items.size() - kMaxListed);
    return text;
}

const char* resultName(StepResult r)
{
    switch (r) {
    case StepResult::Pass:
        return tr(msg::kPass);
    case StepResult::Fail:
        return tr(msg::kFail);
    case StepResult::Skip:
        break;
    }
    return tr(msg::kSkip);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t nl = text.find('\n', at);
        out.push_back(text.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    return out;
}

} // namespace

// What the steps hand on to each other.
struct DriveCheck::Run {
    dat::DatDrive* drive = nullptr;
    int d = -1;
    // The step that keeps the later ones from running, and which kind of reason it is.
    const MessagePair* skipReason = nullptr;
    std::string blocker;
    bool audioTried = false;
    bool audio = false;
    int firstPno = 0;
    int highestPno = 0;
    bool haveLastFrame = false;
    dat::TapePosition lastFrame;
    bool haveAfterPno = false;
    dat::TapePosition afterPno;
    bool haveAfterFf = false;
    dat::TapePosition afterFf;
    bool recorded = false;
    bool wrote = false;
    dat::TimeCode writtenStart;
    int writtenProgram = 0;
};

DriveCheck::DriveCheck(DriveCheckOptions options, DriveCheckListener* listener)
    : options_(std::move(options)), listener_(listener)
{
}

DriveCheck::~DriveCheck() = default;

bool DriveCheck::failed() const
{
    return std::any_of(steps_.begin(), steps_.end(),
                       [](const CheckStep& s) { return s.result == StepResult::Fail; });
}

void DriveCheck::add(CheckStep step)
{
    steps_.push_back(std::move(step));
    if (listener_ != nullptr)
        listener_->stepDone(steps_.back());
}

void DriveCheck::run(const sim::DriveRequest& request)
{
    std::string error;
    std::unique_ptr<dat::DatDrive> drive = sim::openDriveObject(request, error);
    if (!drive) {
        // No drive object: the header tells of this run, the first step why.
        scsi::ScsiTransport none(false, nullptr);
        none.setDriveSpec(request.spec);
        session_ = none.exchangeSession();
        steps_.clear();
        exchange_.clear();
        CheckStep step{tr(msg::kStepDevice), StepResult::Fail, {}, {}};
        if (listener_ != nullptr)
            listener_->stepStarted(step.name);
        step.data.push_back(error);
        add(std::move(step));
        return;
    }
    if (options_.sleep)
        drive->setSleepFunction(options_.sleep);
    run(*drive, -1);
}

void DriveCheck::run(dat::DatDrive& drive, int d)
{
    steps_.clear();
    exchange_.clear();
    session_ = drive.exchangeSession();
    std::FILE* capture = std::tmpfile();
    if (capture != nullptr)
        drive.setExchangeCapture(capture);
    Run r;
    r.drive = &drive;
    r.d = d;
    runSteps(r);
    drive.setExchangeCapture(nullptr);
    if (capture != nullptr) {
        std::rewind(capture);
        char block[65536];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, capture)) > 0)
            exchange_.append(block, n);
        std::fclose(capture);
    }
}

void DriveCheck::runSteps(Run& r)
{
    dat::DatDrive& drive = *r.drive;
    auto sleep = [this](int ms) {
        if (options_.sleep)
            options_.sleep(ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    dat::MotionWaitHooks hooks;
    hooks.sleep = sleep;
    auto stopped = [this] { return options_.stop != nullptr && options_.stop->load(); };
    auto clock = [&drive] { return drive.captureClockUs(); };
    auto begin = [this](const MessagePair& name) {
        CheckStep step{tr(name), StepResult::Pass, {}, {}};
        if (listener_ != nullptr)
            listener_->stepStarted(step.name);
        return step;
    };
    // The failed command of a step: its error line and what the kernel said of it.
    auto failure = [&drive](CheckStep& step) {
        step.result = StepResult::Fail;
        step.data.push_back(
            stringPrintf(tr(msg::kFailedCommand),
                         stringPrintf(tr(dat::msg::kDriveErrorLine), drive.lastCommandName(),
                                      drive.statusText(), drive.senseSummary())
                             .c_str()));
        char text[512];
        scsi::TextBuilder b(text, sizeof text);
        scsi::appendKernelStatus(b, drive.hostStatus(), drive.driverStatus());
        for (std::string& line : lines(b.text()))
            step.data.push_back(std::move(line));
    };
    auto blockFrom = [&r](const CheckStep& step, const MessagePair& reason) {
        if (r.skipReason == nullptr) {
            r.skipReason = &reason;
            r.blocker = step.name;
        }
    };
    // A step the earlier ones keep from running: SKIP with the reason. True when skipped.
    // Without a tape only the steps that need one wait; without a recording, only the steps
    // that read or wind over it.
    enum class Needs { Answer, Tape, Recording };
    auto skipped = [&](const MessagePair& name, Needs needs = Needs::Answer) {
        const MessagePair* reason = r.skipReason;
        if ((reason == &msg::kSkipNoTape && needs == Needs::Answer) ||
            ((reason == &msg::kSkipBlank || reason == &msg::kSkipNoFrames) &&
             needs != Needs::Recording))
            reason = nullptr;
        if (reason == nullptr && stopped())
            reason = &msg::kSkipStopped;
        if (reason == nullptr)
            return false;
        CheckStep step = begin(name);
        step.result = StepResult::Skip;
        step.explanation.push_back(stringPrintf(tr(*reason), r.blocker.c_str()));
        add(std::move(step));
        return true;
    };

    // --- The device and the path to it ---------------------------------------------------
    {
        CheckStep step = begin(msg::kStepDevice);
        const std::string spec = session_.drive;
        const bool namesNode = !spec.empty() && !sim::isSimulatedSpec(spec);
        if (r.d < 0 && namesNode) {
            for (int i = 0; i < drive.deviceCount(); ++i)
                if (drive.devicePath(i) == spec)
                    r.d = i;
        } else if (r.d < 0) {
            for (int i = 0; i < drive.deviceCount() && r.d < 0; ++i)
                if (drive.deviceProblem(i).empty())
                    r.d = i;
            // Of several drives, the first that takes audio mode, as the selection would.
            if (r.d >= 0 && drive.deviceCount() > 1) {
                for (int i = r.d; i < drive.deviceCount(); ++i) {
                    if (drive.deviceProblem(i).empty() && drive.identify(i)) {
                        r.d = i;
                        r.audioTried = true;
                        break;
                    }
                }
            }
            if (r.d < 0 && drive.deviceCount() > 0)
                r.d = 0; // none can be used: the first, to say why
        }
        if (r.d < 0 || r.d >= drive.deviceCount()) {
            step.result = StepResult::Fail;
            step.data.push_back(namesNode ? stringPrintf(tr(dat::msg::kNoSuchDevice), spec.c_str())
                                          : std::string(tr(msg::kNoDrive)));
            step.explanation.push_back(tr(msg::kExplainNoDrive));
            blockFrom(step, msg::kSkipUnusable);
        } else {
            const scsi::ScsiDeviceEntry e = drive.getDevice(r.d);
            const std::string path = drive.devicePath(r.d);
            if (path.empty()) {
                step.data.push_back(tr(msg::kInProcess));
            } else {
                step.data.push_back(stringPrintf(tr(msg::kNodeLine), path.c_str()));
                if (!drive.commandPath(r.d).empty())
                    step.data.push_back(
                        stringPrintf(tr(msg::kCommandsThrough), drive.commandPath(r.d).c_str()));
                step.data.push_back(drive.isSpti() ? tr(msg::kModeSpti) : tr(msg::kModeAspi));
            }
            step.data.push_back(
                stringPrintf(tr(msg::kAddressLine), e.hostAdapter, e.target, e.lun));
            for (int i = 0; i < drive.deviceCount(); ++i) {
                if (i == r.d)
                    continue;
                const scsi::ScsiDeviceEntry o = drive.getDevice(i);
                std::string other = drive.devicePath(i);
                other += (other.empty() ? "" : " ") + o.vendorText() + " " + o.productText() + " " +
                         o.revisionText();
                step.data.push_back(stringPrintf(tr(msg::kOtherDevice), other.c_str()));
            }
        }
        add(std::move(step));
    }

    // --- Rights to the device nodes --------------------------------------------------------
    if (!skipped(msg::kStepPermissions)) {
        CheckStep step = begin(msg::kStepPermissions);
        const std::string problem = drive.deviceProblem(r.d);
        const std::string group = drive.deviceGroup(r.d);
        if (drive.devicePath(r.d).empty()) {
            step.data.push_back(tr(msg::kNoRightsNeeded));
        } else {
            if (!group.empty())
                step.data.push_back(stringPrintf(tr(msg::kGroupLine), group.c_str()));
            if (problem.empty()) {
                step.data.push_back(tr(msg::kNodeOpens));
            } else {
                step.result = StepResult::Fail;
                step.data.push_back(problem);
                if (problem.find(tr(scsi::msg::kExplainPermission)) != std::string::npos) {
                    const std::string g = group.empty() ? std::string("tape") : group;
                    step.explanation.push_back(
                        stringPrintf(tr(msg::kExplainJoinGroup), g.c_str(), g.c_str()));
                    for (std::string& line : lines(tr(msg::kExplainUdevRule)))
                        step.explanation.push_back(std::move(line));
                } else if (problem.find(tr(scsi::msg::kExplainBusy)) != std::string::npos) {
                    step.explanation.push_back(tr(msg::kExplainBusy));
                } else if (problem.find(tr(scsi::msg::kExplainRawIo)) != std::string::npos) {
                    step.explanation.push_back(tr(msg::kExplainRawIo));
                }
                blockFrom(step, msg::kSkipUnusable);
            }
        }
        add(std::move(step));
    }

    // --- The drive answers ------------------------------------------------------------------
    if (!skipped(msg::kStepInquiry)) {
        CheckStep step = begin(msg::kStepInquiry);
        std::uint8_t inquiry[36] = {};
        if (drive.inquiry(r.d, inquiry, sizeof inquiry) != scsi::kSsComp) {
            failure(step);
            step.explanation.push_back(tr(msg::kExplainNoAnswer));
            blockFrom(step, msg::kSkipNoAnswer);
        } else {
            scsi::ScsiDeviceEntry e;
            scsi::setIdentification(e, inquiry);
            const int type = inquiry[0] & 0x1F;
            step.data.push_back(
                stringPrintf(tr(msg::kVendorLine), trimmed(e.vendorText()).c_str()));
            step.data.push_back(
                stringPrintf(tr(msg::kProductLine), trimmed(e.productText()).c_str()));
            step.data.push_back(
                stringPrintf(tr(msg::kFirmwareLine), trimmed(e.revisionText()).c_str()));
            step.data.push_back(stringPrintf(
                tr(msg::kTypeLine), type,
                type == scsi::kTypeSequentialAccess ? "sequential access" : "not a tape drive"));
            if (e.productText().find("SDT-9000") != std::string::npos)
                step.data.push_back(tr(msg::kSdt9000));
            if (type != scsi::kTypeSequentialAccess) {
                step.result = StepResult::Fail;
                step.explanation.push_back(stringPrintf(tr(msg::kNotTape), type));
                blockFrom(step, msg::kSkipUnusable);
            }
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepTestUnitReady)) {
        CheckStep step = begin(msg::kStepTestUnitReady);
        const dat::UnitStatus status = drive.datTestUnitReady(r.d);
        step.data.push_back(stringPrintf(tr(msg::kUnitStatusLine), dat::unitStatusText(status)));
        const std::string detail = dat::unitStatusDetail(status, drive.senseSummary());
        if (!detail.empty())
            step.data.push_back(detail);
        if (status == dat::kUnitReset || status == dat::kUnitTapeChanged)
            step.data.push_back(tr(msg::kUnitAttentionNormal));
        // A status the drive gave (good, or a check condition with sense data), or none.
        const bool answered =
            drive.status() == scsi::kSsComp || drive.targetStatus() == scsi::kTargetCheckCondition;
        if (status == dat::kUnitUndefined || !answered) {
            failure(step);
            step.explanation.push_back(tr(msg::kExplainNoAnswer));
            blockFrom(step, msg::kSkipNoAnswer);
        } else if (status == dat::kUnitHardwareErr) {
            failure(step);
            step.explanation.push_back(tr(msg::kExplainHardware));
        }
        add(std::move(step));
    }

    // --- Audio mode and back ----------------------------------------------------------------
    if (!skipped(msg::kStepAudioMode)) {
        CheckStep step = begin(msg::kStepAudioMode);
        r.audioTried = true;
        r.audio = drive.identify(r.d);
        if (r.audio) {
            step.data.push_back(stringPrintf(tr(msg::kModeSelectLine), 0x80, tr(msg::kAccepted)));
            step.data.push_back(stringPrintf(tr(msg::kDensityReadBack), 0x80));
        } else {
            const bool selectRefused = std::strcmp(drive.lastCommandName(), "MODE_SEL6") == 0;
            step.data.push_back(stringPrintf(tr(msg::kModeSelectLine), 0x80,
                                             tr(selectRefused ? msg::kRefused : msg::kAccepted)));
            std::uint8_t m[12] = {};
            if (selectRefused)
                failure(step);
            else if (drive.modeSense(r.d, m, sizeof m, 0, 0) == scsi::kSsComp)
                step.data.push_back(stringPrintf(tr(msg::kDensityReadBack), m[4]));
            step.result = StepResult::Fail;
            step.explanation.push_back(tr(msg::kExplainNoAudio));
            blockFrom(step, msg::kSkipNoAudioMode);
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepDataMode)) {
        CheckStep step = begin(msg::kStepDataMode);
        if (drive.setDataMode(r.d) != scsi::kSsComp) {
            step.data.push_back(stringPrintf(tr(msg::kModeSelectLine), 0, tr(msg::kRefused)));
            failure(step);
            step.explanation.push_back(tr(msg::kExplainNoDataMode));
        } else {
            step.data.push_back(stringPrintf(tr(msg::kModeSelectLine), 0, tr(msg::kAccepted)));
            std::uint8_t m[12] = {};
            if (drive.modeSense(r.d, m, sizeof m, 0, 0) == scsi::kSsComp)
                step.data.push_back(stringPrintf(tr(msg::kDensityReadBack), m[4]));
        }
        // The tape steps need audio mode again.
        r.audio = drive.setModePage30(r.d) == scsi::kSsComp;
        step.data.push_back(
            stringPrintf(tr(msg::kAudioAgain), tr(r.audio ? msg::kAccepted : msg::kRefused)));
        if (!r.audio) {
            if (step.result != StepResult::Fail)
                failure(step);
            step.explanation.push_back(tr(msg::kExplainNoAudio));
            blockFrom(step, msg::kSkipNoAudioMode);
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepModeSense)) {
        CheckStep step = begin(msg::kStepModeSense);
        std::uint8_t m[12] = {};
        if (drive.modeSense(r.d, m, sizeof m, 0, 0) != scsi::kSsComp) {
            failure(step);
        } else {
            const unsigned blocks = (m[5] << 16) | (m[6] << 8) | m[7];
            const unsigned length = (m[9] << 16) | (m[10] << 8) | m[11];
            step.data.push_back(
                stringPrintf(tr(msg::kModeDataLine), hexBytes(m, sizeof m).c_str()));
            step.data.push_back(stringPrintf(tr(msg::kModeFields), m[1], m[2],
                                             (m[2] & 0x80) ? tr(msg::kWriteProtected) : "", m[4],
                                             blocks, length));
            if (m[4] != dat::DatDrive::kAudioDensity || length != 512) {
                step.result = StepResult::Fail;
                step.explanation.push_back(tr(msg::kExplainModeData));
            }
        }
        add(std::move(step));
    }

    // --- The tape ---------------------------------------------------------------------------
    if (!skipped(msg::kStepUnitStatus)) {
        CheckStep step = begin(msg::kStepUnitStatus);
        dat::UnitStatus status = drive.datTestUnitReady(r.d);
        for (int i = 0;
             i < kReadyPolls && (dat::isTransientStatus(status) || status == dat::kUnitBusy ||
                                 status == dat::kUnitNotReady);
             ++i) {
            sleep(kReadyPollMs);
            status = drive.datTestUnitReady(r.d);
        }
        step.data.push_back(stringPrintf(tr(msg::kUnitStatusLine), dat::unitStatusText(status)));
        const std::string detail = dat::unitStatusDetail(status, drive.senseSummary());
        if (!detail.empty())
            step.data.push_back(detail);
        if (status == dat::kUnitTapeNone || status == dat::kUnitTapeEjected) {
            blockFrom(step, msg::kSkipNoTape);
        } else if (status != dat::kUnitReady) {
            failure(step);
            step.explanation.push_back(status == dat::kUnitHardwareErr ? tr(msg::kExplainHardware)
                                                                       : tr(msg::kNotReadyLong));
            blockFrom(step, msg::kSkipNoTape);
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepLoad, Needs::Tape)) {
        CheckStep step = begin(msg::kStepLoad);
        const std::int64_t start = clock();
        if (drive.loadUnload(r.d, true, true) != scsi::kSsComp) {
            failure(step);
            blockFrom(step, msg::kSkipNoTape);
        } else {
            dat::UnitStatus status = drive.datTestUnitReady(r.d);
            for (int i = 0;
                 i < kReadyPolls && status != dat::kUnitReady && status != dat::kUnitTapeNone &&
                 status != dat::kUnitTapeEjected && status != dat::kUnitHardwareErr;
                 ++i) {
                sleep(kReadyPollMs);
                status = drive.datTestUnitReady(r.d);
            }
            if (status == dat::kUnitReady) {
                step.data.push_back(
                    stringPrintf(tr(msg::kLoadedIn), seconds(clock() - start).c_str()));
            } else {
                step.data.push_back(
                    stringPrintf(tr(msg::kUnitStatusLine), dat::unitStatusText(status)));
                failure(step);
                step.explanation.push_back(tr(msg::kNotReadyLong));
                blockFrom(step, msg::kSkipNoTape);
            }
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepPosition, Needs::Tape)) {
        CheckStep step = begin(msg::kStepPosition);
        std::uint8_t reply[20] = {};
        if (drive.readPosition(r.d, reply) != scsi::kSsComp) {
            if (drive.modelIsSdt9000(r.d)) {
                step.result = StepResult::Skip;
                step.explanation.push_back(tr(msg::kSdt9000NoPosition));
            } else {
                failure(step);
            }
        } else {
            drive.parsePositionReply(r.d, reply);
            step.data.push_back(positionText(*drive.getPosition(r.d)));
            step.data.push_back(stringPrintf(tr(msg::kPositionRaw), hexBytes(reply, 20).c_str()));
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepRead, Needs::Tape)) {
        CheckStep step = begin(msg::kStepRead);
        dat::DatFrame frame;
        int good = 0, inARow = 0;
        int left = 0, right = 0, both = 0;
        bool endOfData = false, unknownFormat = false, failed = false;
        std::string format;
        std::vector<std::string> flaggedAt, unreadableAt;
        std::vector<std::pair<std::string, std::pair<int, int>>> runs; // label, first, last
        dat::TapePosition first;
        for (int i = 0; i < kFramesToRead && !stopped(); ++i) {
            const dat::TapePosition* p = drive.readFrameParsed(r.d, frame);
            if (p == nullptr) {
                const int key = drive.senseKey(), asc = drive.senseAsc(), ascq = drive.senseAscq();
                if (key == 0x08 && asc == 0x00 && ascq == 0x05) {
                    endOfData = true;
                } else if (key == 0x08 && asc == 0x30 && ascq == 0x01) {
                    unknownFormat = true;
                } else if (key == 0x03) {
                    unreadableAt.push_back(std::to_string(i + 1));
                    if (++inARow < kUnreadableInARow)
                        continue;
                    failure(step);
                    step.explanation.push_back(tr(msg::kTooManyUnreadable));
                    failed = true;
                } else {
                    failure(step);
                    step.explanation.push_back(tr(msg::kExplainReadFailed));
                    failed = true;
                }
                break;
            }
            inARow = 0;
            if (good++ == 0) {
                first = *p;
                format = formatText(frame.subcode);
            }
            r.lastFrame = *p;
            r.haveLastFrame = true;
            const auto digits = static_cast<std::uint16_t>(p->pNoDigits);
            if (dat::isDecimalProgramDigits(digits)) {
                const int pno = dat::bcd16ToInt(digits);
                if (r.firstPno == 0)
                    r.firstPno = pno;
                r.highestPno = std::max(r.highestPno, pno);
            }
            const std::string label = idLabel(*p);
            if (runs.empty() || runs.back().first != label)
                runs.push_back({label, {i + 1, i + 1}});
            else
                runs.back().second.second = i + 1;
            const std::uint8_t flags = frame.subcode.subId(3);
            const bool l = (flags & dat::kSubIdInterpolatedLeft) != 0;
            const bool rr = (flags & dat::kSubIdInterpolatedRight) != 0;
            if (l || rr) {
                (l && rr ? both : l ? left : right)++;
                flaggedAt.push_back(absOf(*p) + (l && rr ? " LR" : l ? " L" : " R"));
            }
        }
        if (good == 0 && !failed && (endOfData || unknownFormat)) {
            step.result = StepResult::Skip;
            step.data.push_back(
                stringPrintf(tr(msg::kBlankTape),
                             endOfData ? tr(dat::msg::kEndOfData) : tr(dat::msg::kUnknownFormat)));
            step.explanation.push_back(tr(msg::kExplainBlank));
            blockFrom(step, msg::kSkipBlank);
        } else {
            step.data.push_back(stringPrintf(tr(msg::kFramesRead), good));
            if (good > 0) {
                r.recorded = true;
                step.data.push_back(stringPrintf(tr(msg::kFormatLine), format.c_str()));
                std::vector<std::string> ids;
                for (const auto& [label, span] : runs)
                    ids.push_back(span.first == span.second
                                      ? stringPrintf("%s (frame %d)", label.c_str(), span.first)
                                      : stringPrintf("%s (frames %d-%d)", label.c_str(), span.first,
                                                     span.second));
                step.data.push_back(stringPrintf(tr(msg::kIdsLine), joinList(ids).c_str()));
                if (flaggedAt.empty()) {
                    step.data.push_back(tr(msg::kFlagsNone));
                } else {
                    step.data.push_back(stringPrintf(tr(msg::kFlagsLine),
                                                     static_cast<int>(flaggedAt.size()), left,
                                                     right, both));
                    step.data.push_back(
                        stringPrintf(tr(msg::kFlaggedAt), joinList(flaggedAt).c_str()));
                }
                step.data.push_back(stringPrintf(tr(msg::kAbsFirstLast), absOf(first).c_str(),
                                                 absOf(r.lastFrame).c_str()));
            }
            if (!unreadableAt.empty())
                step.data.push_back(stringPrintf(tr(msg::kUnreadableLine),
                                                 static_cast<int>(unreadableAt.size()),
                                                 joinList(unreadableAt).c_str()));
            if (endOfData || unknownFormat)
                step.data.push_back(stringPrintf(tr(msg::kEndAfter), good,
                                                 endOfData ? tr(dat::msg::kEndOfData)
                                                           : tr(dat::msg::kUnknownFormat)));
            if (good == 0 && !failed) {
                failure(step);
                step.explanation.push_back(tr(msg::kExplainReadFailed));
            }
            if (good == 0)
                blockFrom(step, msg::kSkipNoFrames);
        }
        add(std::move(step));
    }

    // A wind or search with the immediate bit, waited for; the position it ended at, or null
    // after a failure (reported in `step`).
    // The time a motion took: until the position last changed (the wait for it to settle
    // after that is the program's).
    auto motionWait = [&](std::int64_t start) {
        std::int64_t moved = clock();
        dat::TimeCode last = dat::kNoValue;
        bool first = true;
        dat::MotionWaitHooks h = hooks;
        h.show = [&](const dat::TapePosition& p) {
            if (first || p.absTime != last)
                moved = clock();
            first = false;
            last = p.absTime;
        };
        const dat::TapePosition* p = dat::waitForMotionEnd(drive, r.d, h);
        return std::make_pair(p, moved - start);
    };
    auto motion = [&](CheckStep& step,
                      const std::function<std::uint8_t()>& command) -> const dat::TapePosition* {
        const std::int64_t start = clock();
        if (command() != scsi::kSsComp) {
            failure(step);
            step.explanation.push_back(tr(msg::kExplainMotion));
            return nullptr;
        }
        const auto [p, took] = motionWait(start);
        if (p == nullptr) {
            failure(step);
            step.explanation.push_back(tr(msg::kNoPositionAfter));
            return nullptr;
        }
        step.data.push_back(stringPrintf(tr(msg::kStoppedAt), positionText(*p).c_str()));
        step.data.push_back(stringPrintf(tr(msg::kTookLine), seconds(took).c_str()));
        return p;
    };

    if (!skipped(msg::kStepLocatePno, Needs::Recording)) {
        CheckStep step = begin(msg::kStepLocatePno);
        const int target = r.firstPno > 0 ? r.firstPno : 1;
        const dat::LocateTarget t = dat::locateProgramNumber(target);
        step.data.push_back(
            stringPrintf(tr(msg::kTargetLine), stringPrintf("PNo %03d", target).c_str()));
        if (const dat::TapePosition* p =
                motion(step, [&] { return dat::locateTo(drive, r.d, t, true); })) {
            if (dat::searchFound(t, *p)) {
                r.afterPno = *p;
                r.haveAfterPno = true;
            } else {
                step.result = StepResult::Skip;
                step.explanation.push_back(stringPrintf(tr(msg::kPnoNotOnTape), target));
            }
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepLocateAbs, Needs::Recording)) {
        CheckStep step = begin(msg::kStepLocateAbs);
        dat::TimeCode target = dat::kNoValue;
        if (r.haveLastFrame && plainAbs(r.lastFrame))
            target = r.lastFrame.absTime;
        else if (r.haveAfterPno && plainAbs(r.afterPno))
            target = dat::framesToAbs(dat::absToFrames(r.afterPno.absTime) + 100);
        if (target == dat::kNoValue) {
            step.result = StepResult::Skip;
            step.explanation.push_back(stringPrintf(tr(msg::kSkipBlank), tr(msg::kStepRead)));
        } else {
            step.data.push_back(
                stringPrintf(tr(msg::kTargetLine), trimmed(dat::timeText(target)).c_str()));
            if (const dat::TapePosition* p = motion(step, [&] {
                    return drive.locate(r.d, dat::DatDrive::kLocateByAbsTime, true, target.hours,
                                        target.minutes, target.seconds, target.frame);
                })) {
                const int off = dat::absToFrames(p->absTime) - dat::absToFrames(target);
                step.data.push_back(stringPrintf(tr(msg::kAbsOff), off));
                if (!plainAbs(*p) || std::abs(off) > kAbsFarFrames) {
                    step.result = StepResult::Fail;
                    step.explanation.push_back(tr(msg::kExplainAbsFar));
                }
            }
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepFastForward, Needs::Recording)) {
        CheckStep step = begin(msg::kStepFastForward);
        const dat::LocateTarget t = dat::locateProgramNumber(dat::kMaxProgramNumber);
        if (const dat::TapePosition* p =
                motion(step, [&] { return dat::locateTo(drive, r.d, t, true); })) {
            r.afterFf = *p;
            r.haveAfterFf = true;
        }
        add(std::move(step));
    }

    // --- Recording, when asked for --------------------------------------------------------------
    if (options_.write && !skipped(msg::kStepRecord, Needs::Recording)) {
        CheckStep step = begin(msg::kStepRecord);
        // Only at the end of the recording: in an END ID, or where nothing more is recorded
        // (a frame read there ends with "End of Data").
        bool atEnd =
            r.haveAfterFf && dat::isEndDigits(static_cast<std::uint16_t>(r.afterFf.pNoDigits));
        if (r.haveAfterFf && !atEnd) {
            dat::DatFrame probe;
            atEnd = drive.readFrameParsed(r.d, probe) == nullptr && drive.senseKey() == 0x08 &&
                    drive.senseAsc() == 0x00 && drive.senseAscq() == 0x05;
        }
        if (!atEnd) {
            step.result = StepResult::Skip;
            step.explanation.push_back(tr(msg::kNotAtEnd));
        } else {
            const dat::TimeCode start =
                plainAbs(r.afterFf) ? dat::nextFrame(r.afterFf.absTime) : dat::framesToAbs(0);
            const int program =
                std::min(dat::kMaxProgramNumber, std::max(r.highestPno, r.afterFf.currentPNo) + 1);
            dat::DatFrame frame;
            fillTone(frame);
            dat::RecSubcodeState state;
            dat::initRecSubcode(frame.subcode, state, dat::kIdControlNone, start, 0, 0, 48000,
                                false, 0);
            dat::startIdRun(frame.subcode, state, dat::kIdControlStart, program);
            int written = 0;
            for (; written < kToneFrames && !stopped(); ++written) {
                if (drive.writeFrame(r.d, frame.data(), dat::kFrameBytes) != scsi::kSsComp) {
                    failure(step);
                    step.explanation.push_back(tr(msg::kExplainWriteFailed));
                    break;
                }
                dat::advanceRecSubcode(frame.subcode, state);
            }
            step.data.push_back(stringPrintf(tr(msg::kRecordedAt), written,
                                             trimmed(dat::timeText(start)).c_str(), program));
            r.wrote = written == kToneFrames;
            r.writtenStart = start;
            r.writtenProgram = program;
        }
        add(std::move(step));
    }

    if (options_.write && !skipped(msg::kStepReadBack, Needs::Recording)) {
        CheckStep step = begin(msg::kStepReadBack);
        if (!r.wrote) {
            step.result = StepResult::Skip;
            step.explanation.push_back(stringPrintf(tr(msg::kSkipUnusable), tr(msg::kStepRecord)));
        } else if (motion(step, [&] {
                       return drive.locate(r.d, dat::DatDrive::kLocateByAbsTime, true,
                                           r.writtenStart.hours, r.writtenStart.minutes,
                                           r.writtenStart.seconds, r.writtenStart.frame);
                   }) != nullptr) {
            dat::DatFrame expected;
            fillTone(expected);
            dat::DatFrame frame;
            dat::TimeCode want = r.writtenStart;
            int compared = 0, differ = 0, slack = 0;
            while (compared < kToneFrames && !stopped()) {
                const dat::TapePosition* p = drive.readFrameParsed(r.d, frame);
                if (p == nullptr)
                    break;
                // Frames before the recorded part, where the search stopped a little early.
                if (compared == 0 && p->absTime != want && slack++ < kReadBackSlack)
                    continue;
                if (p->absTime != want || frame.audio != expected.audio)
                    ++differ;
                ++compared;
                want = dat::nextFrame(want);
            }
            differ += kToneFrames - compared;
            step.data.push_back(stringPrintf(tr(msg::kReadBackLine), kToneFrames, differ));
            if (differ > 0) {
                if (compared < kToneFrames)
                    failure(step);
                step.result = StepResult::Fail;
                step.explanation.push_back(tr(msg::kExplainReadBack));
            }
        }
        add(std::move(step));
    }

    if (!skipped(msg::kStepRewind, Needs::Tape)) {
        CheckStep step = begin(msg::kStepRewind);
        const std::int64_t start = clock();
        if (drive.rewind(r.d, true) != scsi::kSsComp) {
            failure(step);
            step.explanation.push_back(tr(msg::kExplainMotion));
        } else if (const auto [p, took] = motionWait(start); p != nullptr) {
            step.data.push_back(stringPrintf(tr(msg::kStoppedAt), positionText(*p).c_str()));
            step.data.push_back(stringPrintf(tr(msg::kTookLine), seconds(took).c_str()));
        } else if (drive.modelIsSdt9000(r.d)) {
            step.data.push_back(tr(msg::kSdt9000NoPosition));
        } else {
            failure(step);
            step.explanation.push_back(tr(msg::kNoPositionAfter));
        }
        add(std::move(step));
    }

    // --- Data mode, whatever happened ----------------------------------------------------------
    if (r.d < 0 || r.d >= drive.deviceCount()) {
        CheckStep step = begin(msg::kStepRestore);
        step.result = StepResult::Skip;
        step.explanation.push_back(stringPrintf(tr(msg::kSkipUnusable), r.blocker.c_str()));
        add(std::move(step));
    } else {
        CheckStep step = begin(msg::kStepRestore);
        const bool sdt9000 = r.d >= 0 && drive.modelIsSdt9000(r.d);
        bool refused = false;
        while (!drive.restoreDataMode()) {
            if (!refused)
                failure(step);
            refused = true;
        }
        if (refused) {
            step.data.insert(step.data.begin(),
                             stringPrintf(tr(msg::kRestoreLine), tr(msg::kRefused)));
            step.explanation.push_back(tr(msg::kExplainNoDataMode));
        } else if (!r.audioTried) {
            step.data.push_back(tr(msg::kRestoreNothing));
        } else if (sdt9000) {
            step.data.push_back(tr(msg::kSdt9000));
        } else {
            step.data.push_back(stringPrintf(tr(msg::kRestoreLine), tr(msg::kAccepted)));
        }
        if (options_.keepAudioMode && r.audio)
            step.data.push_back(stringPrintf(
                tr(msg::kAudioModeForDeck),
                tr(drive.setModePage30(r.d) == scsi::kSsComp ? msg::kAccepted : msg::kRefused)));
        add(std::move(step));
    }
}

// --- The report ---------------------------------------------------------------------------------

std::string DriveCheck::stepText(const CheckStep& step, int number)
{
    std::string text =
        stringPrintf("%2d. %-4s  %s\n", number, resultName(step.result), step.name.c_str());
    for (const std::string& line : step.data)
        text += "          " + line + "\n";
    for (const std::string& line : step.explanation)
        text += "          > " + line + "\n";
    return text;
}

std::string DriveCheck::summary() const
{
    int pass = 0, fail = 0, skip = 0;
    std::string results;
    std::string failures;
    for (const CheckStep& s : steps_) {
        (s.result == StepResult::Pass ? pass : s.result == StepResult::Fail ? fail : skip)++;
        results += stringPrintf("%s%s %s", results.empty() ? "" : ", ", resultName(s.result),
                                s.name.c_str());
        if (s.result == StepResult::Fail) {
            failures += s.name + ":";
            for (const std::string& line : s.data)
                failures += " " + line + ";";
            failures.back() = '\n';
        }
    }
    std::string text = std::string(tr(msg::kSummaryBegin)) + "\n";
    text += session_.program + ", " + session_.started + ", " + session_.system + "\n";
    text += "Drive: " +
            (session_.drive.empty() ? std::string("(the first audio drive)") : session_.drive);
    if (!steps_.empty() && steps_[0].result == StepResult::Pass)
        for (std::size_t i = 0; i < steps_[0].data.size() && i < 3; ++i)
            text += "; " + steps_[0].data[i];
    text += "\n";
    for (const CheckStep& s : steps_)
        if (s.name == tr(msg::kStepInquiry) && s.result == StepResult::Pass)
            for (std::size_t i = 0; i < s.data.size() && i < 3; ++i)
                text += (i == 0 ? "" : "; ") + s.data[i] + (i == 2 ? "\n" : "");
    text += results + "\n";
    text += failures;
    text += stringPrintf(tr(msg::kSummaryCounts), pass, fail, skip);
    text += "\n";
    text += std::string(tr(msg::kSummaryEnd)) + "\n";
    return text;
}

std::string DriveCheck::report() const
{
    std::string text = std::string(tr(msg::kReportTitle)) + "\n";
    text += "Started: " + session_.started + "\n";
    text += "Program: " + session_.program + "\n";
    text += "System: " + session_.system + "\n";
    text += "Drive: " +
            (session_.drive.empty() ? std::string("(the first audio drive)") : session_.drive) +
            "\n";
    text += std::string(tr(options_.write ? msg::kReportWritesTone : msg::kReportWrites)) + "\n";
    if (!session_.replayedFrom.empty())
        text += "Replayed from: " + session_.replayedFrom + "\n";
    text += "\n";
    for (std::size_t i = 0; i < steps_.size(); ++i)
        text += stepText(steps_[i], static_cast<int>(i + 1));
    text += "\n" + summary();
    if (!exchange_.empty())
        text += "\n" + std::string(tr(msg::kExchangeIntro)) + "\n\n" + exchange_;
    return text;
}

bool DriveCheck::saveReport(const std::string& path, std::string& error) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string text = report();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string DriveCheck::defaultReportName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "drive-check-%Y-%m-%d.txt", &local);
    return name;
}

} // namespace tarnvel::diag
