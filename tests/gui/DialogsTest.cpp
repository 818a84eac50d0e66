#include "GuiFixture.h"
#include "gui/IdListWindow.h"
#include "gui/PlayToFileDialog.h"
#include "gui/RecFromFileDialog.h"
#include "gui/SetupDialog.h"
#include "support/WavFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

namespace tarnvel::gui::test {
namespace {

using engine::Control;

class DialogsTest : public GuiFixture {};

TEST_F(DialogsTest, SetupRefusesADeviceChangeWhilePlayingAndCancelPutsEverythingBack)
{
    makeDemoTape();
    openWindow(true, fastSim(), true);
    waitForTransport();
    const app::Settings before = settings;
    QTest::mouseClick(find<QPushButton>("SetupButton"), Qt::LeftButton);
    SetupDialog* setup = window->setupDialog();
    ASSERT_TRUE(setup->isVisible());
    EXPECT_EQ(setup->windowTitle(), "Tarnvel - Setup");

    // Changes made with the mouse go to the settings at once.
    auto* skip = setup->findChild<QCheckBox*>("EnableSkipPlayCheckBox");
    auto* date = setup->findChild<QCheckBox*>("DisplayDateCheckBox");
    // On the box itself (the text is shorter than the widget).
    const QPoint box(6, skip->height() / 2);
    QTest::mouseClick(skip, Qt::LeftButton, Qt::NoModifier, box);
    setup->findChild<QTabWidget*>("SetupPageControl")->setCurrentIndex(2);
    QTest::mouseClick(date, Qt::LeftButton, Qt::NoModifier, box);
    EXPECT_TRUE(settings.EnableSkipPlay);
    EXPECT_TRUE(settings.DisplayDate);
    auto* mag = setup->findChild<QComboBox*>("WaveXMagComboBox");
    mag->setCurrentIndex(3);
    Q_EMIT mag->activated(3);
    EXPECT_EQ(settings.WaveXDispMagRate, 4);

    QTest::mouseClick(control(Control::PlayButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return control(Control::StopButton)->isEnabled(); }));
    auto* driver = setup->findChild<QComboBox*>("DriverTypeComboBox");
    EXPECT_FALSE(driver->isEnabled());
    bool noteShown = false;
    for (QLabel* l : setup->findChildren<QLabel*>())
        noteShown = noteShown ||
                    (!l->isHidden() && l->text() == "Unable to change while playing/recording.");
    EXPECT_TRUE(noteShown);
    // A change that reaches the model anyway is refused.
    EXPECT_FALSE(setup->form().select(app::SetupControl::DriverTypeComboBox, 1));
    EXPECT_EQ(settings.PlayRecDriverType, 0);

    QTest::mouseClick(setup->findChild<QPushButton*>("CancelButton"), Qt::LeftButton);
    EXPECT_FALSE(setup->isVisible());
    app::Settings expected = before;
    expected.SetupDialog = settings.SetupDialog; // the dialog's own placement is stored
    EXPECT_EQ(settings, expected);
    QTest::mouseClick(control(Control::StopButton), Qt::LeftButton);
    EXPECT_TRUE(pumpUntil([&] { return driver->isEnabled(); }))
        << deck().idle() << " " << window->history.back();
}

TEST_F(DialogsTest, RecordFromFileListAddsReordersAndTotalsDroppedFiles)
{
    makeDemoTape();
    openWindow();
    RecFromFileDialog* d = window->recFromFileDialog();
    d->prepare();
    d->show();
    // Two files of 30 seconds at 44100 Hz, then a 96000 Hz file of 10 seconds.
    std::vector<QUrl> urls;
    for (auto [name, rate, seconds] :
         {std::tuple{"a.wav", 44100u, 30u}, std::tuple{"b.wav", 44100u, 30u},
          std::tuple{"c.wav", 96000u, 10u}}) {
        tarnvel::test::WavFixture w;
        w.rate = rate;
        w.withFrames(rate * seconds);
        w.write(dir.file(name));
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(dir.file(name))));
    }
    QMimeData mime;
    mime.setUrls(QList<QUrl>(urls.begin(), urls.end()));
    QTableWidget* grid = d->grid();
    const QPoint at = grid->mapTo(d, grid->rect().center());
    // As a drag from a file manager arrives: it enters, then it is dropped.
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(d, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(d, &drop);
    for (const auto& t : boxes.texts)
        ADD_FAILURE() << t;

    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->item(0, 0)->text(), "  1");
    EXPECT_EQ(grid->item(2, 2)->text(), "00m10s");
    EXPECT_EQ(grid->item(2, 3)->text(), "96000");
    auto* total = d->findChild<QLabel*>("TotalRecTimeStaticText");
    // 30 + 30 seconds and 4 seconds of silence after each at 44.1 kHz; the 96 kHz file and
    // its silence count twice on tape.
    EXPECT_TRUE(total->text().endsWith("01m36s")) << total->text().toStdString();

    // The last file moves to the top with the selection.
    grid->setCurrentCell(2, 1);
    QTest::mouseClick(d->findChild<QPushButton*>("UpSpeedButton"), Qt::LeftButton);
    QTest::mouseClick(d->findChild<QPushButton*>("UpSpeedButton"), Qt::LeftButton);
    EXPECT_TRUE(grid->item(0, 7)->text().endsWith("c.wav"));
    EXPECT_TRUE(grid->item(2, 7)->text().endsWith("b.wav"));
    EXPECT_EQ(grid->currentRow(), 0);
    auto* start = d->findChild<QLineEdit*>("PNoStartEdit");
    EXPECT_EQ(start->text(), "4"); // the next number to give
    start->clear();
    QTest::keyClicks(start, "1");
    QTest::mouseClick(d->findChild<QPushButton*>("RenumberButton"), Qt::LeftButton);
    EXPECT_EQ(grid->item(0, 0)->text(), "  1");
    EXPECT_EQ(grid->item(2, 0)->text(), "  3");
    QTest::mouseClick(d->findChild<QPushButton*>("DelButton"), Qt::LeftButton);
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_TRUE(total->text().endsWith("01m08s")) << total->text().toStdString();
    d->reject();
}

// OK in the record-from-file dialog hands the list to the deck, which records it where the
// tape stands.
TEST_F(DialogsTest, RecordFromFileOkRecordsTheListOntoTheTape)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    tarnvel::test::WavFixture w;
    w.rate = 48000;
    w.withFrames(48000 * 3);
    w.write(dir.file("a.wav"));
    RecFromFileDialog* d = window->recFromFileDialog();
    QTimer::singleShot(0, d, [&] {
        ASSERT_TRUE(d->list().registerFile(dir.file("a.wav")));
        d->refresh();
        QTest::mouseClick(d->findChild<QPushButton*>("OkButton"), Qt::LeftButton);
    });
    // Auto ID is on: recording the list with sound offers to switch it off.
    boxes.answers.push_back(QMessageBox::Ok);
    const std::uint64_t ends = deck().recordEnds();
    QTest::mouseClick(control(Control::RecFromFileButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return deck().recordEnds() > ends && deck().idle(); }))
        << window->history.back();
    EXPECT_FALSE(deck().lastRecordFailed()) << window->history.back();
    // Three seconds are 100 frames at 48 kHz, the silence after the file comes on top.
    EXPECT_GE(deck().recordProgress().frames, 100u);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find("Disable Auto ID"), std::string::npos);
    EXPECT_FALSE(qobject_cast<QCheckBox*>(control(Control::AutoID_CheckBox))->isChecked());
}

TEST_F(DialogsTest, PlayToFileAsksForANameAndCancelLeavesTheDeckIdle)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    bool seen = false;
    bool peerOffered = true;
    // The dialog is modal: it is worked from a timer while the deck waits for it.
    QTimer::singleShot(100, [&] {
        auto* d = qobject_cast<PlayToFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        seen = true;
        EXPECT_EQ(d->windowTitle(), "Tarnvel - Playback to file");
        peerOffered = d->findChild<QRadioButton*>("RecToDatRadioButton")->isEnabled();
        d->findChild<QRadioButton*>("CreateWaveFileRadioButton")->click();
        d->findChild<QLineEdit*>("WaveFileNameBaseEdit")->clear();
        d->findChild<QPushButton*>("OkButton")->click(); // "Please input file name."
        EXPECT_TRUE(d->isVisible());
        d->findChild<QPushButton*>("CancelButton")->click();
    });
    QTest::mouseClick(control(Control::PlayToFileButton), Qt::LeftButton);
    EXPECT_TRUE(seen);
    EXPECT_FALSE(peerOffered); // no other instance runs
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Please input file name.");
    ASSERT_TRUE(pumpUntil([&] { return deck().transportEnabled(); }));
    EXPECT_FALSE(deck().state().running.load());
}

TEST_F(DialogsTest, IdListEditingIsDisabledWhileTheDeckIsBusy)
{
    makeDemoTape();
    sim::SimOptions slow = fastSim();
    slow.motionScale = 0.3; // the wind takes long enough to look at the window meanwhile
    openWindow(true, slow);
    waitForTransport();
    QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
    IdListWindow* ids = window->idListWindow();
    ASSERT_NE(ids, nullptr);
    ASSERT_TRUE(ids->isVisible());
    auto* mode = ids->findChild<QCheckBox*>("V_ID_ModeCheckBox");
    auto* close = ids->findChild<QPushButton*>("CloseButton");
    auto* running = ids->findChild<QLabel*>("InRunningWarningStaticText");
    EXPECT_TRUE(mode->isEnabled());
    EXPECT_FALSE(running->isVisible());

    bool sawBusy = false;
    bool closeUsable = false;
    bool othersDisabled = true;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!running->isVisible())
            return;
        sawBusy = true;
        closeUsable = close->isEnabled();
        for (const char* name : {"DelButton", "DelAllButton", "V_ID_ModeCheckBox",
                                 "V_ID_CopyAllButton", "IDlistStringGrid"})
            othersDisabled = othersDisabled && !ids->findChild<QWidget*>(name)->isEnabled();
    });
    probe.start();
    QTest::keyClick(window.get(), Qt::Key_End); // wind to the end of the recording
    ASSERT_TRUE(pumpUntil([&] { return deck().transportEnabled(); }));
    probe.stop();
    EXPECT_TRUE(sawBusy);
    EXPECT_TRUE(closeUsable);
    EXPECT_TRUE(othersDisabled);
    EXPECT_FALSE(running->isVisible());
    EXPECT_TRUE(mode->isEnabled());
    // The tape's IDs met on the way are listed.
    EXPECT_GT(ids->grid(record::IdListModel::List::Tape)->rowCount(), 0);
}

} // namespace
} // namespace tarnvel::gui::test
