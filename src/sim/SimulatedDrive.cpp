#include "sim/SimulatedDrive.h"

#include "common/ByteOrder.h"
#include "dat/DatFrame.h"
#include "dat/TimeCode.h"
#include "sim/Cassette.h"
#include "sim/ImageTape.h"
#include "sim/SimMessages.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace tarnvel::sim {

namespace {

using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;
using Seconds = std::chrono::duration<double>;

// Deck timing.
constexpr Seconds kFrameTime{0.03};                      // 100 frames every 3 seconds
constexpr double kWindFramesPerSecond = 200 * 100 / 3.0; // searches run at about 200× play
constexpr Seconds kMotionStart{1.0};                     // tension and head settle before a wind
// A search winds to a little before its target and plays up to it, reading the subcode, so a
// locate always moves the tape (also to where the head already stands).
constexpr std::int64_t kApproachFrames = 100;
constexpr double kApproachFramesPerSecond = 100;
constexpr Seconds kSdt9000Settle{1.0}; // that model stays not ready after a motion
constexpr Seconds kStreamSlack{1.0};   // a host later than this restarts the stream
constexpr double kFastMotionScale = 0.05;

constexpr std::uint32_t kFrameLength = dat::kFrameBytes;
constexpr std::uint32_t kReadBufferCapacity = 36 * dat::kFrameBytes;

// Opcodes the firmware knows.
constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRewind = 0x01;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint8_t kOpRead6 = 0x08;
constexpr std::uint8_t kOpWrite6 = 0x0A;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpModeSelect6 = 0x15;
constexpr std::uint8_t kOpModeSense6 = 0x1A;
constexpr std::uint8_t kOpLoadUnload = 0x1B;
constexpr std::uint8_t kOpLocate10 = 0x2B;
constexpr std::uint8_t kOpReadPosition = 0x34;
constexpr std::uint8_t kOpReadBuffer = 0x3C;

constexpr std::uint8_t kDensityData = 0x00;
constexpr std::uint8_t kDensityAudio = 0x80;

// Sense keys.
constexpr std::uint8_t kKeyNoSense = 0x0;
constexpr std::uint8_t kKeyNotReady = 0x2;
constexpr std::uint8_t kKeyMediumError = 0x3;
constexpr std::uint8_t kKeyHardwareError = 0x4;
constexpr std::uint8_t kKeyIllegalRequest = 0x5;
constexpr std::uint8_t kKeyUnitAttention = 0x6;
constexpr std::uint8_t kKeyDataProtect = 0x7;
constexpr std::uint8_t kKeyBlankCheck = 0x8;
constexpr std::uint8_t kKeyVolumeOverflow = 0xD;

struct Sense {
    std::uint8_t key = kKeyNoSense;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    bool eom = false;
};

constexpr Sense kNoMedium{kKeyNotReady, 0x3A, 0x00};
constexpr Sense kEjected{kKeyNotReady, 0x5A, 0x01};
constexpr Sense kBecomingReady{kKeyNotReady, 0x04, 0x01};
constexpr Sense kInvalidOpcode{kKeyIllegalRequest, 0x20, 0x00};
constexpr Sense kInvalidFieldInCdb{kKeyIllegalRequest, 0x24, 0x00};
constexpr Sense kParameterListLength{kKeyIllegalRequest, 0x1A, 0x00};
constexpr Sense kInvalidFieldInParameters{kKeyIllegalRequest, 0x26, 0x00};
constexpr Sense kSavingNotSupported{kKeyIllegalRequest, 0x39, 0x00};
constexpr Sense kEndOfData{kKeyBlankCheck, 0x00, 0x05};
constexpr Sense kUnknownFormat{kKeyBlankCheck, 0x30, 0x01};
constexpr Sense kUnrecoveredReadError{kKeyMediumError, 0x11, 0x00};
constexpr Sense kWriteError{kKeyMediumError, 0x0C, 0x00};
constexpr Sense kEndOfMedium{kKeyVolumeOverflow, 0x00, 0x02, true};
constexpr Sense kInternalFailure{kKeyHardwareError, 0x44, 0x00};
constexpr Sense kWriteProtected{kKeyDataProtect, 0x27, 0x00};

scsi::TargetReply good(std::uint32_t transferred = 0)
{
    scsi::TargetReply r;
    r.transferred = transferred;
    return r;
}

// Fixed-format sense data.
void fillSense(std::uint8_t* s, std::size_t n, const Sense& sense)
{
    std::memset(s, 0, n);
    s[0] = 0x70;
    s[2] = static_cast<std::uint8_t>(sense.key | (sense.eom ? 0x40 : 0x00));
    s[7] = 10;
    s[12] = sense.asc;
    s[13] = sense.ascq;
}

scsi::TargetReply check(const Sense& sense)
{
    scsi::TargetReply r;
    r.status = scsi::kTargetCheckCondition;
    fillSense(r.sense.data(), r.sense.size(), sense);
    return r;
}

scsi::TargetReply aborted()
{
    scsi::TargetReply r;
    r.status = kTargetTaskAborted;
    return r;
}

// Required CDB length by opcode group.
std::size_t cdbLengthOf(std::uint8_t opcode)
{
    switch (opcode >> 5) {
    case 0:
        return 6;
    case 1:
    case 2:
        return 10;
    case 5:
        return 12;
    case 4:
        return 16;
    default:
        return 6;
    }
}

void copyPadded(std::uint8_t* dst, std::size_t n, const char* text)
{
    std::memset(dst, ' ', n);
    std::memcpy(dst, text, std::min(n, std::strlen(text)));
}

bool isBcdByte(std::uint8_t b, std::uint8_t limit)
{
    return (b & 0x0F) <= 9 && (b >> 4) <= 9 && b < limit;
}

// ABS time of a recorded frame as a frame count, or nullopt when the frame has none or lies
// in the lead-in (whose ABS time counts down and is never a search target).
std::optional<int> searchableAbsFrames(const dat::SubcodeBlock& block)
{
    if ((block.subIdFlags() & dat::kSubIdPriority) != 0 && dat::isLeadInDigits(block.subIdDigits()))
        return std::nullopt;
    const auto pack = dat::lastPackWithItem(block, dat::PackItem::AbsoluteTime);
    if (!pack)
        return std::nullopt;
    const dat::TimeCode t = pack->time();
    if (!isBcdByte(t.hours, 0xA0) || !isBcdByte(t.minutes, 0x60) || !isBcdByte(t.seconds, 0x60) ||
        !isBcdByte(t.frame, 0x34))
        return std::nullopt;
    return dat::absToFrames(t);
}

} // namespace

struct SimulatedDrive::State {
    enum class Media { None, Cueing, Loaded, Ejected };
    enum class Then { Stop, Eject };

    struct Motion {
        bool active = false;
        std::int64_t from = 0;
        std::int64_t to = 0;
        std::int64_t via = 0; // where a search turns to its slow approach (= to for winds)
        Clock::time_point moveStart{};
        Clock::time_point viaTime{};
        Clock::time_point moveEnd{};
        Clock::time_point end{}; // moveEnd plus any settle time
        Then then = Then::Stop;
        // moveStart, viaTime and moveEnd on the wall clock, as kept with the cassette.
        std::int64_t wallStartUs = 0;
        std::int64_t wallViaUs = 0;
        std::int64_t wallEndUs = 0;
    };

    SimOptions options;
    double motionScale = 1.0;
    bool imageDrive = false; // a drive over a tape image (its product text says so)

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool commandRunning = false;
    bool abortRequested = false;

    std::unique_ptr<TapeMedium> tape;
    Media media = Media::None;
    Clock::time_point readyAt{};
    Motion motion;
    std::int64_t head = 0;
    std::uint8_t unitAttentionAsc = 0x29; // power on
    std::uint8_t density = kDensityData;
    std::uint32_t blockLength = 0;
    bool readSinceLocate = false;
    bool positionKnown = true;
    Clock::time_point streamDue{};
    int misplacedWrites = 0;
    std::string lastFileError;

    // Scratch frames, allocated once.
    std::vector<std::uint8_t> neighbour = std::vector<std::uint8_t>(dat::kFrameBytes);

    Seconds scaled(Seconds s) const { return s * motionScale; }

    // Where a motion has taken the tape at `now`.
    static std::int64_t headDuring(const Motion& m, Clock::time_point now)
    {
        if (now >= m.moveEnd)
            return m.to;
        if (now <= m.moveStart)
            return m.from;
        const auto between = [](std::int64_t a, std::int64_t b, double f) {
            return a + static_cast<std::int64_t>(static_cast<double>(b - a) * f);
        };
        if (now < m.viaTime)
            return between(m.from, m.via,
                           Seconds(now - m.moveStart) / Seconds(m.viaTime - m.moveStart));
        return between(m.via, m.to, Seconds(now - m.viaTime) / Seconds(m.moveEnd - m.viaTime));
    }

    std::int64_t headAt(Clock::time_point now) const
    {
        return motion.active ? headDuring(motion, now) : head;
    }

    // Keeps the state a power cycle would not lose with the cassette: whether the tape is
    // threaded or ejected, where it stands and any motion under way (as wall-clock times, so
    // that a run killed in the middle of a wind still leaves a place to compute).
    void keepState()
    {
        if (!tape || tape->writeProtected())
            return;
        DriveState k;
        k.media = media == Media::Loaded    ? DriveState::Media::Loaded
                  : media == Media::Ejected ? DriveState::Media::Ejected
                                            : DriveState::Media::NotKept;
        const auto frame = [&](std::int64_t f) {
            return static_cast<std::uint32_t>(std::clamp<std::int64_t>(f, 0, tape->lengthFrames()));
        };
        k.head = frame(motion.active ? motion.from : head);
        if (motion.active && k.media == DriveState::Media::Loaded) {
            k.motion =
                motion.then == Then::Eject ? DriveState::Motion::Eject : DriveState::Motion::Stop;
            k.via = frame(motion.via);
            k.to = frame(motion.to);
            k.moveStartUs = motion.wallStartUs;
            k.viaUs = motion.wallViaUs;
            k.moveEndUs = motion.wallEndUs;
        }
        std::string error;
        if (!tape->setDriveState(k, error))
            lastFileError = error;
    }

    // Power-on with a cassette inside: the tape is where the last drive left it; a motion
    // that was under way went as far as it got by now (a run killed in a wind leaves the
    // record of the wind). Mode, attention and the position a model forgets are reset.
    bool restoreState(Clock::time_point now)
    {
        DriveState k;
        if (!tape->driveState(k) || k.media == DriveState::Media::NotKept)
            return false;
        media = k.media == DriveState::Media::Ejected ? Media::Ejected : Media::Loaded;
        head = k.head;
        if (k.motion != DriveState::Motion::None && media == Media::Loaded) {
            const WallClock::time_point wallNow = WallClock::now();
            const auto steady = [&](std::int64_t us) {
                const auto since = WallClock::time_point(std::chrono::microseconds(us)) - wallNow;
                return now + std::chrono::duration_cast<Clock::duration>(since);
            };
            Motion m;
            m.from = k.head;
            m.via = k.via;
            m.to = k.to;
            m.moveStart = steady(k.moveStartUs);
            m.viaTime = steady(k.viaUs);
            m.moveEnd = steady(k.moveEndUs);
            head = headDuring(m, now);
            if (now >= m.moveEnd && k.motion == DriveState::Motion::Eject)
                media = Media::Ejected;
        }
        if (media == Media::Ejected)
            head = 0;
        positionKnown = !options.sdt9000;
        keepState();
        return true;
    }

    // Brings the time-driven state up to `now`: ends motions and cueing whose time has come.
    void advance(Clock::time_point now)
    {
        if (media == Media::Cueing && now >= readyAt)
            media = Media::Loaded;
        if (motion.active && now >= motion.end) {
            head = motion.to;
            motion.active = false;
            if (motion.then == Then::Eject) {
                media = Media::Ejected;
                flushCassette();
            }
        }
    }

    // Stops the tape where it is now.
    void stopMotion(Clock::time_point now)
    {
        if (motion.active) {
            head = headAt(now);
            motion.active = false;
        }
    }

    // A wind (rewind, load, unload) goes straight to `to`; a search approaches it.
    void startMotion(Clock::time_point now, std::int64_t to, Then then, bool search = false)
    {
        motion = Motion{};
        motion.from = head;
        motion.to = to;
        motion.via = search ? std::max<std::int64_t>(0, to - kApproachFrames) : to;
        motion.then = then;
        const std::int64_t wind = motion.via > head ? motion.via - head : head - motion.via;
        const std::int64_t approach = to - motion.via;
        const Seconds start = wind + approach > 0 ? scaled(kMotionStart) : Seconds{0};
        const Seconds windTime = scaled(Seconds{static_cast<double>(wind) / kWindFramesPerSecond});
        const Seconds approachTime =
            scaled(Seconds{static_cast<double>(approach) / kApproachFramesPerSecond});
        const Seconds settle = options.sdt9000 ? scaled(kSdt9000Settle) : Seconds{0};
        const auto span = [](Seconds x) { return std::chrono::duration_cast<Clock::duration>(x); };
        motion.moveStart = now + span(start);
        motion.viaTime = motion.moveStart + span(windTime);
        motion.moveEnd = motion.viaTime + span(approachTime);
        motion.end = motion.moveEnd + span(settle);
        const WallClock::time_point wallNow = WallClock::now();
        const auto wall = [&](Clock::time_point t) {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                       (wallNow + std::chrono::duration_cast<WallClock::duration>(t - now))
                           .time_since_epoch())
                .count();
        };
        motion.wallStartUs = wall(motion.moveStart);
        motion.wallViaUs = wall(motion.viaTime);
        motion.wallEndUs = wall(motion.moveEnd);
        motion.active = motion.end > now;
        if (!motion.active) {
            head = to;
            if (then == Then::Eject) {
                media = Media::Ejected;
                flushCassette();
            }
        }
        readSinceLocate = false;
        streamDue = now;
        keepState(); // before a command waits for the motion
    }

    // A cassette put in cues from the beginning of its tape. One that was in the drive when
    // the power came on is where the last drive left it. The pending power-on attention (0x29)
    // stays the reset's, not the tape change's.
    void insert(std::unique_ptr<TapeMedium> c, Clock::time_point now, bool poweredOn)
    {
        tape = std::move(c);
        motion = Motion{};
        head = 0;
        positionKnown = !options.sdt9000;
        readSinceLocate = false;
        streamDue = now;
        lastFileError.clear();
        if (unitAttentionAsc != 0x29)
            unitAttentionAsc = 0x28;
        if (poweredOn && restoreState(now))
            return;
        media = Media::Cueing;
        readyAt = now + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::milliseconds(std::max(0, options.cueMilliseconds)));
        advance(now);
        keepState();
    }

    // Waits without holding the lock; false when `abort` came first.
    bool waitUntil(std::unique_lock<std::mutex>& lock, Clock::time_point until)
    {
        while (!abortRequested && Clock::now() < until)
            wake.wait_until(lock, until);
        return !abortRequested;
    }

    // A command without the immediate bit waits for the motion it started.
    scsi::TargetReply finishMotion(std::unique_lock<std::mutex>& lock, bool immediate)
    {
        if (immediate || !motion.active)
            return good();
        if (!waitUntil(lock, motion.end)) {
            // The tape stops where it is; an unload that had not finished leaves it loaded.
            stopMotion(Clock::now());
            return aborted();
        }
        advance(Clock::now());
        return good();
    }

    void flushCassette()
    {
        std::string error;
        if (tape && !tape->flush(error))
            lastFileError = error;
    }

    // The condition that keeps the tape from being used now, if any.
    std::optional<Sense> notReady() const
    {
        switch (media) {
        case Media::None:
            return kNoMedium;
        case Media::Ejected:
            return kEjected;
        case Media::Cueing:
            return kBecomingReady;
        case Media::Loaded:
            break;
        }
        if (motion.active)
            return kBecomingReady;
        return std::nullopt;
    }

    bool audioMode() const { return density == kDensityAudio; }

    // Deck speed: the frame at the head passes in one frame time. A host that falls far
    // behind restarts the stream (a real drive stops and repositions meanwhile).
    bool paceStream(std::unique_lock<std::mutex>& lock)
    {
        if (!options.realtime)
            return true;
        const Clock::time_point now = Clock::now();
        if (now > streamDue + std::chrono::duration_cast<Clock::duration>(kStreamSlack))
            streamDue = now;
        const Clock::time_point due =
            streamDue + std::chrono::duration_cast<Clock::duration>(kFrameTime);
        if (!waitUntil(lock, due))
            return false;
        streamDue = due;
        return true;
    }

    scsi::TargetReply dispatch(std::unique_lock<std::mutex>& lock, const std::uint8_t* cdb,
                               scsi::DataDirection direction, std::uint8_t* buffer,
                               std::uint32_t length);

    scsi::TargetReply inquiry(const std::uint8_t* cdb, std::uint8_t* buffer, std::uint32_t length);
    scsi::TargetReply requestSense(const std::uint8_t* cdb, std::uint8_t* buffer,
                                   std::uint32_t length);
    scsi::TargetReply modeSense(const std::uint8_t* cdb, std::uint8_t* buffer,
                                std::uint32_t length);
    scsi::TargetReply modeSelect(const std::uint8_t* cdb, const std::uint8_t* buffer,
                                 std::uint32_t length);
    scsi::TargetReply loadUnload(std::unique_lock<std::mutex>& lock, const std::uint8_t* cdb);
    scsi::TargetReply rewind(std::unique_lock<std::mutex>& lock, const std::uint8_t* cdb);
    scsi::TargetReply locate(std::unique_lock<std::mutex>& lock, const std::uint8_t* cdb);
    scsi::TargetReply readPosition(const std::uint8_t* cdb, std::uint8_t* buffer,
                                   std::uint32_t length);
    scsi::TargetReply readFrame(std::unique_lock<std::mutex>& lock, const std::uint8_t* cdb,
                                std::uint8_t* buffer, std::uint32_t length);
    scsi::TargetReply writeFrame(std::unique_lock<std::mutex>& lock, const std::uint8_t* cdb,
                                 const std::uint8_t* buffer, std::uint32_t length);
    scsi::TargetReply readBuffer(const std::uint8_t* cdb, std::uint8_t* buffer,
                                 std::uint32_t length);

    void conceal(std::int64_t frame, std::uint8_t* data, bool left, bool right);
    std::int64_t programStart(int number) const;
    std::optional<std::int64_t> absStart(int targetFrames) const;
};

scsi::TargetReply SimulatedDrive::State::dispatch(std::unique_lock<std::mutex>& lock,
                                                  const std::uint8_t* cdb,
                                                  scsi::DataDirection direction,
                                                  std::uint8_t* buffer, std::uint32_t length)
{
    const std::uint8_t op = cdb[0];
    const bool dataIn = direction == scsi::DataDirection::In && buffer != nullptr;
    const bool dataOut = direction == scsi::DataDirection::Out && buffer != nullptr;
    if (op == kOpInquiry)
        return dataIn ? inquiry(cdb, buffer, length) : check(kInvalidFieldInCdb);
    if (op == kOpRequestSense)
        return dataIn ? requestSense(cdb, buffer, length) : check(kInvalidFieldInCdb);

    // Every other command reports a pending unit attention first, and clears it.
    if (unitAttentionAsc != 0) {
        const Sense ua{kKeyUnitAttention, unitAttentionAsc, 0x00};
        unitAttentionAsc = 0;
        return check(ua);
    }
    switch (op) {
    case kOpTestUnitReady: {
        if (const auto s = notReady())
            return check(*s);
        return good();
    }
    case kOpModeSense6:
        return dataIn || cdb[4] == 0 ? modeSense(cdb, buffer, dataIn ? length : 0)
                                     : check(kInvalidFieldInCdb);
    case kOpModeSelect6:
        return dataOut || cdb[4] == 0 ? modeSelect(cdb, buffer, dataOut ? length : 0)
                                      : check(kInvalidFieldInCdb);
    case kOpLoadUnload:
        return loadUnload(lock, cdb);
    case kOpRewind:
        return rewind(lock, cdb);
    case kOpLocate10:
        return locate(lock, cdb);
    case kOpReadPosition:
        return dataIn ? readPosition(cdb, buffer, length) : check(kInvalidFieldInCdb);
    case kOpRead6:
        return readFrame(lock, cdb, dataIn ? buffer : nullptr, dataIn ? length : 0);
    case kOpWrite6:
        return writeFrame(lock, cdb, dataOut ? buffer : nullptr, dataOut ? length : 0);
    case kOpReadBuffer:
        return readBuffer(cdb, dataIn ? buffer : nullptr, dataIn ? length : 0);
    default:
        return check(kInvalidOpcode);
    }
}

scsi::TargetReply SimulatedDrive::State::inquiry(const std::uint8_t* cdb, std::uint8_t* buffer,
                                                 std::uint32_t length)
{
    if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) // no vital product data pages
        return check(kInvalidFieldInCdb);
    std::uint8_t data[44] = {};
    data[0] = 0x01; // sequential-access device
    data[1] = 0x80; // removable medium
    data[2] = 0x02; // SCSI-2
    data[3] = 0x02; // response data format
    data[4] = sizeof data - 5;
    std::string product = imageDrive        ? "IMAGE DRIVE"
                          : options.sdt9000 ? "SDT-9000 SIM"
                                            : "DAT SIMULATOR";
    if (options.unit != 0)
        product += " " + std::to_string(options.unit + 1);
    copyPadded(data + 8, 8, "TARNVEL");
    copyPadded(data + 16, 16, product.c_str());
    copyPadded(data + 32, 4, "1.00");
    copyPadded(data + 36, 8, "AUDIO");
    const std::uint32_t n = std::min<std::uint32_t>({cdb[4], length, sizeof data});
    std::memcpy(buffer, data, n);
    return good(n);
}

scsi::TargetReply SimulatedDrive::State::requestSense(const std::uint8_t* cdb, std::uint8_t* buffer,
                                                      std::uint32_t length)
{
    Sense sense;
    if (unitAttentionAsc != 0) {
        sense = Sense{kKeyUnitAttention, unitAttentionAsc, 0x00};
        unitAttentionAsc = 0;
    } else if (const auto s = notReady()) {
        sense = *s;
    }
    std::uint8_t data[18];
    fillSense(data, sizeof data, sense);
    const std::uint32_t n = std::min<std::uint32_t>({cdb[4], length, sizeof data});
    std::memcpy(buffer, data, n);
    return good(n);
}

scsi::TargetReply SimulatedDrive::State::modeSense(const std::uint8_t* cdb, std::uint8_t* buffer,
                                                   std::uint32_t length)
{
    const int pageControl = cdb[2] >> 6;
    const int page = cdb[2] & 0x3F;
    if (pageControl == 3)
        return check(kSavingNotSupported);
    if (page != 0 && page != 0x3F) // no mode pages: the density code alone selects audio
        return check(kInvalidFieldInCdb);
    const bool blockDescriptor = (cdb[1] & 0x08) == 0;
    std::uint8_t data[12] = {};
    const std::uint32_t size = blockDescriptor ? 12 : 4;
    data[0] = static_cast<std::uint8_t>(size - 1);
    data[2] = 0x10; // buffered mode 1
    if (tape && tape->writeProtected())
        data[2] |= 0x80;
    if (blockDescriptor) {
        data[3] = 8;
        // Changeable values (page control 1) are the density and the block length.
        const bool changeable = pageControl == 1;
        data[4] = changeable ? 0xFF : density;
        const std::uint32_t len = changeable ? 0xFFFFFF : blockLength;
        data[9] = static_cast<std::uint8_t>(len >> 16);
        data[10] = static_cast<std::uint8_t>(len >> 8);
        data[11] = static_cast<std::uint8_t>(len);
    }
    const std::uint32_t n = std::min<std::uint32_t>({cdb[4], length, size});
    if (n > 0)
        std::memcpy(buffer, data, n);
    return good(n);
}

scsi::TargetReply SimulatedDrive::State::modeSelect(const std::uint8_t* cdb,
                                                    const std::uint8_t* buffer,
                                                    std::uint32_t length)
{
    if ((cdb[1] & 0x01) != 0) // saving pages
        return check(kInvalidFieldInCdb);
    const std::uint32_t n = cdb[4];
    if (n == 0)
        return good();
    if (n > length)
        return check(kInvalidFieldInCdb);
    if (n < 4)
        return check(kParameterListLength);
    const std::uint32_t descriptorLength = buffer[3];
    if ((descriptorLength != 0 && descriptorLength != 8) || n < 4 + descriptorLength)
        return check(kParameterListLength);
    if (n > 4 + descriptorLength) // a mode page: this firmware has none to set
        return check(kInvalidFieldInParameters);
    if (descriptorLength == 8) {
        const std::uint8_t d = buffer[4];
        if (d != kDensityData && d != kDensityAudio)
            return check(kInvalidFieldInParameters);
        density = d;
        blockLength =
            (std::uint32_t{buffer[9]} << 16) | (std::uint32_t{buffer[10]} << 8) | buffer[11];
    }
    return good(n);
}

scsi::TargetReply SimulatedDrive::State::loadUnload(std::unique_lock<std::mutex>& lock,
                                                    const std::uint8_t* cdb)
{
    const bool immediate = (cdb[1] & 0x01) != 0;
    const bool load = (cdb[4] & 0x01) != 0;
    if ((cdb[4] & 0x04) != 0) // load to the end of tape: not on this drive
        return check(kInvalidFieldInCdb);
    const Clock::time_point now = Clock::now();
    if (media == Media::None)
        return check(kNoMedium);
    if (media == Media::Cueing || motion.active)
        return check(kBecomingReady);
    if (media == Media::Ejected) {
        if (!load)
            return good();
        media = Media::Cueing;
        readyAt = now + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::milliseconds(std::max(0, options.cueMilliseconds)));
        head = 0;
        positionKnown = !options.sdt9000;
        readSinceLocate = false;
        advance(now);
        if (immediate || media == Media::Loaded)
            return good();
        if (!waitUntil(lock, readyAt))
            return aborted();
        advance(Clock::now());
        return good();
    }
    // Loaded: a load rewinds to the beginning; an unload rewinds and ejects.
    if (options.sdt9000)
        positionKnown = false;
    startMotion(now, 0, load ? Then::Stop : Then::Eject);
    return finishMotion(lock, immediate);
}

scsi::TargetReply SimulatedDrive::State::rewind(std::unique_lock<std::mutex>& lock,
                                                const std::uint8_t* cdb)
{
    if (const auto s = notReady())
        return check(*s);
    if (options.sdt9000)
        positionKnown = false;
    startMotion(Clock::now(), 0, Then::Stop);
    return finishMotion(lock, (cdb[1] & 0x01) != 0);
}

std::int64_t SimulatedDrive::State::programStart(int number) const
{
    const std::int64_t end = tape->recordedEnd();
    for (std::int64_t i = 0; i < end; ++i) {
        const std::uint8_t* sc = tape->subcode(i);
        if (sc == nullptr)
            continue;
        const auto block = dat::SubcodeBlock::fromBytes(sc);
        const std::uint8_t want = dat::kSubIdPriority | dat::kSubIdStart;
        if ((block.subIdFlags() & want) == want &&
            dat::isDecimalProgramDigits(block.subIdDigits()) &&
            dat::bcd16ToInt(block.subIdDigits()) == number)
            return i;
    }
    // No such program: the search runs on to the end of the recorded area.
    return tape->isRecorded(head) ? tape->nextUnrecorded(head) : head;
}

std::optional<std::int64_t> SimulatedDrive::State::absStart(int targetFrames) const
{
    const std::int64_t end = tape->recordedEnd();
    for (std::int64_t i = 0; i < end; ++i) {
        const std::uint8_t* sc = tape->subcode(i);
        if (sc == nullptr)
            continue;
        const auto abs = searchableAbsFrames(dat::SubcodeBlock::fromBytes(sc));
        if (abs && *abs >= targetFrames)
            return i;
    }
    return std::nullopt;
}

scsi::TargetReply SimulatedDrive::State::locate(std::unique_lock<std::mutex>& lock,
                                                const std::uint8_t* cdb)
{
    if (!audioMode())
        return check(kInvalidFieldInCdb);
    if (const auto s = notReady())
        return check(*s);
    const bool immediate = (cdb[1] & 0x01) != 0;
    // Only the block-address-type form (program number or ABS time); no partitions.
    if ((cdb[1] & 0x04) == 0 || (cdb[1] & 0x02) != 0 || (cdb[3] & 0x1F) != 0)
        return check(kInvalidFieldInCdb);
    const int kind = cdb[3] >> 5;
    std::int64_t target = 0;
    if (kind == 0) {
        if (cdb[4] > 9 || cdb[5] > 9 || cdb[6] > 9 || cdb[7] != 0)
            return check(kInvalidFieldInCdb);
        target = programStart(cdb[4] * 100 + cdb[5] * 10 + cdb[6]);
    } else if (kind == 1) {
        const dat::TimeCode t{cdb[4], cdb[5], cdb[6], cdb[7]};
        if (!isBcdByte(t.hours, 0xA0) || !isBcdByte(t.minutes, 0x60) ||
            !isBcdByte(t.seconds, 0x60) || !isBcdByte(t.frame, 0x34))
            return check(kInvalidFieldInCdb);
        if (!tape->everRecorded())
            return check(kUnknownFormat);
        const auto found = absStart(dat::absToFrames(t));
        if (!found)
            return check(kEndOfData);
        target = *found;
    } else {
        return check(kInvalidFieldInCdb);
    }
    positionKnown = true;
    startMotion(Clock::now(), target, Then::Stop, true);
    return finishMotion(lock, immediate);
}

scsi::TargetReply SimulatedDrive::State::readPosition(const std::uint8_t* cdb, std::uint8_t* buffer,
                                                      std::uint32_t length)
{
    const bool audioForm = (cdb[1] & 0x01) != 0;
    if ((cdb[1] & 0x1E) != 0 || (audioForm && !audioMode()))
        return check(kInvalidFieldInCdb);
    if (media != Media::Loaded)
        return check(*notReady());
    const Clock::time_point now = Clock::now();
    const std::int64_t at = headAt(now);
    std::uint8_t data[20] = {};
    data[0] =
        static_cast<std::uint8_t>((at == 0 ? 0x80 : 0) | (at >= tape->lengthFrames() ? 0x40 : 0));
    if (!audioForm) {
        writeBe32(data + 4, static_cast<std::uint32_t>(at));
        writeBe32(data + 8, static_cast<std::uint32_t>(at));
    } else {
        // The frame under the head; on blank tape just after a recording, the last frame seen.
        const std::uint8_t* sc = tape->subcode(at);
        if (sc == nullptr)
            sc = tape->subcode(at - 1);
        std::uint16_t digits = dat::kPNoDigitsNone;
        std::uint8_t index = 0xAA;
        dat::TimeCode times[3] = {dat::kNoValue, dat::kNoValue, dat::kNoValue};
        // After a rewind or load some models know no position until a frame is read.
        const bool known = positionKnown || (motion.active && now < motion.moveEnd);
        if (sc != nullptr && known) {
            const auto block = dat::SubcodeBlock::fromBytes(sc);
            if ((block.subIdFlags() & dat::kSubIdPriority) != 0)
                digits = block.subIdDigits();
            const dat::PackItem items[3] = {dat::PackItem::ProgramTime, dat::PackItem::AbsoluteTime,
                                            dat::PackItem::RunningTime};
            for (int k = 0; k < 3; ++k) {
                if (const auto pack = dat::lastPackWithItem(block, items[k])) {
                    times[k] = pack->time();
                    if (items[k] == dat::PackItem::AbsoluteTime)
                        index = pack->index();
                }
            }
        }
        data[4] = static_cast<std::uint8_t>(digits >> 8);
        data[5] = static_cast<std::uint8_t>((digits >> 4) & 0x0F);
        data[6] = static_cast<std::uint8_t>(digits & 0x0F);
        data[7] = index;
        for (int k = 0; k < 3; ++k)
            times[k].toBytes(data + 8 + 4 * k);
    }
    const std::uint32_t n = std::min<std::uint32_t>(length, sizeof data);
    std::memcpy(buffer, data, n);
    return good(n);
}

void SimulatedDrive::State::conceal(std::int64_t frame, std::uint8_t* data, bool left, bool right)
{
    const auto block = dat::SubcodeBlock::fromBytes(data + dat::kSubcodeOffset);
    const std::size_t pairs = dat::audioBytesOf(block.mainIdFields().sampleF) / 4;
    if (pairs == 0)
        return;
    // Interpolate across the frame between the neighbours' nearest samples, as the drive's
    // error concealment does; a missing neighbour counts as silence.
    std::int16_t before[2] = {0, 0};
    std::int16_t after[2] = {0, 0};
    std::string error;
    if (tape->readFrame(frame - 1, neighbour.data(), error)) {
        const std::size_t last = (pairs - 1) * 4;
        before[0] = static_cast<std::int16_t>(readLe16(&neighbour[last]));
        before[1] = static_cast<std::int16_t>(readLe16(&neighbour[last + 2]));
    }
    if (tape->readFrame(frame + 1, neighbour.data(), error)) {
        after[0] = static_cast<std::int16_t>(readLe16(&neighbour[0]));
        after[1] = static_cast<std::int16_t>(readLe16(&neighbour[2]));
    }
    for (int ch = 0; ch < 2; ++ch) {
        if ((ch == 0 && !left) || (ch == 1 && !right))
            continue;
        for (std::size_t i = 0; i < pairs; ++i) {
            const double f = static_cast<double>(i + 1) / static_cast<double>(pairs + 1);
            const double v = before[ch] + (after[ch] - before[ch]) * f;
            writeLe16(data + i * 4 + ch * 2,
                      static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
        }
    }
    std::uint8_t& flags = data[dat::kSubcodeOffset + dat::kSubIdOffset + 3];
    if (left)
        flags |= dat::kSubIdInterpolatedLeft;
    if (right)
        flags |= dat::kSubIdInterpolatedRight;
}

scsi::TargetReply SimulatedDrive::State::readFrame(std::unique_lock<std::mutex>& lock,
                                                   const std::uint8_t* cdb, std::uint8_t* buffer,
                                                   std::uint32_t length)
{
    if (!audioMode() || (cdb[1] & 0x01) != 0) // data mode, or fixed-block transfers
        return check(kInvalidFieldInCdb);
    if (const auto s = notReady())
        return check(*s);
    const std::uint32_t n = (std::uint32_t{cdb[2]} << 16) | (std::uint32_t{cdb[3]} << 8) | cdb[4];
    if (n == 0)
        return good();
    // One frame per command, never more, never less.
    if (n != kFrameLength || buffer == nullptr || length < n)
        return check(kInvalidFieldInCdb);
    if (!paceStream(lock))
        return aborted();
    readSinceLocate = true;
    if (head >= tape->lengthFrames())
        return check(Sense{kKeyBlankCheck, 0x00, 0x05, true});
    if (!tape->isRecorded(head))
        return check(tape->everRecorded() ? kEndOfData : kUnknownFormat);
    const ReadFault fault = tape->readFault(head);
    if (fault.unreadable) {
        ++head; // the tape runs on past the bad frame
        return check(kUnrecoveredReadError);
    }
    if (!tape->readFrame(head, buffer, lastFileError))
        return check(kInternalFailure);
    if (fault.left || fault.right)
        conceal(head, buffer, fault.left, fault.right);
    ++head;
    positionKnown = true;
    return good(n);
}

scsi::TargetReply SimulatedDrive::State::writeFrame(std::unique_lock<std::mutex>& lock,
                                                    const std::uint8_t* cdb,
                                                    const std::uint8_t* buffer,
                                                    std::uint32_t length)
{
    if (!audioMode() || (cdb[1] & 0x01) != 0)
        return check(kInvalidFieldInCdb);
    if (const auto s = notReady())
        return check(*s);
    const std::uint32_t n = (std::uint32_t{cdb[2]} << 16) | (std::uint32_t{cdb[3]} << 8) | cdb[4];
    if (n == 0)
        return good();
    if (n != kFrameLength || buffer == nullptr || length < n)
        return check(kInvalidFieldInCdb);
    if (tape->writeProtected())
        return check(kWriteProtected);
    if (!paceStream(lock))
        return aborted();
    std::int64_t at = head;
    if (readSinceLocate && options.misplacedWriteFrames > 0) {
        // The head has run on behind the read-ahead; the write lands there.
        at += options.misplacedWriteFrames;
        ++misplacedWrites;
    }
    readSinceLocate = false;
    if (at >= tape->lengthFrames())
        return check(kEndOfMedium);
    if (tape->writeFailsAt(at)) {
        head = at;
        return check(kWriteError);
    }
    std::uint8_t frame[dat::kFrameBytes];
    std::memcpy(frame, buffer, sizeof frame);
    // The interpolation flags are the reading drive's report, never recorded.
    frame[dat::kSubcodeOffset + dat::kSubIdOffset + 3] &=
        static_cast<std::uint8_t>(~(dat::kSubIdInterpolatedLeft | dat::kSubIdInterpolatedRight));
    if (!tape->writeFrame(at, frame, lastFileError))
        return check(kInternalFailure);
    head = at + 1;
    positionKnown = true;
    return good(n);
}

scsi::TargetReply SimulatedDrive::State::readBuffer(const std::uint8_t* cdb, std::uint8_t* buffer,
                                                    std::uint32_t length)
{
    // Mode 0 (header and data) of buffer 0 from offset 0 only.
    if ((cdb[1] & 0x1F) != 0 || cdb[2] != 0 || cdb[3] != 0 || cdb[4] != 0 || cdb[5] != 0)
        return check(kInvalidFieldInCdb);
    const std::uint32_t n = (std::uint32_t{cdb[6]} << 16) | (std::uint32_t{cdb[7]} << 8) | cdb[8];
    if (n > length || n > 4 + kReadBufferCapacity)
        return check(kInvalidFieldInCdb);
    if (n > 0) {
        std::memset(buffer, 0, n);
        std::uint8_t header[4] = {0, static_cast<std::uint8_t>(kReadBufferCapacity >> 16),
                                  static_cast<std::uint8_t>(kReadBufferCapacity >> 8),
                                  static_cast<std::uint8_t>(kReadBufferCapacity)};
        std::memcpy(buffer, header, std::min<std::uint32_t>(n, 4));
    }
    // The written frames have left the drive's buffer for the tape.
    flushCassette();
    return good(n);
}

// ---------------------------------------------------------------------------------------------

SimulatedDrive::SimulatedDrive(std::unique_ptr<State> state) : state_(std::move(state)) {}

SimulatedDrive::~SimulatedDrive()
{
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    // The run ends: a wind or search stops where it has got to.
    const Clock::time_point now = Clock::now();
    s.advance(now);
    s.stopMotion(now);
    s.keepState();
    s.flushCassette();
}

std::unique_ptr<SimulatedDrive> SimulatedDrive::withOptions(const SimOptions& options)
{
    auto state = std::make_unique<State>();
    state->options = options;
    state->options.unit = std::clamp(options.unit, 0, 7);
    state->options.misplacedWriteFrames = std::max(0, options.misplacedWriteFrames);
    state->motionScale = options.motionScale > 0.0 ? options.motionScale
                         : options.realtime        ? 1.0
                                                   : kFastMotionScale;
    return std::unique_ptr<SimulatedDrive>(new SimulatedDrive(std::move(state)));
}

std::unique_ptr<SimulatedDrive> SimulatedDrive::open(const std::string& cassettePath,
                                                     const SimOptions& options, std::string& error)
{
    std::unique_ptr<SimulatedDrive> drive = withOptions(options);
    if (!cassettePath.empty()) {
        auto cassette = Cassette::open(cassettePath, Cassette::Access::Drive, error);
        if (!cassette)
            return nullptr;
        State& s = *drive->state_;
        std::lock_guard lock(s.mutex);
        s.insert(std::move(cassette), Clock::now(), true);
    }
    return drive;
}

std::unique_ptr<SimulatedDrive> SimulatedDrive::openImage(const std::string& imagePath,
                                                          const SimOptions& options,
                                                          std::string& error)
{
    auto image = ImageTape::open(imagePath, error);
    if (!image)
        return nullptr;
    std::unique_ptr<SimulatedDrive> drive = withOptions(options);
    State& s = *drive->state_;
    std::lock_guard lock(s.mutex);
    s.imageDrive = true;
    s.insert(std::move(image), Clock::now(), true);
    return drive;
}

std::uint8_t SimulatedDrive::hostAdapter() const
{
    return 0;
}

std::uint8_t SimulatedDrive::targetId() const
{
    return static_cast<std::uint8_t>(4 + state_->options.unit);
}

const SimOptions& SimulatedDrive::options() const
{
    return state_->options;
}

scsi::TargetReply SimulatedDrive::command(const std::uint8_t* cdb, std::size_t cdbLength,
                                          scsi::DataDirection direction, std::uint8_t* buffer,
                                          std::uint32_t length)
{
    if (cdb == nullptr || cdbLength == 0 || cdbLength < cdbLengthOf(cdb[0]))
        return check(kInvalidFieldInCdb);
    if (buffer == nullptr)
        length = 0;
    std::unique_lock lock(state_->mutex);
    state_->commandRunning = true;
    state_->abortRequested = false;
    state_->advance(Clock::now());
    scsi::TargetReply reply = state_->dispatch(lock, cdb, direction, buffer, length);
    state_->keepState();
    state_->commandRunning = false;
    state_->abortRequested = false;
    return reply;
}

scsi::AbortAnswer SimulatedDrive::abort()
{
    std::lock_guard lock(state_->mutex);
    if (!state_->commandRunning)
        return scsi::AbortAnswer::Idle;
    state_->abortRequested = true;
    state_->wake.notify_all();
    return scsi::AbortAnswer::Taken;
}

bool SimulatedDrive::insertCassette(const std::string& cassettePath, std::string& error)
{
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.tape) {
        error = tr(kSimDriveNotEmpty);
        return false;
    }
    auto cassette = Cassette::open(cassettePath, Cassette::Access::Drive, error);
    if (!cassette)
        return false;
    s.insert(std::move(cassette), Clock::now(), false);
    return true;
}

void SimulatedDrive::removeCassette()
{
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.commandRunning) {
        s.abortRequested = true;
        s.wake.notify_all();
    }
    // Whoever puts it in next threads it from the beginning.
    s.motion = State::Motion{};
    s.media = State::Media::None;
    s.keepState();
    s.tape.reset();
    s.head = 0;
}

void SimulatedDrive::reset()
{
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    const Clock::time_point now = Clock::now();
    s.advance(now);
    if (s.commandRunning) {
        s.abortRequested = true;
        s.wake.notify_all();
    }
    s.stopMotion(now);
    s.keepState();
    s.density = kDensityData;
    s.blockLength = 0;
    s.readSinceLocate = false;
    s.unitAttentionAsc = 0x29;
}

SimulatedDrive::Observation SimulatedDrive::observe() const
{
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    const Clock::time_point now = Clock::now();
    s.advance(now);
    Observation o;
    o.hasCassette = s.tape != nullptr;
    o.loaded = s.media == State::Media::Loaded;
    o.moving = s.motion.active || s.media == State::Media::Cueing;
    o.audioMode = s.audioMode();
    o.head = s.headAt(now);
    o.misplacedWrites = s.misplacedWrites;
    o.lastFileError = s.lastFileError;
    return o;
}

} // namespace tarnvel::sim
