// tarnvel: the desktop program. Decides which instance this is, loads the settings, chooses
// the drive (offering the demo cassette when there is none) and runs the main window.
#include "app/InstanceLock.h"
#include "app/ProgramIdentity.h"
#include "app/SettingsFile.h"
#include "formats/StringPrintf.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
#include "gui/MessageBoxes.h"
#include "gui/ProgramIcon.h"
#include "gui/QtUiThread.h"
#include "gui/StartUp.h"
#include "sim/DriveSelect.h"
#include "sound/AudioBackend.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace tarnvel;

namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void onTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(gSignalPipe[1], &c, 1);
}

// SIGINT, SIGTERM and SIGHUP close the window as its close box does (the deck stops, the
// settings are saved, the drive goes back to data mode); a second one ends the program.
void closeOnSignals(QWidget& window)
{
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char c;
        while (::read(gSignalPipe[0], &c, 1) == 1) {
        }
        window.close();
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnvel"));
    QApplication::setApplicationVersion(QStringLiteral(TARNVEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tarnvel"));
    QApplication::setWindowIcon(gui::programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tarnvel: a DAT deck on an audio-capable DDS tape drive"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption driveOption(
        QStringLiteral("drive"),
        QStringLiteral("Drive to use: /dev/sgN, /dev/nstN, sim:CASSETTE or image:FILE.TVI (a "
                       "read-only drive over a tape image; default: the first audio drive found)"),
        QStringLiteral("SPEC"));
    const QCommandLineOption realtimeOption(QStringLiteral("realtime"),
                                            QStringLiteral("Run simulated drives at deck speed"));
    parser.addOption(driveOption);
    parser.addOption(realtimeOption);
    parser.process(app);
    gui::DesktopArgs args;
    args.driveSpec = parser.value(driveOption).toStdString();
    args.realtime = parser.isSet(realtimeOption);

    // Which of at most two instances this is; a third start hands over to the second.
    app::InstanceLock lock;
    std::string lockError;
    const app::InstanceClaim claim = app::claimInstance(lock, lockError);
    if (claim == app::InstanceClaim::BothTaken) {
        gui::raiseSecondInstance(app::runtimeFolderPath());
        return 0;
    }
    const int instance = claim == app::InstanceClaim::Second ? 2 : 1;
    const QString title = gui::qstr(app::programTitle(instance));
    if (claim == app::InstanceClaim::Failed)
        gui::showMessageBox(
            nullptr, title,
            formats::stringPrintf(tarnvel::tr(gui::msg::kSettingsLockFailed), lockError.c_str()),
            MessageIcon::Warning, {});

    app::SettingsFile file(app::locateSettings(instance));
    CollectingMessageSink loadMessages;
    app::Settings settings = file.load(loadMessages);
    app::applyLanguage(settings.EnglishMode);
    for (const auto& m : loadMessages.messages)
        gui::showMessageBox(nullptr, title, m.text, m.icon, m.caption);

    // The drive: what was asked for, a real drive, the instance's simulated cassette, or the
    // demo cassette on a first start without any.
    sim::DriveRequest probe;
    std::string probeError;
    std::unique_ptr<dat::DatDrive> found;
    if (args.driveSpec.empty()) {
        found = sim::openDriveObject(probe, probeError);
        if (found && found->deviceCount() == 0)
            found.reset();
    }
    gui::DriveChoice choice = gui::chooseDrive(args, settings, instance, found != nullptr);
    if (choice.offerDemo) {
        const std::string path = gui::demoCassettePath(instance);
        const engine::Answer a = gui::askMessageBox(
            nullptr, title, formats::stringPrintf(tarnvel::tr(gui::msg::kOpenDemo), path.c_str()),
            engine::Buttons::YesNo, MessageIcon::Information, {});
        std::string error;
        if (a.yes && gui::ensureDemoCassette(path, error)) {
            gui::rememberCassette(settings, instance, path, gui::demoCassettePath(1));
            choice.spec = "sim:" + path;
            choice.explicitDrive = true;
        } else if (a.yes) {
            gui::showMessageBox(
                nullptr, title,
                formats::stringPrintf(tarnvel::tr(gui::msg::kDemoFailed), error.c_str()),
                MessageIcon::Warning, {});
        }
    }

    gui::MainWindowOptions o;
    o.deck.instance = instance;
    o.deck.explicitDrive = choice.explicitDrive;
    if (choice.explicitDrive && !sim::isSimulatedSpec(choice.spec))
        o.deck.drivePath = choice.spec;
    o.deck.newSettingsFile = file.newFile();
    o.deck.logFile = file.location().programDir + "TVDAT.LOG";
    o.deck.audio = sound::systemAudioBackends();
    auto held = std::make_shared<std::unique_ptr<dat::DatDrive>>(std::move(found));
    sim::DriveRequest request;
    request.spec = choice.spec;
    request.realtime = args.realtime || settings.SimRealTime;
    o.deck.openDrive = [held, request](std::string& error) {
        if (*held)
            return std::move(*held);
        return sim::openDriveObject(request, error);
    };
    if (claim != app::InstanceClaim::Failed)
        o.runtimeFolder = app::runtimeFolderPath();
    o.manualPath = gui::findManual(app::executableDir(), TARNVEL_MANUAL_BUILD);
    gui::WindowMessageSink saveMessages(nullptr, title);
    o.saveSettings = [&file, &settings, &saveMessages] { file.save(settings, saveMessages); };

    gui::QtUiThread ui;
    int code = 0;
    {
        gui::MainWindow window(ui, settings, std::move(o));
        closeOnSignals(window);
        window.show();
        code = QApplication::exec();
    }
    return code;
}
