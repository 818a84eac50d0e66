#pragma once

#include "engine/UiThread.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <unordered_map>

namespace tarnvel::gui {

// The window thread of the desktop program: Qt's event loop of the thread that creates this
// object (the GUI thread). Posted tasks are queued invocations, invoke() from a worker waits
// on a condition while the GUI thread runs the task from its loop (or from any nested loop,
// a message box or a pump included), pumpFor() runs a nested event loop for the time given,
// and the deck's timers are single-shot QTimers.
class QtUiThread final : public QObject, public engine::UiThread {
    Q_OBJECT
public:
    explicit QtUiThread(QObject* parent = nullptr);
    ~QtUiThread() override;

    void post(Task task) override;
    void invoke(const Task& task) override;
    void pumpFor(int ms) override;
    TimerId callAfter(int ms, Task task) override;
    void cancel(TimerId id) override;
    bool onUiThread() const override;

private:
    Qt::HANDLE owner_;
    std::unordered_map<TimerId, QPointer<QTimer>> timers_;
    TimerId nextTimer_ = 1;
};

} // namespace tarnvel::gui
