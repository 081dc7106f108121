// Layout: a dialog's places in dialog units, as its template gives them,
// turned into terminal cells.
#pragma once

#include <windows.h>

#include <vector>

#include "terminal/window.h"

namespace host {

struct DialogUnits {
    short x, y, cx, cy;
};

// Places the dialog on the terminal and each control within it, in cells:
// the box that holds the controls, a caption bar above and a frame column
// each side. `places` are the controls', in the dialog's order.
void LayOut(Window& dialog, const DLGTEMPLATE& fixed, const std::vector<DialogUnits>& places);

}  // namespace host
