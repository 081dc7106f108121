// The device's control panel, standing in on desktop Windows as
// C:\Windows\ctlpnl.exe. It says in a notice that closes itself which page it
// would show, and notes each start in ctlpnl.log beside itself.
#include <windows.h>

#include "applet.h"

namespace {

constexpr DWORD kNoticeMilliseconds = 4000;

void Record(LPCWSTR commandLine)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    WCHAR* name = path + length;
    while (name > path && name[-1] != L'\\')
        --name;
    const WCHAR log[] = L"" CTLPNL_LOG;
    if (size_t(name - path) + sizeof log / sizeof log[0] > MAX_PATH)
        return;
    lstrcpyW(name, log);

    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, NULL, 0, NULL, NULL);
    if (size > 0) {
        char* line = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
        if (line) {
            WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, line, size, NULL, NULL);
            line[size - 1] = '\n';
            DWORD written;
            WriteFile(file, line, DWORD(size), &written, NULL);
            HeapFree(GetProcessHeap(), 0, line);
        }
    }
    CloseHandle(file);
}

BOOL CALLBACK CloseNotice(HWND window, LPARAM)
{
    WCHAR kind[16];
    if (GetClassNameW(window, kind, 16) && lstrcmpW(kind, L"#32770") == 0)
        EndDialog(window, IDOK);
    return TRUE;
}

void CALLBACK NoticeTimeUp(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    EnumThreadWindows(GetCurrentThreadId(), CloseNotice, 0);
}

// A message box that closes itself after a while, so that a test run or a
// start without anyone watching never waits on it. (MessageBoxTimeoutW would
// do, but Wine ignores its timeout.)
void Notice(LPCWSTR text)
{
    SetTimer(NULL, 0, kNoticeMilliseconds, NoticeTimeUp);
    MessageBoxW(NULL, text, L"" CTLPNL_TITLE,
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // The launcher passes "cplmain.cpl,7" as the whole command line, as the
    // handheld does; the runtime's wWinMain argument would take that for the
    // program's name and drop it, so the raw command line is what counts.
    LPCWSTR commandLine = GetCommandLineW();
    Record(commandLine);

    if (lstrcmpW(commandLine, L"" CTLPNL_ALIGNMENT_PAGE) == 0) {
        Notice(L"" CTLPNL_ALIGNMENT_NOTICE);
    } else {
        const WCHAR prefix[] = L"" CTLPNL_UNKNOWN_NOTICE L"\"";
        int length = lstrlenW(commandLine);
        WCHAR* text = static_cast<WCHAR*>(
            HeapAlloc(GetProcessHeap(), 0, (sizeof prefix / sizeof prefix[0] + length + 2) * sizeof(WCHAR)));
        if (text) {
            lstrcpyW(text, prefix);
            lstrcatW(text, commandLine);
            lstrcatW(text, L"\".");
            Notice(text);
            HeapFree(GetProcessHeap(), 0, text);
        }
    }
    return 0;
}
