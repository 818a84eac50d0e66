#pragma once

#include "dat/DatFrame.h"
#include "dat/IdTable.h"
#include "dat/RecSubcode.h"
#include "dat/TapePosition.h"

#include <atomic>
#include <cstdint>

// What one drive has learned of its tape: the position of the last parsed frame or position
// reply, the subcode of the last parsed frame, and the two ID tables. Every frame read or
// written and every READ POSITION reply passes through here.
namespace tarnvel::dat {

// Last command that moved data: 0 after rewind or locate (or never), 1 read, 2 write.
enum class TransferKind : int { None = 0, Read = 1, Write = 2 };

// Bytes of a READ POSITION reply.
inline constexpr std::size_t kPositionReplyBytes = 20;

class TapeTracker {
public:
    // `rec` and `virtualIdMode` are shared by the drive object's trackers.
    TapeTracker(RecSubcodeState& rec, const std::atomic<bool>& virtualIdMode);

    // Forgets the tape: position, last subcode and both tables (maxima included).
    void reset();

    const TapePosition& position() const { return position_; }
    // The search in virtual ID mode places the position itself.
    TapePosition& position() { return position_; }
    const SubcodeBlock& lastSubcode() const { return lastSubcode_; }
    void clearLastSubcode()
    {
        lastSubcode_ = SubcodeBlock{};
        lastUnregistered_ = false;
    }

    IdTable& table(bool virtualIds) { return virtualIds ? virtualIds_ : tapeIds_; }
    const IdTable& table(bool virtualIds) const { return virtualIds ? virtualIds_ : tapeIds_; }

    // Table operations on the tape's (false) or the virtual (true) table.
    void clearTable(bool virtualIds) { table(virtualIds).clear(); }
    void sortTable(bool virtualIds) { table(virtualIds).sort(); }
    IdCode addId(int pNo, bool virtualIds, bool allowUpdate, int seconds, const TimeCode& abs);
    IdCode setEnd(const TimeCode& abs, bool virtualIds, bool force, int seconds);
    IdCode deleteId(int seconds, bool virtualIds, bool force);
    // After a locate: a number (units 0-9) is added, an END code sets the END ID.
    IdCode registerFromPosition(std::uint32_t digits, int seconds, const TimeCode& abs, int pNo);
    const IdEntry* findByPNo(int pNo, bool virtualIds) const;
    const IdEntry* findBySeconds(int seconds, bool virtualIds) const;
    // The tape ID for the number at `position` within the 9 seconds before it.
    const IdEntry* findTapeIdNear(const TapePosition& position) const;
    // Index of the last virtual ID at or before the position's ABS time, or -1.
    int findVirtualAtOrBefore(bool& exact) const;
    // Sorts the virtual IDs and points the cursor at the next one to play.
    void startVirtualPlay();
    // Copies one tape ID (index < 0: the END ID) to the virtual table; returns its seconds.
    int copyToVirtual(int index);
    // The virtual table becomes the tape's, every ID moved `shiftTenths` tenths of a second
    // earlier.
    void copyAllToVirtual(int shiftTenths);
    // Numbers the virtual START IDs 1, 2, 3, ... in table order; returns how many.
    int renumberVirtual();
    // Program number to search for before or after the position; 0 for none.
    int nextPrevPNo(bool previous, bool virtualIds, IdEntry* entry) const;
    // The number a START ID written at the position takes when none is given: the one after
    // the program in force there, else after the last tape START ID before it, else 1.
    int nextStartNumber() const;

    // The frame parse: position and, with `confirmed`, the tables. `writing`: the recorder's
    // own frame (old IDs under it are removed). A confirmed frame that continues the ID of
    // a frame parsed just before without registration (the first frame read after tape
    // arrival or a positioning) registers that ID where that frame lies.
    void parseSubcode(const SubcodeBlock& block, bool virtualIds, bool writing, bool confirmed);
    // The frame parse in virtual ID mode: IDs come from the virtual table, not the tape.
    void parseVirtual(const SubcodeBlock& block, bool confirmed);
    // A READ POSITION reply (kPositionReplyBytes bytes). It carries no date: the date pack
    // of the position stays as the last frame left it.
    void parsePositionReply(const std::uint8_t* reply);
    // The recorder's step after each frame: parse it, count the guard down and, unless
    // `keep`, advance the block to the next frame's subcode. Null when an END or lead-in
    // run has just ended.
    const TapePosition* frameWritten(SubcodeBlock& block, bool keep);

    TransferKind lastTransferKind() const { return lastTransferKind_.load(); }
    void setLastTransferKind(TransferKind kind) { lastTransferKind_.store(kind); }

private:
    struct Times {
        TimeCode program = kNoValue;
        TimeCode abs = kNoValue;
        TimeCode running = kNoValue;
        std::uint8_t index = 0xAA;
        std::array<std::uint8_t, kPackBytes> date = TapePosition::kNoDatePack;
        bool hasAbs = false;
    };
    static Times readPacks(const SubcodeBlock& block);
    void updatePosition(std::uint32_t digits, std::uint8_t flags, const Times& times,
                        bool confirmed, IdCode change);
    void noteMaximum(const TimeCode& abs, int seconds);

    RecSubcodeState& rec_;
    const std::atomic<bool>& virtualIdMode_;
    TapePosition position_;
    SubcodeBlock lastSubcode_;
    // `lastSubcode_` came from a parse without ID registration.
    bool lastUnregistered_ = false;
    IdTable tapeIds_;
    IdTable virtualIds_;
    // Written by the writer thread, read by the producer's parse.
    std::atomic<TransferKind> lastTransferKind_{TransferKind::None};
};

} // namespace tarnvel::dat
