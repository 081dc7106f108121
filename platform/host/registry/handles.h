// The registry's key handles: a handle names a key by its path. A hive
// (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE) is its own handle; the others are
// given out by NewHandle, never twice, so that a closed handle stays bad.
#pragma once

#include <stddef.h>

#include <string>

#include <windows.h>

namespace host {

// The hive's name, or null when `key` is no hive.
const char* RootName(HKEY key);

// The path of the key `key` names. A handle that is neither a hive nor open
// is a misuse of `function`'s, counted (registry_debug.h): false.
bool Resolve(HKEY key, std::string& path, const char* function);

// Keys a process may hold open at once, as a handheld's handle table bounds
// them; past it an open fails with ERROR_NOT_ENOUGH_MEMORY.
constexpr size_t kMostOpenKeys = 1024;

// Whether one more key may be opened.
bool HandleRoom();

// A new handle for the key at `path`, opened with `access`; null when
// kMostOpenKeys are open.
HKEY NewHandle(const std::string& path, REGSAM access);

// Closes the handle `key` (a hive: nothing to close); false, counted as a
// misuse, when it was not open.
bool CloseKeyHandle(HKEY key);

}  // namespace host
