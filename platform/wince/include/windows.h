// The handheld's Windows API, as far as the programs use it: the host's
// subset (types, registry, processes, resources, USER) with the handheld's
// sizes, every function imported by name from COREDLL.dll (coredll.def). Where
// the handheld's names differ from the desktop's, they are mapped here.
#pragma once

#include <stddef.h>
#include <stdint.h>

// COREDLL has only the 32-bit window-long functions; the pointer-sized names
// are the desktop's.
#define GetWindowLongPtrW GetWindowLongW
#define SetWindowLongPtrW SetWindowLongW

#ifdef __cplusplus
extern "C" {
#endif

#include "host/types.h"
#include "host/errors.h"
#include "host/registry.h"
#include "host/process.h"
#include "host/resources.h"
#include "host/user.h"

#ifdef __cplusplus
}
#endif

static_assert(sizeof(WCHAR) == 2, "the handheld's strings are UTF-16: build with -fshort-wchar");
static_assert(sizeof(LONG_PTR) == 4 && DWLP_USER == 8, "the handheld is 32-bit");
