#include "recovery/ImageMerge.h"

#include "common/ByteOrder.h"
#include "common/MessageSink.h"
#include "formats/ImageMessages.h"
#include "formats/ImageReader.h"
#include "formats/ImageWriter.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"
#include "recovery/FrameCondition.h"
#include "recovery/RecoveryMessages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::recovery {

namespace {

using formats::stringPrintf;

// Frames of a pass compared with the reference before it is taken for one.
constexpr int kProbePoints = 32;
// Frames looked at from each probe point for one with clean, changing audio.
constexpr int kProbeReach = 16;
// How far a copy's stretch is followed beyond its anchors, pair by pair, where both images hold
// the same clean samples (the exact place where a copy starts, pauses or skips).
constexpr std::uint64_t kExtensionPairs = 10 * 48000;
constexpr std::uint32_t kProgressFrames = 4096;
// The merged image is written in one go under a temporary name of the caller's: making every 10
// seconds of it durable on the way would only hold the merge up (a crash leaves nothing to keep
// anyway), so it is synced once, when complete. A full disk still ends it with the writer's
// message (the failed write).

// Whether a channel's samples change enough to tell one recording from another (digital
// silence and a constant level are the same everywhere).
bool informative(const dat::DatFrame& frame, int channel, std::size_t pairs)
{
    const std::size_t at = channel == kLeft ? 0 : 2;
    std::size_t changes = 0;
    for (std::size_t i = 1; i < pairs; ++i)
        if (frame.audio[4 * i + at] != frame.audio[4 * (i - 1) + at] ||
            frame.audio[4 * i + at + 1] != frame.audio[4 * (i - 1) + at + 1])
            ++changes;
    return changes >= pairs / 4;
}

std::uint16_t mainIdWord(const dat::DatFrame& f)
{
    return static_cast<std::uint16_t>(f.subcode.mainId(0) << 8 | f.subcode.mainId(1));
}

// Both channels equal: the usual answer, found with one comparison.
bool sameAudio(const dat::DatFrame& a, const dat::DatFrame& b, std::size_t pairs)
{
    return std::memcmp(a.audio.data(), b.audio.data(), 4 * pairs) == 0;
}

bool usableForAnchors(const dat::DatFrame& frame, const FrameCondition& c)
{
    return c.clean() && channelsSeparable(frame.subcode);
}

// An image opened for reading, with its name as given.
struct Image {
    std::string path;
    CollectingMessageSink sink;
    formats::ImageReader reader{sink};

    bool open(std::string& error)
    {
        if (reader.open(path, false))
            return true;
        error = stringPrintf(tr(kMsgImageNotOpened), reader.errorText().c_str(), path.c_str());
        return false;
    }
    bool readFailed(std::string& error) const
    {
        error = stringPrintf(tr(kMsgImageNotOpened), reader.errorText().c_str(), path.c_str());
        return false;
    }
};

// Frames of an image by index, a few kept (the reads of a copy move forward in small steps).
class FrameCache {
public:
    explicit FrameCache(formats::ImageReader& reader) : reader_(reader) {}
    const dat::DatFrame* get(std::uint32_t index)
    {
        Slot& s = slots_[index % slots_.size()];
        if (s.index != index) {
            if (!reader_.readFrameAt(index, s.frame)) {
                s.index = kNone;
                return nullptr;
            }
            s.index = index;
            s.condition = FrameCondition::of(s.frame);
        }
        return &s.frame;
    }
    FrameCondition condition(std::uint32_t index) const
    {
        return slots_[index % slots_.size()].condition;
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    struct Slot {
        std::uint32_t index = kNone;
        dat::DatFrame frame;
        FrameCondition condition;
    };
    formats::ImageReader& reader_;
    std::array<Slot, 8> slots_{};
};

// ABS time of the frame at `index` or of the first one after it that has one (a few frames
// at most); -1 when none.
int absNear(FrameCache& cache, std::uint32_t frames, std::uint32_t& index)
{
    for (int k = 0; k < 8 && index < frames; ++k, ++index) {
        const dat::DatFrame* f = cache.get(index);
        if (f == nullptr)
            return -1;
        const int abs = matchableAbs(f->subcode);
        if (abs >= 0)
            return abs;
    }
    return -1;
}

// The reference frame with ABS time `abs`, found by halving (a tape's ABS times rise).
std::optional<std::uint32_t> findByAbs(FrameCache& cache, std::uint32_t frames, int abs)
{
    std::uint32_t lo = 0, hi = frames;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        std::uint32_t at = mid;
        const int t = absNear(cache, frames, at);
        if (t < 0 || t >= abs)
            hi = mid;
        else
            lo = at + 1;
    }
    std::uint32_t at = lo;
    if (absNear(cache, frames, at) == abs)
        return at;
    return std::nullopt;
}

// Whether `source` is a read of the reference's tape: frames it shares with the reference by
// ABS time hold the same audio where both read a channel clean. Frames whose audio changes
// decide; silence counts only when nothing else was found.
bool sameTapeByAbs(Image& reference, Image& source)
{
    FrameCache ref(reference.reader);
    FrameCache src(source.reader);
    const std::uint32_t refFrames = reference.reader.frameCount();
    const std::uint32_t srcFrames = source.reader.frameCount();
    int agree = 0, differ = 0, weakAgree = 0, weakDiffer = 0;
    for (int p = 0; p < kProbePoints; ++p) {
        const auto start =
            static_cast<std::uint32_t>(std::uint64_t{srcFrames} * (2 * p + 1) / (2 * kProbePoints));
        for (std::uint32_t j = start; j < srcFrames && j < start + kProbeReach; ++j) {
            const dat::DatFrame* s = src.get(j);
            if (s == nullptr)
                break;
            const int abs = matchableAbs(s->subcode);
            const FrameCondition sc = src.condition(j);
            if (abs < 0 || sc.unreadable)
                continue;
            const dat::DatFrame sCopy = *s;
            const auto at = findByAbs(ref, refFrames, abs);
            if (!at)
                continue;
            const dat::DatFrame* r = ref.get(*at);
            if (r == nullptr || mainIdWord(*r) != mainIdWord(sCopy))
                continue;
            const FrameCondition rc = ref.condition(*at);
            const std::size_t pairs = audioPairs(r->subcode);
            bool compared = false, strong = false, same = true;
            if (channelsSeparable(r->subcode)) {
                for (int c : {kLeft, kRight}) {
                    if (rc.bad(c) || sc.bad(c))
                        continue;
                    compared = true;
                    strong = strong || informative(*r, c, pairs);
                    same = same && sameChannel(*r, sCopy, c, pairs);
                }
            } else if (rc.clean() && sc.clean()) {
                compared = true;
                strong = informative(*r, kLeft, pairs);
                same = r->audio == sCopy.audio;
            }
            if (!compared)
                continue;
            if (strong)
                (same ? agree : differ) += 1;
            else
                (same ? weakAgree : weakDiffer) += 1;
            if (strong)
                break; // this probe point has spoken
        }
    }
    if (agree + differ > 0)
        return agree > differ;
    return weakAgree > weakDiffer;
}

// The sequential read of a pass, matched to the reference by ABS time.
class AbsCursor {
public:
    explicit AbsCursor(Image& image) : image_(image) {}

    // The frame with ABS time `abs`, or nullptr. Asked in the reference's order; a reference
    // whose ABS time falls back starts the pass over.
    const dat::DatFrame* frameAt(int abs, std::string& error)
    {
        if (abs < 0)
            return nullptr;
        if (abs < lastAsked_) {
            if (!image_.open(error))
                return nullptr;
            valid_ = false;
            started_ = false;
        }
        lastAsked_ = abs;
        if (!started_) {
            started_ = true;
            advance();
        }
        while (valid_ && abs_ < abs)
            advance();
        return valid_ && abs_ == abs ? frame_ : nullptr;
    }
    bool failed() const { return !image_.reader.errorText().empty(); }

private:
    void advance()
    {
        frame_ = image_.reader.nextStoredFrame();
        valid_ = frame_ != nullptr;
        abs_ = valid_ ? matchableAbs(frame_->subcode) : -1;
    }

    Image& image_;
    const dat::DatFrame* frame_ = nullptr; // in the reader's buffer
    bool valid_ = false;
    bool started_ = false;
    int abs_ = -1;
    int lastAsked_ = -1;
};

// A copy matched by its audio: its stretches, and the samples of a reference frame from it.
class AudioSource {
public:
    AudioSource(Image& image, PairIndex pairs, std::vector<AudioStretch> stretches)
        : pairs_(std::move(pairs)), stretches_(std::move(stretches)), cache_(image.reader)
    {
    }

    // Fills channel `channel` of `out` with the copy's samples for reference pairs
    // [refPair, refPair + count); false unless every one lies in a stretch (one after another
    // where the copy paused or skipped inside the frame) and in a copy frame read clean in
    // that channel.
    bool fill(std::uint64_t refPair, std::size_t count, int channel, dat::DatFrame& out)
    {
        while (next_ < stretches_.size() && stretches_[next_].refEnd <= refPair)
            ++next_;
        const std::size_t at = channel == kLeft ? 0 : 2;
        std::size_t done = 0;
        while (done < count) {
            const AudioStretch* s = stretchAt(refPair + done);
            if (s == nullptr)
                return false;
            const std::int64_t from = static_cast<std::int64_t>(refPair + done) + s->offset;
            if (from < 0)
                return false;
            std::uint32_t frame = 0, offset = 0;
            if (!pairs_.locate(static_cast<std::uint64_t>(from), frame, offset))
                return false;
            const dat::DatFrame* f = cache_.get(frame);
            if (f == nullptr)
                return false;
            const FrameCondition c = cache_.condition(frame);
            if (c.bad(channel) || c.unreadable || !channelsSeparable(f->subcode))
                return false;
            const std::size_t inFrame = audioPairs(f->subcode);
            const std::size_t n =
                std::min<std::size_t>({count - done, inFrame - offset,
                                       static_cast<std::size_t>(s->refEnd - refPair - done)});
            for (std::size_t i = 0; i < n; ++i) {
                out.audio[4 * (done + i) + at] = f->audio[4 * (offset + i) + at];
                out.audio[4 * (done + i) + at + 1] = f->audio[4 * (offset + i) + at + 1];
            }
            done += n;
        }
        return true;
    }

private:
    // The stretch that holds `refPair` (the first, where stretches overlap).
    const AudioStretch* stretchAt(std::uint64_t refPair) const
    {
        for (std::size_t k = next_; k < stretches_.size() && stretches_[k].refFirst <= refPair; ++k)
            if (refPair < stretches_[k].refEnd)
                return &stretches_[k];
        return nullptr;
    }

    PairIndex pairs_;
    std::vector<AudioStretch> stretches_;
    std::size_t next_ = 0;
    FrameCache cache_;
};

// One pair of an image's audio stream: each channel's sample, if it lies in a frame read clean
// in that channel.
struct PairSample {
    bool clean[2] = {false, false};
    std::uint16_t value[2] = {0, 0};
};

PairSample pairSample(FrameCache& cache, const PairIndex& index, std::uint64_t pair)
{
    PairSample p;
    std::uint32_t frame = 0, offset = 0;
    if (!index.locate(pair, frame, offset))
        return p;
    const dat::DatFrame* f = cache.get(frame);
    if (f == nullptr || !channelsSeparable(f->subcode))
        return p;
    const FrameCondition c = cache.condition(frame);
    if (c.unreadable)
        return p;
    for (int ch : {kLeft, kRight}) {
        p.clean[ch] = !c.bad(ch);
        p.value[ch] = readLe16(&f->audio[4 * offset + 2 * static_cast<std::size_t>(ch)]);
    }
    return p;
}

// Follows a stretch beyond its outermost anchors, pair by pair, as far as both images hold the
// same samples where both read a channel clean. Pairs that cannot be compared (damage in either
// image) are passed over, but the stretch reaches across them only to a pair beyond that
// compares equal; the first pair that differs ends it, and so does either image's end.
void extendStretch(AudioStretch& s, FrameCache& ref, const PairIndex& refPairs, FrameCache& copy,
                   const PairIndex& copyPairs)
{
    // 1: equal, 0: nothing to compare, -1: differs or beyond an image.
    const auto compare = [&](std::uint64_t refPair) {
        const std::int64_t at = static_cast<std::int64_t>(refPair) + s.offset;
        if (at < 0 || static_cast<std::uint64_t>(at) >= copyPairs.totalPairs() ||
            refPair >= refPairs.totalPairs())
            return -1;
        const PairSample a = pairSample(ref, refPairs, refPair);
        const PairSample b = pairSample(copy, copyPairs, static_cast<std::uint64_t>(at));
        int result = 0;
        for (int ch : {kLeft, kRight}) {
            if (!a.clean[ch] || !b.clean[ch])
                continue;
            if (a.value[ch] != b.value[ch])
                return -1;
            result = 1;
        }
        return result;
    };
    std::uint64_t pos = s.refEnd;
    for (std::uint64_t n = 0; n < kExtensionPairs; ++n, ++pos) {
        const int c = compare(pos);
        if (c < 0)
            break;
        if (c > 0)
            s.refEnd = pos + 1;
    }
    pos = s.refFirst;
    for (std::uint64_t n = 0; n < kExtensionPairs && pos > 0; ++n) {
        --pos;
        const int c = compare(pos);
        if (c < 0)
            break;
        if (c > 0)
            s.refFirst = pos;
    }
}

dat::TimeCode absOfPair(FrameCache& cache, const PairIndex& index, std::uint64_t pair)
{
    std::uint32_t frame = 0, offset = 0;
    if (!index.locate(pair, frame, offset))
        return dat::kNoValue;
    const dat::DatFrame* f = cache.get(frame);
    return f == nullptr ? dat::kNoValue : dat::decodedAbsTime(f->subcode);
}

// The reference's file as the kernel's copy takes it: a descriptor and where its frames begin.
struct ReferenceFile {
    int fd = -1;
    std::uint64_t dataOffset = 0;
    ~ReferenceFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool open(const std::string& path, std::string& error)
    {
        formats::OpenFailure failure;
        fd = formats::openRegularFile(path, O_RDONLY, failure);
        struct stat st {};
        formats::ImageLayout layout;
        if (fd < 0 || ::fstat(fd, &st) != 0 ||
            formats::walkImageHeader(fd, static_cast<std::uint64_t>(st.st_size), layout) !=
                nullptr) {
            error = stringPrintf(tr(kMsgImageNotOpened), tr(formats::kMsgImageReadFailed),
                                 path.c_str());
            return false;
        }
        dataOffset = layout.dataOffset;
        return true;
    }
};

class Merge {
public:
    Merge(const MergeOptions& options, MergeResult& result) : options_(options), result_(result) {}

    bool run(std::string& error);

private:
    bool stopped() const
    {
        return options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed);
    }
    bool interrupted(std::string& error)
    {
        result_.interrupted = true;
        error.clear();
        return false;
    }
    void progress(MergeProgress::Phase phase, const std::string& image, std::uint32_t done,
                  std::uint32_t total) const
    {
        if (options_.progress)
            options_.progress({phase, image, done, total});
    }
    bool indexReference(std::vector<Anchor>& anchors, std::string& error);
    bool alignCopy(std::size_t k, std::vector<Anchor> referenceAnchors, std::string& error);
    bool mergeFrames(std::string& error);
    void noteFrame(std::uint32_t index, const dat::DatFrame& frame, const ChannelUse (&use)[2]);

    const MergeOptions& options_;
    MergeResult& result_;
    std::vector<std::unique_ptr<Image>> images_;
    PairIndex referencePairs_;
    std::vector<std::unique_ptr<AbsCursor>> cursors_;  // by image (AbsTime only)
    std::vector<std::unique_ptr<AudioSource>> copies_; // by image (Audio only)
};

bool Merge::run(std::string& error)
{
    result_ = MergeResult{};
    if (options_.images.size() < 2) {
        error = tr(kMsgMergeNeedsTwo);
        return false;
    }
    for (const std::string& path : options_.images) {
        auto image = std::make_unique<Image>();
        image->path = path;
        if (!image->open(error))
            return false;
        if (image->reader.frameCount() == 0) {
            error = stringPrintf(tr(kMsgImageHoldsNoFrames), path.c_str());
            return false;
        }
        MergeSource s;
        s.image = path;
        s.frames = image->reader.frameCount();
        result_.sources.push_back(s);
        images_.push_back(std::move(image));
    }
    cursors_.resize(images_.size());
    copies_.resize(images_.size());

    // Passes first: a cheap look at a few frames by ABS time.
    bool anyCopy = false;
    for (std::size_t k = 1; k < images_.size(); ++k) {
        progress(MergeProgress::Phase::Comparing, images_[k]->path, 0, 1);
        if (sameTapeByAbs(*images_[0], *images_[k])) {
            result_.sources[k].match = SourceMatch::AbsTime;
            cursors_[k] = std::make_unique<AbsCursor>(*images_[k]);
        } else {
            result_.sources[k].match = SourceMatch::Audio;
            anyCopy = true;
        }
    }
    // Copies: the reference's anchors once, then each copy against them.
    if (anyCopy) {
        std::vector<Anchor> anchors;
        if (!indexReference(anchors, error))
            return false;
        for (std::size_t k = 1; k < images_.size(); ++k)
            if (result_.sources[k].match == SourceMatch::Audio && !alignCopy(k, anchors, error))
                return false;
    }
    return mergeFrames(error);
}

bool Merge::indexReference(std::vector<Anchor>& anchors, std::string& error)
{
    Image& ref = *images_[0];
    const std::uint32_t frames = ref.reader.frameCount();
    AnchorScanner scanner;
    dat::DatFrame frame;
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (stopped())
            return interrupted(error);
        if (!ref.reader.readStoredFrame(frame))
            return ref.readFailed(error);
        const std::size_t pairs = audioPairs(frame.subcode);
        const FrameCondition c = FrameCondition::of(frame);
        scanner.feed(frame, pairs, referencePairs_.totalPairs(), usableForAnchors(frame, c),
                     anchors);
        referencePairs_.addFrame(static_cast<std::uint32_t>(pairs));
        if (i % kProgressFrames == 0)
            progress(MergeProgress::Phase::Indexing, ref.path, i, frames);
    }
    anchors.shrink_to_fit();
    return ref.open(error); // back to the first frame for the merge
}

bool Merge::alignCopy(std::size_t k, std::vector<Anchor> referenceAnchors, std::string& error)
{
    Image& copy = *images_[k];
    const std::uint32_t frames = copy.reader.frameCount();
    StretchFinder finder(std::move(referenceAnchors));
    AnchorScanner scanner;
    PairIndex pairs;
    std::vector<Anchor> found;
    dat::DatFrame frame;
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (stopped())
            return interrupted(error);
        if (!copy.reader.readStoredFrame(frame))
            return copy.readFailed(error);
        const std::size_t n = audioPairs(frame.subcode);
        found.clear();
        scanner.feed(frame, n, pairs.totalPairs(),
                     usableForAnchors(frame, FrameCondition::of(frame)), found);
        for (const Anchor& a : found)
            finder.copyAnchor(a);
        pairs.addFrame(static_cast<std::uint32_t>(n));
        if (i % kProgressFrames == 0)
            progress(MergeProgress::Phase::Aligning, copy.path, i, frames);
    }
    std::vector<AudioStretch> stretches = finder.finish();
    if (stretches.empty()) {
        error =
            stringPrintf(tr(kMsgDifferentRecordings), copy.path.c_str(), images_[0]->path.c_str());
        return false;
    }
    FrameCache refCache(images_[0]->reader);
    FrameCache copyCache(copy.reader);
    MergeSource& source = result_.sources[k];
    for (AudioStretch& s : stretches) {
        extendStretch(s, refCache, referencePairs_, copyCache, pairs);
        MergeSource::Stretch r;
        r.pairs = s;
        r.refFrom = absOfPair(refCache, referencePairs_, s.refFirst);
        r.refTo = absOfPair(refCache, referencePairs_, s.refEnd - 1);
        const auto copyPair = [&](std::uint64_t p) {
            return static_cast<std::uint64_t>(static_cast<std::int64_t>(p) + s.offset);
        };
        r.copyFrom = absOfPair(copyCache, pairs, copyPair(s.refFirst));
        r.copyTo = absOfPair(copyCache, pairs, copyPair(s.refEnd - 1));
        source.stretches.push_back(r);
    }
    copies_[k] = std::make_unique<AudioSource>(copy, std::move(pairs), std::move(stretches));
    return true;
}

void Merge::noteFrame(std::uint32_t index, const dat::DatFrame& frame, const ChannelUse (&use)[2])
{
    const dat::TimeCode abs = dat::decodedAbsTime(frame.subcode);
    auto& runs = result_.stretches;
    if (!runs.empty() && runs.back().left == use[kLeft] && runs.back().right == use[kRight] &&
        runs.back().firstFrame + runs.back().frames == index) {
        ++runs.back().frames;
        runs.back().lastAbs = abs;
    } else {
        MergeStretch s;
        s.firstFrame = index;
        s.frames = 1;
        s.firstAbs = s.lastAbs = abs;
        s.left = use[kLeft];
        s.right = use[kRight];
        runs.push_back(s);
    }
    if (use[kLeft].bad || use[kRight].bad)
        result_.stillBad.push_back({index, abs, use[kLeft].bad, use[kRight].bad});
}

bool Merge::mergeFrames(std::string& error)
{
    Image& ref = *images_[0];
    const std::uint32_t frames = ref.reader.frameCount();
    CollectingMessageSink writerSink;
    formats::ImageWriter::Limits limits;
    limits.checkInterval = formats::kImageSizeLimit;
    formats::ImageWriter writer(writerSink, limits);
    const auto writerError = [&] {
        error = writerSink.messages.empty() ? std::string(tr(formats::kMsgImageWriteFailed))
                                            : writerSink.messages.back().text;
        return false;
    };
    if (!writer.create(options_.output, ref.reader.comment()))
        return writerError();
    // Frames the merge leaves as the reference has them (most of them) are copied from its file
    // in runs, in the kernel where it can.
    ReferenceFile same;
    if (!same.open(ref.path, error))
        return false;
    std::uint32_t runFirst = 0, runFrames = 0;
    const auto flushRun = [&] {
        if (runFrames == 0)
            return true;
        const std::uint64_t at = same.dataOffset + std::uint64_t{runFirst} * dat::kFrameBytes;
        const bool ok = writer.appendCopy(same.fd, at, runFrames) == runFrames;
        runFrames = 0;
        return ok;
    };

    struct Candidate {
        bool present = false;
        bool whole = false; // a read of the same frame (a pass), not samples of a copy
        const dat::DatFrame* frame = nullptr;
        FrameCondition condition;
    };
    const std::size_t n = images_.size();
    std::vector<Candidate> cand(n);
    std::vector<dat::DatFrame> copyAudio(n);
    dat::DatFrame out;
    std::uint64_t refPair = 0;
    std::uint32_t stillBadFrames = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (stopped()) {
            flushRun();
            writer.setErrorFrameCount(stillBadFrames);
            writer.finalise(false);
            return interrupted(error);
        }
        const dat::DatFrame* read = ref.reader.nextStoredFrame();
        if (read == nullptr)
            return ref.readFailed(error);
        const dat::DatFrame& frame = *read;
        const FrameCondition rc = FrameCondition::of(frame);
        const std::size_t pairs = audioPairs(frame.subcode);
        const bool separable = channelsSeparable(frame.subcode);
        const int abs = matchableAbs(frame.subcode);

        cand[0] = {true, true, &frame, rc};
        for (std::size_t k = 1; k < n; ++k) {
            Candidate& c = cand[k];
            c = Candidate{};
            if (cursors_[k]) {
                const dat::DatFrame* f = cursors_[k]->frameAt(abs, error);
                if (f == nullptr && cursors_[k]->failed())
                    return images_[k]->readFailed(error);
                if (f != nullptr && mainIdWord(*f) == mainIdWord(frame))
                    c = {true, true, f, FrameCondition::of(*f)};
            } else if (copies_[k] && separable) {
                dat::DatFrame& a = copyAudio[k];
                const bool left = copies_[k]->fill(refPair, pairs, kLeft, a);
                const bool right = copies_[k]->fill(refPair, pairs, kRight, a);
                if (left || right) {
                    c.present = true;
                    c.frame = &a;
                    c.condition.left = !left;
                    c.condition.right = !right;
                }
            }
        }

        // Only a frame the reference read with damage can change.
        const bool mayChange = !rc.clean();
        if (mayChange)
            out = frame;
        ChannelUse use[2];
        if (separable) {
            for (int ch : {kLeft, kRight}) {
                int kept = -1;
                for (std::size_t k = 0; k < n && kept < 0; ++k)
                    if (cand[k].present && !cand[k].condition.bad(ch))
                        kept = static_cast<int>(k);
                if (kept >= 0) {
                    if (kept > 0) {
                        copyChannel(out, *cand[kept].frame, ch, pairs);
                        ++result_.channelsRecovered;
                        ++result_.sources[kept].channelsGiven;
                    }
                    use[ch] = {kept, false};
                    for (std::size_t k = static_cast<std::size_t>(kept) + 1; k < n; ++k)
                        if (cand[k].present && !cand[k].condition.bad(ch) &&
                            !sameAudio(*cand[kept].frame, *cand[k].frame, pairs) &&
                            !sameChannel(*cand[kept].frame, *cand[k].frame, ch, pairs))
                            result_.conflicts.push_back({i, dat::decodedAbsTime(frame.subcode), ch,
                                                         kept, static_cast<int>(k)});
                    continue;
                }
                // Still bad: the best of the reads of the whole frame.
                int best = 0;
                for (std::size_t k = 1; k < n; ++k)
                    if (cand[k].present && cand[k].whole &&
                        cand[k].condition.rank() < cand[best].condition.rank())
                        best = static_cast<int>(k);
                if (best > 0)
                    copyChannel(out, *cand[best].frame, ch, pairs);
                use[ch] = {best, true};
            }
        } else {
            // Long play: the 12-bit code mixes the channels; frames are taken whole.
            int best = 0;
            for (std::size_t k = 1; k < n; ++k)
                if (cand[k].present && cand[k].whole &&
                    cand[k].condition.rank() < cand[best].condition.rank())
                    best = static_cast<int>(k);
            const bool clean = cand[best].condition.clean();
            if (best > 0) {
                out.audio = cand[best].frame->audio;
                if (clean) {
                    result_.channelsRecovered += (rc.left ? 1 : 0) + (rc.right ? 1 : 0);
                    result_.sources[best].channelsGiven += (rc.left ? 1 : 0) + (rc.right ? 1 : 0);
                }
            }
            use[kLeft] = {best, cand[best].condition.left};
            use[kRight] = {best, cand[best].condition.right};
            if (clean)
                for (std::size_t k = static_cast<std::size_t>(best) + 1; k < n; ++k)
                    if (cand[k].present && cand[k].whole && cand[k].condition.clean() &&
                        cand[k].frame->audio != cand[best].frame->audio)
                        for (int ch : {kLeft, kRight})
                            result_.conflicts.push_back({i, dat::decodedAbsTime(frame.subcode), ch,
                                                         best, static_cast<int>(k)});
        }
        // A stand-in for a frame the reference could not read carries a made-up subcode; a
        // pass that read the frame knows the real one.
        if (rc.unreadable)
            for (std::size_t k = 1; k < n; ++k)
                if (cand[k].present && cand[k].whole && !cand[k].condition.unreadable) {
                    out.subcode = cand[k].frame->subcode;
                    break;
                }
        if (mayChange)
            setInterpolationFlags(out, use[kLeft].bad, use[kRight].bad);
        if (!mayChange || std::memcmp(out.data(), frame.data(), dat::kFrameBytes) == 0) {
            if (runFrames == 0)
                runFirst = i;
            ++runFrames;
        } else if (!flushRun() || writer.append(out) != dat::kFrameBytes) {
            return writerError();
        }

        if (!rc.clean()) {
            ++result_.badBefore;
            if (!use[kLeft].bad && !use[kRight].bad)
                ++result_.recovered;
        }
        if (use[kLeft].bad || use[kRight].bad)
            ++stillBadFrames;
        noteFrame(i, out, use);
        refPair += pairs;
        ++result_.frames;
        if (i % kProgressFrames == 0)
            progress(MergeProgress::Phase::Merging, ref.path, i, frames);
    }
    if (!flushRun())
        return writerError();
    progress(MergeProgress::Phase::Merging, ref.path, frames, frames);
    writer.setErrorFrameCount(stillBadFrames);
    // On the disk before the caller gives it its name.
    if (!writer.finalise(true) || !writer.finalise(false))
        return writerError();
    return true;
}

} // namespace

bool mergeImages(const MergeOptions& options, MergeResult& result, std::string& error)
{
    Merge merge(options, result);
    return merge.run(error);
}

} // namespace tarnvel::recovery
