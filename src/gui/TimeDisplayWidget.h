#pragma once

#include "engine/DeckView.h"

#include <QWidget>

namespace tarnvel::gui {

// TimePaintBox: the three lines ABS, PGM and RUN in the fixed-pitch font, scaled to the
// widget. A double-click reports the line under the pointer in the display's design units
// (17 pixels a line), as the counter resets expect them.
class TimeDisplayWidget : public QWidget {
    Q_OBJECT
public:
    explicit TimeDisplayWidget(QWidget* parent = nullptr);

    void setTexts(const engine::TimeTexts& texts);
    const engine::TimeTexts& texts() const { return texts_; }
    // A y in pixels as the design's y (line pitch 17).
    int designY(int y) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void doubleClicked(int designY, bool leftButton, bool shift);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    engine::TimeTexts texts_;
};

} // namespace tarnvel::gui
