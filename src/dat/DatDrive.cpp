#include "dat/DatDrive.h"

#include "dat/DatMessages.h"
#include "scsi/CommandLog.h"
#include "scsi/ScsiMessages.h"

#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

namespace tarnvel::dat {

using scsi::DataDirection;
using scsi::kSsComp;
using scsi::kSsErr;

namespace {

constexpr std::uint32_t kTimeoutMs = scsi::ScsiTransport::kDefaultTimeoutMs;
constexpr std::uint32_t kMotionTimeoutMs = scsi::ScsiTransport::kMotionTimeoutMs;
constexpr std::uint8_t kModeDataBytes = 12;
constexpr std::uint8_t kReadBufferBytes = 10;
constexpr int kIdentifyTries = 4;
constexpr int kArrivalModeTries = 30;
constexpr int kArrivalLoadTries = 3;
constexpr int kArrivalReadyPolls = 300;
constexpr int kRetrySleepMs = 100;

std::uint32_t motionTimeout(bool immediate)
{
    return immediate ? kTimeoutMs : kMotionTimeoutMs;
}

// Program-number digits the read-ahead ring compares: none by default, 888 for START,
// the Sub ID digits with PRIORITY (SKIP plays no part here).
std::uint32_t aheadDigits(const SubcodeBlock& b)
{
    std::uint32_t digits = 0x0AA;
    if (b.subIdFlags() & kSubIdStart)
        digits = 0x888;
    if (b.subIdFlags() & kSubIdPriority)
        digits = b.subIdDigits();
    return digits;
}

bool sameIds(const SubcodeBlock& a, const SubcodeBlock& b)
{
    return a.subId(0) == b.subId(0) && a.subId(1) == b.subId(1) && a.subId(2) == b.subId(2) &&
           a.mainId(0) == b.mainId(0) && a.mainId(1) == b.mainId(1);
}

} // namespace

DatDrive::DatDrive(bool forceAspi, std::shared_ptr<scsi::SgIo> kernel)
    : ScsiTransport(forceAspi, std::move(kernel))
{
    for (auto& d : drives_)
        d = std::make_unique<Drive>(rec_, virtualIdMode_);
}

DatDrive::DatDrive(std::unique_ptr<scsi::ScsiBackend> backend) : ScsiTransport(std::move(backend))
{
    for (auto& d : drives_)
        d = std::make_unique<Drive>(rec_, virtualIdMode_);
}

DatDrive::~DatDrive() = default;

void DatDrive::setSleepFunction(std::function<void(int)> sleep)
{
    sleep_ = std::move(sleep);
}

void DatDrive::sleepMs(int milliseconds)
{
    if (sleep_)
        sleep_(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DatDrive::Drive* DatDrive::drive(int d)
{
    return (d >= 0 && d < kMaxDrives) ? drives_[d].get() : nullptr;
}

const DatDrive::Drive* DatDrive::drive(int d) const
{
    return (d >= 0 && d < kMaxDrives) ? drives_[d].get() : nullptr;
}

std::uint8_t DatDrive::testUnitReady(int d)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[6] = {0x00, 0, 0, 0, 0, 0};
    return runCommand("TST_U_RDY", d, DataDirection::None, cdb, sizeof cdb, nullptr, 0);
}

std::uint8_t DatDrive::inquiry(int d, std::uint8_t* buffer, std::uint8_t n)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[6] = {0x12, 0, 0, 0, n, 0};
    return runCommand("INQUIRY", d, DataDirection::In, cdb, sizeof cdb, buffer, n);
}

std::uint8_t DatDrive::modeSense(int d, std::uint8_t* buffer, std::uint8_t n, int pageControl,
                                 int page)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[6] = {0x1A, 0, static_cast<std::uint8_t>(pageControl * 64 + page),
                                 0,    n, 0};
    return runCommand("MODE_SEN6", d, DataDirection::In, cdb, sizeof cdb, buffer, n);
}

std::uint8_t DatDrive::modeSelect(int d, std::uint8_t byte1, const std::uint8_t* buffer,
                                  std::uint8_t n)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[6] = {0x15, byte1, 0, 0, n, 0};
    // Data out: the transport only reads the buffer.
    return runCommand("MODE_SEL6", d, DataDirection::Out, cdb, sizeof cdb,
                      const_cast<std::uint8_t*>(buffer), n);
}

std::uint8_t DatDrive::readBuffer(int d)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[10] = {0x3C, 0, 0, 0, 0, 0, 0, 0, kReadBufferBytes, 0};
    std::uint8_t discarded[kReadBufferBytes];
    return runCommand("READ_BUFF", d, DataDirection::In, cdb, sizeof cdb, discarded,
                      sizeof discarded);
}

std::uint8_t DatDrive::loadUnload(int d, bool load, bool immediate)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[6] = {0x1B, immediate ? std::uint8_t{1} : std::uint8_t{0}, 0,
                                 0,    load ? std::uint8_t{1} : std::uint8_t{0},      0};
    return runCommand("LOAD_UN", d, DataDirection::None, cdb, sizeof cdb, nullptr, 0,
                      motionTimeout(immediate));
}

std::uint8_t DatDrive::rewind(int d, bool immediate)
{
    Drive* dr = drive(d);
    if (!dr)
        return kNotSent;
    resetReadAhead(d);
    dr->tracker.setLastTransferKind(TransferKind::None);
    const std::uint8_t cdb[6] = {0x01, immediate ? std::uint8_t{1} : std::uint8_t{0}, 0, 0, 0, 0};
    return runCommand("REWIND", d, DataDirection::None, cdb, sizeof cdb, nullptr, 0,
                      motionTimeout(immediate));
}

std::uint8_t DatDrive::readFrame(int d, std::uint8_t* buffer, std::uint32_t n)
{
    Drive* dr = drive(d);
    if (!dr)
        return kNotSent;
    const std::uint8_t cdb[6] = {0x08,
                                 0,
                                 static_cast<std::uint8_t>(n >> 16),
                                 static_cast<std::uint8_t>(n >> 8),
                                 static_cast<std::uint8_t>(n),
                                 0};
    std::uint8_t status = audioModeAfterReset(d, "READ6", cdb[0]);
    if (status == kSsComp)
        status = runCommand("READ6", d, DataDirection::In, cdb, sizeof cdb, buffer, n);
    dr->tracker.setLastTransferKind(TransferKind::Read);
    return status;
}

std::uint8_t DatDrive::writeFrame(int d, const std::uint8_t* buffer, std::uint32_t n)
{
    Drive* dr = drive(d);
    if (!dr)
        return kNotSent;
    const std::uint8_t cdb[6] = {0x0A,
                                 0,
                                 static_cast<std::uint8_t>(n >> 16),
                                 static_cast<std::uint8_t>(n >> 8),
                                 static_cast<std::uint8_t>(n),
                                 0};
    std::uint8_t status = audioModeAfterReset(d, "WRITE6", cdb[0]);
    if (status == kSsComp)
        status = runCommand("WRITE6", d, DataDirection::Out, cdb, sizeof cdb,
                            const_cast<std::uint8_t*>(buffer), n);
    dr->tracker.setLastTransferKind(TransferKind::Write);
    return status;
}

std::uint8_t DatDrive::locate(int d, int kind, bool immediate, std::uint8_t a, std::uint8_t b,
                              std::uint8_t c, std::uint8_t e)
{
    Drive* dr = drive(d);
    if (!dr)
        return kNotSent;
    if (!dr->feeding)
        resetReadAhead(d);
    dr->tracker.setLastTransferKind(TransferKind::None);
    const std::uint8_t cdb[10] = {0x2B, static_cast<std::uint8_t>(0x04 + (immediate ? 1 : 0)),
                                  0,    static_cast<std::uint8_t>(kind * 32),
                                  a,    b,
                                  c,    e,
                                  0,    0};
    if (const std::uint8_t ready = audioModeAfterReset(d, "LOCATE", cdb[0]); ready != kSsComp)
        return ready;
    return runCommand("LOCATE", d, DataDirection::None, cdb, sizeof cdb, nullptr, 0,
                      motionTimeout(immediate));
}

std::uint8_t DatDrive::readPosition(int d, std::uint8_t* buffer)
{
    if (!drive(d))
        return kNotSent;
    const std::uint8_t cdb[10] = {0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
    if (const std::uint8_t ready = audioModeAfterReset(d, "READ_POS", cdb[0]); ready != kSsComp)
        return ready;
    return runCommand("READ_POS", d, DataDirection::In, cdb, sizeof cdb, buffer,
                      kPositionReplyBytes);
}

std::uint8_t DatDrive::audioModeAfterReset(int d, const char* name, std::uint8_t opcode)
{
    if (!modeCheckDue(d))
        return kSsComp;
    if (!drive(d)->audioModeSet) {
        modeChecked(d); // data mode is what a reset leaves
        return kSsComp;
    }
    // The first command after a reset may meet its unit attention: try as identify does.
    for (int attempt = 0; attempt < kIdentifyTries; ++attempt) {
        if (setModePage30(d) == kSsComp)
            return kSsComp;
        sleepMs(kRetrySleepMs);
    }
    return failWithoutSending(name, d, opcode, scsi::msg::kAudioModeLost,
                              &scsi::msg::kExplainModeLost);
}

bool DatDrive::identify(int d)
{
    Drive* dr = drive(d);
    if (!dr)
        return false;
    const scsi::ScsiDeviceEntry entry = getDevice(d);
    if (entry.deviceType != scsi::kTypeSequentialAccess)
        return false;
    if (std::string_view(entry.product.data()).find("SDT-9000") != std::string_view::npos)
        dr->modelIsSdt9000 = true;
    for (int attempt = 0; attempt < kIdentifyTries; ++attempt) {
        if (setModePage30(d) == kSsComp)
            return true;
        sleepMs(kRetrySleepMs);
    }
    // Not ours to use: let other programs have it.
    releaseDevice(d);
    return false;
}

std::uint8_t DatDrive::setModePage30(int d)
{
    // Header (block descriptor length 8), then density 0x80, 0 blocks, block length 512.
    const std::uint8_t parameters[12] = {0x00, 0x00, 0x00, 0x08, kAudioDensity, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x02,          0x00};
    const std::uint8_t status = modeSelect(d, 0, parameters, sizeof parameters);
    if (status != kSsComp)
        return status;
    drive(d)->audioModeSet = true; // whatever the mode data says now, data mode is due at the end
    if (modeDump(d) != kAudioDensity)
        return kSsErr;
    modeChecked(d);
    return kSsComp;
}

std::uint8_t DatDrive::setDataMode(int d)
{
    const std::uint8_t parameters[12] = {0x00, 0x00, 0x00, 0x08, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x02, 0x00};
    return modeSelect(d, 0, parameters, sizeof parameters);
}

bool DatDrive::restoreDataMode()
{
    for (int d = 0; d < kMaxDrives; ++d) {
        Drive& dr = *drives_[d];
        if (!dr.audioModeSet)
            continue;
        dr.audioModeSet = false;
        if (dr.modelIsSdt9000)
            continue; // that model is left in audio mode
        if (setDataMode(d) != kSsComp)
            return false;
    }
    return true;
}

std::uint8_t DatDrive::modeDump(int d)
{
    std::uint8_t m[kModeDataBytes] = {};
    if (modeSense(d, m, kModeDataBytes, 0, 0) != kSsComp)
        return 0;
    if (logging()) {
        char text[400];
        scsi::TextBuilder b(text, sizeof text);
        b.append("ModeData:\n");
        b.appendf("[0] Mode Data Length: %02X\n", m[0]);
        b.appendf("[1] Medium Type: %02X\n", m[1]);
        b.appendf("[2] Device Specific Parameter: %02X\n", m[2]);
        b.appendf("[3] Block Descriptor Length: %02X\n", m[3]);
        b.appendf("[4] Density Code: %02X\n", m[4]);
        b.appendf("[5-7] Number of Blocks: %06X\n", (m[5] << 16) | (m[6] << 8) | m[7]);
        b.append("[8] Reserved\n");
        b.appendf("[9-11] Block Length: %06X\n\n", (m[9] << 16) | (m[10] << 8) | m[11]);
        setLogText(b.text());
        writeLog(b.text());
    }
    return m[4];
}

UnitStatus DatDrive::datTestUnitReady(int d)
{
    const std::uint8_t status = testUnitReady(d);
    UnitStatus unit = kUnitUndefined;
    if (status == kSsComp) {
        unit = kUnitReady;
    } else if (status == kSsErr) {
        const std::uint8_t key = senseKey();
        const std::uint8_t asc = senseAsc();
        switch (key) {
        case 0x0:
            unit = kUnitSenseKeyBase;
            break;
        case 0x2:
            if (asc == 0x04)
                unit = senseAscq() == 0x01 ? kUnitBusy : kUnitNotReady;
            else if (asc == 0x3A)
                unit = kUnitTapeNone;
            else if (asc == 0x5A)
                unit = kUnitTapeEjected;
            else
                unit = kUnitNotReady;
            break;
        case 0x4:
            unit = kUnitHardwareErr;
            break;
        case 0x6:
            unit = asc == 0x29 ? kUnitReset : kUnitTapeChanged;
            break;
        default:
            unit = static_cast<UnitStatus>(kUnitSenseKeyBase + key);
            break;
        }
    }
    if (logging()) {
        char text[64];
        scsi::TextBuilder b(text, sizeof text);
        b.append("DatTestUnitReady: ");
        b.append(unitStatusLogName(unit));
        b.append("\n\n");
        setLogText(b.text());
        writeLog(b.text());
    }
    return unit;
}

const TapePosition* DatDrive::readFrameParsed(int d, DatFrame& frame)
{
    Drive* dr = drive(d);
    if (!dr || readFrame(d, frame.data(), kFrameLength) != kSsComp)
        return nullptr;
    dr->tracker.parseSubcode(frame.subcode, false, false, false);
    return &dr->tracker.position();
}

void DatDrive::fillReadAhead(int d, Drive& dr)
{
    auto& ring = *dr.ring;
    while (dr.aheadCount < kAheadSlots && !dr.aheadStopped) {
        AheadSlot& slot = ring[dr.aheadWrite];
        slot.confirmation = 0;
        slot.programNumber = 0;
        slot.note = 0;
        bool read = false;
        if (dr.feed != nullptr) {
            dr.feeding = true;
            read = dr.feed->next(slot.frame, slot.note);
            dr.feeding = false;
        } else {
            read = readFrame(d, slot.frame.data(), kFrameLength) == kSsComp;
        }
        if (!read) {
            slot.confirmation = -1;
            dr.aheadStopped = true;
        } else {
            // The frame before confirms the one before it when their IDs agree.
            const SubcodeBlock& n = slot.frame.subcode;
            AheadSlot& p = ring[(dr.aheadWrite + kAheadSlots - 1) % kAheadSlots];
            const AheadSlot& p2 = ring[(dr.aheadWrite + kAheadSlots - 2) % kAheadSlots];
            const bool confirmed = sameIds(p.frame.subcode, n);
            if (confirmed)
                p.confirmation = 1;
            const std::uint32_t digits = aheadDigits(n);
            const std::uint32_t units = digits & 0x0F;
            if (units < 10 && confirmed &&
                (aheadDigits(p2.frame.subcode) & 0x0F) != (aheadDigits(p.frame.subcode) & 0x0F) &&
                (p.frame.subcode.subIdFlags() & kSubIdStart) &&
                p2.frame.subcode.mainId(0) == p.frame.subcode.mainId(0) &&
                p2.frame.subcode.mainId(1) == p.frame.subcode.mainId(1)) {
                p.programNumber =
                    ((digits >> 8) & 0x0F) * 100 + ((digits >> 4) & 0x0F) * 10 + units;
            }
        }
        dr.aheadWrite = (dr.aheadWrite + 1) % kAheadSlots;
        ++dr.aheadCount;
    }
}

const TapePosition* DatDrive::readFrameAhead(int d, DatFrame& frame)
{
    Drive* dr = drive(d);
    if (!dr)
        return nullptr;
    if (!dr->ring)
        dr->ring = std::make_unique<std::array<AheadSlot, kAheadSlots>>();
    if (dr->aheadCount == 0) {
        dr->ring->fill(AheadSlot{});
        dr->aheadWrite = dr->aheadRead = 0;
        dr->aheadStopped = false;
    }
    fillReadAhead(d, *dr);
    if (dr->aheadCount == 0)
        return nullptr;
    const AheadSlot& slot = (*dr->ring)[dr->aheadRead];
    frame = slot.frame;
    dr->takenNote = slot.note;
    dr->aheadRead = (dr->aheadRead + 1) % kAheadSlots;
    --dr->aheadCount;
    if (slot.confirmation == -1)
        return nullptr;
    const bool confirmed = slot.confirmation != 0;
    if (virtualIdMode_.load())
        dr->tracker.parseVirtual(frame.subcode, confirmed);
    else
        dr->tracker.parseSubcode(frame.subcode, false, false, confirmed);
    return &dr->tracker.position();
}

std::uint32_t DatDrive::readAheadPeek(int d, int k) const
{
    const Drive* dr = drive(d);
    // Slots past the buffered frames hold old frames: they tell nothing.
    if (!dr || !dr->ring || k < 0 || k >= dr->aheadCount)
        return 0;
    return (*dr->ring)[(dr->aheadRead + k) % kAheadSlots].programNumber;
}

const DatFrame* DatDrive::readAheadFrame(int d, int k) const
{
    const Drive* dr = drive(d);
    if (!dr || !dr->ring || k < 0 || k >= dr->aheadCount)
        return nullptr;
    return &(*dr->ring)[(dr->aheadRead + k) % kAheadSlots].frame;
}

void DatDrive::setFrameFeed(int d, FrameFeed* feed)
{
    if (Drive* dr = drive(d)) {
        dr->feed = feed;
        dr->takenNote = 0;
    }
}

std::uint8_t DatDrive::takenNote(int d) const
{
    const Drive* dr = drive(d);
    return dr ? dr->takenNote : 0;
}

void DatDrive::resetReadAhead(int d)
{
    if (Drive* dr = drive(d)) {
        dr->tracker.clearLastSubcode();
        dr->aheadCount = 0;
    }
}

bool DatDrive::tapeArrival(int d, const std::function<void()>& showLoading)
{
    bool modeOk = false;
    for (int i = 0; i < kArrivalModeTries && !modeOk; ++i) {
        sleepMs(kRetrySleepMs);
        modeOk = setModePage30(d) == kSsComp;
    }
    if (showLoading)
        showLoading();
    bool loadOk = false;
    for (int i = 0; i < kArrivalLoadTries && !loadOk; ++i)
        loadOk = loadUnload(d, true, true) == kSsComp;
    for (int i = 0; i < kArrivalReadyPolls; ++i) {
        sleepMs(kRetrySleepMs);
        if (datTestUnitReady(d) == kUnitReady)
            break;
    }
    return modeOk && loadOk;
}

bool DatDrive::modelIsSdt9000(int d) const
{
    const Drive* dr = drive(d);
    return dr && dr->modelIsSdt9000;
}

TransferKind DatDrive::lastTransferKind(int d) const
{
    const Drive* dr = drive(d);
    return dr ? dr->tracker.lastTransferKind() : TransferKind::None;
}

void DatDrive::resetDrive(int d)
{
    if (Drive* dr = drive(d)) {
        dr->tracker.reset();
        resetReadAhead(d);
    }
}

const TapePosition* DatDrive::getPosition(int d) const
{
    const Drive* dr = drive(d);
    return dr ? &dr->tracker.position() : nullptr;
}

TapeTracker* DatDrive::tracker(int d)
{
    Drive* dr = drive(d);
    return dr ? &dr->tracker : nullptr;
}

const TapeTracker* DatDrive::tracker(int d) const
{
    const Drive* dr = drive(d);
    return dr ? &dr->tracker : nullptr;
}

IdTable* DatDrive::getTable(int d, bool virtualIds)
{
    TapeTracker* t = tracker(d);
    return t ? &t->table(virtualIds) : nullptr;
}

void DatDrive::clearTable(int d, bool virtualIds)
{
    if (TapeTracker* t = tracker(d))
        t->clearTable(virtualIds);
}

void DatDrive::sortTable(int d, bool virtualIds)
{
    if (TapeTracker* t = tracker(d))
        t->sortTable(virtualIds);
}

IdCode DatDrive::addId(int d, int pNo, bool virtualIds, bool allowUpdate, int seconds,
                       const TimeCode& abs)
{
    TapeTracker* t = tracker(d);
    return t ? t->addId(pNo, virtualIds, allowUpdate, seconds, abs) : 0;
}

IdCode DatDrive::setEnd(int d, const TimeCode& abs, bool virtualIds, bool force, int seconds)
{
    TapeTracker* t = tracker(d);
    return t ? t->setEnd(abs, virtualIds, force, seconds) : 0;
}

IdCode DatDrive::deleteId(int d, int seconds, bool virtualIds, bool force)
{
    TapeTracker* t = tracker(d);
    return t ? t->deleteId(seconds, virtualIds, force) : 0;
}

IdCode DatDrive::registerFromPosition(int d, std::uint32_t digits, int seconds, const TimeCode& abs,
                                      int pNo)
{
    TapeTracker* t = tracker(d);
    return t ? t->registerFromPosition(digits, seconds, abs, pNo) : 0;
}

const IdEntry* DatDrive::findByPNo(int d, int pNo, bool virtualIds) const
{
    const TapeTracker* t = tracker(d);
    return t ? t->findByPNo(pNo, virtualIds) : nullptr;
}

const IdEntry* DatDrive::findBySeconds(int d, int seconds, bool virtualIds) const
{
    const TapeTracker* t = tracker(d);
    return t ? t->findBySeconds(seconds, virtualIds) : nullptr;
}

const IdEntry* DatDrive::findTapeIdNear(int d, const TapePosition& position) const
{
    const TapeTracker* t = tracker(d);
    return t ? t->findTapeIdNear(position) : nullptr;
}

int DatDrive::findVirtualAtOrBefore(int d, bool& exact) const
{
    exact = false;
    const TapeTracker* t = tracker(d);
    return t ? t->findVirtualAtOrBefore(exact) : -1;
}

void DatDrive::setVirtualIdMode(int d, bool on)
{
    virtualIdMode_.store(on);
    if (on)
        if (TapeTracker* t = tracker(d))
            t->startVirtualPlay();
}

int DatDrive::copyToVirtual(int d, int index)
{
    TapeTracker* t = tracker(d);
    return t ? t->copyToVirtual(index) : 0;
}

void DatDrive::copyAllToVirtual(int d, int shiftTenths)
{
    if (TapeTracker* t = tracker(d))
        t->copyAllToVirtual(shiftTenths);
}

int DatDrive::renumberVirtual(int d)
{
    TapeTracker* t = tracker(d);
    return t ? t->renumberVirtual() : 0;
}

int DatDrive::nextPrevPNo(int d, bool previous, bool virtualIds, IdEntry* entry) const
{
    const TapeTracker* t = tracker(d);
    return t ? t->nextPrevPNo(previous, virtualIds, entry) : 0;
}

const TapePosition* DatDrive::readPositionAndParse(int d, bool ignoreNumbers)
{
    TapeTracker* t = tracker(d);
    std::uint8_t reply[kPositionReplyBytes] = {};
    if (!t || readPosition(d, reply) != kSsComp)
        return nullptr;
    if (ignoreNumbers && (reply[6] & 0x0F) < 10)
        reply[4] = reply[5] = reply[6] = 0;
    t->parsePositionReply(reply);
    return &t->position();
}

void DatDrive::parseSubcode(int d, const SubcodeBlock& block, bool virtualIds, bool writing,
                            bool confirmed)
{
    if (TapeTracker* t = tracker(d))
        t->parseSubcode(block, virtualIds, writing, confirmed);
}

void DatDrive::parseVirtual(int d, const SubcodeBlock& block, bool confirmed)
{
    if (TapeTracker* t = tracker(d))
        t->parseVirtual(block, confirmed);
}

void DatDrive::parsePositionReply(int d, const std::uint8_t* reply)
{
    if (TapeTracker* t = tracker(d))
        t->parsePositionReply(reply);
}

const TapePosition* DatDrive::frameWritten(int d, SubcodeBlock& block, bool keep)
{
    TapeTracker* t = tracker(d);
    return t ? t->frameWritten(block, keep) : nullptr;
}

} // namespace tarnvel::dat
