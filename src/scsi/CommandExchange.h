#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/ScsiDevice.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The whole exchange with a drive as text: every command with its CDB, the data both ways in
// hex, the status bytes, the sense data and the time. `--log-full` writes it into TVDAT.LOG
// between the readable entries, a drive check puts it at the end of its report, and the replay
// back-end answers from it. A session begins with a header line and the device table of the
// run; each command is a block from its "Command N" line to the next empty line. Everything
// else (the readable log entries, a report's steps) is skipped by the reader.
namespace tarnvel::scsi {

inline constexpr char kExchangeSessionLine[] = "==== Command exchange ====";
// Transfers larger than this are refused by the reader (a frame is 5822 bytes).
inline constexpr std::uint32_t kExchangeMaxTransfer = 16u << 20;

struct ExchangeDevice {
    ScsiDeviceEntry entry;
    std::string path;        // the node the user names ("/dev/nst0"); empty for in-process
    std::string commandPath; // the node commands go through when another ("/dev/sg3")
    std::string group;       // the group that owns that node
    std::string problem;     // why it could not be used, when it could not
};

// What a session header tells of the run that recorded it.
struct ExchangeSession {
    std::string started; // local date and time, "2024-05-01 12:00:00"
    std::string program; // "Tarnvel 0.1.0"
    std::string system;  // "Linux 6.1.0-18-amd64 x86_64"
    std::string drive;   // the drive specification of the run; empty: the first audio drive
    bool spti = false;
    std::vector<HostAdapterEntry> adapters;
    std::vector<ExchangeDevice> devices; // by device index
    // Set in the header of a replayed run: what it replays.
    std::string replayedFrom;
};

// One recorded command (or bus reset).
struct ExchangeCommand {
    long number = 0;
    int device = 0;
    std::int64_t atUs = 0;   // since the session began
    std::int64_t tookUs = 0; // how long the command took
    bool busReset = false;   // a bus reset, not a command: `busResetError` empty when done
    std::string busResetError;
    std::array<std::uint8_t, 16> cdb{};
    std::size_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    std::uint32_t length = 0;       // the data phase asked for
    std::vector<std::uint8_t> data; // what was sent, or what was received
    // The result as recorded; `failure` and `note` are left null here: their texts follow.
    ScsiResult result;
    std::string failure;
    std::string note;
    std::string problem; // the device's problem after the command, if any
    bool waitingForRecovery = false;
};

// Writing. `number` counts the commands of the session from 1. Nothing allocates in
// writeExchangeCommand (it runs for every frame while the full log is on).
void writeExchangeSession(std::FILE* file, const ExchangeSession& session);
// `received`: how many bytes of a data-in command reached the buffer. `problem`: the device's
// problem after the command (null or empty when none).
void writeExchangeCommand(std::FILE* file, long number, int device, std::int64_t atUs,
                          std::int64_t tookUs, const ScsiCommand& command, std::uint32_t received,
                          const ScsiResult& result, const char* problem, bool waitingForRecovery);
void writeExchangeBusReset(std::FILE* file, long number, int device, std::int64_t atUs,
                           std::int64_t tookUs, const char* error);

// "08 00 00 16 BE 00" into `out` (at least 3 × length characters).
void cdbText(const std::uint8_t* cdb, std::size_t length, char* out, std::size_t size);

// Reads the last session of a file: a command log written with the full exchange, or a drive
// check report. Untrusted input: every field is checked, lines are bounded, and memory stays
// bounded by the largest transfer allowed.
class ExchangeReader {
public:
    ExchangeReader();
    ~ExchangeReader();
    ExchangeReader(const ExchangeReader&) = delete;
    ExchangeReader& operator=(const ExchangeReader&) = delete;

    // Takes the file (closed at the end). Finds the last session and reads its header; false
    // with `error` ("line 12: ...") when there is none or the header is damaged.
    bool open(std::FILE* file, std::string& error);
    const ExchangeSession& session() const { return session_; }
    // True when the session holds a command for that device.
    bool deviceUsed(int device) const { return used_.count(device) != 0; }

    enum class Read { Command, End, Error };
    // The next command of the session; End after its last one.
    Read next(ExchangeCommand& command, std::string& error);

private:
    struct LineSource;
    enum class Line { Text, TooLong, End };
    Line readLine();
    bool readHeader(std::string& error);
    bool readCommand(ExchangeCommand& command, std::string& error);
    bool readData(ExchangeCommand& command, std::uint32_t count, std::string& error);
    std::string where() const;

    std::FILE* file_ = nullptr;
    std::unique_ptr<LineSource> source_;
    std::string line_;
    long lineNumber_ = 0;
    bool pending_ = false; // line_ holds a line not used yet
    bool ended_ = false;
    ExchangeSession session_;
    std::set<int> used_;
};

} // namespace tarnvel::scsi
