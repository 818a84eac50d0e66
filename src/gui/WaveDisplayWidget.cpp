#include "gui/WaveDisplayWidget.h"

#include "gui/Colours.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace tarnvel::gui {

WaveDisplayWidget::WaveDisplayWidget(const app::Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings)
{
    setObjectName("PaintBox1");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void WaveDisplayWidget::configure()
{
    app::WaveDisplaySettings s;
    s.xMag = settings_.WaveXDispMagRate;
    s.yMag = settings_.WaveYDispMagRate;
    s.xyDispType = settings_.XY_DispType;
    s.bezier = settings_.LissajousBezier;
    display_.configure(width(), height(), display_.pairsPerBlock(), display_.sampleRate(), s);
}

void WaveDisplayWidget::relayout()
{
    configure();
    update();
}

void WaveDisplayWidget::resizeEvent(QResizeEvent*)
{
    configure();
}

void WaveDisplayWidget::showLastBlock()
{
    const app::WavePicture& p = display_.picture();
    if (shown_.xy.empty() || (shown_.left == p.left && shown_.right == p.right))
        return;
    shown_.left = p.left;
    shown_.right = p.right;
    update();
}

void WaveDisplayWidget::clear()
{
    shown_ = {};
    update();
}

void WaveDisplayWidget::refresh(const app::DisplaySamples& block, bool running, bool drawWaveform)
{
    if (!display_.refresh(block, running))
        return;
    const app::WavePicture& p = display_.picture();
    if (drawWaveform) {
        shown_.left = p.left;
        shown_.right = p.right;
        ++stripRefreshes_;
    }
    shown_.xy = p.xy;
    shown_.xyAsBezier = p.xyAsBezier;
    update();
}

void WaveDisplayWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    const auto colour = [&](std::int32_t setting) { return settingColour(setting, pal); };
    p.fillRect(rect(), colour(settings_.WaveBackColor));
    const app::WaveLayout& l = display_.layout();
    if (!l.drawable)
        return;
    // Labels in a font that fits the room left of the strips ("-10000").
    QFont small = font();
    small.setPixelSize(std::max(8, fontMetrics().height() - 4));
    while (small.pixelSize() > 7 &&
           QFontMetrics(small).horizontalAdvance(QStringLiteral("-10000")) > l.stripLeft - 3)
        small.setPixelSize(small.pixelSize() - 1);
    p.setFont(small);
    const QFontMetrics fm(small);
    const QPen line(colour(settings_.WaveLineColor), 1.0);

    const app::TimeScale& ts = display_.timeScale();
    for (int ch = 0; ch < 2; ++ch) {
        const int top = ch == 0 ? l.firstStripTop : l.secondStripTop;
        const QRect strip(l.stripLeft, top, l.stripWidth, l.stripHeight);
        p.fillRect(strip, colour(settings_.WaveDiagramBackColor));
        // Time grid with its millisecond labels under the strip.
        p.setPen(colour(settings_.WaveScaleColor));
        for (const app::ScaleLine& g : ts.lines)
            p.drawLine(strip.left() + g.pos, strip.top(), strip.left() + g.pos, strip.bottom());
        const app::AmplitudeScale as = display_.amplitudeScale(ch);
        for (const app::ScaleLine* a : {&as.zero, &as.upper, &as.lower})
            p.drawLine(strip.left(), top + a->pos, strip.right(), top + a->pos);
        p.setPen(colour(settings_.WaveFrameColor));
        p.drawRect(strip.adjusted(-1, -1, 0, 0));
        p.setPen(colour(settings_.WaveCharColor));
        for (const app::ScaleLine* a : {&as.zero, &as.upper, &as.lower}) {
            const QString label = QString::fromStdString(a->label);
            p.drawText(QPoint(strip.left() - fm.horizontalAdvance(label) - 3,
                              top + a->pos + fm.ascent() / 2 - 1),
                       label);
        }
        for (const app::ScaleLine& g : ts.lines) {
            const QString label = QString::fromStdString(g.label);
            p.drawText(QPoint(strip.left() + g.pos - fm.horizontalAdvance(label) / 2,
                              strip.bottom() + fm.ascent() + 1),
                       label);
        }
        p.drawText(QPoint(strip.right() + 3, strip.bottom() + fm.ascent() + 1),
                   QString::fromStdString(ts.unit.label));

        const std::vector<app::Point>& pts = ch == 0 ? shown_.left : shown_.right;
        if (pts.size() > 1) {
            p.save();
            p.setClipRect(strip);
            p.translate(strip.topLeft());
            p.setPen(line);
            std::vector<QPoint> poly;
            poly.reserve(pts.size());
            for (const app::Point& pt : pts)
                poly.emplace_back(pt.x, pt.y);
            p.drawPolyline(poly.data(), static_cast<int>(poly.size()));
            p.restore();
        }
    }

    const QRect xy(l.xyLeft, l.xyTop, l.xySize, l.xySize);
    p.fillRect(xy, colour(settings_.WaveDiagramBackColor));
    p.setPen(colour(settings_.WaveScaleColor));
    p.drawLine(xy.center().x(), xy.top(), xy.center().x(), xy.bottom());
    p.drawLine(xy.left(), xy.center().y(), xy.right(), xy.center().y());
    p.setPen(colour(settings_.WaveFrameColor));
    p.drawRect(xy.adjusted(-1, -1, 0, 0));
    if (!shown_.xy.empty()) {
        p.save();
        p.setClipRect(xy);
        p.translate(xy.topLeft());
        p.setPen(line);
        p.setRenderHint(QPainter::Antialiasing, shown_.xyAsBezier);
        const app::Point& first = shown_.xy.front();
        if (std::all_of(shown_.xy.begin(), shown_.xy.end(),
                        [&](const app::Point& pt) { return pt == first; })) {
            // Digital silence: a line of no length draws nothing, the dot at the centre shows.
            p.drawPoint(first.x, first.y);
        } else if (shown_.xyAsBezier) {
            QPainterPath path(QPointF(shown_.xy[0].x, shown_.xy[0].y));
            for (std::size_t i = 1; i + 2 < shown_.xy.size(); i += 3)
                path.cubicTo(shown_.xy[i].x, shown_.xy[i].y, shown_.xy[i + 1].x, shown_.xy[i + 1].y,
                             shown_.xy[i + 2].x, shown_.xy[i + 2].y);
            p.drawPath(path);
        } else {
            std::vector<QPoint> poly;
            poly.reserve(shown_.xy.size());
            for (const app::Point& pt : shown_.xy)
                poly.emplace_back(pt.x, pt.y);
            p.drawPolyline(poly.data(), static_cast<int>(poly.size()));
        }
        p.restore();
    }
}

} // namespace tarnvel::gui
