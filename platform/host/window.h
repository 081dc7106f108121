// The host's windows: a dialog and its controls, as the modal loop, the
// painter and the USER functions share them.
#pragma once

#include <windows.h>

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

}  // namespace host
