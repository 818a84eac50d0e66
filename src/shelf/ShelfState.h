#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The shelf's state, SHELF/shelf.json: what became of every tape. Read and written only under
// the shelf's lock (ShelfLock), replaced whole and atomically, so that a process killed at any
// moment leaves either the old or the new file and two processes never lose each other's
// updates.
namespace tarnvel::shelf {

enum class TapeState { Pending, Claimed, Done, Failed };

// "pending", "claimed", "done", "failed".
const char* stateName(TapeState state);

struct TapeRecord {
    std::string label;
    TapeState state = TapeState::Pending;
    std::string reason; // why it failed, or why it is pending again ("interrupted")
    std::string host;   // of the last attempt
    std::int64_t pid = 0;
    std::string started; // UTC, 2026-12-11T17:20:05Z; empty before the first attempt
    std::string ended;
    int attempts = 0;
    // Of a done tape's archive.
    int programs = 0; // files written (a file per program number)
    std::int64_t seconds = 0;
    std::uint64_t errorFrames = 0;
    std::uint64_t errorsLeft = 0, errorsRight = 0, errorsAbs = 0;
    std::string folder; // the archive, relative to the shelf (LABEL)
    // What happened besides: take-overs, output moved aside, redone on request.
    std::vector<std::string> notes;
};

struct ShelfState {
    std::vector<TapeRecord> tapes;
    TapeRecord* find(std::string_view label);
    const TapeRecord* find(std::string_view label) const;
};

std::string toJson(const ShelfState& state);
// False with the reason for text that is no state file (a file edited by hand); the caller
// then leaves it as it is.
bool fromJson(std::string_view text, ShelfState& state, std::string& error);

// Reads `path`; a missing file is an empty state.
bool readStateFile(const std::string& path, ShelfState& state, std::string& error);

// Replaces `path` with `data` so that a crash or power loss at any moment leaves the old file
// or the new one, whole: a temporary file beside it (named after this host and process),
// written and flushed to the disk, renamed over the target, the folder flushed.
bool writeFileAtomically(const std::string& path, std::string_view data, std::string& error);

// The shelf's lock (flock on SHELF/shelf.lock, which NFS clients emulate with byte-range
// locks): held while a process reads, changes and writes the state or a claim. Blocks until
// it is free.
class ShelfLock {
public:
    explicit ShelfLock(const std::string& folder);
    ~ShelfLock();
    ShelfLock(const ShelfLock&) = delete;
    ShelfLock& operator=(const ShelfLock&) = delete;
    bool held() const { return fd_ >= 0; }
    const std::string& errorText() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

// This machine's name (gethostname).
std::string hostName();
// The time now as the state file writes it (UTC).
std::string utcNow();

} // namespace tarnvel::shelf
