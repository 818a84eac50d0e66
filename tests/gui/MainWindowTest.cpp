#include "GuiFixture.h"
#include "app/AppMessages.h"
#include "dat/DatMessages.h"
#include "gui/SubcodeWindow.h"
#include "gui/TimeDisplayWidget.h"
#include "gui/WaveDisplayWidget.h"

#include <QLabel>
#include <QTest>

namespace tarnvel::gui::test {
namespace {

using engine::Control;

class MainWindowTest : public GuiFixture {};

TEST_F(MainWindowTest, ATapeInsertedLoadsAndEnablesTheTransport)
{
    makeDemoTape();
    openWindow(false);
    auto* play = qobject_cast<QPushButton*>(control(Control::PlayButton));
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(play->objectName(), "PlayButton");
    EXPECT_FALSE(play->isEnabled());
    EXPECT_EQ(window->windowTitle(), "Tarnvel");

    std::string error;
    ASSERT_TRUE(simDrive->insertCassette(cassettePath, error)) << error;
    waitForTransport();
    EXPECT_TRUE(window->shown(Control::RunningStatusStaticText, tarnvel::tr(dat::msg::kLoading)));
    EXPECT_TRUE(play->isEnabled());
    EXPECT_TRUE(control(Control::EjectButton)->isEnabled());
    EXPECT_FALSE(control(Control::StopButton)->isEnabled());
    EXPECT_NE(qobject_cast<QLabel*>(control(Control::DeviceStaticText))->text(), "");
    // The tape stands at its beginning: the lead-in counts down to the first program.
    EXPECT_EQ(window->timeDisplay()->texts().abs.substr(0, 1), "-");
}

TEST_F(MainWindowTest, PlayMovesTheCountersAndDisplaysAndStopReturnsToIdle)
{
    makeDemoTape();
    openWindow(true, fastSim(), true);
    waitForTransport();
    const std::string absBefore = window->timeDisplay()->texts().abs;
    QTest::mouseClick(control(Control::PlayButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] {
        return deck().state().running.load() && window->timeDisplay()->texts().abs != absBefore &&
               window->waveDisplay()->stripRefreshes() > 2 && window->levelMeter().peak(0) > -903;
    })) << window->timeDisplay()->texts().abs;
    EXPECT_TRUE(control(Control::StopButton)->isEnabled());
    EXPECT_FALSE(control(Control::PlayButton)->isEnabled());
    EXPECT_TRUE(window->shown(Control::RunningStatusStaticText, " [Play]"));
    EXPECT_FALSE(window->waveDisplay()->shown().left.empty());
    EXPECT_FALSE(window->waveDisplay()->shown().xy.empty());
    EXPECT_EQ(qobject_cast<QLabel*>(control(Control::FormatStaticText))->text(), "48000 / 16");

    QTest::mouseClick(control(Control::StopButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return deck().idle() && deck().transportEnabled(); }));
    EXPECT_FALSE(control(Control::StopButton)->isEnabled());
    EXPECT_TRUE(control(Control::PlayButton)->isEnabled());
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(MainWindowTest, ErrorFramesShowInTheErrorCounters)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    auto* left = qobject_cast<QLabel*>(control(Control::ErrorLchStaticText));
    auto* right = qobject_cast<QLabel*>(control(Control::ErrorRchStaticText));
    QTest::keyClick(window.get(), Qt::Key_Space);
    // The demo tape plays to its END ID. Its SKIP ID restarts playback at program 3, whose
    // three faulty frames conceal both channels (the counters start again with the run).
    ASSERT_TRUE(pumpUntil([&] { return deck().playEnds() > 0 && deck().idle(); }, 60000));
    EXPECT_EQ(left->text(), "3");
    EXPECT_EQ(right->text(), "3");
    // A double-click resets a counter.
    QTest::mouseDClick(left, Qt::LeftButton);
    EXPECT_EQ(left->text(), "0");
}

TEST_F(MainWindowTest, ShiftCtrlSpaceReadsOneFrameAndShowsItsSubcode)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    QTest::keyClick(window.get(), Qt::Key_Space, Qt::ShiftModifier | Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return window->subcodeWindow()->isVisible(); }));
    EXPECT_EQ(window->subcodeWindow()->windowTitle(), "SubCode & Data");
    EXPECT_EQ(window->subcodeWindow()->shownText().left(6), "SubID\n");
}

TEST_F(MainWindowTest, TimeLineDoubleClickResetsTheRunCounterWithItsDesignPosition)
{
    settings.CountRunTime = true;
    makeDemoTape();
    openWindow();
    waitForTransport();
    TimeDisplayWidget* t = window->timeDisplay();
    // The RUN line is the third: whatever the widget's size, its middle maps to 35..48.
    const int y = t->height() * 5 / 6;
    EXPECT_GE(t->designY(y), 35);
    EXPECT_LE(t->designY(y), 48);
    QTest::mouseDClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(t->width() / 2, y));
    EXPECT_EQ(t->texts().run, " 00h00m00s00");
}

} // namespace
} // namespace tarnvel::gui::test
