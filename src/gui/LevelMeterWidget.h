#pragma once

#include "app/LevelMeter.h"
#include "app/Settings.h"

#include <QWidget>

namespace tarnvel::gui {

// The two-channel level meter: the left channel's bar above the right one's, the scale
// from -60 dB to 0 dB below them, in the meter colours of the settings. It paints the
// main window's LevelMeter model.
class LevelMeterWidget : public QWidget {
    Q_OBJECT
public:
    LevelMeterWidget(const app::LevelMeter& meter, const app::Settings& settings,
                     QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Pixels left of the scale (the channel letters) and the usable width of the scale.
    int leftMargin() const;
    int usableWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const app::LevelMeter& meter_;
    const app::Settings& settings_;
};

} // namespace tarnvel::gui
