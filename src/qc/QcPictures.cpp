#include "qc/QcPictures.h"

#include "formats/StringPrintf.h"

#include <algorithm>
#include <array>
#include <cairo.h>
#include <cmath>

namespace tarnvel::qc {

using formats::stringPrintf;

namespace {

constexpr std::uint32_t kBackground = 0xFFFFFF;
constexpr std::uint32_t kMarkerRow = 0xF0F0F0;
constexpr std::uint32_t kGrid = 0xE2E2E2;
constexpr std::uint32_t kCentre = 0xB8B8B8;

void setColour(cairo_t* cr, std::uint32_t rgb, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                          (rgb & 0xFF) / 255.0, alpha);
}

void fillRect(cairo_t* cr, double x, double y, double w, double h, std::uint32_t rgb,
              double alpha = 1.0)
{
    setColour(cr, rgb, alpha);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// Owns a surface and its context; writes the PNG.
class Canvas {
public:
    Canvas(int width, int height)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
          cr_(cairo_create(surface_))
    {
        cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    }
    ~Canvas()
    {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return cr_; }
    cairo_surface_t* surface() const { return surface_; }
    bool ok(std::string& error) const
    {
        if (cairo_status(cr_) == CAIRO_STATUS_SUCCESS)
            return true;
        error = cairo_status_to_string(cairo_status(cr_));
        return false;
    }
    bool save(const std::string& path, std::string& error) const
    {
        cairo_surface_flush(surface_);
        const cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
        if (status == CAIRO_STATUS_SUCCESS)
            return true;
        error = path + ": " + cairo_status_to_string(status);
        return false;
    }

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

// The picture rows a span of the lane covers for a sample value (1.0 at the top).
double laneY(double value, double top, double height)
{
    if (!std::isfinite(value))
        value = 0;
    value = std::clamp(value, -1.0, 1.0);
    return top + (1.0 - value) * height / 2.0;
}

std::string secondsLabel(long long seconds)
{
    const long long s = seconds < 0 ? -seconds : seconds;
    return stringPrintf("%s%02lldh%02lldm%02llds", seconds < 0 ? "-" : "", s / 3600, s / 60 % 60,
                        s % 60);
}

// A dark-to-bright colour scale for the spectrogram (perceptually ordered: dark purple, red,
// orange, pale yellow), 0..1.
std::uint32_t heat(double v)
{
    static constexpr std::array<std::array<double, 4>, 6> kStops = {{
        {0.00, 0, 0, 4},
        {0.25, 66, 10, 104},
        {0.50, 147, 38, 103},
        {0.75, 221, 81, 58},
        {0.90, 252, 165, 10},
        {1.00, 252, 255, 164},
    }};
    v = std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 1.0);
    std::size_t i = 1;
    while (i + 1 < kStops.size() && v > kStops[i][0])
        ++i;
    const auto& a = kStops[i - 1];
    const auto& b = kStops[i];
    const double t = (v - a[0]) / (b[0] - a[0]);
    const auto mix = [t](double x, double y) {
        return static_cast<std::uint32_t>(std::lround(x + (y - x) * t));
    };
    return mix(a[1], b[1]) << 16 | mix(a[2], b[2]) << 8 | mix(a[3], b[3]);
}

} // namespace

std::vector<Tick> timeTicks(const FileTimeline& timeline, int wanted)
{
    std::vector<Tick> ticks;
    if (timeline.frames == 0 || wanted < 1)
        return ticks;
    static constexpr int kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200};
    const double seconds = timeline.frames * 3.0 / dat::kFramesPer3Seconds;
    int step = kSteps[std::size(kSteps) - 1];
    for (int s : kSteps) {
        if (seconds / s <= wanted) {
            step = s;
            break;
        }
    }
    const double first = timeline.startAbs * 3.0 / dat::kFramesPer3Seconds;
    const double last = first + seconds;
    for (auto t = static_cast<long long>(std::ceil(first / step)) * step; t <= last; t += step) {
        const double abs = static_cast<double>(t) * dat::kFramesPer3Seconds / 3.0;
        ticks.push_back({(abs - timeline.startAbs) / timeline.frames, secondsLabel(t)});
    }
    return ticks;
}

std::vector<Tick> frequencyTicks(double nyquist, int wanted)
{
    std::vector<Tick> ticks;
    if (!(nyquist > 0) || wanted < 1)
        return ticks;
    static constexpr double kSteps[] = {500, 1000, 2000, 5000, 10000, 20000, 50000, 100000};
    double step = kSteps[std::size(kSteps) - 1];
    for (double s : kSteps) {
        if (std::floor(nyquist / s) <= wanted) {
            step = s;
            break;
        }
    }
    for (double f = step; f < nyquist; f += step)
        ticks.push_back({f / nyquist, step < 1000 ? stringPrintf("%.1f kHz", f / 1000)
                                                  : stringPrintf("%.0f kHz", f / 1000)});
    return ticks;
}

std::uint32_t channelColour(int channel, int channels)
{
    static constexpr std::uint32_t kOthers[] = {0x1F5FBF, 0xC0392B, 0x2E8B57, 0x8E44AD,
                                                0xB7950B, 0x17A2B8, 0x6D4C41, 0x546E7A};
    (void)channels;
    return kOthers[static_cast<std::size_t>(channel) % std::size(kOthers)];
}

std::uint32_t channelTint(int channel, int channels)
{
    // Halfway to white: the waveform, under the saturated error marks.
    const std::uint32_t c = channelColour(channel, channels);
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const std::uint32_t v = (c >> shift) & 0xFF;
        out |= ((v + 255) / 2) << shift;
    }
    return out;
}

int WaveLayout::column(double fraction) const
{
    return std::clamp(static_cast<int>(std::floor(fraction * width)), 0, width - 1);
}

bool drawWaveform(const std::string& pngPath, const WaveOverview& overview,
                  const ArchivedFile& file, const FileTimeline& timeline,
                  const std::vector<Tick>& ticks, const WaveLayout& layout, std::string& error)
{
    const int channels = std::max(1, overview.channels);
    const int width = layout.width;
    Canvas canvas(width, layout.height(channels));
    cairo_t* cr = canvas.cr();
    fillRect(cr, 0, 0, width, layout.height(channels), kBackground);

    for (int c = 0; c < channels; ++c) {
        const double top = layout.laneTop(c);
        fillRect(cr, 0, layout.markerTop(c), width, layout.markerRow, kMarkerRow);
        for (const Tick& t : ticks)
            fillRect(cr, layout.column(t.at), top, 1, layout.lane, kGrid);
        fillRect(cr, 0, top + layout.lane / 2, width, 1, kCentre);
        // Each overview column over the picture columns it spans, at least one row high.
        setColour(cr, channelTint(c, channels));
        for (int k = 0; k < overview.columns; ++k) {
            const auto i =
                static_cast<std::size_t>(k) * static_cast<std::size_t>(overview.channels) +
                static_cast<std::size_t>(c);
            if (i >= overview.maximum.size())
                break;
            const int x0 = k * width / overview.columns;
            const int x1 = std::max(x0 + 1, (k + 1) * width / overview.columns);
            const double y0 = std::floor(laneY(overview.maximum[i], top, layout.lane));
            const double y1 = std::ceil(laneY(overview.minimum[i], top, layout.lane));
            cairo_rectangle(cr, x0, y0, x1 - x0, std::max(1.0, y1 - y0));
        }
        cairo_fill(cr);
    }

    // IDs across every lane.
    for (const IdMark& id : file.ids) {
        const int x = layout.column(timeline.fractionOfAbs(id.abs));
        fillRect(cr, std::min(x, width - 2), 0, 2, layout.height(channels),
                 id.pNo == dat::kPNoSkip ? kSkipIdColour : kStartIdColour);
    }
    // Error frames: the marker row in full colour, a shade over the lane.
    for (const ErrorMark& e : file.errors) {
        const double from = timeline.fractionOfAbs(e.abs);
        const double to = timeline.fractionOfAbs(e.abs + 1.0);
        const int x0 = std::min(layout.column(from), width - 2);
        const int x1 = std::max(x0 + 2, static_cast<int>(std::ceil(to * width)));
        for (int c = 0; c < 2; ++c) {
            if (!(c == 0 ? e.left : e.right))
                continue;
            const int lane = std::min(c, channels - 1);
            const std::uint32_t colour = channelColour(lane, channels);
            fillRect(cr, x0, layout.markerTop(lane), x1 - x0, layout.markerRow, colour);
            fillRect(cr, x0, layout.laneTop(lane), x1 - x0, layout.lane, colour, 0.45);
        }
    }
    return canvas.ok(error) && canvas.save(pngPath, error);
}

bool drawSpectrogram(const std::string& pngPath, const Spectrogram& spectrogram,
                     const std::vector<Tick>& timeTicks, const std::vector<Tick>& frequencyTicks,
                     const SpectrumLayout& layout, std::string& error)
{
    const int width = layout.width;
    const int height = layout.height;
    Canvas canvas(width, height);
    cairo_surface_t* surface = canvas.surface();
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    if (data == nullptr || !canvas.ok(error)) {
        if (error.empty())
            error = "no memory for the picture";
        return false;
    }

    // The bins each row covers (the highest frequency at the top); a row shows the loudest.
    const int bins = spectrogram.bins;
    const double nyquist = spectrogram.binHz * (bins - 1);
    std::vector<std::pair<int, int>> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const double hi = nyquist * (1.0 - static_cast<double>(y) / height);
        const double lo = nyquist * (1.0 - static_cast<double>(y + 1) / height);
        const int b0 = std::clamp(static_cast<int>(std::ceil(lo / spectrogram.binHz)), 0, bins - 1);
        const int b1 =
            std::clamp(static_cast<int>(std::floor(hi / spectrogram.binHz)), b0, bins - 1);
        rows[static_cast<std::size_t>(y)] = {b0, b1};
    }
    const double span = layout.topDb - layout.floorDb;
    for (int x = 0; x < width; ++x) {
        const int column = spectrogram.columns > 0 ? x * spectrogram.columns / width : -1;
        for (int y = 0; y < height; ++y) {
            double level = layout.floorDb;
            if (column >= 0 && bins > 0) {
                const auto [b0, b1] = rows[static_cast<std::size_t>(y)];
                const float* col = spectrogram.level.data() + static_cast<std::size_t>(column) *
                                                                  static_cast<std::size_t>(bins);
                for (int b = b0; b <= b1; ++b)
                    level = std::max(level, static_cast<double>(col[b]));
            }
            auto* pixel =
                reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride) +
                x;
            *pixel = heat((level - layout.floorDb) / span);
        }
    }
    cairo_surface_mark_dirty(surface);

    cairo_t* cr = canvas.cr();
    for (const Tick& t : timeTicks)
        fillRect(cr, std::clamp(static_cast<int>(t.at * width), 0, width - 1), 0, 1, height,
                 0xFFFFFF, 0.25);
    for (const Tick& t : frequencyTicks)
        fillRect(cr, 0, std::clamp(static_cast<int>((1.0 - t.at) * height), 0, height - 1), width,
                 1, 0xFFFFFF, 0.25);
    return canvas.ok(error) && canvas.save(pngPath, error);
}

} // namespace tarnvel::qc
