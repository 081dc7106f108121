// The running program's module and its resources: the compiled .res its
// build embedded and handed in at start-up (SetModuleResources). A .res is a
// run of entries, each a header (data size, header size, type, name, flags,
// language) and its data, both DWORD-aligned.
#include "process/module.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "le_bytes.h"
#include "text.h"

namespace {

const unsigned char* g_resources = nullptr;
size_t g_resourcesSize = 0;

// What GetModuleHandleW(NULL) returns: only the program itself is a module.
char thisModule;

// Spans lent for the length of a call (host::LentBytes), innermost last.
std::vector<std::string_view> g_lent;

// Whether the type or name at the header's position is `wanted`; the
// position moves past it. False also when it runs past the header.
bool Matches(host::LeBytes& header, LPCWSTR wanted)
{
    if (header.left() >= 4 && header.U16At(header.at()) == 0xFFFF) {
        header.Skip(2);
        WORD ordinal = header.U16();
        return IS_INTRESOURCE(wanted) && ordinal == LOWORD(reinterpret_cast<ULONG_PTR>(wanted));
    }
    std::u16string name = header.Utf16();
    return header.ok() && !IS_INTRESOURCE(wanted) &&
           host::text::SameName(host::text::WideFromUtf16(name), wanted);
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
    host::LeBytes res(g_resources, g_resourcesSize);
    while (res.left() >= 32) {
        const size_t start = res.at();
        ResourceEntry entry{g_resources + start, res.U32(), res.U32()};
        const size_t rest = res.size() - start;
        size_t dataSpace = (size_t(entry.dataSize) + 3) & ~size_t(3);
        if (entry.headerSize < 32 || entry.headerSize > rest || dataSpace > rest - entry.headerSize)
            return;
        if (!visit(entry))
            return;
        res.Seek(start + entry.headerSize + dataSpace);
    }
}

// A DWORD of an entry's header: its data size at 0, its header size at 4.
DWORD HeaderField(HRSRC info, size_t offset)
{
    return host::LeBytes(info, 8).U32At(offset);
}

// `all` from `at` on, when `at` lies in it.
std::string_view From(std::string_view all, const void* at)
{
    const std::less<const void*> before;
    const char* const start = all.data();
    if (before(at, start) || !before(at, start + all.size()))
        return {};
    return all.substr(static_cast<const char*>(at) - start);
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

std::string_view KnownBytesFrom(const void* at)
{
    for (auto lent = g_lent.rbegin(); lent != g_lent.rend(); ++lent)
        if (!From(*lent, at).empty())
            return From(*lent, at);
    std::string_view found;
    ForEachEntry([&](const ResourceEntry& entry) {
        found = From({reinterpret_cast<const char*>(entry.header) + entry.headerSize, entry.dataSize}, at);
        return found.empty();
    });
    return found;
}

LentBytes::LentBytes(const void* start, size_t size)
{
    g_lent.emplace_back(static_cast<const char*>(start), size);
}

LentBytes::~LentBytes()
{
    g_lent.pop_back();
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
        host::LeBytes header(entry.header, entry.headerSize);
        header.Seek(8);
        if (!Matches(header, lpType))
            return header.ok();
        typeSeen = true;
        if (!Matches(header, lpName))
            return header.ok();
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
    return reinterpret_cast<BYTE*>(hResInfo) + HeaderField(hResInfo, 4);
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
    return HeaderField(hResInfo, 0);
}
