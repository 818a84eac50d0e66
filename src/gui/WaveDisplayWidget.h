#pragma once

#include "app/Settings.h"
#include "app/WaveDisplay.h"

#include <QWidget>

namespace tarnvel::gui {

// PaintBox1: the waveform strips of the left (LchWavePaintBox) and the right channel
// (RchWavePaintBox) and the X-Y plot (XY_PaintBox), laid out and computed by the WaveDisplay
// model and painted in the wave colours of the settings.
class WaveDisplayWidget : public QWidget {
    Q_OBJECT
public:
    WaveDisplayWidget(const app::Settings& settings, QWidget* parent = nullptr);

    // One refresh of the display thread. `drawWaveform`: the strips take this block (every
    // second refresh); the X-Y plot takes every block.
    void refresh(const app::DisplaySamples& block, bool running, bool drawWaveform);
    // A run ended: the strips take the last block too, so that they, the plot and the level
    // meters stay on the same moment.
    void showLastBlock();
    void clear();
    // The settings or the block size changed: lay out again.
    void relayout();

    const app::WaveDisplay& model() const { return display_; }
    const app::WavePicture& shown() const { return shown_; }
    // Refreshes that reached the strips / the plot (tests).
    int stripRefreshes() const { return stripRefreshes_; }

    QSize sizeHint() const override { return {640, 220}; }
    QSize minimumSizeHint() const override { return {200, 80}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void configure();

    const app::Settings& settings_;
    app::WaveDisplay display_;
    app::WavePicture shown_;
    int stripRefreshes_ = 0;
};

} // namespace tarnvel::gui
