#include "sound/DeviceCatalog.h"

#include "sound/NullAudioBackend.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <gtest/gtest.h>

using namespace tarnvel::sound;

namespace {

// A back-end whose library or server cannot be reached at all.
class UnreachableBackend final : public AudioBackend {
public:
    bool listDevices(std::vector<AudioDeviceInfo>&, std::string& error) override
    {
        error = "server not running";
        return false;
    }
    int defaultDevice(StreamDirection) override { return -1; }
    bool openStream(const StreamRequest&, AudioCallback*, StreamInfo&, OpenFailure& failure,
                    std::string& error) override
    {
        failure = OpenFailure::Other;
        error = "server not running";
        return false;
    }
    bool startStream(std::string&) override { return false; }
    bool stopStream(std::string&) override { return true; }
    void closeStream() override {}
    bool streamOpen() const override { return false; }
    bool streamFailed(std::string&) override { return false; }
};

// JACK unreachable, the other types served by the null device.
class NoJackProvider final : public AudioBackendProvider {
public:
    explicit NoJackProvider(NullDeviceOptions o) : options_(std::move(o)) {}
    std::unique_ptr<AudioBackend> create(SoundDriverType type) override
    {
        if (type == SoundDriverType::Jack)
            return std::make_unique<UnreachableBackend>();
        return std::make_unique<NullAudioBackend>(options_);
    }

private:
    NullDeviceOptions options_;
};

} // namespace

TEST(DeviceCatalog, DriverNameRule)
{
    EXPECT_EQ(DeviceCatalog::listedDriverName(std::string(31, 'a')), std::string(31, 'a'));
    EXPECT_EQ(DeviceCatalog::listedDriverName(std::string(32, 'b')), std::string(28, 'b') + "...");
    const std::string forty = "0123456789012345678901234567890123456789";
    EXPECT_EQ(DeviceCatalog::listedDriverName(forty), "0123456789012345678901234567...");
}

TEST(DeviceCatalog, NumberingPerDriverType)
{
    NullDeviceOptions o;
    o.name = "Monitor of a very long device name that goes on";
    WavePlayer::Config c;
    c.backends = std::make_shared<NullBackendProvider>(o);
    WavePlayer player(c);
    // ALSA: 0 is the default device, then the devices.
    EXPECT_EQ(player.getDeviceCount(), 1);
    EXPECT_EQ(player.getDeviceName(0), "Default device");
    EXPECT_EQ(player.getDeviceName(1), o.name);
    // PulseAudio: entry names cut to 42 characters.
    EXPECT_FALSE(player.setDriverType(SoundDriverType::Pulse));
    EXPECT_EQ(player.getDeviceCount(), 1);
    EXPECT_EQ(player.getDeviceName(1), o.name.substr(0, 42));
    // JACK: the devices from 0, names by the driver-list rule.
    EXPECT_FALSE(player.setDriverType(SoundDriverType::Jack));
    EXPECT_EQ(player.getDeviceCount(), 1);
    EXPECT_EQ(player.getDeviceName(0), "Monitor of a very long devic...");
    EXPECT_EQ(player.getDeviceName(1), "");
    ASSERT_TRUE(player.openTest(0));
    EXPECT_EQ(player.channelCount(), 2);
    EXPECT_EQ(player.channelName(1), "Output 2");
    EXPECT_EQ(player.channelName(2), "Not available");
    EXPECT_FALSE(player.controlPanel(0));
    std::string info;
    ASSERT_TRUE(player.driverInfoText(0, 0, info)) << player.getErrorText();
    EXPECT_EQ(info.rfind(
                  "======= JACK Driver Information =======\n  [Monitor of a very long devic...]\n\n"
                  "Input Channels:\t 2\nOutput Channels:\t 2\n"
                  "Sample Rate:\t 48000\nBits/Sample:\t 24  (type:17)\n"
                  "Buffer size min:\t 256\n",
                  0),
              0u)
        << info;
}

TEST(DeviceCatalog, UnavailableTypesFallBackOrStay)
{
    NullDeviceOptions o;
    WavePlayer::Config c;
    c.backends = std::make_shared<NoJackProvider>(o);
    c.driverType = SoundDriverType::Jack;
    WavePlayer player(c); // JACK unavailable at creation: falls back to ALSA
    EXPECT_EQ(player.driverType(), SoundDriverType::Alsa);
    EXPECT_EQ(player.getDeviceCount(), 1);
    EXPECT_TRUE(player.setDriverType(SoundDriverType::Jack));
    EXPECT_EQ(player.getErrorText(), "Unable to create JACK");
    EXPECT_EQ(player.driverType(), SoundDriverType::Alsa);
    EXPECT_EQ(player.getDeviceCount(), 1);

    NullDeviceOptions noInputs;
    noInputs.inputChannels = 0;
    WaveRecorder::Config rc;
    rc.backends = std::make_shared<NullBackendProvider>(noInputs);
    WaveRecorder recorder(rc);
    EXPECT_EQ(recorder.getDeviceCount(), 0);
    EXPECT_EQ(recorder.getErrorText(), "No Wave Input device");
    EXPECT_FALSE(recorder.start(0, 0));
}
