#include "engine/Rereader.h"

#include "formats/StringPrintf.h"
#include "recovery/FrameCondition.h"
#include "scsi/ScsiStatus.h"

#include <algorithm>

namespace tarnvel::engine {

namespace {

constexpr std::uint8_t kSenseMediumError = 0x03;
// Unreadable frames in a row after which the drive is taken to read nothing more here.
constexpr int kMaxUnreadableRun = 100;
constexpr std::size_t kPacksInBlock = 7;

bool isBad(const dat::DatFrame& frame)
{
    return !recovery::FrameCondition::of(frame).clean();
}

std::string absText(int frames)
{
    std::string t = dat::timeText(dat::framesToAbs(frames));
    const auto b = t.find_first_not_of(' ');
    return b == std::string::npos ? t : t.substr(b);
}

} // namespace

Rereader::Rereader(dat::DatDrive& drive, int d, int passes, std::function<bool()> stopping)
    : drive_(drive), d_(d), passes_(std::max(passes, 0)), stopping_(std::move(stopping))
{
}

std::string Rereader::status() const
{
    std::lock_guard lock(statusMutex_);
    return status_;
}

void Rereader::setStatus(std::string text)
{
    std::lock_guard lock(statusMutex_);
    status_ = std::move(text);
}

void Rereader::forget()
{
    ready_.clear();
    stretch_.clear();
    stretchAbs_ = -1;
    lastBad_ = -1;
    lastAbs_ = -1;
    skipBelow_ = -1;
    unreadableRun_ = 0;
    carry_ = false;
    setStatus({});
}

bool Rereader::next(dat::DatFrame& frame, std::uint8_t& note)
{
    while (ready_.empty()) {
        dat::DatFrame f;
        Raw r = Raw::Frame;
        if (carry_) {
            f = carried_;
            carry_ = false;
        } else {
            r = readNext(f);
        }
        const int size = static_cast<int>(stretch_.size());
        if (r == Raw::Failed) {
            if (size == 0)
                return false;
            // The stretch first; the read that failed is made again after it.
            finishStretch(stretchAbs_ + size);
            continue;
        }
        const int abs = recovery::matchableAbs(f.subcode);
        const bool bad = isBad(f);
        if (size == 0) {
            if (!bad || abs < 0) {
                ready_.push_back({f, 0});
                continue;
            }
            stretchAbs_ = abs;
            stretch_.push_back({f, true});
            lastBad_ = 0;
            continue;
        }
        if (abs >= 0 && abs != stretchAbs_ + size) {
            // The ABS time jumps: the stretch ends before this frame, reading goes on after it.
            carried_ = f;
            carry_ = true;
            finishStretch(abs + 1);
            continue;
        }
        stretch_.push_back({f, bad});
        if (bad)
            lastBad_ = size;
        if (size - lastBad_ >= kSettleFrames || size + 1 >= kMaxStretchFrames)
            finishStretch(stretchAbs_ + size + 1);
    }
    frame = ready_.front().frame;
    note = ready_.front().note;
    ready_.pop_front();
    return true;
}

Rereader::Raw Rereader::readRaw(dat::DatFrame& frame)
{
    if (drive_.readFrame(d_, frame.data(), dat::kFrameBytes) == scsi::kSsComp)
        return Raw::Frame;
    return drive_.senseKey() == kSenseMediumError ? Raw::Unreadable : Raw::Failed;
}

Rereader::Raw Rereader::readNext(dat::DatFrame& frame)
{
    for (int dropped = 0;;) {
        const Raw r = readRaw(frame);
        if (r == Raw::Failed)
            return r;
        if (r == Raw::Unreadable) {
            // Without the time of the frame before there is nothing to place it by: the read
            // error ends the run as it would without re-reading.
            if (lastAbs_ < 0 || ++unreadableRun_ > kMaxUnreadableRun)
                return Raw::Failed;
            const int abs = lastAbs_ + 1;
            standIn(frame, abs);
            lastAbs_ = abs;
            skipBelow_ = abs + 1;
            locateTo(abs + 1); // past it
            return Raw::Frame;
        }
        unreadableRun_ = 0;
        const int abs = recovery::matchableAbs(frame.subcode);
        // After a locate the drive may give frames it gave before: each goes on only once.
        if (abs >= 0 && abs < skipBelow_ && ++dropped < 2 * kMaxStretchFrames)
            continue;
        skipBelow_ = -1;
        lastAbs_ = abs;
        lastSubcode_ = frame.subcode;
        return Raw::Frame;
    }
}

bool Rereader::locateTo(int absFrames)
{
    const dat::TimeCode t = dat::framesToAbs(std::max(absFrames, 0));
    return drive_.locate(d_, dat::DatDrive::kLocateByAbsTime, false, t.hours, t.minutes, t.seconds,
                         t.frame) == scsi::kSsComp;
}

void Rereader::standIn(dat::DatFrame& frame, int absFrames) const
{
    // The frame before tells the program and format; the ABS time is this frame's own.
    frame.subcode = lastSubcode_;
    const dat::TimeCode t = dat::framesToAbs(absFrames);
    for (std::size_t i = 0; i < kPacksInBlock; ++i) {
        std::uint8_t* pack = frame.subcode.packData(i);
        if ((pack[0] >> 4) == static_cast<int>(dat::PackItem::AbsoluteTime)) {
            t.toBytes(pack + 3);
            dat::packParity(pack);
        }
    }
    recovery::makeUnreadableStandIn(frame);
}

void Rereader::finishStretch(int resumeAbs)
{
    const int size = static_cast<int>(stretch_.size());
    bool aborted = false;
    for (int pass = 1; pass <= passes_ && !aborted; ++pass) {
        int first = -1;
        int last = -1;
        for (int i = 0; i < size; ++i)
            if (isBad(stretch_[static_cast<std::size_t>(i)].frame)) {
                if (first < 0)
                    first = i;
                last = i;
            }
        if (first < 0)
            break;
        if (stopping_()) {
            aborted = true;
            break;
        }
        setStatus(formats::stringPrintf("Re-reading %s (pass %d of %d)",
                                        absText(stretchAbs_ + first).c_str(), pass, passes_));
        if (!locateTo(stretchAbs_ + first - kLeadFrames))
            break;
        int expect = -1;
        const int maxReads = last - first + 1 + 2 * kLeadFrames + kSettleFrames;
        for (int reads = 0; reads < maxReads; ++reads) {
            if (stopping_()) {
                aborted = true;
                break;
            }
            dat::DatFrame f;
            const Raw r = readRaw(f);
            if (r == Raw::Failed)
                break;
            int abs = r == Raw::Frame ? recovery::matchableAbs(f.subcode) : -1;
            if (abs < 0)
                abs = expect; // counted on from the frame before
            if (abs < 0)
                continue;
            expect = abs + 1;
            const int i = abs - stretchAbs_;
            if (r == Raw::Unreadable) {
                if (i >= last)
                    break;
                locateTo(expect);
                continue;
            }
            if (i > last)
                break;
            if (i >= first)
                recovery::improveRead(stretch_[static_cast<std::size_t>(i)].frame, f);
            if (i == last)
                break;
        }
    }
    setStatus({});
    if (!aborted) {
        locateTo(resumeAbs);
        skipBelow_ = resumeAbs;
    }
    lastAbs_ = resumeAbs - 1;
    lastSubcode_ = carry_ ? carried_.subcode : stretch_.back().frame.subcode;
    for (Held& h : stretch_) {
        std::uint8_t note = 0;
        if (h.bad) {
            note = kNoteReread;
            reread_.fetch_add(1, std::memory_order_relaxed);
            if (!isBad(h.frame)) {
                note |= kNoteRecovered;
                recovered_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        ready_.push_back({h.frame, note});
    }
    stretch_.clear();
    stretchAbs_ = -1;
    lastBad_ = -1;
}

} // namespace tarnvel::engine
