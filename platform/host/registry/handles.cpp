// The registry's key handles, and the check of their use at exit.
#include "registry/handles.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "registry/registry_debug.h"

namespace host {
namespace {

struct OpenKey {
    std::string path;  // full, with the root, in the stored case
    REGSAM access;     // recorded, not enforced, as on the handheld
};

std::mutex handlesMutex;
std::map<ULONG_PTR, OpenKey> handles;
// Handle values are never given out twice, so that a closed handle stays bad.
constexpr ULONG_PTR kFirstHandle = 0x1000;
ULONG_PTR nextHandle = kFirstHandle;
size_t misuses = 0;

// With CE_HANDLE_CHECK=1 a misused handle is told on stderr as it happens, and
// a process that misused one or leaves one open exits with status 3.
bool HandleCheck()
{
    static const bool on = [] {
        const char* check = getenv("CE_HANDLE_CHECK");
        return check && strcmp(check, "1") == 0;
    }();
    return on;
}

// A handle that is neither a hive nor open; the caller holds handlesMutex.
void Misused(HKEY key, const char* function)
{
    ++misuses;
    if (!HandleCheck())
        return;
    const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
    const bool given = value >= kFirstHandle && value < nextHandle && value % 4 == 0;
    const bool close = strcmp(function, "RegCloseKey") == 0;
    fprintf(stderr, "ce-device: registry key handle %#llx %s (%s)\n", (unsigned long long)value,
            !given ? "was never opened" : close ? "closed twice" : "used after its close",
            function);
}

void CheckAtExit()
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    for (const auto& [value, key] : handles)
        fprintf(stderr, "ce-device: registry key handle %#llx (%s) still open at exit\n",
                (unsigned long long)value, key.path.c_str());
    if (handles.empty() && misuses == 0)
        return;
    fflush(NULL);
    _exit(3);
}

[[maybe_unused]] const bool checkAtExit = HandleCheck() && atexit(CheckAtExit) == 0;

}  // namespace

const char* RootName(HKEY key)
{
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    return nullptr;
}

bool Resolve(HKEY key, std::string& path, const char* function)
{
    if (const char* root = RootName(key)) {
        path = root;
        return true;
    }
    std::lock_guard<std::mutex> lock(handlesMutex);
    auto it = handles.find(reinterpret_cast<ULONG_PTR>(key));
    if (it == handles.end()) {
        Misused(key, function);
        return false;
    }
    path = it->second.path;
    return true;
}

bool HandleRoom()
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    return handles.size() < kMostOpenKeys;
}

HKEY NewHandle(const std::string& path, REGSAM access)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    if (handles.size() >= kMostOpenKeys)
        return NULL;
    const ULONG_PTR value = nextHandle;
    nextHandle += 4;
    handles[value] = {path, access};
    return reinterpret_cast<HKEY>(value);
}

bool CloseKeyHandle(HKEY key)
{
    if (RootName(key))
        return true;
    std::lock_guard<std::mutex> lock(handlesMutex);
    const bool open = handles.erase(reinterpret_cast<ULONG_PTR>(key)) == 1;
    if (!open)
        Misused(key, "RegCloseKey");
    return open;
}

size_t OpenKeyCount()
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    return handles.size();
}

size_t HandleMisuseCount()
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    return misuses;
}

}  // namespace host
