// ARM programs of our own, one per CRAFTED: those the emulator must stop
// each make one call CE 3.0's COREDLL has, then the call the emulator must
// stop at, with the line that names it; the others are for the device
// session. Endless never ends and opens no window, calling the system over
// and over as a program that polls does; two more start a program that
// lingers, and linger.
#include <windows.h>

extern "C" {
LPVOID WINAPI Unlisted(HMODULE module);
extern void* __imp_GetModuleHandleW;  // the import's slot, bound to its stub
}

// Each program's entry calls one of these; the others go unused.
namespace {

typedef int (*Code)();

[[maybe_unused]] int ByName()
{
    return LockResource(GetModuleHandleW(NULL)) != NULL;
}

[[maybe_unused]] int ByOrdinal()
{
    return Unlisted(GetModuleHandleW(NULL)) != NULL;
}

// Half a page past a bound import's stub: among the stubs, but none is bound.
[[maybe_unused]] int PastTheImports()
{
    GetModuleHandleW(NULL);
    return reinterpret_cast<Code>(static_cast<char*>(__imp_GetModuleHandleW) + 0x800)();
}

[[maybe_unused]] int Endless()
{
    for (;;)
        GetModuleHandleW(NULL);
}

// Starts \Windows\Linger.exe and ends.
[[maybe_unused]] int StartsOneThatLingers()
{
    PROCESS_INFORMATION process;
    return CreateProcessW(L"\\Windows\\Linger.exe", NULL, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &process) ? 0
                                                                                                          : 1;
}

// Runs for as long as the key HKEY_CURRENT_USER\Software\Zelkoran\Linger
// is there: CE 3.0 gives a program nothing else it could wait on.
[[maybe_unused]] int Lingers()
{
    HKEY key;
    while (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zelkoran\\Linger", 0, KEY_READ, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    return 0;
}

}  // namespace

extern "C" int WINAPI WinMainCRTStartup(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return CRAFTED();
}
