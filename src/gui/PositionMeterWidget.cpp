#include "gui/PositionMeterWidget.h"

#include "dat/DatFrame.h"
#include "dat/TimeCode.h"
#include "engine/EngineMessages.h"
#include "engine/PositionMeter.h"
#include "gui/Colours.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"

#include <QMouseEvent>
#include <QPainter>

namespace tarnvel::gui {

namespace {

// Scale step in seconds for a span: about eight labelled ticks.
int scaleStep(int span)
{
    for (int step : {60, 120, 300, 600, 900, 1800, 3600})
        if (span / step <= 10)
            return step;
    return 3600;
}

} // namespace

PositionMeterWidget::PositionMeterWidget(const app::Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings), pageUp_(new QToolButton(this)),
      pageDown_(new QToolButton(this))
{
    setObjectName("PositionMeterPaintBox");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    pageUp_->setObjectName("PM_PageUpSpeedButton");
    pageDown_->setObjectName("PM_PageDownSpeedButton");
    pageUp_->setArrowType(Qt::RightArrow);
    pageDown_->setArrowType(Qt::LeftArrow);
    pageUp_->setToolTip(qtext(msg::kPageUpTip));
    pageDown_->setToolTip(qtext(msg::kPageDownTip));
    pageUp_->setAutoRaise(true);
    pageDown_->setAutoRaise(true);
    pageUp_->hide();
    pageDown_->hide();
    connect(pageUp_, &QToolButton::clicked, this, [this] { Q_EMIT pageRequested(true); });
    connect(pageDown_, &QToolButton::clicked, this, [this] { Q_EMIT pageRequested(false); });
}

QSize PositionMeterWidget::sizeHint() const
{
    return {480, std::max(kDesignHeight, 2 * fontMetrics().height() + 14)};
}

QSize PositionMeterWidget::minimumSizeHint() const
{
    return {120, sizeHint().height()};
}

void PositionMeterWidget::setMeter(const engine::PositionMeterView& meter)
{
    meter_ = meter;
    update();
}

void PositionMeterWidget::setTransportUsable(bool usable)
{
    transportUsable_ = usable;
    if (!usable) {
        pageUp_->hide();
        pageDown_->hide();
    }
}

void PositionMeterWidget::hidePageButton(bool up)
{
    (up ? pageUp_ : pageDown_)->hide();
}

void PositionMeterWidget::resizeEvent(QResizeEvent*)
{
    placeButtons();
}

void PositionMeterWidget::placeButtons()
{
    const int side = std::min(height() / 2, 22);
    pageDown_->setGeometry(0, height() - side, side, side);
    pageUp_->setGeometry(width() - side, height() - side, side, side);
}

void PositionMeterWidget::showButtonsFor(int x)
{
    // In "Auto" length the page buttons show while the pointer is over them; page-down only
    // when the meter does not start at 0.
    const int side = pageUp_->width();
    const bool usable = transportUsable_ && meter_.autoLength;
    pageUp_->setVisible(usable && x >= width() - side);
    pageDown_->setVisible(usable && meter_.startSeconds > 0 && x < side);
}

int PositionMeterWidget::xOf(int seconds) const
{
    const int span = std::max(1, meter_.endSeconds - meter_.startSeconds);
    const int usable = std::max(1, width() - engine::PositionMeter::kInsetSum);
    const int s = std::clamp(seconds, meter_.startSeconds, meter_.endSeconds);
    return engine::PositionMeter::kLeftInset +
           static_cast<int>(static_cast<long long>(s - meter_.startSeconds) * usable / span);
}

void PositionMeterWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    const auto colour = [&](std::int32_t setting) { return settingColour(setting, pal); };
    p.fillRect(rect(), colour(meter_.virtualIdMode ? settings_.PosMeterV_ID_ModeBackColor
                                                   : settings_.PosMeterBackColor));
    const double unit = height() / static_cast<double>(kDesignHeight);
    const int barTop = static_cast<int>(engine::PositionMeter::kBarTop * unit);
    const int barBottom = static_cast<int>(28 * unit);
    const int left = xOf(meter_.startSeconds);
    const int right = xOf(meter_.endSeconds);
    QFont small = font();
    small.setPixelSize(std::max(8, static_cast<int>(11 * unit)));
    p.setFont(small);
    const QFontMetrics fm(small);

    // The bar: recorded area (up to the highest ABS time seen), the part played up to the
    // current position, and the END ID.
    const QRect bar(left, barTop, std::max(1, right - left), std::max(3, barBottom - barTop));
    p.fillRect(bar, colour(settings_.PosMeterBarBackColor));
    const int recorded = meter_.ids.maxSeconds;
    if (recorded > meter_.startSeconds)
        p.fillRect(QRect(left, barTop, xOf(recorded) - left, bar.height()),
                   colour(settings_.PosMeterBarRecAreaColor));
    if (meter_.positionSeconds > meter_.startSeconds)
        p.fillRect(QRect(left, barTop + bar.height() / 4, xOf(meter_.positionSeconds) - left,
                         bar.height() - bar.height() / 2),
                   colour(settings_.PosMeterBarForeColor));
    if (meter_.ids.hasEnd() && meter_.ids.endSeconds >= meter_.startSeconds &&
        meter_.ids.endSeconds <= meter_.endSeconds) {
        const int x = xOf(meter_.ids.endSeconds);
        p.fillRect(QRect(x - 1, barTop - 2, 3, bar.height() + 4),
                   colour(settings_.PosMeterBarEndIdColor));
    }
    p.setPen(colour(settings_.PosMeterBarFrameColor));
    p.drawRect(bar.adjusted(0, 0, -1, -1));

    // Scale under the bar.
    const int span = std::max(1, meter_.endSeconds - meter_.startSeconds);
    const int step = scaleStep(span);
    for (int s = (meter_.startSeconds + step - 1) / step * step; s <= meter_.endSeconds;
         s += step) {
        const int x = xOf(s);
        p.setPen(colour(settings_.PosMeterScaleColor));
        p.drawLine(x, barBottom, x, barBottom + static_cast<int>(3 * unit));
        const QString label = QString::number(s / 60) + QStringLiteral("m");
        const int w = fm.horizontalAdvance(label);
        const int lx = std::clamp(x - w / 2, 0, std::max(0, width() - w));
        p.setPen(colour(settings_.PosMeterCharColor));
        p.drawText(QPoint(lx, std::min(height() - 2,
                                       barBottom + static_cast<int>(3 * unit) + fm.ascent())),
                   label);
    }

    // ID marks above the bar: a flag with its number for START IDs, a short one for SKIP.
    for (const dat::IdEntry& e : meter_.ids.used()) {
        if (e.seconds < meter_.startSeconds || e.seconds > meter_.endSeconds)
            continue;
        const int x = xOf(e.seconds);
        p.setPen(colour(settings_.PosMeterScaleColor));
        p.drawLine(x, 2, x, barTop - 1);
        QString label;
        if (e.pNo >= 1 && e.pNo <= dat::kMaxProgramNumber)
            label = QString::number(e.pNo);
        else if (e.pNo == dat::kPNoSkip)
            label = QStringLiteral("S");
        else
            label = QStringLiteral("-");
        const QRect box(x + 1, 2, fm.horizontalAdvance(label) + 4, fm.height());
        p.fillRect(box, colour(settings_.PosMeterCharBackColor));
        p.setPen(colour(settings_.PosMeterCharColor));
        p.drawText(box, Qt::AlignCenter, label);
    }

    // The position needle.
    if (meter_.positionSeconds >= meter_.startSeconds &&
        meter_.positionSeconds <= meter_.endSeconds) {
        const int x = xOf(meter_.positionSeconds);
        p.setPen(QPen(colour(settings_.PosMeterBarFrameColor), 2));
        p.drawLine(x, barTop - 3, x, barBottom + 2);
    }

    if (meter_.searchBoxShown) {
        const QString text = QString::fromStdString(meter_.searchBoxText);
        const QString full = qtext(engine::msg::kSearchTo) + QStringLiteral("  ") + text;
        const int w = fm.horizontalAdvance(full) + 12;
        const QRect box((width() - w) / 2, 1, w, fm.height() + 4);
        p.fillRect(box, colour(settings_.PosMeterSearchBoxColor));
        p.setPen(colour(meter_.virtualIdMode ? settings_.PosMeterV_ID_ModeSearchBoxArrowColor
                                             : settings_.PosMeterSearchBoxArrowColor)
                     .darker(300));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(colour(settings_.PosMeterCharColor));
        p.drawText(box, Qt::AlignCenter, full);
    }
}

void PositionMeterWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    Q_EMIT doubleClicked(static_cast<int>(event->position().x()),
                         designY(static_cast<int>(event->position().y())), width());
}

void PositionMeterWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        Q_EMIT rightPressed(event->globalPosition().toPoint());
}

void PositionMeterWidget::mouseMoveEvent(QMouseEvent* event)
{
    showButtonsFor(static_cast<int>(event->position().x()));
}

void PositionMeterWidget::leaveEvent(QEvent*)
{
    if (!pageUp_->underMouse())
        pageUp_->hide();
    if (!pageDown_->underMouse())
        pageDown_->hide();
}

} // namespace tarnvel::gui
