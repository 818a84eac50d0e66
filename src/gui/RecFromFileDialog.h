#pragma once

#include "app/Settings.h"
#include "gui/MessageBoxes.h"
#include "record/RecFileList.h"

#include <QDialog>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace tarnvel::engine {
class UiThread;
}
namespace tarnvel::sound {
class AudioBackendProvider;
class WavePlayer;
} // namespace tarnvel::sound

namespace tarnvel::gui {

// TRecFromFileDlg: the list of WAV files (or the image file) a recording from files takes,
// over the RecFileList model. Files are registered with the button or dropped on the list;
// the selected file can be heard through the sound output before recording.
class RecFromFileDialog : public QDialog {
    Q_OBJECT
public:
    // `player` is the deck's sound output, borrowed for the preview while the dialog is open
    // (the deck is idle then); `audio` is the deck's audio library.
    RecFromFileDialog(app::Settings& settings, const QString& programTitle,
                      sound::WavePlayer* player, engine::UiThread& ui,
                      std::shared_ptr<sound::AudioBackendProvider> audio, QWidget* parent);
    ~RecFromFileDialog() override;

    record::RecFileList& list() { return *list_; }
    // Shows the dialog modally; returns the mode chosen (0 cancelled, 1 the WAV list, 2 the
    // image file). `autoIdChecked` is the main window's AutoID_CheckBox (OK may offer to clear it).
    int run(bool autoIdChecked = false);
    // What OK decided (empty after Cancel).
    const std::optional<record::RecFileDecision>& decision() const { return decision_; }
    // The controls from the settings, as at each showing (run() does it first).
    void prepare();
    // Rebuilds the grid and the totals from the model.
    void refresh();
    QTableWidget* grid() const { return grid_; }

    void accept() override;
    void reject() override;

Q_SIGNALS:
    void helpRequested(const QString& topic);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void build();
    void registerFiles();
    void setWaveMode(bool wave);
    void playSelected();
    void stopPlaying();
    void storeSettings();
    void borrowPlayer();
    void returnPlayer();
    class PreviewOwner;

    app::Settings& settings_;
    WindowMessageSink sink_;
    std::unique_ptr<record::RecFileList> list_;
    sound::WavePlayer* player_;
    engine::UiThread& ui_;
    std::shared_ptr<sound::AudioBackendProvider> audio_;
    std::unique_ptr<PreviewOwner> owner_;
    bool borrowed_ = false;
    QTableWidget* grid_ = nullptr;
    QRadioButton* waveRadio_ = nullptr;
    QRadioButton* imageRadio_ = nullptr;
    QCheckBox* withSound_ = nullptr;
    QCheckBox* autoEnd_ = nullptr;
    QLineEdit* pnoStart_ = nullptr;
    QComboBox* preSilence_ = nullptr;
    QComboBox* silence_ = nullptr;
    QCheckBox* lpMode_ = nullptr;
    QComboBox* emph_ = nullptr;
    QComboBox* copy_ = nullptr;
    QLabel* total_ = nullptr;
    QLabel* time_ = nullptr;
    QLineEdit* imageName_ = nullptr;
    QLabel* imageStatus_ = nullptr;
    std::vector<QWidget*> waveControls_;
    std::vector<QWidget*> imageControls_;
    int mode_ = 0;
    bool autoIdChecked_ = false;
    std::optional<record::RecFileDecision> decision_;
    bool previewing_ = false;
    bool sized_ = false;
};

} // namespace tarnvel::gui
