#include "shelf/ShelfList.h"

#include <gtest/gtest.h>

namespace tarnvel::shelf::test {
namespace {

TEST(ShelfList, LabelsOptionsAndComments)
{
    std::vector<ShelfTape> tapes;
    std::string error;
    ASSERT_TRUE(parseShelfList("# concerts 1994\n"
                               "T001\n"
                               "  T002   --no-divide --preread 3   # a long one\r\n"
                               "\n"
                               "box_7-a --bwf --no-qc\n"
                               "T004 --flac --retries 8\n"
                               "T003",
                               tapes, error))
        << error;
    ASSERT_EQ(tapes.size(), 5u);
    EXPECT_EQ(tapes[0].label, "T001");
    EXPECT_EQ(tapes[0].line, 2);
    EXPECT_FALSE(tapes[0].options.noDivide);
    EXPECT_EQ(tapes[1].label, "T002");
    EXPECT_TRUE(tapes[1].options.noDivide);
    EXPECT_EQ(tapes[1].options.preRead, 3);
    EXPECT_EQ(tapes[1].optionText, "--no-divide --preread 3");
    EXPECT_TRUE(tapes[2].options.bwf);
    EXPECT_TRUE(tapes[2].options.noQc);
    EXPECT_TRUE(tapes[3].options.flac);
    EXPECT_EQ(tapes[3].options.retries, 8);
    EXPECT_EQ(tapes[4].label, "T003");
    EXPECT_EQ(tapes[4].line, 7);
}

TEST(ShelfList, MistakesAreRefusedWithTheirLine)
{
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"T001\nT0/2\n", "line 2: \"T0/2\" is not a tape label"},
        {"T001\n../x\n", "line 2: \"../x\" is not a tape label"},
        {"-T1\n", "line 1: \"-T1\" is not a tape label"},
        {"T\xC3\xA9\n", "line 1: \"T\xC3\xA9\" is not a tape label"},
        {"T001\nt001\n", "line 2: the label t001 is listed twice"},
        {"T001 --image\n", "line 1: T001: --image is not offered"},
        {"T001 --retries 100\n", "line 1: T001: --retries needs a number"},
        {"T001 --flac --bwf\n", "line 1: T001: --flac and --bwf exclude each other"},
        {"T001 --preread\n", "line 1: T001: --preread needs a number"},
        {"T001 --preread 6\n", "line 1: T001: --preread needs a number"},
        {"T001 --preread 2x\n", "line 1: T001: --preread needs a number"},
        {"T001 --fast\n", "line 1: T001: unknown option \"--fast\""},
        {"T001 T002\n", "line 1: T001: unknown option \"T002\""},
        {"# nothing\n\n", "no tape is listed"},
        {std::string(65, 'A') + "\n", "line 1: \""},
    };
    for (const auto& c : cases) {
        std::vector<ShelfTape> tapes;
        std::string error;
        EXPECT_FALSE(parseShelfList(c.text, tapes, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " -> " << error;
        EXPECT_TRUE(tapes.empty());
    }
}

} // namespace
} // namespace tarnvel::shelf::test
