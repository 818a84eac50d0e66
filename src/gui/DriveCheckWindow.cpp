#include "gui/DriveCheckWindow.h"

#include "diag/DiagMessages.h"
#include "engine/Deck.h"
#include "formats/StringPrintf.h"
#include "gui/GuiText.h"
#include "gui/MessageBoxes.h"

#include <QCloseEvent>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnvel::gui {

namespace msg = diag::msg;

// Hands the steps over to the window's thread.
class DriveCheckWindow::Listener : public diag::DriveCheckListener {
public:
    explicit Listener(DriveCheckWindow* window) : window_(window) {}
    void stepStarted(const std::string& name) override
    {
        const QString text = qstr(name);
        QMetaObject::invokeMethod(
            window_, [w = window_, text] { w->stepStarted(text); }, Qt::QueuedConnection);
    }
    void stepDone(const diag::CheckStep& step) override
    {
        const QString text = qstr(diag::DriveCheck::stepText(step, ++number_));
        QMetaObject::invokeMethod(
            window_, [w = window_, text] { w->stepDone(text); }, Qt::QueuedConnection);
    }

private:
    DriveCheckWindow* window_;
    int number_ = 0;
};

DriveCheckWindow::DriveCheckWindow(engine::Deck& deck, QWidget* parent,
                                   std::function<void(int)> sleep)
    : QDialog(parent), deck_(deck), sleep_(std::move(sleep))
{
    setObjectName("DriveCheckWindow");
    setWindowTitle(qtext(msg::kWindowTitle));
    setModal(true);
    auto* v = new QVBoxLayout(this);
    auto* intro = new QLabel(qtext(msg::kWindowIntro));
    intro->setWordWrap(true);
    v->addWidget(intro);
    steps_ = new QPlainTextEdit;
    steps_->setObjectName("StepsText");
    steps_->setReadOnly(true);
    steps_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    steps_->setMinimumSize(640, 400);
    v->addWidget(steps_, 1);
    status_ = new QLabel;
    status_->setObjectName("StatusLabel");
    v->addWidget(status_);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(qtext(msg::kStart));
    start_->setObjectName("StartButton");
    stopButton_ = new QPushButton(qtext(msg::kStop));
    stopButton_->setObjectName("StopButton");
    stopButton_->setEnabled(false);
    save_ = new QPushButton(qtext(msg::kSaveReport));
    save_->setObjectName("SaveButton");
    save_->setEnabled(false);
    close_ = new QPushButton(qtext(msg::kClose));
    close_->setObjectName("CloseButton");
    buttons->addWidget(start_);
    buttons->addWidget(stopButton_);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(close_);
    v->addLayout(buttons);
    connect(start_, &QPushButton::clicked, this, [this] { start(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        stop_ = true;
        stopButton_->setEnabled(false);
        status_->setText(qtext(msg::kStopping));
    });
    connect(save_, &QPushButton::clicked, this, [this] { saveReport(); });
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    // The deck and its drive go with the main window: it waits for the check to end.
    if (parent != nullptr)
        parent->installEventFilter(this);
}

DriveCheckWindow::~DriveCheckWindow()
{
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
}

bool DriveCheckWindow::start()
{
    if (running_)
        return false;
    if (!deck_.idle()) {
        showMessageBox(this, windowTitle(), tarnvel::tr(msg::kDeckBusy), MessageIcon::Warning, {});
        return false;
    }
    running_ = true;
    stop_ = false;
    steps_->clear();
    start_->setEnabled(false);
    save_->setEnabled(false);
    close_->setEnabled(false);
    stopButton_->setEnabled(true);
    deck_.stopTimer();
    listener_ = std::make_unique<Listener>(this);
    diag::DriveCheckOptions options;
    options.stop = &stop_;
    options.keepAudioMode = deck_.hasDrive();
    options.sleep = sleep_;
    check_ = std::make_unique<diag::DriveCheck>(options, listener_.get());
    dat::DatDrive* drive = deck_.drive();
    const int d = deck_.driveIndex();
    worker_ = std::thread([this, drive, d] {
        if (drive != nullptr)
            check_->run(*drive, d);
        else
            check_->run(sim::DriveRequest{}); // the deck found no drive object at all
        QMetaObject::invokeMethod(
            this, [this] { finished(); }, Qt::QueuedConnection);
    });
    return true;
}

void DriveCheckWindow::stepStarted(const QString& name)
{
    if (!stop_)
        status_->setText(qstr(
            formats::stringPrintf(tarnvel::tr(msg::kRunningStep), name.toStdString().c_str())));
}

void DriveCheckWindow::stepDone(const QString& text)
{
    steps_->moveCursor(QTextCursor::End);
    steps_->insertPlainText(text);
    steps_->ensureCursorVisible();
}

void DriveCheckWindow::finished()
{
    if (worker_.joinable())
        worker_.join();
    running_ = false;
    int pass = 0, fail = 0, skip = 0;
    for (const diag::CheckStep& s : check_->steps())
        (s.result == diag::StepResult::Pass   ? pass
         : s.result == diag::StepResult::Fail ? fail
                                              : skip)++;
    status_->setText(qstr(formats::stringPrintf(tarnvel::tr(msg::kFinished), pass, fail, skip)));
    start_->setEnabled(true);
    stopButton_->setEnabled(false);
    save_->setEnabled(true);
    close_->setEnabled(true);
    // The deck takes the drive back: its polling resumes and sees where the tape is now.
    deck_.startTimer(1000);
    if (deck_.idle())
        deck_.pollNow();
    if (closeMainWindow_ && parentWidget() != nullptr)
        QMetaObject::invokeMethod(parentWidget(), "close", Qt::QueuedConnection);
}

bool DriveCheckWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Close && running_) {
        stop_ = true;
        closeMainWindow_ = true;
        status_->setText(qtext(msg::kStopping));
        event->ignore();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QString DriveCheckWindow::shownText() const
{
    return steps_->toPlainText();
}

bool DriveCheckWindow::saveReportTo(const std::string& path)
{
    std::string error;
    if (check_ && check_->saveReport(path, error))
        return true;
    showMessageBox(
        this, windowTitle(),
        formats::stringPrintf(tarnvel::tr(msg::kReportNotSaved), path.c_str(), error.c_str()),
        MessageIcon::Warning, {});
    return false;
}

void DriveCheckWindow::saveReport()
{
    const QString suggested = QDir::home().filePath(qstr(diag::DriveCheck::defaultReportName()));
    const QString path = QFileDialog::getSaveFileName(this, qtext(msg::kSaveReport), suggested,
                                                      qtext(msg::kReportFiles));
    if (!path.isEmpty())
        saveReportTo(path.toStdString());
}

void DriveCheckWindow::closeEvent(QCloseEvent* event)
{
    // The check ends after its running step; the window closes once it has.
    if (running_) {
        stop_ = true;
        status_->setText(qtext(msg::kStopping));
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void DriveCheckWindow::reject()
{
    if (running_) {
        stop_ = true;
        status_->setText(qtext(msg::kStopping));
        return;
    }
    QDialog::reject();
}

} // namespace tarnvel::gui
