#pragma once

#include "app/LevelMeter.h"
#include "app/Settings.h"
#include "engine/Deck.h"
#include "engine/DeckView.h"
#include "gui/MessageBoxes.h"

#include <QMainWindow>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace tarnvel::app {
class SetupForm;
}
namespace tarnvel::engine {
class LinkPeerSender;
class PlayToFile;
} // namespace tarnvel::engine
namespace tarnvel::link {
class PeerServer;
}
namespace tarnvel::qc {
class PlayToFileCheck;
}
namespace tarnvel::record {
class LinkPeerSource;
class LinkReplies;
} // namespace tarnvel::record
namespace tarnvel::sound {
class WaveRecorder;
}

namespace tarnvel::gui {

class AboutDialog;
class ClickableLabel;
class IdListWindow;
class LevelMeterWidget;
class PlayToFileDialog;
class PositionMeterWidget;
class RecFromFileDialog;
class SetupDialog;
class SubcodeWindow;
class TimeDisplayWidget;
class WaveDisplayWidget;

struct MainWindowOptions {
    // How the deck gets its drive and its sound devices.
    engine::DeckOptions deck;
    // The HTML user manual (empty: none was found).
    std::string manualPath;
    // Opens the manual (null: the desktop's browser).
    std::function<bool(const QUrl&)> openUrl;
    // Writes the settings file; called when the deck goes, after the window placement was
    // stored in the record.
    std::function<void()> saveSettings;
    // The folder of the instances' sockets: this window listens there (a third start's
    // raise, the other instance's copy) and plays to the other instance through it. Empty:
    // no link.
    std::string runtimeFolder;
};

// TMainForm: the deck's window. It builds the controls under their names, shows what the
// Deck publishes through DeckView, and turns every click, double-click and key into the
// Deck's call with its Shift and Ctrl state. The rules live in the Deck and the models.
class MainWindow : public QMainWindow, public engine::DeckView {
    Q_OBJECT
public:
    MainWindow(engine::UiThread& ui, app::Settings& settings, MainWindowOptions options,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    engine::Deck& deck() { return *deck_; }
    const app::LevelMeter& levelMeter() const { return levelMeter_; }
    // The widget of a deck control ("PlayButton" ...).
    QWidget* control(engine::Control c) const { return controls_[static_cast<std::size_t>(c)]; }
    TimeDisplayWidget* timeDisplay() const { return time_; }
    WaveDisplayWidget* waveDisplay() const { return wave_; }
    PositionMeterWidget* positionMeter() const { return meter_; }
    SetupDialog* setupDialog();
    IdListWindow* idListWindow(); // null before a drive was chosen
    RecFromFileDialog* recFromFileDialog();
    PlayToFileDialog* playToFileDialog();
    SubcodeWindow* subcodeWindow() { return subcode_; }
    // Display refreshes shown (tests).
    int displayRefreshes() const { return displayRefreshes_; }
    // Runs the first activation now if it has not run (tests call it without showing).
    void activate();
    // Brings the window to the front (a third start asked for it).
    void raiseToFront();
    // Size and position from the settings ("Window"), the frame kept inside `area`; the
    // constructor uses the available area of the screen the window was on.
    void restorePlacement(const QRect& area);

    // DeckView (the widget's own setEnabled and setVisible stay usable).
    using QMainWindow::setEnabled;
    using QMainWindow::setVisible;
    void setEnabled(engine::Control c, bool enabled) override;
    void setVisible(engine::Control c, bool visible) override;
    void setText(engine::Control c, const std::string& text) override;
    void setDown(engine::Control c, bool down) override;
    void setStatusColours(engine::StatusColours colours) override;
    void showTime(const engine::TimeTexts& texts) override;
    void showDisplays(const engine::DisplayRefresh& refresh) override;
    void clearDisplays() override;
    void showPositionMeter(const engine::PositionMeterView& meter) override;
    void showSubcodeWindow(int mode, const std::string& text, bool visible) override;
    void showMessage(const std::string& text, MessageIcon icon,
                     const std::string& caption) override;
    engine::Answer ask(const std::string& text, engine::Buttons buttons, MessageIcon icon,
                       const std::string& caption) override;
    void beep() override;
    void notify(engine::DeckEvent event, int value) override;
    void openHelp(const std::string& topic) override;
    // Opens the page of the last playback to WAV files in the browser.
    void openQcPage();

    // The recording functions of the deck are called from these (the recording pipeline
    // adds them to the Deck): Rec, Mute, Write ID, Erase ID, and the start of a recording
    // from the files chosen in the record-from-file dialog.
    void recButtonClick();
    void muteButtonClick();
    void writeIdButtonClick();
    void eraseIdButtonClick();
    void startRecordingFromFiles(int mode);
    // The other instance asks this one to record what it plays (duplication by image when
    // `wholeFrames`); the recording pipeline answers, until then the answer is "not ready".
    void peerRecordingRequested(bool wholeFrames);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QWidget* buildTopPanel();
    QWidget* buildTransport();
    QWidget* buildSideButtons();
    QWidget* buildSearch();
    QWidget* buildIdGroup();
    void buildDeckKeys();
    void storePlacement();
    engine::Modifiers modifiers() const;
    void setControl(engine::Control c, QWidget* w);
    void searchEditKey(QLineEdit* edit, int field);
    void syncSearchEdits();
    void spaceKey(engine::Modifiers m);
    void openIdList(const QPoint& where);
    void showMargin();
    void showSetup();
    void showRecFromFile();
    void settingsChangedBySetup(bool layout);
    bool eventFilter(QObject* watched, QEvent* event) override;

    engine::UiThread& ui_;
    app::Settings& settings_;
    MainWindowOptions options_;
    QString title_;
    WindowMessageSink sink_;
    app::LevelMeter levelMeter_;
    std::array<QWidget*, static_cast<std::size_t>(engine::Control::Count_)> controls_{};

    TimeDisplayWidget* time_ = nullptr;
    LevelMeterWidget* level_ = nullptr;
    WaveDisplayWidget* wave_ = nullptr;
    PositionMeterWidget* meter_ = nullptr;
    QPushButton* marginButton_ = nullptr;
    QTabWidget* searchPages_ = nullptr;
    QLineEdit* pnoEdit_ = nullptr;
    std::array<QLineEdit*, 4> mem1Edits_{};
    std::array<QLineEdit*, 4> mem2Edits_{};
    QComboBox* writeIdKind_ = nullptr;
    QComboBox* muteTime_ = nullptr;
    QComboBox* autoIdLevel_ = nullptr;
    QComboBox* autoIdTime_ = nullptr;

    std::unique_ptr<sound::WaveRecorder> recorder_;
    std::unique_ptr<engine::Deck> deck_;
    std::unique_ptr<app::SetupForm> setupForm_;
    std::unique_ptr<engine::LinkPeerSender> peerSender_;
    std::unique_ptr<engine::PlayToFile> playToFile_;
    // Checks the WAV files of each playback to file and writes their page.
    std::unique_ptr<qc::PlayToFileCheck> playToFileCheck_;
    QPushButton* qcPageButton_ = nullptr;
    std::unique_ptr<link::PeerServer> peerServer_;
    // The receiving side of a copy from the other instance.
    std::unique_ptr<record::LinkReplies> peerReplies_;
    std::unique_ptr<record::LinkPeerSource> peerBlocks_;
    PlayToFileDialog* playToFileDialog_ = nullptr;
    SetupDialog* setup_ = nullptr;
    IdListWindow* idList_ = nullptr;
    RecFromFileDialog* recFromFile_ = nullptr;
    SubcodeWindow* subcode_ = nullptr;
    class DeckKeys;
    DeckKeys* deckKeys_ = nullptr;
    QWidget* transportPanel_ = nullptr;
    bool activated_ = false;
    // The deck runs a transport command or a run (its last DeckBusy).
    bool deckBusy_ = false;
    bool playing_ = false;
    bool filePlaying_ = false;
    bool recording_ = false;
    int displayRefreshes_ = 0;
};

} // namespace tarnvel::gui
