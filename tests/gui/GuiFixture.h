#pragma once

#include "dat/DatDrive.h"
#include "gui/MainWindow.h"
#include "gui/QtUiThread.h"
#include "sim/Cassette.h"
#include "sim/DemoTape.h"
#include "sim/SimulatedDrive.h"
#include "sound/NullAudioBackend.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tarnvel::gui::test {

// Answers the message boxes that come up (from a script, else with the default button) and
// keeps their texts.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }
    std::vector<std::string> texts;
    std::vector<std::string> titles;
    std::vector<int> widths;
    std::deque<QMessageBox::StandardButton> answers;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        texts.push_back(box->text().toStdString());
        titles.push_back(box->windowTitle().toStdString());
        widths.push_back(box->width());
        QAbstractButton* b = nullptr;
        if (!answers.empty()) {
            b = box->button(answers.front());
            answers.pop_front();
        }
        if (b == nullptr)
            b = box->defaultButton() != nullptr ? box->defaultButton() : box->buttons().front();
        b->click();
    }
    QTimer timer_;
};

// The main window whose text changes are kept, so that a short-lived status shows.
class RecordingWindow : public MainWindow {
public:
    using MainWindow::MainWindow;
    void setText(engine::Control c, const std::string& text) override
    {
        history.push_back(std::string(engine::controlName(c)) + "=" + text);
        MainWindow::setText(c, text);
    }
    bool shown(engine::Control c, const std::string& text) const
    {
        const std::string entry = std::string(engine::controlName(c)) + "=" + text;
        for (const auto& h : history)
            if (h == entry)
                return true;
        return false;
    }
    std::vector<std::string> history;
};

// A main window on a simulated drive with the null sound device.
class GuiFixture : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string cassettePath = dir.file("tape.tvs");
    QtUiThread ui;
    app::Settings settings;
    std::shared_ptr<sim::SimulatedDrive> simDrive;
    std::unique_ptr<RecordingWindow> window;
    BoxAnswerer boxes;
    std::vector<QUrl> openedUrls; // the manual's pages the window opened

    void makeDemoTape()
    {
        std::string error;
        ASSERT_TRUE(sim::createDemoCassette(cassettePath, error)) << error;
    }

    static sim::SimOptions fastSim()
    {
        sim::SimOptions o;
        o.cueMilliseconds = 30;
        o.motionScale = 0.01;
        return o;
    }

    void openWindow(bool withCassette = true, sim::SimOptions simOptions = fastSim(),
                    bool realTimeSound = false)
    {
        settings.PlayRecDriverType = 0;
        MainWindowOptions o;
        o.deck.openDrive = [this, withCassette, simOptions](std::string& error) {
            auto sim = sim::SimulatedDrive::open(withCassette ? cassettePath : std::string{},
                                                 simOptions, error);
            if (!sim)
                return std::unique_ptr<dat::DatDrive>{};
            simDrive = std::shared_ptr<sim::SimulatedDrive>(std::move(sim));
            auto drive = std::make_unique<dat::DatDrive>(false, nullptr);
            drive->addTarget(simDrive);
            drive->scanDevices(scsi::kTypeSequentialAccess);
            return drive;
        };
        sound::NullDeviceOptions nullDevice;
        nullDevice.realTime = realTimeSound;
        o.deck.audio = std::make_shared<sound::NullBackendProvider>(nullDevice);
        o.deck.errorPauseMs = 0;
        o.manualPath = dir.file("manual.html");
        o.openUrl = [this](const QUrl& url) {
            openedUrls.push_back(url);
            return true;
        };
        window = std::make_unique<RecordingWindow>(ui, settings, std::move(o));
        window->show();
        QApplication::setActiveWindow(window.get());
        window->activate();
    }

    engine::Deck& deck() { return window->deck(); }

    template <class F> bool pumpUntil(F done, int limitMs = 30000)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < limitMs)
            ui.pumpFor(10);
        return done();
    }

    QWidget* control(engine::Control c) { return window->control(c); }
    template <class T = QWidget> T* find(const char* name)
    {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (T* w = top->objectName() == name ? qobject_cast<T*>(top) : top->findChild<T*>(name))
                return w;
        return nullptr;
    }

    void waitForTransport()
    {
        ASSERT_TRUE(pumpUntil([&] { return deck().transportEnabled(); })) << window->history.back();
    }

    void TearDown() override { window.reset(); }
};

} // namespace tarnvel::gui::test
