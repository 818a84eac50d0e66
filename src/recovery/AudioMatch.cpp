#include "recovery/AudioMatch.h"

#include "common/ByteOrder.h"

#include <algorithm>

namespace tarnvel::recovery {

namespace {

constexpr std::uint64_t kBase = 0x100000001B3ull; // odd: the powers never vanish mod 2^64

constexpr std::uint64_t power(std::uint64_t b, std::size_t n)
{
    std::uint64_t r = 1;
    for (std::size_t i = 0; i < n; ++i)
        r *= b;
    return r;
}
constexpr std::uint64_t kBaseToWindow = power(kBase, AnchorScanner::kWindow);

std::uint64_t finalMix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    return x ^ (x >> 33);
}

} // namespace

// ---- PairIndex -------------------------------------------------------------------------------

void PairIndex::addFrame(std::uint32_t pairs)
{
    if (runs_.empty() || runs_.back().pairs != pairs)
        runs_.push_back({frames_, total_, pairs});
    ++frames_;
    total_ += pairs;
}

std::uint64_t PairIndex::pairOf(std::uint32_t frame) const
{
    if (frame >= frames_)
        return total_;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), frame,
                               [](std::uint32_t f, const Run& r) { return f < r.firstFrame; });
    --it;
    return it->firstPair + std::uint64_t{frame - it->firstFrame} * it->pairs;
}

bool PairIndex::locate(std::uint64_t pair, std::uint32_t& frame, std::uint32_t& offset) const
{
    if (pair >= total_)
        return false;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), pair,
                               [](std::uint64_t p, const Run& r) { return p < r.firstPair; });
    --it;
    const std::uint64_t into = pair - it->firstPair;
    frame = it->firstFrame + static_cast<std::uint32_t>(into / it->pairs);
    offset = static_cast<std::uint32_t>(into % it->pairs);
    return true;
}

// ---- AnchorScanner ---------------------------------------------------------------------------

void AnchorScanner::feed(const dat::DatFrame& frame, std::size_t pairs, std::uint64_t firstPair,
                         bool usable, std::vector<Anchor>& out)
{
    if (!usable) {
        reset();
        return;
    }
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint32_t v = readLe32(&frame.audio[4 * i]);
        const std::uint8_t changed = filled_ > 0 && v != last_ ? 1 : 0;
        last_ = v;
        if (filled_ < kWindow) {
            const std::size_t slot = (head_ + filled_) % kWindow;
            values_[slot] = v;
            changed_[slot] = changed;
            hash_ = hash_ * kBase + v;
            changes_ += changed;
            ++filled_;
        } else {
            // The oldest pair leaves, the new one comes in.
            hash_ = hash_ * kBase + v - kBaseToWindow * values_[head_];
            changes_ = changes_ - changed_[head_] + changed;
            values_[head_] = v;
            changed_[head_] = changed;
            head_ = (head_ + 1) % kWindow;
        }
        if (filled_ == kWindow && changes_ >= kWindow / 2) {
            const std::uint64_t key = finalMix(hash_);
            if (key % kAnchorSpacing == 0)
                out.push_back({key, firstPair + i + 1 - kWindow});
        }
    }
}

// ---- StretchFinder ---------------------------------------------------------------------------

StretchFinder::StretchFinder(std::vector<Anchor> reference) : reference_(std::move(reference))
{
    std::sort(reference_.begin(), reference_.end(), [](const Anchor& a, const Anchor& b) {
        return a.key != b.key ? a.key < b.key : a.pair < b.pair;
    });
}

void StretchFinder::copyAnchor(const Anchor& anchor)
{
    const auto range =
        std::equal_range(reference_.begin(), reference_.end(), anchor,
                         [](const Anchor& a, const Anchor& b) { return a.key < b.key; });
    const auto count = static_cast<std::size_t>(range.second - range.first);
    if (count == 0 || count > kMaxRepeats)
        return;
    candidates_.clear();
    for (auto it = range.first; it != range.second; ++it)
        candidates_.push_back(
            {static_cast<std::int64_t>(anchor.pair) - static_cast<std::int64_t>(it->pair),
             it->pair});
    const auto with = [&](std::int64_t offset) -> const Candidate* {
        for (const Candidate& c : candidates_)
            if (c.offset == offset)
                return &c;
        return nullptr;
    };
    const auto grow = [](AudioStretch& s, std::uint64_t refPair) {
        s.refFirst = std::min(s.refFirst, refPair);
        s.refEnd = std::max(s.refEnd, refPair + AnchorScanner::kWindow);
        ++s.anchors;
    };
    if (haveCurrent_) {
        if (const Candidate* c = with(current_.offset)) {
            grow(current_, c->refPair);
            haveTentative_ = false;
            return;
        }
    }
    if (haveTentative_) {
        if (const Candidate* c = with(tentative_.offset)) {
            // Two anchors agree: the copy's offset has changed here.
            if (haveCurrent_)
                found_.push_back(current_);
            current_ = tentative_;
            grow(current_, c->refPair);
            haveCurrent_ = true;
            haveTentative_ = false;
            return;
        }
    }
    if (candidates_.size() == 1) {
        tentative_ = {candidates_[0].refPair, candidates_[0].refPair + AnchorScanner::kWindow,
                      candidates_[0].offset, 1};
        haveTentative_ = true;
    }
}

std::vector<AudioStretch> StretchFinder::finish()
{
    if (haveCurrent_)
        found_.push_back(current_);
    haveCurrent_ = haveTentative_ = false;
    std::sort(found_.begin(), found_.end(),
              [](const AudioStretch& a, const AudioStretch& b) { return a.refFirst < b.refFirst; });
    std::vector<AudioStretch> merged;
    for (const AudioStretch& s : found_) {
        if (!merged.empty() && merged.back().offset == s.offset &&
            s.refFirst <= merged.back().refEnd) {
            merged.back().refEnd = std::max(merged.back().refEnd, s.refEnd);
            merged.back().anchors += s.anchors;
        } else {
            merged.push_back(s);
        }
    }
    found_.clear();
    return merged;
}

} // namespace tarnvel::recovery
