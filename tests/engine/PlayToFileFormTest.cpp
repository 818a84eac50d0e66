#include "engine/PlayToFileForm.h"

#include <gtest/gtest.h>

namespace tarnvel::engine {
namespace {

TEST(PlayToFileForm, ShowingTakesTheSettingsAndOffersPeersOnlyWhenOneRuns)
{
    app::Settings s;
    s.WriteToFileOnly = true;
    s.EnableDivideFileAtID = false;
    s.PreReadIDsec10 = 3;
    PlayToFileForm f;
    f.destination = PlayDestination::PeerImage;
    f.show(s, false, false);
    EXPECT_EQ(f.destination, PlayDestination::Wave); // the peer is gone: back to WAV files
    EXPECT_FALSE(f.destinationEnabled(PlayDestination::PeerAudio));
    EXPECT_FALSE(f.withSound);
    EXPECT_FALSE(f.divide);
    EXPECT_EQ(f.preReadIndex, 3);
    EXPECT_EQ(f.divideCaption(), "Divide at each ID (PNo)");
    f.destination = PlayDestination::PeerAudio;
    f.show(s, true, true);
    EXPECT_EQ(f.destination, PlayDestination::PeerAudio); // remembered
    EXPECT_EQ(f.divideCaption(), "Divide at each V.ID (PNo)");
}

TEST(PlayToFileForm, OkChecksTheNameMakesItAbsoluteAndAsksAboutAnImageFromHere)
{
    app::Settings s;
    s.Dir = "/music/";
    CollectingMessageSink sink;
    std::vector<std::string> asked;
    bool answer = false;
    auto ask = [&](const std::string& q) {
        asked.push_back(q);
        return answer;
    };
    PlayToFileForm f;
    f.show(s, false, false);
    EXPECT_FALSE(f.ok(s, false, ask, sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Please input file name.");

    f.waveBase = "tapes/concert";
    f.withSound = true;
    f.preReadIndex = 2;
    ASSERT_TRUE(f.ok(s, false, ask, sink));
    EXPECT_EQ(f.request().waveBase, "/music/tapes/concert");
    EXPECT_EQ(s.Dir, "/music/tapes/");
    EXPECT_FALSE(s.WriteToFileOnly);
    EXPECT_EQ(s.PreReadIDsec10, 2);

    f.destination = PlayDestination::Image;
    f.imageName = "/data/copy";
    answer = false;
    EXPECT_FALSE(f.ok(s, true, ask, sink)); // Cancel keeps the dialog open
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "Rewinding is not performed before create Image file.\nABS Time does not "
                        "start from 00:00:00:00.\n\n Are you sure?");
    answer = true;
    ASSERT_TRUE(f.ok(s, true, ask, sink));
    EXPECT_TRUE(f.request().imageFromHere);
    ASSERT_TRUE(f.ok(s, false, ask, sink));
    EXPECT_FALSE(f.request().imageFromHere);
    EXPECT_EQ(s.Dir, "/data/");
}

} // namespace
} // namespace tarnvel::engine
