#include "GuiFixture.h"
#include "gui/IdListWindow.h"
#include "gui/MessageBoxes.h"
#include "gui/PlayToFileDialog.h"
#include "gui/RecFromFileDialog.h"
#include "gui/SetupDialog.h"
#include "gui/WindowPlace.h"
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
#include <filesystem>
#include <functional>

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

// Enter typed into a field of the record-from-file dialog never records over the tape, nor
// does Cancel in the Auto ID question.
TEST_F(DialogsTest, RecordFromFileRecordsOnlyOnOk)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    tarnvel::test::WavFixture w;
    w.withFrames(48000);
    w.write(dir.file("a.wav"));
    RecFromFileDialog* d = window->recFromFileDialog();
    std::vector<std::string> stayedOpen;
    QTimer::singleShot(0, d, [&] {
        ASSERT_TRUE(d->list().registerFile(dir.file("a.wav")));
        d->refresh();
        for (const char* field : {"PNoStartEdit", "PreSilenceLenComboBox", "SilenceLenComboBox"}) {
            auto* f = d->findChild<QWidget*>(field);
            f->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_2);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
            if (d->isVisible())
                stayedOpen.push_back(field);
        }
        // Auto ID is on: OK offers to switch it off, and Cancel goes back to the dialog.
        boxes.answers.push_back(QMessageBox::Cancel);
        QTest::mouseClick(d->findChild<QPushButton*>("OkButton"), Qt::LeftButton);
        if (d->isVisible())
            stayedOpen.push_back("OkButton");
        d->reject();
    });
    const std::uint64_t ends = deck().recordEnds();
    QTest::mouseClick(control(Control::RecFromFileButton), Qt::LeftButton);
    EXPECT_EQ(stayedOpen, (std::vector<std::string>{"PNoStartEdit", "PreSilenceLenComboBox",
                                                    "SilenceLenComboBox", "OkButton"}));
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find("Disable Auto ID"), std::string::npos);
    EXPECT_TRUE(qobject_cast<QCheckBox*>(control(Control::AutoID_CheckBox))->isChecked());
    ASSERT_TRUE(pumpUntil([&] { return deck().transportEnabled(); }));
    EXPECT_EQ(deck().recordEnds(), ends);
    EXPECT_FALSE(deck().recording());
}

// The dialogs' own keys: Delete removes the selected file (in a field it deletes a
// character), F1 opens the dialog's page of the manual.
TEST_F(DialogsTest, DialogKeysDeleteAndHelp)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    for (const char* name : {"a.wav", "b.wav"}) {
        tarnvel::test::WavFixture w;
        w.withFrames(4800);
        w.write(dir.file(name));
    }
    RecFromFileDialog* rec = window->recFromFileDialog();
    rec->prepare();
    rec->list().registerFiles({dir.file("a.wav"), dir.file("b.wav")});
    rec->refresh();
    rec->show();
    IdListWindow* ids = window->idListWindow();
    ids->showAt(window->frameGeometry().center());
    auto* start = rec->findChild<QLineEdit*>("PNoStartEdit");
    const struct {
        QWidget* focus;
        Qt::Key key;
        std::function<bool()> done;
    } cases[] = {
        {start, Qt::Key_Delete,
         [&] { return start->text().isEmpty() && rec->grid()->rowCount() == 2; }},
        {rec->grid(), Qt::Key_Delete, [&] { return rec->grid()->rowCount() == 1; }},
        {rec->grid(), Qt::Key_F1,
         [&] { return !openedUrls.empty() && openedUrls.back().fragment() == "record-from-file"; }},
        {ids->grid(record::IdListModel::List::Tape), Qt::Key_F1,
         [&] { return !openedUrls.empty() && openedUrls.back().fragment() == "id-list"; }},
    };
    for (const auto& c : cases) {
        QApplication::setActiveWindow(c.focus->window());
        c.focus->setFocus();
        if (auto* e = qobject_cast<QLineEdit*>(c.focus))
            e->home(false);
        QTest::keyClick(QApplication::focusWidget(), c.key);
        EXPECT_TRUE(c.done()) << c.focus->objectName().toStdString() << " "
                              << QKeySequence(c.key).toString().toStdString();
    }
    rec->reject();
}

// The ID list opened while the deck plays is "Running": only Close can be used, and the
// lists are read when the deck stops.
TEST_F(DialogsTest, IdListOpensRunningDuringPlay)
{
    makeDemoTape();
    openWindow(true, fastSim(), true);
    waitForTransport();
    QTest::mouseClick(control(Control::PlayButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return control(Control::StopButton)->isEnabled(); }));
    QTest::mouseClick(find<QPushButton>("IdListButton"), Qt::LeftButton);
    IdListWindow* ids = window->idListWindow();
    ASSERT_NE(ids, nullptr);
    ASSERT_TRUE(ids->isVisible());
    auto* running = ids->findChild<QLabel*>("InRunningWarningStaticText");
    EXPECT_TRUE(running->isVisible());
    EXPECT_TRUE(ids->findChild<QPushButton*>("CloseButton")->isEnabled());
    for (const char* name : {"DelButton", "DelAllButton", "V_ID_ModeCheckBox", "V_ID_CopyAllButton",
                             "IDlistStringGrid"})
        EXPECT_FALSE(ids->findChild<QWidget*>(name)->isEnabled()) << name;

    // Played past the first START ID, which the tape's list shows after the stop.
    ASSERT_TRUE(pumpUntil([&] { return window->shown(Control::IDStaticText, "START"); }));
    QTest::mouseClick(control(Control::StopButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return deck().transportEnabled() && !running->isVisible(); }));
    EXPECT_TRUE(ids->findChild<QWidget*>("V_ID_ModeCheckBox")->isEnabled());
    EXPECT_GT(ids->grid(record::IdListModel::List::Tape)->rowCount(), 0);
}

// Windows are laid out before they are placed, and placed inside the screen's area.
TEST_F(DialogsTest, WindowsOpenInsideTheScreenArea)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    const auto inside = [](const QRect& area, const QWidget* w) {
        const QRect f = w->frameGeometry();
        return ::testing::AssertionResult(area.contains(f))
               << w->objectName().toStdString() << " " << f.x() << "," << f.y() << " " << f.width()
               << "x" << f.height();
    };
    // The ID list at a pointer near the area's bottom right corner, with its real size, and
    // again when virtual ID mode widens it.
    const QRect area(0, 0, 1280, 1024);
    IdListWindow* ids = window->idListWindow();
    ids->showAt(QPoint(1250, 1000), area);
    EXPECT_TRUE(inside(area, ids));
    const int narrow = ids->frameGeometry().width();
    ids->findChild<QCheckBox*>("V_ID_ModeCheckBox")->setChecked(true);
    EXPECT_GT(ids->frameGeometry().width(), narrow);
    EXPECT_TRUE(inside(area, ids));
    ids->hide();

    // The record-from-file dialog the first time: centred on the main window.
    RecFromFileDialog* d = window->recFromFileDialog();
    d->prepare();
    d->show();
    EXPECT_TRUE(inside(availableArea(window.get()), d));
    const QPoint offCentre = d->frameGeometry().center() - window->frameGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();
    d->reject();
}

// The file heard in the record-from-file dialog: its time shows in a label of fixed width,
// which reads "00m00s" again when the file has played.
TEST_F(DialogsTest, RecordFromFilePreviewKeepsTheDialogsWidth)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    tarnvel::test::WavFixture w;
    w.withFrames(4800);
    w.write(dir.file("a.wav"));
    RecFromFileDialog* d = window->recFromFileDialog();
    int widthBefore = 0;
    int widthPlaying = 0;
    QString timeIdle;
    QString timeAfter;
    QTimer::singleShot(0, d, [&] {
        ASSERT_TRUE(d->list().registerFile(dir.file("a.wav")));
        d->refresh();
        widthBefore = d->width();
        auto* time = d->findChild<QLabel*>("TimeDisplayLabel");
        timeIdle = time->text();
        QTest::mouseClick(d->findChild<QPushButton*>("PlaySpeedButton"), Qt::LeftButton);
        widthPlaying = d->width();
        pumpUntil([&] { return time->text() == "00m00s"; }, 3000);
        timeAfter = time->text();
        d->reject();
    });
    d->run();
    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    EXPECT_EQ(timeIdle, "00m00s");
    EXPECT_EQ(widthPlaying, widthBefore);
    EXPECT_EQ(timeAfter, "00m00s");
}

// A question whose text is short still leaves its title room in the title bar.
TEST_F(DialogsTest, MessageBoxesAreAsWideAsTheirTitle)
{
    const QString title = "Tarnvel - ID List";
    askMessageBox(nullptr, title, "Clear all ID list.\n\n Are you sure?", engine::Buttons::YesNo,
                  MessageIcon::Warning, {});
    QFont bold = QApplication::font();
    bold.setBold(true);
    ASSERT_EQ(boxes.widths.size(), 1u);
    EXPECT_GE(boxes.widths[0], QFontMetrics(bold).horizontalAdvance(title) + 100);
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

TEST_F(DialogsTest, APlayToWaveFilesOffersItsQualityControlPage)
{
    makeDemoTape();
    openWindow();
    waitForTransport();
    auto* qcPage = find<QPushButton>("QcPageButton");
    ASSERT_NE(qcPage, nullptr);
    EXPECT_FALSE(qcPage->isEnabled()); // nothing checked yet
    QTimer::singleShot(100, [&] {
        auto* d = qobject_cast<PlayToFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->findChild<QRadioButton*>("CreateWaveFileRadioButton")->click();
        d->findChild<QCheckBox*>("WithSoundCheckBox")->setChecked(false);
        d->findChild<QLineEdit*>("WaveFileNameBaseEdit")
            ->setText(QString::fromStdString(dir.file("take")));
        d->findChild<QPushButton*>("OkButton")->click();
    });
    QTest::mouseClick(control(Control::PlayToFileButton), Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return qcPage->isEnabled(); }, 120000));
    EXPECT_TRUE(std::filesystem::exists(dir.file("take.html")));
    EXPECT_TRUE(qcPage->toolTip().contains(QString::fromStdString(dir.file("take.html"))));
    QTest::mouseClick(qcPage, Qt::LeftButton);
    ASSERT_FALSE(openedUrls.empty());
    EXPECT_EQ(openedUrls.back(),
              QUrl::fromLocalFile(QString::fromStdString(dir.file("take.html"))));
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
