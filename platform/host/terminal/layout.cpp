// Dialog units map to cells at about x/2 columns and y/11 rows. The template
// may be far wider or taller than its controls; the terminal shows the box
// that holds them.
#include "terminal/layout.h"

#include <algorithm>

namespace host {
namespace {

constexpr LONG kUnitsPerColumn = 2;
constexpr LONG kUnitsPerRow = 11;

// Rounds value / unit to the nearest cell, halves up.
LONG Cells(LONG value, LONG unit)
{
    return value < 0 ? -Cells(-value, unit) : (2 * value + unit) / (2 * unit);
}

}  // namespace

void LayOut(Window& dialog, const DLGTEMPLATE& fixed, const std::vector<DialogUnits>& places)
{
    LONG left = 0, top = 0, right = fixed.cx, bottom = fixed.cy;
    if (!places.empty()) {
        left = top = 0x7FFF;
        right = bottom = 0;
        for (const DialogUnits& u : places) {
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
        const DialogUnits& u = places[i];
        LONG l = 1 + Cells(u.x - left, kUnitsPerColumn);
        LONG t = 1 + Cells(u.y - top, kUnitsPerRow);
        LONG r = 1 + Cells(u.x + u.cx - left, kUnitsPerColumn);
        LONG b = 1 + Cells(u.y + u.cy - top, kUnitsPerRow);
        dialog.controls[i]->rect = {l, t, std::max(r, l + 1), std::max(b, t + 1)};
    }
}

}  // namespace host
