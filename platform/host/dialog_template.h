// The dialog template reader: a DLGTEMPLATE and its items, as the resource
// compiler writes them, read into a dialog window with its controls laid out.
#pragma once

#include <windows.h>

#include <memory>

#include "window.h"

namespace host {

// The dialog the template describes, not yet live; null with the last error
// set for the extended form or a control class other than BUTTON or STATIC.
std::unique_ptr<Window> ReadDialogTemplate(LPCDLGTEMPLATEW dialogTemplate);

}  // namespace host
