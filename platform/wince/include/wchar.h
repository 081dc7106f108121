// The programs use no wide-string functions of a C library: the handheld
// build links none. wchar_t itself is the compiler's (2 bytes, -fshort-wchar).
#pragma once

#include <stddef.h>
