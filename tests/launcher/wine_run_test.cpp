// The launcher as desktop Windows runs it: Tarquell.exe started as its own
// process with its working directory on drive C:, the stand-in control panel
// at C:\windows\ctlpnl.exe, the flag seeded and read back through the
// registry of the run's Wine prefix.
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "launcher_flag.h"
#include "support/from_host.h"

namespace {

class LauncherStates : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR windows[MAX_PATH] = L"";
        GetWindowsDirectoryW(windows, MAX_PATH);
        controlPanel_ = std::wstring(windows) + L"\\ctlpnl.exe";
        record_ = std::wstring(windows) + L"\\ctlpnl.log";
        ASSERT_TRUE(CopyFileW(FromHost(CTLPNL_EXE).c_str(), controlPanel_.c_str(), FALSE))
            << "error " << GetLastError();
        DeleteFileW(record_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        ASSERT_FALSE(FlagKeyExists());
    }

    void TearDown() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        DeleteFileW(record_.c_str());
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

    void RemoveControlPanel() { ASSERT_TRUE(DeleteFileW(controlPanel_.c_str())); }

    // Runs Tarquell.exe to its end, then waits for any control panel it
    // started, so that the panel's record is complete. Neither has a terminal.
    std::optional<std::string> RunLauncher()
    {
        Run();
        return std::nullopt;
    }

private:
    void Run()
    {
        PROCESS_INFORMATION process;
        ASSERT_TRUE(StartFromHost(TARQUELL_EXE, process)) << "error " << GetLastError();
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

}  // namespace

#include "launcher_states.h"

namespace {

// A key the launcher may not open, as when its creation was refused: nothing
// is read, started or written.
TEST_F(LauncherStates, KeyItCannotOpen_IsLeftAsItWas)
{
    SetFlag(1);
    PSECURITY_DESCRIPTOR nobody;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P", SDDL_REVISION_1, &nobody, NULL));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, WRITE_DAC, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, nobody));
    LocalFree(nobody);
    ASSERT_FALSE(FlagKeyExists()) << "the key is still open to the launcher";

    RunLauncher();

    PSECURITY_DESCRIPTOR everyone;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &everyone, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, everyone));
    LocalFree(everyone);
    RegCloseKey(key);

    EXPECT_TRUE(Starts().empty());
    EXPECT_PLACE(facts::kFlag, Dword(1), "after the run");
}

}  // namespace
