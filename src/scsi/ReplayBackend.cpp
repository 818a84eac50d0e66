#include "scsi/ReplayBackend.h"

#include "scsi/ScsiMessages.h"
#include "scsi/ScsiStatus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tarnvel::scsi {

namespace {

// The texts a recording may carry as a failure or note, back to the messages they came from.
constexpr const MessagePair* kKnownTexts[] = {
    &msg::kTimedOut,
    &msg::kPassThroughFailed,
    &msg::kDeviceUnavailable,
    &msg::kInvalidRequest,
    &msg::kPermissionDenied,
    &msg::kDeviceBusy,
    &msg::kNoRawIo,
    &msg::kIncompleteTransfer,
    &msg::kNotConnected,
    &msg::kNoSelection,
    &msg::kAdapterRecovering,
    &msg::kNotAnswering,
    &msg::kHeaderRefused,
    &msg::kAudioModeLost,
    &msg::kLateReply,
    &msg::kDriveGone,
    &msg::kResetStopped,
    &msg::kResetStoppedBehindBridge,
    &msg::kResetAfterCompletion,
    &msg::kResetNoReply,
    &msg::kExplainModeLost,
    &msg::kReplayStopped,
    &msg::kNotInRecording,
};

const MessagePair* knownText(const std::string& text)
{
    for (const MessagePair* m : kKnownTexts)
        if (text == m->en)
            return m;
    return nullptr;
}

std::string format(const MessagePair& message, long number, const char* a, const char* b)
{
    char text[512];
    std::snprintf(text, sizeof text, tr(message), number, a, b);
    return text;
}

std::string phaseText(DataDirection direction, std::uint32_t length)
{
    switch (direction) {
    case DataDirection::In:
        return "data in of " + std::to_string(length) + " bytes";
    case DataDirection::Out:
        return "data out of " + std::to_string(length) + " bytes";
    case DataDirection::None:
        break;
    }
    return "no data";
}

} // namespace

ReplayBackend::ReplayBackend(std::string name, Options options)
    : name_(std::move(name)), options_(std::move(options))
{
}

ReplayBackend::~ReplayBackend() = default;

std::unique_ptr<ReplayBackend> ReplayBackend::open(const std::string& path, Options options,
                                                   std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        char text[512];
        std::snprintf(text, sizeof text, tr(msg::kReplayFileProblem), path.c_str(),
                      std::strerror(errno));
        error = text;
        return nullptr;
    }
    return open(file, path, std::move(options), error);
}

std::unique_ptr<ReplayBackend> ReplayBackend::open(std::FILE* file, const std::string& name,
                                                   Options options, std::string& error)
{
    std::unique_ptr<ReplayBackend> replay(new ReplayBackend(name, std::move(options)));
    std::string problem;
    if (!replay->reader_.open(file, problem)) {
        char text[768];
        std::snprintf(text, sizeof text, tr(msg::kReplayFileProblem), name.c_str(),
                      problem.c_str());
        error = text;
        return nullptr;
    }
    replay->session_ = replay->reader_.session();
    replay->session_.replayedFrom = name + ", by Tarnvel " TARNVEL_VERSION;
    for (std::size_t d = 0; d < replay->session_.devices.size(); ++d)
        replay->problems_[d] = replay->session_.devices[d].problem;
    return replay;
}

const ExchangeDevice* ReplayBackend::device(int handle) const
{
    if (handle < 0 || handle >= static_cast<int>(session_.devices.size()))
        return nullptr;
    return &session_.devices[handle];
}

void ReplayBackend::scan(std::uint8_t wantedType, const AddDevice& add)
{
    for (std::size_t d = 0; d < session_.devices.size(); ++d) {
        const ScsiDeviceEntry& e = session_.devices[d].entry;
        if (wantedType != kTypeAny && e.deviceType != wantedType)
            continue;
        if (!add(e, static_cast<int>(d)))
            return;
    }
}

std::vector<HostAdapterEntry> ReplayBackend::hostAdapters() const
{
    return session_.adapters;
}

bool ReplayBackend::isSpti() const
{
    return session_.spti;
}

std::string ReplayBackend::devicePath(int handle) const
{
    const ExchangeDevice* d = device(handle);
    return d != nullptr ? d->path : std::string();
}

std::string ReplayBackend::commandPath(int handle) const
{
    const ExchangeDevice* d = device(handle);
    return d != nullptr ? d->commandPath : std::string();
}

std::string ReplayBackend::nodeGroup(int handle) const
{
    const ExchangeDevice* d = device(handle);
    return d != nullptr ? d->group : std::string();
}

std::string ReplayBackend::deviceProblem(int handle) const
{
    return device(handle) != nullptr ? problems_[handle] : std::string();
}

bool ReplayBackend::waitingForRecovery(int handle) const
{
    return device(handle) != nullptr && waiting_[handle];
}

void ReplayBackend::stop(const std::string& message)
{
    stopMessage_ = message;
    if (options_.differs)
        options_.differs(message);
}

bool ReplayBackend::takeNext(int handle, const ScsiCommand* sent)
{
    char sentCdb[3 * 16 + 1] = "";
    if (sent != nullptr)
        cdbText(sent->cdb, sent->cdbLength, sentCdb, sizeof sentCdb);
    std::string error;
    switch (reader_.next(recorded_, error)) {
    case ExchangeReader::Read::End:
        stop(format(msg::kReplayEnded, lastNumber_ + 1, sent != nullptr ? sentCdb : "(bus reset)",
                    ""));
        return false;
    case ExchangeReader::Read::Error:
        stop(format(msg::kReplayBadRecording, lastNumber_ + 1, name_.c_str(), error.c_str()));
        return false;
    case ExchangeReader::Read::Command:
        break;
    }
    lastNumber_ = recorded_.number;
    char recordedCdb[3 * 16 + 1] = "a bus reset";
    if (!recorded_.busReset)
        cdbText(recorded_.cdb.data(), recorded_.cdbLength, recordedCdb, sizeof recordedCdb);
    if (sent == nullptr) {
        if (!recorded_.busReset || recorded_.device != handle) {
            stop(format(msg::kReplayBusReset, recorded_.number, recordedCdb, ""));
            return false;
        }
        return true;
    }
    const bool sameCdb = !recorded_.busReset && recorded_.cdbLength == sent->cdbLength &&
                         std::equal(sent->cdb, sent->cdb + sent->cdbLength, recorded_.cdb.begin());
    const bool samePhase =
        recorded_.direction == sent->direction &&
        (sent->direction == DataDirection::None || recorded_.length == sent->length);
    if (!sameCdb || !samePhase || recorded_.device != handle) {
        std::string message = format(msg::kReplayDiffers, recorded_.number, sentCdb, recordedCdb);
        if (recorded_.device != handle)
            message += " (sent to device " + std::to_string(handle) + ", recorded on device " +
                       std::to_string(recorded_.device) + ")";
        if (sameCdb && !samePhase)
            message += " (sent " + phaseText(sent->direction, sent->length) + ", recorded " +
                       phaseText(recorded_.direction, recorded_.length) + ")";
        stop(message);
        return false;
    }
    if (sent->direction == DataDirection::Out) {
        const auto* begin = sent->buffer;
        const auto mismatch = std::mismatch(begin, begin + sent->length, recorded_.data.begin());
        if (mismatch.first != begin + sent->length) {
            char text[512];
            std::snprintf(text, sizeof text, tr(msg::kReplayDataDiffers), recorded_.number, sentCdb,
                          static_cast<unsigned>(mismatch.first - begin));
            stop(text);
            return false;
        }
    }
    return true;
}

void ReplayBackend::setTexts(ScsiResult& result)
{
    result.failure = nullptr;
    result.note = nullptr;
    if (!recorded_.failure.empty()) {
        result.failure = knownText(recorded_.failure);
        if (result.failure == nullptr) {
            failureText_ = recorded_.failure;
            failure_ = {"", failureText_.c_str()};
            result.failure = &failure_;
        }
    }
    if (!recorded_.note.empty()) {
        result.note = knownText(recorded_.note);
        if (result.note == nullptr) {
            noteText_ = recorded_.note;
            note_ = {"", noteText_.c_str()};
            result.note = &note_;
        }
    }
}

void ReplayBackend::sleepAsRecorded(AbortState& abort)
{
    if (options_.fast || recorded_.tookUs <= 0)
        return;
    // In slices, so that an abort ends the wait (the answer stays the recorded one).
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(recorded_.tookUs);
    while (!abort.requested.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(100)));
    }
}

void ReplayBackend::execute(int handle, const ScsiCommand& command, AbortState& abort,
                            ScsiResult& result)
{
    if (device(handle) == nullptr) {
        result.status = kSsNoDevice;
        result.failure = &msg::kDeviceUnavailable;
        return;
    }
    if (!stopMessage_.empty() || !reader_.deviceUsed(handle) || !takeNext(handle, &command)) {
        result.status = kSsErr;
        result.failure = stopMessage_.empty() ? &msg::kNotInRecording : &msg::kReplayStopped;
        return;
    }
    ++replayed_;
    if (command.direction == DataDirection::In && !recorded_.data.empty())
        std::memcpy(command.buffer, recorded_.data.data(),
                    std::min<std::size_t>(recorded_.data.size(), command.length));
    result = recorded_.result;
    setTexts(result);
    result.recordedAtUs = recorded_.atUs;
    result.recordedTookUs = recorded_.tookUs;
    problems_[handle] = recorded_.problem;
    waiting_[handle] = recorded_.waitingForRecovery;
    sleepAsRecorded(abort);
}

bool ReplayBackend::resetBus(int handle, std::string& errorText)
{
    if (device(handle) == nullptr || !stopMessage_.empty() || !takeNext(handle, nullptr)) {
        errorText = tr(msg::kReplayStopped);
        return false;
    }
    ++replayed_;
    errorText = recorded_.busResetError;
    return recorded_.busResetError.empty();
}

} // namespace tarnvel::scsi
