#include "app/CompactPath.h"
#include "app/ControlLists.h"
#include "app/ScreenArea.h"
#include "app/SubcodeWindowModel.h"

#include <gtest/gtest.h>

namespace tarnvel::app {
namespace {

// A field that holds `n` characters.
auto width(std::size_t n)
{
    return [n](const std::string& s) { return s.size() <= n; };
}

TEST(CompactPathTest, FoldersGoFromTheMiddleThenTheMiddleOfTheName)
{
    const std::string p = "/home/ann/music/takes/take01.WAV";
    EXPECT_EQ(compactPath(p, width(100)), p);
    EXPECT_EQ(compactPath(p, width(p.size() - 1)), "/home/ann/music/.../take01.WAV");
    EXPECT_EQ(compactPath(p, width(24)), "/home/ann/.../take01.WAV");
    EXPECT_EQ(compactPath(p, width(20)), "/home/.../take01.WAV");
    EXPECT_EQ(compactPath(p, width(16)), "/.../take01.WAV");
    // A name too long for the field keeps its start and its end.
    EXPECT_EQ(compactPath("/rec/concert second half take 017.WAV", width(20)),
              "concert ...e 017.WAV");
    EXPECT_EQ(compactPath(p, width(9)), "tak...WAV");
    EXPECT_EQ(compactPath(p, width(1)), "...");
    // A cut never splits a character: "é" is two bytes.
    EXPECT_EQ(compactPath("caf\xC3\xA9\xC3\xA9-s.WAV", width(11)), "caf...s.WAV");
    EXPECT_EQ(compactPath("abcd\xC3\xA9"
                          "f",
                          width(6)),
              "ab...f");
    EXPECT_EQ(compactPath("name.WAV", width(5)), "n...V");
}

TEST(SubcodeWindowModelTest, ModesGiveTheirCaptionSizeAndHideTime)
{
    SubcodeWindowModel w;
    EXPECT_EQ(w.layout().caption, "SubCode & Data");
    EXPECT_EQ(w.layout().width, 370);
    EXPECT_EQ(w.layout().textWidth, 354);
    EXPECT_EQ(w.layout().textHeight, 305);
    EXPECT_FALSE(w.layout().labelVisible);
    EXPECT_EQ(w.hideAfterMs(), 0);
    // Over a 800 x 600 window at (100, 50): centred, then 40 pixels lower.
    EXPECT_EQ(w.placement(100, 50, 800, 600), (std::pair<int, int>{315, 222}));

    w.setMode(SubcodeWindowModel::kModeReading);
    EXPECT_EQ(w.layout().caption, "File");
    EXPECT_EQ(w.layout().label, "Reading...");
    EXPECT_EQ(w.layout().width, 520);
    EXPECT_EQ(w.layout().height, 52);
    EXPECT_EQ(w.hideAfterMs(), 8000);
    EXPECT_EQ(w.placement(0, 0, 800, 600), (std::pair<int, int>{140, 394}));
    w.setMode(SubcodeWindowModel::kModeCreating);
    EXPECT_EQ(w.layout().label, "Creating...");
}

TEST(SubcodeWindowModelTest, FileNamesAreShortenedAndTheDumpIsKeptWhole)
{
    SubcodeWindowModel w;
    const std::string dump = "SubID\n [0]: 0F\n";
    EXPECT_EQ(w.setText(dump, width(3)), dump);
    w.setMode(SubcodeWindowModel::kModeCreating);
    EXPECT_EQ(w.setText("/data/tapes/a/b/base01.WAV", width(20)), "/data/.../base01.WAV");
    EXPECT_EQ(w.setText(std::string(10000, 'x'), width(20000)).size(),
              SubcodeWindowModel::kMaxText);
}

// Windows inside an area of 1280 x 984 below a 40-pixel panel.
TEST(ScreenAreaTest, FramesAreMovedAndShrunkIntoTheArea)
{
    const ScreenRect area{0, 40, 1280, 984};
    const struct {
        const char* what;
        ScreenRect frame;
        int minWidth, minHeight;
        ScreenRect fitted;
    } cases[] = {
        {"inside stays", {100, 100, 600, 400}, 0, 0, {100, 100, 600, 400}},
        {"past the right and bottom edges", {1000, 900, 600, 400}, 0, 0, {680, 624, 600, 400}},
        {"above and left of the area", {-50, 0, 600, 400}, 0, 0, {0, 40, 600, 400}},
        {"larger than the area", {200, 100, 1400, 1100}, 300, 200, {0, 40, 1280, 984}},
        {"cannot shrink enough: title bar in reach",
         {500, 500, 1400, 1100},
         1300,
         1000,
         {0, 40, 1300, 1000}},
        {"wholly beyond the right edge", {1300, 100, 600, 400}, 0, 0, {680, 100, 600, 400}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fitIntoArea(c.frame, area, c.minWidth, c.minHeight), c.fitted) << c.what;
        if (c.minWidth <= area.width && c.minHeight <= area.height) {
            EXPECT_TRUE(area.contains(fitIntoArea(c.frame, area, c.minWidth, c.minHeight)))
                << c.what;
        }
    }
    EXPECT_EQ(centredOn(400, 300, {100, 50, 1000, 700}), (ScreenRect{400, 250, 400, 300}));
}

TEST(ControlListsTest, StoredValuesOutsideTheListsTakeTheFirstItem)
{
    const ListChoice level = autoIdLevelList(-40);
    EXPECT_EQ(level.index, 0);
    EXPECT_EQ(level.value, -36);
    EXPECT_EQ(level.text, "-36");
    EXPECT_EQ(muteTimeList(9).value, 1);
    EXPECT_EQ(muteTimeList(4).index, 3);
    EXPECT_EQ(autoIdTimeList(2).text, "2");
    EXPECT_EQ(writeIdKinds(), (std::vector<std::string>{"START", "SKIP", "END"}));
}

TEST(ControlListsTest, TapeLengthBoxShowsAutoAPresetOrTheNumber)
{
    const ListChoice automatic = tapeLengthList("46,60,90", 0);
    EXPECT_EQ(automatic.items, (std::vector<std::string>{"Auto", "46", "60", "90"}));
    EXPECT_EQ(automatic.index, 0);
    EXPECT_EQ(tapeLengthList("46,60,90", 90).index, 3);
    const ListChoice other = tapeLengthList("46,60,90", 75);
    EXPECT_EQ(other.index, -1);
    EXPECT_EQ(other.text, "75");
    EXPECT_EQ(tapeLengthFromText("Auto"), 0);
    EXPECT_EQ(tapeLengthFromText(" 120"), 120);
    EXPECT_EQ(tapeLengthFromText("99999999999"), 500);
}

} // namespace
} // namespace tarnvel::app

#include "app/ColourValue.h"

namespace tarnvel::app {
namespace {

TEST(ColourValueTest, LowByteIsRedAndTheTopBitNamesADesktopColour)
{
    const ColourValue c = decodeColour(0x00C0F0F0);
    EXPECT_FALSE(c.system);
    EXPECT_EQ(c.red, 0xF0);
    EXPECT_EQ(c.green, 0xF0);
    EXPECT_EQ(c.blue, 0xC0);
    const ColourValue face = decodeColour(static_cast<std::int32_t>(0x8000000Fu));
    EXPECT_TRUE(face.system);
    EXPECT_EQ(face.systemIndex, kSystemButtonFace);
}

} // namespace
} // namespace tarnvel::app
