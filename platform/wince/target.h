// What differs on the handheld itself: it does not enforce the access a key
// was opened with, and CreateProcessW takes no start-up information.
#pragma once

#include <windows.h>

namespace target {

// Access asked for by an open that then sets a value through the same key.
constexpr REGSAM kKeyWriteAccess = KEY_READ;  // 0x20019

// Start-up information for CreateProcessW: none; the handheld ignores it.
inline LPSTARTUPINFOW StartupInfo(STARTUPINFOW&)
{
    return NULL;
}

}  // namespace target
