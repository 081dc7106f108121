// The recalibration launcher. Run after a restart, it opens the stylus
// alignment page once for each change of the display orientation.
#include <windows.h>

#include "registry.h"
#include "target.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    EnsureFlagKey();

    HKEY key;
    if (RegOpenKeyExW(FLAG_HIVE, kFlagKey, 0, target::kKeyWriteAccess, &key) != ERROR_SUCCESS)
        return 0;

    // A value that yields no data leaves the marker, which is not "set".
    DWORD type;
    BYTE flag[4];
    DWORD size = sizeof flag;
    flag[0] = '0';
    if (RegQueryValueExW(key, kFlagValue, NULL, &type, flag, &size) == ERROR_SUCCESS &&
        flag[0] == kFlagSet) {
        // CreateProcessW may write into the command line, so it gets a copy.
        WCHAR commandLine[] = L"cplmain.cpl,7";
        STARTUPINFOW startup;
        PROCESS_INFORMATION process;
        CreateProcessW(L"\\Windows\\ctlpnl.exe", commandLine, NULL, NULL, FALSE, 0, NULL, NULL,
                       target::StartupInfo(startup), &process);
        // The control panel's handles stay open until this process ends.
    }

    // Cleared even when the start failed, so the page is offered only once.
    const BYTE clear[4] = {};
    RegSetValueExW(key, kFlagValue, 0, REG_DWORD, clear, sizeof clear);
    RegCloseKey(key);
    return 0;
}
