// A handheld program of our own that starts itself (\loop.exe) and ends,
// each copy counting its start in the registry (HKEY_CURRENT_USER's
// "starts"); a copy whose start fails keeps the error ("refused").
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    DWORD starts = 0, size = sizeof starts;
    RegQueryValueExW(HKEY_CURRENT_USER, L"starts", NULL, NULL, reinterpret_cast<BYTE*>(&starts), &size);
    ++starts;
    RegSetValueExW(HKEY_CURRENT_USER, L"starts", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&starts), sizeof starts);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(L"\\loop.exe", NULL, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &process)) {
        const DWORD error = GetLastError();
        RegSetValueExW(HKEY_CURRENT_USER, L"refused", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&error),
                       sizeof error);
    }
    return 0;
}
