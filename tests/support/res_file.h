// Tests on either target: a compiled resource file (.res) read back entry
// by entry, with the little-endian reader the tests read resources with, and
// a resource as the program itself finds it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "le_bytes.h"

// A T at `offset`, as the bytes hold it (little-endian, as the test hosts
// are); zero past the end.
template <typename T>
T At(const std::vector<BYTE>& bytes, size_t offset)
{
    T value{};
    const std::string_view held = host::LeBytes(bytes.data(), bytes.size()).TakeAt(offset, sizeof value);
    if (!held.empty())
        std::memcpy(&value, held.data(), sizeof value);
    return value;
}

// A resource of this program (or of `module`) as FindResourceW gives it;
// empty when missing.
inline std::vector<BYTE> Resource(LPCWSTR type, WORD id, HMODULE module = GetModuleHandleW(NULL))
{
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info)
        return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    return std::vector<BYTE>(data, data + SizeofResource(module, info));
}

// One entry of a .res: a header (data and header sizes, type, name, its
// flags and language), then the data, each entry 4-byte aligned.
struct ResEntry {
    std::u16string type;  // "#<n>" for a number, as for a name
    std::u16string name;
    WORD language = 0;
    std::vector<BYTE> data;
};

// A type or name at the position, which moves past it: "#<n>" for an ordinal.
inline std::u16string ResName(host::LeBytes& res)
{
    if (res.U16At(res.at()) == 0xFFFF) {
        res.Skip(2);
        const std::string number = "#" + std::to_string(res.U16());
        return std::u16string(number.begin(), number.end());
    }
    return res.Utf16();
}

// Every entry, the empty one a .res starts with too; an entry running past
// the end fails the test.
inline std::vector<ResEntry> ReadRes(const BYTE* data, size_t size)
{
    host::LeBytes res(data, size);
    std::vector<ResEntry> entries;
    while (res.ok() && res.left() >= 32) {
        const size_t at = res.at(), dataSize = res.U32(), headerSize = res.U32();
        ResEntry entry;
        entry.type = ResName(res);
        entry.name = ResName(res);
        res.Seek((res.at() + 3) & ~size_t(3));  // then the data version and the memory flags
        res.Skip(6);
        entry.language = res.U16();
        EXPECT_TRUE(res.ok() && res.at() <= at + headerSize) << "a header runs past its size";
        EXPECT_LE(headerSize + dataSize, size - at);
        if (headerSize + dataSize > size - at)
            break;
        const std::string_view bytes = res.TakeAt(at + headerSize, dataSize);
        entry.data.assign(bytes.begin(), bytes.end());
        entries.push_back(entry);
        res.Seek(at + headerSize + ((dataSize + 3) & ~size_t(3)));
    }
    EXPECT_EQ(res.at(), size);
    return entries;
}
