#include "gui/MainWindow.h"

#include "app/AppMessages.h"
#include "app/ControlLists.h"
#include "app/ProgramIdentity.h"
#include "app/SetupForm.h"
#include "diag/DiagMessages.h"
#include "engine/EngineMessages.h"
#include "engine/LinkPeerSender.h"
#include "engine/PlayToFile.h"
#include "engine/RecordRequest.h"
#include "engine/SearchEdits.h"
#include "formats/StringPrintf.h"
#include "gui/AboutDialog.h"
#include "gui/ClickableLabel.h"
#include "gui/DriveCheckWindow.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "gui/IdListWindow.h"
#include "gui/LevelMeterWidget.h"
#include "gui/PlayToFileDialog.h"
#include "gui/PositionMeterWidget.h"
#include "gui/RecFromFileDialog.h"
#include "gui/SetupDialog.h"
#include "gui/SubcodeWindow.h"
#include "gui/TimeDisplayWidget.h"
#include "gui/WaveDisplayWidget.h"
#include "gui/WindowPlace.h"
#include "link/PeerLink.h"
#include "record/LinkPeerSource.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace tarnvel::gui {

using engine::Control;

namespace {

QPushButton* button(const char* name, const MessagePair& caption, const MessagePair& tip,
                    QStyle::StandardPixmap icon = QStyle::SP_CustomBase)
{
    auto* b = new QPushButton(qtext(caption));
    b->setObjectName(name);
    b->setToolTip(qtext(tip));
    if (icon != QStyle::SP_CustomBase)
        b->setIcon(QApplication::style()->standardIcon(icon));
    // Space and Esc belong to the deck, not to a focused button.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QLabel* panel(const char* name, const QString& text = {})
{
    auto* l = new ClickableLabel(text);
    l->setObjectName(name);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

QLineEdit* digitEdit(const char* name, int maxLength)
{
    auto* e = new QLineEdit;
    e->setObjectName(name);
    e->setMaxLength(maxLength);
    e->setAlignment(Qt::AlignRight);
    const int w = e->fontMetrics().horizontalAdvance(QString(maxLength + 1, QChar('0'))) + 12;
    e->setFixedWidth(w);
    return e;
}

QComboBox* listBox(const char* name, const app::ListChoice& choice)
{
    auto* c = new QComboBox;
    c->setObjectName(name);
    for (const std::string& item : choice.items)
        c->addItem(qstr(item));
    c->setCurrentIndex(choice.index);
    return c;
}

} // namespace

// The deck's keys, taken before the focused control sees them, so that they work from every
// control of the window: Space does not type a blank into the Tape box nor tick a check box,
// Home does not move a field's cursor. The keys a text field needs (digits, Backspace, the
// arrows) are no deck keys. A key held down acts once.
class MainWindow::DeckKeys : public QObject {
public:
    explicit DeckKeys(MainWindow& window) : QObject(&window), window_(window)
    {
        QApplication::instance()->installEventFilter(this);
    }
    void add(QKeyCombination key, std::function<void()> action)
    {
        keys_.emplace_back(key, std::move(action));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
            static_cast<QWidget*>(watched)->window() != &window_)
            return false;
        const auto* k = static_cast<QKeyEvent*>(event);
        const QKeyCombination key(k->modifiers() & ~Qt::KeypadModifier, Qt::Key(k->key()));
        for (const auto& [combination, action] : keys_) {
            if (combination != key)
                continue;
            if (!k->isAutoRepeat())
                action();
            return true;
        }
        return false;
    }

private:
    MainWindow& window_;
    std::vector<std::pair<QKeyCombination, std::function<void()>>> keys_;
};

MainWindow::MainWindow(engine::UiThread& ui, app::Settings& settings, MainWindowOptions options,
                       QWidget* parent)
    : QMainWindow(parent), ui_(ui), settings_(settings), options_(std::move(options)),
      title_(qstr(app::programTitle(options_.deck.instance))), sink_(this, title_)
{
    setObjectName("TMainForm");
    setWindowTitle(title_);
    buildControls();
    buildDeckKeys();
    restorePlacement(availableArea(this, QPoint(settings_.Window.PosX, settings_.Window.PosY)));

    engine::DeckOptions o = options_.deck;
    o.saveSettings = options_.saveSettings;
    deck_ = std::make_unique<engine::Deck>(ui_, *this, settings_, std::move(o));

    // The setup dialog's sound input (device and format lists); a recording opens the deck's own.
    sound::WaveRecorder::Config rc;
    rc.messages = &sink_;
    rc.driverType = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType);
    rc.useExtensible = settings_.Use_WF_EXTENSIBLE;
    rc.backends = options_.deck.audio;
    recorder_ = std::make_unique<sound::WaveRecorder>(rc);
    setupForm_ = std::make_unique<app::SetupForm>(
        settings_, sink_, app::SetupForm::SoundObjects{&deck_->player(), recorder_.get()});
    setupForm_->setChangeHandler([this](bool layout) { settingsChangedBySetup(layout); });

    subcode_ = new SubcodeWindow(this);

    // Playback to files and to the other instance.
    playToFile_ = std::make_unique<engine::PlayToFile>(*deck_, settings_);
    playToFile_->setDialog([this](engine::Modifiers m, engine::PlayToFileRequest& r) {
        return playToFileDialog()->run(m, r);
    });
    if (!options_.runtimeFolder.empty()) {
        peerSender_ = std::make_unique<engine::LinkPeerSender>(ui_, options_.runtimeFolder,
                                                               title_.toStdString());
        playToFile_->setPeer(peerSender_.get());
        link::PeerServer::Handler h;
        h.raise = [this] { raiseToFront(); };
        h.startRequested = [this](bool wholeFrames) { peerRecordingRequested(wholeFrames); };
        h.failed = [this](const std::string& text) { showMessage(text, MessageIcon::Warning, {}); };
        h.post = [this](std::function<void()> fn) { ui_.post(std::move(fn)); };
        peerServer_ = std::make_unique<link::PeerServer>(std::move(h));
        std::string error;
        if (!peerServer_->listen(options_.runtimeFolder, title_.toStdString(), error)) {
            peerServer_.reset(); // the link is missing; the deck works without it
        } else {
            peerReplies_ = std::make_unique<record::LinkReplies>(*peerServer_);
            peerBlocks_ = std::make_unique<record::LinkPeerSource>(*peerServer_,
                                                                   deck_->state().stopRequested);
        }
    }
    deck_->setPlayToFileController(playToFile_.get());
}

MainWindow::~MainWindow()
{
    // A run that records the other instance's blocks ends with the deck, before its source.
    deck_.reset();
    peerBlocks_.reset();
    peerReplies_.reset();
    peerServer_.reset();
    // The deck's threads may still hand work to the window: it goes before the widgets.
    deck_.reset();
    playToFile_.reset();
}

void MainWindow::setControl(Control c, QWidget* w)
{
    controls_[static_cast<std::size_t>(c)] = w;
}

// --- Building ---------------------------------------------------------------------------------

void MainWindow::buildControls()
{
    auto* central = new QWidget;
    auto* v = new QVBoxLayout(central);
    v->setContentsMargins(6, 6, 6, 6);
    v->setSpacing(4);
    v->addWidget(buildTopPanel());

    meter_ = new PositionMeterWidget(settings_);
    meter_->setToolTip(qtext(msg::kMeterTip));
    setControl(Control::PM_PageUpSpeedButton, meter_->pageUpButton());
    setControl(Control::PM_PageDownSpeedButton, meter_->pageDownButton());
    connect(meter_, &PositionMeterWidget::doubleClicked, this,
            [this](int x, int y, int width) { deck_->positionMeterDoubleClick(x, y, width); });
    connect(meter_, &PositionMeterWidget::pageRequested, this,
            [this](bool up) { deck_->positionMeterPage(up); });
    connect(meter_, &PositionMeterWidget::rightPressed, this,
            [this](const QPoint& where) { openIdList(where); });
    auto* meterRow = new QHBoxLayout;
    meterRow->addWidget(meter_, 1);
    auto* tapeLabel = new QLabel(qtext(msg::kTapeLength));
    auto* tapeLength = listBox("TapeLengthComboBox", app::tapeLengthList(settings_.TapeLengthPreset,
                                                                         settings_.TapeLength));
    tapeLength->setEditable(true);
    tapeLength->setInsertPolicy(QComboBox::NoInsert);
    tapeLength->setToolTip(qtext(msg::kTapeLengthTip));
    if (tapeLength->currentIndex() < 0)
        tapeLength->setEditText(
            qstr(app::tapeLengthList(settings_.TapeLengthPreset, settings_.TapeLength).text));
    setControl(Control::TapeLengthComboBox, tapeLength);
    connect(tapeLength, &QComboBox::activated, this, [this, tapeLength](int) {
        deck_->setTapeLength(app::tapeLengthFromText(tapeLength->currentText().toStdString()));
    });
    connect(tapeLength->lineEdit(), &QLineEdit::returnPressed, this, [this, tapeLength] {
        deck_->setTapeLength(app::tapeLengthFromText(tapeLength->currentText().toStdString()));
    });
    meterRow->addWidget(tapeLabel);
    meterRow->addWidget(tapeLength);
    v->addLayout(meterRow);

    v->addWidget(buildTransport());

    auto* lower = new QHBoxLayout;
    lower->addWidget(buildSearch(), 1);
    lower->addWidget(buildIdGroup(), 1);
    lower->addWidget(buildSideButtons());
    v->addLayout(lower);

    auto* running = panel("RunningStatusStaticText");
    auto* error = panel("ErrorStatusStaticText");
    auto* device = panel("DeviceStaticText");
    for (QLabel* l : {running, error, device}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setMinimumWidth(40);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    error->setToolTip(qtext(msg::kErrorStatusTip));
    connect(static_cast<ClickableLabel*>(error), &ClickableLabel::doubleClicked, this,
            [this](bool shift) { deck_->errorStatusDoubleClick(shift); });
    setControl(Control::RunningStatusStaticText, running);
    setControl(Control::ErrorStatusStaticText, error);
    setControl(Control::DeviceStaticText, device);
    auto* status = new QHBoxLayout;
    status->addWidget(running, 3);
    status->addWidget(error, 4);
    status->addWidget(device, 3);
    v->addLayout(status);

    wave_ = new WaveDisplayWidget(settings_);
    v->addWidget(wave_, 1);
    setCentralWidget(central);
}

QWidget* MainWindow::buildTopPanel()
{
    auto* top = new QWidget;
    auto* h = new QHBoxLayout(top);
    h->setContentsMargins(0, 0, 0, 0);

    auto* left = new QVBoxLayout;
    time_ = new TimeDisplayWidget;
    time_->setToolTip(qtext(msg::kTimeTip));
    connect(time_, &TimeDisplayWidget::doubleClicked, this,
            [this](int y, bool leftButton, bool shift) {
                deck_->timeDisplayDoubleClick(
                    y, leftButton ? app::MouseButton::Left : app::MouseButton::Other, shift);
            });
    left->addWidget(time_, 1);
    auto* meterRow = new QHBoxLayout;
    level_ = new LevelMeterWidget(levelMeter_, settings_);
    meterRow->addWidget(level_, 1);
    marginButton_ = new QPushButton;
    marginButton_->setObjectName("ResetMarginButton");
    marginButton_->setToolTip(qtext(msg::kMarginTip));
    marginButton_->setFocusPolicy(Qt::NoFocus);
    marginButton_->setFixedWidth(marginButton_->fontMetrics().horizontalAdvance("00.0") + 16);
    marginButton_->setAutoFillBackground(true);
    connect(marginButton_, &QPushButton::clicked, this, [this] {
        levelMeter_.resetMargin(deck_->state().running.load());
        showMargin();
    });
    meterRow->addWidget(marginButton_);
    left->addLayout(meterRow);
    h->addLayout(left, 5);

    // Program number and ID.
    auto* pnoBox = new QGroupBox(qtext(msg::kPNo));
    auto* pv = new QVBoxLayout(pnoBox);
    auto* pno = panel("ProgNumStaticText", QStringLiteral("--"));
    QFont big = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    big.setPointSizeF(big.pointSizeF() * 2.4);
    big.setBold(true);
    pno->setFont(big);
    pno->setMinimumWidth(QFontMetrics(big).horizontalAdvance(QStringLiteral("888")) + 12);
    auto* id = panel("IDStaticText");
    id->setVisible(false);
    pv->addWidget(pno, 1);
    pv->addWidget(id);
    setControl(Control::ProgNumStaticText, pno);
    setControl(Control::IDStaticText, id);
    h->addWidget(pnoBox, 1);

    // Format, emphasis, copy bits and the error counters.
    auto* info = new QGroupBox;
    info->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    auto* g = new QGridLayout(info);
    auto* format = panel("FormatStaticText");
    auto* emph = panel("EmphStaticText", qtext(msg::kEmph));
    emph->setVisible(false);
    auto* copy = panel("CopyStatusStaticText");
    format->setMinimumWidth(format->fontMetrics().horizontalAdvance(QStringLiteral("96000 / 24")) +
                            12);
    copy->setMinimumWidth(copy->fontMetrics().horizontalAdvance(QStringLiteral(" Prohibit ")) + 8);
    g->addWidget(new QLabel(qtext(msg::kFormat)), 0, 0);
    g->addWidget(format, 0, 1, 1, 3);
    g->addWidget(emph, 1, 1);
    g->addWidget(new QLabel(qtext(msg::kCopy)), 1, 2);
    g->addWidget(copy, 1, 3);
    setControl(Control::FormatStaticText, format);
    setControl(Control::EmphStaticText, emph);
    setControl(Control::CopyStatusStaticText, copy);
    g->addWidget(new QLabel(qtext(msg::kErrors)), 3, 0);
    const struct {
        const char* name;
        Control control;
        const MessagePair& label;
    } counters[] = {
        {"ErrorLchStaticText", Control::ErrorLchStaticText, msg::kErrorLeft},
        {"ErrorRchStaticText", Control::ErrorRchStaticText, msg::kErrorRight},
        {"AbsTimeErrorStaticText", Control::AbsTimeErrorStaticText, msg::kErrorAbs},
    };
    int column = 1;
    for (const auto& c : counters) {
        auto* head = new QLabel(qtext(c.label));
        head->setAlignment(Qt::AlignCenter);
        g->addWidget(head, 2, column);
        auto* l = panel(c.name, QStringLiteral("0"));
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 8);
        l->setToolTip(qtext(c.label) + QStringLiteral(": ") + qtext(msg::kErrorCountTip));
        const Control control = c.control;
        connect(static_cast<ClickableLabel*>(l), &ClickableLabel::doubleClicked, this,
                [this, control](bool) { deck_->errorCountDoubleClick(control); });
        setControl(control, l);
        g->addWidget(l, 3, column++);
    }
    h->addWidget(info);
    return top;
}

QWidget* MainWindow::buildTransport()
{
    auto* box = new QWidget;
    // Where the keyboard focus rests: the buttons take none, the deck's keys work from here.
    box->setObjectName("TransportPanel");
    box->setFocusPolicy(Qt::StrongFocus);
    transportPanel_ = box;
    auto* h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(3);
    const auto add = [&](Control c, QPushButton* b, auto&& onClick) {
        setControl(c, b);
        connect(b, &QPushButton::clicked, this, onClick);
        b->setEnabled(false);
        h->addWidget(b);
        return b;
    };
    add(Control::EjectButton,
        button("EjectButton", msg::kEject, msg::kEjectTip, QStyle::SP_MediaStop),
        [this] { deck_->eject(); });
    static_cast<QPushButton*>(control(Control::EjectButton))
        ->setIcon(QApplication::style()->standardIcon(QStyle::SP_ArrowUp));
    add(Control::REW_Button,
        button("REW_Button", msg::kRewind, msg::kRewindTip, QStyle::SP_MediaSeekBackward),
        [this] { deck_->rewind(); });
    add(Control::FF_Button,
        button("FF_Button", msg::kFastForward, msg::kFastForwardTip, QStyle::SP_MediaSeekForward),
        [this] { deck_->fastForward(); });
    add(Control::PrevPNoButton,
        button("PrevPNoButton", msg::kPrev, msg::kPrevTip, QStyle::SP_MediaSkipBackward),
        [this] { deck_->prevPNo(modifiers()); });
    add(Control::NextPNoButton,
        button("NextPNoButton", msg::kNext, msg::kNextTip, QStyle::SP_MediaSkipForward),
        [this] { deck_->nextPNo(modifiers()); });
    h->addSpacing(8);
    add(Control::PlayButton, button("PlayButton", msg::kPlay, msg::kPlayTip, QStyle::SP_MediaPlay),
        [this] { deck_->play(modifiers()); });
    auto* pause = add(Control::PauseButton,
                      button("PauseButton", msg::kPause, msg::kPauseTip, QStyle::SP_MediaPause),
                      [this] { deck_->pause(); });
    pause->setCheckable(true);
    // The deck says when the button is down; a click only asks.
    connect(pause, &QPushButton::clicked, this,
            [this, pause] { pause->setChecked(deck_->state().paused.load()); });
    add(Control::StopButton, button("StopButton", msg::kStop, msg::kStopTip, QStyle::SP_MediaStop),
        [this] { deck_->stop(); });
    auto* rec = add(Control::RecButton, button("RecButton", msg::kRec, msg::kRecTip),
                    [this] { recButtonClick(); });
    rec->setStyleSheet(
        QStringLiteral("QPushButton:enabled { color: #c00000; font-weight: bold; }"));
    auto* mute = add(Control::MuteButton, button("MuteButton", msg::kMute, msg::kMuteTip),
                     [this] { muteButtonClick(); });
    mute->setCheckable(true);
    muteTime_ = listBox("MuteTimeComboBox", app::muteTimeList(settings_.RecMuteTime));
    muteTime_->setToolTip(qtext(msg::kMuteTime));
    connect(muteTime_, &QComboBox::activated, this,
            [this](int) { deck_->setMuteTime(muteTime_->currentText().toInt()); });
    h->addWidget(muteTime_);
    h->addStretch(1);
    return box;
}

QWidget* MainWindow::buildSideButtons()
{
    auto* box = new QWidget;
    auto* g = new QGridLayout(box);
    g->setContentsMargins(0, 0, 0, 0);
    g->setSpacing(3);
    auto* toFile = button("PlayToFileButton", msg::kPlayToFile, msg::kPlayToFileTip,
                          QStyle::SP_DialogSaveButton);
    toFile->setEnabled(false);
    setControl(Control::PlayToFileButton, toFile);
    connect(toFile, &QPushButton::clicked, this, [this] { deck_->playToFile(modifiers()); });
    auto* fromFile = button("RecFromFileButton", msg::kRecFromFile, msg::kRecFromFileTip,
                            QStyle::SP_DialogOpenButton);
    fromFile->setEnabled(false);
    setControl(Control::RecFromFileButton, fromFile);
    connect(fromFile, &QPushButton::clicked, this, [this] { showRecFromFile(); });
    auto* idList = button("IdListButton", msg::kIdList, msg::kIdListTip);
    connect(idList, &QPushButton::clicked, this, [this] { openIdList(QCursor::pos()); });
    auto* setup = button("SetupButton", msg::kSetup, msg::kSetupTip);
    connect(setup, &QPushButton::clicked, this, [this] { showSetup(); });
    auto* help = button("HelpButton", msg::kHelp, msg::kHelpTip);
    auto* helpMenu = new QMenu(help);
    helpMenu->addAction(qtext(diag::msg::kUserManualMenu), this, [this] { openHelp({}); });
    helpMenu->addAction(qtext(diag::msg::kCheckDriveMenu), this, [this] {
        auto* check = new DriveCheckWindow(*deck_, this);
        check->setAttribute(Qt::WA_DeleteOnClose);
        check->show();
    });
    help->setMenu(helpMenu);
    g->addWidget(toFile, 0, 0);
    g->addWidget(fromFile, 0, 1);
    g->addWidget(idList, 1, 0);
    g->addWidget(setup, 1, 1);
    g->addWidget(help, 2, 1);
    g->setRowStretch(3, 1);
    return box;
}

QWidget* MainWindow::buildSearch()
{
    auto* box = new QGroupBox;
    auto* h = new QHBoxLayout(box);
    searchPages_ = new QTabWidget;
    searchPages_->setObjectName("SearchPageControl");

    auto* pnoPage = new QWidget;
    pnoPage->setObjectName("PNoTabSheet");
    auto* ph = new QHBoxLayout(pnoPage);
    pnoEdit_ = digitEdit("SearchPNoEdit", 3);
    ph->addWidget(pnoEdit_);
    ph->addStretch(1);
    searchPages_->addTab(pnoPage, qtext(msg::kSearchPNoTab));

    const char* mem1Names[4] = {"SearchH1Edit", "SearchM1Edit", "SearchS1Edit", "SearchF1Edit"};
    const char* mem2Names[4] = {"SearchH2Edit", "SearchM2Edit", "SearchS2Edit", "SearchF2Edit"};
    for (int mem = 1; mem <= 2; ++mem) {
        auto* page = new QWidget;
        page->setObjectName(mem == 1 ? "Mem1TabSheet" : "Mem2TabSheet");
        auto* mh = new QHBoxLayout(page);
        auto& edits = mem == 1 ? mem1Edits_ : mem2Edits_;
        const char* units[4] = {"h", "m", "s", "f"};
        for (int f = 0; f < 4; ++f) {
            edits[static_cast<std::size_t>(f)] =
                digitEdit((mem == 1 ? mem1Names : mem2Names)[f], f == 0 ? 1 : 2);
            mh->addWidget(edits[static_cast<std::size_t>(f)]);
            mh->addWidget(new QLabel(QString::fromLatin1(units[f])));
        }
        auto* capture = new QPushButton(qtext(msg::kTimeCapture));
        capture->setObjectName(mem == 1 ? "TimeCap1Button" : "TimeCap2Button");
        capture->setToolTip(qtext(msg::kTimeCaptureTip));
        connect(capture, &QPushButton::clicked, this, [this, mem] {
            deck_->timeCapture(mem);
            syncSearchEdits();
        });
        mh->addWidget(capture);
        mh->addStretch(1);
        searchPages_->addTab(page, qtext(mem == 1 ? msg::kSearchMem1Tab : msg::kSearchMem2Tab));
    }
    setControl(Control::SearchH2Edit, mem2Edits_[0]);
    setControl(Control::SearchM2Edit, mem2Edits_[1]);
    setControl(Control::SearchS2Edit, mem2Edits_[2]);
    setControl(Control::SearchF2Edit, mem2Edits_[3]);
    connect(searchPages_, &QTabWidget::currentChanged, this, [this](int page) {
        deck_->searchEdits().page = static_cast<engine::SearchPage>(page);
    });
    pnoEdit_->installEventFilter(this);
    connect(pnoEdit_, &QLineEdit::textEdited, this,
            [this](const QString& t) { deck_->searchEdits().programNumber = t.toStdString(); });
    for (int mem = 1; mem <= 2; ++mem) {
        auto& edits = mem == 1 ? mem1Edits_ : mem2Edits_;
        for (int f = 0; f < 4; ++f) {
            QLineEdit* e = edits[static_cast<std::size_t>(f)];
            e->installEventFilter(this);
            connect(e, &QLineEdit::textEdited, this, [this, mem, f, e](const QString& t) {
                auto& store = mem == 1 ? deck_->searchEdits().mem1 : deck_->searchEdits().mem2;
                store[static_cast<std::size_t>(f)] = t.toStdString();
                const engine::TimeEditResult r =
                    engine::timeEditChanged(static_cast<engine::TimeField>(f), t.toStdString());
                if (r.beep)
                    QApplication::beep();
                if (r.nextField) {
                    auto& all = mem == 1 ? mem1Edits_ : mem2Edits_;
                    if (f < 3) {
                        all[static_cast<std::size_t>(f + 1)]->setFocus();
                        all[static_cast<std::size_t>(f + 1)]->selectAll();
                    }
                }
                (void)e;
            });
        }
    }
    h->addWidget(searchPages_, 1);

    auto* side = new QVBoxLayout;
    auto* search = button("SearchStartButton", msg::kSearch, msg::kSearchTip);
    search->setEnabled(false);
    setControl(Control::SearchStartButton, search);
    connect(search, &QPushButton::clicked, this, [this] { deck_->searchStart(modifiers()); });
    side->addWidget(search);
    auto* mem2Row = new QHBoxLayout;
    auto* mem2Check = new QCheckBox;
    mem2Check->setObjectName("Mem2StopCheckBox");
    mem2Check->setChecked(settings_.EnableMem2Stop);
    mem2Check->setEnabled(false);
    mem2Check->setToolTip(qtext(msg::kMem2StopTip));
    auto* mem2Label = new QLabel(qtext(msg::kMem2Stop));
    mem2Label->setObjectName("Mem2StopLabel");
    mem2Label->setBuddy(mem2Check);
    mem2Label->setEnabled(false);
    setControl(Control::Mem2StopCheckBox, mem2Check);
    setControl(Control::Mem2StopLabel, mem2Label);
    connect(mem2Check, &QCheckBox::toggled, this,
            [this](bool on) { deck_->setMem2StopChecked(on); });
    mem2Row->addWidget(mem2Check);
    mem2Row->addWidget(mem2Label);
    mem2Row->addStretch(1);
    side->addLayout(mem2Row);
    side->addStretch(1);
    h->addLayout(side);
    for (QLineEdit* e : mem2Edits_)
        e->setEnabled(false);
    return box;
}

QWidget* MainWindow::buildIdGroup()
{
    auto* box = new QGroupBox(qtext(engine::msg::kIdGroup));
    box->setObjectName("ID_GroupBox");
    setControl(Control::ID_GroupBox, box);
    auto* g = new QGridLayout(box);

    writeIdKind_ = new QComboBox;
    writeIdKind_->setObjectName("WriteID_ComboBox");
    for (const std::string& k : app::writeIdKinds())
        writeIdKind_->addItem(qstr(k));
    auto* number = digitEdit("WriteID_Edit", 2);
    number->setText(QStringLiteral("99"));
    number->setValidator(new QIntValidator(1, 99, number));
    setControl(Control::WriteID_Edit, number);
    connect(writeIdKind_, &QComboBox::currentIndexChanged, this,
            [this](int kind) { deck_->setWriteIdKind(kind); });
    connect(number, &QLineEdit::textChanged, this,
            [this](const QString& t) { deck_->setWriteIdText(t.toStdString()); });
    auto* write = button("WriteID_Button", msg::kWriteId, msg::kWriteIdTip);
    auto* erase = button("EraseID_Button", msg::kEraseId, msg::kEraseIdTip);
    write->setEnabled(false);
    erase->setEnabled(false);
    setControl(Control::WriteID_Button, write);
    setControl(Control::EraseID_Button, erase);
    connect(write, &QPushButton::clicked, this, [this] { writeIdButtonClick(); });
    connect(erase, &QPushButton::clicked, this, [this] { eraseIdButtonClick(); });
    g->addWidget(writeIdKind_, 0, 0);
    g->addWidget(number, 0, 1);
    g->addWidget(write, 0, 2);
    g->addWidget(erase, 0, 3);

    auto* autoId = new QCheckBox(qtext(msg::kAutoId));
    autoId->setObjectName("AutoID_CheckBox");
    autoId->setToolTip(qtext(msg::kAutoIdTip));
    autoId->setChecked(settings_.EnableAutoID);
    autoId->setEnabled(false);
    connect(autoId, &QCheckBox::toggled, this, [this](bool on) { deck_->setAutoIdChecked(on); });
    setControl(Control::AutoID_CheckBox, autoId);
    autoIdLevel_ = listBox("AutoID_LevelComboBox", app::autoIdLevelList(settings_.AutoID_Level));
    autoIdTime_ = listBox("AutoID_TimeComboBox", app::autoIdTimeList(settings_.AutoID_Time));
    connect(autoIdLevel_, &QComboBox::activated, this,
            [this](int) { deck_->setAutoIdLevel(autoIdLevel_->currentText().toInt()); });
    connect(autoIdTime_, &QComboBox::activated, this,
            [this](int) { deck_->setAutoIdTime(autoIdTime_->currentText().toInt()); });
    auto* ready = new QLabel(QStringLiteral("\u25CF"));
    ready->setObjectName("AutoID_ReadyShape");
    ready->setStyleSheet(QStringLiteral("color: red;"));
    ready->setVisible(false);
    setControl(Control::AutoIdReadyMark, ready);
    auto* autoRow = new QHBoxLayout;
    autoRow->addWidget(autoId);
    autoRow->addWidget(autoIdLevel_);
    autoRow->addWidget(new QLabel(qtext(msg::kDb)));
    autoRow->addWidget(autoIdTime_);
    autoRow->addWidget(new QLabel(qtext(msg::kSec)));
    autoRow->addWidget(ready);
    autoRow->addStretch(1);
    g->addLayout(autoRow, 1, 0, 1, 4);
    return box;
}

void MainWindow::buildDeckKeys()
{
    deckKeys_ = new DeckKeys(*this);
    const auto key = [this](QKeyCombination k, std::function<void()> fn) {
        deckKeys_->add(k, std::move(fn));
    };
    key(Qt::Key_Space, [this] { spaceKey({}); });
    key(Qt::SHIFT | Qt::Key_Space, [this] { spaceKey({true, false}); });
    key(Qt::SHIFT | Qt::CTRL | Qt::Key_Space, [this] { spaceKey({true, true}); });
    key(Qt::Key_MediaPlay, [this] { spaceKey({}); });
    key(Qt::Key_MediaTogglePlayPause, [this] { spaceKey({}); });
    key(Qt::Key_Escape, [this] { deck_->escape(); });
    key(Qt::Key_MediaStop, [this] { deck_->stop(); });
    key(Qt::CTRL | Qt::Key_E, [this] { deck_->eject(); });
    key(Qt::Key_Home, [this] { deck_->rewind(); });
    key(Qt::Key_End, [this] { deck_->fastForward(); });
    key(Qt::Key_PageUp, [this] { deck_->prevPNo({}); });
    key(Qt::SHIFT | Qt::Key_PageUp, [this] { deck_->prevPNo({true, false}); });
    key(Qt::Key_MediaPrevious, [this] { deck_->prevPNo({}); });
    key(Qt::Key_PageDown, [this] { deck_->nextPNo({}); });
    key(Qt::SHIFT | Qt::Key_PageDown, [this] { deck_->nextPNo({true, false}); });
    key(Qt::Key_MediaNext, [this] { deck_->nextPNo({}); });
    key(Qt::CTRL | Qt::Key_R, [this] { recButtonClick(); });
    key(Qt::CTRL | Qt::Key_M, [this] { muteButtonClick(); });
    key(Qt::CTRL | Qt::Key_W, [this] { deck_->playToFile({}); });
    key(Qt::CTRL | Qt::SHIFT | Qt::Key_R, [this] { showRecFromFile(); });
    key(Qt::CTRL | Qt::Key_Comma, [this] { showSetup(); });
    key(Qt::CTRL | Qt::Key_L, [this] { openIdList(QCursor::pos()); });
    key(Qt::Key_F1, [this] { openHelp({}); });
}

void MainWindow::spaceKey(engine::Modifiers m)
{
    const engine::EngineState& s = deck_->state();
    if (s.running.load() || s.paused.load())
        deck_->pause();
    else
        deck_->play(m);
}

engine::Modifiers MainWindow::modifiers() const
{
    const Qt::KeyboardModifiers k = QApplication::keyboardModifiers();
    return {(k & Qt::ShiftModifier) != 0, (k & Qt::ControlModifier) != 0};
}

// --- Search edits ----------------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
        const Qt::KeyboardModifiers mods = k->modifiers();
        deck_->searchStart({(mods & Qt::ShiftModifier) != 0, (mods & Qt::ControlModifier) != 0});
        return true;
    }
    const QString text = k->text();
    if (text.size() == 1 && text[0].isPrint() && text[0].unicode() < 128 &&
        engine::searchEditKey(static_cast<char>(text[0].unicode())) == engine::KeyAction::Discard)
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::syncSearchEdits()
{
    const engine::SearchEdits& e = deck_->searchEdits();
    pnoEdit_->setText(qstr(e.programNumber));
    for (std::size_t f = 0; f < 4; ++f) {
        mem1Edits_[f]->setText(qstr(e.mem1[f]));
        mem2Edits_[f]->setText(qstr(e.mem2[f]));
    }
}

// --- Start-up, placement, close ----------------------------------------------------------------

void MainWindow::restorePlacement(const QRect& area)
{
    const app::WindowPlacement& w = settings_.Window;
    resize(w.Width > 0 && w.Height > 0 ? QSize(w.Width, w.Height)
                                       : sizeHint().expandedTo({900, 640}));
    // The stored position is the frame's (as move() takes it). A placement from another
    // screen layout or scale must not put the window out of reach; without one the window
    // system places the window, which only has to fit.
    if (w.PosX > 0 || w.PosY > 0)
        placeInside(this, QPoint(w.PosX, w.PosY), area);
    else
        resize(size().boundedTo(area.size()).expandedTo(minimumSizeHint()));
    if (!w.Maximized.empty() && (w.Maximized[0] == 'Y' || w.Maximized[0] == 'y'))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::storePlacement()
{
    app::WindowPlacement& w = settings_.Window;
    // The frame's position and the inside's size, as restorePlacement() puts them back: the
    // inside's position would move the window down by its title bar at every start.
    const QRect r = isMaximized() ? normalGeometry() : geometry();
    const QPoint frame = isMaximized() ? r.topLeft() - (geometry().topLeft() - pos()) : pos();
    w.PosX = std::max(0, frame.x());
    w.PosY = std::max(0, frame.y());
    w.Width = r.width();
    w.Height = r.height();
    if (isMaximized())
        w.Maximized.assign(1, 'Y');
    else
        w.Maximized.clear();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!activated_) {
        // The keys belong to the deck: the focus starts on the transport, not in a text box.
        transportPanel_->setFocus(Qt::OtherFocusReason);
        // After the window is on the screen: the start-up messages come over it.
        QTimer::singleShot(0, this, [this] { activate(); });
    }
}

void MainWindow::activate()
{
    if (activated_)
        return;
    activated_ = true;
    // Framed by now (where the window system says so): the title bar fits too.
    if (isVisible() && windowState() == Qt::WindowNoState)
        fitIntoArea(this, availableArea(this));
    deck_->firstActivation();
}

void MainWindow::raiseToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!deck_->closeRequest(modifiers())) {
        event->ignore();
        return;
    }
    if (setup_ != nullptr && setup_->isVisible())
        setup_->reject();
    if (idList_ != nullptr)
        idList_->closeAtExit();
    subcode_->hide();
    storePlacement();
    event->accept();
}

// --- DeckView ----------------------------------------------------------------------------------

void MainWindow::setEnabled(Control c, bool enabled)
{
    QWidget* w = control(c);
    if (w == nullptr)
        return;
    w->setEnabled(enabled);
    if (c == Control::EjectButton) {
        meter_->setTransportUsable(enabled);
        // A tape became usable (loaded, or a run ended): the ID list may read its tables.
        if (enabled && !deckBusy_ && idList_ != nullptr)
            idList_->setBusy(false);
    }
}

void MainWindow::setVisible(Control c, bool visible)
{
    if (c == Control::PM_PageUpSpeedButton || c == Control::PM_PageDownSpeedButton) {
        // The buttons show on hover; the deck only ever hides them.
        if (!visible)
            meter_->hidePageButton(c == Control::PM_PageUpSpeedButton);
        return;
    }
    if (QWidget* w = control(c))
        w->setVisible(visible);
}

void MainWindow::setText(Control c, const std::string& text)
{
    QWidget* w = control(c);
    const QString t = qstr(text);
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(t);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(t);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(t);
    else if (auto* b = qobject_cast<QComboBox*>(w))
        b->setEditText(t);
    if (c == Control::RunningStatusStaticText || c == Control::ErrorStatusStaticText)
        w->setToolTip(c == Control::ErrorStatusStaticText ? qtext(msg::kErrorStatusTip)
                                                          : t.trimmed());
}

void MainWindow::setDown(Control c, bool down)
{
    if (auto* b = qobject_cast<QPushButton*>(control(c)))
        b->setChecked(down);
    else if (auto* box = qobject_cast<QCheckBox*>(control(c)))
        box->setChecked(down);
}

void MainWindow::setStatusColours(engine::StatusColours colours)
{
    QString style;
    if (colours == engine::StatusColours::Recording)
        style = QStringLiteral("background: #b00000; color: white;");
    else if (colours == engine::StatusColours::Paused)
        style = QStringLiteral("background: #e0b000; color: black;");
    control(Control::RunningStatusStaticText)->setStyleSheet(style);
    control(Control::ErrorStatusStaticText)->setStyleSheet(style);
}

void MainWindow::showTime(const engine::TimeTexts& texts)
{
    time_->setTexts(texts);
}

void MainWindow::showDisplays(const engine::DisplayRefresh& refresh)
{
    if (refresh.samples == nullptr)
        return;
    ++displayRefreshes_;
    levelMeter_.update(refresh.samples->levels);
    level_->update();
    showMargin();
    wave_->refresh(*refresh.samples, deck_->state().running.load(), refresh.drawWaveform);
}

void MainWindow::showMargin()
{
    marginButton_->setText(qstr(levelMeter_.marginText()));
    QPalette p = marginButton_->palette();
    p.setColor(QPalette::Button,
               levelMeter_.marginRed() ? QColor(Qt::red) : palette().color(QPalette::Button));
    marginButton_->setPalette(p);
}

void MainWindow::clearDisplays()
{
    levelMeter_.update(app::LevelValues{});
    level_->update();
    wave_->clear();
}

void MainWindow::showPositionMeter(const engine::PositionMeterView& meter)
{
    meter_->setMeter(meter);
}

void MainWindow::showSubcodeWindow(int mode, const std::string& text, bool visible)
{
    subcode_->showText(mode, text, visible);
}

void MainWindow::showMessage(const std::string& text, MessageIcon icon, const std::string& caption)
{
    showMessageBox(isVisible() ? this : nullptr, title_, text, icon, caption);
}

engine::Answer MainWindow::ask(const std::string& text, engine::Buttons buttons, MessageIcon icon,
                               const std::string& caption)
{
    return askMessageBox(isVisible() ? this : nullptr, title_, text, buttons, icon, caption);
}

void MainWindow::beep()
{
    QApplication::beep();
}

void MainWindow::notify(engine::DeckEvent event, int value)
{
    switch (event) {
    case engine::DeckEvent::DeckBusy:
        deckBusy_ = value != 0;
        if (idList_ != nullptr)
            idList_->setBusy(deckBusy_);
        return;
    case engine::DeckEvent::PlayActive:
        playing_ = value != 0;
        if (!playing_)
            filePlaying_ = false;
        break;
    case engine::DeckEvent::FilePlayActive:
        filePlaying_ = value != 0;
        break;
    case engine::DeckEvent::RecActive:
        recording_ = value != 0;
        break;
    case engine::DeckEvent::FileRecActive:
        recording_ = value != 0;
        break;
    case engine::DeckEvent::IdListSelect:
        if (idList_ != nullptr && idList_->isVisible())
            idList_->selectTapeSecond(value);
        return;
    case engine::DeckEvent::TapeIdListChanged:
    case engine::DeckEvent::VirtualIdListChanged:
        if (idList_ != nullptr)
            idList_->idChanged(event == engine::DeckEvent::TapeIdListChanged
                                   ? record::IdListModel::List::Tape
                                   : record::IdListModel::List::Virtual,
                               value);
        return;
    case engine::DeckEvent::VirtualIdMode:
        if (idList_ != nullptr)
            idList_->virtualModeChanged(value != 0);
        return;
    }
    // A run ended (these three events): the displays stay on its last block.
    if (value == 0)
        wave_->showLastBlock();
    setupForm_->setBusy(playing_, filePlaying_, recording_);
    if (setup_ != nullptr)
        setup_->refresh();
}

void MainWindow::openHelp(const std::string& topic)
{
    if (options_.manualPath.empty()) {
        showMessage(tarnvel::tr(msg::kManualMissing), MessageIcon::Warning, {});
        return;
    }
    QUrl url = QUrl::fromLocalFile(qstr(options_.manualPath));
    if (!topic.empty())
        url.setFragment(qstr(topic));
    const bool opened = options_.openUrl ? options_.openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened)
        showMessage(formats::stringPrintf(tarnvel::tr(msg::kBrowserFailed),
                                          url.toString().toStdString().c_str()),
                    MessageIcon::Warning, {});
}

// --- Dialogs -----------------------------------------------------------------------------------

SetupDialog* MainWindow::setupDialog()
{
    if (setup_ == nullptr) {
        setup_ = new SetupDialog(*setupForm_, settings_, title_, sink_, this);
        connect(setup_, &SetupDialog::helpRequested, this,
                [this](const QString& topic) { openHelp(topic.toStdString()); });
    }
    return setup_;
}

void MainWindow::showSetup()
{
    SetupDialog* d = setupDialog();
    d->showForm();
}

void MainWindow::settingsChangedBySetup(bool layout)
{
    deck_->settingsChanged();
    if (layout)
        wave_->relayout();
    wave_->update();
    level_->update();
    meter_->update();
}

IdListWindow* MainWindow::idListWindow()
{
    if (idList_ == nullptr && deck_->drive() != nullptr && deck_->driveIndex() >= 0) {
        idList_ = new IdListWindow(*deck_, title_, this);
        connect(idList_, &IdListWindow::helpRequested, this,
                [this](const QString& topic) { openHelp(topic.toStdString()); });
    }
    return idList_;
}

void MainWindow::openIdList(const QPoint& where)
{
    IdListWindow* w = idListWindow();
    if (w == nullptr)
        return;
    // The lists read the drive's tables, which an engine thread writes while the deck runs:
    // then the window opens "Running" with the lists it showed last, and reads them after.
    if (!w->isVisible())
        w->setBusy(deckBusy_ || !deck_->transportEnabled());
    w->showAt(where);
}

RecFromFileDialog* MainWindow::recFromFileDialog()
{
    if (recFromFile_ == nullptr) {
        recFromFile_ = new RecFromFileDialog(settings_, title_, &deck_->player(), ui_,
                                             options_.deck.audio, this);
        connect(recFromFile_, &RecFromFileDialog::helpRequested, this,
                [this](const QString& topic) { openHelp(topic.toStdString()); });
    }
    return recFromFile_;
}

PlayToFileDialog* MainWindow::playToFileDialog()
{
    if (playToFileDialog_ == nullptr) {
        playToFileDialog_ = new PlayToFileDialog(
            settings_, title_,
            [this] { return peerSender_ != nullptr && peerSender_->peerRunning(); },
            [this] { return deck_->virtualIdMode(); }, this);
        connect(playToFileDialog_, &PlayToFileDialog::helpRequested, this,
                [this](const QString& topic) { openHelp(topic.toStdString()); });
    }
    return playToFileDialog_;
}

void MainWindow::showRecFromFile()
{
    if (!deck_->transportEnabled())
        return;
    RecFromFileDialog* d = recFromFileDialog();
    const int mode =
        d->run(qobject_cast<QCheckBox*>(control(Control::AutoID_CheckBox))->isChecked());
    if (mode != 0)
        startRecordingFromFiles(mode);
}

// --- Recording ---------------------------------------------------------------------------------

void MainWindow::recButtonClick()
{
    deck_->record(modifiers());
}

void MainWindow::muteButtonClick()
{
    // The button only shows the mute while it runs: the deck sets it down and up.
    setDown(Control::MuteButton, false);
    deck_->mute();
}

void MainWindow::writeIdButtonClick()
{
    // The kind and number reached the deck as they were chosen.
    deck_->writeIdButton();
}

void MainWindow::eraseIdButtonClick()
{
    deck_->eraseIdButton();
}

void MainWindow::startRecordingFromFiles(int /*mode*/)
{
    const auto& decision = recFromFile_->decision();
    if (!decision)
        return;
    // The dialog's list serves the entries while the run lasts; the dialog lives as long as
    // the window.
    deck_->recordFromFile(engine::fileRequest(*decision, recFromFile_->list()));
}

void MainWindow::peerRecordingRequested(bool wholeFrames)
{
    if (!peerServer_ || !peerBlocks_)
        return;
    peerBlocks_->begin(wholeFrames);
    // The deck answers the other instance itself (refused while busy).
    deck_->peerStartRequest(wholeFrames, *peerReplies_, peerBlocks_.get());
}

} // namespace tarnvel::gui
