#pragma once

#include "gui/MessageBoxes.h"
#include "record/IdListModel.h"

#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tarnvel::engine {
class Deck;
}

namespace tarnvel::gui {

// TIDlistForm: the tape's IDs and the virtual IDs over the IdListModel, with the searches
// of a double-click going to the deck. While the deck is busy only "&Close" is usable.
class IdListWindow : public QWidget {
    Q_OBJECT
public:
    IdListWindow(engine::Deck& deck, const QString& programTitle, QWidget* mainWindow);

    record::IdListModel& model() { return *model_; }
    // Shows the window at `where` (the pointer), laid out and inside the available area of
    // the screen there, or inside `area`.
    void showAt(const QPoint& where);
    void showAt(const QPoint& where, const QRect& area);
    // The deck is running a transport command or a run: "Running", only Close usable, and the
    // drive's tables are not read.
    void setBusy(bool busy);
    // A program-number search found the ID at this second: its row is selected.
    void selectTapeSecond(int second);
    // The deck wrote or erased an ID (on tape or in the virtual list) at this second.
    void idChanged(record::IdListModel::List list, int second);
    // The deck left virtual ID mode (a recording starts): the check box and the halves follow,
    // without rebuilding the lists while the run writes.
    void virtualModeChanged(bool on);
    // The program ends: the save question for a modified virtual list.
    void closeAtExit();
    // Rebuilds both grids from the model.
    void refresh();
    QTableWidget* grid(record::IdListModel::List list) const;

Q_SIGNALS:
    void helpRequested(const QString& topic);

private:
    void build();
    void fill(record::IdListModel::List list);
    void rowActivated(record::IdListModel::List list, int row);
    void setVirtualMode(bool on);
    void prepareShow();
    // Laid out again after the virtual half came or went, and kept inside the area.
    void fitLayout();
    void edited();
    void saveFile();
    void openFile();
    void keyPressEvent(QKeyEvent* event) override;

    engine::Deck& deck_;
    WindowMessageSink sink_;
    std::unique_ptr<record::IdListModel> model_;
    QTableWidget* tapeGrid_ = nullptr;
    QTableWidget* virtualGrid_ = nullptr;
    QWidget* virtualHalf_ = nullptr;
    QCheckBox* modeBox_ = nullptr;
    QLabel* running_ = nullptr;
    QPushButton* close_ = nullptr;
    QComboBox* shift_ = nullptr;
    std::array<QLineEdit*, 4> modify_{};
    std::vector<QWidget*> editing_; // everything but Close
    bool filling_ = false;
    QRect area_; // where showAt() was told to keep the window
};

} // namespace tarnvel::gui
