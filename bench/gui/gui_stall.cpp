// The longest time the desktop program's GUI thread goes without serving its event loop
// while the deck searches, winds and plays: the real main window on a simulated drive at
// deck speed with a real-time null sound device. A timer that should fire every 2 ms on the
// GUI thread notes the longest gap between two of its turns.
//
//   bench_gui_stall            prints the longest stall of each phase (target: below 50 ms)
#include "dat/DatDrive.h"
#include "gui/MainWindow.h"
#include "gui/QtUiThread.h"
#include "sim/DemoTape.h"
#include "sim/SimulatedDrive.h"
#include "sound/NullAudioBackend.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace tarnvel;

namespace {

// Gaps between the turns of a 2 ms timer on the GUI thread.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0)
                longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    void reset()
    {
        longest_ = 0;
        last_ = -1;
    }
    double longestMs() const { return static_cast<double>(longest_) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    qint64 longest_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    char folder[] = "/tmp/tarnvel-stall-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    const std::string cassette = std::string(folder) + "/demo.tvs";
    std::string error;
    if (!sim::createDemoCassette(cassette, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    gui::QtUiThread ui;
    app::Settings settings;
    gui::MainWindowOptions o;
    o.deck.openDrive = [&cassette](std::string& e) -> std::unique_ptr<dat::DatDrive> {
        sim::SimOptions so;
        so.realtime = true; // frames at 33 1/3 a second, winds at deck speed
        auto simDrive = sim::SimulatedDrive::open(cassette, so, e);
        if (!simDrive)
            return nullptr;
        auto drive = std::make_unique<dat::DatDrive>(false, nullptr);
        drive->addTarget(std::shared_ptr<sim::SimulatedDrive>(std::move(simDrive)));
        drive->scanDevices(scsi::kTypeSequentialAccess);
        return drive;
    };
    o.deck.audio = std::make_shared<sound::NullBackendProvider>(sound::NullDeviceOptions{});
    o.openUrl = [](const QUrl&) { return true; };
    int status = 0;
    {
        gui::MainWindow window(ui, settings, o);
        window.show();
        window.activate();
        engine::Deck& deck = window.deck();
        const auto pumpUntil = [&](auto done, int limitMs) {
            QElapsedTimer t;
            t.start();
            while (!done() && t.elapsed() < limitMs)
                ui.pumpFor(10);
            return done();
        };
        if (!pumpUntil([&] { return deck.transportEnabled(); }, 30000)) {
            std::fprintf(stderr, "the tape did not become ready\n");
            return 1;
        }
        StallMeter meter;
        const auto phase = [&](const char* name, auto&& run) {
            meter.reset();
            run();
            pumpUntil([&] { return deck.transportEnabled(); }, 60000);
            std::printf("%-34s longest GUI stall %6.1f ms\n", name, meter.longestMs());
            if (meter.longestMs() > 50)
                status = 2;
        };
        phase("search PNo 3 (wind at deck speed)", [&] { deck.searchProgram(3, {}); });
        phase("rewind", [&] { deck.rewind(); });
        phase("play 5 s, then stop", [&] {
            deck.play({});
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 5000)
                ui.pumpFor(10);
            deck.stop();
        });
        phase("search PNo 2 with Shift (plays)", [&] {
            deck.searchProgram(2, {true, false});
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 2000)
                ui.pumpFor(10);
            deck.stop();
        });
    }
    std::filesystem::remove_all(folder);
    return status;
}
