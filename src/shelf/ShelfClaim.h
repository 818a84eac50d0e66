#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A claim on a tape: SHELF/LABEL.claim, created with O_EXCL (atomic on local folders and on
// NFS), holding who works on the tape and when they last said so.
namespace tarnvel::shelf {

// A claim not renewed for this long belongs to a machine that stopped (or lost the folder).
inline constexpr std::int64_t kClaimStaleSeconds = 10 * 60;
// How often a working process renews its claim: far inside the stale time, so that a slow
// shared folder never makes a working claim look stale.
inline constexpr int kClaimRenewSeconds = 60;

struct ClaimInfo {
    std::string host;
    std::int64_t pid = 0;
    std::int64_t renewed = 0; // seconds since 1970 (UTC)

    bool sameOwner(const ClaimInfo& o) const { return host == o.host && pid == o.pid; }
};

std::string claimPath(const std::string& folder, const std::string& label);

// Creates the claim file; false when it exists already (`error` empty) or cannot be made
// (`error` says why).
bool createClaim(const std::string& path, const ClaimInfo& claim, std::string& error);

// Reads a claim. A file that holds no whole claim (a process killed between creating and
// writing it) is read with its file time as the renewal and no owner.
bool readClaim(const std::string& path, ClaimInfo& claim);

// Writes a new renewal time into our own claim. False when the claim is gone or is someone
// else's now (taken over): the caller's work on the tape is no longer its own.
bool renewClaim(const std::string& path, const ClaimInfo& own, std::int64_t now);

enum class ClaimLife {
    Live,        // its owner works on the tape
    ProcessGone, // on this machine, its process has ended (killed, crashed)
    NotRenewed,  // not renewed for kClaimStaleSeconds
};

// What a claim read at `now` is, seen from a process on `thisHost`.
ClaimLife judgeClaim(const ClaimInfo& claim, const std::string& thisHost, std::int64_t now);

// True while a process with this id runs on this machine.
bool processRuns(std::int64_t pid);

std::int64_t secondsNow();

// Renews a claim every `intervalSeconds` on a thread of its own until destroyed.
class ClaimRenewer {
public:
    ClaimRenewer(std::string path, ClaimInfo own, int intervalSeconds = kClaimRenewSeconds);
    ~ClaimRenewer();
    ClaimRenewer(const ClaimRenewer&) = delete;
    ClaimRenewer& operator=(const ClaimRenewer&) = delete;
    // A renewal found the claim gone or someone else's. Any thread.
    bool lost() const { return lost_.load(); }

private:
    void run();
    std::string path_;
    ClaimInfo own_;
    int interval_;
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace tarnvel::shelf
