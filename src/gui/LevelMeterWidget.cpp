#include "gui/LevelMeterWidget.h"

#include "gui/Colours.h"

#include <QPainter>

namespace tarnvel::gui {

LevelMeterWidget::LevelMeterWidget(const app::LevelMeter& meter, const app::Settings& settings,
                                   QWidget* parent)
    : QWidget(parent), meter_(meter), settings_(settings)
{
    setObjectName("LevelMeterPaintBox");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize LevelMeterWidget::sizeHint() const
{
    const int line = fontMetrics().height();
    return {360, 2 * line + line + 10};
}

QSize LevelMeterWidget::minimumSizeHint() const
{
    return {160, sizeHint().height()};
}

int LevelMeterWidget::leftMargin() const
{
    return fontMetrics().horizontalAdvance(QStringLiteral("LL"));
}

int LevelMeterWidget::usableWidth() const
{
    // Room at the right for the end of the "0dB" label.
    return std::max(1, width() - leftMargin() -
                           fontMetrics().horizontalAdvance(QStringLiteral("0dB")) / 2 - 4);
}

void LevelMeterWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    const auto colour = [&](std::int32_t setting) { return settingColour(setting, pal); };
    const int left = leftMargin();
    const int usable = usableWidth();
    const int line = fontMetrics().height();
    const int barHeight = std::max(4, (height() - line - 8) / 2);

    p.fillRect(rect(), colour(settings_.LevMeterBackColor));
    p.setPen(colour(settings_.LevMeterFrameColor));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    // Bars: the average (framed) up to its position, the peak bar, the rest, the peak line
    // and the hold marker.
    for (int ch = 0; ch < 2; ++ch) {
        const int top = 3 + ch * (barHeight + 2);
        const app::MeterBar b = meter_.bar(ch, usable, left);
        p.setPen(colour(settings_.LevMeterScaleCharColor));
        p.drawText(QRect(0, top, left, barHeight), Qt::AlignCenter,
                   ch == 0 ? QStringLiteral("L") : QStringLiteral("R"));
        const QColor fore = colour(settings_.LevMeterBarForeColor);
        p.fillRect(QRect(b.left, top, std::max(0, b.right - b.left), barHeight),
                   colour(settings_.LevMeterBarBackColor));
        if (b.peakX > b.left)
            p.fillRect(QRect(b.left, top, b.peakX - b.left, barHeight), fore);
        if (b.showAverage && b.averageX > b.left) {
            const QRect avg(b.left, top, b.averageX - b.left, barHeight);
            p.fillRect(avg, colour(settings_.LevMeterBarInnerColor));
            p.setPen(fore);
            p.drawRect(avg.adjusted(0, 0, -1, -1));
        }
        p.setPen(colour(settings_.LevMeterBarFrameColor));
        p.drawLine(b.peakX, top, b.peakX, top + barHeight - 1);
        if (b.showHold)
            p.fillRect(QRect(b.holdX, top, app::kHoldMarkerWidth, barHeight),
                       colour(settings_.LevMeterBarPeakColor));
    }

    // Scale: a tick every 5 dB, long ones with labels every 10 dB.
    const int scaleTop = 3 + 2 * (barHeight + 2);
    QFont small = font();
    small.setPixelSize(std::max(7, line - 4));
    p.setFont(small);
    for (const app::MeterTick& t : app::levelMeterScale(usable, left)) {
        p.setPen(colour(settings_.LevMeterScaleColor));
        p.drawLine(t.x, scaleTop, t.x, scaleTop + (t.isLong ? 4 : 2));
        if (!t.label.empty()) {
            p.setPen(colour(settings_.LevMeterScaleCharColor));
            const QString label = QString::fromStdString(t.label);
            const int w = p.fontMetrics().horizontalAdvance(label);
            const int x = std::clamp(t.x - w / 2, 0, width() - w - 1);
            p.drawText(QPoint(x, scaleTop + 4 + p.fontMetrics().ascent()), label);
        }
    }
}

} // namespace tarnvel::gui
