// Windows, dialogs and their modal loop. A dialog is built from its template
// bytes, laid out in terminal cells and run on the current Terminal until
// EndDialog; keys and clicks turn into the commands a dialog gets on the
// handheld.
#include <windows.h>

#include <stdio.h>
#include <wctype.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "screen.h"
#include "window.h"

namespace host {
namespace {

std::set<Window*> g_windows;
std::vector<Window*> g_modal;  // running dialogs, innermost last
Terminal* g_terminal = nullptr;
std::function<void(const std::string&)> g_watcher;

Terminal& CurrentTerminal()
{
    return g_terminal ? *g_terminal : ConsoleTerminal();
}

std::string Name(const Window* window)
{
    return window->kind == Window::kDialog ? "dialog" : std::to_string(window->id);
}

std::string MessageName(UINT message)
{
    switch (message) {
    case WM_CLOSE: return "WM_CLOSE";
    case WM_SETICON: return "WM_SETICON";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    }
    char text[16];
    snprintf(text, sizeof text, "0x%04X", message);
    return text;
}

void Report(const std::string& call)
{
    if (g_watcher)
        g_watcher(call);
}

Window* Lookup(HWND handle)
{
    Window* window = FindWindow(handle);
    if (!window)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

// Template reading. Strings in a template are UTF-16.
class TemplateReader {
public:
    explicit TemplateReader(const void* start)
        : base_(static_cast<const BYTE*>(start)), at_(base_) {}

    WORD Word()
    {
        WORD value = WORD(at_[0] | at_[1] << 8);
        at_ += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | DWORD(Word()) << 16;
    }
    short Short() { return short(Word()); }
    void AlignDword() { at_ = base_ + ((at_ - base_ + 3) & ~size_t(3)); }
    void Skip(size_t bytes) { at_ += bytes; }

    // A string, or 0xFFFF and an ordinal.
    void NameOrOrdinal(WORD& ordinal, std::wstring& text)
    {
        ordinal = 0;
        text.clear();
        if (at_[0] == 0xFF && at_[1] == 0xFF) {
            Skip(2);
            ordinal = Word();
            return;
        }
        text = String();
    }
    std::wstring String()
    {
        std::wstring text;
        for (WORD unit = Word(); unit != 0; unit = Word()) {
            if (unit >= 0xD800 && unit < 0xDC00) {
                WORD low = Word();
                text += wchar_t(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
            text += wchar_t(unit);
        }
        return text;
    }

private:
    const BYTE* base_;
    const BYTE* at_;
};

bool SameText(const std::wstring& a, const wchar_t* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (towupper(a[i]) != towupper(b[i]))
            return false;
    return i == a.size() && b[i] == 0;
}

// Rounds value / unit to the nearest cell, halves up.
LONG Cells(LONG value, LONG unit)
{
    return value < 0 ? -Cells(-value, unit) : (2 * value + unit) / (2 * unit);
}

constexpr LONG kUnitsPerColumn = 2;
constexpr LONG kUnitsPerRow = 11;

struct Units {
    short x, y, cx, cy;
};

// Lays the dialog out in cells: the box that holds the controls, a caption
// bar above and a frame column each side.
void LayOut(Window& dialog, const DLGTEMPLATE& fixed, const std::vector<Units>& places)
{
    LONG left = 0, top = 0, right = fixed.cx, bottom = fixed.cy;
    if (!places.empty()) {
        left = top = 0x7FFF;
        right = bottom = 0;
        for (const Units& u : places) {
            left = std::min<LONG>(left, u.x);
            top = std::min<LONG>(top, u.y);
            right = std::max<LONG>(right, u.x + u.cx);
            bottom = std::max<LONG>(bottom, u.y + u.cy);
        }
        right = std::min<LONG>(right, fixed.cx);
        bottom = std::min<LONG>(bottom, fixed.cy);
        left = std::min(left, right);
        top = std::min(top, bottom);
    }

    LONG x = Cells(fixed.x, kUnitsPerColumn);
    LONG y = Cells(fixed.y, kUnitsPerRow);
    dialog.rect = {x, y, x + Cells(right - left, kUnitsPerColumn) + 2,
                   y + Cells(bottom - top, kUnitsPerRow) + 1};

    for (size_t i = 0; i < places.size(); ++i) {
        const Units& u = places[i];
        LONG l = 1 + Cells(u.x - left, kUnitsPerColumn);
        LONG t = 1 + Cells(u.y - top, kUnitsPerRow);
        LONG r = 1 + Cells(u.x + u.cx - left, kUnitsPerColumn);
        LONG b = 1 + Cells(u.y + u.cy - top, kUnitsPerRow);
        dialog.controls[i]->rect = {l, t, std::max(r, l + 1), std::max(b, t + 1)};
    }
}

std::unique_ptr<Window> BuildDialog(LPCDLGTEMPLATEW dialogTemplate)
{
    TemplateReader in(dialogTemplate);
    if (in.Word() == 1 && in.Word() == 0xFFFF) {
        // The extended form: no program here uses it.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    TemplateReader reader(dialogTemplate);
    DLGTEMPLATE fixed;
    fixed.style = reader.Dword();
    fixed.dwExtendedStyle = reader.Dword();
    fixed.cdit = reader.Word();
    fixed.x = reader.Short();
    fixed.y = reader.Short();
    fixed.cx = reader.Short();
    fixed.cy = reader.Short();

    auto dialog = std::make_unique<Window>();
    dialog->kind = Window::kDialog;
    dialog->style = fixed.style;
    dialog->exStyle = fixed.dwExtendedStyle;

    WORD ordinal;
    std::wstring text;
    reader.NameOrOrdinal(ordinal, text);  // menu: the terminal has none
    reader.NameOrOrdinal(ordinal, text);  // class: the default one
    dialog->text = reader.String();
    if (fixed.style & DS_SETFONT) {
        reader.Word();
        reader.String();
    }

    std::vector<Units> places;
    for (WORD i = 0; i < fixed.cdit; ++i) {
        reader.AlignDword();
        auto control = std::make_unique<Window>();
        control->dialog = dialog.get();
        control->style = reader.Dword();
        control->exStyle = reader.Dword();
        Units place;
        place.x = reader.Short();
        place.y = reader.Short();
        place.cx = reader.Short();
        place.cy = reader.Short();
        control->id = reader.Word();
        control->visible = (control->style & WS_VISIBLE) != 0;

        reader.NameOrOrdinal(ordinal, text);
        if (ordinal == 0x0080 || (!ordinal && SameText(text, L"BUTTON"))) {
            control->kind = Window::kButton;
        } else if (ordinal == 0x0082 || (!ordinal && SameText(text, L"STATIC"))) {
            control->kind = Window::kStatic;
        } else {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        reader.NameOrOrdinal(ordinal, control->text);
        reader.Skip(reader.Word());

        places.push_back(place);
        dialog->controls.push_back(std::move(control));
    }
    LayOut(*dialog, fixed, places);
    return dialog;
}

LRESULT Send(Window* window, UINT message, WPARAM wParam, LPARAM lParam)
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
        return Send(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    return 0;
}

void Command(Window& dialog, WORD id, Window* from)
{
    Send(&dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(from ? from->Handle() : nullptr));
}

// The next control that takes the focus, forwards or back, wrapping round.
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

Window* FirstFocus(Window& dialog)
{
    return NextFocus(dialog, nullptr, true);
}

wchar_t Mnemonic(const std::wstring& text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == L'&') {
            if (text[i + 1] != L'&')
                return wchar_t(towlower(text[i + 1]));
            ++i;
        }
    }
    return 0;
}

Window* ButtonAt(Window& dialog, int column, int row)
{
    for (auto& control : dialog.controls) {
        const RECT& r = control->rect;
        if (control->visible && control->IsButton() && column >= dialog.rect.left + r.left &&
            column < dialog.rect.left + r.right && row >= dialog.rect.top + r.top &&
            row < dialog.rect.top + r.bottom)
            return control.get();
    }
    return nullptr;
}

void Press(Terminal& terminal, Window& dialog, Window& button)
{
    dialog.focus = &button;
    Canvas pressed(terminal.Columns(), terminal.Rows());
    Canvas after(terminal.Columns(), terminal.Rows());
    PaintDialog(dialog.Handle(), button.Handle(), pressed);
    PaintDialog(dialog.Handle(), nullptr, after);
    terminal.Flash(pressed, after);
    Command(dialog, button.id, &button);
}

void HandleKey(Terminal& terminal, Window& dialog, const InputEvent& event)
{
    switch (event.key) {
    case kKeyTab:
    case kKeyBackTab:
        if (Window* next = NextFocus(dialog, dialog.focus, event.key == kKeyTab))
            dialog.focus = next;
        return;
    case kKeyEnter:
    case kKeySpace:
        if (dialog.focus && dialog.focus->IsButton() && dialog.focus->visible)
            Press(terminal, dialog, *dialog.focus);
        return;
    case kKeyEscape:
        Command(dialog, IDCANCEL, nullptr);
        return;
    }
    if (event.key <= 0 || event.key >= 0x110000)
        return;
    wchar_t letter = wchar_t(towlower(wint_t(event.key)));
    for (auto& control : dialog.controls) {
        if (control->visible && control->IsButton() && Mnemonic(control->text) == letter) {
            Press(terminal, dialog, *control);
            return;
        }
    }
}

// The caption's button: OK where the template asks for it, else the close box.
void HandleClick(Terminal& terminal, Window& dialog, const InputEvent& event)
{
    if (event.row == dialog.rect.top) {
        bool okButton = dialog.exStyle & WS_EX_CAPTIONOKBTN;
        LONG width = okButton ? 4 : 3;  // "[OK]", "[X]"
        if ((okButton || (dialog.style & WS_SYSMENU)) && event.column < dialog.rect.right &&
            event.column >= dialog.rect.right - width - 1) {
            if (okButton)
                Command(dialog, IDOK, nullptr);
            else
                Send(&dialog, WM_CLOSE, 0, 0);
        }
        return;
    }
    if (Window* button = ButtonAt(dialog, event.column, event.row))
        Press(terminal, dialog, *button);
}

INT_PTR RunModal(Terminal& terminal, Window& dialog)
{
    while (!dialog.ended) {
        Canvas now(terminal.Columns(), terminal.Rows());
        PaintDialog(dialog.Handle(), nullptr, now);
        terminal.Show(now);

        InputEvent event = terminal.Next();
        switch (event.type) {
        case InputEvent::kKey:
            HandleKey(terminal, dialog, event);
            break;
        case InputEvent::kClick:
            HandleClick(terminal, dialog, event);
            break;
        case InputEvent::kRedraw:
            break;
        case InputEvent::kClosed:
            // Nobody is left to answer: cancel, and end even if that didn't.
            Command(dialog, IDCANCEL, nullptr);
            if (!dialog.ended) {
                dialog.ended = true;
                dialog.result = IDCANCEL;
            }
            break;
        }
    }
    return dialog.result;
}

}  // namespace

Window* FindWindow(HWND handle)
{
    Window* window = reinterpret_cast<Window*>(handle);
    return g_windows.count(window) ? window : nullptr;
}

void UseTerminal(Terminal* terminal)
{
    g_terminal = terminal;
}

HWND ActiveDialog()
{
    return g_modal.empty() ? nullptr : g_modal.back()->Handle();
}

void WatchUserCalls(std::function<void(const std::string&)> watcher)
{
    g_watcher = std::move(watcher);
}

}  // namespace host

using host::Window;

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW hDialogTemplate,
                                       HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam)
{
    if (hDialogTemplate == nullptr || lpDialogFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::unique_ptr<Window> dialog = host::BuildDialog(hDialogTemplate);
    if (!dialog)
        return -1;

    host::Terminal& terminal = host::CurrentTerminal();
    if (!terminal.Open()) {
        fprintf(stderr, "%ls: no terminal to show the dialog on; closing it.\n",
                dialog->text.c_str());
        return IDCANCEL;
    }

    dialog->owner = hWndParent;
    dialog->proc = lpDialogFunc;
    dialog->visible = (dialog->style & WS_VISIBLE) != 0;
    host::g_windows.insert(dialog.get());
    for (auto& control : dialog->controls)
        host::g_windows.insert(control.get());
    host::g_modal.push_back(dialog.get());

    Window* first = host::FirstFocus(*dialog);
    if (host::Send(dialog.get(), WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->Handle() : nullptr),
                   dwInitParam) ||
        !dialog->focus)
        dialog->focus = host::FirstFocus(*dialog);

    INT_PTR result = host::RunModal(terminal, *dialog);
    terminal.Close();

    host::g_modal.pop_back();
    for (auto& control : dialog->controls)
        host::g_windows.erase(control.get());
    host::g_windows.erase(dialog.get());
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Window* dialog = host::Lookup(hDlg);
    if (!dialog || dialog->kind != Window::kDialog) {
        if (dialog)
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    dialog->ended = true;
    dialog->result = nResult;
    host::Report("EndDialog " + std::to_string(nResult));
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Window* dialog = host::Lookup(hDlg);
    if (!dialog)
        return nullptr;
    host::Report("GetDlgItem " + std::to_string(nIDDlgItem));
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

HWND WINAPI GetFocus(void)
{
    if (host::g_modal.empty() || !host::g_modal.back()->focus)
        return nullptr;
    return host::g_modal.back()->focus->Handle();
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return FALSE;
    host::Report("ShowWindow " + host::Name(window) + " " + std::to_string(nCmdShow));
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
    host::Report("SendMessageW " + host::Name(window) + " " + host::MessageName(Msg) + " " +
                 std::to_string(wParam));
    return host::Send(window, Msg, wParam, lParam);
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

BOOL WINAPI SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags)
{
    Window* window = host::Lookup(hWnd);
    if (!window)
        return FALSE;
    host::Report("SetWindowPos " + host::Name(window) + " " + std::to_string(X) + " " +
                 std::to_string(Y));
    RECT& r = window->rect;
    if (!(uFlags & SWP_NOSIZE)) {
        r.right = r.left + cx;
        r.bottom = r.top + cy;
    }
    if (!(uFlags & SWP_NOMOVE)) {
        r.right += X - r.left;
        r.bottom += Y - r.top;
        r.left = X;
        r.top = Y;
    }
    return TRUE;
}

BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT, PVOID pvParam, UINT)
{
    if (uiAction != SPI_GETWORKAREA || !pvParam) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::Terminal& terminal = host::CurrentTerminal();
    *static_cast<RECT*>(pvParam) = {0, 0, terminal.Columns(), terminal.Rows()};
    return TRUE;
}

// An icon is its group's resource data; the terminal doesn't draw it.
HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName)
{
    host::Report("LoadIconW " + (IS_INTRESOURCE(lpIconName)
                                     ? std::to_string(reinterpret_cast<ULONG_PTR>(lpIconName))
                                     : std::string("name")));
    HRSRC info = FindResourceW(hInstance, lpIconName, RT_GROUP_ICON);
    if (!info)
        return nullptr;
    return static_cast<HICON>(LockResource(LoadResource(hInstance, info)));
}
