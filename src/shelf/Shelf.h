#pragma once

#include "shelf/ShelfClaim.h"
#include "shelf/ShelfList.h"
#include "shelf/ShelfState.h"

#include <cstdint>
#include <string>
#include <vector>

// A shelf: a folder holding shelf.txt (the tapes), shelf.json (what became of each), a claim
// file for each tape being archived and a folder for each tape's archive. Any number of
// processes, on this machine or others that mount the folder, take tapes from it; the folder
// is the whole queue.
namespace tarnvel::shelf {

// How an archive attempt ended.
struct TapeOutcome {
    bool done = false;  // archived and verified
    std::string reason; // why not
    int programs = 0;
    std::int64_t seconds = 0;
    std::uint64_t errorFrames = 0;
    std::uint64_t errorsLeft = 0, errorsRight = 0, errorsAbs = 0;
};

class Shelf {
public:
    // Works as `host` and `pid` (this machine and process unless given).
    explicit Shelf(std::string folder, std::string host = hostName(), std::int64_t pid = -1);

    // Reads shelf.txt. False with the reason.
    bool open(std::string& error);
    const std::vector<ShelfTape>& tapes() const { return tapes_; }
    const std::string& folder() const { return folder_; }
    std::string statePath() const { return folder_ + "/shelf.json"; }
    // Where a tape's archive goes: SHELF/LABEL.
    std::string outputFolder(const std::string& label) const { return folder_ + "/" + label; }

    struct Claim {
        ShelfTape tape;
        int number = 0;                 // in the list, from 1
        std::vector<std::string> notes; // what the claim had to do first (take-over, move aside)
        ClaimInfo info;
        std::string file;
    };
    enum class Next { Claimed, NoneLeft, Failed };

    // Claims the first tape of the list that is pending and not claimed by a live process, or
    // whose claim is stale (its process gone on this machine, or not renewed for
    // kClaimStaleSeconds): a take-over is noted in the state. Output of an earlier attempt
    // (SHELF/LABEL) is moved aside to SHELF/LABEL.incomplete-N first; nothing is deleted. Done
    // and failed tapes are not taken. Failed: `error` says why (state unreadable, folder not
    // writable).
    Next claimNext(Claim& claim, std::string& error);

    // Records the end of a claimed tape (done or failed) and removes the claim. False when
    // the claim is no longer ours (taken over): the state is then left to the new owner.
    bool finish(const Claim& claim, const TapeOutcome& outcome, std::string& error);
    // Puts a claimed tape back (pending, with `reason`) and removes the claim: the tape is done
    // again by the next run.
    bool release(const Claim& claim, const std::string& reason, std::string& error);
    // Makes a tape pending again on purpose, a done one too; its archive is moved aside to
    // SHELF/LABEL.previous-N. Refused while a live process holds the tape.
    bool redo(const std::string& label, std::string& error);

    // The state of every listed tape, in the list's order (pending for those never started);
    // a claimed tape whose claim is stale or gone has that as its reason.
    bool readState(ShelfState& state, std::string& error) const;

private:
    bool claimOne(ShelfState& state, const ShelfTape& tape, int number, Claim& claim,
                  std::string& error);
    std::string folder_;
    std::string host_;
    std::int64_t pid_;
    std::vector<ShelfTape> tapes_;
};

// Moves `folder` aside to `folder` + "." + kind + "-N" with the first free N from 1. Returns
// the new name's last part, empty with `error` when it cannot be moved.
std::string moveAside(const std::string& folder, const std::string& kind, std::string& error);

struct ShelfTotals {
    int tapes = 0, done = 0, failed = 0, left = 0;
    int withErrors = 0; // done tapes with error frames
    std::int64_t seconds = 0;
};
ShelfTotals totalsOf(const ShelfState& state);

// One line a tape and a total line.
std::vector<std::string> statusLines(const ShelfState& state);
// The same as JSON: {"tapes": [...], "total": {...}}.
std::string statusJson(const ShelfState& state);

} // namespace tarnvel::shelf
