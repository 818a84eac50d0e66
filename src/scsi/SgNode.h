#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/SgIo.h"

#include <string>

namespace tarnvel::scsi {

// One device node that carries commands, opened on first use and again after an abort or a
// deadline closed it.
// - A SCSI generic node (/dev/sgN) is driven through the sg driver's asynchronous interface:
//   write the header, poll every 100 ms, read the reply. So an abort request is seen during a
//   long motion, and a command the kernel never completes is given up after its time-out
//   plus a margin: the descriptor is closed, and the sg driver drops the orphaned reply
//   instead of copying into a buffer we no longer own.
// - A tape node (/dev/nstN, the fallback when a tape has no generic node) takes blocking
//   SG_IO calls: no abort and no deadline of our own.
// A claim node (the tape node of a drive reached through its generic node) is held open while
// the node is in use: the tape driver allows one open at a time, so no other program uses
// the drive meanwhile, and a drive another program holds is reported busy instead of used.
class SgNode {
public:
    enum class Kind { Generic, Tape };
    SgNode(SgIo& io, Kind kind, std::string path, std::string claimPath = {});
    ~SgNode();
    SgNode(const SgNode&) = delete;
    SgNode& operator=(const SgNode&) = delete;

    // Opens what is not open; 0, or the negative errno of the open that failed.
    int ensureOpen();
    void close();
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    Kind kind() const { return kind_; }
    // Errno of the last failed open, or of a command the kernel refused for lack of rights
    // or because the node was busy; 0 after a success. `problemPath`: the node it concerns.
    int problem() const { return problem_; }
    const std::string& problemPath() const { return problemOnClaim_ ? claimPath_ : path_; }
    // `abort` null: this node cannot abort (the command runs to its end or deadline).
    void execute(const ScsiCommand& command, AbortState* abort, ScsiResult& result);
    // SG_SCSI_RESET with `what` and the no-escalation flag; 0 or a negative errno.
    int reset(int what);

    static constexpr int kPollMs = 100;
    // Added to a command's own time-out: the kernel's error handling after it may take a
    // while before the reply (with its host status) arrives.
    static constexpr int kDeadlineMarginMs = 10000;
    // What the kernel uses when a command carries no time-out.
    static constexpr int kKernelDefaultTimeoutMs = 60000;

private:
    void executeAsync(const ScsiCommand& command, AbortState* abort, ScsiResult& result);
    void noteOutcome(const ScsiResult& result);

    SgIo& io_;
    Kind kind_;
    std::string path_;
    std::string claimPath_;
    bool claimWanted_;
    int fd_ = -1;
    int claimFd_ = -1;
    int problem_ = 0;
    bool problemOnClaim_ = false;
    int packId_ = 0;
};

} // namespace tarnvel::scsi
