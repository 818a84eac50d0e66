#include "app/WaveDisplay.h"

#include "app/AppMessages.h"

#include <algorithm>

namespace tarnvel::app {

namespace {

// Room for the amplitude labels left of the strips and above the first one.
constexpr int kStripLeft = 36;
constexpr int kFirstStripTop = 11;
constexpr int kXyTop = 1;
constexpr int kMaxGridLines = 21;

int amplitudeUnit(int yMag)
{
    return 32768 / std::clamp(yMag, 1, 32768);
}

} // namespace

WaveLayout computeWaveLayout(int clientWidth, int availableHeight)
{
    WaveLayout l;
    l.drawable = availableHeight >= 10 && clientWidth > 0;
    const int part = clientWidth * 690 / 1000;
    l.stripLeft = kStripLeft;
    l.stripWidth = std::max(1, part - 46);
    const int h = std::max(1, (availableHeight - 44) / 2);
    l.stripHeight = 2 * (h / 2) + 1;
    l.firstStripTop = kFirstStripTop;
    l.secondStripTop = l.stripHeight + 33;
    l.xyLeft = part + 20;
    l.xyTop = kXyTop;
    l.xySize = std::max(1, std::min(clientWidth - l.xyLeft - 15, availableHeight - 2));
    return l;
}

void WaveColumnMap::build(int stripWidth, int pairsPerBlock, int xMag)
{
    const int width = std::max(1, stripWidth);
    const int n = std::max(0, pairsPerBlock) / std::max(1, xMag);
    const long long denominator = n > 1 ? n - 1 : 1;
    column_.assign(static_cast<std::size_t>(n), 0);
    runLength_.assign(static_cast<std::size_t>(width), 0);
    for (int i = 0; i < n; ++i) {
        const int x =
            static_cast<int>(std::min<long long>((width - 1LL) * i / denominator, width - 1));
        column_[static_cast<std::size_t>(i)] = x;
        ++runLength_[static_cast<std::size_t>(x)];
    }
}

TimeScale computeTimeScale(int pairsPerBlock, int sampleRate, int xMag, int stripWidth)
{
    TimeScale t;
    t.unit = {stripWidth, tr(msg::kWaveMs)};
    if (sampleRate <= 0 || pairsPerBlock < 0)
        return t;
    t.span = static_cast<int>((pairsPerBlock + 1LL) * 100000 /
                              (static_cast<long long>(sampleRate) * std::max(1, xMag)));
    static constexpr struct {
        int below;
        int step;
    } kSteps[] = {{2000, 200},   {5000, 500},     {10000, 1000},  {20000, 2000},
                  {50000, 5000}, {100000, 10000}, {200000, 20000}};
    t.step = 50000;
    if (t.span <= 1000) {
        t.step = 100;
    } else {
        for (const auto& s : kSteps) {
            if (t.span < s.below) {
                t.step = s.step;
                break;
            }
        }
    }
    if (t.span <= 0)
        return t;
    for (int k = 1; t.step * k < t.span && k <= kMaxGridLines; ++k) {
        const long long at = static_cast<long long>(t.step) * k;
        t.lines.push_back({static_cast<int>(at * stripWidth / t.span), std::to_string(at / 100)});
    }
    return t;
}

AmplitudeScale computeAmplitudeScale(int stripHeight, int yMag, int channel)
{
    AmplitudeScale s;
    const int mid = stripHeight / 2;
    const int offset = static_cast<int>(static_cast<long long>(mid) * 30000 / 32768);
    const int mag = std::max(1, yMag);
    s.zero = {mid, tr(channel == 0 ? msg::kWaveLeftZero : msg::kWaveRightZero)};
    s.upper = {mid - offset, std::to_string(30000 / mag)};
    s.lower = {mid + offset, std::to_string(-30000 / mag)};
    return s;
}

int findTrigger(const std::int16_t* left, int count)
{
    const int last = std::min(kTriggerSearch, count - 1);
    for (int i = 1; i < last; ++i) {
        const int before = left[i - 1];
        const int at = left[i];
        const int after = left[i + 1];
        if (before < -10 && before < at && at < after && after > 10)
            return i;
    }
    return 0;
}

int waveY(int sample, int stripHeight, int yMag)
{
    const long long a = amplitudeUnit(yMag);
    return static_cast<int>(-(static_cast<long long>(sample) * stripHeight + a) / (2 * a)) +
           stripHeight / 2;
}

void waveformPoints(const std::int16_t* samples, int count, const WaveColumnMap& map,
                    int stripHeight, int yMag, std::vector<Point>& out)
{
    out.clear();
    const int n = std::min(count, map.samplesShown());
    int i = 0;
    while (i < n && static_cast<int>(out.size()) + 4 <= kMaxDrawPoints) {
        const int x = map.column(i);
        const std::size_t first = out.size();
        int inRun = 0;
        int lowest = 0;
        int highest = 0;
        for (; i < n && map.column(i) == x; ++i, ++inRun) {
            const int y = waveY(samples[i], stripHeight, yMag);
            lowest = inRun == 0 ? y : std::min(lowest, y);
            highest = inRun == 0 ? y : std::max(highest, y);
            if (inRun < 4) {
                out.push_back({x, y});
            } else {
                // Envelope of a long run: first sample, smallest y, largest y, last sample.
                out[first + 1].y = lowest;
                out[first + 2].y = highest;
                out[first + 3].y = y;
            }
        }
    }
}

int xyPairCount(int pairsInBlock, int knownBlockPairs)
{
    const int p = knownBlockPairs > 0 ? knownBlockPairs + 3 : 1000;
    return std::max(0, std::min(p, pairsInBlock));
}

int bezierPointCount(int pairs)
{
    const int p = std::min(pairs, kMaxDrawPoints);
    return p < 1 ? 0 : 3 * ((p - 1) / 3) + 1;
}

void xyPoints(const std::int16_t* left, const std::int16_t* right, int pairs, int size,
              int xyDispType, int yMag, std::vector<Point>& out)
{
    out.clear();
    const long long a2 = 2LL * amplitudeUnit(yMag);
    const int count = bezierPointCount(pairs);
    const bool rotated = xyDispType == 0;
    const long long verticalCentre = rotated ? size : size / 2;
    for (int i = 0; i < count; ++i) {
        const long long l = left[i];
        const long long r = right[i];
        const long long vertical = rotated ? (l + r) / 2 : l;
        const long long horizontal = rotated ? (r - l) / 2 : r;
        out.push_back({static_cast<int>(horizontal * size / a2 + size / 2),
                       static_cast<int>(-vertical * size / a2 + verticalCentre)});
    }
}

void WaveDisplay::configure(int clientWidth, int availableHeight, int pairsPerBlock, int sampleRate,
                            const WaveDisplaySettings& settings)
{
    settings_ = settings;
    settings_.xMag = std::clamp(settings.xMag, 1, 20);
    settings_.yMag = std::clamp(settings.yMag, 1, 20);
    pairsPerBlock_ = pairsPerBlock;
    sampleRate_ = sampleRate;
    layout_ = computeWaveLayout(clientWidth, availableHeight);
    buildScales();
    const auto reserve = static_cast<std::size_t>(std::min(kMaxDrawPoints, 4 * layout_.stripWidth));
    picture_.left.reserve(reserve);
    picture_.right.reserve(reserve);
    picture_.xy.reserve(
        static_cast<std::size_t>(bezierPointCount(static_cast<int>(kMaxDisplayPairs))));
}

void WaveDisplay::buildScales()
{
    map_.build(layout_.stripWidth, pairsPerBlock_, settings_.xMag);
    timeScale_ = computeTimeScale(pairsPerBlock_, sampleRate_, settings_.xMag, layout_.stripWidth);
}

AmplitudeScale WaveDisplay::amplitudeScale(int channel) const
{
    return computeAmplitudeScale(layout_.stripHeight, settings_.yMag, channel);
}

bool WaveDisplay::refresh(const DisplaySamples& block, bool running, int knownBlockPairs)
{
    picture_.left.clear();
    picture_.right.clear();
    picture_.xy.clear();
    picture_.xyAsBezier = settings_.bezier;
    const int pairs = std::clamp(block.pairs, 0, static_cast<int>(kMaxDisplayPairs));
    if (!layout_.drawable || pairs == 0)
        return false;
    // The rate of the block shown, not of the sound output: a recording from a 44.1 kHz file
    // shows 30 ms per frame while the output was last opened at 48 kHz.
    const int rate = block.sampleRate > 0 ? block.sampleRate : sampleRate_;
    if (pairs != pairsPerBlock_ || rate != sampleRate_) {
        pairsPerBlock_ = pairs;
        sampleRate_ = rate;
        buildScales();
    }

    const int start = running && settings_.xMag > 1 ? findTrigger(block.left.data(), pairs) : 0;
    waveformPoints(block.left.data() + start, pairs - start, map_, layout_.stripHeight,
                   settings_.yMag, picture_.left);
    waveformPoints(block.right.data() + start, pairs - start, map_, layout_.stripHeight,
                   settings_.yMag, picture_.right);
    xyPoints(block.left.data(), block.right.data(), xyPairCount(pairs, knownBlockPairs),
             layout_.xySize, settings_.xyDispType, settings_.yMag, picture_.xy);
    return true;
}

} // namespace tarnvel::app
