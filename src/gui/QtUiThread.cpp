#include "gui/QtUiThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace tarnvel::gui {

QtUiThread::QtUiThread(QObject* parent) : QObject(parent), owner_(QThread::currentThreadId()) {}

QtUiThread::~QtUiThread() = default; // the timers are children

bool QtUiThread::onUiThread() const
{
    return QThread::currentThreadId() == owner_;
}

void QtUiThread::post(Task task)
{
    // Queued even on the GUI thread itself: post() always means "later".
    QMetaObject::invokeMethod(
        this, [t = std::move(task)] { t(); }, Qt::QueuedConnection);
}

void QtUiThread::invoke(const Task& task)
{
    if (onUiThread()) {
        task();
        return;
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    post([&] {
        task();
        // Notified under the lock: the waiter cannot return (and destroy these) before.
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
}

void QtUiThread::pumpFor(int ms)
{
    if (ms <= 0) {
        // At least what is pending runs, even for a wait of 0.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // A nested loop that sleeps until an event or the end of the wait: workers' invokes,
    // timers, paints and the user's input are all served meanwhile.
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

engine::UiThread::TimerId QtUiThread::callAfter(int ms, Task task)
{
    const TimerId id = nextTimer_++;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id, timer, t = std::move(task)]() mutable {
        // The task may pump events: it is taken out of the timer that is going away.
        Task run = std::move(t);
        timers_.erase(id);
        timer->deleteLater();
        run();
    });
    timers_.emplace(id, timer);
    timer->start(std::max(0, ms));
    return id;
}

void QtUiThread::cancel(TimerId id)
{
    const auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    if (QTimer* timer = it->second.data()) {
        timer->stop();
        timer->deleteLater();
    }
    timers_.erase(it);
}

} // namespace tarnvel::gui
