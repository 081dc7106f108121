// The launcher as the host runs it: Tarquell started as its own process in a
// scratch device folder, with the stand-in control panel the device folder
// gets at its first start, the flag seeded and read back through the host
// registry.
#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "device.h"
#include "host_device.h"

namespace {

const WCHAR kKey[] = L"Software\\Zelkoran";

struct Stored {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class LauncherOnHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        host::PrepareDevice();
        ASSERT_EQ(0, access((device_.Root() / "Windows/ctlpnl.exe").c_str(), X_OK))
            << "the device has no control panel";
    }

    static bool KeyExists()
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    static void CreateKey()
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, NULL, 0, 0, NULL, &key, NULL));
        RegCloseKey(key);
    }

    static void SetFlag(DWORD type, std::vector<BYTE> data)
    {
        CreateKey();
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"align", 0, type, data.data(), DWORD(data.size())));
        RegCloseKey(key);
    }

    static void SetFlag(DWORD value)
    {
        SetFlag(REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)});
    }

    static Stored Flag()
    {
        Stored stored;
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return stored;
        BYTE data[64];
        DWORD size = sizeof data;
        if (RegQueryValueExW(key, L"align", NULL, &stored.type, data, &size) == ERROR_SUCCESS) {
            stored.present = true;
            stored.data.assign(data, data + size);
        }
        RegCloseKey(key);
        return stored;
    }

    static void ExpectFlagCleared()
    {
        Stored flag = Flag();
        ASSERT_TRUE(flag.present);
        EXPECT_EQ(DWORD(REG_DWORD), flag.type);
        EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 0}), flag.data);
    }

    std::vector<std::string> Starts(const char* log = "Windows/ctlpnl.log") const
    {
        return device_.Lines(log);
    }

    // Runs the launcher to its end and returns what it and the control panel
    // it started wrote to the terminal. The output ends only when both have
    // ended, so the panel's record is complete by then.
    std::string RunLauncher()
    {
        int output[2];
        EXPECT_EQ(0, pipe(output));
        pid_t launcher = fork();
        if (launcher == 0) {
            dup2(output[1], 1);
            close(output[0]);
            close(output[1]);
            execl(TARQUELL, TARQUELL, (char*)nullptr);
            _exit(127);
        }
        close(output[1]);
        std::string text;
        char buffer[512];
        for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                break;
            text.append(buffer, size_t(got));
        }
        close(output[0]);
        int status = -1;
        EXPECT_EQ(launcher, waitpid(launcher, &status, 0));
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status));
        return text;
    }

    HostDevice device_;
};

const std::vector<std::string> kOneAlignment = {"cplmain.cpl,7"};

// The launcher's table of states.

TEST_F(LauncherOnHost, FlagAndKeyAbsent_CreatesKeyAndClearedFlag)
{
    ASSERT_FALSE(KeyExists());
    EXPECT_EQ("", RunLauncher());
    EXPECT_TRUE(KeyExists());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherOnHost, FlagAbsentInExistingKey_WritesClearedFlag)
{
    CreateKey();
    RunLauncher();
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherOnHost, FlagZero_StartsNothing)
{
    SetFlag(0);
    EXPECT_EQ("", RunLauncher());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherOnHost, FlagOne_StartsAlignmentPageOnceAndClears)
{
    SetFlag(1);
    std::string said = RunLauncher();
    EXPECT_NE(std::string::npos, said.find("stylus alignment page is open")) << said;
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherOnHost, FlagLongerThanFourBytes_IsNotSetAndIsOverwritten)
{
    SetFlag(REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

// Only the first byte counts, whatever the type.

TEST_F(LauncherOnHost, FourBytesOfAnotherTypeStartingWithOne_CountAsSet)
{
    SetFlag(REG_BINARY, {1, 0x55, 0x55, 0x55});
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherOnHost, FlagWithoutData_IsNotSet)
{
    SetFlag(REG_BINARY, {});
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

TEST_F(LauncherOnHost, DwordWithHigherBytesOnly_IsNotSet)
{
    SetFlag(0x100);
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

// Across runs and failures.

TEST_F(LauncherOnHost, TwoRunsAfterOneChange_StartThePageOnce)
{
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ("", RunLauncher());
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherOnHost, FailedStart_StillClearsFlag)
{
    std::filesystem::remove(device_.Root() / "Windows/ctlpnl.exe");
    SetFlag(1);
    EXPECT_EQ("", RunLauncher());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherOnHost, ControlPanelIsFoundWhateverTheCaseOfItsPath)
{
    std::filesystem::rename(device_.Root() / "Windows", device_.Root() / "WINDOWS");
    std::filesystem::rename(device_.Root() / "WINDOWS/ctlpnl.exe", device_.Root() / "WINDOWS/CtlPnl.EXE");
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts("WINDOWS/ctlpnl.log"));
    EXPECT_FALSE(std::filesystem::exists(device_.Root() / "Windows")) << "a second \\Windows was made";
}

// A registry that can't be read can't take the key either: the launcher
// reads, starts and writes nothing, and the file is left as it was.
TEST_F(LauncherOnHost, DamagedRegistry_IsLeftAsItWas)
{
    const std::string damaged = device_.Read("registry.reg") +
                                "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:00000001\nnot a registry line\n";
    device_.Write("registry.reg", damaged);
    RunLauncher();
    EXPECT_EQ(damaged, device_.Read("registry.reg"));
    EXPECT_TRUE(Starts().empty());
}

// The device folder's control panel.

TEST(HostDeviceSetUp, NewDeviceGetsTheControlPanelOnce)
{
    HostDevice device;
    host::PrepareDevice();
    const std::filesystem::path panel = device.Root() / "Windows/ctlpnl.exe";
    ASSERT_EQ(0, access(panel.c_str(), X_OK));
    EXPECT_EQ(std::filesystem::file_size(CTLPNL), std::filesystem::file_size(panel));

    // A device whose control panel was taken away keeps it that way.
    std::filesystem::remove(panel);
    host::PrepareDevice();
    EXPECT_FALSE(std::filesystem::exists(panel));
}

}  // namespace
