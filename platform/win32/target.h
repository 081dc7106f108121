// What differs on desktop Windows.
#pragma once

#include <windows.h>

namespace target {

// Desktop Windows enforces the access a key was opened with: a set through a
// key opened with KEY_READ alone fails with ERROR_ACCESS_DENIED.
constexpr REGSAM kKeyWriteAccess = KEY_READ | KEY_SET_VALUE;

// CreateProcessW faults on a null start-up information pointer here.
inline LPSTARTUPINFOW StartupInfo(STARTUPINFOW& info)
{
    info = STARTUPINFOW();
    info.cb = sizeof info;
    return &info;
}

// A resource's data from what LoadResource returned.
inline LPVOID ResourceData(HGLOBAL loaded)
{
    return LockResource(loaded);
}

}  // namespace target
