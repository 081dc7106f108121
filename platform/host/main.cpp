// Start-up glue of the host programs: the handheld passes no arguments and
// neither program reads any, so the entry gets an empty command line.
#include <windows.h>

#include "device/device.h"

int main()
{
    host::PrepareDevice();
    WCHAR commandLine[] = L"";
    return wWinMain(GetModuleHandleW(NULL), NULL, commandLine, 1 /* SW_SHOWNORMAL */);
}
