#include "sim/Cassette.h"

#include "common/ByteOrder.h"
#include "formats/StringPrintf.h"
#include "sim/SimMessages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::sim {

namespace {

using formats::stringPrintf;

// Header page (little-endian).
constexpr char kMagic[16] = {'T', 'A', 'R', 'N', 'V', 'E', 'L', ' ',
                             'C', 'A', 'S', 'S', 'E', 'T', 'T', 'E'};
constexpr std::uint32_t kVersion = 1;
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

// Index entry per frame: byte 0 recorded mark, byte 1 reserved, bytes 2-63 the subcode.
constexpr std::size_t kIndexEntryBytes = 64;
constexpr std::uint8_t kRecordedMark = 0x01;
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

bool validKind(std::uint32_t k)
{
    return k >= static_cast<std::uint32_t>(FaultKind::Left) &&
           k <= static_cast<std::uint32_t>(FaultKind::WriteFail);
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
    std::unique_ptr<Cassette> c(new Cassette);
    c->path_ = path;
    c->fd_ = fd;
    c->writable_ = true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = stringPrintf(tr(kSimCassetteInUse), path.c_str());
        ::unlink(path.c_str());
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
    // is long enough.
    if (::ftruncate(fd, static_cast<off_t>(fileBytesFor(frames))) != 0 ||
        !pwriteAll(fd, header, sizeof header, 0)) {
        error = stringPrintf(tr(kSimCassetteCreateFailed), path.c_str(), std::strerror(errno));
        ::unlink(path.c_str());
        return nullptr;
    }
    if (!c->mapAndCheck(error)) {
        ::unlink(path.c_str());
        return nullptr;
    }
    return c;
}

std::unique_ptr<Cassette> Cassette::open(const std::string& path, Access access, std::string& error)
{
    const bool writable = access == Access::ReadWrite;
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        error = stringPrintf(tr(kSimCassetteOpenFailed), path.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<Cassette> c(new Cassette);
    c->path_ = path;
    c->fd_ = fd;
    c->writable_ = writable;
    if (::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        error = stringPrintf(tr(kSimCassetteInUse), path.c_str());
        return nullptr;
    }
    if (!c->mapAndCheck(error))
        return nullptr;
    return c;
}

Cassette::~Cassette()
{
    std::string ignored;
    if (writable_ && map_ != nullptr)
        flush(ignored);
    if (map_ != nullptr)
        ::munmap(map_, mapBytes_);
    if (fd_ >= 0)
        ::close(fd_); // also releases the lock
}

bool Cassette::mapAndCheck(std::string& error)
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
    if (version != kVersion) {
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
        const std::uint8_t* f = header + kOffFaults + i * kFaultBytes;
        const Fault fault{readLe32(f), readLe32(f + 4), static_cast<FaultKind>(readLe32(f + 8))};
        if (!validKind(readLe32(f + 8)) || fault.first > fault.last || fault.last >= frames)
            return damaged("fault table");
        faults_.push_back(fault);
    }
    minutes_ = static_cast<int>(minutes);
    frames_ = frames;
    audioOffset_ = audioOffset;
    mapBytes_ = kHeaderBytes + static_cast<std::size_t>(frames) * kIndexEntryBytes;
    void* m = ::mmap(nullptr, mapBytes_, writable_ ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                     fd_, 0);
    if (m == MAP_FAILED) {
        error = stringPrintf(tr(kSimCassetteOpenFailed), path_.c_str(), std::strerror(errno));
        return false;
    }
    map_ = static_cast<std::uint8_t*>(m);
    recordedEnd_ = 0;
    for (std::int64_t i = frames_; i > 0; --i) {
        if (isRecorded(i - 1)) {
            recordedEnd_ = i;
            break;
        }
    }
    return true;
}

std::uint8_t* Cassette::indexEntry(std::int64_t frame) const
{
    return map_ + kHeaderBytes + static_cast<std::size_t>(frame) * kIndexEntryBytes;
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
        error = stringPrintf(tr(kSimCassetteIoFailed), path_.c_str(),
                             errno != 0 ? std::strerror(errno) : "short read");
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
    // Audio first, then the index entry that marks the frame recorded.
    if (!pwriteAll(fd_, in, kAudioSlotBytes,
                   audioOffset_ + static_cast<std::uint64_t>(frame) * kAudioSlotBytes)) {
        error = stringPrintf(tr(kSimCassetteIoFailed), path_.c_str(), std::strerror(errno));
        return false;
    }
    std::uint8_t* e = indexEntry(frame);
    std::memcpy(e + kEntrySubcode, in + kAudioSlotBytes, kSubcodeBytes);
    e[1] = 0;
    e[0] = kRecordedMark;
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
        !validKind(static_cast<std::uint32_t>(fault.kind))) {
        error = stringPrintf(tr(kSimFaultOutOfRange), fault.first, fault.last,
                             static_cast<long long>(frames_ - 1));
        return false;
    }
    if (faults_.size() >= kMaxFaults) {
        error = stringPrintf(tr(kSimTooManyFaults), static_cast<unsigned>(faults_.size()));
        return false;
    }
    faults_.push_back(fault);
    storeFaults();
    return true;
}

void Cassette::storeFaults()
{
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        std::uint8_t* f = map_ + kOffFaults + i * kFaultBytes;
        writeLe32(f, faults_[i].first);
        writeLe32(f + 4, faults_[i].last);
        writeLe32(f + 8, static_cast<std::uint32_t>(faults_[i].kind));
        writeLe32(f + 12, 0);
    }
    // The count last: a table that was cut short by a crash still lists only whole entries.
    writeLe32(map_ + kOffFaultCount, static_cast<std::uint32_t>(faults_.size()));
}

ReadFault Cassette::readFaultAt(std::int64_t frame) const
{
    ReadFault r;
    for (const Fault& f : faults_) {
        if (frame < f.first || frame > f.last)
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
    if (::msync(map_, mapBytes_, MS_SYNC) != 0 || ::fdatasync(fd_) != 0) {
        error = stringPrintf(tr(kSimCassetteIoFailed), path_.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace tarnvel::sim
