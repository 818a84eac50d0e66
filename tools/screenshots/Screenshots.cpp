// tarnvel-screenshots FOLDER [MAIN-WINDOW-NAME]: pictures of every window of the desktop
// program for the manual, or with a name only the main window while it plays (taken again
// at another scale). The real main window and dialogs run on the demo cassette in a
// simulated drive at deck speed, with the null sound device; each window is taken from the X
// server it is shown on (tools/screenshots.sh starts a virtual one).
#include "app/SetupForm.h"
#include "dat/DatDrive.h"
#include "formats/WaveFileWriter.h"
#include "gui/AboutDialog.h"
#include "gui/FormatListWindow.h"
#include "gui/IdListWindow.h"
#include "gui/MainWindow.h"
#include "gui/PlayToFileDialog.h"
#include "gui/QtUiThread.h"
#include "gui/RecFromFileDialog.h"
#include "gui/SetupDialog.h"
#include "gui/SubcodeWindow.h"
#include "sim/DemoTape.h"
#include "sim/SimulatedDrive.h"
#include "sound/NullAudioBackend.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace tarnvel;

namespace {

gui::QtUiThread* gUi = nullptr;
std::string gFolder;
int gFailures = 0;

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        gUi->pumpFor(10);
}

template <class F> bool pumpUntil(F done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        gUi->pumpFor(10);
    return done();
}

// A window as it is shown.
void take(QWidget* w, const char* name)
{
    w->raise();
    w->activateWindow();
    pump(600);
    // The window's own pixels as it paints them on the X server (a grab of the screen could
    // catch a window that has just grown before the server has its new part).
    const QPixmap shot = w->grab();
    const std::string path = gFolder + "/" + name;
    if (!shot.save(QString::fromStdString(path), "PNG")) {
        std::fprintf(stderr, "%s: cannot be written\n", path.c_str());
        ++gFailures;
        return;
    }
    std::printf("%s (%dx%d)\n", path.c_str(), shot.width(), shot.height());
}

// A short stereo WAV file of two tones.
bool writeTone(const std::string& path, std::uint32_t rate, int seconds, double hz)
{
    CollectingMessageSink sink;
    formats::WaveFileWriter w(sink);
    w.setFileName(path);
    w.setFormat(formats::WaveFormat::make(formats::kWaveFormatPcm, 2, rate, 16));
    if (!w.create())
        return false;
    std::vector<std::uint8_t> block(rate * 4);
    for (int s = 0; s < seconds; ++s) {
        for (std::uint32_t i = 0; i < rate; ++i) {
            const double t = (static_cast<double>(s) * rate + i) / rate;
            const auto l = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * hz * t));
            const auto r = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * hz * 1.5 * t));
            block[4 * i] = static_cast<std::uint8_t>(l);
            block[4 * i + 1] = static_cast<std::uint8_t>(l >> 8);
            block[4 * i + 2] = static_cast<std::uint8_t>(r);
            block[4 * i + 3] = static_cast<std::uint8_t>(r >> 8);
        }
        if (w.write(block.data(), block.size()) != block.size())
            return false;
    }
    return w.finish(false);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: tarnvel-screenshots FOLDER [MAIN-WINDOW-NAME]\n");
        return 2;
    }
    gFolder = argv[1];
    const char* mainWindowOnly = argc == 3 ? argv[2] : nullptr;
    std::filesystem::create_directories(gFolder);
    char tmp[] = "/tmp/tarnvel-shots-XXXXXX";
    if (mkdtemp(tmp) == nullptr)
        return 1;
    const std::string work = tmp;
    const std::string cassette = work + "/demo.tvs";
    std::string error;
    if (!sim::createDemoCassette(cassette, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    gui::QtUiThread ui;
    gUi = &ui;
    app::Settings settings;
    settings.Dir = work + "/";
    settings.TapeLength = 0; // "Auto": the meter shows the part of the tape around the position
    gui::MainWindowOptions o;
    o.deck.openDrive = [&cassette](std::string& e) -> std::unique_ptr<dat::DatDrive> {
        sim::SimOptions so;
        so.realtime = true;
        so.motionScale = 0.05;
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
    {
        gui::MainWindow window(ui, settings, o);
        window.resize(1040, 760);
        window.move(20, 20);
        window.show();
        window.activate();
        engine::Deck& deck = window.deck();
        if (!pumpUntil([&] { return deck.transportEnabled(); }, 60000)) {
            std::fprintf(stderr, "the demo tape did not become ready\n");
            return 1;
        }

        // The IDs of the tape become known as the tape is searched.
        for (int pno : {3, 2, 1}) {
            deck.searchProgram(pno, {});
            pumpUntil([&] { return deck.transportEnabled(); }, 60000);
        }
        if (mainWindowOnly != nullptr) {
            deck.searchProgram(2, {true, false});
            pump(4500);
            take(&window, mainWindowOnly);
            deck.stop();
            pumpUntil([&] { return deck.idle(); }, 30000);
            std::filesystem::remove_all(work);
            return gFailures == 0 ? 0 : 1;
        }
        // The playback device's format list, while the deck is idle.
        {
            gui::SetupDialog* setup = window.setupDialog();
            gui::FormatListWindow formats(
                setup->form().formatList(app::SetupDevice::Playback, true), &window);
            formats.show();
            take(&formats, "format-list.png");
            formats.close();
        }
        // The playback-to-file dialog, with a base name.
        {
            gui::PlayToFileDialog* d = window.playToFileDialog();
            d->prepare();
            d->findChild<QLineEdit*>("WaveFileNameBaseEdit")->setText("concert");
            d->show();
            take(d, "play-to-file.png");
            d->reject();
        }
        // One frame with its subcode (Shift+Ctrl+Play) at the start of program 1.
        deck.play({true, true});
        pumpUntil([&] { return window.subcodeWindow()->isVisible(); }, 10000);
        take(window.subcodeWindow(), "subcode-window.png");
        window.subcodeWindow()->hide();

        // The ID list with the tape's IDs copied into the virtual list.
        deck.fastForward();
        pumpUntil([&] { return deck.transportEnabled(); }, 60000);
        gui::IdListWindow* ids = window.idListWindow();
        ids->showAt(window.frameGeometry().topRight() + QPoint(-380, 120));
        ids->findChild<QCheckBox*>("V_ID_ModeCheckBox")->setChecked(true);
        ids->findChild<QPushButton*>("V_ID_CopyAllButton")->click();
        pump(300);
        take(ids, "id-list.png");
        ids->findChild<QCheckBox*>("V_ID_ModeCheckBox")->setChecked(false);
        ids->hide();

        // The record-from-file list with three files, one of a name too long for its column.
        std::vector<std::string> files;
        const std::string concert = work + "/concert 2024-05-11/second half";
        std::filesystem::create_directories(concert);
        for (auto [name, rate, seconds, hz] :
             {std::tuple{"take01.WAV", 44100u, 6, 440.0},
              std::tuple{"take02.WAV", 48000u, 4, 330.0},
              std::tuple{"interlude after the intermission, second take.WAV", 44100u, 3, 550.0}}) {
            const std::string path = concert + "/" + name;
            if (writeTone(path, rate, seconds, hz))
                files.push_back(path);
        }
        gui::RecFromFileDialog* rec = window.recFromFileDialog();
        rec->prepare();
        rec->list().registerFiles(files);
        rec->refresh();
        rec->show();
        take(rec, "record-from-file.png");
        rec->reject();

        // Playing program 2: the displays move.
        deck.searchProgram(2, {true, false});
        pump(4500);
        take(&window, "main-window.png");

        // The setup dialog while playing (its notes show what cannot change now).
        gui::SetupDialog* setup = window.setupDialog();
        setup->showForm();
        setup->move(window.pos() + QPoint(120, 60));
        auto* pages = setup->findChild<QTabWidget*>("SetupPageControl");
        const char* names[3] = {"setup-play-rec.png", "setup-sound-device.png", "setup-misc.png"};
        for (int page = 0; page < 3; ++page) {
            pages->setCurrentIndex(page);
            take(setup, names[page]);
        }
        pages->setCurrentIndex(0);

        // The about box, over the setup dialog.
        gui::AboutDialog about(setup);
        about.show();
        take(&about, "about.png");
        about.close();
        setup->reject();

        deck.stop();
        pumpUntil([&] { return deck.idle(); }, 30000);
    }
    std::filesystem::remove_all(work);
    return gFailures == 0 ? 0 : 1;
}
