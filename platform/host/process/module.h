// The running program's module: the handle GetModuleHandleW(NULL) gives and
// the resources its build embedded.
#pragma once

#include <stddef.h>

#include <string_view>

namespace host {

// Hands the host the program's compiled .res; the resource file that the
// build generates for a program calls it as the program starts. A program
// that never calls it (the emulator) has no resources of its own.
void SetModuleResources(const unsigned char* bytes, size_t size);

// The .res handed in; empty when there is none.
std::string_view ModuleResources();

// What a reader handed only a pointer may read: from `at` to the end of the
// resource data or the lent span that holds it; empty when none does.
std::string_view KnownBytesFrom(const void* at);

// Lends KnownBytesFrom a span for as long as it lives: a copy the caller
// hands the API by pointer alone (the emulator's copy of an ARM program's
// dialog template).
class LentBytes {
public:
    LentBytes(const void* start, size_t size);
    ~LentBytes();
    LentBytes(const LentBytes&) = delete;
    LentBytes& operator=(const LentBytes&) = delete;
};

}  // namespace host
