// The dialog template reader: a DLGTEMPLATE and its items, as the resource
// compiler writes them, read into a dialog window with its controls laid out.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "terminal/window.h"

namespace host {

// A resource's name, type or text: a string, or an ordinal (not zero).
struct NameOrOrdinal {
    WORD ordinal = 0;
    std::wstring text;
};

struct DialogItem {
    DLGITEMTEMPLATE fixed;  // style, place in dialog units, id
    NameOrOrdinal className;  // 0x0080 a button, 0x0082 a static
    NameOrOrdinal text;
    WORD extra = 0;  // bytes of creation data, skipped
};

// A DLGTEMPLATE and its items, as written, in the order written.
struct DialogTemplate {
    DLGTEMPLATE fixed;
    NameOrOrdinal menu;
    NameOrOrdinal className;
    std::wstring caption;
    WORD points = 0;  // the font, with DS_SETFONT
    std::wstring face;
    std::vector<DialogItem> items;
    size_t size = 0;  // the bytes read, to the end of the last item
};

// False, with the last error set, for the extended form or a control class
// other than BUTTON or STATIC (read no further than that control's class).
bool ParseDialogTemplate(LPCDLGTEMPLATEW dialogTemplate, DialogTemplate& parsed);

// The dialog the template describes, not yet live; null with the last error
// set for the extended form or a control class other than BUTTON or STATIC.
std::unique_ptr<Window> ReadDialogTemplate(LPCDLGTEMPLATEW dialogTemplate);

}  // namespace host
