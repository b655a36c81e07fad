#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "gui/IniFile.h"
#include "support/TestFiles.h"

using gui::TIniFile;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(IniFile, MissingFileAndKeysReadAsDefaults) {
    TempDir dir;
    TIniFile ini((dir / "none.ini").string());
    EXPECT_EQ(ini.ReadString("Screen", "Mode", "x"), "x");
    EXPECT_EQ(ini.ReadInteger("Screen", "Mode", 7), 7);
    EXPECT_TRUE(ini.ReadBool("Screen", "Hidden", true));
    EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));
}

TEST(IniFile, IntegerRules) {
    TempDir dir;
    WriteFile(dir / "s.ini",
              "[Screen]\r\nA=9\r\nB=0x2\r\nC=word\r\nD=0X1f\r\nE= -4 \r\nF=0x\r\nG=12abc\r\nH=0xZZ\r\nI=2\r\n");
    TIniFile ini((dir / "s.ini").string());
    EXPECT_EQ(ini.ReadInteger("Screen", "A", 3), 9);
    EXPECT_EQ(ini.ReadInteger("Screen", "B", 3), 2);
    EXPECT_EQ(ini.ReadInteger("Screen", "C", 3), 3);
    EXPECT_EQ(ini.ReadInteger("Screen", "D", 3), 31);
    EXPECT_EQ(ini.ReadInteger("Screen", "E", 3), -4);
    EXPECT_EQ(ini.ReadInteger("Screen", "F", 3), 3);  // "0x" alone is not longer than two characters
    EXPECT_EQ(ini.ReadInteger("Screen", "G", 3), 3);
    EXPECT_EQ(ini.ReadInteger("Screen", "H", 3), 3);
    EXPECT_TRUE(ini.ReadBool("Screen", "I", false));
    EXPECT_FALSE(ini.ReadBool("Screen", "C", false));
    EXPECT_EQ(ini.ReadInteger("screen", "a", 3), 9);  // names ignore letter case
    EXPECT_EQ(ini.ReadInteger("Other", "A", 3), 3);
}

TEST(IniFile, LongValuesAreCutAt2047Characters) {
    TempDir dir;
    WriteFile(dir / "s.ini", "[S]\nK=" + std::string(3000, 'x') + "\n");
    TIniFile ini((dir / "s.ini").string());
    EXPECT_EQ(ini.ReadString("S", "K", "").size(), 2047u);
}

TEST(IniFile, WritesKeepOtherSectionsKeysAndLines) {
    TempDir dir;
    const auto path = dir / "s.ini";
    WriteFile(path, "; my notes\r\n[Other]\r\nX=1\r\n\r\n[Screen]\r\nMode=1\r\nKeep=me\r\n\r\n[Tail]\r\nY=2\r\n");
    TIniFile ini(path.string());
    ini.WriteInteger("Screen", "Mode", 0);
    ini.WriteBool("Screen", "Hidden", true);
    ini.WriteString("New", "Z", "3");
    EXPECT_EQ(ReadFile(path),
              "; my notes\r\n[Other]\r\nX=1\r\n\r\n[Screen]\r\nMode=0\r\nKeep=me\r\nHidden=1\r\n\r\n[Tail]\r\nY=2\r\n"
              "[New]\r\nZ=3\r\n");
    // No cache: a change made by someone else is seen by the next read.
    WriteFile(path, "[Screen]\nMode=5\n");
    EXPECT_EQ(ini.ReadInteger("Screen", "Mode", 0), 5);
}

TEST(IniFile, UnwritableFolderRaisesAndKeepsTheOldFile) {
    if (geteuid() == 0) {
        // root writes anywhere; use a path whose folder does not exist instead.
        TempDir dir;
        TIniFile ini((dir / "missing" / "s.ini").string());
        try {
            ini.WriteInteger("Screen", "Mode", 1);
            FAIL() << "no error";
        } catch (const gui::EIniFileException& e) {
            EXPECT_EQ(std::string(e.what()), (dir / "missing" / "s.ini").string() + " に書き込めません");
        }
        return;
    }
    TempDir dir;
    const auto path = dir / "s.ini";
    WriteFile(path, "[Screen]\nMode=1\n");
    chmod(dir.Path().c_str(), 0555);
    TIniFile ini(path.string());
    EXPECT_THROW(ini.WriteInteger("Screen", "Mode", 0), gui::EIniFileException);
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(ReadFile(path), "[Screen]\nMode=1\n");
}

namespace {

// Runs `body` as the unprivileged user nobody when the tests run as root (root may write to any
// file), else as it is; true when `body` returned true.
bool AsNormalUser(const std::function<bool()>& body) {
    if (geteuid() != 0) return body();
    const pid_t child = fork();
    if (child == 0) {
        const bool ok = setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 && body();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(IniFile, AReadOnlyFileIsNotReplacedEvenWhereTheFolderAllowsIt) {
    TempDir dir;
    const auto path = dir / "settings.ini";
    WriteFile(path, "[Screen]\r\nMode=1\r\n");
    // The folder is the user's and writable; only the file is read-only.
    chmod(dir.Path().c_str(), 0755);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    chmod(path.c_str(), 0444);
    EXPECT_TRUE(AsNormalUser([&] {
        TIniFile ini(path.string());
        try {
            ini.WriteInteger("Screen", "Mode", 0);
            return false;
        } catch (const gui::EIniFileException& e) {
            return std::string(e.what()) == path.string() + " に書き込めません";
        }
    }));
    // Root may open any file for writing; the file's write bits hold for it all the same.
    EXPECT_THROW(TIniFile(path.string()).WriteInteger("Screen", "Mode", 0), gui::EIniFileException);
    EXPECT_EQ(ReadFile(path), "[Screen]\r\nMode=1\r\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 1u);

    // Made writable again, the same user's write goes through.
    chmod(path.c_str(), 0644);
    EXPECT_TRUE(AsNormalUser([&] {
        TIniFile ini(path.string());
        ini.WriteInteger("Screen", "Mode", 0);
        return ini.ReadInteger("Screen", "Mode", 9) == 0;
    }));
}

TEST(IniFile, FailedWriteLeavesNoTemporaryFileBehind) {
    TempDir dir;
    const auto path = dir / "s.ini";
    // A folder in the file's place cannot be written.
    std::filesystem::create_directories(path / "x");
    TIniFile ini(path.string());
    EXPECT_THROW(ini.WriteInteger("Screen", "Mode", 0), gui::EIniFileException);
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(IniFile, SettingsLiveBesideAWritableProgramElseInTheConfigFolder) {
    TempDir dir;
    EXPECT_EQ(gui::SettingsFilePath((dir / "glimstep").string()), (dir / "settings.ini").string());
    TempDir home;
    setenv("XDG_CONFIG_HOME", (home / "cfg").c_str(), 1);
    EXPECT_EQ(gui::SettingsFilePath("/proc/glimstep"), (home / "cfg" / "glimstep" / "settings.ini").string());
    EXPECT_TRUE(std::filesystem::is_directory(home / "cfg" / "glimstep"));
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    setenv("HOME", home.Path().c_str(), 1);
    EXPECT_EQ(gui::SettingsFilePath("/proc/glimstep"), (home / ".config" / "glimstep" / "settings.ini").string());
    unsetenv("XDG_CONFIG_HOME");
}
