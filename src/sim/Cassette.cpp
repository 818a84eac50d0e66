#include "sim/Cassette.h"

#include "common/ByteOrder.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "sim/SimMessages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::sim {

namespace {

using formats::stringPrintf;

// Header page (little-endian).
constexpr char kMagic[16] = {'T', 'A', 'R', 'N', 'V', 'E', 'L', ' ',
                             'C', 'A', 'S', 'S', 'E', 'T', 'T', 'E'};
// Version 2 adds intermittent faults (a chance and a seed in the fault entry). A cassette
// without them is written as version 1, so that earlier programs still read it; one with them
// is refused by those as newer instead of misread as damaged for good.
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kVersionIntermittent = 2;
constexpr std::size_t kHeaderBytes = 4096;
constexpr std::size_t kOffVersion = 16;
constexpr std::size_t kOffMinutes = 20;
constexpr std::size_t kOffFrames = 24;
constexpr std::size_t kOffIndexOffset = 28;
constexpr std::size_t kOffIndexEntryBytes = 32;
constexpr std::size_t kOffAudioOffsetLow = 36;
constexpr std::size_t kOffAudioOffsetHigh = 40;
constexpr std::size_t kOffFaultCount = 44;
constexpr std::size_t kOffFaults = 64;
constexpr std::size_t kFaultBytes = 16;
static_assert(kOffFaults + Cassette::kMaxFaults * kFaultBytes <= kHeaderBytes);

// Index entry per frame: byte 0 recorded mark, byte 1 reads of the frame so far (counted only
// where an intermittent fault lies, modulo 256), bytes 2-63 the subcode.
constexpr std::size_t kIndexEntryBytes = 64;
constexpr std::uint8_t kRecordedMark = 0x01;
constexpr std::size_t kEntryReads = 1;
constexpr std::size_t kEntrySubcode = 2;
constexpr std::size_t kAudioSlotBytes = 5760;
constexpr std::size_t kFrameBytes = 5822;
constexpr std::size_t kSubcodeBytes = 62;

std::uint64_t audioOffsetFor(std::int64_t frames)
{
    const std::uint64_t end = kHeaderBytes + static_cast<std::uint64_t>(frames) * kIndexEntryBytes;
    return (end + kHeaderBytes - 1) / kHeaderBytes * kHeaderBytes;
}

std::uint64_t fileBytesFor(std::int64_t frames)
{
    return audioOffsetFor(frames) + static_cast<std::uint64_t>(frames) * kAudioSlotBytes;
}

// Drive state record (64 bytes right after the last audio slot): magic, record version, media,
// head, motion kind, turning and target frames, three wall-clock times, a checksum.
constexpr char kStateMagic[8] = {'D', 'R', 'V', 'S', 'T', 'A', 'T', 'E'};
constexpr std::uint32_t kStateVersion = 1;
constexpr std::size_t kStateBytes = 64;
constexpr std::size_t kStateChecksummed = 60;

std::uint32_t checksum(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t h = 2166136261u; // FNV-1a
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

void writeLe64(std::uint8_t* p, std::int64_t v)
{
    writeLe32(p, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
    writeLe32(p + 4, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32));
}

std::int64_t readLe64(const std::uint8_t* p)
{
    return static_cast<std::int64_t>(readLe32(p) | (std::uint64_t{readLe32(p + 4)} << 32));
}

void encodeState(const DriveState& s, std::uint8_t* r)
{
    std::memset(r, 0, kStateBytes);
    std::memcpy(r, kStateMagic, sizeof kStateMagic);
    writeLe32(r + 8, kStateVersion);
    writeLe32(r + 12, static_cast<std::uint32_t>(s.media));
    writeLe32(r + 16, s.head);
    writeLe32(r + 20, static_cast<std::uint32_t>(s.motion));
    writeLe32(r + 24, s.via);
    writeLe32(r + 28, s.to);
    writeLe64(r + 32, s.moveStartUs);
    writeLe64(r + 40, s.viaUs);
    writeLe64(r + 48, s.moveEndUs);
    writeLe32(r + kStateChecksummed, checksum(r, kStateChecksummed));
}

// False for a record that is missing, torn or from a later version: the drive then starts as
// with a cassette never held before.
bool decodeState(const std::uint8_t* r, std::int64_t frames, DriveState& s)
{
    if (std::memcmp(r, kStateMagic, sizeof kStateMagic) != 0 || readLe32(r + 8) != kStateVersion ||
        readLe32(r + kStateChecksummed) != checksum(r, kStateChecksummed))
        return false;
    const std::uint32_t media = readLe32(r + 12);
    const std::uint32_t motion = readLe32(r + 20);
    DriveState d;
    d.head = readLe32(r + 16);
    d.via = readLe32(r + 24);
    d.to = readLe32(r + 28);
    d.moveStartUs = readLe64(r + 32);
    d.viaUs = readLe64(r + 40);
    d.moveEndUs = readLe64(r + 48);
    if (media > static_cast<std::uint32_t>(DriveState::Media::Ejected) ||
        motion > static_cast<std::uint32_t>(DriveState::Motion::Eject) || d.head > frames ||
        d.via > frames || d.to > frames || d.moveStartUs > d.viaUs || d.viaUs > d.moveEndUs)
        return false;
    d.media = static_cast<DriveState::Media>(media);
    d.motion = static_cast<DriveState::Motion>(motion);
    s = d;
    return true;
}

bool validKind(std::uint32_t k)
{
    return k >= static_cast<std::uint32_t>(FaultKind::Left) &&
           k <= static_cast<std::uint32_t>(FaultKind::WriteFail);
}

// A fault entry: first and last frame, then the kind in byte 8, byte 9 reserved, the chance in
// bytes 10-11 (0 for every read, as version 1 wrote it) and the seed in bytes 12-15.
void encodeFault(const Fault& fault, std::uint8_t* f)
{
    writeLe32(f, fault.first);
    writeLe32(f + 4, fault.last);
    const std::uint32_t chance = fault.intermittent() ? fault.chance : 0;
    writeLe32(f + 8, static_cast<std::uint32_t>(fault.kind) | chance << 16);
    writeLe32(f + 12, fault.intermittent() ? fault.seed : 0);
}

bool decodeFault(const std::uint8_t* f, std::uint32_t version, std::int64_t frames, Fault& fault)
{
    const std::uint32_t word = readLe32(f + 8);
    const std::uint32_t kind = word & 0xFFFF;
    const std::uint32_t chance = word >> 16;
    Fault d;
    d.first = readLe32(f);
    d.last = readLe32(f + 4);
    if (!validKind(kind) || d.first > d.last || d.last >= frames)
        return false;
    d.kind = static_cast<FaultKind>(kind);
    if (chance != 0) {
        if (version < kVersionIntermittent || chance >= Fault::kChanceScale ||
            d.kind == FaultKind::WriteFail)
            return false;
        d.chance = static_cast<std::uint16_t>(chance);
        d.seed = readLe32(f + 12);
    }
    fault = d;
    return true;
}

std::uint64_t mix64(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull; // splitmix64
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

bool preadAll(int fd, std::uint8_t* p, std::size_t n, std::uint64_t off)
{
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(off));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
        off += static_cast<std::uint64_t>(r);
    }
    return true;
}

bool pwriteAll(int fd, const std::uint8_t* p, std::size_t n, std::uint64_t off)
{
    while (n > 0) {
        const ssize_t r = ::pwrite(fd, p, n, static_cast<off_t>(off));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
        off += static_cast<std::uint64_t>(r);
    }
    return true;
}

} // namespace

bool Fault::strikes(std::int64_t frame, std::uint32_t readsBefore) const
{
    if (!intermittent())
        return true;
    const std::uint64_t h =
        mix64(mix64(mix64(seed) ^ static_cast<std::uint64_t>(frame)) ^ readsBefore);
    return h % kChanceScale < chance;
}

std::string chanceText(std::uint16_t chance)
{
    if (chance >= Fault::kChanceScale)
        return "1";
    std::string text = stringPrintf("0.%04u", static_cast<unsigned>(chance));
    while (text.back() == '0')
        text.pop_back();
    return text;
}

bool parseChance(const std::string& text, std::uint16_t& chance)
{
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    const auto digits = [](const std::string& s) {
        return s.find_first_not_of("0123456789") == std::string::npos;
    };
    if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction) ||
        fraction.size() > 4 || whole.size() > 4 || (dot != std::string::npos && fraction.empty()))
        return false;
    std::uint32_t value = whole.empty() ? 0 : static_cast<std::uint32_t>(std::stoul(whole)) * 10000;
    std::uint32_t scale = 1000;
    for (char c : fraction) {
        value += static_cast<std::uint32_t>(c - '0') * scale;
        scale /= 10;
    }
    if (value == 0 || value > Fault::kChanceScale)
        return false;
    chance = static_cast<std::uint16_t>(value);
    return true;
}

const char* faultKindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::Left:
        return "left";
    case FaultKind::Right:
        return "right";
    case FaultKind::Both:
        return "both";
    case FaultKind::Unreadable:
        return "unreadable";
    case FaultKind::WriteFail:
        return "write-fail";
    }
    return "?";
}

bool parseFaultKind(const std::string& text, FaultKind& kind)
{
    for (auto k : {FaultKind::Left, FaultKind::Right, FaultKind::Both, FaultKind::Unreadable,
                   FaultKind::WriteFail}) {
        if (text == faultKindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

std::unique_ptr<Cassette> Cassette::create(const std::string& path, int minutes, std::string& error)
{
    if (minutes < kMinMinutes || minutes > kMaxMinutes) {
        error = stringPrintf(tr(kSimBadMinutes), minutes);
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno == EEXIST ? stringPrintf(tr(kSimCassetteExists), path.c_str())
                                : stringPrintf(tr(kSimCassetteCreateFailed), path.c_str(),
                                               std::strerror(errno));
        return nullptr;
    }
    auto c = createOn(fd, path, minutes, error);
    if (!c)
        ::unlink(path.c_str());
    return c;
}

std::unique_ptr<Cassette> Cassette::createUnpublished(const std::string& path, int minutes,
                                                      std::string& error)
{
    if (minutes < kMinMinutes || minutes > kMaxMinutes) {
        error = stringPrintf(tr(kSimBadMinutes), minutes);
        return nullptr;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        error = stringPrintf(tr(kSimCassetteExists), path.c_str());
        return nullptr;
    }
    // Beside the final name, so that the rename stays on the same file system.
    std::random_device random;
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = path + ".";
        for (int i = 0; i < 6; ++i)
            temporary += kLetters[random() % (sizeof kLetters - 1)];
        temporary += ".part";
        const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            error = stringPrintf(tr(kSimCassetteCreateFailed), path.c_str(), std::strerror(errno));
            return nullptr;
        }
        auto c = createOn(fd, path, minutes, error);
        if (!c) {
            ::unlink(temporary.c_str());
            return nullptr;
        }
        c->buildPath_ = temporary;
        return c;
    }
    error = stringPrintf(tr(kSimCassetteCreateFailed), path.c_str(), std::strerror(EEXIST));
    return nullptr;
}

std::unique_ptr<Cassette> Cassette::createOn(int fd, const std::string& path, int minutes,
                                             std::string& error)
{
    std::unique_ptr<Cassette> c(new Cassette);
    c->path_ = path;
    c->fd_ = fd;
    c->writable_ = true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = stringPrintf(tr(kSimCassetteInUse), path.c_str());
        return nullptr;
    }
    const std::int64_t frames = static_cast<std::int64_t>(minutes) * kFramesPerMinute;
    std::uint8_t header[kHeaderBytes] = {};
    std::memcpy(header, kMagic, sizeof kMagic);
    const std::uint64_t audioOffset = audioOffsetFor(frames);
    writeLe32(header + kOffVersion, kVersion);
    writeLe32(header + kOffMinutes, static_cast<std::uint32_t>(minutes));
    writeLe32(header + kOffFrames, static_cast<std::uint32_t>(frames));
    writeLe32(header + kOffIndexOffset, kHeaderBytes);
    writeLe32(header + kOffIndexEntryBytes, kIndexEntryBytes);
    writeLe32(header + kOffAudioOffsetLow, static_cast<std::uint32_t>(audioOffset));
    writeLe32(header + kOffAudioOffsetHigh, static_cast<std::uint32_t>(audioOffset >> 32));
    // The length is set first so that a header, once written, always describes a file that
    // is long enough. The drive state record is written now so that keeping the state later
    // never needs more disk space.
    std::uint8_t state[kStateBytes];
    encodeState(DriveState{}, state);
    errno = 0;
    if (::ftruncate(fd, static_cast<off_t>(fileBytesFor(frames) + kStateBytes)) != 0 ||
        !pwriteAll(fd, header, sizeof header, 0) ||
        !pwriteAll(fd, state, sizeof state, fileBytesFor(frames))) {
        error = stringPrintf(tr(kSimCassetteCreateFailed), path.c_str(),
                             std::strerror(errno != 0 ? errno : EIO));
        return nullptr;
    }
    if (!c->load(error))
        return nullptr;
    return c;
}

std::unique_ptr<Cassette> Cassette::open(const std::string& path, Access access, std::string& error)
{
    // Only regular files, opened without blocking (a FIFO would wait for a writer).
    bool writable = access != Access::ReadOnly;
    formats::OpenFailure failure;
    int fd = formats::openRegularFile(path, writable ? O_RDWR : O_RDONLY, failure);
    if (fd < 0 && access == Access::Drive &&
        (failure.problem == formats::OpenProblem::PermissionDenied ||
         (failure.problem == formats::OpenProblem::Other && failure.systemError == EROFS))) {
        // A file that may not be written is a write-protected cassette.
        writable = false;
        fd = formats::openRegularFile(path, O_RDONLY, failure);
    }
    if (fd < 0) {
        error = stringPrintf(tr(kSimCassetteOpenFailed), path.c_str(), failure.text().c_str());
        return nullptr;
    }
    std::unique_ptr<Cassette> c(new Cassette);
    c->path_ = path;
    c->fd_ = fd;
    c->writable_ = writable;
    const bool exclusive = access != Access::ReadOnly;
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        error = stringPrintf(tr(kSimCassetteInUse), path.c_str());
        return nullptr;
    }
    if (!c->load(error))
        return nullptr;
    return c;
}

Cassette::~Cassette()
{
    std::string ignored;
    if (writable_ && fd_ >= 0)
        flush(ignored);
    if (!buildPath_.empty())
        ::unlink(buildPath_.c_str());
    if (fd_ >= 0)
        ::close(fd_); // also releases the lock
}

void Cassette::FreeBytes::operator()(std::uint8_t* p) const
{
    std::free(p);
}

bool Cassette::publish(std::string& error)
{
    if (buildPath_.empty())
        return true;
    if (!flush(error))
        return false;
    // Never replace: a file that appeared under the name meanwhile is kept.
    int result =
        ::renameat2(AT_FDCWD, buildPath_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without that rename: a hard link also refuses an existing name.
        result = ::link(buildPath_.c_str(), path_.c_str());
        if (result == 0)
            ::unlink(buildPath_.c_str());
    }
    if (result != 0) {
        error = errno == EEXIST ? stringPrintf(tr(kSimCassetteExists), path_.c_str())
                                : stringPrintf(tr(kSimCassetteCreateFailed), path_.c_str(),
                                               std::strerror(errno));
        return false;
    }
    buildPath_.clear();
    // The new name survives a power loss too.
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::string Cassette::ioError(const char* fallback) const
{
    return stringPrintf(tr(kSimCassetteIoFailed), path_.c_str(),
                        errno != 0 ? std::strerror(errno) : fallback);
}

bool Cassette::load(std::string& error)
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error = stringPrintf(tr(kSimCassetteOpenFailed), path_.c_str(), std::strerror(errno));
        return false;
    }
    std::uint8_t header[kHeaderBytes] = {};
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) < kHeaderBytes ||
        !preadAll(fd_, header, sizeof header, 0) ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        error = stringPrintf(tr(kSimNotACassette), path_.c_str());
        return false;
    }
    const std::uint32_t version = readLe32(header + kOffVersion);
    if (version != kVersion && version != kVersionIntermittent) {
        error = stringPrintf(tr(kSimCassetteNewerVersion), path_.c_str(), version);
        return false;
    }
    const auto damaged = [&](const char* why) {
        error = stringPrintf(tr(kSimCassetteDamaged), path_.c_str(), why);
        return false;
    };
    const std::uint32_t minutes = readLe32(header + kOffMinutes);
    const std::uint32_t frames = readLe32(header + kOffFrames);
    const std::uint64_t audioOffset = readLe32(header + kOffAudioOffsetLow) |
                                      (std::uint64_t{readLe32(header + kOffAudioOffsetHigh)} << 32);
    if (minutes < kMinMinutes || minutes > kMaxMinutes ||
        frames != minutes * static_cast<std::uint32_t>(kFramesPerMinute))
        return damaged("length");
    if (readLe32(header + kOffIndexOffset) != kHeaderBytes ||
        readLe32(header + kOffIndexEntryBytes) != kIndexEntryBytes ||
        audioOffset != audioOffsetFor(frames))
        return damaged("layout");
    if (static_cast<std::uint64_t>(st.st_size) < fileBytesFor(frames))
        return damaged("file too short");
    const std::uint32_t faultCount = readLe32(header + kOffFaultCount);
    if (faultCount > kMaxFaults)
        return damaged("fault table");
    faults_.clear();
    for (std::uint32_t i = 0; i < faultCount; ++i) {
        Fault fault;
        if (!decodeFault(header + kOffFaults + i * kFaultBytes, version, frames, fault))
            return damaged("fault table");
        faults_.push_back(fault);
    }
    minutes_ = static_cast<int>(minutes);
    frames_ = frames;
    audioOffset_ = audioOffset;
    if (!readIndex(error))
        return false;
    // The drive state record follows the audio; cassettes from earlier versions have none.
    stateKept_ = false;
    const std::uint64_t stateAt = fileBytesFor(frames);
    DriveState ignored;
    if (static_cast<std::uint64_t>(st.st_size) >= stateAt + kStateBytes &&
        preadAll(fd_, stateRecord_, kStateBytes, stateAt) &&
        decodeState(stateRecord_, frames, ignored))
        stateKept_ = true;
    return true;
}

bool Cassette::readIndex(std::string& error)
{
    const std::size_t bytes = static_cast<std::size_t>(frames_) * kIndexEntryBytes;
    index_.reset(static_cast<std::uint8_t*>(std::calloc(bytes, 1)));
    if (!index_) {
        error = stringPrintf(tr(kSimCassetteOpenFailed), path_.c_str(), std::strerror(ENOMEM));
        return false;
    }
    // Only the stretches of the index that hold data are read: a hole is all zeros already.
    const off_t begin = kHeaderBytes;
    const off_t end = begin + static_cast<off_t>(bytes);
    off_t dataEnd = begin;
    for (off_t at = begin; at < end;) {
        off_t data = ::lseek(fd_, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but holes from here on
        off_t hole = data < 0 ? end : ::lseek(fd_, data, SEEK_HOLE);
        if (data < 0)
            data = at; // no hole information: read it all
        if (data >= end)
            break;
        if (hole < 0 || hole > end)
            hole = end;
        errno = 0;
        if (!preadAll(fd_, index_.get() + (data - begin), static_cast<std::size_t>(hole - data),
                      static_cast<std::uint64_t>(data))) {
            error = ioError("short read");
            return false;
        }
        dataEnd = hole;
        at = hole;
    }
    recordedEnd_ = 0;
    for (std::int64_t i = (dataEnd - begin) / static_cast<off_t>(kIndexEntryBytes); i > 0; --i) {
        if (isRecorded(i - 1)) {
            recordedEnd_ = i;
            break;
        }
    }
    return true;
}

std::uint8_t* Cassette::indexEntry(std::int64_t frame) const
{
    return index_.get() + static_cast<std::size_t>(frame) * kIndexEntryBytes;
}

bool Cassette::isRecorded(std::int64_t frame) const
{
    return frame >= 0 && frame < frames_ && indexEntry(frame)[0] == kRecordedMark;
}

const std::uint8_t* Cassette::subcode(std::int64_t frame) const
{
    return isRecorded(frame) ? indexEntry(frame) + kEntrySubcode : nullptr;
}

std::int64_t Cassette::nextUnrecorded(std::int64_t from) const
{
    std::int64_t i = std::max<std::int64_t>(from, 0);
    while (i < frames_ && isRecorded(i))
        ++i;
    return std::min(i, frames_);
}

std::int64_t Cassette::recordedEnd() const
{
    return recordedEnd_;
}

bool Cassette::readFrame(std::int64_t frame, std::uint8_t* out, std::string& error) const
{
    if (!isRecorded(frame)) {
        std::memset(out, 0, kFrameBytes);
        return false;
    }
    errno = 0;
    if (!preadAll(fd_, out, kAudioSlotBytes,
                  audioOffset_ + static_cast<std::uint64_t>(frame) * kAudioSlotBytes)) {
        error = ioError("short read");
        return false;
    }
    std::memcpy(out + kAudioSlotBytes, indexEntry(frame) + kEntrySubcode, kSubcodeBytes);
    return true;
}

bool Cassette::writeFrame(std::int64_t frame, const std::uint8_t* in, std::string& error)
{
    if (!writable_) {
        error = stringPrintf(tr(kSimCassetteReadOnly), path_.c_str());
        return false;
    }
    if (frame < 0 || frame >= frames_)
        return false;
    // Audio first, then the index entry that marks the frame recorded; the frame counts as
    // recorded only when both reached the file.
    errno = 0;
    if (!pwriteAll(fd_, in, kAudioSlotBytes,
                   audioOffset_ + static_cast<std::uint64_t>(frame) * kAudioSlotBytes)) {
        error = ioError("short write");
        return false;
    }
    std::uint8_t entry[kIndexEntryBytes] = {};
    entry[0] = kRecordedMark;
    std::memcpy(entry + kEntrySubcode, in + kAudioSlotBytes, kSubcodeBytes);
    if (!pwriteAll(fd_, entry, sizeof entry,
                   kHeaderBytes + static_cast<std::uint64_t>(frame) * kIndexEntryBytes)) {
        error = ioError("short write");
        return false;
    }
    std::memcpy(indexEntry(frame), entry, sizeof entry);
    recordedEnd_ = std::max(recordedEnd_, frame + 1);
    return true;
}

bool Cassette::addFault(const Fault& fault, std::string& error)
{
    if (!writable_) {
        error = stringPrintf(tr(kSimCassetteReadOnly), path_.c_str());
        return false;
    }
    if (fault.first > fault.last || fault.last >= frames_ ||
        !validKind(static_cast<std::uint32_t>(fault.kind)) || fault.chance == 0 ||
        fault.chance > Fault::kChanceScale ||
        (fault.intermittent() && fault.kind == FaultKind::WriteFail)) {
        error = stringPrintf(tr(kSimFaultOutOfRange), fault.first, fault.last,
                             static_cast<long long>(frames_ - 1));
        return false;
    }
    if (faults_.size() >= kMaxFaults) {
        error = stringPrintf(tr(kSimTooManyFaults), static_cast<unsigned>(faults_.size()));
        return false;
    }
    faults_.push_back(fault);
    if (!storeFaults(error)) {
        faults_.pop_back();
        return false;
    }
    return true;
}

bool Cassette::storeFaults(std::string& error)
{
    std::uint8_t table[kMaxFaults * kFaultBytes] = {};
    for (std::size_t i = 0; i < faults_.size(); ++i)
        encodeFault(faults_[i], table + i * kFaultBytes);
    const bool intermittent = std::any_of(faults_.begin(), faults_.end(),
                                          [](const Fault& f) { return f.intermittent(); });
    // The version first and the count last: a table cut short by a crash still lists only whole
    // entries, under a version that reads them.
    std::uint8_t version[4];
    writeLe32(version, intermittent ? kVersionIntermittent : kVersion);
    std::uint8_t count[4];
    writeLe32(count, static_cast<std::uint32_t>(faults_.size()));
    errno = 0;
    if ((intermittent && !pwriteAll(fd_, version, sizeof version, kOffVersion)) ||
        !pwriteAll(fd_, table, faults_.size() * kFaultBytes, kOffFaults) ||
        !pwriteAll(fd_, count, sizeof count, kOffFaultCount)) {
        error = ioError("short write");
        return false;
    }
    return true;
}

ReadFault Cassette::readFaultAt(std::int64_t frame, std::uint32_t readsBefore) const
{
    ReadFault r;
    for (const Fault& f : faults_) {
        if (frame < f.first || frame > f.last || !f.strikes(frame, readsBefore))
            continue;
        switch (f.kind) {
        case FaultKind::Left:
            r.left = true;
            break;
        case FaultKind::Right:
            r.right = true;
            break;
        case FaultKind::Both:
            r.left = r.right = true;
            break;
        case FaultKind::Unreadable:
            r.unreadable = true;
            break;
        case FaultKind::WriteFail:
            break;
        }
    }
    return r;
}

std::uint32_t Cassette::noteRead(std::int64_t frame)
{
    const bool counted =
        isRecorded(frame) && std::any_of(faults_.begin(), faults_.end(), [frame](const Fault& f) {
            return f.intermittent() && frame >= f.first && frame <= f.last;
        });
    if (!counted)
        return 0;
    std::uint8_t& reads = indexEntry(frame)[kEntryReads];
    const std::uint32_t before = reads;
    reads = static_cast<std::uint8_t>(reads + 1);
    // A write-protected cassette counts in memory only, for as long as the drive holds it; so
    // does one whose file refuses the write (the count is no user data).
    if (writable_)
        pwriteAll(fd_, &reads, 1,
                  kHeaderBytes + static_cast<std::uint64_t>(frame) * kIndexEntryBytes +
                      kEntryReads);
    return before;
}

bool Cassette::writeFailsAt(std::int64_t frame) const
{
    return std::any_of(faults_.begin(), faults_.end(), [frame](const Fault& f) {
        return f.kind == FaultKind::WriteFail && frame >= f.first && frame <= f.last;
    });
}

bool Cassette::flush(std::string& error)
{
    if (!writable_)
        return true;
    if (::fdatasync(fd_) != 0) {
        error = ioError("sync failed");
        return false;
    }
    return true;
}

bool Cassette::driveState(DriveState& state) const
{
    return stateKept_ && decodeState(stateRecord_, frames_, state);
}

bool Cassette::setDriveState(const DriveState& state, std::string& error)
{
    if (!writable_) {
        error = stringPrintf(tr(kSimCassetteReadOnly), path_.c_str());
        return false;
    }
    std::uint8_t record[kStateBytes];
    encodeState(state, record);
    if (stateKept_ && std::memcmp(record, stateRecord_, kStateBytes) == 0)
        return true;
    errno = 0;
    if (!pwriteAll(fd_, record, kStateBytes, fileBytesFor(frames_))) {
        error = ioError("short write");
        return false;
    }
    std::memcpy(stateRecord_, record, kStateBytes);
    stateKept_ = true;
    return true;
}

} // namespace tarnvel::sim
