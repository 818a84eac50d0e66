#include "gui/QtUiThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace tarnvel::gui {
namespace {

// Pumps until `done` or a generous limit (a loaded machine is slow, never wrong).
template <class F> bool pumpUntil(QtUiThread& ui, F done, int limitMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        ui.pumpFor(5);
    return done();
}

TEST(QtUiThreadTest, WorkersInvokeOnTheGuiThreadWhileItPumps)
{
    QtUiThread ui;
    EXPECT_TRUE(ui.onUiThread());
    std::atomic<int> ranOnGui{0};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        EXPECT_FALSE(ui.onUiThread());
        for (int i = 0; i < 20; ++i)
            ui.invoke([&] {
                if (ui.onUiThread())
                    ++ranOnGui;
            });
        workerDone = true;
    });
    EXPECT_TRUE(pumpUntil(ui, [&] { return workerDone.load(); }));
    worker.join();
    EXPECT_EQ(ranOnGui.load(), 20);

    // On the GUI thread invoke runs at once; post always runs later, in order.
    std::vector<int> order;
    ui.invoke([&] { order.push_back(1); });
    ui.post([&] { order.push_back(3); });
    ui.post([&] { order.push_back(4); });
    order.push_back(2);
    ui.pumpFor(0);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(QtUiThreadTest, TimersFireOnceAndCancelledOnesNever)
{
    QtUiThread ui;
    int fired = 0;
    int cancelled = 0;
    ui.callAfter(10, [&] { ++fired; });
    const auto id = ui.callAfter(10, [&] { ++cancelled; });
    ui.cancel(id);
    ui.cancel(9999); // unknown: ignored
    // A timer's task may pump events itself (the deck's poll does).
    int nested = 0;
    ui.callAfter(5, [&] {
        ui.callAfter(1, [&] { ++nested; });
        ui.pumpFor(50);
    });
    EXPECT_TRUE(pumpUntil(ui, [&] { return fired == 1 && nested == 1; }));
    ui.pumpFor(50);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(cancelled, 0);
}

} // namespace
} // namespace tarnvel::gui
