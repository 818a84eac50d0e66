#include "GuiFixture.h"
#include "app/AppMessages.h"
#include "dat/DatMessages.h"
#include "gui/Colours.h"
#include "gui/IdListWindow.h"
#include "gui/SubcodeWindow.h"
#include "gui/TimeDisplayWidget.h"
#include "gui/WaveDisplayWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <functional>

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

// The deck's keys act from whichever control has the focus; the keys a text field needs
// stay the field's.
TEST_F(MainWindowTest, DeckKeysWorkFromEveryControlOfTheWindow)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    // At start the focus rests on the transport, not in a text box.
    ASSERT_NE(window->focusWidget(), nullptr);
    EXPECT_EQ(window->focusWidget()->objectName(), "TransportPanel");

    auto* tape = find<QComboBox>("TapeLengthComboBox");
    auto* pno = find<QLineEdit>("SearchPNoEdit");
    auto* autoId = find<QCheckBox>("AutoID_CheckBox");
    auto* muteTime = find<QComboBox>("MuteTimeComboBox");
    const QString tapeText = tape->currentText();
    const bool autoIdChecked = autoId->isChecked();
    const auto status = [&](const char* text) {
        return [this, text] { return window->shown(Control::RunningStatusStaticText, text); };
    };
    const auto playing = [&] { return deck().state().running.load(); };
    const auto stopped = [&] { return deck().idle() && deck().transportEnabled(); };
    const struct {
        QWidget* focus;
        QKeyCombination key;
        std::function<bool()> acted;
    } cases[] = {
        {tape, Qt::Key_Space, playing},
        {pno, Qt::Key_Escape, stopped},
        {pno, Qt::Key_Home, status(" [Rewind]")},
        {autoId, Qt::Key_End, status(" [F.Forward]")},
        {muteTime, Qt::Key_PageUp, status(" [Prev. PNo]")},
        {autoId, Qt::Key_Space, playing},
        {muteTime, Qt::Key_Escape, stopped},
        {tape, Qt::CTRL | Qt::Key_L, [&] { return window->idListWindow()->isVisible(); }},
        {pno, Qt::Key_F1, [&] { return !openedUrls.empty(); }},
        // Digits, Backspace and the arrows keep their meaning in the fields.
        {pno, Qt::Key_7, [&] { return pno->text() == "7"; }},
        {pno, Qt::Key_Backspace, [&] { return pno->text().isEmpty(); }},
        {muteTime, Qt::Key_Down,
         [&, before = muteTime->currentIndex()] { return muteTime->currentIndex() == before + 1; }},
    };
    for (const auto& c : cases) {
        const std::string what = c.focus->objectName().toStdString() + " " +
                                 QKeySequence(c.key).toString().toStdString();
        window->history.clear();
        QApplication::setActiveWindow(window.get());
        c.focus->setFocus();
        QTest::keyClick(QApplication::focusWidget(), c.key.key(), c.key.keyboardModifiers());
        EXPECT_TRUE(pumpUntil(c.acted, 10000)) << what;
        EXPECT_TRUE(pumpUntil([&] { return deck().transportEnabled() || playing(); })) << what;
    }
    // Nothing was typed into or ticked by the deck's keys.
    EXPECT_EQ(tape->currentText(), tapeText);
    EXPECT_EQ(autoId->isChecked(), autoIdChecked);
    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
}

TEST_F(MainWindowTest, TheWindowComesBackWhereItWasAndInsideTheScreenArea)
{
    makeDemoTape();
    openWindow();
    // Closed and started again, the frame stands where it stood: no step down by the frame
    // at every start.
    window->resize(window->minimumSizeHint());
    window->move(10, 20);
    ASSERT_EQ(window->pos(), QPoint(10, 20));
    ASSERT_TRUE(window->close());
    EXPECT_EQ(QPoint(settings.Window.PosX, settings.Window.PosY), QPoint(10, 20));
    window.reset();
    openWindow();
    EXPECT_EQ(window->pos(), QPoint(10, 20));

    // A placement from a larger screen (or a smaller scale) comes inside the area.
    settings.Window = {1500, 900, 1200, 900, {}, {}};
    const QRect area(0, 30, 1024, 738);
    window->restorePlacement(area);
    const QRect f = window->frameGeometry();
    EXPECT_TRUE(area.contains(f)) << f.x() << "," << f.y() << " " << f.width() << "x" << f.height();
}

// A run that ends on a refresh the strips skipped (they take every second block) leaves the
// strips, the plot and the meters on the same block; digital silence shows the plot's dot.
TEST_F(MainWindowTest, DisplaysStayOnTheLastBlockWhenARunEnds)
{
    openWindow(false);
    window->resize(1000, 700);
    app::DisplaySamples tone;
    tone.pairs = 1440;
    for (int i = 0; i < tone.pairs; ++i)
        tone.left[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 100 * 200 - 10000);
    app::DisplaySamples silence;
    silence.pairs = 1440;
    window->showDisplays({&tone, true, 50});
    window->showDisplays({&silence, false, 50});
    window->notify(engine::DeckEvent::PlayActive, 0);
    WaveDisplayWidget* wave = window->waveDisplay();
    EXPECT_EQ(wave->shown().left, wave->model().picture().left);
    EXPECT_EQ(wave->shown().xy, wave->model().picture().xy);
    EXPECT_EQ(window->levelMeter().peak(0), -903);

    const QImage image = wave->grab().toImage();
    const app::WaveLayout& l = wave->model().layout();
    const QPoint centre(l.xyLeft + l.xySize / 2, l.xyTop + l.xySize / 2);
    EXPECT_EQ(image.pixelColor(centre), settingColour(settings.WaveLineColor, wave->palette()));
}

} // namespace
} // namespace tarnvel::gui::test
