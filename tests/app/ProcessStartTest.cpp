#include "app/InstanceLock.h"
#include "app/ProgramIdentity.h"
#include "common/Message.h"
#include "support/TempDir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnvel::app {
namespace {

TEST(InstanceLockTest, FirstSecondThenBothTaken)
{
    test::TempDir dir;
    std::string error;
    InstanceLock a;
    InstanceLock b;
    InstanceLock c;
    EXPECT_EQ(a.claim(dir.path().string(), error), InstanceClaim::First);
    EXPECT_EQ(b.claim(dir.path().string(), error), InstanceClaim::Second);
    EXPECT_EQ(c.claim(dir.path().string(), error), InstanceClaim::BothTaken);
    EXPECT_EQ(c.instance(), 0);
    EXPECT_EQ(windowToRaiseOnThirdStart(), "Tarnvel:2");

    // Instance 1 ends: the next start becomes instance 1 while instance 2 keeps running.
    a.release();
    EXPECT_EQ(c.claim(dir.path().string(), error), InstanceClaim::First);
    InstanceLock moved = std::move(c);
    EXPECT_EQ(moved.instance(), 1);
    EXPECT_EQ(c.instance(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "qor_tv_mutex"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "qor_tv_mutex2"));
}

TEST(InstanceLockTest, ProcessStartUsesTheRuntimeFolderOfTheEnvironment)
{
    test::TempDir runtime;
    const char* before = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = before != nullptr ? before : "";
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    std::string error;
    InstanceLock first;
    InstanceLock second;
    EXPECT_EQ(claimInstance(first, error), InstanceClaim::First) << error;
    EXPECT_EQ(claimInstance(second, error), InstanceClaim::Second) << error;
    EXPECT_TRUE(std::filesystem::exists(runtime.path() / "tarnvel" / "qor_tv_mutex2"));
    if (before != nullptr)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

TEST(InstanceLockTest, CrashedInstanceReleasesItsLock)
{
    test::TempDir dir;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock lock;
        std::string error;
        const bool first = lock.claim(dir.path().string(), error) == InstanceClaim::First;
        const char byte = first ? '1' : '0';
        (void)!write(ready[1], &byte, 1);
        pause(); // until killed
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, '1');
    std::string error;
    InstanceLock second;
    EXPECT_EQ(second.claim(dir.path().string(), error), InstanceClaim::Second);
    second.release();

    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
    InstanceLock after;
    EXPECT_EQ(after.claim(dir.path().string(), error), InstanceClaim::First);
}

TEST(InstanceLockTest, RuntimeFolder)
{
    EXPECT_EQ(runtimeFolderPath("/run/user/1000", 1000), "/run/user/1000/tarnvel/");
    EXPECT_EQ(runtimeFolderPath("/run/user/1000/", 1000), "/run/user/1000/tarnvel/");
    EXPECT_EQ(runtimeFolderPath(nullptr, 42), "/tmp/tarnvel-42/");
    EXPECT_EQ(runtimeFolderPath("relative", 42), "/tmp/tarnvel-42/");

    test::TempDir dir;
    std::string error;
    const std::string folder = dir.file("tarnvel") + "/";
    ASSERT_TRUE(prepareRuntimeFolder(folder, error)) << error;
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    chmod(folder.c_str(), 0755); // too open: tightened
    ASSERT_TRUE(prepareRuntimeFolder(folder, error));
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link planted where the folder should be is refused, as is a plain file.
    ASSERT_EQ(symlink(dir.path().c_str(), dir.file("link").c_str()), 0);
    EXPECT_FALSE(prepareRuntimeFolder(dir.file("link"), error));
    EXPECT_NE(error.find("not a directory"), std::string::npos);
    {
        std::ofstream(dir.file("plain")) << "x";
    }
    EXPECT_FALSE(prepareRuntimeFolder(dir.file("plain"), error));

    // A lock file that is a link is not followed.
    const std::string linked = dir.file("locks") + "/";
    ASSERT_TRUE(prepareRuntimeFolder(linked, error));
    ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), (linked + "qor_tv_mutex").c_str()), 0);
    InstanceLock lock;
    EXPECT_EQ(lock.claim(linked, error), InstanceClaim::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "elsewhere"));
}

TEST(ProgramIdentityTest, TextsOfEachInstance)
{
    EXPECT_EQ(programTitle(1), "Tarnvel");
    EXPECT_EQ(programTitle(2), "Tarnvel:2");
    EXPECT_EQ(otherDriveName(1), "DAT2");
    EXPECT_EQ(otherDriveName(2), "DAT1");
    EXPECT_EQ(settingsFileName(1), "TV.INI");
    EXPECT_EQ(settingsFileName(2), "TV_2.INI");
    EXPECT_EQ(dialogCaption(programTitle(2), "Setup"), "Tarnvel:2 - Setup");
    EXPECT_EQ(audioDriveNotFoundText(1), "Audio capable tape drive not found.");
    EXPECT_EQ(audioDriveNotFoundText(2), "2'nd Audio capable tape drive not found.");
    EXPECT_EQ(deviceLineText(0, 5, "TARNVEL", "DAT SIMULATOR", "1.0"),
              "[0:5] TARNVEL DAT SIMULATOR 1.0");
    EXPECT_EQ(unableToCloseText(1), "Unable to close while the drive running.");
    EXPECT_EQ(unableToCloseText(2), "Unable to close while the drive running.\n\n(It will be "
                                    "forced to terminate, if you click OK with Shift key.)");
}

TEST(ProgramIdentityTest, LanguageRule)
{
    struct Case {
        std::int32_t englishMode;
        bool japaneseSystem;
        bool english;
    };
    const Case cases[] = {
        {-1, true, false}, {-1, false, true}, {0, false, false}, {0, true, false},
        {1, true, true},   {1, false, true},  {7, true, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseEnglish(c.englishMode, c.japaneseSystem), c.english)
            << c.englishMode << " " << c.japaneseSystem;

    for (const char* name : {"ja", "ja_JP.UTF-8", "ja_JP@euro", "ja.eucJP"})
        EXPECT_TRUE(isJapaneseLocaleName(name)) << name;
    for (const char* name : {"", "C", "en_US.UTF-8", "jam", "POSIX"})
        EXPECT_FALSE(isJapaneseLocaleName(name)) << name;
    EXPECT_FALSE(isJapaneseLocaleName(nullptr));
}

TEST(ProgramIdentityTest, LocaleFromTheEnvironment)
{
    const char* langBefore = std::getenv("LANG");
    const std::string savedLang = langBefore != nullptr ? langBefore : "";
    // LC_ALL overrides LC_MESSAGES, which overrides LANG; empty values do not count.
    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_TRUE(systemLanguageIsJapanese());
    EXPECT_FALSE(applyLanguage(-1)); // absent EnglishMode on a Japanese system
    EXPECT_FALSE(englishMode());
    EXPECT_TRUE(applyLanguage(1));
    EXPECT_TRUE(englishMode());
    setenv("LC_ALL", "C", 1);
    EXPECT_FALSE(systemLanguageIsJapanese());
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_TRUE(systemLanguageIsJapanese());

    if (langBefore != nullptr)
        setenv("LANG", savedLang.c_str(), 1);
    else
        unsetenv("LANG");
    setEnglishMode(true);
}

} // namespace
} // namespace tarnvel::app
