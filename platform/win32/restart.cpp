// Desktop Windows can't be asked to restart by a settings dialog: the call
// refuses, and the dialog just ends.
#include <pkfuncs.h>

extern "C" BOOL WINAPI KernelIoControl(DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
