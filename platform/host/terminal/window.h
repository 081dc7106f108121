// The host's windows: a dialog and its controls, as the dialog box, the
// painter and the USER functions share them.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace host {

struct Window {
    enum Kind { kDialog, kButton, kStatic } kind = kDialog;
    Window* dialog = nullptr;  // a control's dialog; null for a dialog
    WORD id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::wstring text;
    RECT rect = {};  // cells: a dialog's on the terminal, a control's within its dialog
    bool visible = false;

    // Dialogs only.
    HWND owner = nullptr;
    DLGPROC proc = nullptr;
    LONG_PTR user = 0;
    LONG_PTR msgResult = 0;
    HICON icons[2] = {};
    std::vector<std::unique_ptr<Window>> controls;  // template order
    Window* focus = nullptr;
    bool ended = false;
    INT_PTR result = 0;

    HWND Handle() { return reinterpret_cast<HWND>(this); }
    bool IsButton() const { return kind == kButton; }
    bool CanFocus() const { return visible && (style & WS_TABSTOP); }
};

// The live window behind a handle, or null.
Window* FindWindow(HWND handle);

// A dialog and its controls become live windows, and stop being.
void AddWindows(Window& dialog);
void RemoveWindows(Window& dialog);

// Sends a message to a window: a dialog's procedure first, then what the
// default dialog procedure does.
LRESULT SendToWindow(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// The next control of `dialog` that takes the focus after `from` (null: the
// first), forwards or back, wrapping round.
Window* NextFocus(Window& dialog, Window* from, bool forward);

// The font a dialog whose template names one is given: the terminal's own.
HFONT TerminalFont();

// Tells the observer, if any, of a USER call the program made.
void ReportUserCall(const char* function, HWND window, std::initializer_list<LONG_PTR> arguments);

}  // namespace host
