#include "app/SetupForm.h"

#include "sound/NullAudioBackend.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <gtest/gtest.h>

namespace tarnvel::app {
namespace {

using C = SetupControl;

// The null device for ALSA and PulseAudio; a JACK server that cannot be reached when
// `jackFails`.
class Backends : public sound::AudioBackendProvider {
public:
    bool jackFails = false;
    std::unique_ptr<sound::AudioBackend> create(sound::SoundDriverType type) override
    {
        if (type == sound::SoundDriverType::Jack && jackFails)
            return std::make_unique<Unreachable>();
        return std::make_unique<sound::NullAudioBackend>(sound::NullDeviceOptions{});
    }

private:
    struct Unreachable : sound::AudioBackend {
        bool listDevices(std::vector<sound::AudioDeviceInfo>&, std::string& error) override
        {
            error = "no server";
            return false;
        }
        int defaultDevice(sound::StreamDirection) override { return -1; }
        bool openStream(const sound::StreamRequest&, sound::AudioCallback*, sound::StreamInfo&,
                        sound::OpenFailure&, std::string&) override
        {
            return false;
        }
        bool startStream(std::string&) override { return false; }
        bool stopStream(std::string&) override { return false; }
        void closeStream() override {}
        bool streamOpen() const override { return false; }
        bool streamFailed(std::string&) override { return false; }
    };
};

class SetupFormTest : public ::testing::Test {
protected:
    std::shared_ptr<Backends> backends = std::make_shared<Backends>();
    CollectingMessageSink sink;
    Settings settings;
    std::unique_ptr<sound::WavePlayer> player;
    std::unique_ptr<sound::WaveRecorder> recorder;
    std::unique_ptr<SetupForm> form;
    int changes = 0;
    int layouts = 0;

    void SetUp() override
    {
        sound::WavePlayer::Config pc;
        pc.backends = backends;
        pc.messages = &sink;
        player = std::make_unique<sound::WavePlayer>(pc);
        sound::WaveRecorder::Config rc;
        rc.backends = backends;
        rc.messages = &sink;
        recorder = std::make_unique<sound::WaveRecorder>(rc);
        form = std::make_unique<SetupForm>(settings, sink,
                                           SetupForm::SoundObjects{player.get(), recorder.get()});
        form->setChangeHandler([this](bool layout) {
            ++changes;
            layouts += layout ? 1 : 0;
        });
        form->show();
    }

    int indexOf(C c, const std::string& text)
    {
        const auto items = form->items(c);
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i] == text)
                return static_cast<int>(i);
        ADD_FAILURE() << text << " is not an item of " << SetupForm::controlName(c);
        return -1;
    }
};

TEST_F(SetupFormTest, ListItemsStoreTheirValuesAndTheStoredValueSelectsItsItem)
{
    struct Case {
        C control;
        const char* item;
        std::function<bool(const Settings&)> stored;
    };
    const Case cases[] = {
        {C::ErrorStopCounterComboBox, "Never", [](auto& s) { return s.ErrorStopCounter == -1; }},
        {C::AbsTimeErrorStopCounterComboBox, "Never",
         [](auto& s) { return s.AbsTimeErrorStopCounter == -1; }},
        {C::AbsTimeErrorStopCounterComboBox, "20",
         [](auto& s) { return s.AbsTimeErrorStopCounter == 20; }},
        {C::RecFormatComboBox, "32000 LP",
         [](auto& s) { return s.RecSamplingFreq == 32000 && s.RecBitLen == 12; }},
        {C::RecFormatComboBox, "48000 / 24",
         [](auto& s) { return s.RecSamplingFreq == 48000 && s.RecBitLen == 24; }},
        {C::RecCopyBitsComboBox, "Once", [](auto& s) { return s.RecCopyBits == 3; }},
        {C::ExtendedFormatRadioGroup, "44100/24, 48000/24",
         [](auto& s) { return s.ExtendedFormatMode == 1; }},
        {C::ExtendedFormatPlayRecBitLenComboBox, "F32",
         [](auto& s) { return s.ExtendedFormatBitLen == -32; }},
        {C::WaveYMagComboBox, "x10", [](auto& s) { return s.WaveYDispMagRate == 10; }},
        {C::WaveDrawTypeComboBox, "DDraw 2", [](auto& s) { return s.WaveDrawType == 4; }},
        {C::ScsiModeRadioGroup, "SPTI", [](auto& s) { return !s.ASPI; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const int i = indexOf(c.control, c.item);
        ASSERT_TRUE(form->select(c.control, i));
        EXPECT_TRUE(c.stored(settings));
        EXPECT_EQ(form->selectedIndex(c.control), i);
    }
    // A hand-edited value that no item stands for selects nothing.
    settings.ErrorStopCounter = 1000;
    EXPECT_EQ(form->selectedIndex(C::ErrorStopCounterComboBox), -1);
}

TEST_F(SetupFormTest, CancelPutsBackEverySettingItChangedAndOkKeepsThem)
{
    const Settings before = settings;
    ASSERT_TRUE(form->setChecked(C::EnableSkipPlayCheckBox, true));
    ASSERT_TRUE(form->setChecked(C::RecEmphBitsCheckBox, true));
    ASSERT_TRUE(form->select(C::RecFormatComboBox, indexOf(C::RecFormatComboBox, "32000 LP")));
    ASSERT_TRUE(form->select(C::WaveXMagComboBox, indexOf(C::WaveXMagComboBox, "x4")));
    ASSERT_TRUE(form->select(C::ErrorStopCounterComboBox, 0));
    ASSERT_TRUE(form->select(C::PlayDevicesComboBox, 1));
    ASSERT_TRUE(form->select(C::DriverTypeComboBox, 1));
    EXPECT_EQ(player->driverType(), sound::SoundDriverType::Pulse);
    EXPECT_EQ(recorder->driverType(), sound::SoundDriverType::Pulse);
    EXPECT_EQ(layouts, 1);
    // A change the main window makes meanwhile is not the dialog's to undo.
    settings.TapeLength = 90;

    form->cancel();
    Settings expected = before;
    expected.TapeLength = 90;
    EXPECT_EQ(settings, expected);
    EXPECT_EQ(player->driverType(), sound::SoundDriverType::Alsa);
    EXPECT_EQ(recorder->driverType(), sound::SoundDriverType::Alsa);
    EXPECT_EQ(layouts, 2); // the magnification went back
    EXPECT_FALSE(form->accepted());

    form->show();
    ASSERT_TRUE(form->setChecked(C::EnableSkipPlayCheckBox, true));
    form->ok();
    EXPECT_TRUE(settings.EnableSkipPlay);
    EXPECT_TRUE(form->accepted());
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SetupFormTest, WhilePlayingOrRecordingTheLockedControlsRefuseWithTheirNote)
{
    form->setBusy(true, false, false);
    EXPECT_FALSE(form->select(C::DriverTypeComboBox, 1));
    EXPECT_EQ(settings.PlayRecDriverType, 0);
    EXPECT_FALSE(form->enabled(C::DriverTypeComboBox));
    EXPECT_EQ(form->note(C::DriverTypeComboBox), "Unable to change while playing/recording.");
    EXPECT_FALSE(form->select(C::PlayDevicesComboBox, 1));
    EXPECT_EQ(form->note(C::PlayDevicesComboBox), "Unable to change while playing.");
    EXPECT_FALSE(form->select(C::ExtendedFormatPlayRecBitLenComboBox, 1));
    EXPECT_FALSE(form->formatListEnabled(SetupDevice::Playback));
    // What playback does not use stays free.
    EXPECT_TRUE(form->select(C::RecFormatComboBox, 0));
    EXPECT_EQ(form->note(C::RecFormatComboBox), "");
    EXPECT_TRUE(form->setChecked(C::EnableDeEmphasisCheckBox, true));

    form->setBusy(false, false, true);
    EXPECT_FALSE(form->select(C::RecFormatComboBox, 3));
    EXPECT_EQ(form->note(C::RecFormatComboBox), "Unable to change while recording.");
    EXPECT_FALSE(form->setChecked(C::CreateWaveFileOnRecCheckBox, true));
    EXPECT_TRUE(form->select(C::PlayDevicesComboBox, 1));

    form->setBusy(false, false, false);
    EXPECT_EQ(form->note(C::DriverTypeComboBox), "");
    EXPECT_TRUE(form->select(C::DriverTypeComboBox, 1));
}

TEST_F(SetupFormTest, CancelWhileRunningKeepsTheDevicesWithItsMessage)
{
    ASSERT_TRUE(form->select(C::PlayDevicesComboBox, 1));
    ASSERT_TRUE(form->setChecked(C::DisplayDateCheckBox, true));
    form->setBusy(true, false, false);
    form->cancel();
    EXPECT_EQ(settings.PlayDeviceNum, 1);
    EXPECT_FALSE(settings.DisplayDate);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Unable to restore when Playing or Recording.");
    EXPECT_EQ(sink.messages[0].caption, "Setup - Sound Device - Device");
}

TEST_F(SetupFormTest, ADriverThatCannotLoadIsReportedAndTheOldOneStays)
{
    backends->jackFails = true;
    EXPECT_FALSE(form->select(C::DriverTypeComboBox, 2));
    EXPECT_EQ(settings.PlayRecDriverType, 0);
    EXPECT_EQ(player->driverType(), sound::SoundDriverType::Alsa);
    EXPECT_EQ(recorder->driverType(), sound::SoundDriverType::Alsa);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text.rfind("Unable to load selected driver.\n\n", 0), 0u);
    EXPECT_EQ(sink.messages[0].caption, "Setup - Sound device - Driver");
}

TEST_F(SetupFormTest, DeviceAndChannelListsFollowTheDriverType)
{
    EXPECT_EQ(form->items(C::PlayDevicesComboBox),
              (std::vector<std::string>{"Default device", "Null device"}));
    EXPECT_TRUE(form->items(C::ASIO_PlayChComboBox).empty());
    EXPECT_FALSE(form->enabled(C::ASIO_PlayChComboBox));
    EXPECT_FALSE(form->infoPanelEnabled(SetupDevice::Playback));

    settings.ASIO_PlayChNum = 1;
    ASSERT_TRUE(form->select(C::DriverTypeComboBox, 2));
    EXPECT_EQ(settings.ASIO_PlayChNum, 0); // a new driver starts at its first channel
    EXPECT_EQ(form->items(C::PlayDevicesComboBox), (std::vector<std::string>{"Null device"}));
    EXPECT_EQ(form->items(C::ASIO_RecChComboBox), (std::vector<std::string>{"Input 1", "Input 2"}));
    EXPECT_TRUE(form->enabled(C::ASIO_PlayChComboBox));

    // Without a sound input object the record group has nothing to list.
    SetupForm noInput(settings, sink, {player.get(), nullptr});
    EXPECT_EQ(noInput.items(C::RecDevicesComboBox), (std::vector<std::string>{"No Device"}));
    EXPECT_FALSE(noInput.enabled(C::RecDevicesComboBox));
    EXPECT_FALSE(noInput.formatListEnabled(SetupDevice::Record));
}

TEST_F(SetupFormTest, TheSoundPageIsRefusedTheFirstTimeOnlyWhileJackRuns)
{
    ASSERT_TRUE(form->select(C::DriverTypeComboBox, 2));
    form->setBusy(false, false, true);
    EXPECT_FALSE(form->selectPage(SetupPage::SoundDevice));
    EXPECT_EQ(form->page(), SetupPage::PlayRec);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].caption, "Setup - Sound device");
    form->setBusy(false, false, false);
    EXPECT_TRUE(form->selectPage(SetupPage::SoundDevice));
    form->setBusy(true, false, false);
    EXPECT_TRUE(form->selectPage(SetupPage::Misc));
    EXPECT_TRUE(form->selectPage(SetupPage::SoundDevice)); // filled once: no longer refused
}

TEST_F(SetupFormTest, OkAfterASwitchOfTheScsiModeTellsToRestart)
{
    ASSERT_TRUE(form->select(C::ScsiModeRadioGroup, 1));
    form->ok();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text,
              "SCSI mode has been changed.\n\nTo validate this change, please close Tarnvel and "
              "restart.");
    EXPECT_EQ(sink.messages[0].caption, "Setup - Misc. - SCSI mode");
    form->show();
    form->ok(); // unchanged since this showing
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(SetupFormTest, FormatListShowsTheDeviceTableWithTheCurrentRecordFormat)
{
    settings.RecSamplingFreq = 44100;
    settings.RecBitLen = 16;
    const FormatListView v = form->formatList(SetupDevice::Record, true);
    EXPECT_EQ(v.caption, "Record device Format list");
    EXPECT_EQ(v.deviceName, "Default device");
    ASSERT_EQ(v.grid.size(), 10u);
    EXPECT_EQ(v.grid[0].size(), 6u);
    EXPECT_EQ(v.selectedRow, 4);    // 44100 is the fourth rate
    EXPECT_EQ(v.selectedColumn, 2); // 16 bits
    EXPECT_EQ(v.grid[4][2], "   S");
    EXPECT_FALSE(v.showReducedLegend);
}

} // namespace
} // namespace tarnvel::app
