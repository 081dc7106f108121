// A handheld program of our own, for the emulator's tests: one dialog whose
// buttons each do what Velloria and Tarquell never do, as a program handed
// to the device may.
//   fault   stores to an address where nothing is, inside the dialog procedure
//   deep    sends its own dialog the same command again, without end
//   nested  opens the same dialog again, modal, over this one
//   owner   opens it again with a procedure of its own, which tells its
//           owner to close at once and ends itself with another result
//   wide    makes its own button 2^30 cells wide and high
//   save    sets a value of the device's registry (HKEY_CURRENT_USER's own)
//   close   ends this dialog; the program's result is the outermost's
// While HKEY_CURRENT_USER\Software\Crafted "late" is set, the program runs
// without a window before its dialog opens, as one does that opens a window
// when something happens.
#include <windows.h>

#include "dialogs.h"

namespace {

constexpr uintptr_t kNowhere = 0x100;  // below every mapping

INT_PTR Open(HINSTANCE instance, HWND parent, DLGPROC procedure);

constexpr INT_PTR kInnerResult = 3;

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM);

// The owner's close must reach the owner's procedure, not this one.
INT_PTR CALLBACK InnerProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SendMessageW(GetWindow(dialog, GW_OWNER), WM_COMMAND, IDC_CLOSE, 0);
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_CLOSE)
        return EndDialog(dialog, kInnerResult);
    return Procedure(dialog, message, wParam, lParam);
}

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_FAULT: {
        volatile uintptr_t nowhere = kNowhere;  // kept from the compiler's sight
        *reinterpret_cast<volatile int*>(nowhere) = 1;
        break;
    }
    case IDC_DEEP:
        SendMessageW(dialog, WM_COMMAND, IDC_DEEP, 0);
        break;
    case IDC_NESTED:
        Open(GetModuleHandleW(NULL), dialog, Procedure);
        break;
    case IDC_OWNER:
        Open(GetModuleHandleW(NULL), dialog, InnerProcedure);
        break;
    case IDC_WIDE:
        SetWindowPos(GetDlgItem(dialog, IDC_WIDE), NULL, 0, 0, 1 << 30, 1 << 30, SWP_NOMOVE | SWP_NOZORDER);
        break;
    case IDC_SAVE: {
        const DWORD one = 1;
        RegSetValueExW(HKEY_CURRENT_USER, NULL, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        break;
    }
    case IDC_CLOSE:
        EndDialog(dialog, IDC_CLOSE);
        break;
    }
    return TRUE;
}

INT_PTR Open(HINSTANCE instance, HWND parent, DLGPROC procedure)
{
    // CE's LoadResource gives the data itself; COREDLL has no LockResource.
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(IDD_CRAFTED), RT_DIALOG);
    const DLGTEMPLATE* dialog = info ? static_cast<const DLGTEMPLATE*>(LoadResource(instance, info)) : NULL;
    return dialog ? DialogBoxIndirectParamW(instance, dialog, parent, procedure, 0) : -1;
}

bool Late()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Crafted", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD value = 0, size = sizeof value;
    const LONG read = RegQueryValueExW(key, L"late", NULL, NULL, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && value != 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    while (Late()) {
    }
    return int(Open(instance, NULL, Procedure));
}
