// Draws a dialog into a canvas of terminal cells: the caption bar, a frame
// column each side, static texts wrapped in their boxes and buttons as
// solid faces with their text in the middle.
#include <windows.h>

#include "screen.h"
#include "window.h"

namespace host {
namespace {

struct Label {
    std::wstring text;   // without the mnemonic marks
    size_t mnemonic;     // index of the marked letter, or npos
};

Label StripMnemonic(const std::wstring& text)
{
    Label label{L"", std::wstring::npos};
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != L'&' && label.mnemonic == std::wstring::npos)
                label.mnemonic = label.text.size();
        }
        label.text += text[i];
    }
    return label;
}

// Greedy word wrap; a word longer than the line is cut.
std::vector<std::wstring> Wrap(const std::wstring& text, size_t width)
{
    std::vector<std::wstring> lines;
    std::wstring line;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find(L' ', i);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring word = text.substr(i, end - i);
        size_t spaces = 0;
        while (end + spaces < text.size() && text[end + spaces] == L' ')
            ++spaces;
        if (!line.empty() && line.size() + word.size() > width) {
            while (!line.empty() && line.back() == L' ')
                line.pop_back();
            lines.push_back(line);
            line.clear();
        }
        line += word.substr(0, width);
        line.append(spaces, L' ');
        i = end + spaces;
    }
    while (!line.empty() && line.back() == L' ')
        line.pop_back();
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

void PaintStatic(const Window& control, LONG left, LONG top, Canvas& canvas)
{
    LONG width = control.rect.right - control.rect.left;
    LONG height = control.rect.bottom - control.rect.top;
    Label label = StripMnemonic(control.text);
    std::vector<std::wstring> lines = Wrap(label.text, size_t(width));
    for (LONG row = 0; row < height && size_t(row) < lines.size(); ++row)
        for (size_t col = 0; col < lines[row].size(); ++col)
            canvas.Put(left + LONG(col), top + row, lines[row][col], kLookPlain);
}

void PaintButton(const Window& control, bool focused, bool pressed, LONG left, LONG top,
                 Canvas& canvas)
{
    LONG width = control.rect.right - control.rect.left;
    LONG height = control.rect.bottom - control.rect.top;
    unsigned look = kLookButton | (focused ? unsigned(kLookFocus) : 0u) | (pressed ? unsigned(kLookPressed) : 0u);
    for (LONG row = 0; row < height; ++row)
        for (LONG col = 0; col < width; ++col)
            canvas.Put(left + col, top + row, L' ', look);

    Label label = StripMnemonic(control.text);
    LONG textRow = top + (height - 1) / 2;
    LONG length = std::min<LONG>(LONG(label.text.size()), width);
    LONG start = left + (width - length) / 2;
    for (LONG i = 0; i < length; ++i)
        canvas.Put(start + i, textRow, label.text[i],
                   look | (size_t(i) == label.mnemonic ? unsigned(kLookMnemonic) : 0u));
    if (focused && width >= length + 2) {
        canvas.Put(left, textRow, L'>', look);
        canvas.Put(left + width - 1, textRow, L'<', look);
    }
}

}  // namespace

Canvas::Canvas(int columns, int rows)
    : columns_(std::max(columns, 0)), rows_(std::max(rows, 0)),
      cells_(size_t(columns_) * size_t(rows_))
{
}

void Canvas::Put(int column, int row, wchar_t ch, unsigned look)
{
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_)
        return;
    cells_[size_t(row) * columns_ + column] = Cell{ch, look};
}

std::wstring Canvas::Text(int row) const
{
    std::wstring text;
    for (int col = 0; col < columns_; ++col)
        text += At(col, row).ch;
    return text;
}

bool Canvas::operator==(const Canvas& other) const
{
    return columns_ == other.columns_ && rows_ == other.rows_ && cells_ == other.cells_;
}

void PaintDialog(HWND handle, HWND pressed, Canvas& canvas)
{
    const Window* dialog = FindWindow(handle);
    if (!dialog || dialog->kind != Window::kDialog || !dialog->visible)
        return;
    const RECT& r = dialog->rect;

    for (LONG col = r.left; col < r.right; ++col)
        canvas.Put(col, r.top, L' ', kLookCaption);
    for (size_t i = 0; i < dialog->text.size() && LONG(i) + 1 < r.right - r.left; ++i)
        canvas.Put(r.left + 1 + LONG(i), r.top, dialog->text[i], kLookCaption);
    const wchar_t* box = (dialog->exStyle & WS_EX_CAPTIONOKBTN) ? L"[OK]"
                         : (dialog->style & WS_SYSMENU)         ? L"[X]"
                                                                : L"";
    LONG boxLength = LONG(wcslen(box));
    for (LONG i = 0; i < boxLength; ++i)
        canvas.Put(r.right - 1 - boxLength + i, r.top, box[i], kLookCaption | kLookButton);

    for (LONG row = r.top + 1; row < r.bottom; ++row) {
        for (LONG col = r.left; col < r.right; ++col)
            canvas.Put(col, row, L' ', kLookPlain);
        canvas.Put(r.left, row, L'|', kLookFrame);
        canvas.Put(r.right - 1, row, L'|', kLookFrame);
    }

    for (const auto& control : dialog->controls) {
        if (!control->visible)
            continue;
        LONG left = r.left + control->rect.left;
        LONG top = r.top + control->rect.top;
        if (control->kind == Window::kButton)
            PaintButton(*control, control.get() == dialog->focus,
                        control->Handle() == pressed, left, top, canvas);
        else
            PaintStatic(*control, left, top, canvas);
    }
}

}  // namespace host
