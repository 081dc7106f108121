// Windows (USER): the table of live windows behind the handles, the default
// dialog procedure, and the calls a program makes on a dialog and its
// controls.
#include <windows.h>

#include <stdint.h>

#include <algorithm>
#include <set>

#include "observer.h"
#include "terminal/screen.h"
#include "terminal/window.h"

namespace host {
namespace {

std::set<Window*> g_windows;

Window* Lookup(HWND handle)
{
    Window* window = FindWindow(handle);
    if (!window)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

}  // namespace

Window* FindWindow(HWND handle)
{
    Window* window = reinterpret_cast<Window*>(handle);
    return g_windows.count(window) ? window : nullptr;
}

void AddWindows(Window& dialog)
{
    g_windows.insert(&dialog);
    for (auto& control : dialog.controls)
        g_windows.insert(control.get());
}

void RemoveWindows(Window& dialog)
{
    for (auto& control : dialog.controls)
        g_windows.erase(control.get());
    g_windows.erase(&dialog);
}

LRESULT SendToWindow(Window* window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window->kind != Window::kDialog)
        return 0;
    if (window->proc && window->proc(window->Handle(), message, wParam, lParam)) {
        if (message == WM_INITDIALOG)
            return TRUE;
        return window->msgResult;
    }
    switch (message) {
    case WM_INITDIALOG:
        return FALSE;
    case WM_SETICON: {
        int which = wParam == ICON_BIG ? ICON_BIG : ICON_SMALL;
        HICON previous = window->icons[which];
        window->icons[which] = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_CLOSE:
        return SendToWindow(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    return 0;
}

Window* NextFocus(Window& dialog, Window* from, bool forward)
{
    auto& controls = dialog.controls;
    size_t count = controls.size();
    size_t start = count;
    for (size_t i = 0; i < count; ++i)
        if (controls[i].get() == from)
            start = i;
    for (size_t step = 1; step <= count; ++step) {
        size_t i = start == count ? (forward ? step - 1 : count - step)
                                  : (forward ? start + step : start + count - step) % count;
        if (controls[i]->CanFocus())
            return controls[i].get();
    }
    return nullptr;
}

void ReportUserCall(const char* function, HWND window, std::initializer_list<LONG_PTR> arguments)
{
    if (Observer* observer = CurrentObserver())
        observer->UserCalled(UserCall{function, window, arguments});
}

}  // namespace host

using host::Window;

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Window* dialog = host::Lookup(hDlg);
    if (!dialog)
        return nullptr;
    host::ReportUserCall("GetDlgItem", hDlg, {nIDDlgItem});
    for (auto& control : dialog->controls)
        if (control->id == WORD(nIDDlgItem))
            return control->Handle();
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    Window* window = host::Lookup(hWnd);
    return window ? window->id : 0;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return FALSE;
    host::ReportUserCall("ShowWindow", hWnd, {nCmdShow});
    BOOL wasVisible = window->visible;
    window->visible = nCmdShow != SW_HIDE;
    Window* dialog = window->dialog;
    if (dialog && dialog->focus == window && !window->visible)
        dialog->focus = host::NextFocus(*dialog, window, true);
    return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    Window* window = host::FindWindow(hWnd);
    if (!window)
        return FALSE;
    return window->visible && (!window->dialog || window->dialog->visible);
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return 0;
    host::ReportUserCall("SendMessageW", hWnd, {LONG_PTR(Msg), LONG_PTR(wParam), lParam});
    return host::SendToWindow(window, Msg, wParam, lParam);
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return 0;
    if (window->kind == Window::kDialog) {
        switch (nIndex) {
        case DWLP_MSGRESULT: return window->msgResult;
        case DWLP_DLGPROC: return reinterpret_cast<LONG_PTR>(window->proc);
        case DWLP_USER: return window->user;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return 0;
    LONG_PTR previous;
    if (window->kind == Window::kDialog) {
        switch (nIndex) {
        case DWLP_MSGRESULT:
            previous = window->msgResult;
            window->msgResult = dwNewLong;
            return previous;
        case DWLP_USER:
            previous = window->user;
            window->user = dwNewLong;
            return previous;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return nullptr;
    if (uCmd == GW_OWNER)
        return window->kind == Window::kDialog ? window->owner : nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    Window* window = host::Lookup(hWnd);
    if (!window || !lpRect) {
        if (window)
            SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpRect = window->rect;
    if (window->dialog) {
        lpRect->left += window->dialog->rect.left;
        lpRect->right += window->dialog->rect.left;
        lpRect->top += window->dialog->rect.top;
        lpRect->bottom += window->dialog->rect.top;
    }
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return FALSE;
    host::ReportUserCall("SetWindowPos", hWnd,
                         {reinterpret_cast<LONG_PTR>(hWndInsertAfter), X, Y, cx, cy, LONG_PTR(uFlags)});
    // A side past the coordinates' range stops at its end.
    RECT& r = window->rect;
    const auto side = [](int64_t at) {
        return LONG(std::clamp<int64_t>(at, INT32_MIN, INT32_MAX));
    };
    const int64_t width = uFlags & SWP_NOSIZE ? int64_t(r.right) - r.left : int64_t(cx);
    const int64_t height = uFlags & SWP_NOSIZE ? int64_t(r.bottom) - r.top : int64_t(cy);
    if (!(uFlags & SWP_NOMOVE)) {
        r.left = X;
        r.top = Y;
    }
    r.right = side(int64_t(r.left) + width);
    r.bottom = side(int64_t(r.top) + height);
    return TRUE;
}

// An icon is its group's resource data; the terminal doesn't draw it.
HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName)
{
    host::ReportUserCall("LoadIconW", NULL,
                         {reinterpret_cast<LONG_PTR>(hInstance), reinterpret_cast<LONG_PTR>(lpIconName)});
    HRSRC info = FindResourceW(hInstance, lpIconName, RT_GROUP_ICON);
    if (!info)
        return nullptr;
    return static_cast<HICON>(LockResource(LoadResource(hInstance, info)));
}
