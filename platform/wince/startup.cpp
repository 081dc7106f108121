// The programs' start-up on the handheld, in place of a C runtime: the entry
// runs the static constructors, calls wWinMain, then the destructors that the
// constructors registered, last first.
#include <windows.h>

// The toolchain's flags (cmake/wince-arm.cmake) give the handheld's sizes.
static_assert(sizeof(WCHAR) == 2, "the handheld's strings are UTF-16: build with -fshort-wchar");
static_assert(sizeof(LONG_PTR) == 4 && DWLP_USER == 8, "the handheld is 32-bit");

extern "C" {

// The linker gathers every .ctors entry between a -1 and a 0.
typedef void (*Constructor)();
extern Constructor __CTOR_LIST__[];

void* __dso_handle = &__dso_handle;

namespace {
struct Destructor {
    void (*function)(void*);
    void* object;
};
// The programs have one or two global objects with destructors.
Destructor g_destructors[8];
unsigned g_destructorCount;
}  // namespace

int __aeabi_atexit(void* object, void (*destructor)(void*), void*)
{
    if (g_destructorCount == sizeof g_destructors / sizeof g_destructors[0])
        return -1;
    g_destructors[g_destructorCount++] = {destructor, object};
    return 0;
}

void __cxa_pure_virtual()
{
    for (;;) {
    }
}

int WINAPI WinMainCRTStartup(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine,
                             int showCommand)
{
    Constructor* last = __CTOR_LIST__ + 1;
    while (*last)
        ++last;
    // Run in the order the linker laid them out, as the objects were given.
    for (Constructor* each = __CTOR_LIST__ + 1; each != last; ++each)
        (*each)();

    int result = wWinMain(instance, previous, commandLine, showCommand);

    while (g_destructorCount) {
        const Destructor& last = g_destructors[--g_destructorCount];
        last.function(last.object);
    }
    return result;
}

}  // extern "C"
