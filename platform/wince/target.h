// What differs on the handheld itself: it does not enforce the access a key
// was opened with, CreateProcessW takes no start-up information, and a loaded
// resource is already its data.
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

// A resource's data from what LoadResource returned. CE's LoadResource
// returns the data's address and COREDLL exports no LockResource (the SDK's
// is a macro), so importing it would leave a slot the loader fills with 0.
inline LPVOID ResourceData(HGLOBAL loaded)
{
    return loaded;
}

}  // namespace target
