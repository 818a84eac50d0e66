#pragma once

#include "diag/DriveCheck.h"

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tarnvel::engine {
class Deck;
}

namespace tarnvel::gui {

// Help → "Check the drive...": the drive check on the deck's drive, its steps shown as they
// pass, its report saved where the user says. The check runs on a thread of its own while the
// deck is idle with its polling stopped; the window is modal, so nothing else reaches the drive
// meanwhile. Stop ends it after the running step; closing this window or the main window (a
// signal closes it too) waits for that, then closes.
class DriveCheckWindow : public QDialog {
    Q_OBJECT
public:
    // `sleep`: the waits between the check's polls (null: real ones; tests shorten them).
    DriveCheckWindow(engine::Deck& deck, QWidget* parent,
                     std::function<void(int milliseconds)> sleep = {});
    ~DriveCheckWindow() override;

    // Starts the check (false when the deck is busy, which is said).
    bool start();
    bool running() const { return running_; }
    const diag::DriveCheck& check() const { return *check_; }
    QString shownText() const;
    // Writes the report; false (said in a message) when it cannot be written.
    bool saveReportTo(const std::string& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Listener;
    void stepStarted(const QString& name);
    void stepDone(const QString& text);
    void finished();
    void saveReport();

    engine::Deck& deck_;
    std::function<void(int)> sleep_;
    std::unique_ptr<Listener> listener_;
    std::unique_ptr<diag::DriveCheck> check_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    bool running_ = false;
    bool closeMainWindow_ = false; // the main window was closed while the check ran
    QLabel* status_;
    QPlainTextEdit* steps_;
    QPushButton* start_;
    QPushButton* stopButton_;
    QPushButton* save_;
    QPushButton* close_;
};

} // namespace tarnvel::gui
