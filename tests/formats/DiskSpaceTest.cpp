#include "formats/DiskSpace.h"

#include "support/TempDir.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

namespace tarnvel::formats {
namespace {

TEST(DiskSpace, FreeBytesOfFilesThatDoNotExistYet)
{
    test::TempDir dir;
    const std::uint64_t free = freeDiskBytes(dir.path().string());
    EXPECT_GT(free, 0u);
    // A file deep in folders still to be made is measured on the nearest existing folder.
    const std::string deep = dir.file("a/b/c/take.TVI");
    EXPECT_GT(freeDiskBytes(deep), 0u);
    EXPECT_EQ(diskOf(deep), diskOf(dir.path().string()));
    EXPECT_EQ(diskOf("/"), "/");
    EXPECT_GT(freeDiskBytes("relative-name.wav"), 0u);
}

TEST(DiskSpace, CheckPassesOrShowsTheShortfall)
{
    test::TempDir dir;
    const std::string path = dir.file("take.WAV");
    CollectingMessageSink sink;
    std::uint64_t seen = 0;
    EXPECT_TRUE(checkDiskSpace(path, 44, "", sink, &seen));
    EXPECT_GT(seen, 44u);
    EXPECT_TRUE(sink.messages.empty());

    const std::uint64_t needed = seen + (std::uint64_t{3} << 50); // 3 PiB more than there is
    EXPECT_FALSE(checkDiskSpace(path, needed, "Setup", sink, &seen));
    ASSERT_EQ(sink.messages.size(), 1u);
    const auto& m = sink.messages[0];
    EXPECT_EQ(m.caption, "Setup");
    EXPECT_EQ(m.icon, MessageIcon::Warning);
    const std::string expectedStart = "Insufficient disk space on disk " + diskOf(path) + "   (";
    EXPECT_EQ(m.text.rfind(expectedStart, 0), 0u) << m.text;
    const std::size_t gap = m.text.find("MB)\n\n");
    ASSERT_NE(gap, std::string::npos) << m.text;
    EXPECT_EQ(m.text[gap - 3], '.') << m.text;
    EXPECT_NE(m.text.find("\n\n" + path + "  ("), std::string::npos) << m.text;
}

TEST(DiskSpace, MegabyteTextOfTheMessage)
{
    // Sizes are shown as megabytes and hundredths: (bytes mod 1 MiB) / 10486.
    CollectingMessageSink sink;
    test::TempDir dir;
    std::uint64_t seen = 0;
    checkDiskSpace(dir.path().string(), 0, "", sink, &seen);
    const std::uint64_t needed = seen + 1048576 * 2 + 524288; // free + 2.50 MB
    ASSERT_FALSE(checkDiskSpace(dir.path().string(), needed, "", sink, &seen));
    const std::string& text = sink.messages.at(0).text;
    const std::uint64_t mb = needed / 1048576;
    const std::uint64_t hundredths = (needed % 1048576) / 10486;
    char tail[64];
    std::snprintf(tail, sizeof tail, "  (%d.%02dMB)", static_cast<int>(mb),
                  static_cast<int>(hundredths));
    EXPECT_EQ(text.substr(text.size() - std::strlen(tail)), tail);
}

} // namespace
} // namespace tarnvel::formats
