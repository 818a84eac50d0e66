#include "gui/PlayToFileDialog.h"

#include "app/AppMessages.h"
#include "app/ProgramIdentity.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tarnvel::gui {

using engine::PlayDestination;

PlayToFileDialog::PlayToFileDialog(app::Settings& settings, const QString& programTitle,
                                   std::function<bool()> peerRunning,
                                   std::function<bool()> virtualIdMode, QWidget* parent)
    : QDialog(parent), settings_(settings), sink_(this, programTitle),
      peerRunning_(std::move(peerRunning)), virtualIdMode_(std::move(virtualIdMode))
{
    setObjectName("TPlayToFileDlg");
    setWindowTitle(qstr(
        app::dialogCaption(programTitle.toStdString(), tarnvel::tr(app::msg::kDialogPlayToFile))));
    auto* v = new QVBoxLayout(this);
    const auto radio = [](const char* name, const MessagePair& caption) {
        auto* r = new QRadioButton(qtext(caption));
        r->setObjectName(name);
        return r;
    };
    const auto browse = [](const char* name) {
        auto* b = new QPushButton(qtext(msg::kBrowse));
        b->setObjectName(name);
        return b;
    };

    wave_ = radio("CreateWaveFileRadioButton", msg::kCreateWaveFile);
    v->addWidget(wave_);
    auto* waveBox = new QGroupBox;
    waveGroup_ = waveBox;
    auto* wg = new QGridLayout(waveBox);
    withSound_ = new QCheckBox(qtext(msg::kWithSound));
    withSound_->setObjectName("WithSoundCheckBox");
    divide_ = new QCheckBox;
    divide_->setObjectName("EnableDivideFileAtIDCheckBox");
    preRead_ = new QComboBox;
    preRead_->setObjectName("PreReadIDsecComboBox");
    for (const std::string& item : engine::PlayToFileForm::preReadItems())
        preRead_->addItem(qstr(item));
    base_ = new QLineEdit;
    base_->setObjectName("WaveFileNameBaseEdit");
    base_->setMinimumWidth(base_->fontMetrics().horizontalAdvance(QString(48, QChar('x'))));
    auto* baseBrowse = browse("WaveFileBrowseButton");
    connect(baseBrowse, &QPushButton::clicked, this, [this] {
        QFileDialog d(this, qtext(msg::kBaseFileTitle), qstr(settings_.Dir),
                      qtext(msg::kWaveFilter));
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setOption(QFileDialog::DontConfirmOverwrite);
        d.setLabelText(QFileDialog::FileName, qtext(msg::kBaseFileHint));
        if (d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty())
            base_->setText(d.selectedFiles().front());
    });
    wg->addWidget(withSound_, 0, 0, 1, 3);
    wg->addWidget(divide_, 1, 0);
    auto* preRow = new QHBoxLayout;
    preRow->addWidget(new QLabel(qtext(msg::kPreReading)));
    preRow->addWidget(preRead_);
    preRow->addWidget(new QLabel(qtext(msg::kSec)));
    preRow->addStretch(1);
    wg->addLayout(preRow, 1, 1, 1, 2);
    wg->addWidget(new QLabel(qtext(msg::kBaseFileName)), 2, 0, 1, 3);
    wg->addWidget(base_, 3, 0, 1, 2);
    wg->addWidget(baseBrowse, 3, 2);
    v->addWidget(waveBox);

    image_ = radio("CreateImageFileRadioButton", msg::kCreateImageFile);
    v->addWidget(image_);
    auto* imageBox = new QGroupBox;
    imageGroup_ = imageBox;
    auto* ig = new QGridLayout(imageBox);
    withSound2_ = new QCheckBox(qtext(msg::kWithSound));
    withSound2_->setObjectName("WithSoundCheckBox2");
    imageName_ = new QLineEdit;
    imageName_->setObjectName("ImageFileNameEdit");
    auto* imageBrowse = browse("ImageFileBrowseButton");
    connect(imageBrowse, &QPushButton::clicked, this, [this] {
        QFileDialog d(this, qtext(msg::kImageFileTitle), qstr(settings_.Dir),
                      qtext(msg::kImageFilter));
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setDefaultSuffix(QStringLiteral("TVI"));
        d.setOption(QFileDialog::DontConfirmOverwrite);
        if (d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty())
            imageName_->setText(d.selectedFiles().front());
    });
    comment_ = new QLineEdit;
    comment_->setObjectName("ImageFileCommentEdit");
    comment_->setMaxLength(80);
    ig->addWidget(withSound2_, 0, 0, 1, 3);
    ig->addWidget(new QLabel(qtext(msg::kImageFileName)), 1, 0);
    ig->addWidget(imageName_, 1, 1);
    ig->addWidget(imageBrowse, 1, 2);
    ig->addWidget(new QLabel(qtext(msg::kComment)), 2, 0);
    ig->addWidget(comment_, 2, 1, 1, 2);
    v->addWidget(imageBox);

    toDat_ = radio("RecToDatRadioButton", msg::kRecToDat);
    imageToDat_ = radio("RecImageToDatRadioButton", msg::kRecImageToDat);
    v->addWidget(toDat_);
    v->addWidget(imageToDat_);

    // One setting behind both boxes.
    connect(withSound_, &QCheckBox::toggled, withSound2_, &QCheckBox::setChecked);
    connect(withSound2_, &QCheckBox::toggled, withSound_, &QCheckBox::setChecked);
    for (QRadioButton* r : {wave_, image_, toDat_, imageToDat_})
        connect(r, &QRadioButton::toggled, this, [this] { updateEnabled(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(qtext(msg::kOk));
    ok->setObjectName("OkButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(qtext(msg::kCancel));
    cancel->setObjectName("CancelButton");
    auto* help = new QPushButton(qtext(msg::kHelpButton));
    help->setObjectName("HelpButton");
    connect(ok, &QPushButton::clicked, this, &PlayToFileDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PlayToFileDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { Q_EMIT helpRequested(QStringLiteral("playback-to-file")); });
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    v->addLayout(buttons);
}

void PlayToFileDialog::prepare()
{
    form_.show(settings_, peerRunning_ && peerRunning_(), virtualIdMode_ && virtualIdMode_());
    switch (form_.destination) {
    case PlayDestination::Wave:
        wave_->setChecked(true);
        break;
    case PlayDestination::Image:
        image_->setChecked(true);
        break;
    case PlayDestination::PeerAudio:
        toDat_->setChecked(true);
        break;
    case PlayDestination::PeerImage:
        imageToDat_->setChecked(true);
        break;
    }
    toDat_->setEnabled(form_.destinationEnabled(PlayDestination::PeerAudio));
    imageToDat_->setEnabled(form_.destinationEnabled(PlayDestination::PeerImage));
    withSound_->setChecked(form_.withSound);
    divide_->setText(qstr(form_.divideCaption()));
    divide_->setChecked(form_.divide);
    preRead_->setCurrentIndex(form_.preReadIndex);
    base_->setText(qstr(form_.waveBase));
    imageName_->setText(qstr(form_.imageName));
    comment_->setText(qstr(form_.imageComment));
    updateEnabled();
}

void PlayToFileDialog::updateEnabled()
{
    waveGroup_->setEnabled(wave_->isChecked());
    imageGroup_->setEnabled(image_->isChecked());
}

void PlayToFileDialog::fromControls()
{
    form_.destination = wave_->isChecked()    ? PlayDestination::Wave
                        : image_->isChecked() ? PlayDestination::Image
                        : toDat_->isChecked() ? PlayDestination::PeerAudio
                                              : PlayDestination::PeerImage;
    form_.withSound = withSound_->isChecked();
    form_.divide = divide_->isChecked();
    form_.preReadIndex = preRead_->currentIndex();
    form_.waveBase = base_->text().trimmed().toStdString();
    form_.imageName = imageName_->text().trimmed().toStdString();
    form_.imageComment = comment_->text().toStdString();
}

bool PlayToFileDialog::run(engine::Modifiers, engine::PlayToFileRequest& request)
{
    prepare();
    if (exec() != QDialog::Accepted)
        return false;
    request = form_.request();
    return true;
}

void PlayToFileDialog::accept()
{
    fromControls();
    const bool shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
    const auto ask = [this](const std::string& question) {
        return askMessageBox(this, windowTitle(), question, engine::Buttons::OkCancel,
                             MessageIcon::Warning, {})
            .yes;
    };
    if (!form_.ok(settings_, shift, ask, sink_))
        return;
    // The names as the form made them (absolute).
    base_->setText(qstr(form_.waveBase));
    imageName_->setText(qstr(form_.imageName));
    QDialog::accept();
}

} // namespace tarnvel::gui
