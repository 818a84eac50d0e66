#include "gui/IdListWindow.h"

#include "app/AppMessages.h"
#include "app/ProgramIdentity.h"
#include "dat/DatDrive.h"
#include "engine/Deck.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "gui/WindowPlace.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarnvel::gui {

using List = record::IdListModel::List;

namespace {

QTableWidget* makeGrid(const char* name)
{
    auto* g = new QTableWidget(0, record::IdListModel::kColumns);
    g->setObjectName(name);
    QStringList titles;
    for (int c = 0; c < record::IdListModel::kColumns; ++c)
        titles << QString::fromUtf8(record::IdListModel::columnTitle(c));
    g->setHorizontalHeaderLabels(titles);
    g->verticalHeader()->hide();
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->horizontalHeader()->setHighlightSections(false);
    const int unit = g->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {4, 7, 5, 13, 8};
    int total = 2 * g->frameWidth() + 2;
    for (int c = 0; c < record::IdListModel::kColumns; ++c) {
        g->setColumnWidth(c, widths[c] * unit + 8);
        total += g->columnWidth(c);
    }
    g->setMinimumWidth(total + g->verticalScrollBar()->sizeHint().width());
    g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return g;
}

QPushButton* push(const char* name, const MessagePair& caption)
{
    auto* b = new QPushButton(qtext(caption));
    b->setObjectName(name);
    return b;
}

} // namespace

IdListWindow::IdListWindow(engine::Deck& deck, const QString& programTitle, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window), deck_(deck), sink_(this, programTitle)
{
    setObjectName("TIDlistForm");
    setWindowTitle(
        qstr(app::dialogCaption(programTitle.toStdString(), tarnvel::tr(app::msg::kDialogIdList))));
    model_ = std::make_unique<record::IdListModel>(
        *deck_.drive()->tracker(deck_.driveIndex()), sink_, [this](const std::string& q) {
            return askMessageBox(this, windowTitle(), q, engine::Buttons::YesNo,
                                 MessageIcon::Warning, {})
                .yes;
        });
    model_->setDir(deck_.settings().Dir);
    build();
}

QTableWidget* IdListWindow::grid(List list) const
{
    return list == List::Tape ? tapeGrid_ : virtualGrid_;
}

void IdListWindow::build()
{
    auto* h = new QHBoxLayout(this);

    // The tape half.
    auto* tapeHalf = new QWidget;
    auto* tv = new QVBoxLayout(tapeHalf);
    tv->setContentsMargins(0, 0, 0, 0);
    tv->addWidget(new QLabel(qtext(msg::kTapeIds)));
    tapeGrid_ = makeGrid("IDlistStringGrid");
    tv->addWidget(tapeGrid_, 1);
    auto* tapeButtons = new QHBoxLayout;
    auto* del = push("DelButton", msg::kDel);
    auto* delAll = push("DelAllButton", msg::kDelAll);
    connect(del, &QPushButton::clicked, this, [this] {
        model_->deleteTapeId();
        edited();
    });
    connect(delAll, &QPushButton::clicked, this, [this] {
        model_->deleteAllTapeIds();
        edited();
    });
    modeBox_ = new QCheckBox(qtext(msg::kVirtualIdMode));
    modeBox_->setObjectName("V_ID_ModeCheckBox");
    connect(modeBox_, &QCheckBox::toggled, this, [this](bool on) {
        if (!filling_)
            setVirtualMode(on);
    });
    tapeButtons->addWidget(del);
    tapeButtons->addWidget(delAll);
    tapeButtons->addStretch(1);
    tapeButtons->addWidget(modeBox_);
    tv->addLayout(tapeButtons);
    auto* closeRow = new QHBoxLayout;
    running_ = new QLabel(qtext(msg::kRunning));
    running_->setObjectName("InRunningWarningStaticText");
    running_->setStyleSheet(QStringLiteral("color: white; background: #b00000; padding: 2px;"));
    running_->setVisible(false);
    close_ = push("CloseButton", msg::kClose);
    connect(close_, &QPushButton::clicked, this, &QWidget::hide);
    closeRow->addWidget(running_);
    closeRow->addStretch(1);
    closeRow->addWidget(close_);
    tv->addLayout(closeRow);
    h->addWidget(tapeHalf, 1);

    // The virtual half: copy buttons between the grids, then the list and its editing.
    virtualHalf_ = new QWidget;
    auto* vh = new QHBoxLayout(virtualHalf_);
    vh->setContentsMargins(0, 0, 0, 0);
    auto* copyColumn = new QVBoxLayout;
    auto* copy = push("V_ID_CopyButton", msg::kCopyButton);
    auto* copyAll = push("V_ID_CopyAllButton", msg::kCopyAll);
    shift_ = new QComboBox;
    shift_->setObjectName("CopyShiftSecComboBox");
    shift_->addItem(QStringLiteral("0"));
    for (int t = 1; t <= 10; ++t)
        shift_->addItem(QString::number(t / 10.0, 'f', 1));
    connect(copy, &QPushButton::clicked, this, [this] {
        model_->copyToVirtual();
        edited();
    });
    connect(copyAll, &QPushButton::clicked, this, [this] {
        model_->copyAllToVirtual(shift_->currentIndex());
        edited();
    });
    copyColumn->addStretch(1);
    copyColumn->addWidget(copy);
    copyColumn->addWidget(copyAll);
    auto* shiftRow = new QHBoxLayout;
    shiftRow->addWidget(new QLabel(qtext(msg::kShift)));
    shiftRow->addWidget(shift_);
    shiftRow->addWidget(new QLabel(qtext(msg::kSec)));
    copyColumn->addLayout(shiftRow);
    copyColumn->addStretch(1);
    vh->addLayout(copyColumn);

    auto* vv = new QVBoxLayout;
    vv->addWidget(new QLabel(qtext(msg::kVirtualIds)));
    virtualGrid_ = makeGrid("V_IDlistStringGrid");
    vv->addWidget(virtualGrid_, 1);
    auto* editRow = new QHBoxLayout;
    auto* vdel = push("V_ID_DelButton", msg::kDel);
    auto* vdelAll = push("V_ID_DelAllButton", msg::kDelAll);
    connect(vdel, &QPushButton::clicked, this, [this] {
        model_->deleteVirtualId();
        edited();
    });
    connect(vdelAll, &QPushButton::clicked, this, [this] {
        model_->deleteAllVirtualIds();
        edited();
    });
    editRow->addWidget(vdel);
    editRow->addWidget(vdelAll);
    editRow->addStretch(1);
    vv->addLayout(editRow);
    auto* modifyRow = new QHBoxLayout;
    const char* names[4] = {"ModifyH1Edit", "ModifyM1Edit", "ModifyS1Edit", "ModifyF1Edit"};
    const char* units[4] = {"h", "m", "s", "f"};
    for (int f = 0; f < 4; ++f) {
        auto* e = new QLineEdit;
        e->setObjectName(names[f]);
        e->setMaxLength(2);
        e->setValidator(new QIntValidator(0, f == 0 ? 9 : (f == 3 ? 32 : 59), e));
        e->setFixedWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 10);
        connect(e, &QLineEdit::textEdited, this,
                [this, f](const QString& t) { model_->setModifyEdit(f, t.toStdString()); });
        modify_[static_cast<std::size_t>(f)] = e;
        modifyRow->addWidget(e);
        modifyRow->addWidget(new QLabel(QString::fromLatin1(units[f])));
    }
    auto* modifyButton = push("V_ID_ModifyButton", msg::kModify);
    connect(modifyButton, &QPushButton::clicked, this, [this] {
        model_->modify();
        edited();
    });
    modifyRow->addWidget(modifyButton);
    auto* renumber = push("V_ID_RenumberButton", msg::kRenumber);
    connect(renumber, &QPushButton::clicked, this, [this] {
        model_->renumber();
        edited();
    });
    modifyRow->addWidget(renumber);
    vv->addLayout(modifyRow);
    auto* fileRow = new QHBoxLayout;
    auto* save = push("V_ID_SaveToFileButton", msg::kSaveToFile);
    auto* open = push("V_ID_LoadFromFileButton", msg::kOpenFile);
    connect(save, &QPushButton::clicked, this, [this] { saveFile(); });
    connect(open, &QPushButton::clicked, this, [this] { openFile(); });
    fileRow->addWidget(save);
    fileRow->addWidget(open);
    fileRow->addStretch(1);
    vv->addLayout(fileRow);
    vh->addLayout(vv, 1);
    h->addWidget(virtualHalf_, 1);

    for (QTableWidget* g : {tapeGrid_, virtualGrid_}) {
        const List list = g == tapeGrid_ ? List::Tape : List::Virtual;
        connect(g, &QTableWidget::cellDoubleClicked, this,
                [this, list](int row, int) { rowActivated(list, row + 1); });
        connect(g, &QTableWidget::currentCellChanged, this, [this, list](int row, int, int, int) {
            if (filling_ || row < 0)
                return;
            model_->selectRow(list, row + 1);
            if (list == List::Virtual) {
                filling_ = true;
                for (std::size_t f = 0; f < 4; ++f)
                    modify_[f]->setText(qstr(model_->modifyEdits()[f]));
                filling_ = false;
            }
        });
    }
    editing_ = {tapeGrid_, virtualGrid_, del,        delAll,     modeBox_,     copy,
                copyAll,   shift_,       vdel,       vdelAll,    modifyButton, renumber,
                save,      open,         modify_[0], modify_[1], modify_[2],   modify_[3]};
    virtualHalf_->setVisible(false);
}

void IdListWindow::fill(List list)
{
    QTableWidget* g = grid(list);
    const auto& rows = model_->rows(list);
    filling_ = true;
    g->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const formats::IdListRow& row = rows[static_cast<std::size_t>(r)];
        const std::string* texts[5] = {&row.no, &row.id, &row.pno, &row.absTime, &row.sec};
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(qstr(*texts[c]));
            item->setFont(QFont(QStringLiteral("monospace")));
            g->setItem(r, c, item);
        }
    }
    const int selected = model_->selectedRow(list);
    if (selected >= 1 && selected <= g->rowCount())
        g->selectRow(selected - 1);
    if (list == List::Virtual)
        for (std::size_t f = 0; f < 4; ++f)
            modify_[f]->setText(qstr(model_->modifyEdits()[f]));
    // The tape list is greyed while the virtual list is the one in use.
    g->setEnabled(!model_->busy());
    filling_ = false;
}

void IdListWindow::refresh()
{
    model_->setVirtualIdMode(modeBox_->isChecked());
    model_->rebuild(List::Tape);
    fill(List::Tape);
    if (model_->virtualIdMode()) {
        model_->rebuild(List::Virtual);
        fill(List::Virtual);
    }
}

void IdListWindow::edited()
{
    fill(List::Tape);
    fill(List::Virtual);
    deck_.idTablesChanged();
}

void IdListWindow::setVirtualMode(bool on)
{
    model_->setVirtualIdMode(on);
    deck_.setVirtualIdMode(on);
    virtualHalf_->setVisible(on);
    tapeGrid_->setStyleSheet(on ? QStringLiteral("QTableWidget { background: palette(button); }")
                                : QString());
    findChild<QPushButton*>("DelButton")->setEnabled(model_->tapeDeleteEnabled());
    findChild<QPushButton*>("DelAllButton")->setEnabled(model_->tapeDeleteEnabled());
    refresh();
    fitLayout();
}

void IdListWindow::fitLayout()
{
    adjustSize();
    if (!isVisible())
        return;
    // In the area showAt() was given while the window stands there, else on its own screen.
    fitIntoArea(this, area_.contains(frameGeometry().center()) ? area_ : availableArea(this));
}

void IdListWindow::showAt(const QPoint& where)
{
    showAt(where, availableArea(this, where));
}

void IdListWindow::showAt(const QPoint& where, const QRect& area)
{
    area_ = area;
    if (!isVisible()) {
        // Laid out with the halves it shows before it is placed: the size before the first
        // showing is no size at all.
        prepareShow();
        adjustSize();
        placeInside(this, where, area);
    }
    show();
    raise();
    activateWindow();
    close_->setFocus();
}

void IdListWindow::prepareShow()
{
    filling_ = true;
    modeBox_->setChecked(deck_.virtualIdMode());
    filling_ = false;
    // While the deck runs the tables are the engine's: the lists stay as they were shown last.
    if (!model_->busy()) {
        model_->setVirtualIdMode(deck_.virtualIdMode());
        model_->show();
    }
    virtualHalf_->setVisible(modeBox_->isChecked());
    tapeGrid_->setStyleSheet(modeBox_->isChecked()
                                 ? QStringLiteral("QTableWidget { background: palette(button); }")
                                 : QString());
    fill(List::Tape);
    fill(List::Virtual);
}

void IdListWindow::keyPressEvent(QKeyEvent* event)
{
    // The manual's topic, while the window is usable.
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        if (modeBox_->isEnabled())
            Q_EMIT helpRequested(QStringLiteral("id-list"));
        return;
    }
    QWidget::keyPressEvent(event);
}

void IdListWindow::setBusy(bool busy)
{
    model_->setBusy(busy);
    running_->setVisible(busy);
    for (QWidget* w : editing_)
        w->setEnabled(!busy);
    if (!busy) {
        findChild<QPushButton*>("DelButton")->setEnabled(model_->tapeDeleteEnabled());
        findChild<QPushButton*>("DelAllButton")->setEnabled(model_->tapeDeleteEnabled());
        // The tables are read only while no engine thread parses frames (a pause is not idle).
        const engine::EngineState& st = deck_.state();
        if (isVisible() && !st.running.load() && !st.paused.load() &&
            st.playState.load() == engine::kStateStopped &&
            st.recState.load() == engine::kStateStopped)
            refresh();
    }
}

void IdListWindow::selectTapeSecond(int second)
{
    model_->idListChanged(model_->virtualIdMode() ? List::Virtual : List::Tape, second);
    fill(model_->virtualIdMode() ? List::Virtual : List::Tape);
}

void IdListWindow::idChanged(List list, int second)
{
    model_->idListChanged(list, second);
    fill(list);
}

void IdListWindow::virtualModeChanged(bool on)
{
    if (modeBox_->isChecked() == on)
        return;
    filling_ = true;
    modeBox_->setChecked(on);
    filling_ = false;
    model_->setVirtualIdMode(on);
    virtualHalf_->setVisible(on);
    tapeGrid_->setStyleSheet(on ? QStringLiteral("QTableWidget { background: palette(button); }")
                                : QString());
}

void IdListWindow::rowActivated(List list, int row)
{
    const auto request = model_->activateRow(list, row);
    if (!request)
        return;
    if (request->byAbsTime) {
        deck_.searchAbs(request->abs, {});
        return;
    }
    const bool virtualWas = deck_.virtualIdMode();
    if (request->tapeList && virtualWas)
        deck_.setVirtualIdMode(false);
    dat::IdEntry entry;
    entry.pNo = request->pNo;
    entry.abs = request->abs;
    entry.seconds = request->seconds;
    entry.frames = dat::absToFrames(request->abs);
    deck_.searchProgram(request->pNo, {}, request->tapeList ? nullptr : &entry);
    if (request->tapeList && virtualWas)
        deck_.setVirtualIdMode(true);
}

void IdListWindow::saveFile()
{
    const QString path =
        QFileDialog::getSaveFileName(this, qtext(msg::kVirtualIdSaveTitle),
                                     qstr(model_->saveDialogPath()), qtext(msg::kVirtualIdFilter));
    if (!path.isEmpty())
        model_->saveVirtualIdFile(path.toStdString());
}

void IdListWindow::openFile()
{
    if (model_->askToSave())
        saveFile();
    const QString path = QFileDialog::getOpenFileName(
        this, qtext(msg::kVirtualIdOpenTitle), qstr(model_->dir()), qtext(msg::kVirtualIdFilter));
    if (!path.isEmpty() && model_->loadVirtualIdFile(path.toStdString()))
        edited();
}

void IdListWindow::closeAtExit()
{
    if (model_->askToSave())
        saveFile();
    model_->closeAtExit();
    hide();
}

} // namespace tarnvel::gui
