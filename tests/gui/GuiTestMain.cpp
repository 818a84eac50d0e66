// The widget tests run on Qt's offscreen platform: no display is needed. Its screen is
// 1280 x 1024, a desktop the windows must fit on.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<char*> args(argv, argv + argc);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    char config[] = "/tmp/tarnvel-gui-screen-XXXXXX";
    std::string platformArg;
    const bool offscreen = platform == nullptr || std::strcmp(platform, "offscreen") == 0;
    if (offscreen) {
        const int fd = mkstemp(config);
        if (fd < 0)
            return 1;
        const char screen[] = R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1280,)"
                              R"( "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96,)"
                              R"( "dpr": 1.0}]})";
        const bool written = write(fd, screen, sizeof screen - 1) == sizeof screen - 1;
        close(fd);
        if (!written)
            return 1;
        platformArg = std::string("offscreen:configfile=") + config;
        args.push_back(const_cast<char*>("-platform"));
        args.push_back(platformArg.data());
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    QApplication app(count, args.data());
    if (offscreen)
        unlink(config); // read when the platform started
    ::testing::InitGoogleTest(&count, args.data());
    return RUN_ALL_TESTS();
}
