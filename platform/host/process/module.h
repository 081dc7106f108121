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

}  // namespace host
