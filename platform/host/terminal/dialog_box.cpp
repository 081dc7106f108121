// The dialog box: a dialog run modally on the current terminal until
// EndDialog; keys and clicks turn into the commands a dialog gets on the
// handheld.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "terminal/dialog_template.h"
#include "terminal/screen.h"
#include "text.h"
#include "terminal/window.h"

namespace host {
namespace {

std::vector<Window*> g_modal;  // running dialogs, innermost last

void Command(Window& dialog, WORD id, Window* from)
{
    SendToWindow(&dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(from ? from->Handle() : nullptr));
}

// The letter marked with '&', case folded; 0 for none.
char32_t Mnemonic(const std::wstring& caption)
{
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] == L'&') {
            if (caption[i + 1] != L'&')
                return text::Fold(char32_t(caption[i + 1]));
            ++i;
        }
    }
    return 0;
}

Window* ButtonAt(Window& dialog, int column, int row)
{
    // Wide enough for any sum of two rectangles' sides.
    const int64_t x = int64_t(column) - dialog.rect.left, y = int64_t(row) - dialog.rect.top;
    for (auto& control : dialog.controls) {
        const RECT& r = control->rect;
        if (control->visible && control->IsButton() && x >= r.left && x < r.right && y >= r.top &&
            y < r.bottom)
            return control.get();
    }
    return nullptr;
}

// Every running dialog, the outermost first: one opened from another's
// procedure is shown over it, as on the handheld.
void PaintRunning(HWND pressed, Canvas& canvas)
{
    for (Window* each : g_modal)
        PaintDialog(each->Handle(), pressed, canvas);
}

void Press(Terminal& terminal, Window& dialog, Window& button)
{
    dialog.focus = &button;
    Canvas pressed(terminal.Columns(), terminal.Rows());
    Canvas after(terminal.Columns(), terminal.Rows());
    PaintRunning(button.Handle(), pressed);
    PaintRunning(nullptr, after);
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
    const char32_t letter = text::Fold(char32_t(event.key));
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
                SendToWindow(&dialog, WM_CLOSE, 0, 0);
        }
        return;
    }
    if (Window* button = ButtonAt(dialog, event.column, event.row))
        Press(terminal, dialog, *button);
}

// Whether the dialog fits on the terminal; one that fits but lies partly
// off it (placed while the terminal was smaller) is moved onto it.
bool FitOnto(const Terminal& terminal, Window& dialog)
{
    RECT& r = dialog.rect;
    const int64_t columns = terminal.Columns(), rows = terminal.Rows();
    if (int64_t(r.right) - r.left > columns || int64_t(r.bottom) - r.top > rows)
        return false;
    const int64_t dx = r.left < 0 ? -int64_t(r.left) : r.right > columns ? columns - r.right : 0;
    const int64_t dy = r.top < 0 ? -int64_t(r.top) : r.bottom > rows ? rows - r.bottom : 0;
    r = {LONG(r.left + dx), LONG(r.top + dy), LONG(r.right + dx), LONG(r.bottom + dy)};
    return true;
}

// In place of a dialog that doesn't fit, which would be shown cut short and
// answer keys for buttons no one sees: what is wrong, wrapped to the width.
void PaintTooSmall(const Window& dialog, Canvas& canvas)
{
    const std::wstring notice =
        L"This terminal is " + std::to_wstring(canvas.Columns()) + L"x" + std::to_wstring(canvas.Rows()) +
        L"; the dialog \"" + dialog.text + L"\" needs " +
        std::to_wstring(dialog.rect.right - dialog.rect.left) + L"x" +
        std::to_wstring(dialog.rect.bottom - dialog.rect.top) +
        L". Make the terminal larger, or press Esc to close the dialog.";
    const size_t width = size_t(std::max(canvas.Columns(), 1));
    int row = 0;
    for (size_t start = 0; start < notice.size(); ++row) {
        size_t end = std::min(start + width, notice.size());
        if (end < notice.size()) {
            const size_t space = notice.rfind(L' ', end);
            if (space != std::wstring::npos && space > start)
                end = space;
        }
        for (size_t i = start; i < end; ++i)
            canvas.Put(int(i - start), row, notice[i], kLookPlain);
        start = end;
        while (start < notice.size() && notice[start] == L' ')
            ++start;
    }
}

// A dialog while it runs: its windows known, itself the innermost. However
// it ends, by EndDialog or by an error thrown from its procedure (a fault of
// an emulated program), it is taken away again, and the outermost gives the
// terminal back whole.
class Running {
public:
    Running(Terminal& terminal, Window& dialog) : terminal_(terminal), dialog_(dialog)
    {
        AddWindows(dialog_);
        g_modal.push_back(&dialog_);
    }
    ~Running()
    {
        g_modal.pop_back();
        if (g_modal.empty())
            terminal_.Close();
        RemoveWindows(dialog_);
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Terminal& terminal_;
    Window& dialog_;
};

INT_PTR RunModal(Terminal& terminal, Window& dialog)
{
    while (!dialog.ended) {
        Canvas now(terminal.Columns(), terminal.Rows());
        const bool fits = FitOnto(terminal, dialog);
        if (fits)
            PaintRunning(nullptr, now);
        else
            PaintTooSmall(dialog, now);
        terminal.Show(now);

        InputEvent event = terminal.Next();
        if (!fits && event.type != InputEvent::kClosed &&
            !(event.type == InputEvent::kKey && event.key == kKeyEscape))
            continue;
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

HFONT TerminalFont()
{
    static const char font = 0;  // its address is the handle
    return reinterpret_cast<HFONT>(const_cast<char*>(&font));
}

HWND ActiveDialog()
{
    return g_modal.empty() ? nullptr : g_modal.back()->Handle();
}

}  // namespace host

using host::Window;

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW hDialogTemplate,
                                       HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam)
{
    host::ReportUserCall("DialogBoxIndirectParamW", hWndParent, {});
    if (hDialogTemplate == nullptr || lpDialogFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::unique_ptr<Window> dialog = host::ReadDialogTemplate(hDialogTemplate);
    if (!dialog)
        return -1;

    // The outermost dialog opens the terminal; one opened from a dialog's
    // procedure is shown on the same screen, over it.
    host::Terminal& terminal = host::CurrentTerminal();
    if (host::g_modal.empty() && !terminal.Open()) {
        fprintf(stderr, "%s: %s; closing it.\n",
                host::text::Printable(host::text::Utf8FromWide(dialog->text)).c_str(),
                terminal.Unusable().c_str());
        return IDCANCEL;
    }

    dialog->owner = hWndParent;
    dialog->proc = lpDialogFunc;
    dialog->visible = (dialog->style & WS_VISIBLE) != 0;
    host::Running running(terminal, *dialog);

    // As CE's dialog manager does, a template that names a font has it set
    // first: the terminal's one font.
    if (dialog->style & DS_SETFONT)
        host::SendToWindow(dialog.get(), WM_SETFONT, reinterpret_cast<WPARAM>(host::TerminalFont()), FALSE);
    Window* first = host::NextFocus(*dialog, nullptr, true);
    if (host::SendToWindow(dialog.get(), WM_INITDIALOG,
                           reinterpret_cast<WPARAM>(first ? first->Handle() : nullptr), dwInitParam) ||
        !dialog->focus)
        dialog->focus = host::NextFocus(*dialog, nullptr, true);

    return host::RunModal(terminal, *dialog);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Window* dialog = host::FindWindow(hDlg);
    if (!dialog || dialog->kind != Window::kDialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    dialog->ended = true;
    dialog->result = nResult;
    host::ReportUserCall("EndDialog", hDlg, {nResult});
    return TRUE;
}

HWND WINAPI GetFocus(void)
{
    if (host::g_modal.empty() || !host::g_modal.back()->focus)
        return nullptr;
    return host::g_modal.back()->focus->Handle();
}
