// The registry's debug header: a view of its key handles (handles.cpp) for
// the check at exit (CE_HANDLE_CHECK=1) and for the tests. No part of the
// Windows API: no header of platform/winapi includes it, and only what
// reaches into the host library (host_headers) finds it.
#pragma once

#include <stddef.h>

namespace host {

// Key handles opened and not yet closed, in this process.
size_t OpenKeyCount();

// Calls given a handle that was closed or never opened: closed twice, used
// after its close. With CE_HANDLE_CHECK=1 in the environment each one is told
// on stderr, and a process that had any, or leaves a handle open, exits with
// status 3.
size_t HandleMisuseCount();

}  // namespace host
