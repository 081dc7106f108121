// The host platform's resource functions read the running program's embedded
// .res; the emulator has none of its own (an ARM program's resources are in
// its .exe, served by coredll.cpp).
#include <stddef.h>

extern const unsigned char kHostResources[];
extern const size_t kHostResourcesSize;
alignas(4) const unsigned char kHostResources[] = {0};
const size_t kHostResourcesSize = 0;
