#include "gui/DriveCheckWindow.h"

#include "GuiFixture.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarnvel::gui::test {
namespace {

class DriveCheckWindowTest : public GuiFixture {};

TEST_F(DriveCheckWindowTest, HelpChecksTheDeckDriveStepByStepAndSavesTheReport)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    // Help → "Check the drive..."
    auto* help = find<QPushButton>("HelpButton");
    ASSERT_NE(help, nullptr);
    ASSERT_NE(help->menu(), nullptr);
    QAction* entry = nullptr;
    for (QAction* a : help->menu()->actions())
        if (a->text() == "Check the drive...")
            entry = a;
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    QPointer<DriveCheckWindow> fromMenu = find<DriveCheckWindow>("DriveCheckWindow");
    ASSERT_FALSE(fromMenu.isNull());
    EXPECT_TRUE(fromMenu->isModal());
    EXPECT_TRUE(fromMenu->isVisible());
    fromMenu->close();
    ASSERT_TRUE(pumpUntil([&] { return fromMenu.isNull() || !fromMenu->isVisible(); }));

    // The same window with short polls (a simulated drive's motions end at once).
    auto* w = new DriveCheckWindow(deck(), window.get(), [](int ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms >= 100 ? 20 : 1));
    });
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();

    w->findChild<QPushButton*>("StartButton")->click();
    EXPECT_TRUE(w->running());
    EXPECT_FALSE(w->findChild<QPushButton*>("CloseButton")->isEnabled());
    // The steps show as they pass.
    ASSERT_TRUE(pumpUntil([&] { return w->shownText().contains("3. PASS  Inquiry"); }));
    EXPECT_FALSE(w->shownText().contains("Data mode restored"));
    ASSERT_TRUE(pumpUntil([&] { return !w->running(); }, 120000));
    const std::string shown = w->shownText().toStdString();
    EXPECT_EQ(shown.find("FAIL"), std::string::npos) << shown;
    EXPECT_NE(shown.find("16. PASS  Data mode restored"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Audio mode set again for the deck: accepted"), std::string::npos);
    EXPECT_NE(
        w->findChild<QLabel*>("StatusLabel")->text().toStdString().find("16 passed, 0 failed"),
        std::string::npos);

    // The deck has its drive back, in audio mode, and plays.
    EXPECT_TRUE(simDrive->observe().audioMode);
    waitForTransport();

    const std::string path = dir.file("report.txt");
    ASSERT_TRUE(w->saveReportTo(path));
    std::ifstream in(path);
    std::stringstream report;
    report << in.rdbuf();
    EXPECT_NE(report.str().find("---- Summary (paste this into a bug report) ----"),
              std::string::npos);
    EXPECT_NE(report.str().find("==== Command exchange ===="), std::string::npos);
    w->findChild<QPushButton*>("CloseButton")->click();
}

TEST_F(DriveCheckWindowTest, ClosingTheMainWindowWaitsForTheCheckToStop)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    auto* w = new DriveCheckWindow(deck(), window.get(), [](int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    w->show();
    ASSERT_TRUE(w->start());
    // The deck (and its drive) stays while the check runs; it stops after its step.
    window->close();
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(pumpUntil([&] { return !window->isVisible(); }, 60000));
    const std::string shown = w->shownText().toStdString();
    EXPECT_NE(shown.find("The check was stopped."), std::string::npos) << shown;
    EXPECT_NE(shown.find("PASS  Data mode restored"), std::string::npos) << shown;
}

} // namespace
} // namespace tarnvel::gui::test
