#pragma once

#include "scsi/CommandExchange.h"
#include "scsi/ScsiBackend.h"

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnvel::scsi {

// A drive that answers from a recorded exchange (a command log written with --log-full, or a
// drive check's report), command by command, so that any command, archive or test runs
// against what a real drive said. Its devices are those of the recording (the last session in
// the file), with their paths, groups and problems. Each command sent must be the recorded
// one (device, CDB, data phase, data sent); the first that is not stops the replay: the
// message ("Replay differs at command N: sent CDB ..., recorded CDB ...") goes to `differs`
// once, and that command and every later one fail with "Replay differs". A command to a
// device the recording sent nothing to fails at once ("Device not in the recording") without
// moving the replay on: selections that try the devices in turn pass over it as the recorded
// run did. Commands take the time they took, or none with `fast`.
class ReplayBackend final : public ScsiBackend {
public:
    struct Options {
        bool fast = false;
        // Called once, from the thread that sent the command, when the replay stops.
        std::function<void(const std::string& message)> differs;
    };

    // Null with `error` (naming the file) when it cannot be read or holds no exchange.
    static std::unique_ptr<ReplayBackend> open(const std::string& path, Options options,
                                               std::string& error);
    // The same over a file already open (taken), named `name` in texts.
    static std::unique_ptr<ReplayBackend> open(std::FILE* file, const std::string& name,
                                               Options options, std::string& error);
    ~ReplayBackend() override;

    void scan(std::uint8_t wantedType, const AddDevice& add) override;
    std::vector<HostAdapterEntry> hostAdapters() const override;
    void execute(int handle, const ScsiCommand& command, AbortState& abort,
                 ScsiResult& result) override;
    bool resetBus(int handle, std::string& errorText) override;
    bool isSpti() const override;
    std::string devicePath(int handle) const override;
    std::string commandPath(int handle) const override;
    std::string deviceProblem(int handle) const override;
    std::string nodeGroup(int handle) const override;
    bool waitingForRecovery(int handle) const override;
    const ExchangeSession* recordedSession() const override { return &session_; }

    // Why the replay stopped (the message given to `differs`), or empty.
    const std::string& stopMessage() const { return stopMessage_; }
    // Commands answered from the recording so far.
    long commandsReplayed() const { return replayed_; }

private:
    ReplayBackend(std::string name, Options options);
    const ExchangeDevice* device(int handle) const;
    // The next recorded command for `sent` (a bus reset when null); false (the replay stopped)
    // when there is none or it is another.
    bool takeNext(int handle, const ScsiCommand* sent);
    void stop(const std::string& message);
    void setTexts(ScsiResult& result);
    void sleepAsRecorded(AbortState& abort);

    std::string name_;
    Options options_;
    ExchangeReader reader_;
    ExchangeSession session_;
    ExchangeCommand recorded_; // the command being answered
    long replayed_ = 0;
    long lastNumber_ = 0;
    std::string stopMessage_;
    // Texts the recording gives that no message of ours has.
    MessagePair failure_{"", ""};
    MessagePair note_{"", ""};
    std::string failureText_, noteText_;
    std::array<std::string, 16> problems_;
    std::array<bool, 16> waiting_{};
};

} // namespace tarnvel::scsi
