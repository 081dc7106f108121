// A handheld program of our own whose dialog (dialogs.rc, which names a
// font) ends as soon as it starts: its result tells what the dialog
// procedure was sent before WM_INITDIALOG, 16 for each message and 1 for
// each WM_SETFONT among them with a font. CE's dialog manager gives 0x11.
#include <windows.h>

#include "dialogs.h"

namespace {

int g_before;  // what came before WM_INITDIALOG, counted as above

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return EndDialog(dialog, g_before);
    g_before += 16 + (message == WM_SETFONT && wParam != 0);
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(IDD_CRAFTED), RT_DIALOG);
    const DLGTEMPLATE* dialog = info ? static_cast<const DLGTEMPLATE*>(LoadResource(instance, info)) : NULL;
    return dialog ? int(DialogBoxIndirectParamW(instance, dialog, NULL, Procedure, 0)) : -1;
}
