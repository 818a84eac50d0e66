#pragma once

#include "scsi/ScsiBackend.h"
#include "scsi/SgHeader.h"
#include "scsi/SgIo.h"

#include <array>
#include <string>
#include <vector>

namespace tarnvel::scsi {

// One device node that carries commands, opened on first use and again after a release.
// - A SCSI generic node (/dev/sgN) is driven through the sg driver's asynchronous interface:
//   write the header, poll every 100 ms, read the reply. So an abort request is seen during a
//   long motion, and a command the kernel does not complete is given up after its time-out
//   plus a margin. The kernel still holds such a command (its error handling may go on for
//   minutes, longer behind a USB bridge) and may yet complete it: no further command goes to
//   the drive until its reply has come or the drive is gone, or a frame could be skipped or
//   written twice. Data and sense go through buffers of the node, which a late reply may
//   still fill.
// - A tape node (/dev/nstN, the fallback when a tape has no generic node) takes blocking
//   SG_IO calls: no abort and no deadline of our own.
// A claim node (the tape node of a drive reached through its generic node) is held open while
// the drive is in use: the tape driver allows one open at a time, so no other program uses
// the drive meanwhile, and a drive another program holds is reported busy instead of used.
class SgNode {
public:
    enum class Kind { Generic, Tape };
    // `sysfsDevice`: the device's sysfs folder, where its state ("offline") is read while a
    // command given up at its deadline has not answered.
    SgNode(SgIo& io, Kind kind, std::string path, std::string claimPath = {},
           std::string sysfsDevice = {});
    ~SgNode();
    SgNode(const SgNode&) = delete;
    SgNode& operator=(const SgNode&) = delete;

    // Opens what is not open; 0, or the negative errno of the open that failed.
    int ensureOpen();
    // Closes the node and ends the claim, except while a command given up at its deadline has
    // not answered (the drive is still the kernel's).
    void release();
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    Kind kind() const { return kind_; }
    // Errno of the last failed open, or of a command the kernel refused for lack of rights
    // or because the node was busy; 0 after a success. `problemPath`: the node it concerns.
    int problem() const { return problem_; }
    const std::string& problemPath() const { return problemOnClaim_ ? claimPath_ : path_; }
    // True while a command given up at its deadline has not answered and the drive is there.
    bool waitingForRecovery() const { return stalled_; }
    // The drive sits behind a USB bridge (usb-storage, uas): a reset waits for the running
    // command to finish and then reports it as aborted.
    void setBehindUsbBridge(bool behind) { behindUsbBridge_ = behind; }
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
    void close();
    void executeAsync(const ScsiCommand& command, AbortState* abort, ScsiResult& result);
    // Settles a command given up at its deadline: true when its reply has come (noted in
    // `result`) or the drive is gone, false while it is still the kernel's.
    bool settleGivenUp(ScsiResult& result);
    bool deviceOffline();
    void noteOutcome(const ScsiResult& result);

    SgIo& io_;
    Kind kind_;
    std::string path_;
    std::string claimPath_;
    std::string statePath_;
    bool claimWanted_;
    bool behindUsbBridge_ = false;
    int fd_ = -1;
    int claimFd_ = -1;
    int problem_ = 0;
    bool problemOnClaim_ = false;
    int packId_ = 0;
    bool stalled_ = false;
    // What the kernel copies data and sense into: owned here so that a late reply never
    // writes into a buffer its caller has reused. Grows to the largest transfer, then stays.
    std::vector<std::uint8_t> data_;
    std::array<std::uint8_t, kSgSenseBufferBytes> sense_{};
};

} // namespace tarnvel::scsi
