// A debug view of the host registry's key handles, used at exit with
// CE_HANDLE_CHECK=1 and by the tests. Not part of the Windows API subset.
#pragma once

#include <stddef.h>

#include "observer.h"  // SaveStep

namespace host {

// Key handles opened and not yet closed, in this process.
size_t OpenKeyCount();

// Calls given a handle that was closed or never opened: closed twice, used
// after its close. With CE_HANDLE_CHECK=1 in the environment each one is told
// on stderr, and a process that had any, or leaves a handle open, exits with
// status 3.
size_t HandleMisuseCount();

}  // namespace host
