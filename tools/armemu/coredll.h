// COREDLL.dll as the emulated handheld sees it: of the functions Windows CE
// 3.0's COREDLL exports, those our programs import, each by its name and its
// ordinal, served by the host platform's function of the same name over the
// device folder. Nothing CE 3.0 lacks is served (no LockResource). Handles
// and pointers are translated at this edge (the ARM side is 32-bit, strings
// UTF-16 in its memory). The thunks only marshal: what the calls were, the
// host's observer is told by the host's functions (call_lines.h writes it).
#pragma once

#include <vector>

#include "machine.h"

namespace armemu {

// The table of exports, for Machine: the kernel's (coredll.cpp) and USER's.
const std::vector<Export>& CoreDll();

// USER's exports (user.cpp).
extern const std::vector<Export> kUserExports;

}  // namespace armemu
