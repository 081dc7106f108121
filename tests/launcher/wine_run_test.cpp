// The launcher as desktop Windows runs it: Tarquell.exe started as its own
// process with its working directory on drive C:, the stand-in control panel
// at C:\windows\ctlpnl.exe, the flag seeded and read back through the
// registry of the run's Wine prefix.
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const WCHAR kKey[] = L"Software\\Zelkoran";

std::wstring Wide(const char* text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    std::wstring out(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], size);
    out.resize(size_t(size - 1));
    return out;
}

// The build's files, by their host paths, through Wine's drive Z:.
std::wstring FromHost(const char* path)
{
    std::wstring out = L"Z:" + Wide(path);
    for (WCHAR& c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}

std::wstring WindowsFolder()
{
    WCHAR path[MAX_PATH];
    UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    return std::wstring(path, length);
}

struct Stored {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class LauncherUnderWine : public ::testing::Test {
protected:
    void SetUp() override
    {
        controlPanel_ = WindowsFolder() + L"\\ctlpnl.exe";
        record_ = WindowsFolder() + L"\\ctlpnl.log";
        ASSERT_TRUE(CopyFileW(FromHost(CTLPNL_EXE).c_str(), controlPanel_.c_str(), FALSE))
            << "error " << GetLastError();
        DeleteFileW(record_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        ASSERT_FALSE(KeyExists());
    }

    void TearDown() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        DeleteFileW(record_.c_str());
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
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &key, NULL));
        RegCloseKey(key);
    }

    static void SetFlag(DWORD type, std::vector<BYTE> data)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &key, NULL));
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

    // Every start of the stand-in so far, one command line each.
    std::vector<std::string> Starts() const
    {
        std::vector<std::string> lines;
        std::ifstream in(record_.c_str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // Runs Tarquell.exe to its end, then waits for any control panel it
    // started, so that the panel's record is complete.
    void RunLauncher()
    {
        std::wstring program = FromHost(TARQUELL_EXE);
        std::wstring commandLine = L"\"" + program + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        ASSERT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                                   L"C:\\", &startup, &process))
            << "error " << GetLastError();
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(0u, code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        WaitForControlPanels();
    }

    static void WaitForControlPanels()
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (lstrcmpiW(entry.szExeFile, L"ctlpnl.exe") != 0)
                continue;
            if (HANDLE panel = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
                WaitForSingleObject(panel, INFINITE);
                CloseHandle(panel);
            }
        }
        CloseHandle(snapshot);
    }

    std::wstring controlPanel_;
    std::wstring record_;
};

const std::vector<std::string> kOneAlignment = {"cplmain.cpl,7"};

// The launcher's table of states.

TEST_F(LauncherUnderWine, FlagAndKeyAbsent_CreatesKeyAndClearedFlag)
{
    RunLauncher();
    EXPECT_TRUE(KeyExists());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherUnderWine, FlagAbsentInExistingKey_WritesClearedFlag)
{
    CreateKey();
    RunLauncher();
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherUnderWine, FlagZero_StartsNothing)
{
    SetFlag(0);
    RunLauncher();
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherUnderWine, FlagOne_StartsAlignmentPageOnceAndClears)
{
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherUnderWine, FlagLongerThanFourBytes_IsNotSetAndIsOverwritten)
{
    SetFlag(REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

// Only the first byte counts, whatever the type.

TEST_F(LauncherUnderWine, FourBytesOfAnotherTypeStartingWithOne_CountAsSet)
{
    SetFlag(REG_BINARY, {1, 0x55, 0x55, 0x55});
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherUnderWine, FlagWithoutData_IsNotSet)
{
    SetFlag(REG_BINARY, {});
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

TEST_F(LauncherUnderWine, DwordWithHigherBytesOnly_IsNotSet)
{
    SetFlag(0x100);
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

// Across runs and failures.

TEST_F(LauncherUnderWine, TwoRunsAfterOneChange_StartThePageOnce)
{
    SetFlag(1);
    RunLauncher();
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherUnderWine, FailedStart_StillClearsFlag)
{
    ASSERT_TRUE(DeleteFileW(controlPanel_.c_str()));
    SetFlag(1);
    RunLauncher();
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

// A key the launcher may not open, as when its creation was refused: nothing
// is read, started or written.
TEST_F(LauncherUnderWine, KeyItCannotOpen_IsLeftAsItWas)
{
    SetFlag(1);
    PSECURITY_DESCRIPTOR nobody;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P", SDDL_REVISION_1, &nobody, NULL));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, WRITE_DAC, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, nobody));
    LocalFree(nobody);
    ASSERT_FALSE(KeyExists()) << "the key is still open to the launcher";

    RunLauncher();

    PSECURITY_DESCRIPTOR everyone;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &everyone, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, everyone));
    LocalFree(everyone);
    RegCloseKey(key);

    EXPECT_TRUE(Starts().empty());
    Stored flag = Flag();
    ASSERT_TRUE(flag.present);
    EXPECT_EQ((std::vector<BYTE>{1, 0, 0, 0}), flag.data);
}

}  // namespace
