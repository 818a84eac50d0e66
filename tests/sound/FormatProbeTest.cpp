#include "sound/FormatTable.h"
#include "sound/NullAudioBackend.h"
#include "sound/WavePlayer.h"
#include "sound/WaveRecorder.h"

#include <gtest/gtest.h>

using namespace tarnvel::sound;

namespace {

std::string row(const FormatTable& t, int r)
{
    return std::string(t.cells[r].begin(), t.cells[r].end());
}

template <typename Device>
typename Device::Config configFor(const NullDeviceOptions& o, SoundDriverType type)
{
    typename Device::Config c;
    c.backends = std::make_shared<NullBackendProvider>(o);
    c.driverType = type;
    return c;
}

} // namespace

TEST(FormatProbe, AlsaRoleOpensEachFormatAndQueryAgrees)
{
    NullDeviceOptions o;
    o.rates = {44100, 48000};
    o.outputChannels = 1; // mono only
    WavePlayer player(configFor<WavePlayer>(o, SoundDriverType::Alsa));
    for (bool query : {false, true}) {
        const FormatTable t = player.probeFormats(0, query);
        for (int r = 0; r < FormatTable::kRows; ++r) {
            const bool listed = kProbeRates[r] == 44100 || kProbeRates[r] == 48000;
            EXPECT_EQ(row(t, r), listed ? "MMMMM" : "-----")
                << kProbeRates[r] << " query " << query;
        }
    }
    NullDeviceOptions stereo;
    WavePlayer full(configFor<WavePlayer>(stereo, SoundDriverType::Alsa));
    const FormatTable t = full.probeFormats(1, false);
    for (int r = 0; r < FormatTable::kRows; ++r)
        EXPECT_EQ(row(t, r), "SSSSS");
    EXPECT_TRUE(full.probeFormats(7, false).allDash()); // no such device
}

TEST(FormatProbe, JackRoleMarksTheDeviceBitLength)
{
    NullDeviceOptions o;
    o.rates = {48000, 96000};
    o.channelSampleType = kInt24Lsb;
    WavePlayer player(configFor<WavePlayer>(o, SoundDriverType::Jack));
    const FormatTable out = player.probeFormats(0, false);
    for (int r = 0; r < FormatTable::kRows; ++r) {
        const bool runs = kProbeRates[r] == 48000 || kProbeRates[r] == 96000;
        EXPECT_EQ(row(out, r), runs ? "SS*-S" : "-----") << kProbeRates[r];
    }

    auto rc = configFor<WaveRecorder>(o, SoundDriverType::Jack);
    rc.allowReduceBitLength = true;
    WaveRecorder recorder(rc);
    const FormatTable in = recorder.probeFormats(0, false);
    EXPECT_EQ(row(in, 4), "-R*-S"); // 48000: 16 only by reduction, float counts as 24
    EXPECT_EQ(row(in, 0), "-----");

    NullDeviceOptions i32 = o;
    i32.channelSampleType = kInt32Lsb;
    WaveRecorder strict(configFor<WaveRecorder>(i32, SoundDriverType::Jack));
    EXPECT_EQ(row(strict.probeFormats(0, true), 4), "--S*S");
    EXPECT_TRUE(strict.probeFormats(1, false).allDash()); // a device that cannot be opened
}

TEST(FormatProbe, GridTextsAndSelection)
{
    FormatTable t;
    t.cells[3] = {'-', 'S', '*', 's', 'M'};
    const auto grid = formatListGrid(t);
    ASSERT_EQ(grid.size(), 10u);
    ASSERT_EQ(grid[0].size(), 6u);
    EXPECT_EQ(grid[0][0], "  Fs\\bit");
    EXPECT_EQ(grid[0][1], "   8 ");
    EXPECT_EQ(grid[0][5], "  F32");
    EXPECT_EQ(grid[4][0], "   44100");
    EXPECT_EQ(grid[9][0], "  192000");
    EXPECT_EQ(grid[4][1], "   -");
    EXPECT_EQ(grid[4][2], "   S");
    EXPECT_EQ(grid[4][3], "  *S");
    EXPECT_EQ(grid[4][4], "   s");

    EXPECT_EQ(formatListSelection(16, 44100), std::make_pair(4, 2));
    EXPECT_EQ(formatListSelection(-32, 192000), std::make_pair(9, 5));
    EXPECT_EQ(formatListSelection(16, 12345), std::make_pair(-1, -1));
    EXPECT_EQ(formatListSelection(12, 32000), std::make_pair(-1, -1));
}
