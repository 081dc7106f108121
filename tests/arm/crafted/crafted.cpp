// ARM programs the emulator must stop, one per CRAFTED: each makes one call
// CE 3.0's COREDLL has, then the call the emulator must stop at, with the
// line that names it. Endless is for the device session: it never ends and
// opens no window, calling the system over and over as a program that polls
// does.
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

}  // namespace

extern "C" int WINAPI WinMainCRTStartup(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return CRAFTED();
}
