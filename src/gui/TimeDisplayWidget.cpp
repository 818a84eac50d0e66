#include "gui/TimeDisplayWidget.h"

#include "app/AppMessages.h"
#include "app/TimeDisplay.h"
#include "gui/GuiText.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>

namespace tarnvel::gui {

namespace {

// Characters of a line: the label and the 12-character time text.
constexpr int kLineChars = 16;
const QColor kBack(16, 20, 24);
const QColor kLabel(110, 140, 150);
const QColor kText(130, 230, 255);

} // namespace

TimeDisplayWidget::TimeDisplayWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName("TimePaintBox");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    texts_.abs = texts_.pgm = texts_.run = " --h--m--s--";
}

void TimeDisplayWidget::setTexts(const engine::TimeTexts& texts)
{
    if (texts.abs == texts_.abs && texts.pgm == texts_.pgm && texts.run == texts_.run)
        return;
    texts_ = texts;
    update();
}

int TimeDisplayWidget::designY(int y) const
{
    const int h = std::max(1, height());
    return y * 3 * app::kTimeLinePitch / h;
}

QSize TimeDisplayWidget::sizeHint() const
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSizeF(f.pointSizeF() * 1.6);
    const QFontMetrics m(f);
    return {m.horizontalAdvance(QString(kLineChars, QChar('0'))) + 16, 3 * m.height() + 8};
}

QSize TimeDisplayWidget::minimumSizeHint() const
{
    const QFontMetrics m(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return {m.horizontalAdvance(QString(kLineChars, QChar('0'))) + 8, 3 * m.height() + 4};
}

void TimeDisplayWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), kBack);
    // The font follows the widget: three lines fill its height and a line its width.
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const qreal pitch = height() / 3.0;
    f.setPixelSize(std::max(6, static_cast<int>(pitch * 0.78)));
    QFontMetricsF m(f);
    const qreal wide = m.horizontalAdvance(QString(kLineChars, QChar('0')));
    if (wide > width() - 8)
        f.setPixelSize(std::max(6, static_cast<int>(f.pixelSize() * (width() - 8) / wide)));
    p.setFont(f);
    m = QFontMetricsF(f);
    const QString labels[3] = {qtext(app::msg::kAbsLabel), qtext(app::msg::kPgmLabel),
                               qtext(app::msg::kRunLabel)};
    const std::string* lines[3] = {&texts_.abs, &texts_.pgm, &texts_.run};
    const qreal labelWidth = m.horizontalAdvance(labels[0]);
    const qreal left =
        std::max<qreal>(4, (width() - m.horizontalAdvance(QString(kLineChars, QChar('0')))) / 2);
    for (int i = 0; i < 3; ++i) {
        const qreal base = pitch * i + (pitch + m.ascent() - m.descent()) / 2;
        p.setPen(kLabel);
        p.drawText(QPointF(left, base), labels[i]);
        p.setPen(kText);
        p.drawText(QPointF(left + labelWidth, base), QString::fromStdString(*lines[i]));
    }
}

void TimeDisplayWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    Q_EMIT doubleClicked(designY(static_cast<int>(event->position().y())),
                         event->button() == Qt::LeftButton,
                         (event->modifiers() & Qt::ShiftModifier) != 0);
}

} // namespace tarnvel::gui
