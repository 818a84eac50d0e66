#pragma once

#include "dat/DatFrame.h"
#include "dat/IdTable.h"
#include "dat/RecSubcode.h"
#include "dat/TapePosition.h"
#include "dat/TapeTracker.h"
#include "dat/UnitStatus.h"
#include "scsi/ScsiTransport.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// The drive object: a sequential-access SCSI device used as a DAT deck. Every drive
// operation takes a drive index, which is the index of the device in the transport's table;
// each drive has its own position, ID tables and read-ahead ring.
namespace tarnvel::dat {

// A source of the frames the read-ahead ring takes in place of its own READ(6) commands: the
// re-reading of damaged stretches sits here, so that the play path still sees every frame once
// and in tape order. It may read and locate the same drive (the ring is kept meanwhile).
class FrameFeed {
public:
    virtual ~FrameFeed() = default;
    // The next frame in tape order; false when the read failed (its sense is the drive's last).
    // `note` travels with the frame (see DatDrive::takenNote).
    virtual bool next(DatFrame& frame, std::uint8_t& note) = 0;
};

class DatDrive : public scsi::ScsiTransport {
public:
    static constexpr int kMaxDrives = scsi::ScsiTransport::kMaxDevices;
    static constexpr int kAheadSlots = 36;
    static constexpr std::uint32_t kFrameLength = kFrameBytes; // one frame per command
    static constexpr std::uint8_t kNotSent = 0xFF; // status when the drive index is invalid
    static constexpr std::uint8_t kAudioDensity = 0x80;
    static constexpr int kLocateByProgram = 0;
    static constexpr int kLocateByAbsTime = 1;

    DatDrive(bool forceAspi, std::shared_ptr<scsi::SgIo> kernel);
    explicit DatDrive(bool forceAspi) : DatDrive(forceAspi, scsi::linuxSgIo()) {}
    // The devices of one back-end (a replay) in place of the kernel's.
    explicit DatDrive(std::unique_ptr<scsi::ScsiBackend> backend);
    ~DatDrive() override;

    // Waits of the retry loops go through this (tests make them instant).
    void setSleepFunction(std::function<void(int milliseconds)> sleep);

    // SCSI commands. Each returns the status byte (scsi::kSsComp on success), or kNotSent
    // without sending anything when `d` is not a drive index.
    std::uint8_t testUnitReady(int d);
    std::uint8_t inquiry(int d, std::uint8_t* buffer, std::uint8_t n);
    std::uint8_t modeSense(int d, std::uint8_t* buffer, std::uint8_t n, int pageControl, int page);
    std::uint8_t modeSelect(int d, std::uint8_t byte1, const std::uint8_t* buffer, std::uint8_t n);
    std::uint8_t readBuffer(int d);
    std::uint8_t loadUnload(int d, bool load, bool immediate);
    std::uint8_t rewind(int d, bool immediate);
    std::uint8_t readFrame(int d, std::uint8_t* buffer, std::uint32_t n);
    std::uint8_t writeFrame(int d, const std::uint8_t* buffer, std::uint32_t n);
    // Kind kLocateByProgram: a, b, c are the hundreds, tens and units digits (0-9), e is 0.
    // Kind kLocateByAbsTime: hours, minutes, seconds, frame as BCD bytes.
    std::uint8_t locate(int d, int kind, bool immediate, std::uint8_t a, std::uint8_t b,
                        std::uint8_t c, std::uint8_t e);
    // 20 bytes: program number digits, index and the three times of the current position.
    std::uint8_t readPosition(int d, std::uint8_t* buffer);

    // True when the device at `d` is a tape drive that switches into audio mode; a device that
    // does not is let go (see ScsiTransport::releaseDevice).
    bool identify(int d);
    // Audio mode (density 0x80), verified by reading the mode data back. After a reset it is
    // set again by the first frame read or write, locate or position read.
    std::uint8_t setModePage30(int d);
    std::uint8_t setDataMode(int d);
    // At the end of a run: switches each drive this object put into audio mode back to data
    // mode (an SDT-9000 stays in audio mode); false at a drive that refused, with its error
    // in the last command's status: call again for the drives after it.
    bool restoreDataMode();
    // Reads the 12 bytes of mode data (logged when logging); returns the density code.
    std::uint8_t modeDump(int d);
    UnitStatus datTestUnitReady(int d);

    // One frame read and parsed without ID registration; null on failure.
    const TapePosition* readFrameParsed(int d, DatFrame& frame);
    // The play path's read through the read-ahead ring; null on failure (the sense of the
    // failed read is still in `senseData`). Allocates only on the drive's first call.
    const TapePosition* readFrameAhead(int d, DatFrame& frame);
    // Program number starting in the frame k places after the next one to be consumed (0:
    // none, or not buffered).
    std::uint32_t readAheadPeek(int d, int k) const;
    // The frame k places ahead in the read-ahead ring (0 = the next one to be taken), or null
    // when the ring does not hold it yet. The playback thread only (the ring is its own).
    const DatFrame* readAheadFrame(int d, int k) const;
    void resetReadAhead(int d);
    // Frames for the read-ahead ring from `feed` instead of the drive (null: the drive); set
    // only while no run reads (the ring is the playback thread's).
    void setFrameFeed(int d, FrameFeed* feed);
    // The feed's note of the frame readFrameAhead gave last (0 without a feed).
    std::uint8_t takenNote(int d) const;

    // The tape arrival sequence: audio mode (30 tries), " Loading..." through `showLoading`,
    // load (3 tries), then up to 30 s for the drive to become ready. True when both the mode
    // switch and the load succeeded.
    bool tapeArrival(int d, const std::function<void()>& showLoading = {});

    bool modelIsSdt9000(int d) const;
    TransferKind lastTransferKind(int d) const;

    // Position and ID tables.
    // Forgets the tape of drive d: position, both tables, the read-ahead ring.
    void resetDrive(int d);
    const TapePosition* getPosition(int d) const;
    TapeTracker* tracker(int d);
    const TapeTracker* tracker(int d) const;
    IdTable* getTable(int d, bool virtualIds);
    void clearTable(int d, bool virtualIds);
    void sortTable(int d, bool virtualIds);
    IdCode addId(int d, int pNo, bool virtualIds, bool allowUpdate, int seconds,
                 const TimeCode& abs);
    IdCode setEnd(int d, const TimeCode& abs, bool virtualIds, bool force, int seconds);
    IdCode deleteId(int d, int seconds, bool virtualIds, bool force);
    IdCode registerFromPosition(int d, std::uint32_t digits, int seconds, const TimeCode& abs,
                                int pNo);
    const IdEntry* findByPNo(int d, int pNo, bool virtualIds) const;
    const IdEntry* findBySeconds(int d, int seconds, bool virtualIds) const;
    const IdEntry* findTapeIdNear(int d, const TapePosition& position) const;
    int findVirtualAtOrBefore(int d, bool& exact) const;
    bool virtualIdMode() const { return virtualIdMode_.load(); }
    void setVirtualIdMode(int d, bool on);
    int copyToVirtual(int d, int index);
    void copyAllToVirtual(int d, int shiftTenths);
    int renumberVirtual(int d);
    int nextPrevPNo(int d, bool previous, bool virtualIds, IdEntry* entry) const;
    // READ POSITION, then its parse; `ignoreNumbers` (virtual ID mode) drops the program
    // number of a numbered reply. Null on failure.
    const TapePosition* readPositionAndParse(int d, bool ignoreNumbers);
    void parseSubcode(int d, const SubcodeBlock& block, bool virtualIds, bool writing,
                      bool confirmed);
    void parseVirtual(int d, const SubcodeBlock& block, bool confirmed);
    void parsePositionReply(int d, const std::uint8_t* reply);
    // The recorder's step after each frame written (see TapeTracker::frameWritten).
    const TapePosition* frameWritten(int d, SubcodeBlock& block, bool keep);

    // The recorder's subcode counters, shared by both drives.
    RecSubcodeState& recSubcodeState() { return rec_; }

private:
    struct AheadSlot {
        DatFrame frame;
        std::int32_t confirmation = 0; // 1 confirmed, -1 the read failed
        std::uint32_t programNumber = 0;
        std::uint8_t note = 0;
    };
    struct Drive {
        explicit Drive(RecSubcodeState& rec, const std::atomic<bool>& virtualMode)
            : tracker(rec, virtualMode)
        {
        }
        TapeTracker tracker;
        bool modelIsSdt9000 = false;
        bool audioModeSet = false; // a MODE SELECT to audio density was accepted
        std::unique_ptr<std::array<AheadSlot, kAheadSlots>> ring;
        int aheadCount = 0;
        int aheadWrite = 0;
        int aheadRead = 0;
        bool aheadStopped = false;
        FrameFeed* feed = nullptr;
        bool feeding = false; // the feed is reading: its locates keep the ring
        std::uint8_t takenNote = 0;
    };
    Drive* drive(int d);
    const Drive* drive(int d) const;
    // Before a command whose meaning depends on the drive's mode (frames, locate, position):
    // after a reset, audio mode is set again (and verified) if this object had set it.
    // kSsComp when the command may go; otherwise it has failed, logged, without being sent.
    std::uint8_t audioModeAfterReset(int d, const char* name, std::uint8_t opcode);
    void fillReadAhead(int d, Drive& drive);
    void sleepMs(int milliseconds);

    RecSubcodeState rec_;
    std::atomic<bool> virtualIdMode_{false};
    std::array<std::unique_ptr<Drive>, kMaxDrives> drives_;
    std::function<void(int)> sleep_;
};

} // namespace tarnvel::dat
