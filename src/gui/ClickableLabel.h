#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace tarnvel::gui {

// A static text that reports double-clicks (the error counters and the error line).
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void doubleClicked(bool shift);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            Q_EMIT doubleClicked((event->modifiers() & Qt::ShiftModifier) != 0);
    }
};

} // namespace tarnvel::gui
