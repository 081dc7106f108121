// COREDLL.dll as the emulated handheld sees it: of the functions Windows CE
// 3.0's COREDLL exports, those our programs import, each by its name and its
// ordinal, served by the host platform's function of the same name over the
// device folder. Nothing CE 3.0 lacks is served (no LockResource). Handles
// and pointers are translated at this edge (the ARM side is 32-bit, strings
// UTF-16 in its memory).
//
// Every call is also written to the trace, one line each: the registry calls
// as the host's recorded calls show them ("RegOpenKeyExW(HKEY_CURRENT_USER,
// "SOFTWARE\Zelkoran", 0, 0x20019) = 0 -> h1"), the others as their name and
// arguments in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "machine.h"

namespace armemu {

// The table of exports, for Machine: the kernel's here, USER's in user.cpp.
const std::vector<Export>& CoreDll();

// Receives each traced line; none by default.
void SetTrace(std::function<void(const std::string&)> trace);

}  // namespace armemu
