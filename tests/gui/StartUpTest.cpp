#include "gui/StartUp.h"

#include "app/InstanceLock.h"
#include "link/PeerLink.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace tarnvel::gui {
namespace {

TEST(StartUpTest, TheDriveComesFromTheArgumentARealDriveTheInstanceCassetteOrTheDemoOffer)
{
    app::Settings s;
    s.SimCassettes = "/c/one.tvs; /c/two.tvs";
    struct Case {
        std::string arg;
        bool realFound;
        int instance;
        bool simulated;
        std::string spec;
        bool explicitDrive;
        bool offer;
    };
    const Case cases[] = {
        {"/dev/nst0", true, 1, true, "/dev/nst0", true, false},
        {"", true, 2, true, "", false, false},
        {"", false, 1, true, "sim:/c/one.tvs", true, false},
        {"", false, 2, true, "sim:/c/two.tvs", true, false},
        {"", false, 2, false, "", false, false},
    };
    for (const Case& c : cases) {
        s.SimulatedDrive = c.simulated;
        const DriveChoice d = chooseDrive({c.arg, false}, s, c.instance, c.realFound);
        EXPECT_EQ(d.spec, c.spec);
        EXPECT_EQ(d.explicitDrive, c.explicitDrive);
        EXPECT_EQ(d.offerDemo, c.offer);
    }
    s.SimulatedDrive = true;
    s.SimCassettes.clear();
    EXPECT_TRUE(chooseDrive({}, s, 1, false).offerDemo);

    // The accepted demo cassette is the instance's from then on; the second instance's needs
    // a first one before it in the list.
    rememberCassette(s, 2, "/d/demo-2.tvs", "/d/demo.tvs");
    EXPECT_EQ(s.SimCassettes, "/d/demo.tvs;/d/demo-2.tvs");
    EXPECT_EQ(chooseDrive({}, s, 2, false).spec, "sim:/d/demo-2.tvs");
    rememberCassette(s, 1, "/e/mine.tvs", "/d/demo.tvs");
    EXPECT_EQ(s.SimCassettes, "/e/mine.tvs;/d/demo-2.tvs");
}

TEST(StartUpTest, DemoCassetteLivesInTheUsersDataFolderAndIsMadeOnce)
{
    EXPECT_EQ(demoCassettePath(1, "/x/data", "/home/u"), "/x/data/tarnvel/demo.tvs");
    EXPECT_EQ(demoCassettePath(2, "/x/data", "/home/u"), "/x/data/tarnvel/demo-2.tvs");
    EXPECT_EQ(demoCassettePath(1, nullptr, "/home/u"), "/home/u/.local/share/tarnvel/demo.tvs");
    EXPECT_EQ(demoCassettePath(1, "relative", "/home/u"), "/home/u/.local/share/tarnvel/demo.tvs");
    tarnvel::test::TempDir dir;
    const std::string path = dir.file("share/tarnvel/demo.tvs");
    std::string error;
    ASSERT_TRUE(ensureDemoCassette(path, error)) << error;
    const auto size = std::filesystem::file_size(path);
    const auto time = std::filesystem::last_write_time(path);
    ASSERT_TRUE(ensureDemoCassette(path, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(path), size);
    EXPECT_EQ(std::filesystem::last_write_time(path), time);
}

TEST(StartUpTest, AThirdStartAsksTheSecondToComeForwardAndExits)
{
    tarnvel::test::TempDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
    env.insert("HOME", QString::fromStdString(dir.path().string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.file("config")));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    // Two running instances, as far as the locks tell.
    app::InstanceLock first, second;
    std::string error;
    ASSERT_EQ(app::claimInstance(first, error), app::InstanceClaim::First) << error;
    ASSERT_EQ(app::claimInstance(second, error), app::InstanceClaim::Second) << error;
    // The second instance's socket, which hears the request.
    std::atomic<int> raised{0};
    link::PeerServer::Handler h;
    h.raise = [&] { ++raised; };
    h.post = [](std::function<void()> fn) { fn(); };
    link::PeerServer server(std::move(h));
    ASSERT_TRUE(
        server.listen(app::runtimeFolderPath(dir.path().c_str(), getuid()), "Tarnvel:2", error))
        << error;

    QProcess third;
    third.setProcessEnvironment(env);
    third.start(TARNVEL_GUI, {});
    ASSERT_TRUE(third.waitForStarted(10000));
    ASSERT_TRUE(third.waitForFinished(60000));
    EXPECT_EQ(third.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(third.exitCode(), 0);
    // It wrote no settings of its own.
    EXPECT_FALSE(std::filesystem::exists(dir.file("config")));
    for (int i = 0; i < 500 && raised.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(raised.load(), 1);
}

TEST(StartUpTest, TheManualIsFoundBesideTheProgramFirst)
{
    tarnvel::test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "bin");
    std::filesystem::create_directories(dir.path() / "share/tarnvel");
    const std::string build = dir.file("build-manual.html");
    EXPECT_EQ(findManual(dir.file("bin/"), build), "");
    std::ofstream(build) << "<html>";
    EXPECT_EQ(findManual(dir.file("bin/"), build), build);
    std::ofstream(dir.path() / "share/tarnvel/manual.html") << "<html>";
    EXPECT_EQ(findManual(dir.file("bin/"), build),
              (dir.path() / "share/tarnvel/manual.html").string());
}

} // namespace
} // namespace tarnvel::gui
