#pragma once

#include "app/Settings.h"
#include "engine/DeckView.h"

#include <QToolButton>
#include <QWidget>

namespace tarnvel::gui {

// PositionMeterPaintBox: the span of ABS time the deck's position meter shows, with the
// recorded area, the current position, the ID marks above the bar, the scale below it and
// the "Search to" box during a meter search. The two page buttons sit at its ends; in "Auto"
// length they show while the pointer is over them.
class PositionMeterWidget : public QWidget {
    Q_OBJECT
public:
    // The meter's designed height; clicks at kBarTop and below hit the bar (the deck's hit
    // test works in these units).
    static constexpr int kDesignHeight = 40;

    PositionMeterWidget(const app::Settings& settings, QWidget* parent = nullptr);

    void setMeter(const engine::PositionMeterView& meter);
    const engine::PositionMeterView& meter() const { return meter_; }
    // The transport is usable (the page buttons may show).
    void setTransportUsable(bool usable);
    // The deck hides a page button (transport disabled).
    void hidePageButton(bool up);
    QToolButton* pageUpButton() const { return pageUp_; }
    QToolButton* pageDownButton() const { return pageDown_; }
    int designY(int y) const { return y * kDesignHeight / std::max(1, height()); }
    // x of a second on the meter.
    int xOf(int seconds) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void doubleClicked(int x, int designY, int width);
    void rightPressed(const QPoint& globalPos);
    void pageRequested(bool up);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void placeButtons();
    void showButtonsFor(int x);

    const app::Settings& settings_;
    engine::PositionMeterView meter_;
    QToolButton* pageUp_;
    QToolButton* pageDown_;
    bool transportUsable_ = false;
};

} // namespace tarnvel::gui
