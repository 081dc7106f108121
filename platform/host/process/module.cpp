// The running program's module and its resources: the compiled .res its
// build embedded and handed in at start-up (SetModuleResources). A .res is a
// run of entries, each a header (data size, header size, type, name, flags,
// language) and its data, both DWORD-aligned.
#include "process/module.h"

#include <windows.h>

#include <string>

#include "text.h"

namespace {

const unsigned char* g_resources = nullptr;
size_t g_resourcesSize = 0;

// What GetModuleHandleW(NULL) returns: only the program itself is a module.
char thisModule;

DWORD ReadDword(const BYTE* at)
{
    return DWORD(at[0]) | DWORD(at[1]) << 8 | DWORD(at[2]) << 16 | DWORD(at[3]) << 24;
}

WORD ReadWord(const BYTE* at)
{
    return WORD(at[0] | at[1] << 8);
}

// Whether the type or name at `at` (inside a header ending at `end`) is
// `wanted`; `at` moves past it. False also when it runs past the header.
bool Matches(const BYTE*& at, const BYTE* end, LPCWSTR wanted, bool& valid)
{
    if (end - at >= 4 && ReadWord(at) == 0xFFFF) {
        WORD ordinal = ReadWord(at + 2);
        at += 4;
        return IS_INTRESOURCE(wanted) && ordinal == LOWORD(reinterpret_cast<ULONG_PTR>(wanted));
    }
    std::u16string name;
    for (;;) {
        if (end - at < 2) {
            valid = false;
            return false;
        }
        WORD unit = ReadWord(at);
        at += 2;
        if (unit == 0)
            break;
        name += char16_t(unit);
    }
    return !IS_INTRESOURCE(wanted) && host::text::SameName(host::text::WideFromUtf16(name), wanted);
}

struct ResourceEntry {
    const BYTE* header;
    DWORD dataSize;
    DWORD headerSize;
};

// Walks the entries; stops at the first malformed one.
template <typename Visit>
void ForEachEntry(Visit visit)
{
    const BYTE* at = g_resources;
    const BYTE* end = g_resources + g_resourcesSize;
    while (end - at >= 32) {
        ResourceEntry entry{at, ReadDword(at), ReadDword(at + 4)};
        size_t dataSpace = (size_t(entry.dataSize) + 3) & ~size_t(3);
        if (entry.headerSize < 32 || entry.headerSize > size_t(end - at) ||
            dataSpace > size_t(end - at) - entry.headerSize)
            return;
        if (!visit(entry))
            return;
        at += entry.headerSize + dataSpace;
    }
}

}  // namespace

namespace host {

void SetModuleResources(const unsigned char* bytes, size_t size)
{
    g_resources = bytes;
    g_resourcesSize = size;
}

std::string_view ModuleResources()
{
    return {reinterpret_cast<const char*>(g_resources), g_resourcesSize};
}

}  // namespace host

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (lpModuleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return reinterpret_cast<HMODULE>(&thisModule);
}

HRSRC WINAPI FindResourceW(HMODULE, LPCWSTR lpName, LPCWSTR lpType)
{
    const BYTE* found = nullptr;
    bool typeSeen = false;
    ForEachEntry([&](const ResourceEntry& entry) {
        const BYTE* at = entry.header + 8;
        const BYTE* end = entry.header + entry.headerSize;
        bool valid = true;
        if (!Matches(at, end, lpType, valid))
            return valid;
        typeSeen = true;
        if (!Matches(at, end, lpName, valid))
            return valid;
        found = entry.header;
        return false;
    });
    if (!found)
        SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return reinterpret_cast<HRSRC>(const_cast<BYTE*>(found));
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo)
{
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    BYTE* header = reinterpret_cast<BYTE*>(hResInfo);
    return header + ReadDword(header + 4);
}

LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo)
{
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return ReadDword(reinterpret_cast<const BYTE*>(hResInfo));
}
