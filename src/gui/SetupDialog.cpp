#include "gui/SetupDialog.h"

#include "app/AppMessages.h"
#include "app/ProgramIdentity.h"
#include "gui/AboutDialog.h"
#include "gui/FormatListWindow.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "gui/WindowPlace.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tarnvel::gui {

using C = app::SetupControl;

namespace {

// The two buttons of a radio group, by their names.
const char* secondRadioName(C c)
{
    return c == C::ExtendedFormatRadioGroup ? "ExtendedFormat_24_RadioButton" : "SPTIRadioButton";
}
const char* firstRadioName(C c)
{
    return c == C::ExtendedFormatRadioGroup ? "ExtendedFormat_HS_RadioButton" : "ASPIRadioButton";
}

} // namespace

SetupDialog::SetupDialog(app::SetupForm& form, app::Settings& settings, const QString& programTitle,
                         MessageSink& sink, QWidget* parent)
    : QDialog(parent), form_(form), settings_(settings), sink_(sink)
{
    setObjectName("TSetupDlg");
    setWindowTitle(
        qstr(app::dialogCaption(programTitle.toStdString(), tarnvel::tr(app::msg::kDialogSetup))));
    auto* v = new QVBoxLayout(this);
    pages_ = new QTabWidget;
    pages_->setObjectName("SetupPageControl");
    pages_->addTab(buildPlayRec(), qstr(app::SetupForm::pageCaption(app::SetupPage::PlayRec)));
    pages_->addTab(buildSoundDevice(),
                   qstr(app::SetupForm::pageCaption(app::SetupPage::SoundDevice)));
    pages_->addTab(buildMisc(), qstr(app::SetupForm::pageCaption(app::SetupPage::Misc)));
    pages_->widget(0)->setObjectName("PlayRecTabSheet");
    pages_->widget(1)->setObjectName("SoundDevTabSheet");
    pages_->widget(2)->setObjectName("MiscTabSheet");
    connect(pages_, &QTabWidget::currentChanged, this, &SetupDialog::pageChanged);
    v->addWidget(pages_);

    auto* buttons = new QHBoxLayout;
    auto* about = new QPushButton(qtext(msg::kAbout));
    about->setObjectName("AboutButton");
    connect(about, &QPushButton::clicked, this, [this] {
        AboutDialog box(this);
        box.exec();
    });
    auto* ok = new QPushButton(qtext(msg::kApply));
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &SetupDialog::accept);
    auto* cancel = new QPushButton(qtext(msg::kCancel));
    cancel->setObjectName("CancelButton");
    connect(cancel, &QPushButton::clicked, this, &SetupDialog::reject);
    auto* help = new QPushButton(qtext(msg::kHelpButton));
    help->setObjectName("HelpButton");
    connect(help, &QPushButton::clicked, this, [this] {
        static const char* topics[3] = {"setup-playrec", "setup-sound-device", "setup-misc"};
        Q_EMIT helpRequested(QString::fromLatin1(topics[std::clamp(pages_->currentIndex(), 0, 2)]));
    });
    buttons->addWidget(about);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    v->addLayout(buttons);
}

QWidget* SetupDialog::make(C c)
{
    const auto i = static_cast<std::size_t>(c);
    const QString name = qstr(std::string(app::SetupForm::controlName(c)));
    if (c == C::ExtendedFormatRadioGroup || c == C::ScsiModeRadioGroup) {
        const auto items = form_.items(c);
        auto* a = new QRadioButton(qstr(items[0]));
        auto* b = new QRadioButton(qstr(items[1]));
        a->setObjectName(firstRadioName(c));
        b->setObjectName(secondRadioName(c));
        auto* group = new QButtonGroup(this);
        group->addButton(a, 0);
        group->addButton(b, 1);
        connect(group, &QButtonGroup::idClicked, this, [this, c](int id) {
            if (!filling_)
                form_.select(c, id);
            refresh();
        });
        widgets_[i] = a;
        secondRadio_[i] = b;
        return a;
    }
    if (app::SetupForm::isChoice(c)) {
        auto* box = new QComboBox;
        box->setObjectName(name);
        connect(box, &QComboBox::activated, this, [this, c](int index) {
            if (!filling_) {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                form_.select(c, index);
                QApplication::restoreOverrideCursor();
            }
            refresh();
        });
        widgets_[i] = box;
        return box;
    }
    auto* check = new QCheckBox(qstr(app::SetupForm::caption(c)));
    check->setObjectName(name);
    connect(check, &QCheckBox::clicked, this, [this, c](bool on) {
        if (!filling_)
            form_.setChecked(c, on);
        refresh();
    });
    widgets_[i] = check;
    return check;
}

QLabel* SetupDialog::noteLabel(C representative)
{
    auto* l = new QLabel;
    l->setStyleSheet(QStringLiteral("color: #b00000;"));
    l->setVisible(false);
    notes_.emplace_back(l, representative);
    return l;
}

QWidget* SetupDialog::buildPlayRec()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->addWidget(make(C::EnableSkipPlayCheckBox));
    v->addWidget(make(C::EnableDeEmphasisCheckBox));

    auto* errorFrame = new QGroupBox(qtext(msg::kGroupErrorFrame));
    auto* ef = new QVBoxLayout(errorFrame);
    ef->addWidget(make(C::EnableErrorMuteCheckBox));
    ef->addWidget(make(C::ResetErrorAtIDCheckBox));
    ef->addWidget(make(C::WriteAbsTimeErrorFrameToFileCheckBox));
    v->addWidget(errorFrame);

    auto* counters = new QGroupBox(qtext(msg::kGroupErrorCounter));
    auto* cf = new QFormLayout(counters);
    cf->addRow(qstr(app::SetupForm::caption(C::ErrorStopCounterComboBox)),
               make(C::ErrorStopCounterComboBox));
    cf->addRow(qstr(app::SetupForm::caption(C::AbsTimeErrorStopCounterComboBox)),
               make(C::AbsTimeErrorStopCounterComboBox));
    v->addWidget(counters);

    auto* rec = new QGroupBox(qtext(msg::kGroupRecording));
    auto* rf = new QFormLayout(rec);
    rf->addRow(qstr(app::SetupForm::caption(C::RecFormatComboBox)), make(C::RecFormatComboBox));
    rf->addRow(QString(), make(C::RecEmphBitsCheckBox));
    rf->addRow(qstr(app::SetupForm::caption(C::RecCopyBitsComboBox)), make(C::RecCopyBitsComboBox));
    rf->addRow(QString(), make(C::CreateWaveFileOnRecCheckBox));
    rf->addRow(noteLabel(C::RecFormatComboBox));
    v->addWidget(rec);

    auto* ext = new QGroupBox(qstr(app::SetupForm::caption(C::ExtendedFormatRadioGroup)));
    auto* xf = new QVBoxLayout(ext);
    xf->addWidget(make(C::ExtendedFormatRadioGroup));
    xf->addWidget(secondRadio_[static_cast<std::size_t>(C::ExtendedFormatRadioGroup)]);
    auto* bits = new QHBoxLayout;
    bits->addWidget(
        new QLabel(qstr(app::SetupForm::caption(C::ExtendedFormatPlayRecBitLenComboBox))));
    bits->addWidget(make(C::ExtendedFormatPlayRecBitLenComboBox));
    bits->addStretch(1);
    xf->addLayout(bits);
    xf->addWidget(noteLabel(C::ExtendedFormatRadioGroup));
    v->addWidget(ext);
    v->addStretch(1);
    return page;
}

QWidget* SetupDialog::buildSoundDevice()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* driverRow = new QHBoxLayout;
    driverRow->addWidget(new QLabel(qstr(app::SetupForm::caption(C::DriverTypeComboBox))));
    driverRow->addWidget(make(C::DriverTypeComboBox));
    driverRow->addWidget(make(C::UseWFExtensibleCheckBox));
    driverRow->addStretch(1);
    v->addLayout(driverRow);
    v->addWidget(noteLabel(C::DriverTypeComboBox));

    const auto deviceGroup = [&](app::SetupDevice d) {
        const bool play = d == app::SetupDevice::Playback;
        auto* box = new QGroupBox(qtext(play ? msg::kGroupPlayback : msg::kGroupRecord));
        auto* g = new QGridLayout(box);
        const C devices = play ? C::PlayDevicesComboBox : C::RecDevicesComboBox;
        const C channels = play ? C::ASIO_PlayChComboBox : C::ASIO_RecChComboBox;
        g->addWidget(new QLabel(qstr(app::SetupForm::caption(devices))), 0, 0);
        g->addWidget(make(devices), 0, 1, 1, 3);
        g->addWidget(new QLabel(qstr(app::SetupForm::caption(channels))), 1, 0);
        g->addWidget(make(channels), 1, 1);
        auto* list = new QPushButton(qtext(msg::kFormatList));
        list->setObjectName(play ? "PlayListFormatButton" : "RecListFormatButton");
        connect(list, &QPushButton::clicked, this, [this, d] {
            const bool shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const app::FormatListView view = form_.formatList(d, shift);
            QApplication::restoreOverrideCursor();
            FormatListWindow w(view, this);
            w.exec();
        });
        auto* info = new QPushButton(qtext(msg::kInfoPanel));
        info->setObjectName(play ? "ASIO_PlayInfoPanelButton" : "ASIO_RecInfoPanelButton");
        connect(info, &QPushButton::clicked, this, [this, d] {
            form_.infoPanel(d, (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0);
        });
        g->addWidget(list, 1, 2);
        g->addWidget(info, 1, 3);
        (play ? playFormatList_ : recFormatList_) = list;
        (play ? playInfo_ : recInfo_) = info;
        if (play) {
            g->addWidget(make(C::PlayFullVolumeCheckBox), 2, 1, 1, 3);
        } else {
            g->addWidget(make(C::RecMonitorCheckBox), 2, 1);
            g->addWidget(make(C::ASIO_DirectMonitorCheckBox), 2, 2, 1, 2);
        }
        g->addWidget(noteLabel(devices), 3, 0, 1, 4);
        return box;
    };
    v->addWidget(deviceGroup(app::SetupDevice::Playback));
    v->addWidget(deviceGroup(app::SetupDevice::Record));

    auto* volume = new QPushButton(qtext(msg::kVolumeControl));
    volume->setObjectName("OpenVolumeControlButton");
    connect(volume, &QPushButton::clicked, this, [this] {
        const QString command = qstr(form_.mixerCommand()).trimmed();
        QStringList parts = QProcess::splitCommand(command);
        const bool started = !parts.isEmpty() && [&] {
            const QString program = parts.takeFirst();
            return QProcess::startDetached(program, parts);
        }();
        if (!started)
            sink_.showMessage(app::SetupForm::mixerFailedText(form_.mixerCommand()),
                              MessageIcon::Warning, tarnvel::tr(app::msg::kSetupCaptionVolume));
    });
    auto* row = new QHBoxLayout;
    row->addWidget(volume);
    row->addStretch(1);
    v->addLayout(row);
    v->addStretch(1);
    return page;
}

QWidget* SetupDialog::buildMisc()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* wave = new QGroupBox(qtext(msg::kGroupWaveDisplay));
    auto* wf = new QFormLayout(wave);
    wf->addRow(qstr(app::SetupForm::caption(C::WaveDrawTypeComboBox)),
               make(C::WaveDrawTypeComboBox));
    wf->addRow(qstr(app::SetupForm::caption(C::WaveYMagComboBox)), make(C::WaveYMagComboBox));
    wf->addRow(qstr(app::SetupForm::caption(C::WaveXMagComboBox)), make(C::WaveXMagComboBox));
    v->addWidget(wave);
    auto* xy = new QGroupBox(qtext(msg::kGroupLissajous));
    auto* xf = new QVBoxLayout(xy);
    xf->addWidget(make(C::LissajousBezierCheckBox));
    v->addWidget(xy);
    auto* counter = new QGroupBox(qtext(msg::kGroupCounter));
    auto* cf = new QVBoxLayout(counter);
    cf->addWidget(make(C::CountPgmTimeCheckBox));
    cf->addWidget(make(C::CountRunTimeCheckBox));
    cf->addWidget(make(C::CountRealTimeCheckBox));
    v->addWidget(counter);
    auto* date = new QGroupBox(qtext(msg::kGroupDate));
    auto* df = new QVBoxLayout(date);
    df->addWidget(make(C::DisplayDateCheckBox));
    df->addWidget(make(C::WriteDateCheckBox));
    v->addWidget(date);
    auto* scsi = new QGroupBox(qstr(app::SetupForm::caption(C::ScsiModeRadioGroup)));
    auto* sf = new QHBoxLayout(scsi);
    sf->addWidget(make(C::ScsiModeRadioGroup));
    sf->addWidget(secondRadio_[static_cast<std::size_t>(C::ScsiModeRadioGroup)]);
    sf->addStretch(1);
    v->addWidget(scsi);
    v->addStretch(1);
    return page;
}

QWidget* SetupDialog::controlWidget(C c) const
{
    return widgets_[static_cast<std::size_t>(c)];
}

void SetupDialog::refresh()
{
    filling_ = true;
    for (int i = 0; i < static_cast<int>(C::Count_); ++i) {
        const auto c = static_cast<C>(i);
        QWidget* w = widgets_[static_cast<std::size_t>(i)];
        if (w == nullptr)
            continue;
        const bool enabled = form_.enabled(c);
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            QStringList items;
            for (const std::string& s : form_.items(c))
                items << qstr(s);
            QStringList current;
            for (int k = 0; k < box->count(); ++k)
                current << box->itemText(k);
            if (items != current) {
                box->clear();
                box->addItems(items);
            }
            box->setCurrentIndex(form_.selectedIndex(c));
            box->setEnabled(enabled);
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            check->setChecked(form_.checked(c));
            check->setEnabled(enabled);
        } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            QAbstractButton* second = secondRadio_[static_cast<std::size_t>(i)];
            const int index = form_.selectedIndex(c);
            radio->setChecked(index == 0);
            second->setChecked(index == 1);
            radio->setEnabled(enabled);
            second->setEnabled(enabled);
        }
    }
    for (auto& [label, control] : notes_) {
        const std::string note = form_.note(control);
        label->setText(qstr(note));
        label->setVisible(!note.empty());
    }
    playFormatList_->setEnabled(form_.formatListEnabled(app::SetupDevice::Playback));
    recFormatList_->setEnabled(form_.formatListEnabled(app::SetupDevice::Record));
    playInfo_->setEnabled(form_.infoPanelEnabled(app::SetupDevice::Playback));
    recInfo_->setEnabled(form_.infoPanelEnabled(app::SetupDevice::Record));
    filling_ = false;
}

void SetupDialog::pageChanged(int page)
{
    if (filling_)
        return;
    if (!form_.selectPage(static_cast<app::SetupPage>(page))) {
        filling_ = true;
        pages_->setCurrentIndex(shownPage_);
        filling_ = false;
        return;
    }
    shownPage_ = page;
    refresh();
}

void SetupDialog::showForm()
{
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    form_.show();
    const app::WindowPlacement& p = settings_.SetupDialog;
    if (p.Width > 0 && p.Height > 0)
        resize(p.Width, p.Height);
    refresh();
    if (p.PosX > 0 || p.PosY > 0)
        placeInside(this, QPoint(p.PosX, p.PosY), availableArea(this, QPoint(p.PosX, p.PosY)));
    show();
}

void SetupDialog::storePlacement()
{
    app::WindowPlacement& p = settings_.SetupDialog;
    p.PosX = std::clamp(x(), 0, 2000);
    p.PosY = std::clamp(y(), 0, 2000);
    p.Width = std::clamp(width(), 0, 2000);
    p.Height = std::clamp(height(), 0, 2000);
}

void SetupDialog::accept()
{
    form_.ok();
    storePlacement();
    QDialog::accept();
}

void SetupDialog::reject()
{
    form_.cancel();
    storePlacement();
    QDialog::reject();
}

} // namespace tarnvel::gui
