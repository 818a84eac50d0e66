#pragma once

#include "app/Settings.h"
#include "engine/DeckView.h"
#include "engine/PlayToFileForm.h"
#include "gui/MessageBoxes.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace tarnvel::gui {

// TPlayToFileDlg: where playback goes (WAV files, an image file, the other instance's deck)
// over the PlayToFileForm model. The deck runs it when playback to file starts.
class PlayToFileDialog : public QDialog {
    Q_OBJECT
public:
    // `peerRunning` tells whether the other instance answers on its socket;
    // `virtualIdMode` whether the deck divides at virtual IDs.
    PlayToFileDialog(app::Settings& settings, const QString& programTitle,
                     std::function<bool()> peerRunning, std::function<bool()> virtualIdMode,
                     QWidget* parent);

    // The deck's dialog step: modal; fills `request` and returns true on OK.
    bool run(engine::Modifiers modifiers, engine::PlayToFileRequest& request);
    // The controls from the settings and the model, as at each showing (run() does it).
    void prepare();
    engine::PlayToFileForm& form() { return form_; }

    void accept() override;

Q_SIGNALS:
    void helpRequested(const QString& topic);

private:
    void fromControls();
    void updateEnabled();

    app::Settings& settings_;
    WindowMessageSink sink_;
    std::function<bool()> peerRunning_;
    std::function<bool()> virtualIdMode_;
    engine::PlayToFileForm form_;
    QRadioButton* wave_ = nullptr;
    QRadioButton* image_ = nullptr;
    QRadioButton* toDat_ = nullptr;
    QRadioButton* imageToDat_ = nullptr;
    QCheckBox* withSound_ = nullptr;
    QCheckBox* withSound2_ = nullptr;
    QCheckBox* divide_ = nullptr;
    QComboBox* preRead_ = nullptr;
    QLineEdit* base_ = nullptr;
    QLineEdit* imageName_ = nullptr;
    QLineEdit* comment_ = nullptr;
    QWidget* waveGroup_ = nullptr;
    QWidget* imageGroup_ = nullptr;
};

} // namespace tarnvel::gui
