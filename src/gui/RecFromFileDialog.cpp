#include "gui/RecFromFileDialog.h"

#include "app/AppMessages.h"
#include "app/CompactPath.h"
#include "app/ProgramIdentity.h"
#include "engine/UiThread.h"
#include "formats/ImageMessages.h"
#include "formats/ImageReader.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "gui/WindowPlace.h"
#include "record/RecordListMessages.h"
#include "sound/SoundOwner.h"
#include "sound/WavePlayer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarnvel::gui {

using List = record::RecFileList;

namespace {

// TimeDisplayLabel while no file plays.
constexpr const char* kIdleTime = "00m00s";

// No button of the dialog is a default button: Enter typed into a field never records over
// the tape. A focused button still takes Space.
QPushButton* push(const char* name, const MessagePair& caption)
{
    auto* b = new QPushButton(qtext(caption));
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QPushButton* iconButton(const char* name, QStyle::StandardPixmap icon)
{
    auto* b = new QPushButton;
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setIcon(QApplication::style()->standardIcon(icon));
    return b;
}

QComboBox* silenceBox(const char* name)
{
    auto* c = new QComboBox;
    c->setObjectName(name);
    c->setEditable(true);
    for (int s = 0; s <= 10; ++s)
        c->addItem(QString::number(s));
    return c;
}

std::vector<std::string> localPaths(const QMimeData* data)
{
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

} // namespace

// The preview's owner: the sound output's hand-offs run on the window thread, its time goes
// to TimeDisplayLabel and the end of a preview releases the play state.
class RecFromFileDialog::PreviewOwner : public sound::SoundOwner {
public:
    PreviewOwner(RecFromFileDialog& dialog, engine::UiThread& ui) : dialog_(dialog), ui_(ui) {}
    void invoke(const std::function<void()>& fn) override { ui_.invoke(fn); }
    void post(sound::SoundEvent event) override
    {
        if (event == sound::SoundEvent::PlayEnd)
            ui_.post([this] { dialog_.previewing_ = false; });
    }
    void pumpFor(int ms) override { ui_.pumpFor(ms); }
    void setTimeText(const std::string& text) override
    {
        // The player clears its time when it stops; the label shows the start then.
        dialog_.time_->setText(text.empty() ? QString::fromLatin1(kIdleTime) : qstr(text));
    }

private:
    RecFromFileDialog& dialog_;
    engine::UiThread& ui_;
};

RecFromFileDialog::RecFromFileDialog(app::Settings& settings, const QString& programTitle,
                                     sound::WavePlayer* player, engine::UiThread& ui,
                                     std::shared_ptr<sound::AudioBackendProvider> audio,
                                     QWidget* parent)
    : QDialog(parent), settings_(settings), sink_(this, programTitle), player_(player), ui_(ui),
      audio_(std::move(audio)), owner_(std::make_unique<PreviewOwner>(*this, ui))
{
    setObjectName("TRecFromFileDlg");
    setWindowTitle(qstr(
        app::dialogCaption(programTitle.toStdString(), tarnvel::tr(app::msg::kDialogRecFromFile))));
    setAcceptDrops(true);
    list_ = std::make_unique<List>(sink_, [this](const std::string& question) {
        return askMessageBox(this, windowTitle(), question, engine::Buttons::OkCancel,
                             MessageIcon::Warning, {})
            .yes;
    });
    build();
}

RecFromFileDialog::~RecFromFileDialog()
{
    stopPlaying();
    returnPlayer();
}

void RecFromFileDialog::borrowPlayer()
{
    if (player_ == nullptr || borrowed_)
        return;
    sound::WavePlayer::Config c;
    c.owner = owner_.get();
    c.messages = &sink_;
    c.bufferDivisor = 4;
    c.minBufferCount = 8;
    c.displayLead = 6000;
    c.threadPriority = 4;
    c.driverType = static_cast<sound::SoundDriverType>(settings_.PlayRecDriverType);
    c.backends = audio_;
    player_->reconfigure(c);
    borrowed_ = true;
}

void RecFromFileDialog::returnPlayer()
{
    if (player_ != nullptr && borrowed_)
        player_->restoreConfiguration();
    borrowed_ = false;
}

void RecFromFileDialog::build()
{
    auto* v = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    waveRadio_ = new QRadioButton(qtext(msg::kWaveFileRadio));
    waveRadio_->setObjectName("RecWaveFileRadioButton");
    withSound_ = new QCheckBox(qtext(msg::kWithSound));
    withSound_->setObjectName("WithSoundCheckBox");
    autoEnd_ = new QCheckBox(qtext(msg::kWriteEndId));
    autoEnd_->setObjectName("AutoEndIDCheckBox");
    top->addWidget(waveRadio_);
    top->addStretch(1);
    top->addWidget(withSound_);
    top->addWidget(autoEnd_);
    v->addLayout(top);

    auto* middle = new QHBoxLayout;
    grid_ = new QTableWidget(0, List::kColumns);
    grid_->setObjectName("WaveFileNameStringGrid");
    QStringList titles;
    for (int c = 0; c < List::kColumns; ++c)
        titles << QString::fromUtf8(List::columnTitle(c) ? List::columnTitle(c) : "");
    grid_->setHorizontalHeaderLabels(titles);
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid_->setColumnHidden(List::kPath, true);
    const int unit = grid_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {4, 40, 7, 11, 5, 8, 6};
    for (int c = 0; c < List::kPath; ++c)
        grid_->setColumnWidth(c, widths[c] * unit + 8);
    int total = 2 * grid_->frameWidth() + 2;
    for (int c = 0; c < List::kPath; ++c)
        total += grid_->columnWidth(c);
    grid_->setMinimumWidth(total + grid_->verticalScrollBar()->sizeHint().width());
    grid_->setMinimumHeight(12 * grid_->fontMetrics().height());
    connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (row >= 0)
            list_->selectRow(row + 1);
    });
    connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int, int) {
        const QList<QTableWidgetSelectionRange> ranges = grid_->selectedRanges();
        if (ranges.isEmpty())
            return;
        const QTableWidgetSelectionRange& r = ranges.first();
        const bool shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
        const bool play = list_->applySettingsToCells(r.topRow() + 1, r.bottomRow() + 1,
                                                      r.leftColumn(), r.rightColumn(), shift);
        refresh();
        if (play)
            playSelected();
    });
    middle->addWidget(grid_, 1);

    auto* side = new QVBoxLayout;
    auto* up = iconButton("UpSpeedButton", QStyle::SP_ArrowUp);
    auto* down = iconButton("DownSpeedButton", QStyle::SP_ArrowDown);
    auto* play = iconButton("PlaySpeedButton", QStyle::SP_MediaPlay);
    auto* stop = iconButton("StopSpeedButton", QStyle::SP_MediaStop);
    time_ = new QLabel(QString::fromLatin1(kIdleTime));
    time_->setObjectName("TimeDisplayLabel");
    // As wide as the longest time it shows: a preview does not widen the dialog.
    time_->setFixedWidth(time_->fontMetrics().horizontalAdvance(QStringLiteral("0000m00s")));
    time_->setAlignment(Qt::AlignCenter);
    connect(up, &QPushButton::clicked, this, [this] {
        list_->moveUp();
        refresh();
    });
    connect(down, &QPushButton::clicked, this, [this] {
        list_->moveDown();
        refresh();
    });
    connect(play, &QPushButton::clicked, this, [this] { playSelected(); });
    connect(stop, &QPushButton::clicked, this, [this] { stopPlaying(); });
    for (QWidget* w :
         {static_cast<QWidget*>(up), static_cast<QWidget*>(down), static_cast<QWidget*>(play),
          static_cast<QWidget*>(stop), static_cast<QWidget*>(time_)})
        side->addWidget(w);
    side->addStretch(1);
    middle->addLayout(side);
    v->addLayout(middle, 1);

    auto* settingsRow = new QHBoxLayout;
    pnoStart_ = new QLineEdit(QStringLiteral("1"));
    pnoStart_->setObjectName("PNoStartEdit");
    pnoStart_->setValidator(new QIntValidator(-999, 999, pnoStart_));
    pnoStart_->setFixedWidth(5 * unit + 10);
    connect(pnoStart_, &QLineEdit::textEdited, this,
            [this](const QString& t) { list_->setPNoStart(t.toInt()); });
    auto* renumber = push("RenumberButton", msg::kRenumber);
    connect(renumber, &QPushButton::clicked, this, [this] {
        list_->renumber();
        refresh();
    });
    preSilence_ = silenceBox("PreSilenceLenComboBox");
    preSilence_->lineEdit()->setMaxLength(2);
    silence_ = silenceBox("SilenceLenComboBox");
    connect(preSilence_, &QComboBox::currentTextChanged, this, [this](const QString& t) {
        list_->setPreSilenceText(t.toStdString());
        total_->setText(qtext(msg::kTotalRecTime) + QStringLiteral(" ") +
                        qstr(list_->totalRecTime()));
    });
    connect(silence_, &QComboBox::currentTextChanged, this,
            [this](const QString& t) { list_->setSilenceText(t.toStdString()); });
    lpMode_ = new QCheckBox(qtext(msg::kLpMode));
    lpMode_->setObjectName("LPmodeCheckBox");
    connect(lpMode_, &QCheckBox::toggled, this, [this](bool on) { list_->setLongPlay(on); });
    emph_ = new QComboBox;
    emph_->setObjectName("EmphComboBox");
    emph_->addItems({QStringLiteral("Off"), QStringLiteral("On")});
    connect(emph_, &QComboBox::currentTextChanged, this,
            [this](const QString& t) { list_->setEmphasisText(t.toStdString()); });
    copy_ = new QComboBox;
    copy_->setObjectName("CopyModeComboBox");
    for (int bits : {0, 2, 3})
        copy_->addItem(QString::fromUtf8(List::copyTextOf(bits)));
    connect(copy_, &QComboBox::currentTextChanged, this,
            [this](const QString& t) { list_->setCopyText(t.toStdString()); });
    settingsRow->addWidget(new QLabel(qtext(msg::kStartPNo)));
    settingsRow->addWidget(pnoStart_);
    settingsRow->addWidget(renumber);
    settingsRow->addSpacing(12);
    settingsRow->addWidget(new QLabel(qtext(msg::kPreSilence)));
    settingsRow->addWidget(preSilence_);
    settingsRow->addWidget(new QLabel(qtext(msg::kSilence)));
    settingsRow->addWidget(silence_);
    settingsRow->addWidget(lpMode_);
    settingsRow->addWidget(new QLabel(qtext(msg::kEmphLabel)));
    settingsRow->addWidget(emph_);
    settingsRow->addWidget(new QLabel(qtext(msg::kCopyLabel)));
    settingsRow->addWidget(copy_);
    settingsRow->addStretch(1);
    v->addLayout(settingsRow);

    auto* fileRow = new QHBoxLayout;
    auto* reg = push("WaveFileRegisterButton", msg::kRegister);
    auto* del = push("DelButton", msg::kDel);
    auto* delAll = push("DelAllButton", msg::kDelAll);
    auto* saveCue = push("SaveCueFileButton", msg::kSaveCue);
    auto* openCue = push("OpenCueFileButton", msg::kOpenCue);
    connect(reg, &QPushButton::clicked, this, [this] { registerFiles(); });
    connect(del, &QPushButton::clicked, this, [this] {
        list_->deleteSelected();
        refresh();
    });
    connect(delAll, &QPushButton::clicked, this, [this] {
        list_->deleteAll();
        refresh();
    });
    connect(saveCue, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, qtext(msg::kCueSaveTitle), qstr(list_->cueFilePath()), qtext(msg::kCueFilter));
        if (!path.isEmpty())
            list_->saveCueFile(path.toStdString());
    });
    connect(openCue, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, qtext(msg::kCueOpenTitle), qstr(settings_.Dir), qtext(msg::kCueFilter));
        if (!path.isEmpty()) {
            list_->loadCueFile(path.toStdString());
            refresh();
        }
    });
    total_ = new QLabel;
    total_->setObjectName("TotalRecTimeStaticText");
    for (QWidget* w :
         {static_cast<QWidget*>(reg), static_cast<QWidget*>(del), static_cast<QWidget*>(delAll),
          static_cast<QWidget*>(saveCue), static_cast<QWidget*>(openCue)})
        fileRow->addWidget(w);
    fileRow->addStretch(1);
    fileRow->addWidget(total_);
    v->addLayout(fileRow);
    waveControls_ = {grid_,       up,       down,    play,       stop,    pnoStart_, renumber,
                     preSilence_, silence_, lpMode_, emph_,      copy_,   reg,       del,
                     delAll,      saveCue,  openCue, withSound_, autoEnd_};

    auto* imageRow = new QGridLayout;
    imageRadio_ = new QRadioButton(qtext(msg::kImageFileRadio));
    imageRadio_->setObjectName("RecImageFileRadioButton");
    imageName_ = new QLineEdit;
    imageName_->setObjectName("ImageFileNameEdit");
    imageName_->setAcceptDrops(false);
    auto* browse = push("ImageFileBrowseButton", msg::kBrowse);
    auto* property = push("ImageFilePropertyButton", msg::kProperty);
    imageStatus_ = new QLabel;
    imageStatus_->setObjectName("ImageFileStatusStaticText");
    imageStatus_->setWordWrap(true);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, qtext(msg::kImageOpenTitle), qstr(settings_.Dir), qtext(msg::kImageFilter));
        if (!path.isEmpty())
            imageName_->setText(path);
    });
    connect(property, &QPushButton::clicked, this, [this] {
        CollectingMessageSink quiet;
        formats::ImageReader reader(quiet);
        std::string text;
        if (reader.open(imageName_->text().toStdString(), true))
            text = formats::imagePropertyText(reader);
        else
            text = tarnvel::tr(formats::kMsgImageOpenOrFormat);
        imageStatus_->setText(qstr(text));
    });
    imageRow->addWidget(imageRadio_, 0, 0);
    imageRow->addWidget(imageName_, 0, 1);
    imageRow->addWidget(browse, 0, 2);
    imageRow->addWidget(property, 0, 3);
    imageRow->addWidget(imageStatus_, 1, 1, 1, 3);
    v->addLayout(imageRow);
    imageControls_ = {imageName_, browse, property, imageStatus_};
    connect(waveRadio_, &QRadioButton::toggled, this, [this](bool on) { setWaveMode(on); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = push("OkButton", msg::kOk);
    auto* cancel = push("CancelButton", msg::kCancel);
    auto* help = push("HelpButton", msg::kHelpButton);
    connect(ok, &QPushButton::clicked, this, &RecFromFileDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &RecFromFileDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { Q_EMIT helpRequested(QStringLiteral("record-from-file")); });
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    v->addLayout(buttons);

    // Enter in these fields only ends the typing.
    for (QWidget* field :
         {static_cast<QWidget*>(pnoStart_), static_cast<QWidget*>(preSilence_),
          static_cast<QWidget*>(preSilence_->lineEdit()), static_cast<QWidget*>(silence_),
          static_cast<QWidget*>(silence_->lineEdit())})
        field->installEventFilter(this);
    // Delete removes the selected file; in a text field it deletes a character.
    auto* deleteKey = new QShortcut(QKeySequence::Delete, this);
    connect(deleteKey, &QShortcut::activated, this, [this, del] {
        if (waveRadio_->isChecked())
            del->click();
    });
    auto* helpKey = new QShortcut(Qt::Key_F1, this);
    connect(helpKey, &QShortcut::activated, help, &QPushButton::click);
}

bool RecFromFileDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void RecFromFileDialog::refresh()
{
    const int count = list_->count();
    grid_->setRowCount(count);
    const QFontMetrics fm = grid_->fontMetrics();
    const int nameWidth = grid_->columnWidth(List::kWaveFile) - 8;
    for (int r = 1; r <= count; ++r) {
        const List::Row& row = list_->row(r);
        for (int c = 0; c < List::kColumns; ++c) {
            std::string text = row[static_cast<std::size_t>(c)];
            if (c == List::kWaveFile)
                text = app::compactPath(text, [&](const std::string& s) {
                    return fm.horizontalAdvance(qstr(s)) <= nameWidth;
                });
            auto* item = new QTableWidgetItem(qstr(text));
            if (c == List::kWaveFile)
                item->setToolTip(qstr(row[List::kPath]));
            grid_->setItem(r - 1, c, item);
        }
    }
    if (list_->selectedRow() >= 1 && list_->selectedRow() <= count) {
        grid_->blockSignals(true);
        grid_->setCurrentCell(list_->selectedRow() - 1, 0);
        grid_->blockSignals(false);
    }
    total_->setText(qtext(msg::kTotalRecTime) + QStringLiteral(" ") + qstr(list_->totalRecTime()));
    // The next program number grows with every file registered.
    if (pnoStart_->text().toInt() != list_->pNoStart())
        pnoStart_->setText(QString::number(list_->pNoStart()));
    findChild<QPushButton*>("PlaySpeedButton")->setEnabled(count > 0 && waveRadio_->isChecked());
}

int RecFromFileDialog::run(bool autoIdChecked)
{
    autoIdChecked_ = autoIdChecked;
    decision_.reset();
    prepare();
    borrowPlayer();
    const int result = exec();
    returnPlayer();
    return result == QDialog::Accepted ? mode_ : 0;
}

void RecFromFileDialog::prepare()
{
    record::RecFileSettings s = record::RecFileSettings::fromSettings(settings_);
    s.imagePath = imageName_->text().toStdString();
    list_->show(s);
    pnoStart_->setText(QString::number(list_->pNoStart()));
    preSilence_->setCurrentText(qstr(list_->preSilenceText()));
    silence_->setCurrentText(qstr(list_->silenceText()));
    lpMode_->setChecked(list_->longPlay());
    emph_->setCurrentText(qstr(list_->emphasisText()));
    copy_->setCurrentText(qstr(list_->copyText()));
    withSound_->setChecked(!s.recFromFileOnly);
    autoEnd_->setChecked(s.recAutoEndId);
    (mode_ == 2 ? imageRadio_ : waveRadio_)->setChecked(true);
    setWaveMode(mode_ != 2);
    refresh();
    // Centred on the main window, inside the screen; the first time at its laid-out size (a
    // dialog never shown has no size yet), later at the size it was left with.
    if (!sized_) {
        adjustSize();
        sized_ = true;
    }
    if (parentWidget() != nullptr)
        centreOn(this, parentWidget()->window(), availableArea(parentWidget()->window()));
}

void RecFromFileDialog::setWaveMode(bool wave)
{
    for (QWidget* w : waveControls_)
        w->setEnabled(wave);
    for (QWidget* w : imageControls_)
        w->setEnabled(!wave);
    grid_->setStyleSheet(wave ? QString()
                              : QStringLiteral("QTableWidget { background: palette(button); }"));
    if (wave)
        refresh();
}

void RecFromFileDialog::registerFiles()
{
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, qtext(msg::kRegisterTitle), qstr(list_->settings().dir), qtext(msg::kWaveFilter));
    std::vector<std::string> files;
    for (const QString& p : paths)
        files.push_back(p.toStdString());
    if (!files.empty()) {
        list_->registerFiles(files);
        refresh();
    }
}

void RecFromFileDialog::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void RecFromFileDialog::dropEvent(QDropEvent* event)
{
    const std::vector<std::string> paths = localPaths(event->mimeData());
    if (paths.empty())
        return;
    QWidget* target = childAt(event->position().toPoint());
    if (target == imageName_ || (target != nullptr && imageName_->isAncestorOf(target))) {
        imageRadio_->setChecked(true);
        if (list_->dropImageFile(paths.front()))
            imageName_->setText(qstr(paths.front()));
    } else {
        waveRadio_->setChecked(true);
        list_->dropFiles(paths);
        refresh();
    }
    event->acceptProposedAction();
}

void RecFromFileDialog::playSelected()
{
    stopPlaying();
    if (player_ == nullptr || list_->selectedRow() < 1 || list_->selectedRow() > list_->count())
        return;
    const std::string path = list_->row(list_->selectedRow())[List::kPath];
    formats::WaveFormat f;
    if (player_->setSource(path, f) ||
        (player_->setBuffers(4, std::max<std::uint32_t>(f.avgBytesPerSec / 4, 4)),
         player_->setUseExtensible(f.bitsPerSample > 16),
         !player_->start(settings_.PlayDeviceNum, 0))) {
        sink_.showMessage(tarnvel::tr(record::msg::kUnableToPlay) + std::string("\n (") +
                              player_->getErrorText() + ")",
                          MessageIcon::Warning, {});
        return;
    }
    previewing_ = true;
}

void RecFromFileDialog::stopPlaying()
{
    if (previewing_ && player_ != nullptr)
        player_->stop();
    previewing_ = false;
    if (time_ != nullptr)
        time_->setText(QString::fromLatin1(kIdleTime));
}

void RecFromFileDialog::storeSettings()
{
    // OK has put the boxes' states into the list's record; Cancel leaves them as loaded.
    list_->settings().storeIn(settings_);
}

void RecFromFileDialog::accept()
{
    const bool wave = waveRadio_->isChecked();
    list_->setMode(wave ? record::RecFileMode::WaveList : record::RecFileMode::Image);
    list_->setWithSound(withSound_->isChecked());
    list_->setAutoEndId(autoEnd_->isChecked());
    list_->setImageName(imageName_->text().toStdString());
    const bool shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
    decision_ = list_->ok(autoIdChecked_, shift);
    if (!decision_)
        return; // the list said why, or the image question was answered Cancel
    mode_ = static_cast<int>(decision_->mode);
    stopPlaying();
    storeSettings();
    QDialog::accept();
}

void RecFromFileDialog::reject()
{
    stopPlaying();
    storeSettings();
    mode_ = waveRadio_->isChecked() ? 1 : 2;
    QDialog::reject();
}

} // namespace tarnvel::gui
