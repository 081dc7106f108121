// What differs on the Linux host. Like the handheld, the host registry does
// not enforce the access a key was opened with.
#pragma once

#include <windows.h>

namespace target {

// Access asked for by an open that then sets a value through the same key.
constexpr REGSAM kKeyWriteAccess = KEY_READ;  // 0x20019, as on the handheld

// Start-up information for CreateProcessW: none, as on the handheld.
inline LPSTARTUPINFOW StartupInfo(STARTUPINFOW&)
{
    return NULL;
}

// A resource's data from what LoadResource returned.
inline LPVOID ResourceData(HGLOBAL loaded)
{
    return LockResource(loaded);
}

}  // namespace target
