// Draws a dialog into a canvas of terminal cells: the caption bar, a frame
// column each side, static texts wrapped in their boxes and buttons as
// solid faces with their text in the middle.
#include <windows.h>

#include <stdint.h>

#include <algorithm>

#include "terminal/screen.h"
#include "terminal/window.h"
#include "text.h"

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

// The rows (or columns) of a span from `start`, `length` long, that fall on
// a canvas `size` long: painting never walks more than the canvas, however
// large a rectangle a program gives a window.
struct Span {
    int64_t first, end;  // offsets into the span
};

Span OnCanvas(int64_t start, int64_t length, int64_t size)
{
    return {std::max<int64_t>(0, -start), std::min<int64_t>(length, size - start)};
}

void PaintStatic(const Window& control, int64_t left, int64_t top, Canvas& canvas)
{
    const int64_t width = int64_t(control.rect.right) - control.rect.left;
    const int64_t height = int64_t(control.rect.bottom) - control.rect.top;
    if (width <= 0 || height <= 0)
        return;
    Label label = StripMnemonic(control.text);
    std::vector<std::wstring> lines = Wrap(label.text, size_t(width));
    for (int64_t row = 0; row < height && size_t(row) < lines.size(); ++row)
        for (size_t col = 0; col < lines[row].size(); ++col)
            canvas.Put(left + int64_t(col), top + row, lines[row][col], kLookPlain);
}

void PaintButton(const Window& control, bool focused, bool pressed, int64_t left, int64_t top,
                 Canvas& canvas)
{
    const int64_t width = int64_t(control.rect.right) - control.rect.left;
    const int64_t height = int64_t(control.rect.bottom) - control.rect.top;
    unsigned look = kLookButton | (focused ? unsigned(kLookFocus) : 0u) | (pressed ? unsigned(kLookPressed) : 0u);
    const Span rows = OnCanvas(top, height, canvas.Rows()), cols = OnCanvas(left, width, canvas.Columns());
    for (int64_t row = rows.first; row < rows.end; ++row)
        for (int64_t col = cols.first; col < cols.end; ++col)
            canvas.Put(left + col, top + row, L' ', look);

    Label label = StripMnemonic(control.text);
    const int64_t textRow = top + (height - 1) / 2;
    const int64_t length = std::max<int64_t>(0, std::min<int64_t>(int64_t(label.text.size()), width));
    const int64_t start = left + (width - length) / 2;
    for (int64_t i = 0; i < length; ++i)
        canvas.Put(start + i, textRow, label.text[size_t(i)],
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

void Canvas::Put(int64_t column, int64_t row, wchar_t ch, unsigned look)
{
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_)
        return;
    // A program's text may hold what the terminal would act on.
    if (host::text::IsControl(char32_t(ch)))
        ch = L'?';
    cells_[size_t(row) * size_t(columns_) + size_t(column)] = Cell{ch, look};
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
    const int64_t width = int64_t(r.right) - r.left, height = int64_t(r.bottom) - r.top;
    const Span rows = OnCanvas(r.top, height, canvas.Rows()), cols = OnCanvas(r.left, width, canvas.Columns());

    for (int64_t col = cols.first; col < cols.end; ++col)
        canvas.Put(r.left + col, r.top, L' ', kLookCaption);
    for (size_t i = 0; i < dialog->text.size() && int64_t(i) + 1 < width; ++i)
        canvas.Put(int64_t(r.left) + 1 + int64_t(i), r.top, dialog->text[i], kLookCaption);
    const wchar_t* box = (dialog->exStyle & WS_EX_CAPTIONOKBTN) ? L"[OK]"
                         : (dialog->style & WS_SYSMENU)         ? L"[X]"
                                                                : L"";
    const int64_t boxLength = int64_t(wcslen(box));
    for (int64_t i = 0; i < boxLength; ++i)
        canvas.Put(int64_t(r.right) - 1 - boxLength + i, r.top, box[i], kLookCaption | kLookButton);

    for (int64_t row = std::max<int64_t>(rows.first, 1); row < rows.end; ++row) {
        for (int64_t col = cols.first; col < cols.end; ++col)
            canvas.Put(r.left + col, r.top + row, L' ', kLookPlain);
        canvas.Put(r.left, r.top + row, L'|', kLookFrame);
        canvas.Put(int64_t(r.right) - 1, r.top + row, L'|', kLookFrame);
    }

    for (const auto& control : dialog->controls) {
        if (!control->visible)
            continue;
        const int64_t left = int64_t(r.left) + control->rect.left;
        const int64_t top = int64_t(r.top) + control->rect.top;
        if (control->kind == Window::kButton)
            PaintButton(*control, control.get() == dialog->focus,
                        control->Handle() == pressed, left, top, canvas);
        else
            PaintStatic(*control, left, top, canvas);
    }
}

}  // namespace host
