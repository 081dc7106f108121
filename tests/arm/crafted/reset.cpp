// A handheld program of our own that asks for a restart as soon as it
// starts, as a start-up program may: on a device that restarts, the call
// doesn't return; where it does, the program ends with 1.
#include <windows.h>

#include <pkfuncs.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, NULL);
    return 1;
}
